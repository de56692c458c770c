// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Cameras as the Linux kernel shows them: the V4L2 nodes under <sysfs>/class/video4linux, and,
// for a camera on USB, the identity the rest of the program recognises it by (model string,
// unique identifier, location ID), read from the USB device directory above the node.
//
// The sysfs root is a parameter so that fixture trees stand in for /sys in tests.
#include "DeviceDescription.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace quillora::capture {

// What VIDIOC_QUERYCAP says about a node.
struct NodeCapabilities {
    std::uint32_t capabilities = 0; // of the whole device
    std::uint32_t deviceCaps = 0;   // of this node; valid when capabilities has V4L2_CAP_DEVICE_CAPS
};

// A node that delivers pictures (single- or multi-planar capture) and is neither an output nor
// a memory-to-memory codec. The UVC driver's second node per camera carries only metadata and
// is not a camera.
bool isVideoCaptureNode(const NodeCapabilities &caps);

// One V4L2 node as sysfs lists it.
struct V4l2Node {
    QString name;       // "video0"
    int number = -1;    // 0 for video0
    QString sysfsDir;   // <sysfs>/class/video4linux/video0
    QString devicePath; // /dev/video0
    QString devNumbers; // the node's "major:minor" from its `dev` file; empty when unreadable
    int index = -1;     // the node's `index` file: its position among its device's nodes; -1 unknown
};

// Asks the node's device file, after checking that it is the character device sysfs names
// (a stale or foreign /dev entry is not asked). Nothing, with the reason in `error`, when the
// node cannot be asked.
std::optional<NodeCapabilities> queryNodeCapabilities(const V4l2Node &node, QString *error);

// How each node of the list is asked for its capabilities; the real one is queryNodeCapabilities.
using CapabilityProbe = std::function<std::optional<NodeCapabilities>(const V4l2Node &node, QString *error)>;

struct CameraIdentity {
    QString displayName;   // the camera's own name
    QString modelUniqueID; // "UVC Camera VendorID_<v> ProductID_<p>", or the card name
    QString uniqueID;      // "0x" + location + vendor + product, or the device path
    bool usb = false;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::optional<std::uint32_t> locationId; // USB only, and only when the chain can be encoded
};

// The identity of `node`. Missing or unreadable files never fail the call: the camera is then
// described by what could be read, and the reason is logged.
CameraIdentity identifyNode(const QString &sysfsRoot, const V4l2Node &node);

// The V4L2 nodes of `sysfsRoot` (normally "/sys") in node-number order; device files are
// looked for under `devRoot` (normally "/dev").
std::vector<V4l2Node> listV4l2Nodes(const QString &sysfsRoot, const QString &devRoot);

// The cameras among those nodes, in the same order at every call.
std::vector<DeviceDescription> listSysfsCameras(
    const QString &sysfsRoot, const QString &devRoot, const CapabilityProbe &probe);

} // namespace quillora::capture
