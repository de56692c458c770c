// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the listener tests share: a snapshot target that counts, and a listener thread run against
// a host of the test's choosing.
#include "ListenerThread.h"
#include "UsbHost.h"
#include "WebcamProcessor.h"

#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace quillora::test {

// Counts snapshotByKey calls and remembers whether each came on the listener thread.
class CountingTarget final : public listener::SnapshotTarget {
public:
    void snapshotByKey() override
    {
        if (QThread::currentThread() != expectedThread.load())
            offThread.fetch_add(1);
        if (during)
            during();
        count.fetch_add(1);
    }
    std::atomic<int> count{0}, offThread{0};
    std::atomic<QThread *> expectedThread{nullptr}; // set by startListener
    std::function<void()> during;                   // runs inside each call (set before the listener starts)
};

enum class Variant { Listener, Quillora };

// The application's listener thread against `makeHost` (null: libusb) and the given roots,
// started after `delay`. Stopped and joined when it goes.
std::unique_ptr<listener::ListenerThread> startListener(Variant variant, CountingTarget *target,
    std::function<std::shared_ptr<usb::UsbHost>()> makeHost, std::chrono::milliseconds delay = {},
    std::string sysRoot = "/nonexistent/sys", std::string devRoot = "/nonexistent/dev");
// The same with every part of the setup the test's own.
std::unique_ptr<listener::ListenerThread> startListener(
    Variant variant, CountingTarget *target, listener::ListenerSetup setup);

} // namespace quillora::test
