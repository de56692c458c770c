// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A camera as the Linux kernel shows it, resolved once from sysfs into one value: its V4L2 nodes,
// and for a camera on USB its USB device, vendor, product, location ID, interfaces and the input
// device the video driver makes for its snapshot button. The capture layer lists cameras from
// these records, the USB host reaches the video driver through the record's node, and the
// listener hears the button on the record's input device; none of them walks sysfs itself.
//
// Resolving never fails: a missing or unreadable file leaves its field empty, and the record
// says what could not be read so that its user can log it.
//
// The sysfs and /dev roots are parameters so that fixture trees stand in for them in tests.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillora::devices {

// Where sysfs and the device files are.
struct SysfsRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
    bool operator==(const SysfsRoots &) const = default;
};

// One V4L2 node as sysfs lists it.
struct VideoNode {
    std::string name;       // "video0"
    int number = -1;        // 0 for video0
    std::string sysfsDir;   // <sys>/class/video4linux/video0
    std::string devicePath; // <dev>/video0
    std::string devNumbers; // the node's "major:minor" from its `dev` file; empty when unreadable
    int index = -1;         // the node's `index` file: its position among its device's nodes; -1 unknown
};

struct UsbInterfaceDir {
    unsigned number = 0;  // bInterfaceNumber
    std::string sysfsDir; // <usb device>/<device>:<configuration>.<number>
};

// The input device that reports the camera's KEY_CAMERA.
struct ButtonInput {
    std::string sysfsDir;  // <sys>/class/input/inputN
    std::string eventNode; // <dev>/input/eventM
};

struct CameraRecord {
    // The node the record was resolved from (a picture node of the capture list); nothing for a
    // camera resolved by its USB location.
    std::optional<VideoNode> node;
    std::string nodeDir;                 // that node's own directory in the device tree
    std::optional<std::string> nodeName; // its `name` attribute
    bool hasParentDevice = false;        // its `device` link resolves

    // On USB. usbDeviceDir is set when the node sits below a USB device; the rest of this part
    // when that device's idVendor and idProduct could be read.
    std::string usbDeviceDir; // the device's own directory ("…/usb1/1-4/1-4.2")
    bool usb = false;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string busText;                     // `busnum` as read
    std::string devpath;                     // `devpath` as read ("4.2")
    bool chainFromDirName = false;           // busnum/devpath unreadable: taken from the directory name
    std::optional<std::uint32_t> locationId; // when the chain can be encoded
    std::optional<std::string> productName;  // the device's `product`

    // Every V4L2 node of the USB device, the picture node first (by `index`, then by name).
    std::vector<VideoNode> videoNodes;
    // The device's interfaces in number order, and the video-control interface the video
    // driver binds and hangs the button's input device on: the node's own interface, else
    // the first video-control one, else the first.
    std::vector<UsbInterfaceDir> interfaces;
    std::string controlInterfaceDir;
    std::optional<ButtonInput> button;
};

// The V4L2 nodes under <sys>/class/video4linux in node-number order, device files looked for
// under <dev>. Entries that are gone by the time they are read are named in `vanished`.
std::vector<VideoNode> listVideoNodes(const SysfsRoots &roots, std::vector<std::string> *vanished = nullptr);

// The record of the camera `node` belongs to; `nodes` is the node list it came from (the USB
// device's other nodes are found among them).
CameraRecord resolveCamera(const SysfsRoots &roots, const VideoNode &node, const std::vector<VideoNode> &nodes);

// The record of the USB device at `locationId` (its video nodes, if the driver made any), or
// nothing when no USB device is there.
std::optional<CameraRecord> resolveCameraAt(const SysfsRoots &roots, std::uint32_t locationId);

// Whether the kernel still shows what the record names: its USB device, its nodes and its button.
// A camera pulled out and put back at the same place gets new node numbers.
bool recordStillCurrent(const CameraRecord &record);

// The bits of a sysfs capability file ("capabilities/key": hex words, most significant first,
// each as wide as the kernel's long) include `bit`.
bool capabilityHasBit(const std::string &text, unsigned bit);

} // namespace quillora::devices
