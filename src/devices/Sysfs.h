// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small sysfs attributes and directories, read with plain system calls, so that an emulated
// /sys (umockdev's, or a fixture tree) is read the same way as the real one. The one reader of
// sysfs in the program: the camera record, and through it capture, USB and listener, use it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillora::devices {

// The attribute's text without the blanks, line feeds and NULs around it; nothing when it cannot
// be read or is longer than a page (no attribute of ours is).
std::optional<std::string> readSysfsAttribute(const std::string &path);
// The same, as an unsigned number written in `base` digits and nothing else.
std::optional<unsigned> readSysfsUnsigned(const std::string &path, int base = 10);
// The value of KEY in a `uevent` file ("KEY=value" lines); empty when absent.
std::string ueventValue(const std::string &ueventPath, const std::string &key);

// The path with every symbolic link resolved, so that a directory reached two ways compares
// equal; empty when it does not resolve.
std::string canonicalPath(const std::string &path);
// The names in a directory, sorted, so that every walk makes the same choice; broken links are
// listed too. Empty when the directory cannot be read.
std::vector<std::string> directoryEntries(const std::string &dir);

} // namespace quillora::devices

// The USB host reads a device's product name with the same reader.
namespace quillora::usb {
using devices::readSysfsAttribute;
} // namespace quillora::usb
