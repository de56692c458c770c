// SPDX-License-Identifier: GPL-3.0-or-later
#include "SysfsCamera.h"

#include "CaptureLog.h"
#include "LocationId.h"
#include "UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace quillora::capture {

namespace {

// A sysfs attribute, trimmed; nothing when the file is missing or unreadable.
std::optional<QString> readAttribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Attributes are one short line; a bound keeps a strange file from being read whole.
    return QString::fromUtf8(file.read(4096)).trimmed();
}

std::optional<std::uint16_t> readHex16(const QString &path)
{
    const auto text = readAttribute(path);
    if (!text || text->isEmpty() || text->size() > 4)
        return std::nullopt;
    bool ok = false;
    const uint value = text->toUInt(&ok, 16);
    if (!ok || value > 0xFFFF)
        return std::nullopt;
    return std::uint16_t(value);
}

// The value of KEY=value in a uevent file.
QString ueventValue(const QString &nodeDir, const QString &key)
{
    const auto text = readAttribute(nodeDir + QStringLiteral("/uevent"));
    if (!text)
        return {};
    const QString prefix = key + QLatin1Char('=');
    for (const QString &line : text->split(QLatin1Char('\n'))) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed();
    }
    return {};
}

// The kernel names a USB device (not a root hub, not an interface) "<bus>-<port>[.<port>…]".
const QRegularExpression &usbDeviceDirName()
{
    static const QRegularExpression re(QStringLiteral("^(\\d+)-(\\d+(?:\\.\\d+)*)$"));
    return re;
}

