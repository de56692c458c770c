// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the capture layer knows of one device: its kind, names and where it is found. The
// listings fill it in; a CaptureDevice carries it.
#include "CameraMode.h"

#include <QString>

#include <vector>

namespace quillora::capture {

enum class MediaType { Video, Sound };

enum class DeviceKind {
    V4l2Camera,    // a V4L2 capture node
    VirtualCamera, // a synthetic document page (QUILLORA_VIRTUAL_CAMERAS)
    SoundSource,   // a source of the sound server
    VirtualSound,  // a test tone (QUILLORA_VIRTUAL_MICROPHONE)
};

struct DeviceDescription {
    DeviceKind kind = DeviceKind::VirtualCamera;
    QString displayName;   // the device's own name
    QString modelUniqueID; // "UVC Camera VendorID_<v> ProductID_<p>" for USB cameras
    QString uniqueID;      // "0x" + location ID + vendor + product for USB cameras
    QString devicePath;    // /dev/videoN, or the sound server's source name
    QString sysfsPath;     // the node's sysfs directory, when known
    // A virtual camera's modes, as listed. A V4L2 camera is asked for its own when its
    // picture starts.
    std::vector<CameraMode> modes;
    // A virtual camera whose modes come from a file: the file is read again when its picture
    // starts, so a test can change what the camera offers between listing and start.
    QString modeListPath;
    // A virtual camera that replays a recording (see virtualReplay): its folder or file.
    QString replayPath;
    // A virtual camera whose picture controls are a real camera's: its `v4l2-ctl
    // --list-ctrls-menus` listing. Empty: the built-in set.
    QString controlListPath;
    bool isDefault = false; // the sound server's default source
};

} // namespace quillora::capture
