// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegPicture.h"

#include "JpegFrameCheck.h"

#include <utility>

namespace quillora::capture {

QSize jpegScaledSize(QSize full, QSize cover)
{
    if (full.isEmpty() || cover.isEmpty())
        return full;
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    QSize best = full;
    for (int i = 0; factors && i < count; ++i) {
        const tjscalingfactor f = factors[i];
        if (f.num <= 0 || f.denom <= 0 || f.num >= f.denom)
            continue; // only scales below 1
        const QSize scaled(TJSCALED(full.width(), f), TJSCALED(full.height(), f));
        if (scaled.width() >= cover.width() && scaled.height() >= cover.height()
            && qint64(scaled.width()) * scaled.height() < qint64(best.width()) * best.height())
            best = scaled;
    }
    return best;
}

bool JpegPicture::fail(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    // TurboJPEG leaves a handle that failed unusable for the frames after: a new one next time.
    m_decompressor.reset();
    return false;
}

std::optional<QSize> JpegPicture::frameSize(const std::uint8_t *data, std::size_t size, QString *why)
{
    if (!jpegFrameLooksWhole(data, size)) {
        fail(why, QStringLiteral("not a whole JPEG picture"));
        return std::nullopt;
    }
    if (!m_decompressor)
        m_decompressor.reset(tjInitDecompress());
    if (!m_decompressor) {
        fail(why, QStringLiteral("no JPEG decoder"));
        return std::nullopt;
    }
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(
            m_decompressor.get(), data, static_cast<unsigned long>(size), &width, &height, &subsampling, &colorspace)
            != 0
        || width <= 0 || height <= 0) {
        fail(why,
            QStringLiteral("unreadable JPEG headers: %1").arg(QString::fromUtf8(tjGetErrorStr2(m_decompressor.get()))));
        return std::nullopt;
    }
    return QSize(width, height);
}

bool JpegPicture::decode(
    const std::uint8_t *data, std::size_t size, std::uint8_t *to, int stride, QSize target, QString *why)
{
    const auto full = frameSize(data, size, why);
    if (!full)
        return false;
    // Only a size the decoder can reach: the frame's own, or one of its scales.
    const QSize reached(jpegScaledSize(*full, target));
    if (reached != target)
        return fail(why,
            QStringLiteral("a %1x%2 JPEG picture cannot be decoded at %3x%4")
                .arg(full->width())
                .arg(full->height())
                .arg(target.width())
                .arg(target.height()));
    // The fast integer IDCT and upsampling, as GStreamer's jpegdec decodes by default.
    const int result = tjDecompress2(m_decompressor.get(), data, static_cast<unsigned long>(size), to, target.width(),
        stride, target.height(), TJPF_BGRX, TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE);
    // A warning (damaged data the decoder read past) still leaves a whole picture.
    if (result != 0 && tjGetErrorCode(m_decompressor.get()) != TJERR_WARNING)
        return fail(why, QString::fromUtf8(tjGetErrorStr2(m_decompressor.get())));
    return true;
}

} // namespace quillora::capture
