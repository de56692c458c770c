// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What passes between the capture view and the session's view branch: what the view asks to be
// shown, and the pictures it gets.
#include "Frame.h"

#include <QRectF>
#include <QSize>

namespace quillora::capture {

// What the capture view asks to be shown of the camera's picture: the part `region` of the
// frame (fractions of its width and height, unturned) at the size it is shown, fitted into `box`
// (device pixels); the whole picture fitted into `wholeBox` when the view is not zoomed. Never
// more pixels than the frame has in that part: a view zoomed past them scales up itself.
struct DisplayRequest {
    QRectF region{0, 0, 1, 1};
    QSize box;
    QSize wholeBox;
    bool wholeFrame() const { return region.contains(QRectF(0, 0, 1, 1)); }
    friend bool operator==(const DisplayRequest &, const DisplayRequest &) = default;
};

// A picture for the capture view: `frame` shows `region` (in pixels of the camera's frame,
// which is `source` large). `backdrop`, now and then while only a part is shown, is a small
// picture of the whole frame, to show around the part until a picture of a new part arrives.
struct ViewPicture {
    Frame frame;
    QSize source;
    QRectF region;
    Frame backdrop;
};

// Receives the pictures that the capture view shows. Called on a streaming thread.
class DisplaySink {
public:
    virtual ~DisplaySink() = default;
    virtual void presentFrame(const ViewPicture &picture) = 0;
};

} // namespace quillora::capture
