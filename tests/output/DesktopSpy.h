// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the application asks the desktop to open and the quillora.* lines it logs, kept
// instead of acted on. Both may come from any thread.
#include <QDesktopServices>
#include <QLoggingCategory>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <mutex>

namespace quillora::test {

class DesktopSpy : public QObject {
    Q_OBJECT
public:
    DesktopSpy()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
        QLoggingCategory::setFilterRules(QStringLiteral("quillora.*.info=true"));
        s_self = this;
        m_previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &text) {
            std::lock_guard lock(s_self->m_mutex);
            s_self->m_lines << QString::fromUtf8(context.category) + QStringLiteral(": ") + text;
        });
    }
    ~DesktopSpy() override
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }
    QStringList opened()
    {
        std::lock_guard lock(m_mutex);
        return m_opened;
    }
    // Whether a line beginning with `start` ("category: text") was logged.
    bool logged(const QString &start) { return count(start) > 0; }
    QStringList lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    // How many lines begin with `start`.
    int count(const QString &start)
    {
        std::lock_guard lock(m_mutex);
        return int(
            std::count_if(m_lines.cbegin(), m_lines.cend(), [&](const QString &l) { return l.startsWith(start); }));
    }
public Q_SLOTS:
    void open(const QUrl &url)
    {
        std::lock_guard lock(m_mutex);
        m_opened << url.toLocalFile();
    }

private:
    static inline DesktopSpy *s_self = nullptr;
    QtMessageHandler m_previous = nullptr;
    std::mutex m_mutex; // guards m_opened and m_lines
    QStringList m_opened, m_lines;
};

} // namespace quillora::test
