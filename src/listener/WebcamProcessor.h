// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The snapshot-button listener. A thread of its own waits three seconds after start-up, then
// looks for a camera of our vendor and the chosen product, opens the camera's first interface
// and keeps one 8-byte read queued on its pipe 1; every read that completes is a press of the
// camera's button and asks the controller for a photo (snapshotByKey). A read that fails is no
// press: it is queued again after a wait that grows while it keeps failing. The focus action
// suspends it around its requests (killListener) and resumes it afterwards (unkillListener).
//
// Everything below runs on the listener thread, except killListener, unkillListener and
// requestStop, which the main thread calls and which never wait.
#include "UsbHost.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace quillora::listener {

class ListenerRunLoop;

// Who takes the photo when the button is pressed; the controller. Called on the listener thread.
class SnapshotTarget {
public:
    virtual void snapshotByKey() = 0;

protected:
    ~SnapshotTarget() = default;
};

constexpr std::uint16_t kListenerVendorId = 2316;         // 0x090C
constexpr std::uint16_t kListenerProductId = 45937;       // 0xB371, registerListener
constexpr std::uint16_t kListenerProductIdQuillora = 890; // 0x037A, registerListenerQuillora
constexpr std::uint32_t kMessageServiceIsTerminated = 0xE0000010;
constexpr std::uint8_t kButtonPipe = 1;

// How the listener reaches the machine. The defaults are the real ones; tests shorten the wait
// and bring their own USB host and sysfs.
struct ListenerSetup {
    std::function<std::shared_ptr<usb::UsbHost>()> makeHost; // null: libusb
    std::chrono::milliseconds startDelay{3000};
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    // Runs `retry` on the listener thread after `delay`: the wait before a button read that
    // failed is queued again. Null: a timer of the listener's own event loop. Tests bring their
    // own, to see the delays asked for without waiting them out.
    std::function<void(std::chrono::milliseconds delay, std::function<void()> retry)> retryAfter;
};

class WebcamProcessor {
public:
    // The whole life of the listener thread, for product 45937 and product 890: waits, then
    // listens until the cameras it found are gone or the thread is asked to stop.
    static void registerListener(SnapshotTarget *controller);
    static void registerListenerQuillora(SnapshotTarget *controller);
    // Suspend and resume the listener (main thread). Nothing happens before the listener's first
    // run or after its thread has ended.
    static void killListener();
    static void unkillListener();

    // Asks a running listener thread to end soon: its wait, its run loop and its passes return
    // without starting anything new. Any thread; never waits.
    static void requestStop();
    // Made ready for a new listener thread: called before it starts.
    static void prepareStart();
    // Tests only: how the next listener thread reaches the machine.
    static void setSetup(ListenerSetup setup);
};

// One camera being listened to. It belongs to deviceAdded for as long as it handles the camera;
// the removal handler marks it removed and lets go of the device, but never frees it.
struct ListenerDeviceRecord {
    ~ListenerDeviceRecord() { notification.reset(); } // no handler after this
    std::unique_ptr<usb::UsbNotification> notification;
    std::shared_ptr<usb::UsbDevice> deviceInterface;
    std::string deviceName;
    std::uint32_t locationID = 0;
    bool removed = false;
};

// The matched cameras not handled yet, and the notification that adds those attached later.
struct DeviceIterator {
    std::deque<std::shared_ptr<usb::UsbDevice>> devices;
    std::unique_ptr<usb::UsbNotification> notification;
    std::shared_ptr<usb::UsbDevice> next();
};

// One queued read of the button pipe. `abandoned` once the listener closed the interface
// under it: its completion is the cancellation, not a press.
struct ButtonRead {
    bool abandoned = false;
};

// ---- Module state (one listener per process) -----------------------------------------------
// Listener thread only, unless said otherwise.
extern SnapshotTarget *gListenerController;
extern std::shared_ptr<usb::UsbInterface> gListenerInterface;
extern std::array<std::uint8_t, 8> gButtonReport;
extern bool gDeviceRemoved;
// Written by killListener/unkillListener on the main thread, read by the listener.
extern std::atomic<std::uint8_t> gListenerKilled;
// The run loop kill and unkill stop: null until the listener's first run and again once its
// thread has ended. Guarded by gListenerRunLoopLock.
extern ListenerRunLoop *gListenerRunLoop;
extern std::unique_ptr<usb::UsbEventSource> gNotifyPort;
extern DeviceIterator gAddedIterator;

// Guards gListenerRunLoop and the life of the run loop it names (the listener clears it before
// the loop goes), so that the main thread never stops a loop that is gone.
extern std::mutex gListenerRunLoopLock;

// ---- Module functions (listener thread) ------------------------------------------------------
std::int32_t listenerThreadMain(SnapshotTarget *controller, std::uint16_t productId);
void deviceAdded(void *refCon, DeviceIterator &iterator);
void deviceNotification(ListenerDeviceRecord *record, std::uint32_t messageType);
usb::UsbResult listenOnInterface(const std::shared_ptr<usb::UsbDevice> &device);
void buttonReadCompleted(ButtonRead *read, usb::UsbResult result, std::uint32_t length);

} // namespace quillora::listener
