// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraRecord.h"

#include "LocationId.h"
#include "Sysfs.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace quillora::devices {

namespace {

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string fileName(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parentDir(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool exists(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

// The kernel names a USB device (not a root hub, not an interface) "<bus>-<port>[.<port>…]";
// `bus` and `chain` are its two parts.
bool isUsbDeviceName(const std::string &name, std::string *bus = nullptr, std::string *chain = nullptr)
{
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == name.size())
        return false;
    const auto digits = [](std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(std::string_view(name).substr(0, dash)))
        return false;
    std::string_view rest = std::string_view(name).substr(dash + 1);
    for (std::size_t dot; (dot = rest.find('.')) != std::string_view::npos; rest.remove_prefix(dot + 1))
        if (!digits(rest.substr(0, dot)))
            return false;
    if (!digits(rest))
        return false;
    if (bus)
        *bus = name.substr(0, dash);
    if (chain)
        *chain = name.substr(dash + 1);
    return true;
}

std::optional<std::uint16_t> readHex16(const std::string &path)
{
    const auto text = readSysfsAttribute(path);
    if (!text || text->empty() || text->size() > 4)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value, 16);
    if (error != std::errc() || end != text->data() + text->size())
        return std::nullopt;
    return std::uint16_t(value);
}

// The USB device directory above the node, or empty when the node does not sit on USB.
std::string usbDeviceDirOf(const SysfsRoots &roots, const std::string &deviceDir)
{
    if (deviceDir.empty())
        return {};
    const std::string root = canonicalPath(roots.sys);
    std::string dir = deviceDir;
    // Bounded: sysfs trees are shallow, and a broken tree must not keep us walking.
    for (int depth = 0; depth < 64; ++depth) {
        const std::string name = fileName(dir);
        if (isUsbDeviceName(name))
            return dir;
        if (startsWith(name, "usb") || dir == root || dir == "/")
            break;
        dir = parentDir(dir);
    }
    return {};
}

// The node's `device` link resolved: its interface for a USB camera.
std::string nodeDeviceDir(const VideoNode &node)
{
    return canonicalPath(node.sysfsDir + "/device");
}

// The interfaces "<device>:<configuration>.<number>" of a USB device, in number order.
std::vector<UsbInterfaceDir> interfacesOf(const std::string &usbDeviceDir)
{
    std::vector<UsbInterfaceDir> out;
    const std::string prefix = fileName(usbDeviceDir) + ":";
    for (const std::string &name : directoryEntries(usbDeviceDir)) {
        if (!startsWith(name, prefix))
            continue;
        const std::string dir = usbDeviceDir + "/" + name;
        if (const auto number = readSysfsUnsigned(dir + "/bInterfaceNumber", 16))
            out.push_back({*number, dir});
    }
    std::stable_sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return a.number < b.number; });
    return out;
}

std::string controlInterfaceOf(const CameraRecord &record)
{
    if (record.node && parentDir(record.nodeDir) == record.usbDeviceDir)
        return record.nodeDir;
    for (const UsbInterfaceDir &interface : record.interfaces) {
        // Class 14 (video), subclass 1 (control): where the video driver binds.
        if (readSysfsUnsigned(interface.sysfsDir + "/bInterfaceClass", 16) == 0x0Eu
            && readSysfsUnsigned(interface.sysfsDir + "/bInterfaceSubClass", 16) == 0x01u)
            return interface.sysfsDir;
    }
    return record.interfaces.empty() ? std::string() : record.interfaces.front().sysfsDir;
}

// What the video driver gives its input device as `phys`: the USB path the kernel also reports
// as the video node's bus_info ("usb-<host controller>-<devpath>"), plus "/button".
std::optional<std::string> buttonPhys(const SysfsRoots &roots, const std::string &usbDeviceDir)
{
    const auto bus = readSysfsUnsigned(usbDeviceDir + "/busnum");
    const auto devpath = readSysfsAttribute(usbDeviceDir + "/devpath");
    if (!bus || !devpath)
        return std::nullopt;
    const std::string rootHub = canonicalPath(roots.sys + "/bus/usb/devices/usb" + std::to_string(*bus));
    if (rootHub.empty())
        return std::nullopt;
    return "usb-" + fileName(parentDir(rootHub)) + "-" + *devpath + "/button";
}

