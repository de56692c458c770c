// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The run loop of the listener thread: runs the thread's Qt event loop until it is stopped.
// Unlike QEventLoop::quit(), a stop that comes while the loop is not running is kept and makes
// the next run() return at once, so a kill or unkill that falls between two passes of the
// listener is never lost.
//
// Another thread stops it through an eventfd that the loop's thread watches, not a posted
// event: nothing allocated on one thread is handed to the other, and the stop itself is an
// atomic flag, so the hand-over is one ThreadSanitizer can follow.
#include "UniqueFd.h"

#include <QObject>

#include <atomic>
#include <memory>

class QEventLoop;
class QSocketNotifier;

namespace quillora::listener {

class ListenerRunLoop : public QObject {
public:
    // Made on the thread whose event loop it runs; lives and goes there.
    ListenerRunLoop();
    ~ListenerRunLoop() override;

    // Runs the thread's event loop until stop(); returns at once when a stop is already pending.
    // Called on the loop's own thread only.
    void run();
    // Makes the current run (or else the next one) return. Any thread; never waits.
    void stop();

private:
    void woken();

    // Set by stop(), taken by the run that returns because of it.
    std::atomic<bool> m_stopPending{false};
    UniqueFd m_wake;                         // eventfd: stop() writes, the loop's thread reads
    std::unique_ptr<QSocketNotifier> m_notifier; // watches m_wake on the loop's thread
    QEventLoop *m_running = nullptr;             // the innermost run's loop; the loop's thread only
};

} // namespace quillora::listener
