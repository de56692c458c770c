// SPDX-License-Identifier: GPL-3.0-or-later
#include "UsbHost.h"

namespace quillora::usb {

const char *usbResultName(UsbResult result)
{
    switch (result) {
    case kUsbSuccess:
        return "SUCCESS";
    case kUsbErrorIo:
        return "ERROR_IO";
    case kUsbErrorInvalidParam:
        return "ERROR_INVALID_PARAM";
    case kUsbErrorAccess:
        return "ERROR_ACCESS";
    case kUsbErrorNoDevice:
        return "ERROR_NO_DEVICE";
    case kUsbErrorNotFound:
        return "ERROR_NOT_FOUND";
    case kUsbErrorBusy:
        return "ERROR_BUSY";
    case kUsbErrorTimeout:
        return "ERROR_TIMEOUT";
    case kUsbErrorOverflow:
        return "ERROR_OVERFLOW";
    case kUsbErrorPipe:
        return "ERROR_PIPE";
    case kUsbErrorInterrupted:
        return "ERROR_INTERRUPTED";
    case kUsbErrorNoMem:
        return "ERROR_NO_MEM";
    case kUsbErrorNotSupported:
        return "ERROR_NOT_SUPPORTED";
    default:
        return "ERROR_OTHER";
    }
}

std::array<std::uint8_t, 8> setupPacket(const DevRequest &request)
{
    return {request.bmRequestType, request.bRequest, std::uint8_t(request.wValue & 0xFF),
        std::uint8_t(request.wValue >> 8), std::uint8_t(request.wIndex & 0xFF), std::uint8_t(request.wIndex >> 8),
        std::uint8_t(request.wLength & 0xFF), std::uint8_t(request.wLength >> 8)};
}

} // namespace quillora::usb