// The device an input device belongs to: its `device` link, or else the directory it lies in
// (an input device lives in "<parent>/input/inputN").
std::string inputParent(const std::string &input)
{
    std::string parent = canonicalPath(input + "/device");
    if (!parent.empty())
        return parent;
    const std::string self = canonicalPath(input);
    if (self.empty())
        return {};
    std::string dir = parentDir(self);
    if (fileName(dir) == "input")
        dir = parentDir(dir);
    return dir;
}

// The input device below the control interface, or elsewhere with the button's `phys`, that
// reports KEY_CAMERA.
std::optional<ButtonInput> findButton(const SysfsRoots &roots, const CameraRecord &record)
{
    const std::string interfaceReal = canonicalPath(record.controlInterfaceDir);
    const auto phys = buttonPhys(roots, record.usbDeviceDir);
    const std::string classDir = roots.sys + "/class/input";
    for (const std::string &name : directoryEntries(classDir)) {
        if (!startsWith(name, "input"))
            continue;
        const std::string input = classDir + "/" + name;
        const auto inputPhys = readSysfsAttribute(input + "/phys");
        const bool underInterface = !interfaceReal.empty() && inputParent(input) == interfaceReal;
        const bool samePhys = phys && inputPhys && *inputPhys == *phys;
        if (!underInterface && !samePhys)
            continue;
        const auto keys = readSysfsAttribute(input + "/capabilities/key");
        if (!keys || !capabilityHasBit(*keys, KEY_CAMERA))
            continue;
        for (const std::string &child : directoryEntries(input)) {
            if (startsWith(child, "event"))
                return ButtonInput{input, roots.dev + "/input/" + child};
        }
    }
    return std::nullopt;
}

// Everything the USB device tells: identity, location, nodes, interfaces, button.
void resolveUsb(const SysfsRoots &roots, const std::vector<VideoNode> &nodes, CameraRecord &record)
{
    const std::string &dir = record.usbDeviceDir;
    const auto vendor = readHex16(dir + "/idVendor");
    const auto product = readHex16(dir + "/idProduct");
    record.usb = vendor && product;
    record.vendor = vendor.value_or(0);
    record.product = product.value_or(0);
    record.busText = readSysfsAttribute(dir + "/busnum").value_or(std::string());
    record.devpath = readSysfsAttribute(dir + "/devpath").value_or(std::string());
    if (record.busText.empty() || record.devpath.empty()) {
        // The directory name carries the same bus and ports.
        record.chainFromDirName = true;
        isUsbDeviceName(fileName(dir), &record.busText, &record.devpath);
    }
    unsigned bus = 0;
    const char *busEnd = record.busText.data() + record.busText.size();
    const auto [end, error] = std::from_chars(record.busText.data(), busEnd, bus);
    if (error == std::errc() && end == busEnd)
        record.locationId = locationIdFromDevpath(bus, record.devpath);
    record.productName = readSysfsAttribute(dir + "/product");

    for (const VideoNode &node : nodes)
        if (usbDeviceDirOf(roots, nodeDeviceDir(node)) == dir)
            record.videoNodes.push_back(node);
    std::stable_sort(record.videoNodes.begin(), record.videoNodes.end(), [](const VideoNode &a, const VideoNode &b) {
        const unsigned ia = a.index < 0 ? ~0u : unsigned(a.index), ib = b.index < 0 ? ~0u : unsigned(b.index);
        return ia != ib ? ia < ib : a.name < b.name;
    });
    record.interfaces = interfacesOf(dir);
    record.controlInterfaceDir = controlInterfaceOf(record);
    record.button = findButton(roots, record);
}

} // namespace

