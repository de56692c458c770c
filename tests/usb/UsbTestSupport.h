#pragma once
// What the USB tests share: the lines the program logs while a test runs, and the bytes of the
// focus sequence as they must appear on the wire.
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace quillora::test {

// Collects every Qt message (the platform log) while it lives, and only then.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // The messages of the default category, as printed: one per line.
    QStringList lines() const;
    // The messages of one category.
    QStringList lines(const char *category) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    struct Entry {
        QString category;
        QString message;
    };
    mutable std::mutex m_mutex; // guards m_entries (messages may come from any thread)
    std::vector<Entry> m_entries;
    QtMessageHandler m_previous = nullptr;
    static LogCapture *s_current;
};

using Setup = std::array<std::uint8_t, 8>;
inline constexpr Setup kRegisterWrite8{0x41, 0x00, 0x08, 0x00, 0x00, 0x3F, 0x00, 0x00};
inline constexpr Setup kRegisterWrite3{0x41, 0x00, 0x03, 0x00, 0x00, 0x3F, 0x00, 0x00};
inline constexpr Setup kAutoFocusOn{0x21, 0x01, 0x00, 0x08, 0x00, 0x01, 0x01, 0x00};

} // namespace quillora::test
