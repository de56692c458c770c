// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Capture devices as the controller sees them: a camera or a sound input with a display name,
// a model string and a unique identifier. Whether a device is a V4L2 camera, a sound server
// source or a virtual stand-in is the capture layer's business alone.
#include "CameraMode.h"

#include <QSize>
#include <QString>

#include <memory>
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
    bool isDefault = false; // the sound server's default source
};

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

// Parses QUILLORA_VIRTUAL_CAMERAS: entries separated by ';', each
// "display name|model string|unique identifier[|modes]", where modes is WIDTHxHEIGHT (one raw
// BGRx mode at 30 fps) or the path of a mode list as `v4l2-ctl --list-formats-ext` prints it;
// without it the camera offers a 5 MP document camera's modes. Malformed entries, and entries
// whose mode list cannot be read, are skipped with a warning.
std::vector<DeviceDescription> parseVirtualCameras(const QString &text);

} // namespace quillora::capture
