// SPDX-License-Identifier: GPL-3.0-or-later
#include "ViewScaler.h"

#include "CaptureLog.h"
#include "HandOff.h"
#include "PixelScale.h"

#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cmath>

#include <gst/video/gstvideopool.h>
#include <gst/video/video.h>

namespace quillora::capture {

namespace {

struct MappedFrame {
    GstVideoFrame frame{};
    bool mapped = false;
    MappedFrame(GstVideoInfo *info, GstBuffer *buffer, GstMapFlags flags)
        : mapped(gst_video_frame_map(&frame, info, buffer, flags))
    {
    }
    ~MappedFrame()
    {
        if (mapped)
            gst_video_frame_unmap(&frame);
    }
    MappedFrame(const MappedFrame &) = delete;
    MappedFrame &operator=(const MappedFrame &) = delete;
    const uint8_t *data() const { return static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)); }
    uint8_t *data() { return static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)); }
    int stride() const { return GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0); }
};

} // namespace

ViewScaler::~ViewScaler()
{
    if (m_pool)
        gst_buffer_pool_set_active(m_pool.get(), FALSE);
}

bool ViewScaler::prepare(QSize size)
{
    if (size == m_size && m_pool)
        return true;
    if (m_pool)
        gst_buffer_pool_set_active(m_pool.get(), FALSE); // buffers still shown are freed when let go
    m_pool.reset();
    m_size = size;
    m_caps.reset(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT, size.width(),
        "height", G_TYPE_INT, size.height(), "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, "framerate",
        GST_TYPE_FRACTION, 0, 1, nullptr));
    if (!gst_video_info_from_caps(&m_info, m_caps.get()))
        return false;
    BufferPoolPtr pool(gst_video_buffer_pool_new());
    GstStructure *config = gst_buffer_pool_get_config(pool.get());
    // Three in turn: the one being filled, the one on its way to the window, the one shown.
    gst_buffer_pool_config_set_params(config, m_caps.get(), guint(GST_VIDEO_INFO_SIZE(&m_info)), 3, 0);
    if (!gst_buffer_pool_set_config(pool.get(), config) || !gst_buffer_pool_set_active(pool.get(), TRUE)) {
        qCWarning(lcCapture) << "the view's picture buffers could not be made for" << size;
        return false;
    }
    m_pool = std::move(pool);
    return true;
}

QImage PictureRecycler::take(QSize size)
{
    if (size.isEmpty())
        return {};
    // Memory a picture the view still shows (or any copy of it) lies in is left alone.
    std::shared_ptr<Memory> memory;
    for (std::shared_ptr<Memory> &slot : m_memory) {
        if (!slot)
            slot = std::make_shared<Memory>();
        if (!slot->inUse.load(std::memory_order_acquire)) {
            memory = slot;
            break;
        }
    }
    if (!memory)
        memory = std::make_shared<Memory>(); // all in use: one more, not kept
    memory->pixels.resize(size_t(size.width()) * size_t(size.height()) * 4);
    memory->inUse.store(true, std::memory_order_relaxed);
    auto *holder = new std::shared_ptr<Memory>(memory);
    return QImage(
        memory->pixels.data(), size.width(), size.height(), size.width() * 4, QImage::Format_RGB32,
        [](void *p) {
            auto *held = static_cast<std::shared_ptr<Memory> *>(p);
            (*held)->inUse.store(false, std::memory_order_release);
            delete held;
        },
        holder);
}

QRect framePixelsOf(QRectF region, QSize source)
{
    const QRectF pixels(region.x() * source.width(), region.y() * source.height(), region.width() * source.width(),
        region.height() * source.height());
    const QPoint topLeft(int(std::floor(pixels.left() + 1e-6)), int(std::floor(pixels.top() + 1e-6)));
    const QPoint end(int(std::ceil(pixels.right() - 1e-6)), int(std::ceil(pixels.bottom() - 1e-6)));
    return QRect(topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y())) & QRect(QPoint(0, 0), source);
}

double partScale(QSizeF pixels, QSize box)
{
    if (pixels.isEmpty() || box.isEmpty())
        return 1.0;
    return std::min({1.0, box.width() / pixels.width(), box.height() / pixels.height()});
}

bool ViewScaler::backdropDue()
{
    if (++m_sinceBackdrop < kBackdropEvery)
        return false;
    m_sinceBackdrop = 0;
    return true;
}

void ViewScaler::skipped(const QString &why)
{
    int passedOver = 0;
    if (m_skipLog.ready(&passedOver))
        qCInfo(lcCapture).noquote() << "camera frame skipped:" << why
                                    << QStringLiteral("(%1 more since the last line)").arg(passedOver);
}

