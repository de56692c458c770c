// SPDX-License-Identifier: GPL-3.0-or-later
#include "Frame.h"

#include "CaptureLog.h"
#include "GstHandles.h"
#include "HandOff.h"
#include "JpegPicture.h"
#include "PixelScale.h"

#include <gst/video/video.h>

#include <mutex>

namespace quillora::capture {

struct Frame::Data {
    SamplePtr sample;
    GstVideoFrame video{};
    bool mapped = false;
    QImage owned; // only for frames made from an image
    // A camera JPEG frame, decoded once, when first asked for.
    bool jpeg = false;
    QSize jpegSize;
    QSize size;
    mutable std::once_flag decodeOnce;
    mutable QImage decoded;
    void decode() const;

    ~Data()
    {
        if (mapped)
            gst_video_frame_unmap(&video);
    }
    int width() const { return jpeg ? size.width() : mapped ? GST_VIDEO_FRAME_WIDTH(&video) : owned.width(); }
    int height() const { return jpeg ? size.height() : mapped ? GST_VIDEO_FRAME_HEIGHT(&video) : owned.height(); }
};

Frame Frame::adopt(GstSample *sample)
{
    auto data = std::make_shared<Data>();
    data->sample.reset(sample);
    if (!sample)
        return {};
    GstVideoInfo info;
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps))
        return {};
    const auto format = GST_VIDEO_INFO_FORMAT(&info);
    if (format != GST_VIDEO_FORMAT_BGRx && format != GST_VIDEO_FORMAT_BGRA)
        return {};
    if (!gst_video_frame_map(&data->video, &info, buffer, GST_MAP_READ))
        return {};
    data->mapped = true;
    Frame frame;
    frame.d = std::move(data);
    return frame;
}

void Frame::Data::decode() const
{
    GstBuffer *buffer = gst_sample_get_buffer(sample.get());
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    // At the smallest DCT scale that covers the size, then to the size itself.
    const QSize at = jpegScaledSize(jpegSize, size);
    QImage picture(at, QImage::Format_RGB32);
    // A still that is kept (a photo, the frozen picture): decoded as libjpeg decodes by default.
    JpegPicture decoder(JpegDecoding::Accurate);
    QString why;
    const bool ok = !picture.isNull()
        && decoder.decode(map.data, map.size, picture.bits(), int(picture.bytesPerLine()), at, &why);
    gst_buffer_unmap(buffer, &map);
    handOff(map.data); // to whoever frees it
    if (!ok) {
        qCInfo(lcCapture).noquote() << "camera frame cannot be decoded:" << why;
        return;
    }
    if (at == size) {
        decoded = std::move(picture);
        return;
    }
    QImage scaled(size, QImage::Format_RGB32);
    HalvingScratch scratch;
    if (!scaled.isNull()
        && scaleBgrx(picture.constBits(), int(picture.bytesPerLine()), at, scaled.bits(), int(scaled.bytesPerLine()),
            size, scratch))
        decoded = std::move(scaled);
}

Frame Frame::adoptJpeg(GstSample *sample, QSize jpegSize, QSize size)
{
    auto data = std::make_shared<Data>();
    data->sample.reset(sample);
    if (!sample || jpegSize.isEmpty())
        return {};
    data->jpeg = true;
    data->jpegSize = jpegSize;
    data->size = size.isEmpty() ? jpegSize : size;
    Frame frame;
    frame.d = std::move(data);
    return frame;
}

QByteArray Frame::cameraJpeg() const
{
    if (!d || !d->jpeg)
        return {};
    GstBuffer *buffer = gst_sample_get_buffer(d->sample.get());
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return {};
    const auto length = wholeJpegFrameLength(map.data, map.size);
    QByteArray bytes = length ? QByteArray(reinterpret_cast<const char *>(map.data), qsizetype(*length)) : QByteArray();
    gst_buffer_unmap(buffer, &map);
    return bytes;
}

Frame Frame::fromImage(const QImage &image)
{
    if (image.isNull())
        return {};
    auto data = std::make_shared<Data>();
    data->owned = image.convertToFormat(QImage::Format_RGB32);
    Frame frame;
    frame.d = std::move(data);
    return frame;
}

bool Frame::decodesOnDemand() const
{
    return d && d->jpeg;
}

int Frame::width() const
{
    return d ? d->width() : 0;
}

int Frame::height() const
{
    return d ? d->height() : 0;
}

QImage Frame::image() const
{
    if (!d)
        return {};
    if (d->jpeg) {
        std::call_once(d->decodeOnce, [this] { d->decode(); });
        return d->decoded;
    }
    if (!d->mapped)
        return d->owned;
    // The cleanup function holds a reference on the frame, so the mapped memory outlives
    // every shallow copy of the image.
    auto *keepAlive = new std::shared_ptr<const Data>(d);
    return QImage(
        static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&d->video, 0)), d->width(), d->height(),
        GST_VIDEO_FRAME_PLANE_STRIDE(&d->video, 0), QImage::Format_RGB32,
        [](void *p) { delete static_cast<std::shared_ptr<const Data> *>(p); }, keepAlive);
}

} // namespace quillora::capture
