// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the program's timed behaviour gets its time: the camera button's hold, the recording
// indicator's count, how long a status message stays, a movie's finish and longest length,
// the settling of camera events. It is the steady clock with Qt's timers, except in tests,
// which put a clock of their own in place and move it by hand, so that nothing they check
// depends on how fast a loaded machine runs.
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

namespace quillora {

// A timer of a clock: calls its function on its context's thread, once (single shot) or every
// interval, until stopped or until the context or the timer goes. Used on the context's thread.
class ClockTimer {
public:
    virtual ~ClockTimer() = default;
    // (Re)starts it: the first call after `interval`.
    virtual void start(std::chrono::milliseconds interval) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

class Clock {
public:
    enum class Repeat { Once, Every };
    virtual ~Clock() = default;
    // Monotonic time since a fixed moment of this clock; any thread.
    virtual std::chrono::microseconds now() const = 0;
    // A timer that calls `fire` on `context`'s thread; nothing ever fires without a context.
    virtual std::unique_ptr<ClockTimer> makeTimer(QObject *context, std::function<void()> fire, Repeat repeat) = 0;
    // Calls `fire` once on `context`'s thread after `delay`, unless the context goes first.
    virtual void singleShot(std::chrono::milliseconds delay, QObject *context, std::function<void()> fire) = 0;
};

// The clock the program runs on. Objects take it when they are made and keep it.
Clock &programClock();

// For tests: `clock` becomes the program's clock for objects made from now on; nullptr puts
// the steady clock back. The clock must outlive every object made with it.
void setProgramClock(Clock *clock);

} // namespace quillora
