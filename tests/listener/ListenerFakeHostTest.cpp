// The listener through a fake USB host whose reads complete when the test says so: presses while
// armed and while suspended, the products each variant listens to, cameras one after the other,
// removal, failures and their lines, and stopping the thread.
#include "FakeUsbHost.h"
#include "ListenerRunLoop.h"
#include "ListenerTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <thread>

using namespace quillora;
using listener::gButtonReport;
using listener::gListenerKilled;
using listener::WebcamProcessor;
using test::CountingTarget;
using test::startListener;
using test::StdCapture;
using test::Variant;
using test::waitUntil;
using usb::fake::FakeUsbDevice;
using usb::fake::FakeUsbHost;
using usb::fake::FakeUsbInterface;
using namespace std::chrono_literals;

namespace {

constexpr std::uint16_t kVendor = 2316;
constexpr std::array<std::uint8_t, 8> kReport{0x02, 0x01, 0x00, 0x01, 0x55, 0x66, 0x77, 0x88};

class ListenerFakeHost : public ::testing::Test {
protected:
    std::shared_ptr<FakeUsbHost> host = std::make_shared<FakeUsbHost>();
    CountingTarget target;
    std::unique_ptr<listener::ListenerThread> thread;
    test::QtMessages qtMessages; // keeps the listener's info lines out of stderr

    void TearDown() override
    {
        thread.reset(); // stops and joins
    }

    std::shared_ptr<FakeUsbInterface> addCamera(std::uint16_t product, std::uint32_t location,
        std::string name = "Document Camera", std::shared_ptr<FakeUsbDevice> *deviceOut = nullptr)
    {
        auto device = host->addDevice(kVendor, product, std::move(name), location);
        if (deviceOut)
            *deviceOut = device;
        return device->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
    }

    void start(Variant variant = Variant::Listener, std::chrono::milliseconds delay = 0ms)
    {
        thread = startListener(
            variant, &target, [h = host] { return h; }, delay);
    }

    static bool armed(const FakeUsbInterface &interface) { return interface.isOpen() && interface.pendingReads() == 1; }
    bool ended()
    {
        return waitUntil([&] { return !thread->isRunning(); });
    }
};

TEST_F(ListenerFakeHost, PressesWhileArmedTakeOnePhotoEachOnTheListenerThread)
{
    auto camera = addCamera(listener::kListenerProductId, 0x01420000);
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));

    for (int press = 1; press <= 3; ++press) {
        ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
        // The next pass queues the next read once the press is handled.
        ASSERT_TRUE(waitUntil([&] { return target.count() == press && armed(*camera); }));
        EXPECT_TRUE(std::all_of(gButtonReport.begin(), gButtonReport.end(), [](auto b) { return b == 0; }))
            << "the report is cleared after each press";
    }
    QTest::qWait(50);
    EXPECT_EQ(target.count(), 3);
    EXPECT_EQ(camera->pendingReads(), 1u) << "one read is pending at a time";
    EXPECT_TRUE(target.allOnThread(thread->listenerThread()));
}

TEST_F(ListenerFakeHost, ACompletionWithAnErrorCountsAsAPress)
{
    auto camera = addCamera(listener::kListenerProductId, 0x01420000);
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    ASSERT_TRUE(camera->completeRead(usb::kUsbErrorIo));
    ASSERT_TRUE(waitUntil([&] { return target.count() == 1 && armed(*camera); }));
}

TEST_F(ListenerFakeHost, KillLetsGoOfTheInterfaceAndUnkillListensAgain)
{
    auto camera = addCamera(listener::kListenerProductId, 0x01420000);
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));

    WebcamProcessor::killListener();
    EXPECT_EQ(gListenerKilled.load(), 1);
    // A press that lands just as the kill arrives: it is not a photo either way.
    camera->completeRead(usb::kUsbSuccess, kReport);
    ASSERT_TRUE(waitUntil([&] { return !camera->isOpen() && camera->pendingReads() == 0; }));
    QTest::qWait(50);
    EXPECT_EQ(target.count(), 0);

    WebcamProcessor::unkillListener();
    EXPECT_EQ(gListenerKilled.load(), 0);
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    EXPECT_EQ(target.count(), 0) << "the read cancelled by the kill is not a press";
    ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return target.count() == 1; }));
}

TEST_F(ListenerFakeHost, ManyQuickFocusClicksKeepOneReadAndLoseNoPress)
{
    auto camera = addCamera(listener::kListenerProductId, 0x01420000);
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
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
    EXPECT_EQ(target.count(), 0) << "kill and unkill alone take no photo";
    ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return target.count() == 1 && armed(*camera); }));
}

