// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraInputDevice.h"

#include "LocationId.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace quillora::listener {

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, without its line feed; nothing when unreadable.
std::optional<std::string> readAttribute(const fs::path &path)
{
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::string line;
    std::getline(in, line);
    return line;
}

std::optional<unsigned long> readNumber(const fs::path &path, int base)
{
    const auto text = readAttribute(path);
    if (!text || text->empty())
        return std::nullopt;
    char *end = nullptr;
    const unsigned long value = std::strtoul(text->c_str(), &end, base);
    if (end == text->c_str())
        return std::nullopt;
    return value;
}

// Symlinks resolved, so that the same directory reached two ways compares equal.
std::string resolved(const fs::path &path)
{
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    return ec ? std::string() : real.string();
}

std::vector<fs::path> entries(const fs::path &dir)
{
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        out.push_back(it->path());
    std::sort(out.begin(), out.end()); // the same choice at every call
    return out;
}

bool startsWith(const std::string &text, std::string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The USB device directory of the camera: the one whose bus number and port chain give its
// location ID, of the same vendor and product.
std::optional<fs::path> findUsbDevice(const CameraUsbInterface &camera, const fs::path &sysRoot)
{
    for (const fs::path &entry : entries(sysRoot / "bus/usb/devices")) {
        const std::string name = entry.filename().string();
        if (name.find(':') != std::string::npos || startsWith(name, "usb"))
            continue; // interfaces and root hubs
        const auto bus = readNumber(entry / "busnum", 10);
        const auto devpath = readAttribute(entry / "devpath");
        if (!bus || !devpath)
            continue;
        const auto location = usb::locationIdFromDevpath(unsigned(*bus), *devpath);
        if (!location || *location != camera.locationId)
            continue;
        const auto vendor = readNumber(entry / "idVendor", 16);
        const auto product = readNumber(entry / "idProduct", 16);
        if (vendor && product && (*vendor != camera.vendorId || *product != camera.productId))
            continue;
        return entry;
    }
    return std::nullopt;
}

// The interface directory "<device>:<configuration>.<number>" of the given number.
std::optional<fs::path> findInterface(const fs::path &usbDevice, std::uint8_t number)
{
    const std::string prefix = usbDevice.filename().string() + ":";
    for (const fs::path &entry : entries(usbDevice)) {
        if (!startsWith(entry.filename().string(), prefix))
            continue;
        const auto value = readNumber(entry / "bInterfaceNumber", 16);
        if (value && *value == number)
            return entry;
    }
    return std::nullopt;
}

// What the video driver gives its input device as `phys`: the USB path the kernel also reports
// as the video node's bus_info ("usb-<host controller>-<devpath>"), plus "/button".
std::optional<std::string> buttonPhys(const fs::path &usbDevice, const fs::path &sysRoot)
{
    const auto bus = readNumber(usbDevice / "busnum", 10);
    const auto devpath = readAttribute(usbDevice / "devpath");
    if (!bus || !devpath)
        return std::nullopt;
    const std::string rootHub = resolved(sysRoot / "bus/usb/devices" / ("usb" + std::to_string(*bus)));
    if (rootHub.empty())
        return std::nullopt;
    const std::string controller = fs::path(rootHub).parent_path().filename().string();
    return "usb-" + controller + "-" + *devpath + "/button";
}

// The device an input device belongs to: its `device` link, or else the directory it lies in
// (an input device lives in "<parent>/input/inputN").
std::string parentDevice(const fs::path &input)
{
    std::string parent = resolved(input / "device");
    if (!parent.empty())
        return parent;
    const std::string self = resolved(input);
    if (self.empty())
        return {};
    fs::path dir = fs::path(self).parent_path();
    if (dir.filename() == "input")
        dir = dir.parent_path();
    return dir.string();
}

} // namespace

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

CameraButtonLookup findCameraButton(
    const CameraUsbInterface &camera, const std::string &sysRoot, const std::string &devRoot)
{
    CameraButtonLookup out;
    const fs::path sys(sysRoot);
    const auto usbDevice = findUsbDevice(camera, sys);
    if (!usbDevice) {
        out.why = "no USB device at this location in sysfs";
        return out;
    }
    out.usbDeviceDir = usbDevice->string();
    const auto interface = findInterface(*usbDevice, camera.interfaceNumber);
    if (!interface) {
        out.why = "the USB device has no interface " + std::to_string(camera.interfaceNumber) + " in sysfs";
        return out;
    }
    out.interfaceDir = interface->string();
    std::error_code ec;
    out.driverBound = fs::exists(fs::symlink_status(*interface / "driver", ec));

    const std::string interfaceReal = resolved(*interface);
    const auto phys = buttonPhys(*usbDevice, sys);
    for (const fs::path &input : entries(sys / "class/input")) {
        if (!startsWith(input.filename().string(), "input"))
            continue;
        const std::string parent = parentDevice(input);
        const auto inputPhys = readAttribute(input / "phys");
        const bool underInterface = !interfaceReal.empty() && parent == interfaceReal;
        const bool samePhys = phys && inputPhys && *inputPhys == *phys;
        if (!underInterface && !samePhys)
            continue;
        const auto keys = readAttribute(input / "capabilities/key");
        if (!keys || !capabilityHasBit(*keys, KEY_CAMERA))
            continue;
        for (const fs::path &child : entries(input)) {
            const std::string childName = child.filename().string();
            if (!startsWith(childName, "event"))
                continue;
            out.inputDir = input.string();
            out.eventNode = (fs::path(devRoot) / "input" / childName).string();
            return out;
        }
    }
    out.why = "the kernel made no input device with KEY_CAMERA for this camera";
    return out;
}

} // namespace quillora::listener
