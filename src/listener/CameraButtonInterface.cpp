// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraButtonInterface.h"

#include "ListenerLog.h"

#include <QSocketNotifier>

#include <linux/input.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quillora::listener {

namespace {

// What a press leaves in the read's buffer: a UVC status report of the kind a camera sends on
// its status pipe for its button (streaming interface, button press event, pressed). Nothing
// examines it; it is there so a completed read carries the press as data.
constexpr std::array<std::uint8_t, 4> kPressReport{0x02, 0x01, 0x00, 0x01};

} // namespace

CameraButtonInterface::CameraButtonInterface(std::shared_ptr<usb::UsbInterface> inner, DeviceRoots roots)
    : m_inner(std::move(inner))
    , m_roots(std::move(roots))
    , m_context(std::make_unique<QObject>())
{
}

CameraButtonInterface::~CameraButtonInterface()
{
    closeInputDevice();
    // A read still pending is dropped with m_context: its completion never runs, and its buffer
    // is not touched any more.
}

usb::UsbResult CameraButtonInterface::open()
{
    if (m_input)
        return usb::kUsbSuccess;
    // The video driver keeps the interface whenever it is bound; claiming it would fail, and
    // a road through the driver opens only its controls, never the status pipe.
    if (lookUpButton(false).driverBound)
        return openInputDevice(usb::kUsbErrorBusy);
    const usb::UsbResult result = m_inner->open();
    if (result == usb::kUsbErrorBusy)
        return openInputDevice(result);
    return result;
}

usb::UsbResult CameraButtonInterface::close()
{
    if (!m_input)
        return m_inner->close();
    closeInputDevice();
    if (m_pending) {
        // Like a cancelled transfer: the completion follows, not from inside close().
        auto completion = std::move(m_pending->completion);
        m_pending.reset();
        QMetaObject::invokeMethod(
            m_context.get(), [completion = std::move(completion)] { completion(usb::kUsbErrorInterrupted, 0); },
            Qt::QueuedConnection);
    }
    return usb::kUsbSuccess;
}

bool CameraButtonInterface::isOpen() const
{
    return m_input || m_inner->isOpen();
}

usb::UsbResult CameraButtonInterface::readPipeAsync(
    std::uint8_t pipeRef, std::span<std::uint8_t> buffer, usb::ReadCompletion completion)
{
    if (!m_input) {
        const usb::UsbResult result = m_inner->readPipeAsync(pipeRef, buffer, completion);
        // Opened through the video driver's controls: the driver still reads the status pipe.
        if (result != usb::kUsbErrorBusy || openInputDevice(result) != usb::kUsbSuccess)
            return result;
        m_inner->close();
    }
    if (pipeRef != 1 || !completion)
        return usb::kUsbErrorInvalidParam; // the input device stands for the status pipe only
    if (m_pending)
        return usb::kUsbErrorBusy;
    m_pending = PendingRead{buffer, std::move(completion)};
    return usb::kUsbSuccess;
}

CameraButtonLookup CameraButtonInterface::lookUpButton(bool afresh) const
{
    const auto device = m_inner->device();
    std::uint32_t location = 0;
    if (!device || device->locationId(location) != usb::kUsbSuccess)
        return {};
    const CameraUsbInterface camera{location, device->vendorId(), device->productId(), m_inner->interfaceNumber()};
    return afresh ? findCameraButton(camera, m_roots.sys, m_roots.dev) : attachedCameraButton(camera, m_roots);
}

usb::UsbResult CameraButtonInterface::openInputDevice(usb::UsbResult held)
{
    const auto device = m_inner->device();
    std::uint32_t location = 0;
    if (!device || device->locationId(location) != usb::kUsbSuccess)
        return held;
    int error = ENOENT;
    const auto openEventNode = [&error](const std::string &path) {
        UniqueFd fd(path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        error = path.empty() ? ENOENT : errno;
        return fd;
    };
    CameraButtonLookup lookup = lookUpButton(false);
    UniqueFd fd = openEventNode(lookup.eventNode);
    // The kernel makes the button's input device after the camera's USB device, and numbers it
    // anew when the camera comes back: a record without one, or with one that is gone, is
    // resolved again.
    if (!fd && error == ENOENT) {
        lookup = lookUpButton(true);
        fd = openEventNode(lookup.eventNode);
    }
    if (lookup.eventNode.empty()) {
        if (!m_toldNoInputDevice) {
            m_toldNoInputDevice = true;
            qCWarning(lcListener,
                "the video driver holds the camera at location 0x%08x and the kernel made no input device for its "
                "button (%s): the snapshot button cannot be heard",
                unsigned(location), lookup.why.c_str());
        }
        return held;
    }
    if (!fd) {
        qCInfo(lcListener, "cannot open the camera's input device %s: %s", lookup.eventNode.c_str(), strerror(error));
        return error == EACCES || error == EPERM ? usb::kUsbErrorAccess : held;
    }
    // A freshly opened event device reports what comes after the open; anything already
    // queued (an emulated device keeps what came while it was closed) belongs to before.
    input_event event{};
    while (::read(fd.get(), &event, sizeof event) == ssize_t(sizeof event)) { }
    qCInfo(lcListener, "listening to the camera's button on %s", lookup.eventNode.c_str());
    m_input = std::move(fd);
    m_notifier = std::make_unique<QSocketNotifier>(m_input.get(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_context.get(), [this] { inputReadable(); });
    return usb::kUsbSuccess;
}

void CameraButtonInterface::closeInputDevice()
{
    if (m_input)
        qCInfo(lcListener, "no longer listening to the camera's button");
    m_notifier.reset();
    m_input.reset();
}

void CameraButtonInterface::inputReadable()
{
    usb::UsbResult result = usb::kUsbSuccess;
    bool pressed = false;
    for (;;) {
        input_event event{};
        const ssize_t n = ::read(m_input.get(), &event, sizeof event);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n != ssize_t(sizeof event)) {
            // The device went away (ENODEV) or misbehaves: nothing more will come from it.
            qCInfo(lcListener, "the camera's input device stopped: %s", n < 0 ? strerror(errno) : "short read");
            m_notifier->setEnabled(false);
            result = usb::kUsbErrorNoDevice;
            break;
        }
        // One press (value 1; 0 is the release, 2 a repeat) completes one read. Presses while
        // no read is pending are not kept, as a status pipe that nobody polls keeps none.
        if (event.type == EV_KEY && event.code == KEY_CAMERA && event.value == 1 && m_pending) {
            pressed = true;
            break;
        }
    }
    if (!m_pending || (!pressed && result == usb::kUsbSuccess))
        return;
    PendingRead read = std::move(*m_pending);
    m_pending.reset();
    std::uint32_t length = 0;
    if (pressed) {
        length = std::uint32_t(std::min(read.buffer.size(), kPressReport.size()));
        std::copy_n(kPressReport.begin(), length, read.buffer.begin());
    }
    // Last: the completion may close or drop this interface.
    read.completion(result, length);
}

} // namespace quillora::listener
