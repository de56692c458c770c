// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The focus sequence as it reaches the wire: the SETUP packets of its three control requests,
// and each request's whole URB (SETUP and data stage) as usbfs takes it.
#include <array>
#include <cstdint>
#include <vector>

namespace quillora::test {

using SetupPacket = std::array<std::uint8_t, 8>;
inline constexpr SetupPacket kRegisterWrite8{0x41, 0x00, 0x08, 0x00, 0x00, 0x3F, 0x00, 0x00};
inline constexpr SetupPacket kRegisterWrite3{0x41, 0x00, 0x03, 0x00, 0x00, 0x3F, 0x00, 0x00};
inline constexpr SetupPacket kAutoFocusOn{0x21, 0x01, 0x00, 0x08, 0x00, 0x01, 0x01, 0x00};

inline std::vector<std::vector<std::uint8_t>> focusUrbs(bool withAutoFocus = true)
{
    std::vector<std::vector<std::uint8_t>> urbs{
        {kRegisterWrite8.begin(), kRegisterWrite8.end()}, {kRegisterWrite3.begin(), kRegisterWrite3.end()}};
    if (withAutoFocus) {
        urbs.emplace_back(kAutoFocusOn.begin(), kAutoFocusOn.end());
        urbs.back().push_back(0x01);
    }
    return urbs;
}

} // namespace quillora::test
