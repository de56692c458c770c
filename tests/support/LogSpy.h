// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one way tests read what the program logs: every Qt message while the spy lives (the
// quillora.* categories at info level turned on), kept instead of printed, from any thread;
// on request also what is written to standard output and error (the listener's own lines).
#include <QString>
#include <QStringList>

#include <chrono>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quillora::test {

class LogSpy {
public:
    enum class Streams { Untouched, Captured };
    explicit LogSpy(Streams streams = Streams::Untouched);
    ~LogSpy();
    LogSpy(const LogSpy &) = delete;
    LogSpy &operator=(const LogSpy &) = delete;

    // Every line as "category: text"; a message of no category is "default: text".
    QStringList lines() const;
    // The texts of one category's lines ("default": messages of no category).
    QStringList lines(const char *category) const;
    // How many lines begin with `start` ("category: text").
    int count(const QString &start) const;
    bool logged(const QString &start) const { return count(start) > 0; }
    // Runs the event loop until a line beginning with `start` has come `times` times.
    bool waitFor(const QString &start, int times = 1) const;
    // The lines of one category that contain `text`, one per line ("" when none).
    std::string matching(const char *category, const QString &text) const;
    // Forgets the lines so far.
    void clear();

    // What the program wrote to standard output and error (Streams::Captured); the capture ends
    // at the first call of either.
    const std::string &standardOutput();
    const std::string &standardError();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);
    void endCapture();

    mutable std::mutex m_mutex; // guards m_lines (messages come from any thread)
    QStringList m_lines;
    bool m_capturing = false;
    std::string m_out, m_err;
};

} // namespace quillora::test
