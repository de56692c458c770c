// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the input device the video driver makes for a camera's button, in an emulated machine's
// sysfs.
#include "CameraInputDevice.h"
#include "CameraOnPort42.h"
#include "EmulatedMachine.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace quillora;
using listener::CameraButtonLookup;
using test::CameraOnPort42;

namespace {

// Found below the camera's interface (driver-bound) or elsewhere by its phys; nothing without KEY_CAMERA,
// under another interface, with another camera's phys, at another location, or for another product.
TEST(CameraButtonLookup, TheButtonIsFoundOnlyForTheCameraAtTheLocation)
{
    test::EmulatedMachine machine;
    const CameraOnPort42 camera{0x037a, "Quillora 890", {}, false, {}, -1};
    ASSERT_TRUE(machine.add(camera.describe()));
    ASSERT_TRUE(machine.add(std::string("P: ") + CameraOnPort42::kDevice
        + "/1-4.2:1.1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=01\\n\n"));
    const std::string interface = CameraOnPort42::kInterface, phys = "usb-0000:00:14.0-4.2/button";
    const auto input = [&](const std::string &path, int number, const std::string &itsPhys, const char *keys) {
        ASSERT_TRUE(machine.add(CameraOnPort42::inputDevice(path, number, itsPhys, keys)));
    };
    const auto lookup = [&](std::uint32_t location = test::kCameraLocation, std::uint16_t product = 0x037a) {
        return listener::findCameraButton({location, 0x090c, product, 0}, machine.sysRoot(), "/dev");
    };

    input("/devices/virtual/input/input9", 9, phys, CameraOnPort42::kCameraKey);
    CameraButtonLookup found = lookup();
    EXPECT_EQ(found.eventNode, "/dev/input/event9");
    EXPECT_FALSE(found.driverBound);

    machine.remove("/devices/virtual/input/input9");
    input(interface + "/input/input6", 6, phys, "0 0 0 0");
    input(std::string(CameraOnPort42::kDevice) + "/1-4.2:1.1/input/input8", 8, "x", CameraOnPort42::kCameraKey);
    input("/devices/virtual/input/input10", 10, "usb-0000:00:14.0-4.3/button", CameraOnPort42::kCameraKey);
    found = lookup();
    EXPECT_TRUE(found.eventNode.empty());
    EXPECT_NE(found.why.find("no input device"), std::string::npos);
    EXPECT_TRUE(lookup(0x01430000).usbDeviceDir.empty());
    EXPECT_TRUE(lookup(test::kCameraLocation, 0xb371).usbDeviceDir.empty());

    std::filesystem::create_symlink(
        "../../../../../../../bus/usb/drivers/uvcvideo", machine.sysRoot() + interface + "/driver");
    input(interface + "/input/input7", 7, "something-else", CameraOnPort42::kCameraKey);
    found = lookup();
    EXPECT_EQ(found.eventNode, "/dev/input/event7");
    EXPECT_TRUE(found.driverBound);
}

} // namespace
