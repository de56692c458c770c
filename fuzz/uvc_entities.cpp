// SPDX-License-Identifier: GPL-3.0-or-later
// The class-specific descriptors of a video-control interface, as any USB device may send them:
// the entity walk must stay inside the bytes, and the entities it finds decide which requests go
// through the video driver.
#include "FuzzSupport.h"
#include "VideoDriverRoad.h"

#include <map>
#include <set>
#include <vector>

using namespace quillora;

namespace {

// Records what the road asked of the driver.
class RecordingDriver final : public usb::VideoDriverControl {
public:
    int autoFocusCalls = 0;
    int extensionCalls = 0;
    usb::UsbResult setAutoFocus(bool) override
    {
        ++autoFocusCalls;
        return usb::kUsbSuccess;
    }
    usb::UsbResult setExtensionUnitControl(std::uint8_t, std::uint8_t, std::span<const std::uint8_t>) override
    {
        ++extensionCalls;
        return usb::kUsbSuccess;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const usb::UvcEntities entities = usb::parseUvcEntities(bytes);

    // Every entity is declared by a class-specific interface descriptor of its own, at least four
    // bytes long: there cannot be more of them than that.
    fuzz::check(entities.size() <= size / 4, "more entities than descriptors");

    // The focus request and an extension-unit request to every entity ID. A camera may give one
    // ID to entities of two kinds (units and terminals are numbered apart on some), so what the
    // driver is asked follows from all the kinds the ID has: auto-focus only when a camera
    // terminal has it, an extension unit's control only when an extension unit has it and (for
    // the focus selector) no camera terminal takes the request first, and nothing else.
    std::map<std::uint8_t, std::set<usb::UvcEntityKind>> kindsOf;
    for (const auto &[id, kind] : entities)
        kindsOf[id].insert(kind);
    for (const auto &[id, kinds] : kindsOf) {
        const bool camera = kinds.contains(usb::UvcEntityKind::CameraTerminal);
        const bool extension = kinds.contains(usb::UvcEntityKind::ExtensionUnit);
        for (const std::uint8_t selector : {std::uint8_t(0x08), std::uint8_t(0x02)}) {
            RecordingDriver driver;
            std::uint8_t on = 1;
            usb::DevRequest request;
            request.bmRequestType = 0x21;
            request.bRequest = 0x01;
            request.wValue = std::uint16_t(selector << 8);
            request.wIndex = std::uint16_t(id << 8);
            request.wLength = 1;
            request.pData = &on;
            const bool focus = selector == 0x08;
            const bool toCamera = focus && camera;
            const bool toExtension = extension && !toCamera;
            const usb::UsbResult result = usb::sendThroughVideoDriver(driver, entities, request);
            fuzz::check((result == usb::kUsbSuccess) == (toCamera || toExtension), "a request went the wrong way");
            fuzz::check(driver.autoFocusCalls == (toCamera ? 1 : 0), "auto-focus sent where no camera terminal is");
            fuzz::check(driver.extensionCalls == (toExtension ? 1 : 0),
                "extension-unit control sent where no extension unit is");
        }
    }
    return 0;
}
