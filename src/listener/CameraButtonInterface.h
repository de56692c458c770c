// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The camera's first USB interface as the listener uses it. While no kernel driver holds the
// interface this is the interface itself: opened by claiming it, its button reports read from its
// interrupt pipe. While the video driver (uvcvideo) holds it - whenever the picture runs - the
// pipe cannot be read by us; the driver reports the button instead as KEY_CAMERA on an input
// device of its own. Then opening opens that input device, closing closes it, and each key press
// completes the pending read of pipe 1, so the listener's own logic stays the same on both roads.
//
// Used on one thread (the listener's): made, opened, closed and read there, and its completions
// run there.
#include "CameraInputDevice.h"
#include "UsbHost.h"

#include "UniqueFd.h"

#include <memory>
#include <optional>
#include <string>

class QSocketNotifier;

namespace quillora::listener {

// Where sysfs and the device nodes are.
using DeviceRoots = devices::SysfsRoots;

class CameraButtonInterface final : public usb::UsbInterface {
public:
    CameraButtonInterface(std::shared_ptr<usb::UsbInterface> inner, DeviceRoots roots);
    ~CameraButtonInterface() override;

    std::uint8_t interfaceNumber() const override { return m_inner->interfaceNumber(); }
    std::uint8_t alternateSetting() const override { return m_inner->alternateSetting(); }
    std::uint8_t interfaceClass() const override { return m_inner->interfaceClass(); }
    std::uint8_t interfaceSubClass() const override { return m_inner->interfaceSubClass(); }
    std::uint8_t interfaceProtocol() const override { return m_inner->interfaceProtocol(); }
    std::shared_ptr<usb::UsbDevice> device() const override { return m_inner->device(); }

    usb::UsbResult open() override;
    usb::UsbResult close() override;
    bool isOpen() const override;
    usb::UsbResult controlRequest(usb::DevRequest &request) override { return m_inner->controlRequest(request); }
    usb::UsbResult readPipeAsync(
        std::uint8_t pipeRef, std::span<std::uint8_t> buffer, usb::ReadCompletion completion) override;

    // The button is read from the video driver's input device.
    bool readsInputDevice() const { return bool(m_input); }

private:
    // The button as the camera's record says: the attached camera's record, or one resolved
    // now. Nothing found when the device has no location.
    CameraButtonLookup lookUpButton(bool afresh) const;
    // Opens the camera's input device; `held` is why the interface itself cannot be used, and
    // what open() reports when there is no input device either.
    usb::UsbResult openInputDevice(usb::UsbResult held);
    void closeInputDevice();
    void inputReadable();

    struct PendingRead {
        std::span<std::uint8_t> buffer;
        usb::ReadCompletion completion;
    };

    std::shared_ptr<usb::UsbInterface> m_inner;
    DeviceRoots m_roots;
    UniqueFd m_input;                            // the input device, while open through it
    std::unique_ptr<QSocketNotifier> m_notifier; // watches m_input
    std::unique_ptr<QObject> m_context;          // runs queued completions; they die with it
    std::optional<PendingRead> m_pending;        // the read of pipe 1 the next press completes
    bool m_toldNoInputDevice = false;            // the missing input device is logged once
};

} // namespace quillora::listener
