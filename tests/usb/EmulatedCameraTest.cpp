// The libusb host against an emulated camera: umockdev gives the program a sysfs with a root
// hub, a hub and a Quillora camera at bus 1, ports 4.2, and answers the camera's usbfs and video
// node ioctls here, recording every URB and every video driver control.
//
// Runs under umockdev-wrapper (see CMakeLists.txt); without it every test fails at once rather
// than talk to the machine's real USB.
#include "EmulatedCamera.h"
#include "LibusbHost.h"
#include "LocationId.h"
#include "UsbTestSupport.h"
#include "VemoViewController.h"

#include <TestSupport.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <linux/usb/video.h>
#include <linux/usbdevice_fs.h>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

using namespace quillora::usb;
using quillora::test::LogCapture;

namespace {

constexpr std::uint32_t kCameraLocation = quillora::test::kEmulatedCameraLocation;

class EmulatedCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_bed = std::make_unique<quillora::test::EmulatedCameraBed>();
        ASSERT_EQ(m_bed->error(), "");
    }
    void TearDown() override { m_bed.reset(); }

    std::string sysDir() const { return m_bed->sysDir(); }
    void removeVideoNode() { m_bed->removeVideoNode(); }

    std::shared_ptr<UsbDevice> findCamera(UsbHost &host)
    {
        for (const auto &entry : host.devices())
            if (entry.device && entry.device->vendorId() == 0x090C && entry.device->productId() == 0x037A)
                return entry.device;
        return nullptr;
    }

    std::shared_ptr<UsbInterface> videoControlOf(UsbDevice &device)
    {
        std::vector<std::shared_ptr<UsbInterface>> found;
        EXPECT_EQ(device.findInterfaces({kVideoInterfaceClass, kVideoControlSubClass, kAnyValue, kAnyValue}, found),
            kUsbSuccess);
        return found.empty() ? nullptr : found.front();
    }

    std::unique_ptr<quillora::test::EmulatedCameraBed> m_bed;
    quillora::test::EmulatedWire &wire() { return m_bed->wire; }
};

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

TEST_F(EmulatedCamera, LocationIdsFromLibusbAndFromSysfsAgree)
{
    const auto host = makeLibusbHost(LibusbHostOptions{});
    ASSERT_TRUE(host);
    const auto entries = host->devices();
    ASSERT_EQ(entries.size(), 3u);
    std::map<std::uint16_t, std::uint32_t> byProduct;
    for (const auto &entry : entries) {
        ASSERT_EQ(entry.result, kUsbSuccess);
        std::uint32_t location = 0;
        ASSERT_EQ(entry.device->locationId(location), kUsbSuccess);
        byProduct[entry.device->productId()] = location;
    }
    EXPECT_EQ(byProduct.at(0x037A), kCameraLocation);

    // The camera side's rule, from the same emulated sysfs (busnum and devpath).
    const std::string dir = sysDir() + "/devices/usb1/1-4/1-4.2";
    const auto fromSysfs
        = locationIdFromDevpath(unsigned(std::stoul(readFile(dir + "/busnum"))), readFile(dir + "/devpath"));
    ASSERT_TRUE(fromSysfs);
    EXPECT_EQ(*fromSysfs, kCameraLocation);
    const std::string hubDir = sysDir() + "/devices/usb1/1-4";
    EXPECT_EQ(locationIdFromDevpath(1, readFile(hubDir + "/devpath")), std::optional<std::uint32_t>(0x01400000));

    std::string name;
    EXPECT_EQ(findCamera(*host)->name(name), kUsbSuccess);
    EXPECT_EQ(name, "Quillora Document Camera");
}

TEST_F(EmulatedCamera, TheVideoControlInterfaceIsTheFirstOfClass0eSubclass01)
{
    const auto host = makeLibusbHost(LibusbHostOptions{});
    const auto camera = findCamera(*host);
    ASSERT_TRUE(camera);
    const auto control = videoControlOf(*camera);
    ASSERT_TRUE(control);
    EXPECT_EQ(control->interfaceNumber(), 0);
    EXPECT_EQ(control->interfaceClass(), 0x0E);
    EXPECT_EQ(control->interfaceSubClass(), 0x01);
    EXPECT_FALSE(control->isOpen());

    std::vector<std::shared_ptr<UsbInterface>> all;
    ASSERT_EQ(camera->findInterfaces({}, all), kUsbSuccess);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1]->interfaceSubClass(), 0x02);

    std::lock_guard lock(wire().mutex);
    EXPECT_TRUE(wire().claims.empty()) << "finding an interface claims nothing";
}

