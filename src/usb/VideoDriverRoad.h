// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// While the kernel's video driver (uvcvideo) is bound to a camera's video-control interface,
// nobody else may claim it, and Linux refuses class requests to an unclaimed interface. The
// driver itself sends those requests for us: the camera terminal's controls through V4L2
// controls on the camera's video node, extension units through UVCIOC_CTRL_QUERY. This is
// that road, used by the libusb host when a claim comes back busy.
#include "UsbHost.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <utility>

namespace quillora::usb {

// The units and terminals of a video-control interface, as its class-specific descriptors (the
// bytes behind the standard interface descriptor) declare them: (entity ID, kind) pairs. A
// camera may give two entities of different kinds the same ID (units and terminals are
// numbered apart on some), so every pair is kept and a request looks an ID up among the
// entities of the kind it addresses.
enum class UvcEntityKind { CameraTerminal, OtherTerminal, ProcessingUnit, ExtensionUnit, OtherUnit };
using UvcEntities = std::set<std::pair<std::uint8_t, UvcEntityKind>>;
UvcEntities parseUvcEntities(std::span<const std::uint8_t> classSpecificDescriptors);

// The driver's controls of one camera.
class VideoDriverControl {
public:
    virtual ~VideoDriverControl() = default;
    // The camera terminal's auto-focus control (the driver sends its SET_CUR).
    virtual UsbResult setAutoFocus(bool on) = 0;
    // SET_CUR of `selector` on extension unit `unit` with `data`.
    virtual UsbResult setExtensionUnitControl(
        std::uint8_t unit, std::uint8_t selector, std::span<const std::uint8_t> data)
        = 0;
};

// Sends a class request of the host-to-device SET_CUR kind through the driver: selector 8
// (auto-focus) of the camera terminal with a one-byte value, or any selector of an extension
// unit. Anything else has no road through the driver: kUsbErrorNotSupported, nothing sent.
UsbResult sendThroughVideoDriver(VideoDriverControl &driver, const UvcEntities &entities, DevRequest &request);

// True for the requests that take this road when the interface is held by the driver: class
// requests whose recipient is the interface.
bool isInterfaceClassRequest(const DevRequest &request);

// How the host reaches the driver of the camera at a location ID.
using VideoDriverOpener = std::function<UsbResult(std::uint32_t locationId, std::unique_ptr<VideoDriverControl> &out)>;

// The machine's driver: a video node of the camera record at `locationId` (the one the camera
// list published, or resolved now from <sysfsRoot> when none is current), opened from <devRoot>.
// kUsbErrorNotFound when the camera has no node; its picture node (its `index` 0, rather than
// the metadata node) is preferred.
UsbResult openVideoDriverControl(std::uint32_t locationId, std::unique_ptr<VideoDriverControl> &out,
    const std::string &sysfsRoot = "/sys", const std::string &devRoot = "/dev");

// An errno as a result code, the way libusb maps them.
UsbResult resultFromErrno(int error);

} // namespace quillora::usb
