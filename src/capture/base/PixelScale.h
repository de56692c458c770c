// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the capture layer: resizing 4-byte BGRx pictures (libyuv), shared by the live view
// and the movie.
#include <QSize>

#include <cstdint>
#include <vector>

namespace quillora::capture {

// Pictures halved on the way down, kept by the caller from one frame to the next.
struct HalvingScratch {
    std::vector<uint8_t> halves[2];
};

// Scales `source` (at `from`, `fromStride` bytes a row) to `target` (at `to`). A picture shrunk
// to half or less is halved first, each halving averaging 2x2 blocks, so every camera pixel
// counts and fine print does not shimmer; what is left is scaled bilinearly. False on failure.
bool scaleBgrx(const uint8_t *from, int fromStride, QSize source, uint8_t *to, int toStride, QSize target,
    HalvingScratch &scratch);

// The size that fits inside `box` with the aspect of `source` kept, both sides even.
QSize fitInside(QSize source, QSize box);

} // namespace quillora::capture
