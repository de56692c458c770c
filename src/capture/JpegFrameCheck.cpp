// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegFrameCheck.h"

namespace quillora::capture {

namespace {
// How much padding after the end-of-image marker is taken for padding, not for a broken frame.
constexpr std::size_t kMaxPadding = 4096;
} // namespace

bool jpegFrameLooksWhole(const std::uint8_t *data, std::size_t size)
{
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    std::size_t end = size;
    while (end > 2 && size - end < kMaxPadding && (data[end - 1] == 0x00 || data[end - 1] == 0xFF))
        --end;
    return end >= 4 && data[end - 1] == 0xD9 && data[end - 2] == 0xFF;
}

} // namespace quillora::capture
