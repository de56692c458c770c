// SPDX-License-Identifier: GPL-3.0-or-later
#include "PixelScale.h"

#include <libyuv/scale_argb.h>

#include <algorithm>

namespace quillora::capture {

bool scaleBgrx(
    const uint8_t *from, int fromStride, QSize source, uint8_t *to, int toStride, QSize target, HalvingScratch &scratch)
{
    if (source.isEmpty() || target.isEmpty())
        return false;
    // libyuv filters 4-byte pixels bilinearly: each pixel blends the 2x2 source pixels nearest
    // to it, so shrinking to less than half in one step would skip rows and columns. At
    // exactly half that blend is the average of each 2x2 block.
    int turn = 0;
    while (source.width() / 2 >= target.width() && source.height() / 2 >= target.height()) {
        const QSize half(source.width() / 2, source.height() / 2);
        std::vector<uint8_t> &into = scratch.halves[turn];
        into.resize(size_t(half.width()) * size_t(half.height()) * 4);
        if (libyuv::ARGBScale(from, fromStride, source.width(), source.height(), into.data(), half.width() * 4,
                half.width(), half.height(), libyuv::kFilterBilinear)
            != 0)
            return false;
        from = into.data();
        fromStride = half.width() * 4;
        source = half;
        turn ^= 1;
    }
    return libyuv::ARGBScale(from, fromStride, source.width(), source.height(), to, toStride, target.width(),
               target.height(), libyuv::kFilterBilinear)
        == 0;
}

QSize fitInside(QSize source, QSize box)
{
    if (source.isEmpty())
        return QSize(box.width() & ~1, box.height() & ~1);
    QSize fitted = source.scaled(box, Qt::KeepAspectRatio);
    fitted.setWidth(std::max(2, fitted.width() & ~1));
    fitted.setHeight(std::max(2, fitted.height() & ~1));
    return fitted;
}

} // namespace quillora::capture
