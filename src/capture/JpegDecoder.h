#pragma once
// Inside the capture layer: the camera's JPEG frames decoded straight to the BGRx pictures the
// session works in, one GStreamer element ("quillorajpegdecoder") on libjpeg-turbo's own API.
// GStreamer's jpegdec gives I420 only for a camera's YUV JPEGs, which then costs a second full
// pass to BGRx; libjpeg-turbo converts the colours while it decodes.

namespace quillora::capture {

// Registers the element with GStreamer (once; later calls do nothing). False when it cannot.
bool registerJpegDecoder();

constexpr const char *kJpegDecoderFactory = "quillorajpegdecoder";

} // namespace quillora::capture
