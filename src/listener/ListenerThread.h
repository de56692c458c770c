// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The thread the snapshot-button listener lives on. Its body is one of WebcamProcessor's
// register functions; going away asks the listener to stop and waits for the thread, a bounded
// time, so that the listener never calls into a controller that is gone.
//
// A std::thread that Qt adopts (the listener gives it an event dispatcher and runs its own
// QEventLoop on it): its end is a real join, which ThreadSanitizer sees, where QThread's
// hand-over at its end goes through Qt's own futex locks that it cannot see.
#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QThread;

namespace quillora::listener {

class ListenerThread : public QObject {
public:
    explicit ListenerThread(std::function<void()> body);
    ~ListenerThread() override;

    // Starts the thread with fresh listener state. One listener thread runs at a time in the
    // process: while one runs, another start does nothing.
    void startListening();
    // Asks the listener to end and waits for its thread at most `bound`; true when it ended.
    bool stopListening(std::chrono::milliseconds bound = std::chrono::seconds(5));
    bool isRunning() const;
    // Qt's object for the thread, once it runs; null before.
    QThread *listenerThread() const { return m_state->qthread.load(); }

private:
    // What the thread uses: shared with it, so that a thread left running past the bound never
    // touches an owner that is gone.
    struct State {
        std::function<void()> body;
        std::atomic<QThread *> qthread{nullptr};
        std::mutex mutex;              // guards finished
        std::condition_variable ended; // signals finished
        bool finished = false;         // the body has returned
    };
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

} // namespace quillora::listener
