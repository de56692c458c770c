#include "UsbTestSupport.h"

#include <cstring>

namespace quillora::test {

LogCapture *LogCapture::s_current = nullptr;

LogCapture::LogCapture()
{
    s_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_current = nullptr;
}

void LogCapture::handler(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    LogCapture *self = s_current;
    if (!self)
        return;
    std::lock_guard lock(self->m_mutex);
    self->m_entries.push_back({QString::fromUtf8(context.category ? context.category : "default"), message});
}

QStringList LogCapture::lines() const
{
    return lines("default");
}

QStringList LogCapture::lines(const char *category) const
{
    std::lock_guard lock(m_mutex);
    QStringList result;
    for (const auto &entry : m_entries)
        if (entry.category == QLatin1String(category))
            result << entry.message;
    return result;
}

} // namespace quillora::test
