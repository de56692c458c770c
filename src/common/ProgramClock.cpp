// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProgramClock.h"

#include <QTimer>

#include <atomic>

namespace quillora {

namespace {

// The steady clock's timers: a QTimer on the context's thread, precise, since a count shown
// to the user or a hold of two seconds should not drift by the coarse timer's 5 %.
class SteadyTimer final : public ClockTimer {
public:
    SteadyTimer(QObject *context, std::function<void()> fire, Clock::Repeat repeat)
    {
        if (!context)
            return;
        m_timer = new QTimer(context); // the context owns it; the QPointer sees it go
        m_timer->setTimerType(Qt::PreciseTimer);
        m_timer->setSingleShot(repeat == Clock::Repeat::Once);
        QObject::connect(m_timer, &QTimer::timeout, m_timer, std::move(fire));
    }
    ~SteadyTimer() override { delete m_timer.data(); }
    SteadyTimer(const SteadyTimer &) = delete;
    SteadyTimer &operator=(const SteadyTimer &) = delete;

    void start(std::chrono::milliseconds interval) override
    {
        if (m_timer)
            m_timer->start(interval);
    }
    void stop() override
    {
        if (m_timer)
            m_timer->stop();
    }
    bool isActive() const override { return m_timer && m_timer->isActive(); }

private:
    QPointer<QTimer> m_timer;
};

class SteadyClock final : public Clock {
public:
    std::chrono::microseconds now() const override
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
    std::unique_ptr<ClockTimer> makeTimer(QObject *context, std::function<void()> fire, Repeat repeat) override
    {
        return std::make_unique<SteadyTimer>(context, std::move(fire), repeat);
    }
    void singleShot(std::chrono::milliseconds delay, QObject *context, std::function<void()> fire) override
    {
        if (context)
            QTimer::singleShot(delay, Qt::PreciseTimer, context, std::move(fire));
    }
};

SteadyClock gSteadyClock;
std::atomic<Clock *> gClock{nullptr}; // a test's clock, or nullptr for the steady one

} // namespace

Clock &programClock()
{
    Clock *clock = gClock.load();
    return clock ? *clock : gSteadyClock;
}

void setProgramClock(Clock *clock)
{
    gClock.store(clock);
}

} // namespace quillora
