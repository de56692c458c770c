// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A one-shot countdown that something on screen hides by (the pointer in full screen, the zoom
// factor over the picture): Qt's timer in the program. Tests put in one they run out themselves,
// so that what happens after two seconds is checked without waiting two seconds. Main thread.
#include <QTimer>

#include <functional>

namespace quillora::app {

class Countdown {
public:
    virtual ~Countdown() = default;
    // Starts it, or starts it again from the beginning: `milliseconds` from now it runs out.
    virtual void start(int milliseconds) = 0;
    virtual void stop() = 0;
    // What is done when it runs out.
    void onRunOut(std::function<void()> action) { m_action = std::move(action); }

protected:
    void runOut()
    {
        if (m_action)
            m_action();
    }

private:
    std::function<void()> m_action;
};

// The program's countdown: a single-shot QTimer.
class TimerCountdown : public Countdown {
public:
    TimerCountdown()
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { runOut(); });
    }
    void start(int milliseconds) override { m_timer.start(milliseconds); }
    void stop() override { m_timer.stop(); }

private:
    QTimer m_timer;
};

} // namespace quillora::app
