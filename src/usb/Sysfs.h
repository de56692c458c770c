// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small sysfs attributes, read with plain system calls (so that an emulated /sys, as in the
// tests, is read the same way as the real one).
#include <optional>
#include <string>

namespace quillora::usb {

// The attribute's text without its trailing line feed; nothing when it cannot be read.
std::optional<std::string> readSysfsAttribute(const std::string &path);
// The same, as an unsigned decimal number.
std::optional<unsigned> readSysfsUnsigned(const std::string &path);

} // namespace quillora::usb