Frame ViewScaler::fit(SamplePtr sample, QSize box)
{
    GstCaps *caps = gst_sample_get_caps(sample.get());
    GstBuffer *buffer = gst_sample_get_buffer(sample.get());
    GstVideoInfo in;
    if (!caps || !buffer || !gst_video_info_from_caps(&in, caps))
        return {};
    const QSize source(GST_VIDEO_INFO_WIDTH(&in), GST_VIDEO_INFO_HEIGHT(&in));
    if (!box.isValid() || (source.width() <= box.width() && source.height() <= box.height()))
        return Frame::adopt(sample.release());

    const QSize target = fitInside(source, box);
    if (!prepare(target))
        return Frame::adopt(sample.release()); // shown unscaled rather than not at all
    GstBuffer *scaled = nullptr;
    if (gst_buffer_pool_acquire_buffer(m_pool.get(), &scaled, nullptr) != GST_FLOW_OK || !scaled)
        return Frame::adopt(sample.release());
    {
        MappedFrame from(&in, buffer, GST_MAP_READ);
        MappedFrame to(&m_info, scaled, GST_MAP_WRITE);
        if (!from.mapped || !to.mapped
            || !scaleBgrx(from.data(), from.stride(), source, to.data(), to.stride(), target, m_scratch)) {
            gst_buffer_unref(scaled);
            return Frame::adopt(sample.release());
        }
    }
    gst_buffer_copy_into(scaled, buffer, GST_BUFFER_COPY_TIMESTAMPS, 0, -1);
    GstSample *result = gst_sample_new(scaled, m_caps.get(), nullptr, nullptr);
    gst_buffer_unref(scaled); // the sample holds it
    return Frame::adopt(result);
}

Frame ViewScaler::rawPart(
    const std::uint8_t *pixels, int stride, QSize source, const DisplayRequest &request, QRectF *region)
{
    const QRect part = framePixelsOf(request.region, source);
    if (part.isEmpty())
        return {};
    const double k = partScale(
        QSizeF(request.region.width() * source.width(), request.region.height() * source.height()), request.box);
    const QSize target(
        std::max(1, int(std::lround(part.width() * k))), std::max(1, int(std::lround(part.height() * k))));
    QImage picture = m_parts.take(target);
    if (picture.isNull())
        return {};
    // Cropped before it is scaled: only the part's pixels are read.
    const std::uint8_t *from = pixels + std::size_t(part.y()) * std::size_t(stride) + std::size_t(part.x()) * 4;
    const bool ok = target == part.size()
        ? libyuv::ARGBCopy(from, stride, picture.bits(), int(picture.bytesPerLine()), target.width(), target.height())
            == 0
        : scaleBgrx(from, stride, part.size(), picture.bits(), int(picture.bytesPerLine()), target, m_scratch);
    if (!ok)
        return {};
    *region = QRectF(part);
    return Frame::fromImage(picture);
}

ViewPicture ViewScaler::show(GstSample *raw, const DisplayRequest &request)
{
    SamplePtr sample(raw);
    GstCaps *caps = sample ? gst_sample_get_caps(sample.get()) : nullptr;
    GstBuffer *buffer = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
    GstVideoInfo in;
    if (!caps || !buffer || !gst_video_info_from_caps(&in, caps) || GST_VIDEO_INFO_FORMAT(&in) != GST_VIDEO_FORMAT_BGRx)
        return {};
    const QSize source(GST_VIDEO_INFO_WIDTH(&in), GST_VIDEO_INFO_HEIGHT(&in));
    if (request.wholeFrame()) {
        m_sinceBackdrop = kBackdropEvery;
        return {fit(std::move(sample), request.box), source, QRectF(QPointF(0, 0), QSizeF(source)), {}};
    }
    ViewPicture picture;
    picture.source = source;
    MappedFrame from(&in, buffer, GST_MAP_READ);
    if (!from.mapped)
        return {};
    picture.frame = rawPart(from.data(), from.stride(), source, request, &picture.region);
    if (picture.frame && backdropDue()) {
        const QSize small = fitInside(source, request.wholeBox / 2);
        QImage backdrop = m_backdrops.take(small);
        if (!backdrop.isNull()
            && scaleBgrx(
                from.data(), from.stride(), source, backdrop.bits(), int(backdrop.bytesPerLine()), small, m_scratch))
            picture.backdrop = Frame::fromImage(backdrop);
    }
    return picture;
}

