// The Linux road, end to end inside an emulated machine (umockdev; run under umockdev-wrapper):
// the camera's interface is held by the video driver, so the listener reads the button from the
// driver's input device, whose KEY_CAMERA presses are replayed from evemu events.
#include "FakeUsbHost.h"
#include "ListenerTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTest>

#include <umockdev.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace quillora;
using listener::WebcamProcessor;
using test::CountingTarget;
using test::startListener;
using test::Variant;
using test::waitUntil;
using usb::fake::FakeUsbHost;
using namespace std::chrono_literals;

namespace {

constexpr const char *kInterface = "/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2/1-4.2:1.0";

// A Quillora camera at bus 1, ports 4.2, its video-control interface bound to uvcvideo (or free),
// and, when asked for, the input device uvcvideo makes for the button.
std::string machine(bool driverBound, bool inputDevice)
{
    std::ostringstream s;
    s << "P: /devices/pci0000:00/0000:00:14.0/usb1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
         "A: busnum=1\nA: devpath=0\n\n"
         "P: /devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
         "A: busnum=1\nA: devpath=4.2\nA: idVendor=090c\nA: idProduct=037a\n\n"
      << "P: " << kInterface << "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=00\n"
      << (driverBound ? "L: driver=../../../../../../../bus/usb/drivers/uvcvideo\n" : "") << "\n";
    if (inputDevice)
        s << "P: " << kInterface
          << "/input/input7\nE: SUBSYSTEM=input\nA: name=UVC Camera (090c:037a)\n"
             "A: phys=usb-0000:00:14.0-4.2/button\nA: capabilities/key=100000 0 0 0\n\n"
             "P: "
          << kInterface
          << "/input/input7/event7\nN: input/event7\nE: DEVNAME=/dev/input/event7\nE: SUBSYSTEM=input\n"
             "A: dev=13:71\n";
    return s.str();
}

// evemu events: a press (KEY_CAMERA 1, then 0 a tenth later) at each of `seconds`, after an
// event at 0 that is already stale when the listener opens the device.
std::string pressesAt(std::initializer_list<double> seconds)
{
    std::ostringstream s;
    s << "E: 1000.000000 0000 0000 0\n";
    for (double t : seconds) {
        const auto at = [&](double offset) {
            const long usec = std::lround((t + offset) * 1e6);
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "%ld.%06ld", 1000 + usec / 1000000, usec % 1000000);
            return std::string(stamp);
        };
        s << "E: " << at(0) << " 0001 00d4 1\nE: " << at(0) << " 0000 0000 0\n";
        s << "E: " << at(0.1) << " 0001 00d4 0\nE: " << at(0.1) << " 0000 0000 0\n";
    }
    return s.str();
}

class ListenerInputDevice : public ::testing::Test {
protected:
    UMockdevTestbed *testbed = nullptr;
    std::shared_ptr<FakeUsbHost> host = std::make_shared<FakeUsbHost>();
    std::shared_ptr<usb::fake::FakeUsbInterface> camera;
    CountingTarget target;
    std::unique_ptr<listener::ListenerThread> thread;
    test::QtMessages qtMessages;
    std::chrono::steady_clock::time_point replayStart;

    void SetUp() override
    {
        testbed = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
        camera = host->addDevice(0x090c, listener::kListenerProductIdQuillora, "Quillora", 0x01420000)
                     ->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass, 0, 0, 1);
    }
    void TearDown() override
    {
        thread.reset();
        if (testbed)
            g_object_unref(testbed);
    }

    void build(bool driverBound, bool inputDevice)
    {
        GError *error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, machine(driverBound, inputDevice).c_str(), &error));
    }
    // The replay's clock starts here.
    void replay(std::initializer_list<double> seconds)
    {
        const QString path = QDir::temp().filePath(QStringLiteral("quillora-listener-%1.evemu").arg(getpid()));
        std::ofstream(path.toStdString()) << pressesAt(seconds);
        GError *error = nullptr;
        replayStart = std::chrono::steady_clock::now();
        ASSERT_TRUE(
            umockdev_testbed_load_evemu_events(testbed, "/dev/input/event7", path.toUtf8().constData(), &error));
        QFile::remove(path);
    }
    void start()
    {
        thread = startListener(
            Variant::Quillora, &target, [h = host] { return h; }, 0ms, "/sys", "/dev");
    }
    void sleepUntil(double seconds)
    {
        const auto until = replayStart
            + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
        while (std::chrono::steady_clock::now() < until)
            QTest::qWait(10);
    }
};

TEST_F(ListenerInputDevice, EachPressOfTheButtonTakesOnePhoto)
{
    build(true, true);
    replay({1.0, 2.0});
    start();
    ASSERT_TRUE(waitUntil([&] { return target.count() == 1; }, 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - replayStart, 900ms) << "the stale event was no press";
    ASSERT_TRUE(waitUntil([&] { return target.count() == 2; }, 5s));
    sleepUntil(2.6);
    EXPECT_EQ(target.count(), 2) << "releases are no presses";
    EXPECT_TRUE(target.allOnThread(thread->listenerThread()));
    EXPECT_EQ(camera->openCount(), 0) << "the interface held by the driver is not claimed";
}

TEST_F(ListenerInputDevice, NoPhotoWhileSuspended)
{
    build(true, true);
    replay({1.0, 2.5, 4.0});
    start();
    ASSERT_TRUE(waitUntil([&] { return target.count() == 1; }, 5s));
    sleepUntil(1.5);
    WebcamProcessor::killListener(); // the press at 2.5 comes while the input device is closed
    sleepUntil(3.2);
    EXPECT_EQ(target.count(), 1);
    WebcamProcessor::unkillListener();
    ASSERT_TRUE(waitUntil([&] { return target.count() == 2; }, 5s)) << "the press after the unkill is heard";
    sleepUntil(4.5);
    EXPECT_EQ(target.count(), 2);
}

TEST_F(ListenerInputDevice, AnInterfaceThatRefusesTheClaimAlsoTakesTheInputRoad)
{
    build(false, true); // no driver link in sysfs, but the claim is refused
    camera->setOpenResult(usb::kUsbErrorBusy);
    replay({1.0});
    start();
    ASSERT_TRUE(waitUntil([&] { return target.count() == 1; }, 5s));
}

TEST_F(ListenerInputDevice, WithoutAnInputDeviceTheListenerSaysSoOnce)
{
    build(true, false);
    test::StdCapture capture;
    start();
    const bool said = waitUntil([&] {
        for (const auto &line : qtMessages.lines())
            if (line.find("no input device") != std::string::npos)
                return true;
        return false;
    });
    ASSERT_TRUE(waitUntil([&] { return !thread->isRunning(); }));
    capture.stop();
    ASSERT_TRUE(said);
    EXPECT_EQ(capture.out(), "Unable to open interface (fffffffa)\nUnable to find interfaces on device: fffffffa\n");
    EXPECT_EQ(capture.err(), "Starting run loop.\n\nUnexpectedly back from CFRunLoopRun()!\n");
}

} // namespace
