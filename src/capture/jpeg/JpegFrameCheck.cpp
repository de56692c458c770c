// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegFrameCheck.h"

#include "JpegStructure.h"

#include <cstdio>

#include <jpeglib.h>

#include <jerror.h>

namespace quillora::capture {

std::optional<std::size_t> wholeJpegFrameLength(const std::uint8_t *data, std::size_t size)
{
    if (!data)
        return std::nullopt;
    const auto layout = jpegLayout(std::span(data, size));
    if (!layout)
        return std::nullopt;
    return layout->end;
}

JpegWarning jpegWarningKind(int code, int parameter0)
{
    switch (code) {
    case JWRN_EXTRANEOUS_DATA:
        // "N extraneous bytes before marker M": the decoder had all it needed and skipped to the
        // marker. A few are a camera's padding (before its restart markers, mostly); thousands
        // are the data of another frame, behind a part of this one that went missing.
        return parameter0 >= 0 && parameter0 <= kMaxJpegPadding ? JpegWarning::Padding : JpegWarning::Damage;
    case JWRN_JFIF_MAJOR: // a JFIF version it does not know: the header is read all the same
    case JWRN_BOGUS_ICC:  // a broken colour profile, which we do not use
        return JpegWarning::Padding;
    default:
        // Premature end of data, a marker where a restart was due, a bad Huffman code, data
        // after the last scan, ...: whatever libjpeg adds of its own is taken for damage too.
        return JpegWarning::Damage;
    }
}

} // namespace quillora::capture
