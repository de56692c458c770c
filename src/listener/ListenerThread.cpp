#include "ListenerThread.h"

#include "ListenerLog.h"
#include "WebcamProcessor.h"

#include <QDeadlineTimer>
#include <QThread>

namespace quillora::listener {

ListenerThread::ListenerThread(std::function<void()> body)
    : m_thread(QThread::create(std::move(body)))
{
    m_thread->setObjectName(QStringLiteral("snapshot listener"));
}

ListenerThread::~ListenerThread()
{
    if (stopListening()) {
        delete m_thread;
        return;
    }
    // Deleting a running QThread ends the process. A listener stuck this long (a photo that
    // never returns) is left running, with its thread object, until the process ends.
    qCWarning(lcListener, "the listener thread did not end in time; it is left to the end of the process");
}

void ListenerThread::startListening()
{
    WebcamProcessor::prepareStart();
    m_thread->start();
}

bool ListenerThread::stopListening(std::chrono::milliseconds bound)
{
    if (m_thread->isRunning())
        WebcamProcessor::requestStop();
    return m_thread->wait(QDeadlineTimer(bound.count()));
}

bool ListenerThread::isRunning() const
{
    return m_thread->isRunning();
}

} // namespace quillora::listener
