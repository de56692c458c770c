// SPDX-License-Identifier: GPL-3.0-or-later
// The frame hand-off between the streaming thread and its readers: readers always get a whole,
// live frame while the writer replaces it as fast as it can. Run under ThreadSanitizer too.
#include "VemoViewController.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using quillora::capture::Frame;

namespace {

// Every pixel of frame n holds n, so a reader can tell a torn or freed frame from a whole one.
Frame taggedFrame(quint32 n)
{
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(QColor::fromRgb(0xFF000000u | n));
    return Frame::fromImage(image);
}

} // namespace

TEST(FrameHandOff, ConcurrentReadersAlwaysSeeAWholeFrame)
{
    quillora::app::VemoViewController controller;
    EXPECT_FALSE(controller.currentFrame());
    constexpr quint32 kFrames = 3000;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, reads{0};
    std::vector<std::jthread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            while (!done.load()) {
                const QImage image = controller.currentFrame().image();
                if (image.isNull())
                    continue;
                torn += image.pixel(15, 7) != image.pixel(0, 0) || image.pixel(7, 3) != image.pixel(0, 0);
                ++reads;
            }
        });
    std::thread([&] {
        // The readers are running before the rest is written (a loaded machine may start them
        // late), so the writes race the reads.
        controller.captureOutputDidOutputVideoFrame(nullptr, taggedFrame(1));
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (reads.load() == 0 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::yield();
        for (quint32 n = 2; n <= kFrames; ++n)
            controller.captureOutputDidOutputVideoFrame(nullptr, taggedFrame(n));
        done.store(true);
    }).join();
    readers.clear();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    // The newest frame is the one kept, not a copy of it, and it outlives the writer.
    EXPECT_EQ(controller.currentFrame().image().pixel(0, 0) & 0xFFFFFFu, kFrames);
    const Frame frame = taggedFrame(7);
    controller.captureOutputDidOutputVideoFrame(nullptr, frame);
    EXPECT_EQ(controller.currentFrame().image().constBits(), frame.image().constBits());
}
