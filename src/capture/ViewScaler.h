#pragma once
// Inside the capture layer: brings the capture view's frames down to the size the view shows
// them at, on the view branch's streaming thread.
#include "Frame.h"
#include "GstHandles.h"
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

private:
    bool prepare(QSize size);

    HalvingScratch m_scratch;
    QSize m_size;          // the size the pool's buffers are made for
    CapsPtr m_caps;        // BGRx caps of m_size
    GstVideoInfo m_info{}; // the same, as the layout of the pool's buffers
    BufferPoolPtr m_pool;  // buffers come back to it as the view lets go of its frames
};

} // namespace quillora::capture
