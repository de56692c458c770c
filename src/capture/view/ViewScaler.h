// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the capture layer: brings the capture view's frames down to the size the view shows
// them at, on the view branch's streaming thread. A zoomed view gets only the part of the frame
// it shows, from the frame's own pixels: a raw frame is cropped before it is scaled, a JPEG frame
// decoded only in that part, at the DCT scale the part needs.
#include "CaptureLog.h"
#include "DisplayPicture.h"
#include "Frame.h"
#include "GstHandles.h"
#include "JpegPicture.h"
#include "JpegRegion.h"
#include "PixelScale.h"

#include <gst/video/video.h>

#include <QImage>
#include <QSize>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

namespace quillora::capture {

// Pictures made for the view, their memory used again once the view has let go of them.
class PictureRecycler {
public:
    // A picture of `size` whose memory nobody else holds (its old pixels left as they were),
    // written through bits() without a copy. Its memory comes back when the picture and every
    // copy of it are gone, on whatever thread that is; it outlives the recycler if need be.
    QImage take(QSize size);

private:
    struct Memory {
        std::vector<uint8_t> pixels;
        std::atomic<bool> inUse{false}; // set when handed out, cleared by the last picture on it
    };
    std::array<std::shared_ptr<Memory>, 4> m_memory;
};

class ViewScaler {
public:
    ViewScaler() = default;
    ~ViewScaler();
    ViewScaler(const ViewScaler &) = delete;
    ViewScaler &operator=(const ViewScaler &) = delete;

    // The picture to show for `sample` (BGRx; the caller's reference is taken over): the whole
    // frame fitted into the request's box (the sample itself when it already fits), or the part
    // it asks for. Empty when the sample is not a BGRx picture. One thread at a time.
    ViewPicture show(GstSample *sample, const DisplayRequest &request);
    // The same for a camera's JPEG frame, decoded at the smallest DCT scale that still covers
    // the size it is shown at. Empty when the frame cannot be decoded (it is skipped; the view
    // keeps its last picture).
    ViewPicture showJpeg(GstSample *sample, const DisplayRequest &request);

    // While a part is shown, every this many frames the whole frame comes along, small.
    static constexpr int kBackdropEvery = 15;

private:
    bool prepare(QSize size);
    Frame fit(SamplePtr sample, QSize box);
    Frame fitJpeg(const std::uint8_t *data, std::size_t size, QSize full, GstBuffer *timing, QSize box, QString *why);
    Frame rawPart(const std::uint8_t *pixels, int stride, QSize source, const DisplayRequest &request, QRectF *region);
    Frame jpegPart(const std::uint8_t *data, std::size_t size, QSize full, const DisplayRequest &request,
        QRectF *region, QString *why);
    bool backdropDue();
    void skipped(const QString &why);

    HalvingScratch m_scratch;
    JpegPicture m_jpeg;
    JpegRegionDecoder m_region;
    std::vector<uint8_t> m_decoded; // a JPEG frame at its decoding scale, before the last step
    PictureRecycler m_parts;
    PictureRecycler m_backdrops;
    int m_sinceBackdrop = kBackdropEvery; // the first part brings a backdrop along
    OncePerSecond m_skipLog;
    QSize m_size;          // the size the pool's buffers are made for
    CapsPtr m_caps;        // BGRx caps of m_size
    GstVideoInfo m_info{}; // the same, as the layout of the pool's buffers
    BufferPoolPtr m_pool;  // buffers come back to it as the view lets go of its frames
};

// The pixels of a `source`-size frame that cover `region` (fractions of its sides), whole
// pixels, within the frame.
QRect framePixelsOf(QRectF region, QSize source);

// View pixels per frame pixel for showing `pixels` of the frame in `box`, never above 1 (beyond
// the frame's own pixels the view scales up itself).
double partScale(QSizeF pixels, QSize box);

} // namespace quillora::capture