TEST_F(EmulatedCamera, FocusPutsTheThreeSetupPacketsOnTheWire)
{
    quillora::app::VemoViewController controller;
    controller.setUsbHost(makeLibusbHost(LibusbHostOptions{}));
    LogCapture log;

    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    ASSERT_TRUE(controller.interface);
    controller.focusClick(nullptr);

    std::lock_guard lock(wire().mutex);
    using Bytes = std::vector<std::uint8_t>;
    ASSERT_EQ(wire().controlUrbs.size(), 3u);
    EXPECT_EQ(wire().controlUrbs[0], (Bytes{0x41, 0x00, 0x08, 0x00, 0x00, 0x3F, 0x00, 0x00}));
    EXPECT_EQ(wire().controlUrbs[1], (Bytes{0x41, 0x00, 0x03, 0x00, 0x00, 0x3F, 0x00, 0x00}));
    EXPECT_EQ(wire().controlUrbs[2], (Bytes{0x21, 0x01, 0x00, 0x08, 0x00, 0x01, 0x01, 0x00, 0x01}));
    EXPECT_EQ(wire().claims, std::vector<int>{0});
    EXPECT_EQ(wire().releases, std::vector<int>{0});
    EXPECT_TRUE(wire().videoControls.empty());
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
}

TEST_F(EmulatedCamera, ABusyClaimTakesTheVideoDriverRoad)
{
    wire().claimErrno = EBUSY; // uvcvideo holds the interface
    quillora::app::VemoViewController controller;
    controller.setUsbHost(makeLibusbHost(LibusbHostOptions{}));
    LogCapture log;

    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    controller.focusClick(nullptr);

    std::lock_guard lock(wire().mutex);
    // The register writes still go through usbfs; SET_CUR goes through the video driver.
    ASSERT_EQ(wire().controlUrbs.size(), 2u);
    EXPECT_EQ(wire().controlUrbs[0][0], 0x41);
    EXPECT_EQ(wire().controlUrbs[1][0], 0x41);
    EXPECT_EQ(wire().claims, std::vector<int>{0});
    EXPECT_TRUE(wire().releases.empty());
    ASSERT_EQ(wire().videoControls.size(), 1u);
    EXPECT_EQ(wire().videoControls[0].id, unsigned(V4L2_CID_FOCUS_AUTO));
    EXPECT_EQ(wire().videoControls[0].value, 1);
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
}

TEST_F(EmulatedCamera, ExtensionUnitRequestsGoThroughTheDriverQuery)
{
    wire().claimErrno = EBUSY;
    const auto host = makeLibusbHost(LibusbHostOptions{});
    const auto control = videoControlOf(*findCamera(*host));
    ASSERT_EQ(control->open(), kUsbSuccess);
    std::uint8_t data[2] = {0xAA, 0xBB};
    DevRequest request{0x21, 0x01, 0x0200, 0x0300, 2, data, 0};
    EXPECT_EQ(control->controlRequest(request), kUsbSuccess);
    EXPECT_EQ(request.wLenDone, 2u);
    // A processing unit has no road through the driver: refused, not sent anywhere.
    DevRequest brightness{0x21, 0x01, 0x0200, 0x0200, 2, data, 0};
    EXPECT_EQ(control->controlRequest(brightness), kUsbErrorNotSupported);
    control->close();

    std::lock_guard lock(wire().mutex);
    ASSERT_EQ(wire().extensionQueries.size(), 1u);
    EXPECT_EQ(wire().extensionQueries[0].unit, 3);
    EXPECT_EQ(wire().extensionQueries[0].selector, 2);
    EXPECT_EQ(wire().extensionQueries[0].query, UVC_SET_CUR);
    EXPECT_EQ(wire().extensionQueries[0].data, (std::vector<std::uint8_t>{0xAA, 0xBB}));
    EXPECT_TRUE(wire().controlUrbs.empty());
}

