// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The picture controls' values the user set, remembered per camera in the settings file's group
// "CameraControls": key "<camera's unique identifier>/<control ID as 0x%08x>", value the
// integer ("[CameraControls]" / "virtual-0\0x00980900=40" in the file). The control ID, not its
// name, since kernels renamed controls but kept their IDs. Only values the user changed are
// there; the camera's defaults are its own. The ten settings are not touched.
//
// A camera identifier with characters other than letters, digits, '_', '.' and '-' (a device
// path, a virtual camera's chosen name) is written with those characters percent-encoded, so
// that a key is always one camera and one control.
#include "UserDefaults.h"

#include <cstdint>
#include <map>

namespace quillora::prefs {

class CameraControlStore {
public:
    explicit CameraControlStore(UserDefaults &defaults);

    static QString groupName();
    // The key of a value inside the group.
    static QString keyFor(const QString &cameraId, std::uint32_t controlId);

    // The values stored for camera `cameraId`. Entries of the group that are not
    // "<camera>/0x<up to 8 hex digits>" holding a 32-bit integer are passed over, with one line
    // in quillora.prefs the first time a store meets any.
    std::map<std::uint32_t, std::int64_t> valuesFor(const QString &cameraId) const;
    // Remembers a value the user set. It reaches the file at the next save().
    void setValue(const QString &cameraId, std::uint32_t controlId, std::int64_t value);
    // Forgets every value of the camera (its controls were reset to the camera's defaults).
    void removeCamera(const QString &cameraId);
    // Writes what changed to the file, with everything else it holds.
    SaveResult save();

private:
    UserDefaults &m_defaults;
    mutable bool m_garbageReported = false;
};

} // namespace quillora::prefs
