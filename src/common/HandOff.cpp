// SPDX-License-Identifier: GPL-3.0-or-later
#include "HandOff.h"

#include <QMetaObject>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);
#endif

namespace quillora {

void handOff([[maybe_unused]] const void *token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void *>(token));
#endif
}

void takeOver([[maybe_unused]] const void *token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<void *>(token));
#endif
}

Mailbox::Mailbox(QObject *parent)
    : QObject(parent)
{
}

void Mailbox::post(std::function<void()> work)
{
    {
        std::lock_guard lock(m_mutex);
        m_work.push_back(std::move(work));
    }
    // By name: Qt builds and delivers the event itself, and nothing of ours travels in it.
    QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
}

void Mailbox::deliver()
{
    std::function<void()> work;
    {
        std::lock_guard lock(m_mutex);
        if (m_work.empty())
            return;
        work = std::move(m_work.front());
        m_work.pop_front();
    }
    work();
}

} // namespace quillora
