// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the capture layer: a camera's JPEG frames decoded with libjpeg-turbo's own API, at full
// size or at the smallest of its DCT scales (1/8 to 1) that still covers the size a picture is
// shown or recorded at. Decoding at a scale skips most of the work of the pixels that would be
// thrown away by scaling down afterwards.
#include "TurboJpegHandles.h"

#include <QSize>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace quillora::capture {

// The size a `full`-size frame decodes to at the smallest scale whose result covers `cover` in
// both sides; `full` when `cover` is empty or no smaller scale covers it.
QSize jpegScaledSize(QSize full, QSize cover);

// One decoder; one thread at a time.
class JpegPicture {
public:
    // The frame's size, when it arrived whole and its headers can be read; nothing otherwise,
    // with the reason in `why`.
    std::optional<QSize> frameSize(const std::uint8_t *data, std::size_t size, QString *why);
    // Decodes the frame as BGRx into `to` (`stride` bytes a row) at `target`, which is the
    // frame's size or one jpegScaledSize gave for it. False, with the reason, on failure.
    bool decode(const std::uint8_t *data, std::size_t size, std::uint8_t *to, int stride, QSize target, QString *why);

private:
    bool fail(QString *why, const QString &reason);
    TjHandlePtr m_decompressor;
};

} // namespace quillora::capture
