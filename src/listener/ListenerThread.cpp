#include "ListenerThread.h"

#include "ListenerLog.h"
#include "WebcamProcessor.h"

#include <QThread>

namespace quillora::listener {

ListenerThread::ListenerThread(std::function<void()> body)
    : m_body(std::move(body))
{
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
    WebcamProcessor::prepareStart();
    m_thread = std::thread([this] {
        m_qthread.store(QThread::currentThread());
        m_body();
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_ended.notify_all();
    });
}

bool ListenerThread::stopListening(std::chrono::milliseconds bound)
{
    if (!m_thread.joinable())
        return true;
    {
        std::unique_lock lock(m_mutex);
        if (!m_finished)
            WebcamProcessor::requestStop();
        if (!m_ended.wait_for(lock, bound, [this] { return m_finished; }))
            return false;
    }
    m_thread.join(); // the body is done; only the thread's own clean-up is left
    return true;
}

bool ListenerThread::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_thread.joinable() && !m_finished;
}

} // namespace quillora::listener
