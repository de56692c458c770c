// The road through the kernel's video driver: which entity a class request addresses (from the
// camera's descriptors) and what reaches the driver. Finding the video node: EmulatedCameraTest.
#include "VideoDriverRoad.h"

#include <gtest/gtest.h>

using namespace quillora::usb;

namespace {

// Header, camera terminal 1, processing unit 2, extension unit 3, output terminal 4.
const std::vector<std::uint8_t> kVideoControlDescriptors = {0x0D, 0x24, 0x01, 0x00, 0x01, 0x4D, 0x00, 0x80, 0x8D, 0x5B,
    0x00, 0x01, 0x01, 0x12, 0x24, 0x02, 0x01, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00,
    0x00, 0x02, 0x0B, 0x24, 0x05, 0x02, 0x01, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x1A, 0x24, 0x06, 0x03, 0x01, 0x02,
    0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x01, 0x01, 0x02, 0x01, 0x03,
    0x00, 0x09, 0x24, 0x03, 0x04, 0x01, 0x01, 0x00, 0x03, 0x00};

struct RecordingDriver : VideoDriverControl {
    std::vector<std::string> calls;
    UsbResult result = kUsbSuccess;
    UsbResult setAutoFocus(bool on) override
    {
        calls.push_back(on ? "focus on" : "focus off");
        return result;
    }
    UsbResult setExtensionUnitControl(
        std::uint8_t unit, std::uint8_t selector, std::span<const std::uint8_t> data) override
    {
        calls.push_back("unit " + std::to_string(unit) + " selector " + std::to_string(selector) + " bytes "
            + std::to_string(data.size()) + " first " + std::to_string(data[0]));
        return result;
    }
};

// Malformed descriptors end the parse without reading past the buffer or looping for ever.
TEST(VideoDriverRoad, EntitiesComeFromTheClassSpecificDescriptors)
{
    EXPECT_EQ(parseUvcEntities(kVideoControlDescriptors),
        (UvcEntities{{1, UvcEntityKind::CameraTerminal}, {2, UvcEntityKind::ProcessingUnit},
            {3, UvcEntityKind::ExtensionUnit}, {4, UvcEntityKind::OtherTerminal}}));
    std::vector<std::uint8_t> truncated(kVideoControlDescriptors.begin(), kVideoControlDescriptors.begin() + 36);
    truncated[31] = 0x40; // claims more bytes than there are
    EXPECT_EQ(parseUvcEntities(truncated), (UvcEntities{{1, UvcEntityKind::CameraTerminal}}));
    EXPECT_TRUE(parseUvcEntities(std::vector<std::uint8_t>{0x00, 0x24, 0x02, 0x01}).empty()); // zero length
    EXPECT_TRUE(parseUvcEntities({}).empty());
}

// Only auto-focus on the camera terminal and extension-unit SET_CURs reach the driver; the rest are refused unsent.
TEST(VideoDriverRoad, ClassRequestsReachTheDriverOrAreRefused)
{
    struct Case {
        std::uint8_t type, request, selector, entity;
        std::vector<std::uint8_t> data;
        UsbResult driverResult, result;
        std::string call;
    };
    const Case cases[] = {
        {0x21, 0x01, 8, 1, {0x01}, kUsbSuccess, kUsbSuccess, "focus on"},
        {0x21, 0x01, 8, 1, {0x00}, kUsbSuccess, kUsbSuccess, "focus off"},
        {0x21, 0x01, 2, 3, {0xAA, 0xBB}, kUsbSuccess, kUsbSuccess, "unit 3 selector 2 bytes 2 first 170"},
        {0x21, 0x01, 8, 1, {0x01}, kUsbErrorPipe, kUsbErrorPipe, "focus on"},
        {0x21, 0x01, 4, 1, {0x01}, kUsbSuccess, kUsbErrorNotSupported, ""}, // not auto-focus
        {0x21, 0x01, 2, 2, {0x01}, kUsbSuccess, kUsbErrorNotSupported, ""}, // processing unit
        {0x21, 0x01, 8, 9, {0x01}, kUsbSuccess, kUsbErrorNotSupported, ""}, // unknown entity
        {0xA1, 0x81, 8, 1, {0x01}, kUsbSuccess, kUsbErrorNotSupported, ""}, // GET_CUR
        {0x41, 0x01, 8, 1, {0x01}, kUsbSuccess, kUsbErrorNotSupported, ""}, // vendor
        {0x21, 0x01, 8, 1, {0x01, 0x00}, kUsbSuccess, kUsbErrorInvalidParam, ""},
    };
    const UvcEntities entities = parseUvcEntities(kVideoControlDescriptors);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "selector " << int(c.selector) << " entity " << int(c.entity));
        RecordingDriver driver;
        driver.result = c.driverResult;
        auto data = c.data;
        DevRequest request{c.type, c.request, std::uint16_t(c.selector << 8), std::uint16_t(c.entity << 8),
            std::uint16_t(data.size()), data.data(), 0};
        EXPECT_EQ(sendThroughVideoDriver(driver, entities, request), c.result);
        EXPECT_EQ(request.wLenDone, c.result == kUsbSuccess ? data.size() : 0u);
        EXPECT_EQ(driver.calls, c.call.empty() ? std::vector<std::string>{} : std::vector{c.call});
    }
}

} // namespace
