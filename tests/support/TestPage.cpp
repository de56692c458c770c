// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestPage.h"

#include "Devices.h"
#include "GstHandles.h"
#include "TurboJpegHandles.h"

#include <gtest/gtest.h>

#include <gst/gst.h>

namespace quillora::test {

namespace {

// Where the middle of the marker is on a page `width` wide, as the camera paints it.
int markerCentre(int width)
{
    return std::max(1, width / 32) + std::max(2, width / 8) / 2;
}

// `point` of an unturned picture of `size`, after `rotation` quarter turns clockwise.
QPoint turned(QPoint point, QSize size, int rotation)
{
    for (int i = 0; i < rotation % 4; ++i, size.transpose())
        point = QPoint(size.height() - 1 - point.y(), point.x());
    return point;
}

} // namespace

QImage documentPage(QSize size, int page)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(capture::kVirtualPaper);
    capture::paintVirtualPage(picture, 0, page);
    return picture;
}

QByteArray jpegOf(const QImage &picture, int subsampling, int quality)
{
    const QImage bgrx = picture.convertToFormat(QImage::Format_RGB32);
    TjHandlePtr compressor(tjInitCompress());
    unsigned char *raw = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(tjCompress2(compressor.get(), bgrx.constBits(), bgrx.width(), int(bgrx.bytesPerLine()), bgrx.height(),
                  TJPF_BGRX, &raw, &length, subsampling, quality, 0),
        0);
    const TjBufferPtr bytes(raw);
    return QByteArray(reinterpret_cast<const char *>(bytes.get()), qsizetype(length));
}

QByteArray documentPageJpeg(QSize size, int subsampling, qsizetype cut)
{
    const QByteArray jpeg = jpegOf(documentPage(size), subsampling);
    return cut ? jpeg.left(cut) : jpeg;
}

GstSample *rawSample(const QImage &picture, const char *format)
{
    capture::ensureGstreamer();
    const QImage bgrx = picture.convertToFormat(QImage::Format_RGB32);
    const QSize size = bgrx.size();
    const gsize row = gsize(size.width()) * 4;
    GstBuffer *buffer = gst_buffer_new_allocate(nullptr, row * gsize(size.height()), nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    for (int y = 0; y < size.height(); ++y)
        std::copy_n(bgrx.constScanLine(y), row, map.data + gsize(y) * row);
    gst_buffer_unmap(buffer, &map);
    capture::CapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT,
        size.width(), "height", G_TYPE_INT, size.height(), nullptr));
    GstSample *sample = gst_sample_new(buffer, caps.get(), nullptr, nullptr);
    gst_buffer_unref(buffer);
    return sample;
}

GstSample *pageSample(QSize size, const char *format)
{
    return rawSample(documentPage(size), format);
}

GstSample *jpegSample(const QByteArray &jpeg, QSize size)
{
    capture::ensureGstreamer();
    GstBuffer *buffer = gst_buffer_new_memdup(jpeg.constData(), gsize(jpeg.size()));
    capture::CapsPtr caps(gst_caps_new_simple(
        "image/jpeg", "width", G_TYPE_INT, size.width(), "height", G_TYPE_INT, size.height(), nullptr));
    GstSample *sample = gst_sample_new(buffer, caps.get(), nullptr, nullptr);
    gst_buffer_unref(buffer);
    return sample;
}

GstSample *pageJpegSample(QSize size, qsizetype cut, int subsampling)
{
    return jpegSample(documentPageJpeg(size, subsampling, cut), size);
}

int pageShown(const QImage &picture, int rotation, int ink, int paper)
{
    const QSize size = rotation % 2 ? picture.size().transposed() : picture.size();
    if (size.width() < 64)
        return -1;
    const int c = markerCentre(size.width());
    const int left = qGray(picture.pixel(turned({c, c}, size, rotation)));
    const int right = qGray(picture.pixel(turned({size.width() - 1 - c, c}, size, rotation)));
    if (left < ink && right > paper)
        return 0;
    if (right < ink && left > paper)
        return 1;
    return -1;
}

void expectPaperColour(const QImage &picture, int levels, QRgb paper)
{
    const int page = pageShown(picture);
    ASSERT_GE(page, 0) << "no page to find the paper on";
    const int c = markerCentre(picture.width());
    const int x = page == 0 ? picture.width() - 1 - c : c;
    int sum[3] = {};
    for (int y = c - 4; y < c + 4; ++y)
        for (int dx = -4; dx < 4; ++dx) {
            const QRgb p = picture.pixel(x + dx, y);
            sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p);
        }
    EXPECT_NEAR(sum[0] / 64, qRed(paper), levels);
    EXPECT_NEAR(sum[1] / 64, qGreen(paper), levels);
    EXPECT_NEAR(sum[2] / 64, qBlue(paper), levels);
}

} // namespace quillora::test
