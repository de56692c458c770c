// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared by the capture layer's tests: virtual cameras, a preview session whose frames are
// counted, and the virtual camera's page as the samples a camera's branch delivers (TestPage.h).
#include "CaptureDevice.h"
#include "CaptureSession.h"
#include "DecompressedVideoOutput.h"
#include "Devices.h"
#include "Frame.h"
#include "GstHandles.h"
#include "TestPage.h"
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

// A camera of one raw size at 30 fps, or, without one, a document camera's modes.
inline CaptureDevicePtr virtualCamera(QSize native = {})
{
    const QString modes = native.isValid() ? QStringLiteral("|%1x%2").arg(native.width()).arg(native.height()) : "";
    return std::make_shared<CaptureDevice>(
        parseVirtualCameras("Test Camera|Virtual Camera|virtual-test" + modes).at(0));
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

// The virtual camera's page and any picture as the samples a camera's branch delivers
// (TestPage.h).
using quillora::test::jpegOf;
using quillora::test::jpegSample;
using quillora::test::pageJpegSample;
using quillora::test::pageSample;
using quillora::test::rawSample;

} // namespace quillora::capture::test
