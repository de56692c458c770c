// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in camera's picture: the page it films, the frames it sends as JPEG (encoded once
// per distinct frame) or as raw pixels.
#include "VirtualCamera_p.h"

#include "HandOff.h"

#include <QPainter>
#include <QRandomGenerator>

#include <libyuv/convert_from_argb.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace quillora::capture {

namespace {

std::atomic<int> gPage{0};

// A frame's bytes, which buffers share with the frame store: the last to let go frees them,
// after everyone who read them handed them back at unmapping (GStreamer's own reference count,
// which orders that, is out of ThreadSanitizer's sight).
JpegBytes keepBytes(std::vector<uint8_t> bytes)
{
    return JpegBytes(new std::vector<uint8_t>(std::move(bytes)), [](const std::vector<uint8_t> *kept) {
        takeOver(kept->data());
        delete kept;
    });
}

} // namespace

VirtualFineDetail virtualPageFineDetail(QSize page)
{
    if (page.width() < 64 || page.height() < 64)
        return {};
    const int side = std::max(16, page.width() / 16) & ~1;
    const QPoint centre(page.width() / 2, page.height() / 2);
    return {QRect(centre.x() - side / 2, centre.y() - side / 2, side, side), centre};
}

void paintStaticPage(QImage &image, int page)
{
    const int w = image.width();
    const int h = image.height();
    QPainter p(&image);
    const int marker = std::max(2, w / 8);
    const int margin = std::max(1, w / 32);
    p.fillRect(page % 2 ? w - margin - marker : margin, margin, marker, marker, Qt::black);

    // Text lines: word-sized dark blocks whose lengths come from a seed fixed per page, so
    // every frame shows the same page.
    const int lineHeight = std::max(2, h / 48);
    const int lineGap = lineHeight;
    const QColor ink(0x2b, 0x2b, 0x33);
    QRandomGenerator words(0x5eed + quint32(page));
    const int left = margin * 2 + marker;
    for (int y = margin * 2 + marker; y + lineHeight < h - margin * 3; y += lineHeight + lineGap) {
        int x = (y < margin + marker + lineGap) ? left : margin * 2;
        const int right = w - margin * 2;
        while (x < right) {
            const int word = std::max(2, int(words.bounded(w / 40, w / 10 + 2)));
            const int end = std::min(right, x + word);
            p.fillRect(x, y, end - x, lineHeight, ink);
            x = end + std::max(2, w / 80);
        }
    }
    // Detail only a view zoomed into the camera's own pixels shows sharp.
    if (const VirtualFineDetail fine = virtualPageFineDetail(image.size()); !fine.patch.isEmpty()) {
        p.fillRect(fine.patch, QColor(kVirtualPaper));
        p.fillRect(fine.centre.x(), fine.patch.top(), 1, fine.patch.height(), Qt::black);
        p.fillRect(fine.patch.left(), fine.centre.y(), fine.patch.width(), 1, Qt::black);
    }
}

// The moving element along the bottom margin: one full sweep every four seconds at 30 fps.
void paintMovingBlock(QImage &image, quint64 frameNumber)
{
    const int w = image.width();
    const int h = image.height();
    const int margin = std::max(1, w / 32);
    const int block = std::max(2, h / 24);
    const int travel = std::max(1, w - 2 * margin - block);
    const int step = int((frameNumber * quint64(travel)) / kVirtualPagePeriod % quint64(travel));
    QPainter p(&image);
    p.fillRect(margin + step, h - margin - block, block, block, QColor(0xc0, 0x30, 0x30));
}

void addSensorNoise(QImage &image, quint32 seed)
{
    // xorshift32: plenty for noise, and fast enough for a 5 MP page.
    quint32 state = seed * 2654435761u + 1;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (int y = 0; y < image.height(); ++y) {
        auto *pixel = reinterpret_cast<uchar *>(image.scanLine(y));
        for (int x = 0; x < image.width() * 4; x += 4) {
            const quint32 r = next();
            for (int c = 0; c < 3; ++c) {
                // Roughly Gaussian: the sum of three uniform draws from -kNoise..kNoise.
                const quint32 bits = r >> (c * 10);
                const int n = int(bits % (2 * kSensorNoise + 1)) + int((bits >> 4) % (2 * kSensorNoise + 1))
                    + int((bits >> 7) % (2 * kSensorNoise + 1)) - 3 * kSensorNoise;
                pixel[x + c] = uchar(std::clamp(int(pixel[x + c]) + n, 0, 255));
            }
        }
    }
}

void paintVirtualPage(QImage &image, quint64 frameNumber, int page)
{
    if (image.width() < 8 || image.height() < 8)
        return;
    paintStaticPage(image, page);
    paintMovingBlock(image, frameNumber);
}

void setVirtualCameraPage(int page)
{
    gPage.store(std::max(0, page));
}

int currentVirtualPage()
{
    return gPage.load();
}

