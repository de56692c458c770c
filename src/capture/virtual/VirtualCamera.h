// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The stand-in camera: a live picture of a document page, so that the application runs and is
// tested where no camera is attached. It behaves like a real camera: it offers a mode list,
// refuses a mode it does not have, sends raw modes in their own pixel format and MJPEG modes
// as JPEG frames, at the mode's frame rate.
#include "CameraMode.h"
#include "GstHandles.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace quillora::capture {

// The camera as a GStreamer source element. Properties: "modes" (a mode list as
// `v4l2-ctl --list-formats-ext` prints it; empty: the document camera's list), or "format"
// (a V4L2 four-character code), "width", "height" and "framerate" for a camera of one mode.
constexpr const char *kVirtualCameraFactory = "quilloravirtualcamera";

// Registers the element: for this process when `plugin` is nullptr (once; later calls do
// nothing), else as a feature of that plugin. False when it cannot.
bool registerVirtualCamera(GstPlugin *plugin);

// A stand-in camera offering `modes`. Modes whose format it cannot produce (H.264, Bayer) are
// left out, as a camera whose other node carries them.
// `identity` names the device it stands for, so that it can be pulled out (below). With
// `replay` (a recording, see virtualReplay) its MJPEG frames are the recording's.
ElementPtr makeVirtualCameraSource(const std::vector<CameraMode> &modes, QString *error,
    const QString &identity = QString(), const QString &replay = QString());

// A real camera's stream sent again: a folder of JPEG frames (in the order of their names) or a
// file of JPEG frames one after another, as `v4l2-ctl --stream-mmap --stream-to=FILE` writes
// them in an MJPEG mode. The stand-in offers one MJPEG mode, at the first frame's size, and
// sends the frames in order, as they were recorded, over and over.
struct VirtualReplay {
    QString path; // absolute
    CameraMode mode;
};

// The recording a mode field of QUILLORA_VIRTUAL_CAMERAS names: PATH, or PATH@FPS for a frame
// rate of FPS (1 to 240; 30 without). Nothing when PATH is no folder of JPEG files and no file
// that starts as a JPEG frame (a mode list, then), or its first frame cannot be read.
std::optional<VirtualReplay> virtualReplay(const QString &field);

// Every running virtual camera made for `identity` stops: its next frame is an error, the one
// v4l2src posts when its device is unplugged.
void unplugVirtualCameraSources(const QString &identity);

// For tests: how many virtual cameras made for `identity` are in a pipeline now. Any thread.
int virtualCameraSourcesInUse(const QString &identity);

// Draws frame number `frameNumber` of page `page` into `image` (Format_RGB32, already filled
// with the paper colour): dark text lines, a solid black square marker (an eighth of the
// width) in the top-left corner on even pages and the top-right one on odd pages, the fine
// detail below in the middle, and a small block that moves from frame to frame.
void paintVirtualPage(QImage &image, quint64 frameNumber, int page = 0);

// The paper colour of the page, as 0xAARRGGBB.
constexpr quint32 kVirtualPaper = 0xFFF4F1EA;

// The page's fine detail: a clear square of paper in its middle (`patch`), crossed by a black
// line one pixel wide at x = centre.x() and one pixel high at y = centre.y(). None (empty) on a
// page smaller than 64 pixels.
struct VirtualFineDetail {
    QRect patch;
    QPoint centre;
};
VirtualFineDetail virtualPageFineDetail(QSize page);

// For tests: in virtual cameras made from now on, every `every`th JPEG frame arrives damaged,
// as on a noisy USB link: cut short, with its headers garbled, or a packet lost in the middle,
// by turns. 0: none.
void setVirtualCameraDamage(int every);

// For tests: virtual cameras made from now on answer their MJPEG modes with JPEG frames of
// `size`, whatever size the mode asked for, as some cameras do. An empty size: the mode's.
void setVirtualCameraSentSize(QSize size);

// For tests: turns the page under every virtual camera, running or made later, to page number
// `page` (0, the first, at start). Each camera shows it from its next frame on.
void setVirtualCameraPage(int page);

// The moving block comes back to where it was every this many frames.
constexpr quint64 kVirtualPagePeriod = 120;

} // namespace quillora::capture