TEST_F(ListenerFakeHost, EachVariantListensToItsOwnProductOnly)
{
    for (const Variant variant : {Variant::Listener, Variant::Quillora}) {
        host = std::make_shared<FakeUsbHost>();
        auto other = addCamera(14096, 0x01100000);
        auto classic = addCamera(listener::kListenerProductId, 0x01200000);
        auto quillora = addCamera(listener::kListenerProductIdQuillora, 0x01300000);
        auto foreign = host->addDevice(0x1234, listener::kListenerProductId, "Other vendor", 0x01400000)
                           ->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
        start(variant);
        auto &mine = variant == Variant::Listener ? classic : quillora;
        auto &notMine = variant == Variant::Listener ? quillora : classic;
        ASSERT_TRUE(waitUntil([&] { return armed(*mine); }));
        QTest::qWait(50);
        EXPECT_EQ(notMine->openCount(), 0);
        EXPECT_EQ(other->openCount(), 0) << "product 14096 is never listened to";
        EXPECT_EQ(foreign->openCount(), 0);
        thread.reset();
    }
}

TEST_F(ListenerFakeHost, FocusBeforeTheFirstRunLeavesTheFlagAlone)
{
    auto camera = addCamera(listener::kListenerProductId, 0x01420000);
    start(Variant::Listener, 300ms);
    WebcamProcessor::killListener(); // focus during the wait
    EXPECT_EQ(gListenerKilled.load(), 0);
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); })) << "the first pass is armed";
    thread.reset();

    // And once the thread has ended (no camera: it ends right after its wait).
    host = std::make_shared<FakeUsbHost>();
    start();
    ASSERT_TRUE(ended());
    WebcamProcessor::killListener();
    EXPECT_EQ(gListenerKilled.load(), 0);
}

TEST_F(ListenerFakeHost, TwoCamerasAreHandledOneAfterTheOther)
{
    std::shared_ptr<FakeUsbDevice> firstDevice, secondDevice;
    auto first = addCamera(listener::kListenerProductId, 0x01100000, "First", &firstDevice);
    auto second = addCamera(listener::kListenerProductId, 0x01200000, "Second", &secondDevice);
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*first); }));
    QTest::qWait(50);
    EXPECT_EQ(second->openCount(), 0);

    // A third camera plugged in meanwhile waits its turn too.
    auto thirdDevice = host->plugIn(kVendor, listener::kListenerProductId, "Third", 0x01300000);
    auto third = thirdDevice->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
    QTest::qWait(50);
    EXPECT_EQ(third->openCount(), 0);

    firstDevice->unplug();
    ASSERT_TRUE(waitUntil([&] { return armed(*second); }));
    EXPECT_EQ(third->openCount(), 0);
    secondDevice->unplug();
    ASSERT_TRUE(waitUntil([&] { return armed(*third); }));
    thirdDevice->unplug();
    ASSERT_TRUE(ended());
    // Unplugged while armed: the failed read of each counts as its last press.
    EXPECT_EQ(target.count(), 3);
}

TEST_F(ListenerFakeHost, RemovalEndsTheLoopEvenWhileSuspended)
{
    std::shared_ptr<FakeUsbDevice> device;
    auto camera = addCamera(listener::kListenerProductId, 0x01420000, "Document Camera", &device);
    StdCapture capture;
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    WebcamProcessor::killListener();
    ASSERT_TRUE(waitUntil([&] { return !camera->isOpen(); }));
    device->unplug();
    ASSERT_TRUE(ended());
    capture.stop();
    EXPECT_EQ(capture.err(), "Document Camera\nStarting run loop.\n\nUnexpectedly back from CFRunLoopRun()!\n");
    EXPECT_EQ(capture.out(), "");
    EXPECT_EQ(target.count(), 0);
    WebcamProcessor::unkillListener(); // after the end: nothing
    EXPECT_EQ(gListenerKilled.load(), 1);
}

