// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a camera can deliver (pixel format, frame size, frame rates) and which of it we ask
// for. A UVC camera on USB 2 offers raw YUYV only at small sizes at full speed and MJPEG up
// to its full resolution; left to the negotiation, a session could end up with a raw mode at
// a few frames per second, or a size unrelated to what the user asked for.
#include <QSize>
#include <QString>

#include <optional>
#include <vector>

namespace quillora::capture {

// A frame rate in frames per second, num/den (V4L2 speaks in intervals, den/num seconds).
struct FrameRate {
    int num = 0;
    int den = 1;
    double fps() const { return den > 0 ? double(num) / den : 0.0; }
    bool operator==(const FrameRate &) const = default;
};

// One entry of a camera's mode list: a pixel format at one frame size, or at a range of sizes
// (drivers that describe their sizes stepwise or continuously), with the rates it runs at.
struct CameraMode {
    QString fourcc;                   // V4L2's four characters: "MJPG", "YUYV", "H264", ...
    QSize size;                       // a discrete size; for a range, its largest size
    QSize minSize;                    // for a range, its smallest size; empty for a discrete size
    QSize step;                       // for a range, the step between sizes (1x1 when continuous)
    std::vector<FrameRate> rates;     // discrete rates; empty with a range below, or unknown
    std::optional<FrameRate> minRate; // a continuous or stepwise rate range
    std::optional<FrameRate> maxRate;

    bool isRange() const { return !minSize.isEmpty(); }
    bool operator==(const CameraMode &) const = default;
};

// The mode a session asks the camera for.
struct ChosenMode {
    QString fourcc;
    QSize size;
    FrameRate rate;
    bool operator==(const ChosenMode &) const = default;
};

// The GStreamer name of a raw V4L2 format we can convert ("YUYV" -> "YUY2"); empty for a
// compressed or an unknown format.
QString rawFormatName(const QString &fourcc);
// MJPEG under either of its V4L2 names.
bool isMjpeg(const QString &fourcc);

// The mode for pictures of `requested` size: the requested size itself when the camera offers
// it at 15 fps or more (raw when raw reaches 30 fps at that size, else MJPEG); otherwise the
// smallest offered size at least as large in both sides with the same aspect ratio (then any
// aspect) at 15 fps or more; otherwise the largest offered at 15 fps or more, or failing that
// the largest of all. The rate is the highest up to 30 fps of
// that mode. Formats we cannot decode (H.264 and other compressed ones) are never chosen.
// Nothing when the camera offers no mode we can show. Pure: the same list and request give
// the same mode.
std::optional<ChosenMode> chooseCameraMode(const std::vector<CameraMode> &modes, QSize requested);

// The list without `refused` (its format at its size), for a second choice after a camera
// refused the first.
std::vector<CameraMode> withoutMode(const std::vector<CameraMode> &modes, const ChosenMode &refused);

// "MJPEG 2048x1536 @ 30 fps", "YUY2 640x480 @ 7.5 fps".
QString describeMode(const ChosenMode &mode);

// The GStreamer caps of a mode, as text ("image/jpeg,width=...", "video/x-raw,format=YUY2,...").
QString modeCapsString(const ChosenMode &mode);

// Reads a mode list as `v4l2-ctl --list-formats-ext` prints it (its current and its older
// layout). Lines it does not understand are passed over; a size without intervals has
// unknown rates.
std::vector<CameraMode> parseModeListing(const QString &text);

// Reads a mode list file (at most 1 MiB: a camera's list runs to a few kilobytes). Nothing when
// it cannot be read.
std::optional<std::vector<CameraMode>> readModeListing(const QString &path);

// A mode list in the same layout, which parseModeListing reads back.
QString formatModeListing(const std::vector<CameraMode> &modes);

// A 5 MP document camera's modes: MJPEG 2592x1944 @ 15 and 2048x1536 down to 320x240 @ 30;
// YUYV 640x480 and 320x240 @ 30, 1280x1024 @ 5, 2592x1944 @ 2. The virtual camera offers
// these unless told otherwise.
const std::vector<CameraMode> &documentCameraModes();

} // namespace quillora::capture
