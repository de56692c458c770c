// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the input device the video driver makes for a camera's button, in a sysfs tree laid out as the kernel's.
#include "CameraInputDevice.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

using namespace quillora::listener;
namespace fs = std::filesystem;

namespace {

constexpr const char *kCameraKey = "100000 0 0 0"; // KEY_CAMERA (212): bit 20 of the fourth word from the end

// A camera at bus 1, ports 4.2, behind host controller 0000:00:14.0.
class SysfsTree : public ::testing::Test {
protected:
    QTemporaryDir dir;
    fs::path sys = fs::path(dir.path().toStdString()) / "sys";
    fs::path camera = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2", interface = camera / "1-4.2:1.0";

    void SetUp() override
    {
        write(camera / "../..", {{"busnum", "1"}, {"devpath", "0"}}); // the root hub
        link(sys / "bus/usb/devices/usb1", camera.parent_path().parent_path());
        write(camera, {{"busnum", "1"}, {"devpath", "4.2"}, {"idVendor", "090c"}, {"idProduct", "037a"}});
        write(interface, {{"bInterfaceNumber", "00"}});
        write(camera / "1-4.2:1.1", {{"bInterfaceNumber", "01"}});
        link(sys / "bus/usb/devices/1-4.2", camera);
        link(sys / "bus/usb/devices/1-4.2:1.0", interface);
    }
    static void write(const fs::path &path, std::initializer_list<std::pair<const char *, const char *>> files)
    {
        quillora::test::writeSysfsFiles(path, files);
    }
    static void link(const fs::path &from, const fs::path &to) { quillora::test::linkSysfs(from, to); }
    // An input device at `path` with an event node, listed in class/input.
    void input(const fs::path &path, const char *phys, const char *keys, const char *event)
    {
        write(path, {{"phys", phys}, {"capabilities/key", keys}, {"name", "UVC Camera (090c:037a)"}});
        write(path / event, {{"dev", "13:71"}});
        link(sys / "class/input" / path.filename(), path);
    }
    CameraButtonLookup lookup(std::uint32_t location = 0x01420000, std::uint16_t product = 0x037a)
    {
        return findCameraButton({location, 0x090c, product, 0}, sys.string(), "/dev");
    }
};

// Found below the camera's interface (driver-bound) or elsewhere by its phys; nothing without KEY_CAMERA,
// under another interface, with another camera's phys, at another location, or for another product.
TEST_F(SysfsTree, TheButtonIsFoundOnlyForTheCameraAtTheLocation)
{
    input(sys / "devices/virtual/input/input9", "usb-0000:00:14.0-4.2/button", kCameraKey, "event12");
    auto found = lookup();
    EXPECT_EQ(found.eventNode, "/dev/input/event12");
    EXPECT_FALSE(found.driverBound);

    fs::remove_all(sys / "class/input");
    input(interface / "input/input6", "usb-0000:00:14.0-4.2/button", "0 0 0 0", "event6");
    input(camera / "1-4.2:1.1/input/input8", "x", kCameraKey, "event8");
    input(sys / "devices/virtual/input/input10", "usb-0000:00:14.0-4.3/button", kCameraKey, "event10");
    found = lookup();
    EXPECT_TRUE(found.eventNode.empty());
    EXPECT_NE(found.why.find("no input device"), std::string::npos);
    EXPECT_TRUE(lookup(0x01430000).usbDeviceDir.empty());
    EXPECT_TRUE(lookup(0x01420000, 0xb371).usbDeviceDir.empty());

    link(interface / "driver", sys / "bus/usb/drivers/uvcvideo");
    input(interface / "input/input7", "something-else", kCameraKey, "event7");
    found = lookup();
    EXPECT_EQ(found.eventNode, "/dev/input/event7");
    EXPECT_TRUE(found.driverBound);
}

} // namespace
