// SPDX-License-Identifier: GPL-3.0-or-later
#include "ListenerTestSupport.h"

#include <utility>

namespace quillora::test {

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
