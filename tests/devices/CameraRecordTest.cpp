// SPDX-License-Identifier: GPL-3.0-or-later
// One record per camera: the camera list resolves it, and the USB host's video driver road and
// the listener take the node and the button's input device from that record; and the button's
// input device found afresh. In an emulated machine's sysfs, laid out as the kernel's.
#include "AttachedCameras.h"
#include "CameraInputDevice.h"
#include "SysfsCamera.h"
#include "VideoDriverRoad.h"

#include "CameraOnPort42.h"
#include "EmulatedMachine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace quillora;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kLocation = test::kCameraLocation;

// A Quillora 890 camera at bus 1, ports 4.2, bound to its video driver, with a picture node, a
// metadata node and the driver's input device for its button, in an emulated machine's sysfs.
class CameraTree : public ::testing::Test {
protected:
    test::EmulatedMachine machine;
    test::CameraOnPort42 camera{0x037a, "Quillora 890", {}, true, {0, 1}, 5};
    devices::SysfsRoots roots{machine.sysRoot(), machine.devRoot()};
    fs::path device = machine.sysRoot() + test::CameraOnPort42::kDevice;

    void SetUp() override { ASSERT_TRUE(machine.add(camera.describe())); }
    // The driver lets go (the camera is pulled out) and comes back with nodes video<first> and
    // video<first + 1> and input device input<input>.
    void unplug()
    {
        for (int node : camera.videoNodes)
            machine.remove(std::string(test::CameraOnPort42::kInterface) + "/video4linux/video" + std::to_string(node));
        if (camera.button >= 0)
            machine.remove(
                std::string(test::CameraOnPort42::kInterface) + "/input/input" + std::to_string(camera.button));
    }
    void plug(int first, int input)
    {
        camera.videoNodes = {first, first + 1};
        camera.button = input;
        ASSERT_TRUE(machine.add(camera.describeDriverDevices()));
    }
    std::vector<capture::DeviceDescription> list()
    {
        return capture::listSysfsCameras(QString::fromStdString(roots.sys), QString::fromStdString(roots.dev),
            [](const devices::VideoNode &, QString *) { return std::optional<capture::NodeCapabilities>(); });
    }
    static std::string names(const devices::CameraRecord &record)
    {
        std::string out;
        for (const auto &node : record.videoNodes)
            out += node.name + " ";
        return out + (record.button ? record.button->eventNode.substr(record.button->eventNode.rfind('/') + 1) : "-");
    }
};

// What the camera list resolved from the node is what the USB side resolves by location, and it
// is the record both sides are served from: a change the kernel would not make while the camera
// stays (its product text) is not read again.
TEST_F(CameraTree, TheListedRecordServesTheVideoDriverRoadAndTheButton)
{
    const auto cameras = list();
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0].uniqueID.toStdString(), "0x01420000090c037a");

    const auto fromNode
        = devices::resolveCamera(roots, devices::listVideoNodes(roots).front(), devices::listVideoNodes(roots));
    const auto byLocation = devices::resolveCameraAt(roots, kLocation);
    ASSERT_TRUE(byLocation);
    for (const auto *record : {&fromNode, &*byLocation}) {
        EXPECT_EQ(names(*record), "video0 video1 event5");
        EXPECT_EQ(record->usbDeviceDir, fs::canonical(device).string());
        EXPECT_EQ(record->controlInterfaceDir, fs::canonical(device / "1-4.2:1.0").string());
        EXPECT_EQ(record->locationId, kLocation);
        EXPECT_EQ(record->productName, "Quillora 890");
    }

    std::ofstream(device / "product") << "Renamed\n";
    const auto attached = devices::attachedCameraAt(roots, kLocation);
    ASSERT_TRUE(attached);
    EXPECT_EQ(attached->productName, "Quillora 890");

    std::unique_ptr<usb::VideoDriverControl> road;
    EXPECT_EQ(usb::openVideoDriverControl(kLocation, road, roots.sys, roots.dev), usb::kUsbSuccess);
    EXPECT_TRUE(road);
    const auto button = listener::attachedCameraButton({kLocation, 0x090c, 0x037a, 0}, roots);
    EXPECT_EQ(button.eventNode, roots.dev + "/input/event5");
    EXPECT_TRUE(button.driverBound);
    EXPECT_EQ(listener::attachedCameraButton({0x01430000, 0x090c, 0x037a, 0}, roots).why,
        "no USB device at this location in sysfs");
}