// The USB device directory above the node, or empty when the node does not sit on USB.
QString usbDeviceDirOf(const QString &sysfsRoot, const V4l2Node &node)
{
    const QString device = QFileInfo(node.sysfsDir + QStringLiteral("/device")).canonicalFilePath();
    if (device.isEmpty()) {
        qCInfo(lcCapture) << node.name << "has no parent device in sysfs";
        return {};
    }
    const QString root = QFileInfo(sysfsRoot).canonicalFilePath();
    QDir dir(device);
    // Bounded: sysfs trees are shallow, and a broken tree must not keep us walking.
    for (int depth = 0; depth < 64; ++depth) {
        const QString name = dir.dirName();
        if (usbDeviceDirName().match(name).hasMatch())
            return dir.path();
        if (name.startsWith(QStringLiteral("usb")) || dir.path() == root || dir.isRoot() || !dir.cdUp())
            break;
    }
    return {};
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

std::optional<NodeCapabilities> queryNodeCapabilities(const V4l2Node &node, QString *error)
{
    auto fail = [error](const QString &why) -> std::optional<NodeCapabilities> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QByteArray path = QFile::encodeName(node.devicePath);
    struct stat st { };
    if (::stat(path.constData(), &st) != 0)
        return fail(QStringLiteral("%1: %2").arg(node.devicePath, QString::fromLocal8Bit(std::strerror(errno))));
    const QString numbers = QStringLiteral("%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    if (!S_ISCHR(st.st_mode) || numbers != node.devNumbers)
        return fail(QStringLiteral("%1 is not the device %2 of %3").arg(node.devicePath, node.devNumbers, node.name));
    // Non-blocking: asking must not wait for a device that is busy streaming elsewhere.
    UniqueFd fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return fail(QStringLiteral("%1: %2").arg(node.devicePath, QString::fromLocal8Bit(std::strerror(errno))));
    v4l2_capability cap{};
    int rc;
    do {
        rc = ::ioctl(fd.get(), VIDIOC_QUERYCAP, &cap);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return fail(QStringLiteral("%1: VIDIOC_QUERYCAP: %2")
                        .arg(node.devicePath, QString::fromLocal8Bit(std::strerror(errno))));
    return NodeCapabilities{cap.capabilities, cap.device_caps};
}

CameraIdentity identifyNode(const QString &sysfsRoot, const V4l2Node &node)
{
    CameraIdentity id;
    const auto ownName = readAttribute(node.sysfsDir + QStringLiteral("/name"));
    if (!ownName || ownName->isEmpty())
        qCInfo(lcCapture) << node.name << "has no name in sysfs";

    const QString usbDir = usbDeviceDirOf(sysfsRoot, node);
    if (!usbDir.isEmpty()) {
        const auto vendor = readHex16(usbDir + QStringLiteral("/idVendor"));
        const auto product = readHex16(usbDir + QStringLiteral("/idProduct"));
        if (vendor && product) {
            id.usb = true;
            id.vendor = *vendor;
            id.product = *product;
            // The directory name carries the same bus and ports; it stands in when the files
            // cannot be read.
            const auto m = usbDeviceDirName().match(QFileInfo(usbDir).fileName());
            QString busText = readAttribute(usbDir + QStringLiteral("/busnum")).value_or(QString());
            QString devpath = readAttribute(usbDir + QStringLiteral("/devpath")).value_or(QString());
            if (busText.isEmpty() || devpath.isEmpty()) {
                qCInfo(lcCapture) << node.name << "USB device without busnum/devpath; using its directory name"
                                  << usbDir;
                busText = m.captured(1);
                devpath = m.captured(2);
            }
            bool busOk = false;
            const uint bus = busText.toUInt(&busOk);
            if (busOk)
                id.locationId = usb::locationIdFromDevpath(bus, devpath.toStdString());
            id.modelUniqueID = QStringLiteral("UVC Camera VendorID_%1 ProductID_%2").arg(id.vendor).arg(id.product);
            if (id.locationId) {
                id.uniqueID
                    = QString::asprintf("0x%08x%04x%04x", *id.locationId, unsigned(id.vendor), unsigned(id.product));
            } else {
                // A location ID has room for six ports of at most 15 on a bus up to 255. Cut
                // short, the value would name some other device; this identifier names the
                // camera without claiming a location, so no USB device is matched to it.
                qCInfo(lcCapture).noquote()
                    << QStringLiteral("%1: USB chain %2-%3 cannot be expressed as a location ID")
                           .arg(node.name, busText, devpath);
                id.uniqueID = QStringLiteral("usb:%1-%2:%3:%4")
                                  .arg(busText, devpath)
                                  .arg(id.vendor, 4, 16, QLatin1Char('0'))
                                  .arg(id.product, 4, 16, QLatin1Char('0'));
            }
            id.displayName = ownName && !ownName->isEmpty()
                ? *ownName
                : readAttribute(usbDir + QStringLiteral("/product")).value_or(QString());
            if (id.displayName.isEmpty())
                id.displayName = id.modelUniqueID;
            return id;
        }
        qCInfo(lcCapture) << node.name << "USB device without a readable idVendor/idProduct:" << usbDir;
    }

    id.displayName = ownName && !ownName->isEmpty() ? *ownName : node.name;
    id.modelUniqueID = id.displayName;
    id.uniqueID = node.devicePath;
    return id;
}

std::vector<V4l2Node> listV4l2Nodes(const QString &sysfsRoot, const QString &devRoot)
{
    std::vector<V4l2Node> nodes;
    static const QRegularExpression nodeName(QStringLiteral("^video(\\d+)$"));
    const QDir classDir(sysfsRoot + QStringLiteral("/class/video4linux"));
    // The entries are symbolic links into the device tree; System lets broken ones show too, so
    // that they are reported rather than silently missing.
    const QStringList entries = classDir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        const auto m = nodeName.match(entry);
        if (!m.hasMatch())
            continue;
        V4l2Node node;
        node.name = entry;
        node.number = m.captured(1).toInt();
        node.sysfsDir = classDir.filePath(entry);
        if (!QFileInfo(node.sysfsDir).isDir()) {
            qCInfo(lcCapture) << entry << "went away while the cameras were listed";
            continue;
        }
        QString devName = ueventValue(node.sysfsDir, QStringLiteral("DEVNAME"));
        // DEVNAME is relative to /dev; anything that would climb out of it is not trusted.
        if (devName.isEmpty() || devName.contains(QStringLiteral("..")) || devName.startsWith(QLatin1Char('/')))
            devName = entry;
        node.devicePath = devRoot + QLatin1Char('/') + devName;
        node.devNumbers = readAttribute(node.sysfsDir + QStringLiteral("/dev")).value_or(QString());
        bool ok = false;
        const int index = readAttribute(node.sysfsDir + QStringLiteral("/index")).value_or(QString()).toInt(&ok);
        node.index = ok ? index : -1;
        nodes.push_back(std::move(node));
    }
    std::sort(nodes.begin(), nodes.end(), [](const V4l2Node &a, const V4l2Node &b) { return a.number < b.number; });
    return nodes;
}

std::vector<DeviceDescription> listSysfsCameras(
    const QString &sysfsRoot, const QString &devRoot, const CapabilityProbe &probe)
{
    std::vector<DeviceDescription> out;
    for (const V4l2Node &node : listV4l2Nodes(sysfsRoot, devRoot)) {
        QString why;
        const auto caps = probe ? probe(node, &why) : std::nullopt;
        if (caps) {
            if (!isVideoCaptureNode(*caps)) {
                qCInfo(lcCapture) << node.name << "is not a picture node; skipped";
                continue;
            }
        } else if (node.index > 0) {
            // Unasked, the node's place among its device's nodes decides: drivers register the
            // picture node first, and the UVC driver's metadata node after it.
            qCInfo(lcCapture).noquote() << node.name << "cannot be asked (" + why + "); skipped as a secondary node";
            continue;
        } else {
            qCInfo(lcCapture).noquote() << node.name << "cannot be asked (" + why + "); listed by its sysfs entry";
        }
        const CameraIdentity id = identifyNode(sysfsRoot, node);
        DeviceDescription d;
        d.kind = DeviceKind::V4l2Camera;
        d.displayName = id.displayName;
        d.modelUniqueID = id.modelUniqueID;
        d.uniqueID = id.uniqueID;
        d.devicePath = node.devicePath;
        // The node's own directory in the device tree, where its input device and USB parents
        // are found.
        d.sysfsPath = QFileInfo(node.sysfsDir).canonicalFilePath();
        out.push_back(std::move(d));
    }
    return out;
}

} // namespace quillora::capture
