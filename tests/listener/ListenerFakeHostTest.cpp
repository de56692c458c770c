// The listener through a fake USB host whose reads complete when the test says so.
#include "FakeUsbHost.h"
#include "ListenerTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>

#include <thread>

using namespace quillora;
using namespace quillora::test;
using listener::gListenerKilled;
using listener::WebcamProcessor;
using usb::fake::FakeUsbHost;
using usb::fake::FakeUsbInterface;
using namespace std::chrono_literals;

namespace {

constexpr std::uint16_t kVendor = 2316, kProduct = listener::kListenerProductId;
constexpr std::array<std::uint8_t, 8> kReport{0x02, 0x01, 0x00, 0x01, 0x55, 0x66, 0x77, 0x88};
constexpr const char *kLoopLines = "Starting run loop.\n\nUnexpectedly back from CFRunLoopRun()!\n";

class ListenerFakeHost : public ::testing::Test {
protected:
    std::shared_ptr<FakeUsbHost> host = std::make_shared<FakeUsbHost>();
    CountingTarget target;
    std::unique_ptr<listener::ListenerThread> thread;
    LogCapture log; // keeps the listener's Qt messages off stderr

    void TearDown() override { thread.reset(); }
    std::shared_ptr<usb::fake::FakeUsbDevice> addDevice(std::uint16_t product, std::uint32_t location,
        std::string name = "Camera", bool plugged = false, std::uint16_t vendor = kVendor)
    {
        auto device = plugged ? host->plugIn(vendor, product, name, location)
                              : host->addDevice(vendor, product, name, location);
        device->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
        return device;
    }
    static std::shared_ptr<FakeUsbInterface> interfaceOf(const std::shared_ptr<usb::fake::FakeUsbDevice> &device)
    {
        std::vector<std::shared_ptr<usb::UsbInterface>> all;
        device->findInterfaces({}, all);
        return std::static_pointer_cast<FakeUsbInterface>(all.at(0));
    }
    std::shared_ptr<FakeUsbInterface> addCamera(std::uint16_t product = kProduct, std::uint32_t location = 0x01420000)
    {
        return interfaceOf(addDevice(product, location));
    }
    void start(Variant variant = Variant::Listener, std::chrono::milliseconds delay = 0ms)
    {
        thread = startListener(
            variant, &target, [h = host] { return h; }, delay);
    }
    static bool armed(const FakeUsbInterface &i) { return i.isOpen() && i.pendingReads() == 1; }
    bool ended()
    {
        return waitUntil([&] { return !thread->isRunning(); });
    }
};

// Each press while armed (an error completion too) is one photo on the listener thread, with the
// report cleared after it and one read pending at a time; the hold timer a press starts runs on
// the listener's loop. A kill lets go of the interface and no press counts until the unkill; many
// quick kills and unkills keep one read and lose no later press.
TEST_F(ListenerFakeHost, PressesWhileArmedTakeOnePhotoEachAndNoneWhileKilled)
{
    auto camera = addCamera();
    std::atomic<QThread *> timerThread{nullptr};
    target.during = [&] { QTimer::singleShot(20, [&] { timerThread = QThread::currentThread(); }); };
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    const usb::UsbResult results[] = {usb::kUsbSuccess, usb::kUsbErrorIo};
    for (int press = 1; press <= 2; ++press) {
        ASSERT_TRUE(camera->completeRead(results[press - 1], kReport));
        ASSERT_TRUE(waitUntil([&] { return target.count == press && armed(*camera); }));
        EXPECT_EQ(listener::gButtonReport, (std::array<std::uint8_t, 8>{})) << "the report is cleared";
    }
    ASSERT_TRUE(waitUntil([&] { return timerThread.load() != nullptr; }));
    EXPECT_EQ(timerThread.load(), thread->listenerThread());

    WebcamProcessor::killListener();
    EXPECT_EQ(gListenerKilled.load(), 1);
    camera->completeRead(usb::kUsbSuccess, kReport); // lands just as the kill arrives
    ASSERT_TRUE(waitUntil([&] { return !camera->isOpen() && camera->pendingReads() == 0; }));
    WebcamProcessor::unkillListener();
    EXPECT_EQ(gListenerKilled.load(), 0);
    for (int i = 0; i < 200; ++i) {
        WebcamProcessor::killListener();
        if (i % 7 == 0)
            std::this_thread::yield();
        WebcamProcessor::unkillListener();
        ASSERT_LE(camera->pendingReads(), 1u);
    }
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    QTest::qWait(100);
    EXPECT_EQ(camera->pendingReads(), 1u);
    EXPECT_EQ(target.count, 2) << "neither the cancelled read nor kill and unkill are presses";
    ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return target.count == 3 && armed(*camera); }));
    EXPECT_EQ(target.offThread, 0);
}

