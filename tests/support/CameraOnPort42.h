// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one camera of the tests that need a machine's view of it: a Quillora camera at bus 1,
// ports 4.2 (location 0x01420000) behind host controller 0000:00:14.0 and hub 1-4, written as
// umockdev's device descriptions. umockdev's test bed lays them out as the kernel's sysfs and
// /dev, which the sysfs readers read directly and which a program under umockdev's preload sees
// as the real ones (its usbfs node, video nodes and input device then answer through the test).
#include <cstdint>
#include <string>
#include <vector>

namespace quillora::test {

inline constexpr std::uint32_t kCameraLocation = 0x01420000;

struct CameraOnPort42 {
    // Under /sys: the root hub, the hub, the camera's USB device, its video-control interface.
    static constexpr const char *kRootHub = "/devices/pci0000:00/0000:00:14.0/usb1";
    static constexpr const char *kDevice = "/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2";
    static constexpr const char *kInterface = "/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2/1-4.2:1.0";

    std::uint16_t product = 0x037a; // vendor 090c
    std::string name = "Quillora Document Camera";
    // The device's and its configuration's descriptors as hex (as sysfs' `descriptors` holds
    // them); empty: the Quillora camera's own (a video-control interface with its interrupt
    // endpoint 0x83, and a video-streaming one).
    std::string descriptors;
    bool driverBound = true;     // uvcvideo holds the video-control interface
    std::vector<int> videoNodes; // numbers of its video nodes: the picture's (index 0), then metadata
    int button = -1;             // its button's input device, input<button> with event<button>; -1: none

    // Everything, in the order umockdev wants it (parents first).
    std::string describe() const;
    // The video nodes and the button's input device only: the driver's part, made again when
    // the camera comes back.
    std::string describeDriverDevices() const;
    // The button's input device only.
    std::string describeButton() const;
    // A video node `number` (index `index`, named `name`) below `parent`, as the UVC driver makes it.
    static std::string videoNode(const std::string &parent, int number, int index, const std::string &name);
    // An input device `number` at `path` with event node event<number>: `phys` and its key bits.
    static std::string inputDevice(const std::string &path, int number, const std::string &phys, const char *keys);
    // KEY_CAMERA (212) among an input device's keys, as sysfs' capabilities/key words show it.
    static constexpr const char *kCameraKey = "100000 0 0 0";
};

} // namespace quillora::test
