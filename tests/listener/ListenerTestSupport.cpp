// SPDX-License-Identifier: GPL-3.0-or-later
#include "ListenerTestSupport.h"

#include <utility>

namespace quillora::test {

std::unique_ptr<listener::ListenerThread> startListener(Variant variant, CountingTarget *target,
    std::function<std::shared_ptr<usb::UsbHost>()> makeHost, std::chrono::milliseconds delay, std::string sysRoot,
    std::string devRoot)
{
    listener::ListenerSetup setup;
    setup.makeHost = std::move(makeHost);
    setup.startDelay = delay;
    setup.sysRoot = std::move(sysRoot);
    setup.devRoot = std::move(devRoot);
    return startListener(variant, target, std::move(setup));
}

std::unique_ptr<listener::ListenerThread> startListener(
    Variant variant, CountingTarget *target, listener::ListenerSetup setup)
{
    listener::WebcamProcessor::setSetup(std::move(setup));
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
