#pragma once
// What the listener tests share: a snapshot target that counts, the listener's own lines on
// standard output and standard error, Qt's messages kept off them, and a listener thread run
// against a host of the test's choosing.
#include "ListenerThread.h"
#include "WebcamProcessor.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace quillora::test {

// Counts snapshotByKey calls and remembers whether each came on the listener thread.
class CountingTarget final : public listener::SnapshotTarget {
public:
    void snapshotByKey() override;
    int count() const { return m_count.load(); }
    bool allOnThread(QThread *thread) const;
    // Runs inside each call, on the listener thread (set before the listener starts).
    std::function<void()> during;

private:
    std::atomic<int> m_count{0};
    mutable std::mutex m_mutex; // guards m_threads
    std::vector<QThread *> m_threads;
};

// Sends standard output and standard error to files while it lives and hands back what was
// written. Flushes C stdio at both ends.
class StdCapture {
public:
    StdCapture();
    ~StdCapture();
    StdCapture(const StdCapture &) = delete;
    StdCapture &operator=(const StdCapture &) = delete;
    // Ends the capture (once) and gives back what went to each stream.
    void stop();
    const std::string &out() const { return m_out; }
    const std::string &err() const { return m_err; }

private:
    int m_savedOut = -1, m_savedErr = -1;
    int m_fileOut = -1, m_fileErr = -1;
    std::string m_out, m_err;
};

// Keeps Qt's messages (the lcListener lines) out of standard error and collects them.
class QtMessages {
public:
    QtMessages();
    ~QtMessages();
    QtMessages(const QtMessages &) = delete;
    QtMessages &operator=(const QtMessages &) = delete;
    std::vector<std::string> lines() const;

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message);
    QtMessageHandler m_previous = nullptr;
    mutable std::mutex m_mutex; // guards m_lines
    std::vector<std::string> m_lines;
    static inline std::atomic<QtMessages *> s_current{nullptr};
};

enum class Variant { Listener, Quillora };

// The listener thread of the application, against `makeHost` and the given roots, started
// after `delay`. Stopped and joined when it goes.
std::unique_ptr<listener::ListenerThread> startListener(Variant variant, listener::SnapshotTarget *target,
    std::function<std::shared_ptr<usb::UsbHost>()> makeHost, std::chrono::milliseconds delay = {},
    std::string sysRoot = "/nonexistent/sys", std::string devRoot = "/nonexistent/dev");

} // namespace quillora::test
