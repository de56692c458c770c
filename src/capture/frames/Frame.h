// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A decoded camera frame shared by reference: copying a Frame takes a reference, destroying
// it gives one up. The pixels stay in the GStreamer buffer they were decoded into and are
// mapped once; image() gives a QImage over that memory without copying.
#include <QByteArray>
#include <QImage>
#include <QSize>

#include <memory>

typedef struct _GstSample GstSample;

namespace quillora::capture {

class Frame {
public:
    Frame() = default; // no frame

    // Takes over the caller's reference on a sample of raw BGRx video. Gives an empty
    // frame when the sample has no mappable video buffer.
    static Frame adopt(GstSample *sample);
    // Takes over the caller's reference on a sample holding one camera JPEG frame of
    // `jpegSize`, which is decoded to `size` (stretched to it) the first time its pixels are
    // asked for, on the thread that asks. A frame kept only in case a photo is taken is thus
    // never decoded unless one is.
    static Frame adoptJpeg(GstSample *sample, QSize jpegSize, QSize size);

    explicit operator bool() const { return static_cast<bool>(d); }
    // A camera's JPEG frame, decoded when its pixels are first asked for: one damaged on its way
    // may turn out then not to decode. Other frames always give their pixels.
    bool decodesOnDemand() const;
    int width() const;
    int height() const;

    // A view of the pixels (Format_RGB32) that keeps this frame alive for as long as the
    // image or any of its shallow copies exist. Null for a JPEG frame that cannot be decoded.
    QImage image() const;

    // A camera's JPEG frame as the camera sent it, from its start-of-image marker to its first
    // end-of-image marker (whatever its buffer held after that is not the frame's). Empty for a
    // frame that came as pixels, and for one that did not arrive whole.
    QByteArray cameraJpeg() const;

    // Two handles on the same decoded frame.
    bool sameAs(const Frame &other) const { return d == other.d; }

    // For tests and the virtual camera: a frame that owns a copy of the image's pixels.
    static Frame fromImage(const QImage &image);

private:
    struct Data;
    std::shared_ptr<const Data> d;
};

} // namespace quillora::capture
