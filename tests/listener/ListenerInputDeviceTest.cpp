// SPDX-License-Identifier: GPL-3.0-or-later
// The input-device road under umockdev-wrapper: the video driver holds the camera's interface, so the
// listener reads KEY_CAMERA presses from the driver's input device, here an emulated one the test
// writes each press into when it wants it.
#include "CameraOnPort42.h"
#include "EmulatedMachine.h"
#include "FakeUsbHost.h"
#include "ListenerTestSupport.h"
#include "LogSpy.h"
#include "Sysfs.h"
#include "TestSupport.h"
#include "UniqueFd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/eventfd.h>
#include <thread>
#include <umockdev.h>
#include <unistd.h>

using namespace quillora;
using namespace quillora::test;
using namespace std::chrono_literals;

namespace {

// One press and release of the camera's button, as the kernel reports it.
void press(int button)
{
    std::vector<input_event> events;
    for (int value : {1, 0}) {
        events.push_back(input_event{{}, EV_KEY, KEY_CAMERA, value});
        events.push_back(input_event{{}, EV_SYN, SYN_REPORT, 0});
    }
    const auto size = ssize_t(events.size() * sizeof(input_event));
    ASSERT_EQ(::write(button, events.data(), size_t(size)), size);
}

// One photo per press on the listener thread; none for an event from before the listener
// listened, or for a press while killed; the interface the driver holds is never claimed.
TEST(ListenerInputDevice, EachPressTakesOnePhotoExceptWhileKilled)
{
    EmulatedMachine machine;
    ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
    ASSERT_TRUE(machine.add(CameraOnPort42{0x037a, "Quillora", {}, true, {}, 7}.describe()));
    const int button = umockdev_testbed_get_dev_fd(machine.testbed(), "/dev/input/event7");
    ASSERT_GE(button, 0);
    auto host = std::make_shared<usb::fake::FakeUsbHost>();
    auto camera = host->addDevice(0x090c, listener::kListenerProductIdQuillora, "Quillora", kCameraLocation)
                      ->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
    CountingTarget target;
    LogSpy log;
    const QString listening = "quillora.listener: listening to the camera's button on /dev/input/event7";

    press(button); // before the listener listens: not a press of its
    auto thread = startListener(
        Variant::Quillora, &target, [host] { return host; }, 0ms, "/sys", "/dev");
    ASSERT_TRUE(log.waitFor(listening));
    for (int photo = 1; photo <= 2; ++photo) {
        press(button);
        ASSERT_TRUE(waitUntil([&] { return target.count == photo; }));
    }
    listener::WebcamProcessor::killListener();
    ASSERT_TRUE(log.waitFor("quillora.listener: no longer listening to the camera's button"));
    press(button);
    listener::WebcamProcessor::unkillListener();
    ASSERT_TRUE(log.waitFor(listening, 2));
    press(button);
    ASSERT_TRUE(waitUntil([&] { return target.count >= 3; }));
    thread.reset();
    EXPECT_EQ(target.count, 3) << "the press while killed was taken";
    EXPECT_EQ(target.offThread, 0);
    EXPECT_EQ(camera->openCount(), 0);
}

// The listener's thread makes its wake-up descriptor and lets go of it; the main thread is then
// given the same number by the kernel for a folder it lists, and nothing orders the two threads
// but the kernel. Inside umockdev, whose preload hides every close from ThreadSanitizer, the
// folder's close was reported as racing the listener's long-gone descriptor.
TEST(ListenerInputDevice, ANumberTheListenerLetGoOfIsNobodysButItsNextOwners)
{
    EmulatedMachine machine;
    ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
    int reused = 0;
    for (int round = 0; round < 3; ++round) {
        std::atomic<int> letGo{-1}; // relaxed on purpose: the sanitizer sees no order through it
        std::thread listenerThread([&letGo] {
            UniqueFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
            const int number = wake.get();
            wake.reset();
            letGo.store(number, std::memory_order_relaxed);
        });
        ASSERT_TRUE(waitUntil([&] { return letGo.load(std::memory_order_relaxed) >= 0; }));
        {
            // The lowest free number, which the folder below is opened with too.
            UniqueFd probe(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            reused += probe.get() == letGo.load(std::memory_order_relaxed);
        }
        EXPECT_FALSE(devices::directoryEntries("/").empty());
        listenerThread.join();
    }
    // Another thread of the process (umockdev's, GLib's) may take the number first, now and then.
    EXPECT_GT(reused, 0) << "the listener's number was never given to the main thread";
}

} // namespace
