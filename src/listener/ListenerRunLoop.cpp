// SPDX-License-Identifier: GPL-3.0-or-later
#include "ListenerRunLoop.h"

#include <QEventLoop>
#include <QSocketNotifier>

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace quillora::listener {

ListenerRunLoop::ListenerRunLoop()
    : m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    // Making an event loop gives the thread its event dispatcher (a thread Qt did not start has
    // none until then), which the notifiers and timers of the USB layer need from the start.
    QEventLoop dispatcherFirst;
    if (m_wake) {
        m_notifier = std::make_unique<QSocketNotifier>(m_wake.get(), QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { woken(); });
    }
}

ListenerRunLoop::~ListenerRunLoop() = default;

void ListenerRunLoop::run()
{
    if (m_stopPending.exchange(false))
        return;
    QEventLoop loop;
    QEventLoop *outer = std::exchange(m_running, &loop);
    // A stop between the check above and exec() has made the eventfd readable: it ends this
    // run as soon as the run starts.
    loop.exec();
    m_running = outer;
}

void ListenerRunLoop::stop()
{
    m_stopPending.store(true);
    const std::uint64_t one = 1;
    // A full counter (never in practice) is already readable, which is all the wake needs.
    [[maybe_unused]] const ssize_t written = ::write(m_wake.get(), &one, sizeof one);
}

void ListenerRunLoop::woken()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = ::read(m_wake.get(), &count, sizeof count);
    // Outside a run (no loop of ours is running) the stop stays pending for the next run.
    if (m_running && m_stopPending.exchange(false))
        m_running->quit();
}

} // namespace quillora::listener
