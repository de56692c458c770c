#include "ListenerRunLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>

namespace quillora::listener {

namespace {
// The wake-up that stop() posts; its handling decides, on the loop's thread, which run ends.
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
} // namespace

ListenerRunLoop::ListenerRunLoop()
{
    // Making an event loop gives the thread its event dispatcher (a thread Qt did not start has
    // none until then), which the USB layer's socket notifiers and the timers need from the
    // start, before the first run.
    QEventLoop dispatcherFirst;
}
ListenerRunLoop::~ListenerRunLoop() = default;

void ListenerRunLoop::run()
{
    if (m_stopPending.exchange(false))
        return;
    QEventLoop loop;
    QEventLoop *outer = std::exchange(m_running, &loop);
    // A stop that came between the check above and exec() is still in the queue as a wake-up
    // and ends this run as soon as it starts.
    loop.exec();
    m_running = outer;
}

void ListenerRunLoop::stop()
{
    m_stopPending.store(true);
    QCoreApplication::postEvent(this, new QEvent(kWakeEvent));
}

bool ListenerRunLoop::event(QEvent *event)
{
    if (event->type() != kWakeEvent)
        return QObject::event(event);
    // Outside a run (no loop of ours is running) the stop stays pending for the next run.
    if (m_running && m_stopPending.exchange(false))
        m_running->quit();
    return true;
}

} // namespace quillora::listener
