// SPDX-License-Identifier: GPL-3.0-or-later
#include "WebcamProcessor.h"

#include "CameraButtonInterface.h"
#include "ListenerLog.h"
#include "ListenerRunLoop.h"

#include <QCoreApplication>
#include <QTimer>

#include <condition_variable>
#include <cstdarg>
#include <cstdio>

namespace quillora::listener {

SnapshotTarget *gListenerController = nullptr;
std::shared_ptr<usb::UsbInterface> gListenerInterface;
std::array<std::uint8_t, 8> gButtonReport{};
bool gDeviceRemoved = false;
std::atomic<std::uint8_t> gListenerKilled{0};
ListenerRunLoop *gListenerRunLoop = nullptr;
std::unique_ptr<usb::UsbEventSource> gNotifyPort;
DeviceIterator gAddedIterator;
std::mutex gListenerRunLoopLock;

namespace {

// The listener thread's run loop, for the stop at quit; also null outside the thread's life.
// Guarded by gListenerRunLoop's lock.
ListenerRunLoop *gThreadRunLoop = nullptr;
// Set by requestStop: the thread is to end; cleared by prepareStart.
std::atomic<bool> gListenerStopping{false};
// Wakes the start-up wait when a stop is requested. Waits under gListenerRunLoopLock.
std::condition_variable gStopRequested;

// Guards gSetup: tests set it on the main thread, the listener thread copies it at its start.
std::mutex gSetupLock;
ListenerSetup gSetup;

// Listener thread only.
ListenerSetup tSetup;                                 // this thread's copy of gSetup
ListenerRunLoop *tRunLoop = nullptr;                  // this thread's run loop
std::shared_ptr<usb::UsbHost> gListenerHost;          // the host the notifications and reads come from
usb::UsbResult gEventSourceResult = usb::kUsbSuccess; // why gNotifyPort could not be made
std::shared_ptr<ButtonRead> gPendingRead;             // the read queued on pipe 1, if any
bool gHandlingDevices = false;                        // deviceAdded is under way

// A button read that failed is queued again after a wait that doubles from the first to the
// longest: a camera whose reads keep failing is neither a photo every two seconds nor a busy
// loop, and one that recovers is heard again soon.
constexpr std::chrono::milliseconds kFirstRetryDelay{100};
constexpr std::chrono::milliseconds kLongestRetryDelay{5000};
std::chrono::milliseconds gRetryDelay{0}; // the last wait; 0 when the last read completed
bool gRetryWaiting = false;               // a failed read waits to be queued again
quint64 gRetryGeneration = 0;             // a retry of an interface let go meanwhile does nothing

// The listener's own lines go to standard output and standard error exactly as they stand,
// each flushed at once so that they interleave with other output in order.
void writeOut(FILE *stream, const char *text)
{
    std::fputs(text, stream);
    std::fflush(stream);
}

[[gnu::format(printf, 2, 3)]] void printOut(FILE *stream, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
}

void setListenerKilled(std::uint8_t killed)
{
    std::lock_guard lock(gListenerRunLoopLock);
    if (!gListenerRunLoop)
        return;
    gListenerKilled.store(killed);
    gListenerRunLoop->stop();
}

// The read's completion will be the cancellation of our own close(): not a press.
void abandonPendingRead()
{
    if (gPendingRead) {
        gPendingRead->abandoned = true;
        gPendingRead.reset();
    }
}

// Forgets the failed reads of the interface being let go: the next one starts afresh.
void forgetRetry()
{
    ++gRetryGeneration;
    gRetryWaiting = false;
    gRetryDelay = std::chrono::milliseconds(0);
}

// The read failed: it is queued again once the wait is over (the next pass queues it; the run
// loop runs on until then). The first failure after a completed read is logged; the rest of
// its series would only repeat it.
void retryLater(usb::UsbResult result)
{
    const bool first = gRetryDelay.count() == 0;
    gRetryDelay = first ? kFirstRetryDelay : std::min(gRetryDelay * 2, kLongestRetryDelay);
    if (first)
        qCWarning(lcListener,
            "button read failed: %s; it is queued again after %lld ms, and later each time it fails again",
            usb::usbResultName(result), static_cast<long long>(gRetryDelay.count()));
    gRetryWaiting = true;
    auto retry = [generation = gRetryGeneration] {
        if (generation != gRetryGeneration || !gRetryWaiting)
            return;
        gRetryWaiting = false;
        if (tRunLoop)
            tRunLoop->stop();
    };
    if (tSetup.retryAfter)
        tSetup.retryAfter(gRetryDelay, std::move(retry));
    else
        QTimer::singleShot(gRetryDelay, tRunLoop, std::move(retry));
}

// Closes the interface (cancelling its read) and lets go of it.
void releaseListenerInterface()
{
    abandonPendingRead();
    forgetRetry();
    if (gListenerInterface) {
        gListenerInterface->close();
        gListenerInterface.reset();
    }
}

void runListener(SnapshotTarget *controller, std::uint16_t productId)
{
    {
        std::lock_guard lock(gSetupLock);
        tSetup = gSetup;
    }
    ListenerRunLoop runLoop;
    tRunLoop = &runLoop;
    bool stopping = false;
    {
        std::unique_lock lock(gListenerRunLoopLock);
        gThreadRunLoop = &runLoop;
        // A camera attached during the wait is found by the matching that follows it.
        stopping = gStopRequested.wait_for(lock, tSetup.startDelay, [] { return gListenerStopping.load(); });
    }
    if (!stopping)
        listenerThreadMain(controller, productId);
    {
        std::lock_guard lock(gListenerRunLoopLock);
        gThreadRunLoop = nullptr;
        gListenerRunLoop = nullptr; // kill and unkill do nothing from now on
    }
    tRunLoop = nullptr;
    gListenerController = nullptr;
}

} // namespace

// ---- WebcamProcessor ---------------------------------------------------------------------------

void WebcamProcessor::registerListener(SnapshotTarget *controller)
{
    runListener(controller, kListenerProductId);
}

void WebcamProcessor::registerListenerQuillora(SnapshotTarget *controller)
{
    runListener(controller, kListenerProductIdQuillora);
}

void WebcamProcessor::killListener()
{
    setListenerKilled(1);
}

void WebcamProcessor::unkillListener()
{
    setListenerKilled(0);
}

void WebcamProcessor::requestStop()
{
    std::lock_guard lock(gListenerRunLoopLock);
    gListenerStopping.store(true);
    if (gThreadRunLoop)
        gThreadRunLoop->stop();
    gStopRequested.notify_all();
}

void WebcamProcessor::prepareStart()
{
    gListenerStopping.store(false);
    gListenerKilled.store(0);
}

void WebcamProcessor::setSetup(ListenerSetup setup)
{
    std::lock_guard lock(gSetupLock);
    gSetup = std::move(setup);
}

std::shared_ptr<usb::UsbDevice> DeviceIterator::next()
{
    if (devices.empty())
        return nullptr;
    auto device = std::move(devices.front());
    devices.pop_front();
    return device;
}

// ---- The listener thread -----------------------------------------------------------------------

std::int32_t listenerThreadMain(SnapshotTarget *controller, std::uint16_t productId)
{
    gListenerController = controller;

    usb::UsbResult hostResult = usb::kUsbSuccess;
    gListenerHost = tSetup.makeHost ? tSetup.makeHost() : usb::makeLibusbHost(&hostResult);
    if (!gListenerHost) {
        // Without a host nothing can be matched.
        writeOut(stderr, "IOServiceMatching returned NULL.\n");
        qCInfo(lcListener, "no USB host: %s", usb::usbResultName(hostResult));
        return -1;
    }

    gEventSourceResult = gListenerHost->createEventSource(gNotifyPort);
    if (gEventSourceResult == usb::kUsbSuccess && !gNotifyPort)
        gEventSourceResult = usb::kUsbErrorOther;

    std::vector<std::shared_ptr<usb::UsbDevice>> present;
    const usb::UsbResult matching = gListenerHost->addMatchingNotification(
        kListenerVendorId, productId, present,
        [](std::shared_ptr<usb::UsbDevice> device) {
            gAddedIterator.devices.push_back(std::move(device));
            deviceAdded(nullptr, gAddedIterator);
        },
        gAddedIterator.notification);
    if (matching != usb::kUsbSuccess)
        qCInfo(lcListener, "no notification of cameras attached later: %s", usb::usbResultName(matching));
    gAddedIterator.devices.insert(gAddedIterator.devices.begin(), present.begin(), present.end());

    // Handles every camera attached now, one after the other, and those attached while one is
    // being listened to; returns when all of them are gone.
    deviceAdded(nullptr, gAddedIterator);

    // Nothing is listened to any more: the notifications, the interface and the host go.
    gAddedIterator.notification.reset();
    gAddedIterator.devices.clear();
    releaseListenerInterface();
    gNotifyPort.reset();
    gListenerHost.reset();

    if (gListenerStopping.load())
        return 0;
    writeOut(stderr, "Starting run loop.\n\n");
    // Nothing is left for the run loop to wait for, so it returns at once, after serving what
    // is already queued.
    QCoreApplication::sendPostedEvents();
    writeOut(stderr, "Unexpectedly back from CFRunLoopRun()!\n");
    return 0;
}

void deviceAdded(void *, DeviceIterator &iterator)
{
    // A camera matched while another one is listened to waits in the iterator: the cameras are
    // handled one after the other, never one inside the other's run loop.
    if (gHandlingDevices)
        return;
    gHandlingDevices = true;
    while (!gListenerStopping.load()) {
        std::shared_ptr<usb::UsbDevice> device = iterator.next();
        if (!device)
            break;
        gDeviceRemoved = false;
        auto record = std::make_unique<ListenerDeviceRecord>();

        std::string name;
        if (device->name(name) != usb::kUsbSuccess) {
            name.clear();
            writeOut(stdout, "No Device!\n\n");
            writeOut(stdout, "\n");
        }
        record->deviceName = name;
        record->deviceInterface = device;

        std::uint32_t location = 0;
        const usb::UsbResult locationResult = device->locationId(location);
        if (locationResult != usb::kUsbSuccess) {
            printOut(stderr, "GetLocationID returned 0x%08x.\n", unsigned(locationResult));
            continue;
        }
        record->locationID = location;

        ListenerDeviceRecord *handled = record.get();
        const usb::UsbResult interest = device->addRemovalNotification(
            [handled] { deviceNotification(handled, kMessageServiceIsTerminated); }, record->notification);
        if (interest != usb::kUsbSuccess)
            printOut(stdout, "IOServiceAddInterestNotification returned 0x%08x.\n", unsigned(interest));

        const usb::UsbResult result = listenOnInterface(device);
        if (result != usb::kUsbSuccess) {
            printOut(stdout, "Unable to find interfaces on device: %08x\n", unsigned(result));
            if (!record->removed)
                record->deviceInterface.reset();
        }
        // The record goes here, with its removal notification: a camera no longer listened to
        // cannot end the loop of the next one.
        device.reset();
    }
    gHandlingDevices = false;
}

void deviceNotification(ListenerDeviceRecord *record, std::uint32_t messageType)
{
    if (messageType != kMessageServiceIsTerminated)
        return;
    gDeviceRemoved = true;
    if (!record->removed) {
        printOut(stderr, "%s\n", record->deviceName.c_str());
        record->deviceName.clear();
        record->deviceInterface.reset();
        record->removed = true;
    }
    // A removal with no read pending (suspended, or a read that could not be queued) would
    // otherwise leave the loop waiting for a kill or unkill that may never come.
    if (tRunLoop)
        tRunLoop->stop();
}

usb::UsbResult listenOnInterface(const std::shared_ptr<usb::UsbDevice> &device)
{
    std::vector<std::shared_ptr<usb::UsbInterface>> interfaces;
    const usb::FindInterfaceRequest any; // every field kAnyValue
    usb::UsbResult code = device->findInterfaces(any, interfaces);
    if (code != usb::kUsbSuccess || interfaces.empty())
        return code;

    gListenerInterface
        = std::make_shared<CameraButtonInterface>(interfaces.front(), DeviceRoots{tSetup.sysRoot, tSetup.devRoot});
    const usb::UsbResult opened = gListenerInterface->open();
    if (opened != usb::kUsbSuccess) {
        printOut(stdout, "Unable to open interface (%08x)\n", unsigned(opened));
        gListenerInterface.reset();
        return opened;
    }
    if (gDeviceRemoved) {
        releaseListenerInterface();
        return usb::kUsbSuccess;
    }

    for (;;) {
        gListenerInterface->open(); // closed after a suspended pass; open otherwise
        const bool killed = gListenerKilled.load() != 0;
        const usb::UsbResult source = gNotifyPort ? usb::kUsbSuccess : gEventSourceResult;
        if (source != usb::kUsbSuccess) {
            printOut(stdout, "Unable to create asynchronous event source (%08x)\n", unsigned(source));
            abandonPendingRead();
            gListenerInterface->close();
            if (!killed) {
                gListenerInterface.reset();
                return source;
            }
            code = source;
        } else if (killed) {
            // Suspended: the interface is let go for the focus requests.
            abandonPendingRead();
            gListenerInterface->close();
            code = usb::kUsbSuccess;
        } else if (gPendingRead) {
            // Armed again with the read of an earlier pass still queued (a kill and an unkill
            // that both came before this pass): it serves; one read is pending at a time.
            code = usb::kUsbSuccess;
            qCInfo(lcListener, "waiting for a press of the camera's button");
        } else if (gRetryWaiting) {
            // A failed read waits out its delay, a kill and an unkill in between or not; the
            // retry stops the run loop when it is over, and the next pass queues the read.
            code = usb::kUsbSuccess;
        } else {
            auto read = std::make_shared<ButtonRead>();
            code = gListenerInterface->readPipeAsync(
                kButtonPipe, gButtonReport, [read](usb::UsbResult result, std::uint32_t length) {
                    buttonReadCompleted(read.get(), result, length);
                });
            if (code != usb::kUsbSuccess)
                writeOut(stdout, "ReadPipeAsync error!");
            else
                gPendingRead = std::move(read);
            // Once per armed pass (a press, a kill and unkill): what a script waits for before
            // pressing.
            if (gPendingRead)
                qCInfo(lcListener, "waiting for a press of the camera's button");
        }
        {
            std::lock_guard lock(gListenerRunLoopLock);
            gListenerRunLoop = tRunLoop;
        }
        tRunLoop->run();
        if (gDeviceRemoved || gListenerStopping.load())
            break;
    }
    // Removed (or asked to stop): nothing of this camera is kept.
    releaseListenerInterface();
    return code;
}

void buttonReadCompleted(ButtonRead *read, usb::UsbResult result, std::uint32_t length)
{
    if (read->abandoned)
        return;
    if (gPendingRead.get() == read)
        gPendingRead.reset();
    qCInfo(lcListener, "button read completed: %s, %u bytes", usb::usbResultName(result), unsigned(length));
    gButtonReport.fill(0);
    // Only a read that completed is a press. A failed one (a camera unplugged while armed, a
    // stalled or garbled transfer) says nothing about the button; it is tried again later.
    if (result != usb::kUsbSuccess) {
        retryLater(result);
        return;
    }
    gRetryDelay = std::chrono::milliseconds(0);
    // The data is not looked at: every completed read while not suspended is a press.
    if (gListenerKilled.load() == 0 && gListenerController)
        gListenerController->snapshotByKey();
    tRunLoop->stop();
}

} // namespace quillora::listener
