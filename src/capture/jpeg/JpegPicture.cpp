// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegPicture.h"

#include <turbojpeg.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include <jerror.h>

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

namespace {

// libjpeg reports errors by calling back, and its callback must not return: it jumps back to
// the decoding call. Everything between the jump and its target is C (libjpeg) or plain data.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf escape;
    JpegWarning worst;
    char message[JMSG_LENGTH_MAX];
};

ErrorManager &errorsOf(j_common_ptr info)
{
    return *reinterpret_cast<ErrorManager *>(info->err);
}

[[noreturn]] void onError(j_common_ptr info)
{
    ErrorManager &errors = errorsOf(info);
    info->err->format_message(info, errors.message);
    std::longjmp(errors.escape, 1);
}

// Warnings (level -1) decide what the frame is worth; trace messages are dropped. The first
// warning of damage ends the decoding there: the frame is refused whatever follows.
void onMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    ErrorManager &errors = errorsOf(info);
    ++info->err->num_warnings;
    const JpegWarning kind = jpegWarningKind(info->err->msg_code, info->err->msg_parm.i[0]);
    if (kind <= errors.worst)
        return;
    errors.worst = kind;
    info->err->format_message(info, errors.message);
    if (kind == JpegWarning::Damage)
        std::longjmp(errors.escape, 1);
}

struct Target {
    std::uint8_t *to;
    int stride;
    int width;
    int height;
    int scaleNum; // of 8
    bool accurate;
};

// Reads the header of `length` bytes, and with a target decodes the picture into it. False
// when libjpeg gave up or warned of damage (its message in the error manager).
bool runLibjpeg(jpeg_decompress_struct &info, ErrorManager &errors, const std::uint8_t *data, std::size_t length,
    const Target *target, int *width, int *height)
{
    errors.worst = JpegWarning::None;
    errors.message[0] = '\0';
    if (setjmp(errors.escape)) {
        jpeg_abort_decompress(&info);
        return false;
    }
    jpeg_mem_src(&info, data, static_cast<unsigned long>(length));
    jpeg_read_header(&info, TRUE);
    *width = int(info.image_width);
    *height = int(info.image_height);
    if (!target) {
        jpeg_abort_decompress(&info);
        return true;
    }
    info.scale_num = unsigned(target->scaleNum);
    info.scale_denom = 8;
    info.out_color_space = JCS_EXT_BGRX;
    info.dct_method = target->accurate ? JDCT_ISLOW : JDCT_IFAST;
    info.do_fancy_upsampling = target->accurate ? TRUE : FALSE;
    jpeg_calc_output_dimensions(&info);
    if (int(info.output_width) != target->width || int(info.output_height) != target->height) {
        std::snprintf(errors.message, sizeof errors.message, "a %ux%u JPEG picture cannot be decoded at %dx%d",
            info.image_width, info.image_height, target->width, target->height);
        jpeg_abort_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[16];
        const int first = int(info.output_scanline);
        const int count = std::min(16, int(info.output_height) - first);
        for (int i = 0; i < count; ++i)
            rows[i] = target->to + std::ptrdiff_t(first + i) * target->stride;
        jpeg_read_scanlines(&info, rows, JDIMENSION(count));
    }
    jpeg_finish_decompress(&info);
    return true;
}

} // namespace

struct JpegPicture::Libjpeg {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    Libjpeg()
    {
        info.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = onError;
        errors.pub.emit_message = onMessage;
        jpeg_create_decompress(&info);
    }
    ~Libjpeg() { jpeg_destroy_decompress(&info); }
};

JpegPicture::JpegPicture(JpegDecoding decoding)
    : m_libjpeg(std::make_unique<Libjpeg>())
    , m_decoding(decoding)
{
}

JpegPicture::~JpegPicture() = default;

bool JpegPicture::fail(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}

std::optional<QSize> JpegPicture::frameSize(const std::uint8_t *data, std::size_t size, QString *why)
{
    const auto length = wholeJpegFrameLength(data, size);
    if (!length) {
        fail(why, QStringLiteral("not a whole JPEG picture"));
        return std::nullopt;
    }
    int width = 0;
    int height = 0;
    if (!runLibjpeg(m_libjpeg->info, m_libjpeg->errors, data, *length, nullptr, &width, &height) || width <= 0
        || height <= 0) {
        fail(why, QStringLiteral("unreadable JPEG headers: %1").arg(QString::fromUtf8(m_libjpeg->errors.message)));
        return std::nullopt;
    }
    // A header claiming more than any camera sends would have every picture made of it (at any
    // scale) take hundreds of megabytes: garbage, not a frame.
    if (width > kMaxJpegSide || height > kMaxJpegSide) {
        fail(why, QStringLiteral("a %1x%2 picture is larger than any camera's").arg(width).arg(height));
        return std::nullopt;
    }
    return QSize(width, height);
}

bool JpegPicture::decode(
    const std::uint8_t *data, std::size_t size, std::uint8_t *to, int stride, QSize target, QString *why)
{
    m_lastWarning = JpegWarning::None;
    const auto full = frameSize(data, size, why); // whole, readable, of a camera's size
    if (!full)
        return false;
    const std::size_t length = *wholeJpegFrameLength(data, size);
    // The scale, of 8, at which the frame's size reaches the target: jpegScaledSize's choice.
    const int width = full->width();
    const int height = full->height();
    int scale = 0;
    for (int num = 1; num <= 8 && !scale; ++num)
        if (QSize(int((qint64(width) * num + 7) / 8), int((qint64(height) * num + 7) / 8)) == target)
            scale = num;
    if (!scale || jpegScaledSize(QSize(width, height), target) != target)
        return fail(why,
            QStringLiteral("a %1x%2 JPEG picture cannot be decoded at %3x%4")
                .arg(width)
                .arg(height)
                .arg(target.width())
                .arg(target.height()));
    const Target into{to, stride, target.width(), target.height(), scale, m_decoding == JpegDecoding::Accurate};
    int decodedWidth = 0;
    int decodedHeight = 0;
    const bool decoded
        = runLibjpeg(m_libjpeg->info, m_libjpeg->errors, data, length, &into, &decodedWidth, &decodedHeight);
    m_lastWarning = m_libjpeg->errors.worst;
    if (!decoded)
        return fail(why, QString::fromUtf8(m_libjpeg->errors.message));
    return true;
}

} // namespace quillora::capture