// Pulled out and put back at the same place, the camera gets new node numbers and a new input
// device: its record is resolved again, by the camera list or by the first to ask for it.
TEST_F(CameraTree, ACameraPutBackAtTheSamePlaceIsResolvedAgain)
{
    list();
    unplug();
    plug(2, 8);
    EXPECT_EQ(names(*devices::attachedCameraAt(roots, kLocation)), "video2 video3 event8");
    std::unique_ptr<usb::VideoDriverControl> road;
    fs::remove(roots.dev + "/video0");
    EXPECT_EQ(usb::openVideoDriverControl(kLocation, road, roots.sys, roots.dev), usb::kUsbSuccess);

    list();
    unplug();
    EXPECT_EQ(usb::openVideoDriverControl(kLocation, road, roots.sys, roots.dev), usb::kUsbErrorNotFound);
    EXPECT_NE(listener::attachedCameraButton({kLocation, 0x090c, 0x037a, 0}, roots).why.find("no input device"),
        std::string::npos);
    machine.remove(test::CameraOnPort42::kDevice);
    EXPECT_FALSE(devices::attachedCameraAt(roots, kLocation));
}

// A camera whose button's input device the kernel makes after the record was taken: the
// listener's fresh look finds it and keeps it for the others.
TEST_F(CameraTree, AnInputDeviceMadeAfterTheListingIsFoundByAFreshLook)
{
    machine.remove(std::string(test::CameraOnPort42::kInterface) + "/input/input5");
    list();
    EXPECT_TRUE(listener::attachedCameraButton({kLocation, 0x090c, 0x037a, 0}, roots).eventNode.empty());
    camera.button = 9;
    ASSERT_TRUE(machine.add(camera.describeButton()));
    EXPECT_EQ(listener::findCameraButton({kLocation, 0x090c, 0x037a, 0}, roots.sys, roots.dev).eventNode,
        roots.dev + "/input/event9");
    EXPECT_EQ(
        listener::attachedCameraButton({kLocation, 0x090c, 0x037a, 0}, roots).eventNode, roots.dev + "/input/event9");
}

// Found below the camera's interface (driver-bound) or elsewhere by its phys; nothing without KEY_CAMERA,
// under another interface, with another camera's phys, at another location, or for another product.
TEST(CameraButtonLookup, TheButtonIsFoundOnlyForTheCameraAtTheLocation)
{
    test::EmulatedMachine machine;
    const test::CameraOnPort42 camera{0x037a, "Quillora 890", {}, false, {}, -1};
    ASSERT_TRUE(machine.add(camera.describe()));
    ASSERT_TRUE(machine.add(std::string("P: ") + test::CameraOnPort42::kDevice
        + "/1-4.2:1.1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=01\\n\n"));
    const std::string interface = test::CameraOnPort42::kInterface, phys = "usb-0000:00:14.0-4.2/button";
    const auto input = [&](const std::string &path, int number, const std::string &itsPhys, const char *keys) {
        ASSERT_TRUE(machine.add(test::CameraOnPort42::inputDevice(path, number, itsPhys, keys)));
    };
    const auto lookup = [&](std::uint32_t location = test::kCameraLocation, std::uint16_t product = 0x037a) {
        return listener::findCameraButton({location, 0x090c, product, 0}, machine.sysRoot(), "/dev");
    };

    input("/devices/virtual/input/input9", 9, phys, test::CameraOnPort42::kCameraKey);
    listener::CameraButtonLookup found = lookup();
    EXPECT_EQ(found.eventNode, "/dev/input/event9");
    EXPECT_FALSE(found.driverBound);

    machine.remove("/devices/virtual/input/input9");
    input(interface + "/input/input6", 6, phys, "0 0 0 0");
    input(std::string(test::CameraOnPort42::kDevice) + "/1-4.2:1.1/input/input8", 8, "x",
        test::CameraOnPort42::kCameraKey);
    input("/devices/virtual/input/input10", 10, "usb-0000:00:14.0-4.3/button", test::CameraOnPort42::kCameraKey);
    found = lookup();
    EXPECT_TRUE(found.eventNode.empty());
    EXPECT_NE(found.why.find("no input device"), std::string::npos);
    EXPECT_TRUE(lookup(0x01430000).usbDeviceDir.empty());
    EXPECT_TRUE(lookup(test::kCameraLocation, 0xb371).usbDeviceDir.empty());

    std::filesystem::create_symlink(
        "../../../../../../../bus/usb/drivers/uvcvideo", machine.sysRoot() + interface + "/driver");
    input(interface + "/input/input7", 7, "something-else", test::CameraOnPort42::kCameraKey);
    found = lookup();
    EXPECT_EQ(found.eventNode, "/dev/input/event7");
    EXPECT_TRUE(found.driverBound);
}

} // namespace
