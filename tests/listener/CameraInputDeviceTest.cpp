// Finding the input device the video driver makes for a camera's button, in sysfs trees laid out
// as the kernel lays them out (class and bus entries are symlinks into /sys/devices).
#include "CameraInputDevice.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

using namespace quillora::listener;
namespace fs = std::filesystem;

namespace {

// A camera at bus 1, ports 4.2, behind host controller 0000:00:14.0.
class SysfsTree : public ::testing::Test {
protected:
    QTemporaryDir dir;
    fs::path sys, controller, camera, interface;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        sys = fs::path(dir.path().toStdString()) / "sys";
        controller = sys / "devices/pci0000:00/0000:00:14.0";
        const fs::path rootHub = controller / "usb1";
        camera = rootHub / "1-4/1-4.2";
        interface = camera / "1-4.2:1.0";
        device(rootHub, {{"busnum", "1"}, {"devpath", "0"}});
        device(camera, {{"busnum", "1"}, {"devpath", "4.2"}, {"idVendor", "090c"}, {"idProduct", "037a"}});
        device(interface, {{"bInterfaceNumber", "00"}});
        device(camera / "1-4.2:1.1", {{"bInterfaceNumber", "01"}});
        link(sys / "bus/usb/devices/usb1", rootHub);
        link(sys / "bus/usb/devices/1-4.2", camera);
        link(sys / "bus/usb/devices/1-4.2:1.0", interface);
        fs::create_directories(sys / "class/input");
    }

    static void device(const fs::path &path, std::initializer_list<std::pair<const char *, const char *>> files)
    {
        fs::create_directories(path);
        for (const auto &[name, value] : files) {
            fs::create_directories((path / name).parent_path());
            std::ofstream(path / name) << value << "\n";
        }
    }
    static void link(const fs::path &from, const fs::path &to)
    {
        fs::create_directories(from.parent_path());
        fs::create_symlink(to, from);
    }
    // An input device at `path` with an event node, listed in class/input.
    void input(const fs::path &path, const char *phys, const char *keys, const char *event = "event7")
    {
        device(path, {{"phys", phys}, {"capabilities/key", keys}, {"name", "UVC Camera (090c:037a)"}});
        device(path / event, {{"dev", "13:71"}});
        link(sys / "class/input" / path.filename(), path);
    }

    CameraButtonLookup lookup(std::uint32_t location = 0x01420000, std::uint16_t product = 0x037a)
    {
        return findCameraButton({location, 0x090c, product, 0}, sys.string(), "/dev");
    }
};

// KEY_CAMERA is 212: bit 20 of the fourth 64-bit word from the end.
constexpr const char *kCameraKey = "100000 0 0 0";

TEST_F(SysfsTree, TheInputDeviceBelowTheCamerasInterfaceIsFound)
{
    link(interface / "driver", sys / "bus/usb/drivers/uvcvideo");
    input(interface / "input/input7", "something-else", kCameraKey);
    const auto found = lookup();
    EXPECT_EQ(found.eventNode, "/dev/input/event7");
    EXPECT_TRUE(found.driverBound);
    EXPECT_EQ(fs::path(found.interfaceDir).filename(), "1-4.2:1.0");
}

TEST_F(SysfsTree, AnInputDeviceElsewhereIsFoundByItsPhys)
{
    input(sys / "devices/virtual/input/input9", "usb-0000:00:14.0-4.2/button", kCameraKey, "event12");
    const auto found = lookup();
    EXPECT_EQ(found.eventNode, "/dev/input/event12");
    EXPECT_FALSE(found.driverBound) << "no driver link: the interface is free";
}

TEST_F(SysfsTree, NoButtonIsFoundWhereNothingMatches)
{
    // Without KEY_CAMERA, under another interface, or with another camera's phys.
    input(interface / "input/input7", "usb-0000:00:14.0-4.2/button", "0 0 0 0");
    input(camera / "1-4.2:1.1/input/input8", "x", kCameraKey, "event8");
    input(sys / "devices/virtual/input/input9", "usb-0000:00:14.0-4.3/button", kCameraKey, "event9");
    auto found = lookup();
    EXPECT_TRUE(found.eventNode.empty());
    EXPECT_NE(found.why.find("no input device"), std::string::npos);

    found = lookup(0x01430000);
    EXPECT_TRUE(found.usbDeviceDir.empty()) << "another location";
    found = lookup(0x01420000, 0xb371);
    EXPECT_TRUE(found.usbDeviceDir.empty()) << "another product at the same place";
}

TEST(CapabilityBits, WordsCountFromTheEnd)
{
    EXPECT_TRUE(capabilityHasBit(kCameraKey, 212));
    EXPECT_FALSE(capabilityHasBit(kCameraKey, 211));
    EXPECT_FALSE(capabilityHasBit("100000 0 0", 212)) << "too few words";
    EXPECT_TRUE(capabilityHasBit("1 0", 64));
    EXPECT_FALSE(capabilityHasBit("", 0));
}

} // namespace