std::vector<VideoNode> listVideoNodes(const SysfsRoots &roots, std::vector<std::string> *vanished)
{
    std::vector<VideoNode> nodes;
    const std::string classDir = roots.sys + "/class/video4linux";
    // The entries are symbolic links into the device tree; broken ones are listed too, so that
    // they are reported rather than silently missing.
    for (const std::string &entry : directoryEntries(classDir)) {
        if (!startsWith(entry, "video") || entry.size() == 5
            || !std::all_of(entry.begin() + 5, entry.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        VideoNode node;
        node.name = entry;
        node.number = 0;
        std::from_chars(entry.data() + 5, entry.data() + entry.size(), node.number);
        node.sysfsDir = classDir + "/" + entry;
        if (canonicalPath(node.sysfsDir).empty() || !exists(node.sysfsDir + "/.")) {
            if (vanished)
                vanished->push_back(entry);
            continue;
        }
        std::string devName = ueventValue(node.sysfsDir + "/uevent", "DEVNAME");
        // DEVNAME is relative to /dev; anything that would climb out of it is not trusted.
        if (devName.empty() || devName.find("..") != std::string::npos || devName.front() == '/')
            devName = entry;
        node.devicePath = roots.dev + "/" + devName;
        node.devNumbers = readSysfsAttribute(node.sysfsDir + "/dev").value_or(std::string());
        const auto indexText = readSysfsAttribute(node.sysfsDir + "/index").value_or(std::string());
        int index = -1;
        const auto [end, error] = std::from_chars(indexText.data(), indexText.data() + indexText.size(), index);
        node.index = error == std::errc() && end == indexText.data() + indexText.size() ? index : -1;
        nodes.push_back(std::move(node));
    }
    std::stable_sort(
        nodes.begin(), nodes.end(), [](const VideoNode &a, const VideoNode &b) { return a.number < b.number; });
    return nodes;
}

CameraRecord resolveCamera(const SysfsRoots &roots, const VideoNode &node, const std::vector<VideoNode> &nodes)
{
    CameraRecord record;
    record.node = node;
    record.nodeDir = canonicalPath(node.sysfsDir);
    record.nodeName = readSysfsAttribute(node.sysfsDir + "/name");
    const std::string device = nodeDeviceDir(node);
    record.hasParentDevice = !device.empty();
    record.usbDeviceDir = usbDeviceDirOf(roots, device);
    if (!record.usbDeviceDir.empty())
        resolveUsb(roots, nodes, record);
    return record;
}

std::optional<CameraRecord> resolveCameraAt(const SysfsRoots &roots, std::uint32_t locationId)
{
    const std::string devicesDir = roots.sys + "/bus/usb/devices";
    for (const std::string &name : directoryEntries(devicesDir)) {
        if (name.find(':') != std::string::npos || startsWith(name, "usb"))
            continue; // interfaces and root hubs
        const std::string entry = devicesDir + "/" + name;
        const auto bus = readSysfsUnsigned(entry + "/busnum");
        const auto devpath = readSysfsAttribute(entry + "/devpath");
        if (!bus || !devpath || locationIdFromDevpath(*bus, *devpath) != locationId)
            continue;
        CameraRecord record;
        record.usbDeviceDir = canonicalPath(entry);
        if (record.usbDeviceDir.empty())
            continue;
        resolveUsb(roots, listVideoNodes(roots), record);
        return record;
    }
    return std::nullopt;
}

bool recordStillCurrent(const CameraRecord &record)
{
    if (!record.usbDeviceDir.empty() && !exists(record.usbDeviceDir))
        return false;
    for (const VideoNode &node : record.videoNodes)
        if (!exists(node.sysfsDir))
            return false;
    return !record.button || exists(record.button->sysfsDir);
}

bool capabilityHasBit(const std::string &text, unsigned bit)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    constexpr unsigned kWordBits = sizeof(unsigned long) * 8;
    const std::size_t index = bit / kWordBits; // counted from the last word
    if (index >= words.size())
        return false;
    const std::string &word = words[words.size() - 1 - index];
    char *end = nullptr;
    const unsigned long value = std::strtoul(word.c_str(), &end, 16);
    if (end == word.c_str())
        return false;
    return (value >> (bit % kWordBits)) & 1UL;
}

} // namespace quillora::devices
