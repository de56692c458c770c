// SPDX-License-Identifier: GPL-3.0-or-later
#include "RealFrames.h"
#include "TestSupport.h"

#include "TurboJpegHandles.h"

#include <QFile>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include <jpeglib.h>

namespace quillora::test {

void RealFramesTest::SetUp()
{
    QUILLORA_REAL_DATA_OR_SKIP(found, QStringLiteral("mjpeg-frames"));
    folder = found;
}

QByteArray readRealFrame(const QString &folder, const RealFrame &frame)
{
    QFile file(folder + QLatin1Char('/') + QLatin1String(frame.file));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage libjpegDecode(const QByteArray &jpeg, bool accurate, QSize size, bool *warned)
{
    TjHandlePtr decompressor(tjInitDecompress());
    const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (!decompressor
        || tjDecompressHeader3(decompressor.get(), data, static_cast<unsigned long>(jpeg.size()), &width, &height,
               &subsampling, &colorspace)
            != 0)
        return {};
    if (size.isEmpty())
        size = QSize(width, height);
    QImage picture(size, QImage::Format_RGB32);
    const int flags = accurate ? 0 : TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE;
    const int result = tjDecompress2(decompressor.get(), data, static_cast<unsigned long>(jpeg.size()), picture.bits(),
        size.width(), int(picture.bytesPerLine()), size.height(), TJPF_BGRX, flags);
    const bool warning = result != 0 && tjGetErrorCode(decompressor.get()) == TJERR_WARNING;
    if (warned)
        *warned = warning;
    if (result != 0 && !warning)
        return {};
    return picture;
}

QByteArray libjpegEncode(const QImage &picture, int lumaWidth, int restartInterval, int padding)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors); // a failure here ends the test program: fine for a fixture
    jpeg_create_compress(&info);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(rgb.width());
    info.image_height = JDIMENSION(rgb.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    info.comp_info[0].h_samp_factor = lumaWidth;
    info.comp_info[0].v_samp_factor = 1;
    info.restart_interval = unsigned(restartInterval);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar *>(rgb.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray jpeg(reinterpret_cast<const char *>(out), qsizetype(size));
    std::free(out);
    if (padding > 0) {
        // Stray bytes before every restart marker (FF D0 to FF D7) of the entropy-coded data.
        QByteArray padded;
        for (qsizetype i = 0; i < jpeg.size(); ++i) {
            const auto next = i + 1 < jpeg.size() ? uchar(jpeg[i + 1]) : 0;
            if (uchar(jpeg[i]) == 0xFF && next >= 0xD0 && next <= 0xD7)
                padded.append(QByteArray(padding, '\0'));
            padded.append(jpeg[i]);
        }
        jpeg = padded;
    }
    return jpeg;
}

namespace {

template <typename F> void forEachChannel(const QImage &a, const QImage &b, F f)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            f(qRed(p[col]) - qRed(q[col]));
            f(qGreen(p[col]) - qGreen(q[col]));
            f(qBlue(p[col]) - qBlue(q[col]));
        }
    }
}

} // namespace

double psnr(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 0;
    double squared = 0;
    forEachChannel(a, b, [&squared](int d) { squared += double(d) * d; });
    if (squared == 0)
        return std::numeric_limits<double>::infinity();
    const double mse = squared / (double(a.width()) * a.height() * 3);
    return 10 * std::log10(255.0 * 255.0 / mse);
}

int largestDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 255;
    int largest = 0;
    forEachChannel(a, b, [&largest](int d) { largest = std::max(largest, std::abs(d)); });
    return largest;
}

} // namespace quillora::test
