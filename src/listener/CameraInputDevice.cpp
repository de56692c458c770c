// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraInputDevice.h"

#include "AttachedCameras.h"

#include <sys/stat.h>

namespace quillora::listener {

CameraButtonLookup cameraButtonOf(const CameraUsbInterface &camera, const std::optional<devices::CameraRecord> &record)
{
    CameraButtonLookup out;
    // A device whose identifiers cannot be read is taken for the one at the location.
    if (!record || (record->usb && (record->vendor != camera.vendorId || record->product != camera.productId))) {
        out.why = "no USB device at this location in sysfs";
        return out;
    }
    out.usbDeviceDir = record->usbDeviceDir;
    for (const devices::UsbInterfaceDir &interface : record->interfaces)
        if (interface.number == camera.interfaceNumber)
            out.interfaceDir = interface.sysfsDir;
    if (out.interfaceDir.empty()) {
        out.why = "the USB device has no interface " + std::to_string(camera.interfaceNumber) + " in sysfs";
        return out;
    }
    // Whether the driver holds the interface is asked now: it binds and unbinds while the
    // camera stays.
    struct stat driver { };
    out.driverBound = ::lstat((out.interfaceDir + "/driver").c_str(), &driver) == 0;
    if (!record->button) {
        out.why = "the kernel made no input device with KEY_CAMERA for this camera";
        return out;
    }
    out.inputDir = record->button->sysfsDir;
    out.eventNode = record->button->eventNode;
    return out;
}

CameraButtonLookup attachedCameraButton(const CameraUsbInterface &camera, const devices::SysfsRoots &roots)
{
    return cameraButtonOf(camera, devices::attachedCameraAt(roots, camera.locationId));
}

CameraButtonLookup findCameraButton(
    const CameraUsbInterface &camera, const std::string &sysRoot, const std::string &devRoot)
{
    return cameraButtonOf(camera, devices::refreshCameraAt({sysRoot, devRoot}, camera.locationId));
}

} // namespace quillora::listener
