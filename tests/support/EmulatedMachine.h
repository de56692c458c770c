// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A machine's sysfs and /dev laid out by umockdev's test bed in a temporary folder: read there
// directly (as a sysfs root), or, in a program run under umockdev's preload, seen in place of the
// real ones, with the uevents udev's monitor hears.
#include <string>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace quillora::test {

class EmulatedMachine {
public:
    EmulatedMachine();
    ~EmulatedMachine();
    EmulatedMachine(const EmulatedMachine &) = delete;
    EmulatedMachine &operator=(const EmulatedMachine &) = delete;

    // Adds the devices of umockdev's description; false (and a test failure) when it cannot.
    bool add(const std::string &description);
    // The device at `devicePath` (under /sys) leaves: its remove uevent, then its tree.
    void remove(const std::string &devicePath);
    // The roots to read it by: "<folder>/sys" and "<folder>/dev".
    std::string sysRoot() const;
    std::string devRoot() const;
    UMockdevTestbed *testbed() const { return m_testbed; }

private:
    UMockdevTestbed *m_testbed;
};

} // namespace quillora::test
