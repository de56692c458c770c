#pragma once
// Cameras on a noisy USB link send JPEG frames that are cut short or begin mid-stream. The
// decoder would paint the missing part grey or give up on the stream; such a frame is dropped
// before it gets there, and the picture goes on with the next.
#include <gst/gst.h>

#include <cstddef>
#include <cstdint>

namespace quillora::capture {

// Whether a camera's JPEG frame arrived whole: it starts with a start-of-image marker and
// ends with an end-of-image marker (cameras may pad a frame after it, with zeros or 0xFF).
bool jpegFrameLooksWhole(const std::uint8_t *data, std::size_t size);

// Whether jpegdec can start on the frame: its header reads to the start of the picture data,
// with a size, in a layout jpegdec decodes (YCbCr in a standard subsampling, grayscale, or RGB
// without subsampling). On any other header jpegdec ends the whole stream, whatever its
// max-errors, so such a frame must not reach it.
bool jpegHeaderDecodable(const std::uint8_t *data, std::size_t size);

// Drops the frames that did not arrive whole, or whose header jpegdec cannot start on, before
// `decoder` sees them and lets it pass over frames it cannot decode instead of ending the
// stream; both are logged at most once a second.
void guardJpegDecoder(GstElement *decoder);

} // namespace quillora::capture
