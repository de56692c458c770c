// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Cameras as the Linux kernel shows them, as the capture layer lists them: the picture nodes
// among the V4L2 nodes, each described by the camera record it belongs to (model string,
// unique identifier, location ID for a camera on USB). The records the list is made of are
// published for the USB host and the listener.
//
// The sysfs root is a parameter so that fixture trees stand in for /sys in tests.
#include "CameraRecord.h"
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

// Asks the node's device file, after checking that it is the character device sysfs names
// (a stale or foreign /dev entry is not asked). Nothing, with the reason in `error`, when the
// node cannot be asked.
std::optional<NodeCapabilities> queryNodeCapabilities(const devices::VideoNode &node, QString *error);

// How each node of the list is asked for its capabilities; the real one is queryNodeCapabilities.
using CapabilityProbe = std::function<std::optional<NodeCapabilities>(const devices::VideoNode &node, QString *error)>;

struct CameraIdentity {
    QString displayName;   // the camera's own name
    QString modelUniqueID; // "UVC Camera VendorID_<v> ProductID_<p>", or the card name
    QString uniqueID;      // "0x" + location + vendor + product, or the device path
    bool usb = false;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::optional<std::uint32_t> locationId; // USB only, and only when the chain can be encoded
};

// The identity of the camera a record resolved from a node describes. What the record could not
// read never fails the call: the camera is then described by what could be read, and the reason
// is logged.
CameraIdentity identifyCamera(const devices::CameraRecord &record);

// The cameras among the V4L2 nodes of `sysfsRoot` (normally "/sys"), device files looked for
// under `devRoot` (normally "/dev"), in node-number order, the same at every call.
std::vector<DeviceDescription> listSysfsCameras(
    const QString &sysfsRoot, const QString &devRoot, const CapabilityProbe &probe);

} // namespace quillora::capture
