// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers shared by the tests: waiting on the event loop, temporary environments.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#ifndef QUILLORA_TEST_SLOWDOWN
#define QUILLORA_TEST_SLOWDOWN 1
#endif

namespace quillora::test {

// How many times slower this build runs than a normal one: a sanitizer build checks every memory
// access, and its camera, encoder and window get through a fraction of the pictures in the same
// second. Tests that count what a span of camera time gives (pictures in a movie, frames shown)
// are given that span stretched by this factor, and every wait as much longer; what they count
// stays the same. 1 in a normal build.
inline constexpr int kSlowdown = QUILLORA_TEST_SLOWDOWN;

// A span of time of a normal build, stretched for this build.
constexpr std::chrono::milliseconds stretched(std::chrono::milliseconds time)
{
    return time * kSlowdown;
}

// Runs the event loop until `done` holds or `timeout` passes; true when it held. The timeout only
// bounds a failing test: a loaded machine may take long, and a passing test never waits it out.
bool waitUntil(
    const std::function<bool()> &done, std::chrono::milliseconds timeout = stretched(std::chrono::seconds(30)));

// Lets the event loop run for `time` (timers, queued calls and frames keep coming). For the
// benchmarks, which measure a span of time; a test waits on a condition instead.
void runEventsFor(std::chrono::milliseconds time);

// Handles every event and queued call posted so far (and those they post in turn), without
// waiting for anything to come: what has been sent has then arrived.
void flushEvents();

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

// While it lives, this process's writes that would make a file larger than `bytes` fail (EFBIG),
// as they fail on a full disk; SIGXFSZ is ignored from then on.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    std::uint64_t m_old = 0;
};

// A private PulseAudio daemon for this test alone, loaded with `modules` (each "name args"),
// that the process's sound clients talk to while the object lives.
class SoundServer {
public:
    explicit SoundServer(const QStringList &modules);
    ~SoundServer();
    SoundServer(const SoundServer &) = delete;
    SoundServer &operator=(const SoundServer &) = delete;
    // Answering requests; pulseaudio (scripts/install-deps) is needed.
    bool ready() const { return m_ready; }
    // Runs pactl against this server; true when it succeeded. `output` gets what it printed.
    bool pactl(const QStringList &args, QString *output = nullptr) const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ScopedEnv> m_server;
    QProcess m_daemon;
    bool m_ready = false;
};

// The folder of the fixtures written for these tests (tests/data).
QString testDataDir();

// The folder of real devices' data kept outside the repository (QUILLORA_REALDATA at configure
// time, or the environment variable of that name).
QString realDataDir();

// The path of `relative` inside the real devices' data, or nothing when it is not there.
std::optional<QString> realData(const QString &relative);

// Skips the running test when the real devices' data has no `relative`; otherwise sets `path`.
#define QUILLORA_REAL_DATA_OR_SKIP(path, relative)                                                                     \
    const auto path##_found = ::quillora::test::realData(relative);                                                    \
    if (!path##_found)                                                                                                 \
        GTEST_SKIP() << "skipped: no real devices' data at "                                                           \
                     << (::quillora::test::realDataDir() + '/' + (relative)).toStdString();                            \
    const QString path = *path##_found

} // namespace quillora::test
