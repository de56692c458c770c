// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A program clock that stands still until the test moves it: the button's hold, the recording
// indicator, the status line, a movie's finish and longest length and the settling of camera
// events then happen when the test says, however slowly a loaded machine runs.
#include "ProgramClock.h"

#include <chrono>
#include <memory>

namespace quillora::test {

class ManualClock final : public Clock {
public:
    // Becomes the program's clock for the objects made while it lives.
    ManualClock();
    ~ManualClock() override;
    ManualClock(const ManualClock &) = delete;
    ManualClock &operator=(const ManualClock &) = delete;

    std::chrono::microseconds now() const override;
    std::unique_ptr<ClockTimer> makeTimer(QObject *context, std::function<void()> fire, Repeat repeat) override;
    void singleShot(std::chrono::milliseconds delay, QObject *context, std::function<void()> fire) override;

    // Moves the clock on by `time`, stopping at each timer of this thread that falls due on the
    // way, in order: each has run when this returns. A timer whose context lives on another
    // thread fires when that thread moves the clock.
    void advance(std::chrono::microseconds time);

    struct Timers; // the timers, shared with each timer made here

private:
    std::shared_ptr<Timers> m_timers;
};

} // namespace quillora::test
