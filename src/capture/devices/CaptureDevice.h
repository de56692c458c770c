// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Capture devices as the controller sees them: a camera or a sound input with a display name,
// a model string and a unique identifier. Whether a device is a V4L2 camera, a sound server
// source or a virtual stand-in is the capture layer's business alone.
#include "CameraControls.h"
#include "DeviceDescription.h"

#include <QString>

#include <memory>
#include <vector>

namespace quillora::capture {

class CaptureDevice {
public:
    explicit CaptureDevice(DeviceDescription description);

    QString localizedDisplayName() const { return m_description.displayName; }
    QString modelUniqueID() const { return m_description.modelUniqueID; }
    QString uniqueID() const { return m_description.uniqueID; }
    MediaType mediaType() const;
    const DeviceDescription &description() const { return m_description; }

    // Checks that the device can be used now (the node exists and can be opened). The
    // session opens the device for real when it starts running.
    bool open(QString *error);
    bool isOpen() const { return m_open; }

    // The camera's own picture controls, reachable while the result lives. Nothing, with the
    // reason in `error`, for a sound input or a camera that cannot be opened.
    std::unique_ptr<CameraControls> openControls(QString *error) const;

private:
    DeviceDescription m_description;
    bool m_open = false;
};

using CaptureDevicePtr = std::shared_ptr<CaptureDevice>;

// The devices of one media type, in the same order at every call. The same device is the
// same object from call to call for as long as someone holds it.
std::vector<CaptureDevicePtr> inputDevicesWithMediaType(MediaType type);
// The default device of that type: the first camera; the sound source that the sound
// server marks as default, else the first. nullptr when there is none.
CaptureDevicePtr defaultInputDeviceWithMediaType(MediaType type);

} // namespace quillora::capture
