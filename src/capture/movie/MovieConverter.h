// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the capture layer: the movie's picture step, one GStreamer element
// ("quilloramovieconverter") that takes the camera's BGRx frames to the encoder's I420 at the
// movie's size in a single pass (libyuv), where videoscale and videoconvert would take two
// slower ones.

namespace quillora::capture {

// Registers the element with GStreamer (once; later calls do nothing). False when it cannot.
bool registerMovieConverter();

constexpr const char *kMovieConverterFactory = "quilloramovieconverter";

} // namespace quillora::capture
