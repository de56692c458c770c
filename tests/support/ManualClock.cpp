// SPDX-License-Identifier: GPL-3.0-or-later
#include "ManualClock.h"

#include <QPointer>
#include <QThread>

#include <list>
#include <mutex>

namespace quillora::test {

using std::chrono::microseconds;

struct ManualClock::Timers {
    struct Entry {
        QPointer<QObject> context;
        std::function<void()> fire;
        microseconds due{}, interval{};
        bool repeating = false, active = false, owned = true; // a single shot is no one's: dropped once fired
    };
    std::mutex mutex; // guards every field: timers are made and the time read from any thread
    microseconds now{0};
    std::list<Entry> entries;
};

namespace {

class ManualTimer final : public ClockTimer {
public:
    using Entry = std::list<ManualClock::Timers::Entry>::iterator;
    ManualTimer(std::shared_ptr<ManualClock::Timers> timers, Entry entry)
        : m_timers(std::move(timers))
        , m_entry(entry)
    {
    }
    ~ManualTimer() override
    {
        std::lock_guard lock(m_timers->mutex);
        m_timers->entries.erase(m_entry);
    }
    void start(std::chrono::milliseconds interval) override
    {
        std::lock_guard lock(m_timers->mutex);
        // A zero interval repeats at every pass of a real event loop; here it would hold the clock.
        m_entry->interval = std::max<microseconds>(interval, std::chrono::milliseconds(1));
        m_entry->due = m_timers->now + m_entry->interval;
        m_entry->active = true;
    }
    void stop() override
    {
        std::lock_guard lock(m_timers->mutex);
        m_entry->active = false;
    }
    bool isActive() const override
    {
        std::lock_guard lock(m_timers->mutex);
        return m_entry->active;
    }

private:
    std::shared_ptr<ManualClock::Timers> m_timers;
    Entry m_entry;
};

} // namespace

ManualClock::ManualClock()
    : m_timers(std::make_shared<Timers>())
{
    setProgramClock(this);
}

ManualClock::~ManualClock()
{
    setProgramClock(nullptr);
}

microseconds ManualClock::now() const
{
    std::lock_guard lock(m_timers->mutex);
    return m_timers->now;
}

std::unique_ptr<ClockTimer> ManualClock::makeTimer(QObject *context, std::function<void()> fire, Repeat repeat)
{
    std::lock_guard lock(m_timers->mutex);
    m_timers->entries.push_back({context, std::move(fire), {}, {}, repeat == Repeat::Every});
    return std::make_unique<ManualTimer>(m_timers, std::prev(m_timers->entries.end()));
}

void ManualClock::singleShot(std::chrono::milliseconds delay, QObject *context, std::function<void()> fire)
{
    std::lock_guard lock(m_timers->mutex);
    m_timers->entries.push_back(
        {context, std::move(fire), m_timers->now + delay, {}, false, context != nullptr, false});
}

void ManualClock::advance(microseconds time)
{
    std::unique_lock lock(m_timers->mutex);
    const microseconds end = m_timers->now + time;
    const auto here
        = [](const Timers::Entry &e) { return e.context && e.context->thread() == QThread::currentThread(); };
    for (;;) {
        // The earliest due timer of this thread; of two due at once, the one made first.
        auto next = m_timers->entries.end();
        for (auto it = m_timers->entries.begin(); it != m_timers->entries.end(); ++it)
            if (it->active && it->due <= end && here(*it) && (next == m_timers->entries.end() || it->due < next->due))
                next = it;
        if (next == m_timers->entries.end())
            break;
        m_timers->now = std::max(m_timers->now, next->due);
        std::function<void()> fire = next->fire;
        next->active = next->repeating;
        next->due += next->interval;
        if (!next->owned)
            m_timers->entries.erase(next);
        lock.unlock(); // what it calls may start, stop or make timers
        fire();
        lock.lock();
    }
    m_timers->now = end;
}

} // namespace quillora::test