TEST_F(EmulatedCamera, WithNoRoadLeftABusyClaimIsTheOpenFailure)
{
    wire().claimErrno = EBUSY;
    removeVideoNode();
    quillora::app::VemoViewController controller;
    controller.setUsbHost(makeLibusbHost(LibusbHostOptions{}));
    LogCapture log;

    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    controller.focusClick(nullptr);

    EXPECT_EQ(log.lines(), QStringList{"CameraControl Error: Unable to open interface (fffffffa)"});
    std::lock_guard lock(wire().mutex);
    EXPECT_EQ(wire().controlUrbs.size(), 2u);
}

TEST_F(EmulatedCamera, AStallIsReportedWithItsResult)
{
    quillora::app::VemoViewController controller;
    controller.setUsbHost(makeLibusbHost(LibusbHostOptions{}));
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    {
        std::lock_guard lock(wire().mutex);
        wire().controlStatus = -EPIPE;
    }
    LogCapture log;

    EXPECT_FALSE(controller.setData(1, 1, 8, 1));

    EXPECT_EQ(log.lines(), QStringList{"CameraControl Error: Control request failed: fffffff7"});
    std::lock_guard lock(wire().mutex);
    EXPECT_EQ(wire().releases, std::vector<int>{0}) << "the interface is given back after a failure";
}

TEST_F(EmulatedCamera, ACameraThatNeverAnswersCostsAtMostTheTimeout)
{
    quillora::app::VemoViewController controller;
    controller.setUsbHost(makeLibusbHost(LibusbHostOptions{}));
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    {
        std::lock_guard lock(wire().mutex);
        wire().controlsAnswered = false;
    }
    LogCapture log;
    QElapsedTimer timer;
    timer.start();

    EXPECT_FALSE(controller.setData(1, 1, 8, 1));

    EXPECT_GE(timer.elapsed(), qint64(kControlTimeoutMs) - 100);
    EXPECT_LT(timer.elapsed(), qint64(kControlTimeoutMs) + 2000);
    EXPECT_EQ(log.lines(), QStringList{"CameraControl Error: Control request failed: fffffff9"});
}

TEST_F(EmulatedCamera, ReadCompletionsArriveOnTheThreadThatServesTheEventSource)
{
    const auto host = makeLibusbHost(LibusbHostOptions{});
    std::vector<std::shared_ptr<UsbInterface>> all;
    ASSERT_EQ(findCamera(*host)->findInterfaces({}, all), kUsbSuccess);
    const std::shared_ptr<UsbInterface> control = all.front();

    QThread listener;
    listener.start();
    QObject anchor;
    anchor.moveToThread(&listener);
    const auto onListener = [&](auto work) { QMetaObject::invokeMethod(&anchor, work, Qt::BlockingQueuedConnection); };

    std::unique_ptr<UsbEventSource> source;
    std::array<std::uint8_t, 8> report{};
    std::mutex mutex; // guards the completions
    struct Completion {
        UsbResult result;
        std::uint32_t length;
        QThread *thread;
    };
    std::vector<Completion> completions;
    const auto record = [&](UsbResult result, std::uint32_t length) {
        std::lock_guard lock(mutex);
        completions.push_back({result, length, QThread::currentThread()});
    };
    const auto completed = [&] {
        std::lock_guard lock(mutex);
        return completions.size();
    };

    UsbResult queued = kUsbErrorOther;
    onListener([&] {
        ASSERT_EQ(host->createEventSource(source), kUsbSuccess);
        ASSERT_EQ(control->open(), kUsbSuccess);
        queued = control->readPipeAsync(1, report, record);
    });
    ASSERT_EQ(queued, kUsbSuccess);
    QThread::msleep(100);
    EXPECT_EQ(completed(), 0u) << "nothing completes before the camera has something to say";

    {
        std::lock_guard lock(wire().mutex);
        ++wire().presses;
    }
    ASSERT_TRUE(quillora::test::waitUntil([&] { return completed() == 1; }, std::chrono::seconds(5)));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(completions[0].result, kUsbSuccess);
        EXPECT_EQ(completions[0].length, 8u);
        EXPECT_EQ(completions[0].thread, &listener);
    }
    EXPECT_EQ(report, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));

    // A read still pending when the interface is closed completes, cancelled, on the same thread.
    onListener([&] { queued = control->readPipeAsync(1, report, record); });
    ASSERT_EQ(queued, kUsbSuccess);
    onListener([&] { control->close(); });
    ASSERT_TRUE(quillora::test::waitUntil([&] { return completed() == 2; }, std::chrono::seconds(5)));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(completions[1].result, kUsbErrorInterrupted);
        EXPECT_EQ(completions[1].thread, &listener);
    }

    onListener([&] { source.reset(); });
    listener.quit();
    listener.wait();
    std::lock_guard lock(wire().mutex);
    EXPECT_EQ(wire().releases, std::vector<int>{0});
}

