// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the Linux kernel shows a camera's snapshot button while its video driver (uvcvideo)
// holds the camera: as an input device that reports KEY_CAMERA. The driver makes it a child of
// the camera's USB interface and names its `phys` after the video node's bus_info plus
// "/button"; the camera record (devices/CameraRecord.h) finds it either way. Here the listener
// reads what it needs of the record of the camera it found on USB.
//
// The sysfs and /dev roots are parameters so that fixture trees can stand in for them.
#include "CameraRecord.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quillora::listener {

struct CameraUsbInterface {
    std::uint32_t locationId = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint8_t interfaceNumber = 0;
};

struct CameraButtonLookup {
    std::string usbDeviceDir; // the camera's USB device in sysfs; empty when not found
    std::string interfaceDir; // its interface in sysfs; empty when not found
    bool driverBound = false; // a kernel driver holds the interface now
    std::string inputDir;     // the button's input device in sysfs; empty when none
    std::string eventNode;    // its event node (/dev/input/eventN); empty when none
    std::string why;          // what was missing, for the log
};

// The button of `camera` as its record says: the record of the device at its location, when it
// is the same vendor and product.
CameraButtonLookup cameraButtonOf(const CameraUsbInterface &camera, const std::optional<devices::CameraRecord> &record);

// The same from the attached camera's record as last resolved (the camera list's, normally).
CameraButtonLookup attachedCameraButton(const CameraUsbInterface &camera, const devices::SysfsRoots &roots);

// The same from the camera's record resolved now, for a camera that has changed since (the
// kernel makes the input device after the USB device); the new record is kept for the others.
CameraButtonLookup findCameraButton(
    const CameraUsbInterface &camera, const std::string &sysRoot = "/sys", const std::string &devRoot = "/dev");

} // namespace quillora::listener
