// SPDX-License-Identifier: GPL-3.0-or-later
// The listener through a fake USB host whose reads complete when the test says so.
#include "FakeUsbHost.h"
#include "HandOff.h"
#include "ListenerTestSupport.h"
#include "LogSpy.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

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

class ListenerFakeHost : public ::testing::Test {
protected:
    std::shared_ptr<FakeUsbHost> host = std::make_shared<FakeUsbHost>();
    CountingTarget target;
    std::unique_ptr<listener::ListenerThread> thread;
    std::optional<LogSpy> log{std::in_place}; // keeps the listener's Qt messages off stderr

    void TearDown() override { thread.reset(); }
    std::pair<std::shared_ptr<usb::fake::FakeUsbDevice>, std::shared_ptr<FakeUsbInterface>> addCamera(
        std::uint32_t location = 0x01420000, std::string name = "Camera")
    {
        auto device = host->addDevice(kVendor, kProduct, std::move(name), location);
        return {device, device->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass)};
    }
    void start(std::chrono::milliseconds delay = 0ms)
    {
        thread = startListener(
            Variant::Listener, &target, [h = host] { return h; }, delay);
    }
    static bool armed(const FakeUsbInterface &i) { return i.isOpen() && i.pendingReads() == 1; }
};

// Each completed read while armed is one photo on the listener thread; a kill lets go of the
// interface and no press counts until the unkill; quick kills and unkills keep one read.
TEST_F(ListenerFakeHost, PressesWhileArmedTakeOnePhotoEachAndNoneWhileKilled)
{
    auto camera = addCamera().second;
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    for (int press = 1; press <= 2; ++press) {
        ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
        ASSERT_TRUE(waitUntil([&] { return target.count == press && armed(*camera); }));
    }

    WebcamProcessor::killListener();
    camera->completeRead(usb::kUsbSuccess, kReport); // lands just as the kill arrives
    ASSERT_TRUE(waitUntil([&] { return !camera->isOpen() && camera->pendingReads() == 0; }));
    WebcamProcessor::unkillListener();
    for (int i = 0; i < 200; ++i) {
        WebcamProcessor::killListener();
        if (i % 7 == 0)
            std::this_thread::yield();
        WebcamProcessor::unkillListener();
        ASSERT_LE(camera->pendingReads(), 1u);
    }
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    EXPECT_EQ(target.count, 2) << "neither the cancelled read nor kill and unkill are presses";
    ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return target.count == 3 && armed(*camera); }));
    EXPECT_EQ(target.offThread, 0);
}

