// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Qt messages logged while a test runs (kept off stderr), and the focus sequence's SETUP packets.
#include <QLoggingCategory>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace quillora::test {

class LogCapture {
public:
    LogCapture()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // The messages of one category, or of every category ("*").
    QStringList lines(const char *category = "default") const
    {
        std::lock_guard lock(m_mutex);
        QStringList result;
        for (const auto &[messageCategory, message] : m_entries)
            if (messageCategory == QLatin1String(category) || category == std::string_view("*"))
                result << message;
        return result;
    }
    int count(const QString &text) const { return int(lines("*").filter(text).size()); }

private:
    static void handler(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (LogCapture *self = s_current) {
            std::lock_guard lock(self->m_mutex);
            self->m_entries.emplace_back(QString::fromUtf8(context.category ? context.category : "default"), message);
        }
    }
    mutable std::mutex m_mutex; // guards m_entries (messages come from any thread)
    std::vector<std::pair<QString, QString>> m_entries;
    QtMessageHandler m_previous = nullptr;
    static inline std::atomic<LogCapture *> s_current{nullptr};
};

using SetupPacket = std::array<std::uint8_t, 8>;
inline constexpr SetupPacket kRegisterWrite8{0x41, 0x00, 0x08, 0x00, 0x00, 0x3F, 0x00, 0x00};
inline constexpr SetupPacket kRegisterWrite3{0x41, 0x00, 0x03, 0x00, 0x00, 0x3F, 0x00, 0x00};
inline constexpr SetupPacket kAutoFocusOn{0x21, 0x01, 0x00, 0x08, 0x00, 0x01, 0x01, 0x00};

} // namespace quillora::test
