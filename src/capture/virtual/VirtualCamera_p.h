// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the stand-in camera: the page it films, its frames as a camera sends them (JPEG or raw
// pixels) and the caps of its modes. The GStreamer element in VirtualCamera.cpp puts these
// together.
#include "CameraMode.h"
#include "VirtualCamera.h"

#include <QImage>
#include <QSize>

#include <gst/video/video.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "TurboJpegHandles.h"

namespace quillora::capture {

// The page without the moving block: text lines and the black marker (top left on even pages,
// top right on odd ones); `image` is already filled with the paper colour.
void paintStaticPage(QImage &image, int page);
// The moving block along the bottom margin, where it is in frame `frameNumber`.
void paintMovingBlock(QImage &image, quint64 frameNumber);
// A sensor's noise over `image` (Format_RGB32), the same for the same seed.
void addSensorNoise(QImage &image, quint32 seed);
constexpr int kSensorNoise = 2;
// The page setVirtualCameraPage last put under the cameras.
int currentVirtualPage();

using JpegBytes = std::shared_ptr<const std::vector<uint8_t>>;

// A camera encodes its JPEG frames in hardware; the host pays only for decoding them. So the
// stand-in encodes each of the page's distinct frames once, the first time it is sent, and
// sends the same bytes when the block comes round again: what the session decodes is a
// camera's JPEG stream, at a camera's cost to the host. One frame size, page and look (the
// generation of the picture controls' values) at a time: a new one forgets the frames of the old.
class JpegFrameCache {
public:
    // The bytes of frame `frameNumber` of `page` under `look`; `draw` gives its picture when it
    // is not encoded yet. Null when it cannot be encoded.
    JpegBytes frame(
        QSize size, int page, quint64 look, quint64 frameNumber, const std::function<const QImage &()> &draw);

private:
    JpegBytes encode(const QImage &picture);

    std::mutex m_mutex; // guards everything below
    QSize m_size;
    int m_page = 0;
    quint64 m_look = 0;
    std::array<JpegBytes, kVirtualPagePeriod> m_frames;
    TjHandlePtr m_compressor;
};

// The process's one cache, shared by its cameras (they film the same page).
JpegFrameCache &virtualJpegFrames();

// A frame as a noisy link delivers it, by turns of `which`: the first half only, its headers
// overwritten, or a packet lost in the middle of its data.
JpegBytes damagedJpeg(const std::vector<uint8_t> &whole, quint64 which);

// A recorded stream cut into its frames: each from its start-of-image marker to the next frame's,
// so whatever the camera's buffers held after a frame stays with it, and a frame cut short is
// kept as it was. Bytes before the first frame are dropped.
std::vector<JpegBytes> splitJpegStream(std::span<const std::uint8_t> bytes);
// The frames of the recording at `path` (a folder or a stream file); empty when it has none.
std::vector<JpegBytes> loadReplayFrames(const QString &path);

// `picture` (Format_RGB32) written into the mapped raw frame in the frame's own format. False
// for a format the stand-in cannot send.
bool convertPicture(const QImage &picture, GstVideoFrame &frame);

// Formats the stand-in can send: MJPEG and the raw formats libyuv writes from BGRx.
bool producible(const QString &fourcc);
// The caps structure offering mode `m` (sizes and rates as listed).
GstStructure *modeStructure(const CameraMode &m);
// Remembers `element` as standing for the device `identity`, without keeping it alive
// (VirtualCamera_sources.cpp).
void rememberVirtualCameraSource(const QString &identity, GstElement *element);
// Makes a virtual camera element fail from its next frame on, as v4l2src does when its device is
// pulled out.
void markVirtualCameraUnplugged(GstElement *element);

// The mode of the list that fixed caps describe, if any.
std::optional<ChosenMode> modeOfCaps(const std::vector<CameraMode> &modes, GstCaps *caps);

} // namespace quillora::capture
