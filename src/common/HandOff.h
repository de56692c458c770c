// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Handing work from one thread to another. The libraries that carry it (Qt's event queues,
// GLib's and GStreamer's locks and queues) are not built with ThreadSanitizer and lock with
// futexes it cannot see. Work handed over through a Mailbox travels under a lock of the C++
// library, which it sees; a hand-off made by a library alone is told to it with handOff and
// takeOver. In every other build the telling costs nothing.
#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace quillora {

// What this thread did so far is handed over with `token` (any address both sides know) ...
void handOff(const void *token);
// ... and seen by the thread that takes it over afterwards.
void takeOver(const void *token);

// Hands over with `token` what the scope it lives in did, however the scope ends. An element of
// ours takes a streaming thread's calls this way, and its finalize takes them over: GLib's
// reference count, which the sanitizer cannot see, decides which thread lets go of it last (a
// thread of GLib's pool that asked the pipeline's latency, say), not the one that joined the
// streaming thread.
class HandOffOnExit {
public:
    explicit HandOffOnExit(const void *token)
        : m_token(token)
    {
    }
    ~HandOffOnExit() { handOff(m_token); }
    HandOffOnExit(const HandOffOnExit &) = delete;
    HandOffOnExit &operator=(const HandOffOnExit &) = delete;

private:
    const void *m_token;
};

// Work for the thread the mailbox lives in, run from that thread's event loop in the order it
// was posted; dropped when the mailbox goes first.
class Mailbox : public QObject {
    Q_OBJECT
public:
    explicit Mailbox(QObject *parent = nullptr);
    // From any thread. Everything the posting thread did before is ordered before `work`.
    void post(std::function<void()> work);

private Q_SLOTS:
    void deliver();

private:
    std::mutex m_mutex; // guards m_work
    std::deque<std::function<void()>> m_work;
};

} // namespace quillora
