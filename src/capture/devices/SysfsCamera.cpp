// SPDX-License-Identifier: GPL-3.0-or-later
#include "SysfsCamera.h"

#include "AttachedCameras.h"
#include "CaptureLog.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace quillora::capture {

namespace {

QString text(const std::string &s)
{
    return QString::fromStdString(s);
}

} // namespace

bool isVideoCaptureNode(const NodeCapabilities &caps)
{
    const std::uint32_t node = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.deviceCaps : caps.capabilities;
    const std::uint32_t picture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE;
    const std::uint32_t notACamera
        = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_VIDEO_OUTPUT_MPLANE | V4L2_CAP_VIDEO_M2M | V4L2_CAP_VIDEO_M2M_MPLANE;
    return (node & picture) && !(node & notACamera);
}

std::optional<NodeCapabilities> queryNodeCapabilities(const devices::VideoNode &node, QString *error)
{
    auto fail = [error](const QString &why) -> std::optional<NodeCapabilities> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QString devicePath = text(node.devicePath);
    struct stat st { };
    if (::stat(node.devicePath.c_str(), &st) != 0)
        return fail(QStringLiteral("%1: %2").arg(devicePath, QString::fromLocal8Bit(std::strerror(errno))));
    const QString numbers = QStringLiteral("%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    if (!S_ISCHR(st.st_mode) || numbers != text(node.devNumbers))
        return fail(
            QStringLiteral("%1 is not the device %2 of %3").arg(devicePath, text(node.devNumbers), text(node.name)));
    // Non-blocking: asking must not wait for a device that is busy streaming elsewhere.
    UniqueFd fd(::open(node.devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return fail(QStringLiteral("%1: %2").arg(devicePath, QString::fromLocal8Bit(std::strerror(errno))));
    v4l2_capability cap{};
    int rc;
    do {
        rc = ::ioctl(fd.get(), VIDIOC_QUERYCAP, &cap);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return fail(
            QStringLiteral("%1: VIDIOC_QUERYCAP: %2").arg(devicePath, QString::fromLocal8Bit(std::strerror(errno))));
    return NodeCapabilities{cap.capabilities, cap.device_caps};
}

CameraIdentity identifyCamera(const devices::CameraRecord &record)
{
    CameraIdentity id;
    const QString nodeName = record.node ? text(record.node->name) : QString();
    const QString ownName = text(record.nodeName.value_or(std::string()));
    if (ownName.isEmpty())
        qCInfo(lcCapture) << nodeName << "has no name in sysfs";
    if (!record.hasParentDevice)
        qCInfo(lcCapture) << nodeName << "has no parent device in sysfs";

    const QString usbDir = text(record.usbDeviceDir);
    if (record.usb) {
        id.usb = true;
        id.vendor = record.vendor;
        id.product = record.product;
        id.locationId = record.locationId;
        const QString busText = text(record.busText);
        const QString devpath = text(record.devpath);
        if (record.chainFromDirName)
            qCInfo(lcCapture) << nodeName << "USB device without busnum/devpath; using its directory name" << usbDir;
        id.modelUniqueID = QStringLiteral("UVC Camera VendorID_%1 ProductID_%2").arg(id.vendor).arg(id.product);
        if (id.locationId) {
            id.uniqueID
                = QString::asprintf("0x%08x%04x%04x", *id.locationId, unsigned(id.vendor), unsigned(id.product));
        } else {
            // A location ID has room for six ports of at most 15 on a bus up to 255. Cut
            // short, the value would name some other device; this identifier names the
            // camera without claiming a location, so no USB device is matched to it.
            qCInfo(lcCapture).noquote() << QStringLiteral("%1: USB chain %2-%3 cannot be expressed as a location ID")
                                               .arg(nodeName, busText, devpath);
            id.uniqueID = QStringLiteral("usb:%1-%2:%3:%4")
                              .arg(busText, devpath)
                              .arg(id.vendor, 4, 16, QLatin1Char('0'))
                              .arg(id.product, 4, 16, QLatin1Char('0'));
        }
        id.displayName = !ownName.isEmpty() ? ownName : text(record.productName.value_or(std::string()));
        if (id.displayName.isEmpty())
            id.displayName = id.modelUniqueID;
        return id;
    }
    if (!usbDir.isEmpty())
        qCInfo(lcCapture) << nodeName << "USB device without a readable idVendor/idProduct:" << usbDir;

    id.displayName = !ownName.isEmpty() ? ownName : nodeName;
    id.modelUniqueID = id.displayName;
    id.uniqueID = record.node ? text(record.node->devicePath) : QString();
    return id;
}

std::vector<DeviceDescription> listSysfsCameras(
    const QString &sysfsRoot, const QString &devRoot, const CapabilityProbe &probe)
{
    const devices::SysfsRoots roots{sysfsRoot.toStdString(), devRoot.toStdString()};
    std::vector<std::string> vanished;
    const std::vector<devices::VideoNode> nodes = devices::listVideoNodes(roots, &vanished);
    for (const std::string &name : vanished)
        qCInfo(lcCapture) << text(name) << "went away while the cameras were listed";
    std::vector<DeviceDescription> out;
    std::vector<devices::CameraRecord> records;
    for (const devices::VideoNode &node : nodes) {
        const QString name = text(node.name);
        QString why;
        const auto caps = probe ? probe(node, &why) : std::nullopt;
        if (caps) {
            if (!isVideoCaptureNode(*caps)) {
                qCInfo(lcCapture) << name << "is not a picture node; skipped";
                continue;
            }
        } else if (node.index > 0) {
            // Unasked, the node's place among its device's nodes decides: drivers register the
            // picture node first, and the UVC driver's metadata node after it.
            qCInfo(lcCapture).noquote() << name << "cannot be asked (" + why + "); skipped as a secondary node";
            continue;
        } else {
            qCInfo(lcCapture).noquote() << name << "cannot be asked (" + why + "); listed by its sysfs entry";
        }
        devices::CameraRecord record = devices::resolveCamera(roots, node, nodes);
        const CameraIdentity id = identifyCamera(record);
        DeviceDescription d;
        d.kind = DeviceKind::V4l2Camera;
        d.displayName = id.displayName;
        d.modelUniqueID = id.modelUniqueID;
        d.uniqueID = id.uniqueID;
        d.devicePath = text(node.devicePath);
        // The node's own directory in the device tree, where its USB parents are.
        d.sysfsPath = text(record.nodeDir);
        out.push_back(std::move(d));
        records.push_back(std::move(record));
    }
    // The USB host and the listener take these cameras' nodes and buttons from here.
    devices::publishCameras(roots, records);
    return out;
}

} // namespace quillora::capture
