// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the capture layer: brings the capture view's frames down to the size the view shows
// them at, on the view branch's streaming thread.
#include "CaptureLog.h"
#include "Frame.h"
#include "GstHandles.h"
#include "JpegPicture.h"
#include "PixelScale.h"

#include <gst/video/video.h>

#include <QSize>

namespace quillora::capture {

class ViewScaler {
public:
    ViewScaler() = default;
    ~ViewScaler();
    ViewScaler(const ViewScaler &) = delete;
    ViewScaler &operator=(const ViewScaler &) = delete;

    // The frame to show for `sample` (BGRx; the caller's reference is taken over) in `box`:
    // the sample itself when it already fits, else a copy scaled to fit with its aspect kept.
    // Empty when the sample is not a BGRx picture. One thread at a time.
    Frame fit(GstSample *sample, QSize box);
    // The same for a camera's JPEG frame: decoded at the smallest DCT scale that still covers
    // the size it is shown at, then scaled to that size. Empty when the frame cannot be decoded
    // (it is skipped; the view keeps its last picture).
    Frame fitJpeg(GstSample *sample, QSize box);

private:
    bool prepare(QSize size);

    HalvingScratch m_scratch;
    JpegPicture m_jpeg;
    std::vector<uint8_t> m_decoded; // a JPEG frame at its decoding scale, before the last step
    OncePerSecond m_skipLog;
    QSize m_size;          // the size the pool's buffers are made for
    CapsPtr m_caps;        // BGRx caps of m_size
    GstVideoInfo m_info{}; // the same, as the layout of the pool's buffers
    BufferPoolPtr m_pool;  // buffers come back to it as the view lets go of its frames
};

} // namespace quillora::capture
