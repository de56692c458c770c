// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegRegion.h"

#include "JpegFrameCheck.h"

// jpeglib.h wants FILE and size_t declared before it.
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <limits>

namespace quillora::capture {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back to
// the decode that is under way. The manager comes first, so libjpeg's pointer to it is one to
// the whole.
struct Errors {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void escapeOnError(j_common_ptr info)
{
    auto *errors = reinterpret_cast<Errors *>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->escape, 1);
}

// Warnings are counted, never printed. A camera's padding leaves the part whole; damage in the
// rows read or skipped over to reach it (a lost packet) would put garbage in it: the part is
// refused there, as a whole frame so damaged is, and the picture goes on with the next frame.
void onWarning(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    ++info->err->num_warnings;
    if (jpegWarningKind(info->err->msg_code, info->err->msg_parm.i[0]) != JpegWarning::Damage)
        return;
    auto *errors = reinterpret_cast<Errors *>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->escape, 1);
}

// A picture larger than this is no camera's (the largest listed are 48 megapixels); refused
// before memory is asked for it.
constexpr qint64 kLargestPicture = qint64(1) << 26; // 64 megapixels
// What libjpeg may take for one frame: a progressive frame keeps all of its coefficients, which
// a frame that only claims to be huge must not turn into gigabytes.
constexpr long kLargestWorkingMemory = 512L * 1024 * 1024;

} // namespace

struct JpegRegionDecoder::State {
    Errors errors{};
    jpeg_decompress_struct info{};
    bool created = false;
};

int jpegScaleCovering(double pixelsPerFramePixel)
{
    if (!std::isfinite(pixelsPerFramePixel) || pixelsPerFramePixel >= 1.0)
        return kJpegWholeScale;
    return std::clamp(int(std::ceil(pixelsPerFramePixel * kJpegWholeScale - 1e-9)), 1, kJpegWholeScale);
}

QSize jpegSizeAtScale(QSize frame, int eighths)
{
    eighths = std::clamp(eighths, 1, kJpegWholeScale);
    return {int((qint64(frame.width()) * eighths + 7) / 8), int((qint64(frame.height()) * eighths + 7) / 8)};
}

namespace {

// The steps of a decode that may fail inside libjpeg, each with its own landing place and only
// plain values in its frame (a jump must pass over no C++ destructor).
bool create(Errors &errors, jpeg_decompress_struct &info)
{
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = escapeOnError;
    errors.manager.emit_message = onWarning;
    if (setjmp(errors.escape))
        return false;
    jpeg_create_decompress(&info);
    return true;
}

bool startDecode(Errors &errors, jpeg_decompress_struct &info, const std::uint8_t *data, std::size_t size, int eighths,
    QRect wanted, JpegRegion *region)
{
    if (setjmp(errors.escape)) {
        jpeg_abort_decompress(&info);
        return false;
    }
    info.err->num_warnings = 0;
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (qint64(info.image_width) * info.image_height > kLargestPicture) {
        std::snprintf(errors.message, sizeof errors.message, "a %ux%u picture is larger than any camera's",
            info.image_width, info.image_height);
        jpeg_abort_decompress(&info);
        return false;
    }
    info.mem->max_memory_to_use = kLargestWorkingMemory;
    info.out_color_space = JCS_EXT_BGRX;
    info.scale_num = unsigned(eighths);
    info.scale_denom = 8;
    // The fast integer IDCT and upsampling, as the whole-frame decode of the view uses.
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    const QRect part = wanted & QRect(0, 0, int(info.output_width), int(info.output_height));
    if (part.isEmpty()) {
        std::snprintf(errors.message, sizeof errors.message, "the part asked for is not in the picture");
        jpeg_abort_decompress(&info);
        return false;
    }
    region->scaledFrame = QSize(int(info.output_width), int(info.output_height));
    JDIMENSION left = JDIMENSION(part.x());
    JDIMENSION width = JDIMENSION(part.width());
    if (left != 0 || width != info.output_width)
        jpeg_crop_scanline(&info, &left, &width);
    region->decoded = QRect(int(left), part.y(), int(width), part.height());
    return true;
}

bool readRows(Errors &errors, jpeg_decompress_struct &info, int top, int rows, std::uint8_t *to, std::size_t stride)
{
    if (setjmp(errors.escape)) {
        jpeg_abort_decompress(&info);
        return false;
    }
    if (top > 0)
        jpeg_skip_scanlines(&info, JDIMENSION(top));
    int done = 0;
    while (done < rows) {
        JSAMPROW batch[4];
        const int count = std::min(4, rows - done);
        for (int i = 0; i < count; ++i)
            batch[i] = to + std::size_t(done + i) * stride;
        const JDIMENSION read = jpeg_read_scanlines(&info, batch, JDIMENSION(count));
        if (read == 0) {
            std::snprintf(errors.message, sizeof errors.message, "the picture ended before the part asked for");
            jpeg_abort_decompress(&info);
            return false;
        }
        done += int(read);
    }
    // The rows below the part are never read.
    jpeg_abort_decompress(&info);
    return true;
}

} // namespace

JpegRegionDecoder::JpegRegionDecoder()
    : d(std::make_unique<State>())
{
    d->created = create(d->errors, d->info);
}

JpegRegionDecoder::~JpegRegionDecoder()
{
    if (d->created)
        jpeg_destroy_decompress(&d->info);
}

std::optional<JpegRegion> JpegRegionDecoder::decode(
    const std::uint8_t *data, std::size_t size, int eighths, QRect wanted, std::vector<std::uint8_t> &to, QString *why)
{
    auto fail = [&](const char *reason) -> std::optional<JpegRegion> {
        if (why)
            *why = QString::fromUtf8(reason);
        return std::nullopt;
    };
    if (!d->created)
        return fail("no JPEG decoder");
    if (!data || size == 0 || size > std::numeric_limits<unsigned long>::max())
        return fail("no JPEG picture");
    if (eighths < 1 || eighths > kJpegWholeScale)
        return fail("no such JPEG scale");
    JpegRegion region;
    if (!startDecode(d->errors, d->info, data, size, eighths, wanted, &region))
        return fail(d->errors.message);
    const std::size_t stride = std::size_t(region.decoded.width()) * 4;
    to.resize(stride * std::size_t(region.decoded.height()));
    if (!readRows(d->errors, d->info, region.decoded.y(), region.decoded.height(), to.data(), stride))
        return fail(d->errors.message);
    return region;
}

} // namespace quillora::capture
