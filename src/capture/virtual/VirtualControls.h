// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The virtual camera's picture controls. It offers a document camera's believable set
// (brightness, contrast, saturation, automatic white balance and its temperature, an exposure
// menu and exposure time, power-line frequency, automatic focus and focus, zoom), or the set of
// a real camera given as its `v4l2-ctl --list-ctrls-menus` listing. Like a real camera's, the
// values stay while the camera is plugged in and go back to the defaults when it is pulled out;
// brightness, contrast, saturation, white balance and a manual exposure change the page it
// shows, so that tests and users see their effect.
#include "CameraControls.h"

#include <QImage>

#include <functional>

namespace quillora::capture {

// What the controls do to the picture. The default is the page as it is.
struct PictureLook {
    int brightness = 0;      // added to each channel
    double contrast = 1.0;   // around mid grey
    double saturation = 1.0; // 0: grey
    double redGain = 1.0;    // white balance
    double blueGain = 1.0;
    double exposure = 1.0; // a manual exposure's gain over the automatic one
    bool operator==(const PictureLook &) const = default;
};

// The look of the virtual camera `identity` now, and a number that changes whenever it does
// (0 for a camera whose controls were never opened: the page as it is).
struct LookNow {
    PictureLook look;
    quint64 generation = 0;
};
LookNow virtualCameraLook(const QString &identity);

// `image` (Format_RGB32) as the camera shows it under `look`, changed in place.
void applyPictureLook(QImage &image, const PictureLook &look);

// The built-in set, at its defaults.
std::vector<CameraControl> virtualCameraControls();

// The controls of the virtual camera `identity`, offering the controls of the listing at
// `listingPath` (the built-in set when it is empty). Nothing, with the reason, when the listing
// cannot be read.
std::unique_ptr<CameraControls> openVirtualCameraControls(
    const QString &identity, const QString &listingPath, QString *error);

// The camera `identity` was pulled out: its controls lose their values, as a camera's do when it
// loses power.
void forgetVirtualCameraControls(const QString &identity);

// For tests: called with the camera, control and value of every write to a virtual camera,
// before the write takes effect; an answer other than 0 refuses the write with that errno, as
// a camera that is busy or fails the transfer does. Empty: none. Main thread.
using VirtualControlObserver = std::function<int(const QString &identity, std::uint32_t id, std::int64_t value)>;
void setVirtualControlObserver(VirtualControlObserver observer);

} // namespace quillora::capture
