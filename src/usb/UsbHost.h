// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The USB host as the controller and the listener see it: the devices with their location IDs,
// the interfaces of a device, exclusive open and close of an interface, control requests on the
// default pipe, asynchronous reads on an interface's pipe, and arrival and removal
// notifications. No libusb or V4L2 type appears here: the libusb host (LibusbHost.h) and the
// fake host of the tests (FakeUsbHost.h) both implement these classes.
//
// Every operation that can fail returns a UsbResult (0 for success); nothing here throws.
#include <QObject>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace quillora::usb {

// 0 for success, else one of the negative codes below. They have libusb's numbers, so a logged
// "%08x" of a failure reads the same whether it came from libusb or from the video driver road
// (LIBUSB_ERROR_BUSY, -6, prints as fffffffa).
using UsbResult = std::int32_t;
constexpr UsbResult kUsbSuccess = 0;
constexpr UsbResult kUsbErrorIo = -1;
constexpr UsbResult kUsbErrorInvalidParam = -2;
constexpr UsbResult kUsbErrorAccess = -3;
constexpr UsbResult kUsbErrorNoDevice = -4;
constexpr UsbResult kUsbErrorNotFound = -5;
constexpr UsbResult kUsbErrorBusy = -6;
constexpr UsbResult kUsbErrorTimeout = -7;
constexpr UsbResult kUsbErrorOverflow = -8;
constexpr UsbResult kUsbErrorPipe = -9; // the device stalled the request
constexpr UsbResult kUsbErrorInterrupted = -10;
constexpr UsbResult kUsbErrorNoMem = -11;
constexpr UsbResult kUsbErrorNotSupported = -12;
constexpr UsbResult kUsbErrorOther = -99;

// A short name of a result for diagnostics ("LIBUSB_ERROR_BUSY" style).
const char *usbResultName(UsbResult result);

// One control request on the default pipe. The first five fields travel as the 8-byte SETUP
// packet, little-endian; wLength bytes at pData form the data stage (host to device when bit 7
// of bmRequestType is clear, device to host when set). wLenDone is filled in by the host.
struct DevRequest {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;
    void *pData = nullptr;
    std::uint32_t wLenDone = 0;
};

// The SETUP packet of a request as it goes on the wire.
std::array<std::uint8_t, 8> setupPacket(const DevRequest &request);

// Control requests never wait longer than this: a camera that does not answer must not freeze
// the window.
constexpr unsigned kControlTimeoutMs = 5000;

// Which interfaces a device search yields; kAnyValue in a field matches every value.
constexpr std::uint16_t kAnyValue = 0xFFFF;
struct FindInterfaceRequest {
    std::uint16_t bInterfaceClass = kAnyValue;
    std::uint16_t bInterfaceSubClass = kAnyValue;
    std::uint16_t bInterfaceProtocol = kAnyValue;
    std::uint16_t bAlternateSetting = kAnyValue;
};

// USB Video Class values the controller and the video driver road share.
constexpr std::uint8_t kVideoInterfaceClass = 0x0E;
constexpr std::uint8_t kVideoControlSubClass = 0x01;

class UsbDevice;
class UsbInterface;
class UsbEventSource;

// Dropping it ends the notification it stands for; no handler runs after the drop returns
// (when dropped on the thread that serves the host's event source).
class UsbNotification {
public:
    virtual ~UsbNotification() = default;
};

// The completion of an asynchronous read: its result (0, or why it ended: kUsbErrorInterrupted
// when the read was cancelled by close(), kUsbErrorNoDevice when the device went away...) and
// the number of bytes that arrived in the caller's buffer.
using ReadCompletion = std::function<void(UsbResult result, std::uint32_t length)>;

// An interface of a device. Holding one does not open anything: open() claims the interface for
// this process, close() gives it back. Control requests need no open() for vendor requests
// (they go to the device's default pipe); class requests to the interface are refused by Linux
// unless the interface is open.
class UsbInterface {
public:
    virtual ~UsbInterface() = default;

    virtual std::uint8_t interfaceNumber() const = 0;
    virtual std::uint8_t alternateSetting() const = 0;
    virtual std::uint8_t interfaceClass() const = 0;
    virtual std::uint8_t interfaceSubClass() const = 0;
    virtual std::uint8_t interfaceProtocol() const = 0;
    // The device the interface belongs to.
    virtual std::shared_ptr<UsbDevice> device() const = 0;

