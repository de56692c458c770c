// SPDX-License-Identifier: GPL-3.0-or-later
#include "VideoDriverRoad.h"

#include "AttachedCameras.h"
#include "UniqueFd.h"
#include "UsbLog.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <linux/usb/ch9.h>
#include <linux/usb/video.h>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <optional>
#include <vector>

namespace quillora::usb {

namespace {

constexpr std::uint8_t kSetCur = 0x01;
constexpr std::uint8_t kAutoFocusSelector = 0x08;     // CT_FOCUS_AUTO_CONTROL
constexpr std::uint16_t kCameraTerminalType = 0x0201; // ITT_CAMERA
constexpr std::uint8_t kEncodingUnit = 0x07;          // VC_ENCODING_UNIT (UVC 1.5)

int ioctlRetrying(int fd, unsigned long request, void *argument)
{
    int r;
    do {
        r = ::ioctl(fd, request, argument);
    } while (r < 0 && errno == EINTR);
    return r;
}

class V4l2VideoDriverControl final : public VideoDriverControl {
public:
    explicit V4l2VideoDriverControl(UniqueFd fd)
        : m_fd(std::move(fd))
    {
    }

    UsbResult setAutoFocus(bool on) override
    {
        v4l2_control control{};
        control.id = V4L2_CID_FOCUS_AUTO;
        control.value = on ? 1 : 0;
        return ioctlRetrying(m_fd.get(), VIDIOC_S_CTRL, &control) < 0 ? resultFromErrno(errno) : kUsbSuccess;
    }

    UsbResult setExtensionUnitControl(
        std::uint8_t unit, std::uint8_t selector, std::span<const std::uint8_t> data) override
    {
        // The driver only reads the buffer for SET_CUR, but its field is not const.
        std::vector<std::uint8_t> copy(data.begin(), data.end());
        uvc_xu_control_query query{};
        query.unit = unit;
        query.selector = selector;
        query.query = UVC_SET_CUR;
        query.size = std::uint16_t(copy.size());
        query.data = copy.data();
        return ioctlRetrying(m_fd.get(), UVCIOC_CTRL_QUERY, &query) < 0 ? resultFromErrno(errno) : kUsbSuccess;
    }

private:
    UniqueFd m_fd; // the video node, open for as long as the road is taken
};

} // namespace

UsbResult resultFromErrno(int error)
{
    switch (error) {
    case 0:
        return kUsbSuccess;
    case EIO:
    case EPROTO:
    case EILSEQ:
        return kUsbErrorIo;
    case EINVAL:
    case ERANGE:
        return kUsbErrorInvalidParam;
    case EACCES:
    case EPERM:
        return kUsbErrorAccess;
    case ENODEV:
    case ESHUTDOWN:
        return kUsbErrorNoDevice;
    case ENOENT:
    case ENXIO:
        return kUsbErrorNotFound;
    case EBUSY:
        return kUsbErrorBusy;
    case ETIMEDOUT:
        return kUsbErrorTimeout;
    case EOVERFLOW:
        return kUsbErrorOverflow;
    case EPIPE:
        return kUsbErrorPipe;
    case EINTR:
        return kUsbErrorInterrupted;
    case ENOMEM:
        return kUsbErrorNoMem;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
        return kUsbErrorNotSupported;
    default:
        return kUsbErrorOther;
    }
}

UvcEntities parseUvcEntities(std::span<const std::uint8_t> bytes)
{
    UvcEntities entities;
    std::size_t at = 0;
    while (at + 2 <= bytes.size()) {
        const std::size_t length = bytes[at];
        if (length < 2 || at + length > bytes.size())
            break; // a broken descriptor: trust nothing behind it
        const auto descriptor = bytes.subspan(at, length);
        at += length;
        if (descriptor[1] != USB_DT_CS_INTERFACE || length < 4)
            continue;
        const std::uint8_t id = descriptor[3];
        switch (descriptor[2]) {
        case UVC_VC_INPUT_TERMINAL:
            if (length >= 6) {
                const std::uint16_t type = std::uint16_t(descriptor[4] | descriptor[5] << 8);
                entities.emplace(
                    id, type == kCameraTerminalType ? UvcEntityKind::CameraTerminal : UvcEntityKind::OtherTerminal);
            }
            break;
        case UVC_VC_OUTPUT_TERMINAL:
            entities.emplace(id, UvcEntityKind::OtherTerminal);
            break;
        case UVC_VC_PROCESSING_UNIT:
            entities.emplace(id, UvcEntityKind::ProcessingUnit);
            break;
        case UVC_VC_EXTENSION_UNIT:
            entities.emplace(id, UvcEntityKind::ExtensionUnit);
            break;
        case UVC_VC_SELECTOR_UNIT:
        case kEncodingUnit:
            entities.emplace(id, UvcEntityKind::OtherUnit);
            break;
        default:
            break; // the header and anything newer name no entity we could reach
        }
    }
    return entities;
}

bool isInterfaceClassRequest(const DevRequest &request)
{
    return (request.bmRequestType & 0x60) == 0x20 && (request.bmRequestType & 0x1F) == 0x01;
}

UsbResult sendThroughVideoDriver(VideoDriverControl &driver, const UvcEntities &entities, DevRequest &request)
{
    // Only host-to-device SET_CUR has a road; the driver answers GET requests from its cache
    // with values that need not be the camera's.
    if (!isInterfaceClassRequest(request) || (request.bmRequestType & 0x80) || request.bRequest != kSetCur)
        return kUsbErrorNotSupported;
    if (request.wLength > 0 && !request.pData)
        return kUsbErrorInvalidParam;
    const std::uint8_t selector = std::uint8_t(request.wValue >> 8);
    const std::uint8_t entity = std::uint8_t(request.wIndex >> 8);
    const auto has = [&](UvcEntityKind kind) { return entities.contains({entity, kind}); };
    const std::span<const std::uint8_t> data(static_cast<const std::uint8_t *>(request.pData), request.wLength);
    UsbResult result = kUsbErrorNotSupported;
    if (has(UvcEntityKind::CameraTerminal) && selector == kAutoFocusSelector) {
        // CT_FOCUS_AUTO_CONTROL carries one byte, 0 or 1.
        if (data.size() != 1)
            return kUsbErrorInvalidParam;
        result = driver.setAutoFocus(data[0] != 0);
    } else if (has(UvcEntityKind::ExtensionUnit)) {
        result = driver.setExtensionUnitControl(entity, selector, data);
    }
    if (result == kUsbSuccess)
        request.wLenDone = request.wLength;
    return result;
}

UsbResult openVideoDriverControl(std::uint32_t locationId, std::unique_ptr<VideoDriverControl> &out,
    const std::string &sysfsRoot, const std::string &devRoot)
{
    const auto camera = devices::attachedCameraAt({sysfsRoot, devRoot}, locationId);
    UsbResult result = kUsbErrorNotFound;
    if (!camera)
        return result;
    // The picture node comes first; the metadata node answers the same controls.
    for (const devices::VideoNode &node : camera->videoNodes) {
        UniqueFd fd(::open(node.devicePath.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
        if (!fd) {
            result = resultFromErrno(errno);
            qCDebug(lcUsb, "cannot open %s: %s", node.devicePath.c_str(), usbResultName(result));
            continue;
        }
        out = std::make_unique<V4l2VideoDriverControl>(std::move(fd));
        return kUsbSuccess;
    }
    return result;
}

} // namespace quillora::usb
