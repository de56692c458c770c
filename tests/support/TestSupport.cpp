#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
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

QString testDataDir()
{
    return qEnvironmentVariable("QUILLORA_TEST_DATA", QStringLiteral(QUILLORA_SOURCE_DIR "/tests/data"));
}

} // namespace quillora::test
