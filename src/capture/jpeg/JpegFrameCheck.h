// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Cameras on a noisy USB link send JPEG frames that are cut short, begin mid-stream or lost a
// packet in the middle; their buffers may also hold more than the frame (padding, the rest of an
// older frame). A decoder would paint what is missing grey, or garbage blocks where a packet was
// lost; such a frame is dropped before it is shown, and the picture goes on with the next.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace quillora::capture {

// The length of a camera's JPEG frame that arrived whole: from its start-of-image marker to its
// first end-of-image marker, whatever follows in the buffer. Nothing when it is cut short or its
// marker structure is broken.
std::optional<std::size_t> wholeJpegFrameLength(const std::uint8_t *data, std::size_t size);

// What a warning of libjpeg while it decodes a frame says about the frame.
enum class JpegWarning {
    None,
    // A few stray bytes before a marker (cameras pad their restart intervals so), a header
    // oddity: the picture is whole.
    Padding,
    // The data is damaged (data missing, a marker out of place, a code no table has): the
    // picture has garbage in it.
    Damage,
};

// The kind of the warning with libjpeg's message code `code` and its first parameter.
JpegWarning jpegWarningKind(int code, int parameter0);

// More stray bytes than this before one marker are no padding but data of another frame (a
// packet sent twice, the rest of an older frame).
constexpr int kMaxJpegPadding = 64;

} // namespace quillora::capture
