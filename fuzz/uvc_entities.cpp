// SPDX-License-Identifier: GPL-3.0-or-later
// The class-specific descriptors of a video-control interface, as any USB device may send them:
// the entity walk must stay inside the bytes, and the entities it finds decide which requests go
// through the video driver.
#include "FuzzSupport.h"
#include "VideoDriverRoad.h"

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

    // The focus request and an extension-unit request to every entity: only a camera terminal
    // takes the focus, only an extension unit takes its controls, and nothing else reaches the
    // driver.
    for (const auto &[id, kind] : entities) {
        RecordingDriver driver;
        std::uint8_t on = 1;
        usb::DevRequest focus;
        focus.bmRequestType = 0x21;
        focus.bRequest = 0x01;
        focus.wValue = 0x0800;
        focus.wIndex = std::uint16_t(id << 8);
        focus.wLength = 1;
        focus.pData = &on;
        const usb::UsbResult focusResult = usb::sendThroughVideoDriver(driver, entities, focus);
        fuzz::check((focusResult == usb::kUsbSuccess)
                == (kind == usb::UvcEntityKind::CameraTerminal || kind == usb::UvcEntityKind::ExtensionUnit),
            "focus request on the wrong kind of entity");
        fuzz::check(driver.autoFocusCalls == (kind == usb::UvcEntityKind::CameraTerminal ? 1 : 0),
            "auto-focus sent to an entity that is no camera terminal");
        fuzz::check(driver.extensionCalls == (kind == usb::UvcEntityKind::ExtensionUnit ? 1 : 0),
            "extension-unit control sent to an entity that is no extension unit");
    }
    return 0;
}
