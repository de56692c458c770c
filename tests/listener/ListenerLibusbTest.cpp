// SPDX-License-Identifier: GPL-3.0-or-later
// The listener on the real libusb host against the emulated camera (EmulatedCamera.h, under
// umockdev-wrapper), whose interface no driver holds: a press completes the interrupt URB on the
// listener thread; a kill discards it and releases the interface, an unkill claims it again.
#include "EmulatedCamera.h"
#include "ListenerTestSupport.h"
#include "LogSpy.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace quillora;
using namespace std::chrono_literals;
using test::waitUntil;

namespace {

TEST(ListenerOnLibusb, APressCompletesTheInterruptReadOnTheListenerThread)
{
    test::EmulatedCameraBed bed;
    ASSERT_EQ(bed.error(), "");
    test::EmulatedWire &wire = bed.wire;
    test::CountingTarget target;
    test::LogSpy log;
    const auto press = [&] {
        std::lock_guard lock(wire.mutex);
        ++wire.presses;
    };
    auto thread = test::startListener(test::Variant::Quillora, &target, {}, 0ms, "/sys", "/dev");
    for (int photo = 1; photo <= 2; ++photo) {
        ASSERT_TRUE(waitUntil([&] { return wire.pendingReads() == 1; })) << "an interrupt URB on endpoint 0x83";
        press();
        ASSERT_TRUE(waitUntil([&] { return target.count == photo; }));
    }
    EXPECT_EQ(target.offThread, 0);
    ASSERT_TRUE(waitUntil([&] { return wire.pendingReads() == 1; }));
    listener::WebcamProcessor::killListener();
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(wire.mutex);
        return wire.releases.size() == 1 && wire.flying.empty() && wire.discarded.empty();
    }));
    listener::WebcamProcessor::unkillListener();
    ASSERT_TRUE(waitUntil([&] { return wire.pendingReads() == 1; }));
    EXPECT_EQ(target.count, 2) << "the discarded read is no press";
    press();
    ASSERT_TRUE(waitUntil([&] { return target.count == 3; }));
    std::lock_guard lock(wire.mutex);
    EXPECT_EQ(wire.claims, (std::vector<int>{0, 0}));
    EXPECT_TRUE(wire.controlUrbs.empty());
}

} // namespace
