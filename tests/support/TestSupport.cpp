// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestSupport.h"

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

namespace quillora::test {

bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

void runEventsFor(std::chrono::milliseconds time)
{
    // A real event loop, not a polling one: the benchmarks measure CPU time meanwhile.
    QEventLoop loop;
    QTimer::singleShot(time, &loop, &QEventLoop::quit);
    loop.exec();
}

void flushEvents()
{
    for (int round = 0; round < 8; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

ScopedEnv::ScopedEnv(const char *name, const QByteArray &value)
    : m_name(name)
{
    if (qEnvironmentVariableIsSet(name))
        m_old = qgetenv(name);
    qputenv(name, value);
}

ScopedEnv::~ScopedEnv()
{
    if (m_old)
        qputenv(m_name.constData(), *m_old);
    else
        qunsetenv(m_name.constData());
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes)
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    m_old = limit.rlim_cur;
    std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of ending the process
    limit.rlim_cur = std::min<rlim_t>(rlim_t(bytes), limit.rlim_max);
    setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(m_old);
    setrlimit(RLIMIT_FSIZE, &limit);
}

SoundServer::SoundServer(const QStringList &modules)
{
    const QString socket = m_dir.path() + QStringLiteral("/native");
    m_server = std::make_unique<ScopedEnv>("PULSE_SERVER", "unix:" + socket.toUtf8());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    m_daemon.setProcessEnvironment(env);
    QStringList args{QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
        QStringLiteral("--use-pid-file=no"), QStringLiteral("--disable-shm=yes"), QStringLiteral("--log-level=error"),
        QStringLiteral("-L"), QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket};
    for (const QString &module : modules)
        args << QStringLiteral("-L") << module;
    m_daemon.start(QStringLiteral("pulseaudio"), args);
    m_ready = m_daemon.waitForStarted(5000) && waitUntil([this] { return pactl({QStringLiteral("info")}); });
}

SoundServer::~SoundServer()
{
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(3000))
        m_daemon.kill();
}

bool SoundServer::pactl(const QStringList &args, QString *output) const
{
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    const bool ok = p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput());
    return ok;
}

QString testDataDir()
{
    return qEnvironmentVariable("QUILLORA_TEST_DATA", QStringLiteral(QUILLORA_SOURCE_DIR "/tests/data"));
}

QString realDataDir()
{
    return qEnvironmentVariable("QUILLORA_REALDATA", QStringLiteral(QUILLORA_REALDATA_DIR));
}

std::optional<QString> realData(const QString &relative)
{
    const QString path = realDataDir() + QLatin1Char('/') + relative;
    if (!QFileInfo::exists(path))
        return std::nullopt;
    return path;
}

} // namespace quillora::test
