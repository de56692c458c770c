// SPDX-License-Identifier: GPL-3.0-or-later
#include "ViewScaler.h"

#include "CaptureLog.h"
#include "HandOff.h"
#include "PixelScale.h"

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

Frame ViewScaler::fit(GstSample *raw, QSize box)
{
    SamplePtr sample(raw);
    GstCaps *caps = sample ? gst_sample_get_caps(sample.get()) : nullptr;
    GstBuffer *buffer = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
    GstVideoInfo in;
    if (!caps || !buffer || !gst_video_info_from_caps(&in, caps) || GST_VIDEO_INFO_FORMAT(&in) != GST_VIDEO_FORMAT_BGRx)
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

Frame ViewScaler::fitJpeg(GstSample *raw, QSize box)
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
    const QSize target = !full                                                               ? QSize()
        : !box.isValid() || (full->width() <= box.width() && full->height() <= box.height()) ? *full
                                                                                             : fitInside(*full, box);
    const QSize decoded = full ? jpegScaledSize(*full, target) : QSize();
    GstBuffer *picture = nullptr;
    bool ok = full && prepare(target) && gst_buffer_pool_acquire_buffer(m_pool.get(), &picture, nullptr) == GST_FLOW_OK
        && picture;
    if (ok) {
        MappedFrame to(&m_info, picture, GST_MAP_WRITE);
        if (!to.mapped) {
            ok = false;
        } else if (decoded == target) {
            ok = m_jpeg.decode(jpeg.data, jpeg.size, to.data(), to.stride(), decoded, &why);
        } else {
            m_decoded.resize(size_t(decoded.width()) * size_t(decoded.height()) * 4);
            ok = m_jpeg.decode(jpeg.data, jpeg.size, m_decoded.data(), decoded.width() * 4, decoded, &why)
                && scaleBgrx(m_decoded.data(), decoded.width() * 4, decoded, to.data(), to.stride(), target, m_scratch);
        }
    }
    if (!ok) {
        if (picture)
            gst_buffer_unref(picture);
        int passedOver = 0;
        if (m_skipLog.ready(&passedOver))
            qCInfo(lcCapture).noquote() << "camera frame skipped:" << why
                                        << QStringLiteral("(%1 more since the last line)").arg(passedOver);
        return {};
    }
    gst_buffer_copy_into(picture, buffer, GST_BUFFER_COPY_TIMESTAMPS, 0, -1);
    GstSample *result = gst_sample_new(picture, m_caps.get(), nullptr, nullptr);
    gst_buffer_unref(picture); // the sample holds it
    return Frame::adopt(result);
}

} // namespace quillora::capture
