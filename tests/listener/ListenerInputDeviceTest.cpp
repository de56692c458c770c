// SPDX-License-Identifier: GPL-3.0-or-later
// The input-device road under umockdev-wrapper: the video driver holds the camera's interface, so the
// listener reads KEY_CAMERA presses (replayed evemu events) from the driver's input device.
#include "FakeUsbHost.h"
#include "ListenerTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTest>

#include <umockdev.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace quillora;
using namespace quillora::test;
using namespace std::chrono_literals;

namespace {

constexpr const char *kInterface = "/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2/1-4.2:1.0";

class ListenerInputDevice : public ::testing::Test {
protected:
    UMockdevTestbed *testbed = umockdev_testbed_new();
    std::shared_ptr<usb::fake::FakeUsbHost> host = std::make_shared<usb::fake::FakeUsbHost>();
    std::shared_ptr<usb::fake::FakeUsbInterface> camera
        = host->addDevice(0x090c, listener::kListenerProductIdQuillora, "Quillora", 0x01420000)
              ->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
    CountingTarget target;
    std::unique_ptr<listener::ListenerThread> thread;
    LogCapture log;
    std::chrono::steady_clock::time_point replayStart;

    void TearDown() override
    {
        thread.reset();
        g_object_unref(testbed);
    }
    // The camera at bus 1, ports 4.2, bound to uvcvideo, with its button's input device; then the
    // listener, with a press at each of `seconds` (after a stale event at 0).
    void start(std::initializer_list<double> seconds)
    {
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
        std::ostringstream s;
        s << "P: /devices/pci0000:00/0000:00:14.0/usb1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
             "A: busnum=1\nA: devpath=0\n\nP: /devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2\nE: SUBSYSTEM=usb\n"
             "E: DEVTYPE=usb_device\nA: busnum=1\nA: devpath=4.2\nA: idVendor=090c\nA: idProduct=037a\n\n"
          << "P: " << kInterface << "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=00\n"
          << "L: driver=../../../../../../../bus/usb/drivers/uvcvideo\n\n";
        s << "P: " << kInterface
          << "/input/input7\nE: SUBSYSTEM=input\nA: name=UVC Camera (090c:037a)\n"
             "A: phys=usb-0000:00:14.0-4.2/button\nA: capabilities/key=100000 0 0 0\n\nP: "
          << kInterface
          << "/input/input7/event7\nN: input/event7\nE: DEVNAME=/dev/input/event7\nE: SUBSYSTEM=input\n"
             "A: dev=13:71\n";
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, s.str().c_str(), nullptr));
        const std::string path = QDir::temp().filePath(QString("quillora-%1.evemu").arg(getpid())).toStdString();
        std::ofstream events(path);
        events << "E: 1000.000000 0000 0000 0\n";
        for (double t : seconds)
            for (int value : {1, 0}) {
                const double at = 1000 + t + (value ? 0 : 0.1);
                events << "E: " << std::fixed << at << " 0001 00d4 " << value << "\nE: " << at << " 0000 0000 0\n";
            }
        events.close();
        replayStart = std::chrono::steady_clock::now();
        ASSERT_TRUE(umockdev_testbed_load_evemu_events(testbed, "/dev/input/event7", path.c_str(), nullptr));
        std::remove(path.c_str());
        thread = startListener(
            Variant::Quillora, &target, [h = host] { return h; }, 0ms, "/sys", "/dev");
    }
    void sleepUntil(double seconds)
    {
        while (std::chrono::steady_clock::now() - replayStart < std::chrono::duration<double>(seconds))
            QTest::qWait(10);
    }
};

// One photo per press on the listener thread; none for the stale event, releases, or a press while
// killed; the interface the driver holds is never claimed.
TEST_F(ListenerInputDevice, EachPressTakesOnePhotoExceptWhileKilled)
{
    start({1.0, 2.0, 3.5, 5.0});
    ASSERT_TRUE(waitUntil([&] { return target.count == 1; }, 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - replayStart, 900ms) << "the stale event was no press";
    ASSERT_TRUE(waitUntil([&] { return target.count == 2; }, 5s));
    sleepUntil(2.6);
    listener::WebcamProcessor::killListener();
    sleepUntil(4.2);
    EXPECT_EQ(target.count, 2);
    listener::WebcamProcessor::unkillListener();
    ASSERT_TRUE(waitUntil([&] { return target.count == 3; }, 5s));
    sleepUntil(5.5);
    EXPECT_EQ(target.count, 3);
    EXPECT_EQ(target.offThread, 0);
    EXPECT_EQ(camera->openCount(), 0);
}

} // namespace
