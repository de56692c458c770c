// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the capture layer: the part of a camera's JPEG frame that a zoomed view shows, decoded
// at the DCT scale it needs and no more (libjpeg's partial decompression). The rows above the
// part are skipped (their entropy-coded data must still be read, but nothing is reconstructed
// from it), the columns beside it are not reconstructed, and the rows below it are never read.
#include <QRect>
#include <QSize>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quillora::capture {

// The DCT scales libjpeg decodes at: eighths of the frame's size, 1 to 8.
constexpr int kJpegWholeScale = 8;

// The smallest scale (in eighths) at which a frame gives at least `pixelsPerFramePixel` picture
// pixels for each of its own; 8 (its own size) when nothing smaller does.
int jpegScaleCovering(double pixelsPerFramePixel);

// The size of a `frame`-size picture decoded at `eighths`/8 (each side rounded up, as libjpeg
// does).
QSize jpegSizeAtScale(QSize frame, int eighths);

struct JpegRegion {
    // What was decoded, in pixels of the picture at the scale: the part asked for, widened on
    // the left to the JPEG's block column it starts in.
    QRect decoded;
    // The whole picture's size at the scale.
    QSize scaledFrame;
};

// One decoder, kept from frame to frame; one thread at a time.
class JpegRegionDecoder {
public:
    JpegRegionDecoder();
    ~JpegRegionDecoder();
    JpegRegionDecoder(const JpegRegionDecoder &) = delete;
    JpegRegionDecoder &operator=(const JpegRegionDecoder &) = delete;

    // Decodes the part `wanted` (pixels of the picture at `eighths`/8 of the frame's size,
    // clipped to it) of the JPEG frame `data` as BGRx into `to`, rows of decoded.width() * 4
    // bytes. Nothing, with the reason in `why`, for a frame that cannot be decoded, one damaged
    // above or inside the part, or a part outside it. A frame damaged further down than the part
    // still gives the part (those rows are never read).
    std::optional<JpegRegion> decode(const std::uint8_t *data, std::size_t size, int eighths, QRect wanted,
        std::vector<std::uint8_t> &to, QString *why);

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace quillora::capture
