// SPDX-License-Identifier: GPL-3.0-or-later
// One record per camera: the camera list resolves it, and the USB host's video driver road and
// the listener take the node and the button's input device from that record, in a sysfs tree
// laid out as the kernel's.
#include "AttachedCameras.h"
#include "CameraInputDevice.h"
#include "SysfsCamera.h"
#include "VideoDriverRoad.h"

#include <QTemporaryDir>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace quillora;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kLocation = 0x01420000;    // bus 1, ports 4.2
constexpr const char *kCameraKey = "100000 0 0 0"; // KEY_CAMERA (212)

// A Quillora 890 camera at bus 1, ports 4.2, bound to its video driver, with a picture node, a
// metadata node and the driver's input device for its button. Device files are plain files.
class CameraTree : public ::testing::Test {
protected:
    QTemporaryDir dir;
    fs::path sys = fs::path(dir.path().toStdString()) / "sys", dev = fs::path(dir.path().toStdString()) / "dev";
    fs::path camera = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2", interface = camera / "1-4.2:1.0";
    devices::SysfsRoots roots{sys.string(), dev.string()};

    void SetUp() override
    {
        write(camera / "../..", {{"busnum", "1"}, {"devpath", "0"}});
        link(sys / "bus/usb/devices/usb1", camera.parent_path().parent_path());
        write(camera,
            {{"busnum", "1"}, {"devpath", "4.2"}, {"idVendor", "090c"}, {"idProduct", "037a"},
                {"product", "Quillora 890"}});
        link(sys / "bus/usb/devices/1-4.2", camera);
        write(interface, {{"bInterfaceNumber", "00"}, {"bInterfaceClass", "0e"}, {"bInterfaceSubClass", "01"}});
        link(interface / "driver", sys / "bus/usb/drivers/uvcvideo");
        fs::create_directories(dev / "input");
        plug(0, 5);
    }
    static void write(const fs::path &path, std::initializer_list<std::pair<const char *, const char *>> files)
    {
        quillora::test::writeSysfsFiles(path, files);
    }
    static void link(const fs::path &from, const fs::path &to) { quillora::test::linkSysfs(from, to); }
    // The driver's nodes video<first> (picture) and video<first + 1> (metadata), and its input
    // device input<input> with event node event<input>.
    void plug(int first, int input)
    {
        for (int index = 0; index < 2; ++index) {
            const std::string name = "video" + std::to_string(first + index);
            const fs::path node = interface / "video4linux" / name;
            write(node,
                {{"name", "Quillora 890"}, {"index", index ? "1" : "0"}, {"uevent", ("DEVNAME=" + name).c_str()}});
            link(node / "device", "../..");
            link(sys / "class/video4linux" / name, node);
            std::ofstream(dev / name) << "";
        }
        const std::string inputName = "input" + std::to_string(input);
        const fs::path inputDir = interface / "input" / inputName;
        write(inputDir, {{"phys", "usb-0000:00:14.0-4.2/button"}, {"capabilities/key", kCameraKey}});
        fs::create_directories(inputDir / ("event" + std::to_string(input)));
        link(sys / "class/input" / inputName, inputDir);
    }
    void unplug()
    {
        fs::remove_all(interface / "video4linux");
        fs::remove_all(interface / "input");
        fs::remove_all(sys / "class");
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
        EXPECT_EQ(record->usbDeviceDir, fs::canonical(camera).string());
        EXPECT_EQ(record->controlInterfaceDir, fs::canonical(interface).string());
        EXPECT_EQ(record->locationId, kLocation);
        EXPECT_EQ(record->productName, "Quillora 890");
    }

    write(camera, {{"product", "Renamed"}});
    const auto attached = devices::attachedCameraAt(roots, kLocation);
    ASSERT_TRUE(attached);
    EXPECT_EQ(attached->productName, "Quillora 890");

    std::unique_ptr<usb::VideoDriverControl> road;
    EXPECT_EQ(usb::openVideoDriverControl(kLocation, road, roots.sys, roots.dev), usb::kUsbSuccess);
    EXPECT_TRUE(road);
    const auto button = listener::attachedCameraButton({kLocation, 0x090c, 0x037a, 0}, roots);
    EXPECT_EQ(button.eventNode, (dev / "input/event5").string());
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
    fs::remove(dev / "video0");
    EXPECT_EQ(usb::openVideoDriverControl(kLocation, road, roots.sys, roots.dev), usb::kUsbSuccess);

    list();
    unplug();
    EXPECT_EQ(usb::openVideoDriverControl(kLocation, road, roots.sys, roots.dev), usb::kUsbErrorNotFound);
    EXPECT_NE(listener::attachedCameraButton({kLocation, 0x090c, 0x037a, 0}, roots).why.find("no input device"),
        std::string::npos);
    fs::remove_all(camera);
    EXPECT_FALSE(devices::attachedCameraAt(roots, kLocation));
}

// A camera whose button's input device the kernel makes after the record was taken: the
// listener's fresh look finds it and keeps it for the others.
TEST_F(CameraTree, AnInputDeviceMadeAfterTheListingIsFoundByAFreshLook)
{
    fs::remove_all(sys / "class/input");
    list();
    EXPECT_TRUE(listener::attachedCameraButton({kLocation, 0x090c, 0x037a, 0}, roots).eventNode.empty());
    link(sys / "class/input/input5", interface / "input/input5");
    EXPECT_EQ(listener::findCameraButton({kLocation, 0x090c, 0x037a, 0}, roots.sys, roots.dev).eventNode,
        (dev / "input/event5").string());
    EXPECT_EQ(listener::attachedCameraButton({kLocation, 0x090c, 0x037a, 0}, roots).eventNode,
        (dev / "input/event5").string());
}

} // namespace
