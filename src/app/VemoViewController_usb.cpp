// SPDX-License-Identifier: GPL-3.0-or-later
// Camera control over USB: finding the camera's video-control interface by location ID, and the
// focus sequence (two vendor register writes, then SET_CUR of the camera terminal's auto-focus).
#include "VemoViewController.h"

#include "CameraControlLog.h"
#include "UsbHost.h"
#include "UsbLog.h"
#include "WebcamProcessor.h"

#include <array>

namespace quillora::app {

namespace {

constexpr std::uint16_t kFocusRegister = 0x3F00;
constexpr std::size_t kMaxDataLength = sizeof(std::int64_t);

} // namespace

void VemoViewController::setUsbHost(std::shared_ptr<usb::UsbHost> host)
{
    mUsbHost = std::move(host);
}

usb::UsbHost *VemoViewController::usbHost()
{
    if (!mUsbHost) {
        usb::UsbResult result = usb::kUsbSuccess;
        mUsbHost = usb::makeLibusbHost(&result);
        if (!mUsbHost)
            qCWarning(lcUsb, "USB is not available (libusb could not start: %s); the camera cannot be controlled",
                usb::usbResultName(result));
    }
    return mUsbHost.get();
}

VemoViewController *VemoViewController::initCameraInterfaceWithLocationID(std::uint32_t locationId)
{
    interface.reset();
    usb::UsbHost *host = usbHost();
    if (!host)
        return this;
    std::shared_ptr<usb::UsbDevice> found;
    for (const auto &entry : host->devices()) {
        if (entry.result != usb::kUsbSuccess || !entry.device) {
            usb::logCameraControlError(
                QStringLiteral("IOCreatePlugInInterfaceForService returned 0x%1.").arg(usb::hex08(entry.result)));
            continue;
        }
        std::uint32_t deviceLocation = 0; // a location that cannot be formed compares as 0
        entry.device->locationId(deviceLocation);
        // 0 is no USB location (there is no bus 0): a camera whose location is unknown must not
        // be matched with a device whose location could not be formed.
        if (locationId != 0 && deviceLocation == locationId) {
            found = entry.device;
            break;
        }
    }
    if (found) {
        qCInfo(lcUsb, "control interface found at location 0x%08x", unsigned(locationId));
        interface = getControlInferaceWithDeviceInterface(found);
    }
    return this;
}

std::shared_ptr<usb::UsbInterface> VemoViewController::getControlInferaceWithDeviceInterface(
    const std::shared_ptr<usb::UsbDevice> &deviceInterface)
{
    if (!deviceInterface)
        return nullptr;
    usb::FindInterfaceRequest request;
    request.bInterfaceClass = usb::kVideoInterfaceClass;
    request.bInterfaceSubClass = usb::kVideoControlSubClass;
    request.bInterfaceProtocol = usb::kAnyValue;
    request.bAlternateSetting = usb::kAnyValue;
    std::vector<std::shared_ptr<usb::UsbInterface>> interfaces;
    if (deviceInterface->findInterfaces(request, interfaces) != usb::kUsbSuccess)
        return nullptr;
    // Only the first one the configuration lists is ever used.
    if (interfaces.empty())
        return nullptr;
    return interfaces.front();
}

void VemoViewController::focusClick(QObject *)
{
    listener::WebcamProcessor::killListener();
    setRegister(kFocusRegister, 8);
    setRegister(kFocusRegister, 3);
    setData(1, 1, 8, 1);
    listener::WebcamProcessor::unkillListener();
}

void VemoViewController::setRegister(std::uint16_t reg, std::uint16_t value)
{
    if (!interface)
        return;
    usb::DevRequest request;
    request.bmRequestType = 0x41; // host to device, vendor, interface
    request.bRequest = 0x00;
    request.wValue = value;
    request.wIndex = reg;
    request.wLength = 0;
    request.pData = nullptr;
    // A register write needs no open: vendor requests reach the camera while the video driver
    // holds the interface. Its result is of no use to the caller.
    interface->controlRequest(request);
}

bool VemoViewController::setData(std::intptr_t value, std::int32_t length, std::int32_t selector, std::int32_t unit)
{
    // The data stage is taken from the value itself: more bytes than it has would send whatever
    // lies beyond it.
    if (length < 0 || std::size_t(length) > kMaxDataLength) {
        usb::logCameraControlError(
            QStringLiteral("Data length %1 is more than the %2 bytes of the value; request not sent")
                .arg(length)
                .arg(kMaxDataLength));
        return false;
    }
    // The value's bytes, least significant first, whatever the machine's byte order.
    std::array<std::uint8_t, kMaxDataLength> data{};
    const auto bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(value));
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::uint8_t(bits >> (8 * i));

    usb::DevRequest request;
    request.bmRequestType = 0x21; // host to device, class, interface
    request.bRequest = 0x01;      // SET_CUR
    // The low bytes are the interface number, 0; selector and unit keep only their low 8 bits.
    request.wValue = std::uint16_t(std::uint32_t(selector) << 8);
    request.wIndex = std::uint16_t(std::uint32_t(unit) << 8);
    request.wLength = std::uint16_t(length);
    request.pData = length > 0 ? data.data() : nullptr;
    request.wLenDone = 0;
    return sendControlRequest(request);
}

bool VemoViewController::sendControlRequest(usb::DevRequest request)
{
    if (!interface) {
        usb::logCameraControlError(QStringLiteral("No interface to send request"));
        return false;
    }
    const usb::UsbResult opened = interface->open();
    if (opened != usb::kUsbSuccess) {
        usb::logCameraControlError(QStringLiteral("Unable to open interface (%1)\n").arg(usb::hex08(opened)));
        return false;
    }
    const usb::UsbResult sent = interface->controlRequest(request);
    interface->close();
    if (sent != usb::kUsbSuccess) {
        usb::logCameraControlError(QStringLiteral("Control request failed: %1").arg(usb::hex08(sent)));
        return false;
    }
    return true;
}

} // namespace quillora::app
