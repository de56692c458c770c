// SPDX-License-Identifier: GPL-3.0-or-later
#include "LogSpy.h"

#include "TestSupport.h"

#include <QLoggingCategory>

#include <gtest/gtest.h>

#include <algorithm>

namespace quillora::test {

namespace {

std::mutex gSpiesMutex; // guards gSpies
std::vector<LogSpy *> gSpies;

} // namespace

LogSpy::LogSpy(Streams streams)
{
    std::lock_guard lock(gSpiesMutex);
    if (gSpies.empty()) {
        QLoggingCategory::setFilterRules(QStringLiteral("quillora.*.info=true"));
        qInstallMessageHandler(&LogSpy::handler);
    }
    gSpies.push_back(this);
    if (streams == Streams::Captured) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        m_capturing = true;
    }
}

LogSpy::~LogSpy()
{
    endCapture();
    std::lock_guard lock(gSpiesMutex);
    std::erase(gSpies, this);
    if (gSpies.empty()) {
        qInstallMessageHandler(nullptr);
        QLoggingCategory::setFilterRules(QString());
    }
}

void LogSpy::handler(QtMsgType, const QMessageLogContext &context, const QString &text)
{
    const QString line
        = QString::fromUtf8(context.category ? context.category : "default") + QStringLiteral(": ") + text;
    std::lock_guard lock(gSpiesMutex);
    for (LogSpy *spy : gSpies) {
        std::lock_guard own(spy->m_mutex);
        spy->m_lines << line;
    }
}

QStringList LogSpy::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

QStringList LogSpy::lines(const char *category) const
{
    const QString prefix = QString::fromUtf8(category) + QStringLiteral(": ");
    QStringList texts;
    for (const QString &line : lines())
        if (line.startsWith(prefix))
            texts << line.mid(prefix.size());
    return texts;
}

int LogSpy::count(const QString &start) const
{
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_lines.cbegin(), m_lines.cend(), [&](const QString &l) { return l.startsWith(start); }));
}

bool LogSpy::waitFor(const QString &start, int times) const
{
    return waitUntil([&] { return count(start) >= times; });
}

std::string LogSpy::matching(const char *category, const QString &text) const
{
    return lines(category).filter(text).join(QLatin1Char('\n')).toStdString();
}

void LogSpy::clear()
{
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}

const std::string &LogSpy::standardOutput()
{
    endCapture();
    return m_out;
}

const std::string &LogSpy::standardError()
{
    endCapture();
    return m_err;
}

void LogSpy::endCapture()
{
    if (std::exchange(m_capturing, false)) {
        m_out = testing::internal::GetCapturedStdout();
        m_err = testing::internal::GetCapturedStderr();
    }
}

} // namespace quillora::test
