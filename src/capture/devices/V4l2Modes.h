// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A V4L2 camera's modes, asked of its node: VIDIOC_ENUM_FMT, ENUM_FRAMESIZES and
// ENUM_FRAMEINTERVALS. Asked when a session is built, not when cameras are listed, so the
// list is the one the camera has now (a camera may change its list with its firmware mode).
#include "CameraMode.h"

namespace quillora::capture {

// The capture modes of the node at `devicePath`, in the driver's order. Empty, with the
// reason in `error`, when the node cannot be asked; empty without an error when it offers no
// mode.
std::vector<CameraMode> queryCameraModes(const QString &devicePath, QString *error);

} // namespace quillora::capture
