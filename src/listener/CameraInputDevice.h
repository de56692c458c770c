// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the Linux kernel shows a camera's snapshot button while its video driver (uvcvideo)
// holds the camera: as an input device that reports KEY_CAMERA. The driver makes it a child of
// the camera's USB interface and names its `phys` after the video node's bus_info plus
// "/button"; either identifies it.
//
// The sysfs and /dev roots are parameters so that fixture trees can stand in for them.
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
    bool driverBound = false; // a kernel driver holds the interface
    std::string inputDir;     // the button's input device in sysfs; empty when none
    std::string eventNode;    // its event node (/dev/input/eventN); empty when none
    std::string why;          // what was missing, for the log
};

// Looks the camera's interface up in sysfs (by location ID, vendor and product) and, below it or
// by its `phys`, the input device that reports KEY_CAMERA.
CameraButtonLookup findCameraButton(
    const CameraUsbInterface &camera, const std::string &sysRoot = "/sys", const std::string &devRoot = "/dev");

// The bits of a sysfs capability file ("capabilities/key": hex words, most significant first,
// each as wide as the kernel's long) include `bit`.
bool capabilityHasBit(const std::string &text, unsigned bit);

} // namespace quillora::listener
