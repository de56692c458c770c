// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the benchmarks share: the process's CPU time, and the controller's way of keeping the
// newest frame (so the hand-off costs in a benchmark what it costs in the program).
#include "DecompressedVideoOutput.h"
#include "Frame.h"

#include <sys/resource.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace quillora::bench {

// User and system CPU seconds this process has used so far.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct KeepNewest : capture::DecompressedVideoOutputDelegate {
    std::atomic<long> frames{0};
    std::mutex mutex; // guards newest
    capture::Frame newest;
    void captureOutputDidOutputVideoFrame(capture::DecompressedVideoOutput *, const capture::Frame &frame) override
    {
        capture::Frame exchanged = frame;
        {
            std::lock_guard lock(mutex);
            std::swap(newest, exchanged);
        }
        frames.fetch_add(1);
    }
};

} // namespace quillora::bench
