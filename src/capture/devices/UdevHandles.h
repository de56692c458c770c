// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one place where libudev's reference-counted handles get an owner.
#include <libudev.h>

#include <memory>

namespace quillora::capture {

struct UdevUnref {
    void operator()(udev *handle) const
    {
        if (handle)
            udev_unref(handle);
    }
    void operator()(udev_monitor *monitor) const
    {
        if (monitor)
            udev_monitor_unref(monitor);
    }
    void operator()(udev_device *device) const
    {
        if (device)
            udev_device_unref(device);
    }
};

using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, UdevUnref>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevUnref>;

} // namespace quillora::capture
