// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The host on the machine's USB, through libusb. makeLibusbHost (UsbHost.h) gives the usual one;
// this header lets tests choose how the video driver road is reached.
#include "UsbHost.h"
#include "VideoDriverRoad.h"

namespace quillora::usb {

struct LibusbHostOptions {
    // How an interface that the kernel's video driver holds reaches that driver; null for the
    // machine's (openVideoDriverControl on /sys and /dev).
    VideoDriverOpener openVideoDriver;
};

std::shared_ptr<UsbHost> makeLibusbHost(const LibusbHostOptions &options, UsbResult *result = nullptr);

} // namespace quillora::usb
