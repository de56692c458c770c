// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the capture layer: the camera's JPEG frames decoded straight to BGRx pictures, one
// GStreamer element ("quillorajpegdecoder") on libjpeg-turbo's own API. GStreamer's jpegdec
// gives I420 only for a camera's YUV JPEGs, which then costs a second full pass to BGRx;
// libjpeg-turbo converts the colours while it decodes. With its "cover-width" and
// "cover-height" properties set, it decodes at the smallest DCT scale that still covers them.

namespace quillora::capture {

// Registers the element with GStreamer (once; later calls do nothing). False when it cannot.
bool registerJpegDecoder();

constexpr const char *kJpegDecoderFactory = "quillorajpegdecoder";

} // namespace quillora::capture
