// SPDX-License-Identifier: GPL-3.0-or-later
#include "EmulatedMachine.h"

#include <gtest/gtest.h>

#include <umockdev.h>

namespace quillora::test {

EmulatedMachine::EmulatedMachine()
    : m_testbed(umockdev_testbed_new())
{
}

EmulatedMachine::~EmulatedMachine()
{
    g_object_unref(m_testbed);
}

bool EmulatedMachine::add(const std::string &description)
{
    GError *error = nullptr;
    const bool added = umockdev_testbed_add_from_string(m_testbed, description.c_str(), &error);
    EXPECT_TRUE(added) << (error ? error->message : "") << "\n" << description;
    g_clear_error(&error);
    return added;
}

void EmulatedMachine::remove(const std::string &devicePath)
{
    // umockdev builds the event from the device's sysfs entry, so the event goes first; only a
    // program under its preload has the socket it goes to.
    const std::string sysPath = "/sys" + devicePath;
    if (umockdev_in_mock_environment())
        umockdev_testbed_uevent(m_testbed, sysPath.c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, sysPath.c_str());
}

std::string EmulatedMachine::sysRoot() const
{
    gchar *dir = umockdev_testbed_get_sys_dir(m_testbed);
    std::string result = dir;
    g_free(dir);
    return result;
}

std::string EmulatedMachine::devRoot() const
{
    gchar *dir = umockdev_testbed_get_root_dir(m_testbed);
    std::string result = std::string(dir) + "/dev";
    g_free(dir);
    return result;
}

} // namespace quillora::test
