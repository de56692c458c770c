#pragma once
// The run loop of the listener thread: runs the thread's Qt event loop until it is stopped.
// Unlike QEventLoop::quit(), a stop that comes while the loop is not running is kept and makes
// the next run() return at once, so a kill or unkill that falls between two passes of the
// listener is never lost.
#include <QObject>

#include <atomic>

class QEventLoop;

namespace quillora::listener {

class ListenerRunLoop : public QObject {
public:
    // Made on the thread whose event loop it runs; lives there.
    ListenerRunLoop();
    ~ListenerRunLoop() override;

    // Runs the thread's event loop until stop(); returns at once when a stop is already pending.
    // Called on the loop's own thread only.
    void run();
    // Makes the current run (or else the next one) return. Any thread; never waits.
    void stop();

protected:
    bool event(QEvent *event) override;

private:
    // Set by stop(), taken by the run that returns because of it.
    std::atomic<bool> m_stopPending{false};
    // The innermost run's event loop; touched on the loop's own thread only.
    QEventLoop *m_running = nullptr;
};

} // namespace quillora::listener
