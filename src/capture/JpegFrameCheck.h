// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Cameras on a noisy USB link send JPEG frames that are cut short or begin mid-stream. A
// decoder would paint the missing part grey; such a frame is dropped before it gets there, and
// the picture goes on with the next.
#include <cstddef>
#include <cstdint>

namespace quillora::capture {

// Whether a camera's JPEG frame arrived whole: it starts with a start-of-image marker and
// ends with an end-of-image marker (cameras may pad a frame after it, with zeros or 0xFF).
bool jpegFrameLooksWhole(const std::uint8_t *data, std::size_t size);

} // namespace quillora::capture
