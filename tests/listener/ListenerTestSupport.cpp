#include "ListenerTestSupport.h"

#include <QDir>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace quillora::test {

void CountingTarget::snapshotByKey()
{
    {
        std::lock_guard lock(m_mutex);
        m_threads.push_back(QThread::currentThread());
    }
    if (during)
        during();
    m_count.fetch_add(1);
}

bool CountingTarget::allOnThread(QThread *thread) const
{
    std::lock_guard lock(m_mutex);
    for (QThread *t : m_threads)
        if (t != thread)
            return false;
    return true;
}

namespace {

int captureInto(FILE *stream, int fd, int &saved)
{
    std::fflush(stream);
    char path[] = "/tmp/quillora-listener-capture-XXXXXX";
    const int file = ::mkstemp(path);
    ::unlink(path);
    saved = ::dup(fd);
    ::dup2(file, fd);
    return file;
}

std::string release(FILE *stream, int fd, int saved, int file)
{
    std::fflush(stream);
    ::dup2(saved, fd);
    ::close(saved);
    std::string text;
    ::lseek(file, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = ::read(file, buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    ::close(file);
    return text;
}

} // namespace

StdCapture::StdCapture()
{
    m_fileOut = captureInto(stdout, STDOUT_FILENO, m_savedOut);
    m_fileErr = captureInto(stderr, STDERR_FILENO, m_savedErr);
}

StdCapture::~StdCapture()
{
    stop();
}

void StdCapture::stop()
{
    if (m_fileOut < 0)
        return;
    m_out = release(stdout, STDOUT_FILENO, m_savedOut, m_fileOut);
    m_err = release(stderr, STDERR_FILENO, m_savedErr, m_fileErr);
    m_fileOut = m_fileErr = -1;
}

QtMessages::QtMessages()
{
    s_current.store(this);
    m_previous = qInstallMessageHandler(&QtMessages::handler);
}

QtMessages::~QtMessages()
{
    qInstallMessageHandler(m_previous);
    s_current.store(nullptr);
}

std::vector<std::string> QtMessages::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

void QtMessages::handler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (QtMessages *self = s_current.load()) {
        std::lock_guard lock(self->m_mutex);
        self->m_lines.push_back(message.toStdString());
    }
}

std::unique_ptr<listener::ListenerThread> startListener(Variant variant, listener::SnapshotTarget *target,
    std::function<std::shared_ptr<usb::UsbHost>()> makeHost, std::chrono::milliseconds delay, std::string sysRoot,
    std::string devRoot)
{
    listener::ListenerSetup setup;
    setup.makeHost = std::move(makeHost);
    setup.startDelay = delay;
    setup.sysRoot = std::move(sysRoot);
    setup.devRoot = std::move(devRoot);
    listener::WebcamProcessor::setSetup(std::move(setup));
    auto thread = std::make_unique<listener::ListenerThread>([variant, target] {
        if (variant == Variant::Quillora)
            listener::WebcamProcessor::registerListenerQuillora(target);
        else
            listener::WebcamProcessor::registerListener(target);
    });
    thread->startListening();
    return thread;
}

} // namespace quillora::test

// The fake USB host hands its completions and notifications to the listener thread as Qt queued
// calls. Qt passes them over under its own futex-based lock, which ThreadSanitizer cannot see,
// so the posted call (made where the fake posts it) looks unsynchronised with the thread that
// runs it. Only the fake's own posting places are excused; races of the listener's state with
// the test's thread are still reported.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:quillora::usb::fake::FakeBus::postLocked\n"
           "race:quillora::usb::fake::FakeUsbInterface::deliver\n"
           "race:quillora::usb::fake::FakeUsbDevice::unplug\n"
           "race:quillora::usb::fake::FakeUsbHost::plugIn\n";
}