Frame ViewScaler::fitJpeg(
    const std::uint8_t *data, std::size_t size, QSize full, GstBuffer *timing, QSize box, QString *why)
{
    const QSize target = !box.isValid() || (full.width() <= box.width() && full.height() <= box.height())
        ? full
        : fitInside(full, box);
    const QSize decoded = jpegScaledSize(full, target);
    GstBuffer *picture = nullptr;
    bool ok
        = prepare(target) && gst_buffer_pool_acquire_buffer(m_pool.get(), &picture, nullptr) == GST_FLOW_OK && picture;
    if (ok) {
        MappedFrame to(&m_info, picture, GST_MAP_WRITE);
        if (!to.mapped) {
            ok = false;
        } else if (decoded == target) {
            ok = m_jpeg.decode(data, size, to.data(), to.stride(), decoded, why);
        } else {
            m_decoded.resize(size_t(decoded.width()) * size_t(decoded.height()) * 4);
            ok = m_jpeg.decode(data, size, m_decoded.data(), decoded.width() * 4, decoded, why)
                && scaleBgrx(m_decoded.data(), decoded.width() * 4, decoded, to.data(), to.stride(), target, m_scratch);
        }
    }
    if (!ok) {
        if (picture)
            gst_buffer_unref(picture);
        return {};
    }
    gst_buffer_copy_into(picture, timing, GST_BUFFER_COPY_TIMESTAMPS, 0, -1);
    GstSample *result = gst_sample_new(picture, m_caps.get(), nullptr, nullptr);
    gst_buffer_unref(picture); // the sample holds it
    return Frame::adopt(result);
}

Frame ViewScaler::jpegPart(
    const std::uint8_t *data, std::size_t size, QSize full, const DisplayRequest &request, QRectF *region, QString *why)
{
    const QRect part = framePixelsOf(request.region, full);
    if (part.isEmpty()) {
        *why = QStringLiteral("the part asked for is not in the picture");
        return {};
    }
    const double k = partScale(
        QSizeF(request.region.width() * full.width(), request.region.height() * full.height()), request.box);
    const int eighths = jpegScaleCovering(k);
    const QSize scaled = jpegSizeAtScale(full, eighths);
    const double sx = double(scaled.width()) / full.width();
    const double sy = double(scaled.height()) / full.height();
    const QPoint topLeft(int(std::floor(part.left() * sx)), int(std::floor(part.top() * sy)));
    const QPoint end(
        int(std::ceil((part.left() + part.width()) * sx)), int(std::ceil((part.top() + part.height()) * sy)));
    const auto decoded = m_region.decode(
        data, size, eighths, QRect(topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y())), m_decoded, why);
    if (!decoded)
        return {};
    const QRect d = decoded->decoded;
    // What is left to do after the DCT scale: at most a shrink by less than half.
    const double rest = std::min(1.0, k / sx);
    const QSize target(
        std::max(1, int(std::lround(d.width() * rest))), std::max(1, int(std::lround(d.height() * rest))));
    QImage picture = m_parts.take(target);
    if (picture.isNull())
        return {};
    const bool ok = target == d.size() ? libyuv::ARGBCopy(m_decoded.data(), d.width() * 4, picture.bits(),
                                             int(picture.bytesPerLine()), target.width(), target.height())
            == 0
                                       : scaleBgrx(m_decoded.data(), d.width() * 4, d.size(), picture.bits(),
                                           int(picture.bytesPerLine()), target, m_scratch);
    if (!ok)
        return {};
    *region = QRectF(d.x() / sx, d.y() / sy, d.width() / sx, d.height() / sy) & QRectF(QPointF(0, 0), QSizeF(full));
    return Frame::fromImage(picture);
}

ViewPicture ViewScaler::showJpeg(GstSample *raw, const DisplayRequest &request)
{
    SamplePtr sample(raw);
    GstBuffer *buffer = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
    GstMapInfo jpeg;
    if (!buffer || !gst_buffer_map(buffer, &jpeg, GST_MAP_READ))
        return {};
    struct Unmap {
        GstBuffer *buffer;
        GstMapInfo *map;
        ~Unmap()
        {
            gst_buffer_unmap(buffer, map);
            handOff(map->data); // to whoever frees it
        }
    } unmap{buffer, &jpeg};
    QString why;
    const auto full = m_jpeg.frameSize(jpeg.data, jpeg.size, &why);
    ViewPicture picture;
    if (full) {
        picture.source = *full;
        if (request.wholeFrame()) {
            m_sinceBackdrop = kBackdropEvery;
            picture.frame = fitJpeg(jpeg.data, jpeg.size, *full, buffer, request.box, &why);
            picture.region = QRectF(QPointF(0, 0), QSizeF(*full));
        } else {
            picture.frame = jpegPart(jpeg.data, jpeg.size, *full, request, &picture.region, &why);
        }
    }
    if (!picture.frame) {
        skipped(why);
        return {};
    }
    if (!request.wholeFrame() && backdropDue()) {
        // Small and cheap: at the scale that covers a quarter of the view, from the same frame.
        const QSize small = jpegScaledSize(*full, fitInside(*full, request.wholeBox / 4));
        QImage backdrop = m_backdrops.take(small);
        if (!backdrop.isNull()
            && m_jpeg.decode(jpeg.data, jpeg.size, backdrop.bits(), int(backdrop.bytesPerLine()), small, &why))
            picture.backdrop = Frame::fromImage(backdrop);
    }
    return picture;
}

} // namespace quillora::capture
