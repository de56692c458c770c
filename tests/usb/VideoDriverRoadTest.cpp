// Which entities a camera's video-control descriptors declare (they decide what the video driver is asked).
#include "VideoDriverRoad.h"

#include <gtest/gtest.h>

using namespace quillora::usb;

namespace {

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