// Each variant opens its own product only (14096 and other vendors never).
TEST_F(ListenerFakeHost, EachVariantListensToItsOwnProductOnly)
{
    for (const Variant variant : {Variant::Listener, Variant::Quillora}) {
        host = std::make_shared<FakeUsbHost>();
        const std::shared_ptr<FakeUsbInterface> cameras[] = {addCamera(kProduct, 0x01200000),
            addCamera(listener::kListenerProductIdQuillora, 0x01300000), addCamera(14096, 0x01100000),
            interfaceOf(addDevice(kProduct, 0x01400000, "Other vendor", false, 0x1234))};
        start(variant);
        const int mine = variant == Variant::Listener ? 0 : 1;
        ASSERT_TRUE(waitUntil([&] { return armed(*cameras[mine]); }));
        QTest::qWait(50);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(cameras[i]->openCount() > 0, i == mine) << i;
        thread.reset();
    }
}

// Cameras present at the start and plugged in later are listened to one after the other; a
// removal ends each (armed: its failed read counts as a press; killed: the loop still ends).
TEST_F(ListenerFakeHost, CamerasAreHandledOneAfterTheOtherUntilRemoved)
{
    auto first = addDevice(kProduct, 0x01100000, "First"), second = addDevice(kProduct, 0x01200000, "Second");
    StdCapture capture;
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*interfaceOf(first)); }));
    auto third = addDevice(kProduct, 0x01300000, "Third", true);
    QTest::qWait(50);
    EXPECT_EQ(interfaceOf(second)->openCount() + interfaceOf(third)->openCount(), 0);
    first->unplug();
    ASSERT_TRUE(waitUntil([&] { return armed(*interfaceOf(second)); }));
    second->unplug();
    ASSERT_TRUE(waitUntil([&] { return armed(*interfaceOf(third)); }));
    WebcamProcessor::killListener();
    ASSERT_TRUE(waitUntil([&] { return !interfaceOf(third)->isOpen(); }));
    third->unplug();
    ASSERT_TRUE(ended());
    capture.stop();
    EXPECT_EQ(target.count, 2);
    EXPECT_EQ(capture.err, "First\nSecond\nThird\n" + std::string(kLoopLines));
    WebcamProcessor::unkillListener(); // after the end: nothing
    EXPECT_EQ(gListenerKilled.load(), 1);
}

// Cameras that cannot be prepared cost their line and are skipped; without a host the thread ends with its line.
TEST_F(ListenerFakeHost, CamerasThatCannotBePreparedCostTheirLine)
{
    addDevice(kProduct, 0x01100000, "A")->setLocationResult(usb::kUsbErrorOverflow);
    addDevice(kProduct, 0x01200000, "B")->setFindResult(usb::kUsbErrorIo);
    addCamera(kProduct, 0x01300000)->setOpenResult(usb::kUsbErrorBusy);
    auto last = interfaceOf(addDevice(kProduct, 0x01400000, ""));
    StdCapture capture;
    start();
    const bool listening = waitUntil([&] { return armed(*last); });
    capture.stop();
    ASSERT_TRUE(listening);
    EXPECT_EQ(capture.err, "GetLocationID returned 0xfffffff8.\n");
    EXPECT_EQ(capture.out,
        "Unable to find interfaces on device: ffffffff\nUnable to open interface (fffffffa)\n"
        "Unable to find interfaces on device: fffffffa\nNo Device!\n\n\n");
    EXPECT_EQ(log.count("no input device"), 1) << "said once, for the busy camera";
    thread.reset();

    StdCapture noHost;
    thread = startListener(Variant::Listener, &target, [] { return std::shared_ptr<usb::UsbHost>(); });
    ASSERT_TRUE(ended());
    noHost.stop();
    EXPECT_EQ(noHost.err, "IOServiceMatching returned NULL.\n");
}

// A kill during the start-up wait leaves gListenerKilled alone; stopping ends the thread
// promptly in that wait and inside a photo (which finishes, silently); a second listener is
// refused while one runs.
TEST_F(ListenerFakeHost, StoppingEndsTheThreadPromptlyAndOneListenerRunsAtATime)
{
    start(Variant::Listener, 60s);
    QTest::qWait(20);
    WebcamProcessor::killListener();
    EXPECT_EQ(gListenerKilled.load(), 0);
    auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(thread->stopListening(2s));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);

    auto camera = addCamera();
    std::atomic<bool> inPhoto{false};
    target.during = [&] {
        inPhoto = true;
        QThread::msleep(200);
    };
    StdCapture capture;
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    auto otherHost = std::make_shared<FakeUsbHost>();
    auto otherCamera = otherHost->addDevice(kVendor, kProduct, "Other", 0x01500000);
    otherCamera->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
    CountingTarget otherTarget;
    EXPECT_FALSE(startListener(Variant::Listener, &otherTarget, [otherHost] { return otherHost; })->isRunning());
    EXPECT_EQ(interfaceOf(otherCamera)->openCount(), 0);
    ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return inPhoto.load(); }));
    ASSERT_TRUE(thread->stopListening(2s));
    capture.stop();
    EXPECT_EQ(target.count, 1);
    EXPECT_FALSE(camera->isOpen());
    EXPECT_EQ(camera->pendingReads(), 0u);
    EXPECT_EQ(capture.out + capture.err, "") << "quitting prints nothing";
}

} // namespace