    // Exclusive open (claim). When the kernel's video driver holds a video-control interface
    // (the claim is refused as busy, or the device node may not be opened), the open succeeds
    // through the driver if the camera has a video node: class SET_CUR requests to the
    // interface then go through the driver, and reads are refused. Otherwise fails with
    // kUsbErrorBusy while another holder has it, kUsbErrorAccess without permission on the
    // device node, kUsbErrorNoDevice once unplugged. Opening an open interface succeeds and
    // changes nothing.
    virtual UsbResult open() = 0;
    // Gives the interface back and cancels its pending reads (their completions follow with
    // kUsbErrorInterrupted). Closing a closed interface succeeds.
    virtual UsbResult close() = 0;
    virtual bool isOpen() const = 0;

    // Sends `request` on the device's default pipe and waits for it, at most kControlTimeoutMs.
    // Sets request.wLenDone. Runs on any thread.
    virtual UsbResult controlRequest(DevRequest &request) = 0;

    // Queues one read of buffer.size() bytes on pipe `pipeRef` of the interface: pipe 1 is the
    // interface's first endpoint in descriptor order, pipe 2 its second... The completion runs
    // once, on the thread of the host's event source (UsbHost::createEventSource). The buffer
    // must stay valid until the completion has run. Returns without waiting; when the read
    // cannot be queued no completion runs and the result says why: kUsbErrorBusy while the
    // interface is not open by us (closed, or held by the kernel's video driver),
    // kUsbErrorNotSupported without an event source, kUsbErrorInvalidParam for a pipe the
    // interface does not have or that is not an IN pipe.
    virtual UsbResult readPipeAsync(std::uint8_t pipeRef, std::span<std::uint8_t> buffer, ReadCompletion completion)
        = 0;
};

// A USB device, found but not opened.
class UsbDevice {
public:
    virtual ~UsbDevice() = default;

    virtual std::uint16_t vendorId() const = 0;
    virtual std::uint16_t productId() const = 0;
    // The product name the device reports (from sysfs, no open needed); empty with a failure
    // when it has none or it cannot be read.
    virtual UsbResult name(std::string &out) const = 0;
    // Bus number in the top byte, one nibble per hub port below it (LocationId.h). Fails with
    // kUsbErrorOverflow for a chain that does not fit; `out` is then left as it was.
    virtual UsbResult locationId(std::uint32_t &out) const = 0;

    // The interfaces of the active configuration that match `request`, in the order of the
    // configuration descriptor (each alternate setting is one entry), none of them open.
    virtual UsbResult findInterfaces(
        const FindInterfaceRequest &request, std::vector<std::shared_ptr<UsbInterface>> &out)
        = 0;

    // `handler` runs once, on the event source's thread, when the device is unplugged.
    // Needs an event source on the host.
    virtual UsbResult addRemovalNotification(std::function<void()> handler, std::unique_ptr<UsbNotification> &out) = 0;
};

// Serves the host's asynchronous work (read completions, notifications) on the thread that made
// it: that thread must run a Qt event loop (QThread::exec, QEventLoop::exec). One per host;
// dropping it cancels nothing but stops deliveries.
class UsbEventSource {
public:
    virtual ~UsbEventSource() = default;
    // The object whose thread the deliveries run on.
    virtual QObject *context() const = 0;
};

class UsbHost {
public:
    virtual ~UsbHost() = default;

    // Every USB device attached now. A device that the host sees but cannot describe comes as
    // an entry with a null device and the failure.
    struct DeviceEntry {
        UsbResult result = kUsbSuccess;
        std::shared_ptr<UsbDevice> device;
    };
    virtual std::vector<DeviceEntry> devices() = 0;

    // Creates the event source on the calling thread (see UsbEventSource). Fails with
    // kUsbErrorBusy when the host already has one.
    virtual UsbResult createEventSource(std::unique_ptr<UsbEventSource> &out) = 0;

    // The devices of `vendorId`/`productId` attached now go to `present`; each one attached
    // later is handed to `arrived` on the event source's thread. Needs an event source.
    virtual UsbResult addMatchingNotification(std::uint16_t vendorId, std::uint16_t productId,
        std::vector<std::shared_ptr<UsbDevice>> &present, std::function<void(std::shared_ptr<UsbDevice>)> arrived,
        std::unique_ptr<UsbNotification> &out)
        = 0;
};

// The host on this machine's USB (libusb), or null with `result` set when libusb cannot start.
std::shared_ptr<UsbHost> makeLibusbHost(UsbResult *result = nullptr);

} // namespace quillora::usb