TEST_F(EmulatedCamera, ArrivalAndRemovalAreNotifiedOnTheEventSourceThread)
{
    const auto host = makeLibusbHost(LibusbHostOptions{});
    std::unique_ptr<UsbEventSource> source;
    ASSERT_EQ(host->createEventSource(source), kUsbSuccess);
    std::unique_ptr<UsbEventSource> second;
    EXPECT_EQ(host->createEventSource(second), kUsbErrorBusy);

    std::vector<std::shared_ptr<UsbDevice>> present;
    std::vector<std::uint32_t> arrivedAt;
    std::unique_ptr<UsbNotification> matching;
    ASSERT_EQ(host->addMatchingNotification(
                  0x090C, 0x037A, present,
                  [&](std::shared_ptr<UsbDevice> device) {
                      EXPECT_EQ(QThread::currentThread(), qApp->thread());
                      std::uint32_t location = 0;
                      device->locationId(location);
                      arrivedAt.push_back(location);
                  },
                  matching),
        kUsbSuccess);
    ASSERT_EQ(present.size(), 1u);
    std::uint32_t location = 0;
    present[0]->locationId(location);
    EXPECT_EQ(location, kCameraLocation);
    // Another product of the same maker is not this camera.
    std::vector<std::shared_ptr<UsbDevice>> others;
    std::unique_ptr<UsbNotification> otherMatching;
    ASSERT_EQ(host->addMatchingNotification(
                  0x090C, 0xB371, others, [](std::shared_ptr<UsbDevice>) {}, otherMatching),
        kUsbSuccess);
    EXPECT_TRUE(others.empty());

    int removals = 0;
    std::unique_ptr<UsbNotification> removal;
    ASSERT_EQ(present[0]->addRemovalNotification([&] { ++removals; }, removal), kUsbSuccess);

    ASSERT_TRUE(m_bed->plugSecondCamera());
    ASSERT_TRUE(quillora::test::waitUntil([&] { return !arrivedAt.empty(); }, std::chrono::seconds(5)))
        << "no arrival notification";
    EXPECT_EQ(arrivedAt, std::vector<std::uint32_t>{0x01430000});
    EXPECT_EQ(removals, 0);

    m_bed->unplugCamera();
    ASSERT_TRUE(quillora::test::waitUntil([&] { return removals > 0; }, std::chrono::seconds(5)))
        << "no removal notification";
    QThread::msleep(200);
    QCoreApplication::processEvents();
    EXPECT_EQ(removals, 1);
    EXPECT_EQ(arrivedAt.size(), 1u) << "the camera present at the start is not announced again";

    // Dropped notifications deliver nothing more.
    matching.reset();
    removal.reset();
    otherMatching.reset();
    source.reset();
}

// Run by ctest as an ordinary user (root may open any node).
TEST_F(EmulatedCamera, APermissionFailureIsLoggedOnceWithTheFix)
{
    ASSERT_NE(::geteuid(), 0u) << "run as an ordinary user; ctest does so through setpriv";
    m_bed->denyCameraNode();
    quillora::app::VemoViewController controller;
    controller.setUsbHost(makeLibusbHost(LibusbHostOptions{}));
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    ASSERT_TRUE(controller.interface) << "finding the camera needs no access to its node";
    LogCapture log;

    controller.focusClick(nullptr);
    controller.focusClick(nullptr);

    // The register writes cannot be sent (silently); the video driver still takes SET_CUR.
    const QStringList hints = log.lines("quillora.usb");
    ASSERT_EQ(hints.size(), 1) << hints.join('\n').toStdString();
    EXPECT_TRUE(hints[0].contains("/dev/bus/usb/001/003")) << hints[0].toStdString();
    EXPECT_TRUE(hints[0].contains("70-quillora.rules")) << hints[0].toStdString();
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
    std::lock_guard lock(wire().mutex);
    EXPECT_TRUE(wire().controlUrbs.empty());
    EXPECT_EQ(wire().videoControls.size(), 2u);
}

} // namespace
