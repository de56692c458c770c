// SPDX-License-Identifier: GPL-3.0-or-later
// Which entities a camera's video-control descriptors declare (they decide what the video driver is asked).
#include "VideoDriverRoad.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using namespace quillora::usb;

namespace {

// The class-specific bytes behind the video-control interface (class 14, subclass 1) of a
// recorded camera's configuration (a hex dump, device descriptor first).
std::vector<std::uint8_t> videoControlBytes(const QString &path)
{
    std::ifstream in(path.toStdString());
    std::string hex;
    in >> hex;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(std::uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    std::vector<std::uint8_t> result;
    bool inside = false;
    for (std::size_t at = 18; at + 2 <= bytes.size() && bytes[at] >= 2; at += bytes[at]) {
        if (bytes[at + 1] == 0x04)
            inside = bytes[at + 5] == 0x0E && bytes[at + 6] == 0x01;
        else if (inside && bytes[at + 1] == 0x24)
            result.insert(result.end(), bytes.begin() + long(at), bytes.begin() + long(at + bytes[at]));
    }
    return result;
}

struct RecordingDriver : VideoDriverControl {
    std::vector<std::pair<std::uint8_t, std::uint8_t>> unitControls; // (unit, selector)
    int autoFocus = 0;
    UsbResult setAutoFocus(bool) override
    {
        ++autoFocus;
        return kUsbSuccess;
    }
    UsbResult setExtensionUnitControl(std::uint8_t unit, std::uint8_t selector, std::span<const std::uint8_t>) override
    {
        unitControls.emplace_back(unit, selector);
        return kUsbSuccess;
    }
};

// An H.265 webcam gives its second extension unit and its output terminal the same ID (4): both
// are kept, and a request to extension unit 4 still reaches the driver as one.
TEST(VideoDriverRoad, AnEntityIdSharedAcrossKindsKeepsBoth)
{
    QUILLORA_REAL_DATA_OR_SKIP(elp, QStringLiteral("usb-descriptors/elp_h265.hex"));
    const UvcEntities entities = parseUvcEntities(videoControlBytes(elp));
    EXPECT_EQ(entities,
        (UvcEntities{{1, UvcEntityKind::CameraTerminal}, {2, UvcEntityKind::ProcessingUnit},
            {3, UvcEntityKind::ExtensionUnit}, {4, UvcEntityKind::ExtensionUnit}, {4, UvcEntityKind::OtherTerminal}}));
    RecordingDriver driver;
    std::uint8_t value = 1;
    DevRequest toUnit4{0x21, 0x01, 0x0200, 0x0400, 1, &value, 0};
    EXPECT_EQ(sendThroughVideoDriver(driver, entities, toUnit4), kUsbSuccess);
    DevRequest focusOnTerminal1{0x21, 0x01, 0x0800, 0x0100, 1, &value, 0};
    EXPECT_EQ(sendThroughVideoDriver(driver, entities, focusOnTerminal1), kUsbSuccess);
    DevRequest focusOnProcessingUnit{0x21, 0x01, 0x0800, 0x0200, 1, &value, 0};
    EXPECT_EQ(sendThroughVideoDriver(driver, entities, focusOnProcessingUnit), kUsbErrorNotSupported);
    EXPECT_EQ(driver.unitControls, (std::vector<std::pair<std::uint8_t, std::uint8_t>>{{4, 2}}));
    EXPECT_EQ(driver.autoFocus, 1);
}

// Malformed descriptors end the parse without reading past the buffer or looping for ever.
TEST(VideoDriverRoad, EntitiesComeFromTheClassSpecificDescriptors)
{
    // Header, camera terminal 1, processing unit 2, extension unit 3, output terminal 4.
    const std::vector<std::uint8_t> descriptors = {0x0D, 0x24, 0x01, 0x00, 0x01, 0x4D, 0x00, 0x80, 0x8D, 0x5B, 0x00,
        0x01, 0x01, 0x12, 0x24, 0x02, 0x01, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00,
        0x00, 0x02, 0x0B, 0x24, 0x05, 0x02, 0x01, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x1A, 0x24, 0x06, 0x03, 0x01,
        0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x01, 0x01, 0x02,
        0x01, 0x03, 0x00, 0x09, 0x24, 0x03, 0x04, 0x01, 0x01, 0x00, 0x03, 0x00};
    EXPECT_EQ(parseUvcEntities(descriptors),
        (UvcEntities{{1, UvcEntityKind::CameraTerminal}, {2, UvcEntityKind::ProcessingUnit},
            {3, UvcEntityKind::ExtensionUnit}, {4, UvcEntityKind::OtherTerminal}}));
    std::vector<std::uint8_t> truncated(descriptors.begin(), descriptors.begin() + 36);
    truncated[31] = 0x40; // claims more bytes than there are
    EXPECT_EQ(parseUvcEntities(truncated), (UvcEntities{{1, UvcEntityKind::CameraTerminal}}));
    EXPECT_TRUE(parseUvcEntities(std::vector<std::uint8_t>{0x00, 0x24, 0x02, 0x01}).empty()); // zero length
    EXPECT_TRUE(parseUvcEntities({}).empty());
}

} // namespace
