// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the stand-in camera: the element's state, the page it films, its frames as a camera sends
// them (JPEG or raw pixels), the caps of its modes and its properties. The GStreamer element in
// VirtualCamera.cpp puts these together.
#include "CameraMode.h"
#include "VirtualCamera.h"

#include <QImage>
#include <QSize>

#include <gst/video/video.h>

#include <array>
#include <atomic>
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

// What the element does, apart from GObject's bookkeeping.
struct CameraState {
    // Guards modes (set from the application's thread, read in negotiation) and mode (set in
    // negotiation, read by queries from any thread).
    std::mutex mutex;
    std::vector<CameraMode> modes = documentCameraModes();
    ChosenMode mode; // the streaming thread reads it without the lock: it alone writes it

    // The streaming thread's alone once caps are set.
    GstVideoInfo info{};
    quint64 frames = 0;                           // the number of the next frame, on the clock
    quint64 jpegSent = 0;                         // JPEG frames sent, which the damage counts
    GstClockTime firstTime = GST_CLOCK_TIME_NONE; // the running time of the first frame
    QImage page;                                  // the page without the moving block, at the mode's size
    int pageShown = -1;                           // which page `page` shows; -1: none drawn yet
    QString identity;                             // the device it stands for, whose controls it follows
    quint64 lookShown = 0;                        // the generation of the controls' look `page` has
    QImage scratch;                               // the frame being drawn
    // Single-mode properties.
    QString format = QStringLiteral("XR24");
    int width = 1280;
    int height = 1024;
    int framerate = 30;
    int damageEvery = 0; // every this many JPEG frames one arrives damaged; 0: none
    QSize sentSize;      // the size of the JPEG frames sent, whatever the mode; empty: the mode's
    // A recording's frames, sent instead of the page (set before the camera starts).
    QString replayPath;
    std::vector<JpegBytes> replay;
    // Set from any thread when the camera is pulled out; the streaming thread then fails.
    std::atomic<bool> unplugged{false};
};

// The state of the virtual camera element `object`.
CameraState &virtualCameraState(gpointer object);
// The element's properties (its modes, or one mode; damage; sent size; a recording to replay),
// installed on its class (VirtualCamera_properties.cpp).
void installVirtualCameraProperties(GObjectClass *objectClass);

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
