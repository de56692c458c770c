// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The USB location ID of a device: the bus number in the top byte, then one nibble per hub
// port, outermost first, at most six ports (bus 1, ports 4.2 gives 0x01420000). The camera record
// (from sysfs) and the USB host (from libusb) both form it here, so the two always meet.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace quillora::devices {

constexpr std::size_t kMaxLocationPorts = 6;

// Nothing when the chain cannot be encoded: a bus above 255, a port of 0 or above 15, or more
// than six ports.
inline std::optional<std::uint32_t> encodeLocationId(unsigned bus, std::span<const std::uint8_t> ports)
{
    if (bus > 0xFF || ports.size() > kMaxLocationPorts)
        return std::nullopt;
    std::uint32_t id = std::uint32_t(bus) << 24;
    int shift = 20;
    for (std::uint8_t port : ports) {
        if (port == 0 || port > 0xF)
            return std::nullopt;
        id |= std::uint32_t(port) << shift;
        shift -= 4;
    }
    return id;
}

// The same from sysfs: `busnum` and `devpath` ("4.2"; "0" is the root hub itself).
inline std::optional<std::uint32_t> locationIdFromDevpath(unsigned bus, std::string_view devpath)
{
    std::vector<std::uint8_t> ports;
    if (devpath != "0") {
        unsigned value = 0;
        bool digits = false;
        for (std::size_t i = 0; i <= devpath.size(); ++i) {
            if (i == devpath.size() || devpath[i] == '.') {
                if (!digits || value > 0xFF)
                    return std::nullopt;
                ports.push_back(std::uint8_t(value));
                value = 0;
                digits = false;
            } else if (devpath[i] >= '0' && devpath[i] <= '9') {
                value = value * 10 + unsigned(devpath[i] - '0');
                digits = true;
                if (value > 0xFF)
                    return std::nullopt;
            } else {
                return std::nullopt;
            }
        }
    }
    return encodeLocationId(bus, ports);
}

// The location ID a camera's unique identifier carries: up to eight hex digits after "0x"
// ("0x01420000090c037a" gives 0x01420000), read up to the first character that is no hex digit.
// 0, which is no location (there is no bus 0), for an identifier that does not start with "0x".
inline std::uint32_t locationIdFromUniqueId(std::u16string_view uniqueId)
{
    if (uniqueId.substr(0, 2) != u"0x")
        return 0;
    std::uint32_t value = 0;
    for (std::size_t i = 2; i < uniqueId.size() && i < 10; ++i) {
        const char16_t c = uniqueId[i];
        std::uint32_t digit = 0;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            break;
        value = (value << 4) | digit;
    }
    return value;
}

} // namespace quillora::devices

// The USB host forms the location of each device it lists with the same rule.
namespace quillora::usb {
using devices::encodeLocationId;
} // namespace quillora::usb
