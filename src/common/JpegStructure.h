// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The marker structure of a JPEG stream as cameras send it, read without decoding: where its
// segments lie, whether it carries Huffman tables, and where it ends. A camera's buffer may hold
// more than its frame (padding, or the rest of an older frame left behind in the buffer); the
// frame is what lies between its start-of-image marker and its first end-of-image marker.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quillora {

namespace jpeg {
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSos = 0xDA;
constexpr std::uint8_t kDht = 0xC4;
constexpr std::uint8_t kApp0 = 0xE0;
} // namespace jpeg

// One marker segment: its marker (the byte after 0xFF), where its 0xFF stands and how many bytes
// it takes, marker and length field included.
struct JpegSegment {
    std::uint8_t marker = 0;
    std::size_t offset = 0;
    std::size_t size = 0;
};

struct JpegLayout {
    std::vector<JpegSegment> headers; // the segments between the start of image and the first scan
    std::size_t scanOffset = 0;       // where the first scan's header (its SOS marker) stands
    std::size_t end = 0;              // one past the first end-of-image marker: the frame's length
    bool hasHuffmanTables = false;    // a DHT segment before the first scan
    bool hasFrameHeader = false;      // a start-of-frame segment before the first scan
    int width = 0;                    // the picture's size, as the frame header gives it
    int height = 0;
};

// The layout of the JPEG stream at the start of `bytes`; nothing when it does not start with a
// start-of-image marker, a segment runs past the bytes, or no end-of-image marker follows the
// first scan (a frame cut short). Segments are walked by their lengths, so bytes inside them
// (an embedded thumbnail's markers) never end the frame, and they may come in any order.
std::optional<JpegLayout> jpegLayout(std::span<const std::uint8_t> bytes);

// The four Huffman tables decoders use when a frame carries none (luminance and chrominance, DC
// and AC, as the JPEG standard lists them), as one DHT segment, marker included.
std::span<const std::uint8_t> standardHuffmanTablesSegment();

} // namespace quillora
