#pragma once
// Helpers shared by the tests: waiting on the event loop, temporary environments.
#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace quillora::test {

// Runs the event loop until `done` holds or `timeout` passes; true when it held.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Lets the event loop run for `time` (timers, queued calls and frames keep coming).
void runEventsFor(std::chrono::milliseconds time);

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    QByteArray m_name;
    std::optional<QByteArray> m_old;
};

// The folder of the fixtures (tests/data).
QString testDataDir();

} // namespace quillora::test
