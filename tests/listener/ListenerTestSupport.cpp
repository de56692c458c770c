#include "ListenerTestSupport.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace quillora::test {

StdCapture::StdCapture()
{
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        std::fflush(nullptr);
        char path[] = "/tmp/quillora-listener-capture-XXXXXX";
        m_files[fd - 1] = ::mkstemp(path);
        ::unlink(path);
        m_saved[fd - 1] = ::dup(fd);
        ::dup2(m_files[fd - 1], fd);
    }
}

void StdCapture::stop()
{
    std::fflush(nullptr);
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        if (m_files[fd - 1] < 0)
            continue;
        ::dup2(m_saved[fd - 1], fd);
        ::close(m_saved[fd - 1]);
        std::string &text = fd == STDOUT_FILENO ? out : err;
        ::lseek(m_files[fd - 1], 0, SEEK_SET);
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_files[fd - 1], buffer, sizeof buffer)) > 0;)
            text.append(buffer, std::size_t(n));
        ::close(std::exchange(m_files[fd - 1], -1));
    }
}

std::unique_ptr<listener::ListenerThread> startListener(Variant variant, CountingTarget *target,
    std::function<std::shared_ptr<usb::UsbHost>()> makeHost, std::chrono::milliseconds delay, std::string sysRoot,
    std::string devRoot)
{
    listener::WebcamProcessor::setSetup({std::move(makeHost), delay, std::move(sysRoot), std::move(devRoot)});
    auto thread = std::make_unique<listener::ListenerThread>([variant, target] {
        target->expectedThread = QThread::currentThread();
        if (variant == Variant::Quillora)
            listener::WebcamProcessor::registerListenerQuillora(target);
        else
            listener::WebcamProcessor::registerListener(target);
    });
    thread->startListening();
    return thread;
}

} // namespace quillora::test

// The fake USB host posts completions and notifications as Qt queued calls, passed over under a
// futex-based lock ThreadSanitizer cannot see: only the fake's own posting places are excused.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:quillora::usb::fake::FakeBus::postLocked\n"
           "race:quillora::usb::fake::FakeUsbInterface::deliver\n"
           "race:quillora::usb::fake::FakeUsbDevice::unplug\n"
           "race:quillora::usb::fake::FakeUsbHost::plugIn\n";
}
