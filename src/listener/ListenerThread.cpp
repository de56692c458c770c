// SPDX-License-Identifier: GPL-3.0-or-later
#include "ListenerThread.h"

#include "ListenerLog.h"
#include "WebcamProcessor.h"

#include <QThread>

namespace quillora::listener {

namespace {
// The listener's state is the process's: one listener thread may run at a time. Set by the
// start that wins, cleared by that thread once its body has let go of the state.
std::atomic<bool> gListenerThreadActive{false};
} // namespace

ListenerThread::ListenerThread(std::function<void()> body)
    : m_state(std::make_shared<State>())
{
    m_state->body = std::move(body);
}

ListenerThread::~ListenerThread()
{
    if (stopListening())
        return;
    // A listener stuck this long (a photo that never returns) is left running until the
    // process ends; waiting longer would hang the quit.
    qCWarning(lcListener, "the listener thread did not end in time; it is left to the end of the process");
    m_thread.detach();
}

void ListenerThread::startListening()
{
    if (m_thread.joinable())
        return;
    if (gListenerThreadActive.exchange(true)) {
        qCInfo(lcListener, "a snapshot-button listener already runs in this process; not starting another");
        return;
    }
    WebcamProcessor::prepareStart();
    m_thread = std::thread([state = m_state] {
        state->qthread.store(QThread::currentThread());
        state->body();
        gListenerThreadActive.store(false);
        std::lock_guard lock(state->mutex);
        state->finished = true;
        state->ended.notify_all();
    });
}

bool ListenerThread::stopListening(std::chrono::milliseconds bound)
{
    if (!m_thread.joinable())
        return true;
    {
        std::unique_lock lock(m_state->mutex);
        if (!m_state->finished)
            WebcamProcessor::requestStop();
        if (!m_state->ended.wait_for(lock, bound, [this] { return m_state->finished; }))
            return false;
    }
    m_thread.join(); // the body is done; only the thread's own clean-up is left
    return true;
}

bool ListenerThread::isRunning() const
{
    std::lock_guard lock(m_state->mutex);
    return m_thread.joinable() && !m_state->finished;
}

} // namespace quillora::listener
