// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared by the capture layer's tests: virtual cameras, a preview session whose frames are
// counted, and the virtual camera's page as the samples a camera's branch delivers.
#include "CaptureDevice.h"
#include "CaptureSession.h"
#include "DecompressedVideoOutput.h"
#include "Devices.h"
#include "Frame.h"
#include "GstHandles.h"
#include "TurboJpegHandles.h"
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <gst/video/video.h>

#include <QImage>

#include <algorithm>
#include <mutex>

namespace quillora::capture::test {

// The darkest bottom-right corner of the pictures seen: a frame decoded from a JPEG cut short
// or one that lost a packet comes out grey or worse there.
inline int bottomCorner(const QImage &image)
{
    return qGray(image.pixel(image.width() - 4, image.height() - 4));
}

// Counts the frames and keeps the last that gives a picture; they arrive on the streaming
// thread. A frame kept for photos is decoded only when asked, and one damaged inside then
// gives no picture at all (counted as refused) rather than a spoiled one.
struct RecordingDelegate : DecompressedVideoOutputDelegate {
    void captureOutputDidOutputVideoFrame(DecompressedVideoOutput *, const Frame &frame) override
    {
        const QImage image = frame.image();
        std::lock_guard lock(mutex);
        ++count;
        if (image.isNull()) {
            ++refused;
            return;
        }
        last = frame;
        darkestCorner = std::min(darkestCorner, bottomCorner(image));
    }
    template <typename T> T read(T RecordingDelegate::*member)
    {
        std::lock_guard lock(mutex);
        return this->*member;
    }
    std::mutex mutex; // guards everything below
    Frame last;
    int count = 0;
    int refused = 0;
    int darkestCorner = 255;
};

inline CaptureDevicePtr virtualCamera(QSize native = {})
{
    DeviceDescription d;
    d.kind = DeviceKind::VirtualCamera;
    d.displayName = QStringLiteral("Test Camera");
    d.modelUniqueID = QStringLiteral("Virtual Camera");
    d.uniqueID = QStringLiteral("virtual-test");
    // A camera of one raw size, or, without one, a document camera's modes.
    d.modes = native.isValid()
        ? std::vector<CameraMode>{CameraMode{QStringLiteral("XR24"), native, {}, {}, {FrameRate{30, 1}}, {}, {}}}
        : documentCameraModes();
    return std::make_shared<CaptureDevice>(d);
}

struct PreviewSession {
    std::shared_ptr<CaptureSession> session = std::make_shared<CaptureSession>();
    std::shared_ptr<DecompressedVideoOutput> output = std::make_shared<DecompressedVideoOutput>();
    RecordingDelegate delegate;

    PreviewSession(const CaptureDevicePtr &camera, QSize frameSize)
    {
        QString error;
        EXPECT_TRUE(session->addInput(std::make_shared<CaptureDeviceInput>(camera), &error)) << error.toStdString();
        output->setDelegate(&delegate);
        EXPECT_TRUE(session->addOutput(output, &error));
        output->setPixelBufferAttributes(
            {{kPixelBufferWidthKey, frameSize.width()}, {kPixelBufferHeightKey, frameSize.height()}});
    }
    ~PreviewSession() { session.reset(); }
};

// Frame 0 of the virtual camera's page at `size`, without the camera's noise.
inline QImage pageImage(QSize size)
{
    QImage page(size, QImage::Format_RGB32);
    page.fill(kVirtualPaper);
    paintVirtualPage(page, 0);
    return page;
}

// `picture` as the camera's raw branch delivers it, in `format` (only the caps say BGRx or not).
inline GstSample *rawSample(const QImage &picture, const char *format = "BGRx")
{
    ensureGstreamer();
    const QSize size = picture.size();
    GstBuffer *buffer = gst_buffer_new_allocate(nullptr, gsize(size.width()) * size.height() * 4, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    for (int y = 0; y < size.height(); ++y)
        std::copy_n(picture.constScanLine(y), size.width() * 4, map.data + size_t(y) * size.width() * 4);
    gst_buffer_unmap(buffer, &map);
    CapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT, size.width(),
        "height", G_TYPE_INT, size.height(), nullptr));
    GstSample *sample = gst_sample_new(buffer, caps.get(), nullptr, nullptr);
    gst_buffer_unref(buffer);
    return sample;
}

// A sample holding frame 0 of the virtual page at `size`, as the camera's branch delivers it.
inline GstSample *pageSample(QSize size, const char *format = "BGRx")
{
    return rawSample(pageImage(size), format);
}

// `picture` compressed as a camera compresses its frames (4:2:2 unless told).
inline QByteArray jpegOf(const QImage &picture, int subsampling = TJSAMP_422, int quality = 85)
{
    quillora::TjHandlePtr compressor(tjInitCompress());
    unsigned char *raw = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(tjCompress2(compressor.get(), picture.constBits(), picture.width(), int(picture.bytesPerLine()),
                  picture.height(), TJPF_BGRX, &raw, &length, subsampling, quality, 0),
        0);
    quillora::TjBufferPtr bytes(raw);
    return QByteArray(reinterpret_cast<const char *>(bytes.get()), qsizetype(length));
}

// JPEG bytes as the camera's compressed branch delivers a frame of `size`.
inline GstSample *jpegSample(const QByteArray &bytes, QSize size)
{
    ensureGstreamer();
    GstBuffer *buffer = gst_buffer_new_memdup(bytes.constData(), size_t(bytes.size()));
    CapsPtr caps(gst_caps_new_simple(
        "image/jpeg", "width", G_TYPE_INT, size.width(), "height", G_TYPE_INT, size.height(), nullptr));
    GstSample *sample = gst_sample_new(buffer, caps.get(), nullptr, nullptr);
    gst_buffer_unref(buffer);
    return sample;
}

// The same page as one camera JPEG frame (4:2:2 unless told); `cut` keeps only that many bytes of it.
inline GstSample *pageJpegSample(QSize size, size_t cut = 0, int subsampling = TJSAMP_422)
{
    QByteArray bytes = jpegOf(pageImage(size), subsampling);
    if (cut)
        bytes.truncate(qsizetype(std::min<size_t>(cut, size_t(bytes.size()))));
    return jpegSample(bytes, size);
}

} // namespace quillora::capture::test