// A read that fails is no press (a camera whose reads keep failing would take a photo every two
// seconds): the failure is logged once and the read queued again after a delay that doubles up to
// its bound. A completed read is a press again and starts the delays afresh; a kill and unkill
// while a retry waits do not cut the wait short.
TEST_F(ListenerFakeHost, AFailingReadIsNoPressAndIsQueuedAgainLaterAndLater)
{
    auto camera = addCamera().second;
    std::mutex mutex; // guards delays and mailbox
    std::vector<long> delays;
    // Where the test hands the held retry back to the listener thread: it lives in that thread,
    // and hands work over under a lock the sanitizer sees (a lambda posted through Qt's event
    // queue would be freed by whichever thread lets go of it last, out of its sight).
    std::unique_ptr<Mailbox> mailbox;
    std::function<void()> held; // a retry the test fires itself; the listener thread's alone
    std::atomic<bool> holdNext{false};
    listener::ListenerSetup setup;
    setup.makeHost = [h = host] { return h; };
    setup.startDelay = 0ms;
    setup.sysRoot = "/nonexistent/sys";
    setup.devRoot = "/nonexistent/dev";
    setup.retryAfter = [&](std::chrono::milliseconds delay, std::function<void()> retry) {
        // Served at once: the test sees the delays asked for without waiting them out.
        std::lock_guard lock(mutex);
        delays.push_back(long(delay.count()));
        if (holdNext.exchange(false)) {
            held = std::move(retry);
            mailbox = std::make_unique<Mailbox>();
        } else
            QTimer::singleShot(0, std::move(retry));
    };
    const auto asked = [&] {
        std::lock_guard lock(mutex);
        return delays;
    };
    thread = startListener(Variant::Listener, &target, std::move(setup));
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    const usb::UsbResult failures[] = {usb::kUsbErrorIo, usb::kUsbErrorPipe, usb::kUsbErrorIo, usb::kUsbErrorOverflow,
        usb::kUsbErrorIo, usb::kUsbErrorIo, usb::kUsbErrorIo, usb::kUsbErrorIo, usb::kUsbErrorIo};
    for (size_t i = 0; i < std::size(failures); ++i) {
        ASSERT_TRUE(camera->completeRead(failures[i], kReport));
        ASSERT_TRUE(waitUntil([&] { return asked().size() == i + 1 && armed(*camera); })) << i;
    }
    EXPECT_EQ(target.count, 0) << "a failed read is no press";
    EXPECT_EQ(asked(), (std::vector<long>{100, 200, 400, 800, 1600, 3200, 5000, 5000, 5000}));
    EXPECT_EQ(log->count("quillora.listener: button read failed"), 1) << log->lines().join('\n').toStdString();

    ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return target.count == 1 && armed(*camera); }));
    holdNext = true;
    ASSERT_TRUE(camera->completeRead(usb::kUsbErrorIo, kReport));
    ASSERT_TRUE(waitUntil([&] { return asked().size() == std::size(failures) + 1; }));
    EXPECT_EQ(asked().back(), 100) << "a completed read starts the delays afresh";
    EXPECT_EQ(log->count("quillora.listener: button read failed"), 2);
    WebcamProcessor::killListener();
    ASSERT_TRUE(waitUntil([&] { return !camera->isOpen(); }));
    WebcamProcessor::unkillListener();
    ASSERT_TRUE(waitUntil([&] { return camera->isOpen(); }));
    EXPECT_EQ(camera->pendingReads(), 0u) << "the retry still waits";
    {
        std::lock_guard lock(mutex);
        ASSERT_TRUE(mailbox);
        mailbox->post([&] { std::exchange(held, nullptr)(); });
    }
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return target.count == 2 && armed(*camera); }));
    EXPECT_EQ(target.offThread, 0);
    thread.reset(); // the mailbox is deleted once the thread it lives in has ended
}

// Unplugged while armed, the listener moves on to the next camera; unplugged while killed, the loop ends.
TEST_F(ListenerFakeHost, UnpluggingEndsTheReadCleanly)
{
    auto [first, firstInterface] = addCamera(0x01100000, "First");
    auto [second, secondInterface] = addCamera(0x01200000, "Second");
    log.emplace(LogSpy::Streams::Captured);
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*firstInterface); }));
    EXPECT_EQ(secondInterface->openCount(), 0);
    first->unplug();
    ASSERT_TRUE(waitUntil([&] { return armed(*secondInterface); }));
    WebcamProcessor::killListener();
    ASSERT_TRUE(waitUntil([&] { return !secondInterface->isOpen(); }));
    second->unplug();
    ASSERT_TRUE(waitUntil([&] { return !thread->isRunning(); }));
    EXPECT_EQ(log->standardError(), "First\nSecond\nStarting run loop.\n\nUnexpectedly back from CFRunLoopRun()!\n");
    WebcamProcessor::unkillListener(); // after the end: nothing
    EXPECT_EQ(gListenerKilled.load(), 1);
}

// Stopping ends the thread in the start-up wait without waiting it out, and inside a photo of a
// fifth of a second, which finishes, silently.
TEST_F(ListenerFakeHost, StoppingEndsTheThreadWithoutWaitingOutTheStartUpDelay)
{
    start(600s);
    ASSERT_TRUE(thread->stopListening(test::stretched(20s)));

    auto camera = addCamera().second;
    std::atomic<bool> inPhoto{false};
    target.during = [&] {
        inPhoto = true;
        QThread::msleep(200);
    };
    log.emplace(LogSpy::Streams::Captured);
    start();
    ASSERT_TRUE(waitUntil([&] { return armed(*camera); }));
    ASSERT_TRUE(camera->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return inPhoto.load(); }));
    ASSERT_TRUE(thread->stopListening(test::stretched(20s)));
    EXPECT_EQ(target.count, 1);
    EXPECT_FALSE(camera->isOpen());
    EXPECT_EQ(camera->pendingReads(), 0u);
    EXPECT_EQ(log->standardOutput() + log->standardError(), "") << "quitting prints nothing";
}

} // namespace
