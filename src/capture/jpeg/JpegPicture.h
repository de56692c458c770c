// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the capture layer: a camera's JPEG frames decoded with libjpeg, at full size or at the
// smallest of its DCT scales (1/8 to 1) that still covers the size a picture is shown or
// recorded at. Decoding at a scale skips most of the work of the pixels that would be thrown
// away by scaling down afterwards. libjpeg's own API rather than TurboJPEG's: only it says which
// warning a frame gave, and a camera's harmless padding must not cost its frames while a frame
// that lost a packet must never be shown.
#include "JpegFrameCheck.h"

#include <QSize>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace quillora::capture {

// The size a `full`-size frame decodes to at the smallest scale whose result covers `cover` in
// both sides; `full` when `cover` is empty or no smaller scale covers it.
QSize jpegScaledSize(QSize full, QSize cover);

enum class JpegDecoding {
    Fast,     // the fast integer DCT and plain chroma upsampling: pictures only shown
    Accurate, // libjpeg's defaults (the slow integer DCT, smooth upsampling): a still that is kept
};

// The largest side of a frame taken for a picture (V4L2's own limit; the largest cameras send
// 8000).
constexpr int kMaxJpegSide = 16384;

// One decoder; one thread at a time.
class JpegPicture {
public:
    explicit JpegPicture(JpegDecoding decoding = JpegDecoding::Fast);
    ~JpegPicture();
    JpegPicture(const JpegPicture &) = delete;
    JpegPicture &operator=(const JpegPicture &) = delete;

    // The frame's size, when it arrived whole and its headers can be read; nothing otherwise,
    // with the reason in `why`.
    std::optional<QSize> frameSize(const std::uint8_t *data, std::size_t size, QString *why);
    // Decodes the frame as BGRx into `to` (`stride` bytes a row) at `target`, which is the
    // frame's size or one jpegScaledSize gave for it. False, with the reason, when the frame is
    // cut short, unreadable or damaged inside; a camera's padding is no damage.
    bool decode(const std::uint8_t *data, std::size_t size, std::uint8_t *to, int stride, QSize target, QString *why);

    // The worst warning of the last frame decoded (None or Padding after a success).
    JpegWarning lastWarning() const { return m_lastWarning; }

private:
    bool fail(QString *why, const QString &reason);
    struct Libjpeg;
    std::unique_ptr<Libjpeg> m_libjpeg;
    JpegDecoding m_decoding;
    JpegWarning m_lastWarning = JpegWarning::None;
};

} // namespace quillora::capture