JpegBytes JpegFrameCache::frame(
    QSize size, int page, quint64 look, quint64 frameNumber, const std::function<const QImage &()> &draw)
{
    std::lock_guard lock(m_mutex);
    if (size != m_size || page != m_page || look != m_look) {
        m_size = size;
        m_page = page;
        m_look = look;
        m_frames.fill(nullptr);
    }
    JpegBytes &slot = m_frames[frameNumber % kVirtualPagePeriod];
    if (!slot)
        slot = encode(draw());
    return slot;
}

JpegBytes JpegFrameCache::encode(const QImage &picture)
{
    if (!m_compressor)
        m_compressor.reset(tjInitCompress());
    if (!m_compressor)
        return nullptr;
    unsigned char *raw = nullptr;
    unsigned long length = 0;
    // 4:2:2, as UVC cameras encode what their sensor gives in YUYV.
    const int failed = tjCompress2(m_compressor.get(), picture.constBits(), picture.width(),
        int(picture.bytesPerLine()), picture.height(), TJPF_BGRX, &raw, &length, TJSAMP_422, 85, 0);
    TjBufferPtr encoded(raw);
    if (failed || !encoded)
        return nullptr;
    return keepBytes(std::vector<uint8_t>(encoded.get(), encoded.get() + length));
}

JpegFrameCache &virtualJpegFrames()
{
    static JpegFrameCache cache;
    return cache;
}

JpegBytes damagedJpeg(const std::vector<uint8_t> &whole, quint64 which)
{
    // What one packet of a USB transfer carries at most (three 1024-byte transactions).
    constexpr size_t kPacket = 3072;
    std::vector<uint8_t> bytes = whole;
    switch (which % 3) {
    case 0:
        bytes.resize(bytes.size() / 2);
        break;
    case 1:
        for (size_t i = 2; i < std::min<size_t>(bytes.size(), 600); ++i)
            bytes[i] = uint8_t(i * 37);
        break;
    default:
        // Lost in the middle of the picture's data: the headers and the end marker are whole.
        if (bytes.size() > 4 * kPacket)
            bytes.erase(bytes.begin() + std::ptrdiff_t(bytes.size() / 2),
                bytes.begin() + std::ptrdiff_t(bytes.size() / 2 + kPacket));
        break;
    }
    return keepBytes(std::move(bytes));
}

bool convertPicture(const QImage &picture, GstVideoFrame &frame)
{
    const uint8_t *src = picture.constBits();
    const int stride = int(picture.bytesPerLine());
    const int w = picture.width();
    const int h = picture.height();
    auto plane = [&frame](int i) { return static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, i)); };
    auto pstride = [&frame](int i) { return GST_VIDEO_FRAME_PLANE_STRIDE(&frame, i); };
    auto comp = [&frame](int c) { return static_cast<uint8_t *>(GST_VIDEO_FRAME_COMP_DATA(&frame, c)); };
    auto cstride = [&frame](int c) { return GST_VIDEO_FRAME_COMP_STRIDE(&frame, c); };
    switch (GST_VIDEO_FRAME_FORMAT(&frame)) {
    case GST_VIDEO_FORMAT_BGRx:
        for (int y = 0; y < h; ++y)
            std::memcpy(plane(0) + y * pstride(0), src + y * stride, size_t(w) * 4);
        return true;
    case GST_VIDEO_FORMAT_YUY2:
        return libyuv::ARGBToYUY2(src, stride, plane(0), pstride(0), w, h) == 0;
    case GST_VIDEO_FORMAT_UYVY:
        return libyuv::ARGBToUYVY(src, stride, plane(0), pstride(0), w, h) == 0;
    case GST_VIDEO_FORMAT_NV12:
        return libyuv::ARGBToNV12(src, stride, plane(0), pstride(0), plane(1), pstride(1), w, h) == 0;
    case GST_VIDEO_FORMAT_NV21:
        return libyuv::ARGBToNV21(src, stride, plane(0), pstride(0), plane(1), pstride(1), w, h) == 0;
    case GST_VIDEO_FORMAT_I420:
    case GST_VIDEO_FORMAT_YV12:
        return libyuv::ARGBToI420(src, stride, comp(GST_VIDEO_COMP_Y), cstride(GST_VIDEO_COMP_Y),
                   comp(GST_VIDEO_COMP_U), cstride(GST_VIDEO_COMP_U), comp(GST_VIDEO_COMP_V), cstride(GST_VIDEO_COMP_V),
                   w, h)
            == 0;
    case GST_VIDEO_FORMAT_GRAY8:
        return libyuv::ARGBToI400(src, stride, plane(0), pstride(0), w, h) == 0;
    case GST_VIDEO_FORMAT_RGB:
        return libyuv::ARGBToRAW(src, stride, plane(0), pstride(0), w, h) == 0;
    case GST_VIDEO_FORMAT_BGR:
        return libyuv::ARGBToRGB24(src, stride, plane(0), pstride(0), w, h) == 0;
    default:
        return false;
    }
}

} // namespace quillora::capture