TEST_F(ListenerFakeHost, CamerasThatCannotBePreparedCostTheirLineAndAreSkipped)
{
    std::shared_ptr<FakeUsbDevice> noLocation, noConfiguration, busy, nameless;
    addCamera(listener::kListenerProductId, 0x01100000, "A", &noLocation);
    noLocation->setLocationResult(usb::kUsbErrorOverflow);
    addCamera(listener::kListenerProductId, 0x01200000, "B", &noConfiguration);
    noConfiguration->setFindResult(usb::kUsbErrorIo);
    addCamera(listener::kListenerProductId, 0x01300000, "C", &busy)->setOpenResult(usb::kUsbErrorBusy);
    auto last = addCamera(listener::kListenerProductId, 0x01400000, "", &nameless);

    StdCapture capture;
    start();
    const bool listening = waitUntil([&] { return armed(*last); });
    capture.stop();
    ASSERT_TRUE(listening);
    EXPECT_EQ(capture.err(), "GetLocationID returned 0xfffffff8.\n");
    EXPECT_EQ(capture.out(),
        "Unable to find interfaces on device: ffffffff\n"
        "Unable to open interface (fffffffa)\n"
        "Unable to find interfaces on device: fffffffa\n"
        "No Device!\n\n\n");
    // No input device stands in for the busy camera's interface: said once, to the log.
    const auto lines = qtMessages.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                  [](const std::string &l) { return l.find("no input device") != std::string::npos; }),
        1);
}

TEST_F(ListenerFakeHost, NoCameraOrNoHostEndsTheThreadWithItsLines)
{
    {
        StdCapture capture;
        start();
        ASSERT_TRUE(ended());
        capture.stop();
        EXPECT_EQ(capture.err(), "Starting run loop.\n\nUnexpectedly back from CFRunLoopRun()!\n");
        EXPECT_EQ(capture.out(), "");
    }
    {
        thread.reset();
        StdCapture capture;
        thread = startListener(Variant::Listener, &target, [] { return std::shared_ptr<usb::UsbHost>(); });
        ASSERT_TRUE(ended());
        capture.stop();
        EXPECT_EQ(capture.err(), "IOServiceMatching returned NULL.\n");
    }
}

TEST_F(ListenerFakeHost, StoppingEndsTheThreadPromptlyInEveryState)
{
    // During the start-up wait.
    start(Variant::Listener, 60s);
    QTest::qWait(20);
    auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(thread->stopListening(2s));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);

    // Armed, and inside a photo that takes a while: the photo finishes, nothing follows.
    auto camera = addCamera(listener::kListenerProductId, 0x01420000);
    std::atomic<bool> inPhoto{false};
    target.during = [&] {
        inPhoto = true;
        QThread::msleep(200);
    };
    StdCapture capture;
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return inPhoto.load(); }));
    ASSERT_TRUE(thread->stopListening(2s));
    capture.stop();
    EXPECT_EQ(target.count(), 1);
    EXPECT_FALSE(camera->isOpen());
    EXPECT_EQ(camera->pendingReads(), 0u);
    EXPECT_EQ(capture.out() + capture.err(), "") << "quitting prints nothing";
}

TEST_F(ListenerFakeHost, OneListenerRunsAtATime)
{
    // The listener's state is the process's: a second start (a second controller) is refused.
    auto camera = addCamera(listener::kListenerProductId, 0x01420000);
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    auto otherHost = std::make_shared<FakeUsbHost>();
    auto otherCamera = otherHost->addDevice(kVendor, listener::kListenerProductId, "Other", 0x01500000)
                           ->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
    CountingTarget otherTarget;
    auto second = startListener(Variant::Listener, &otherTarget, [otherHost] { return otherHost; });
    EXPECT_FALSE(second->isRunning());
    second.reset();
    QTest::qWait(50);
    EXPECT_EQ(otherCamera->openCount(), 0);
    ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return target.count() == 1 && armed(*camera); }));
}

TEST_F(ListenerFakeHost, ATimerStartedByAPressRunsOnTheListenerLoop)
{
    // snapshotByKey's hold timer is scheduled on the calling thread: the listener's loop serves it.
    auto camera = addCamera(listener::kListenerProductId, 0x01420000);
    std::atomic<QThread *> firedOn{nullptr};
    target.during = [&] { QTimer::singleShot(50, [&] { firedOn = QThread::currentThread(); }); };
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return firedOn.load() != nullptr; }));
    EXPECT_EQ(firedOn.load(), thread->listenerThread());
}

TEST(ListenerRunLoop, AStopIsKeptUntilTheNextRunAndStopsOnlyIt)
{
    listener::ListenerRunLoop loop;
    loop.stop();
    loop.run(); // returns at once: the stop came before it
    bool ranLater = false;
    QTimer::singleShot(30, [&] { ranLater = true; });
    std::thread other([&] {
        std::this_thread::sleep_for(100ms);
        loop.stop();
    });
    loop.run(); // until the other thread's stop, serving the timer meanwhile
    other.join();
    EXPECT_TRUE(ranLater);
}

} // namespace
