// SPDX-License-Identifier: GPL-3.0-or-later
// The sysfs attributes a camera is known by: the V4L2 node's `name`, `uevent`, `dev` and `index`,
// its USB device's `idVendor`, `idProduct`, `busnum`, `devpath` and `product`, its interface's
// `bInterfaceNumber`, and the `phys` and `capabilities/key` of the button's input device. Each
// input is written as such a tree (one camera on USB, bound to its driver, with a button), which
// the camera list, the video driver road and the button lookup all read.
//
// Input: the attribute texts in the order of kFields, separated by 0x1E; a text of one 0x1F
// byte leaves the file out, and fields missing at the end are left out too.
#include "FuzzSupport.h"

#include "AttachedCameras.h"
#include "CameraInputDevice.h"
#include "LocationId.h"
#include "SysfsCamera.h"
#include "VideoDriverRoad.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <fstream>
#include <regex>

using namespace quillora;
namespace fs = std::filesystem;

namespace {

enum Field {
    UsbDirName, // the USB device's directory name ("1-4.2"), as the kernel names it
    IdVendor,
    IdProduct,
    BusNum,
    DevPath,
    Product,
    NodeName,
    NodeUevent,
    NodeDev,
    NodeIndex,
    InterfaceNumber,
    InputPhys,
    InputKeys,
    FieldCount
};

struct Fields {
    std::optional<std::string> text[FieldCount];
};

Fields split(const std::uint8_t *data, std::size_t size)
{
    Fields out;
    std::string_view rest(reinterpret_cast<const char *>(data), size);
    for (int i = 0; i < FieldCount; ++i) {
        const std::size_t end = rest.find('\x1e');
        const std::string_view field = rest.substr(0, end);
        if (field != "\x1f")
            out.text[i] = std::string(field);
        if (end == std::string_view::npos)
            break;
        rest = rest.substr(end + 1);
    }
    return out;
}

void writeFile(const fs::path &path, const std::optional<std::string> &text)
{
    if (!text)
        return;
    std::ofstream out(path, std::ios::binary);
    out.write(text->data(), std::streamsize(text->size()));
}

// A directory name the kernel could have made: no slash, no NUL, not "." or "..", not empty.
std::string directoryName(const std::optional<std::string> &text)
{
    std::string name = text.value_or("1-4");
    for (char &c : name)
        if (c == '/' || c == '\0')
            c = '_';
    if (name.empty() || name == "." || name == "..")
        name = "x" + name;
    return name.substr(0, 200);
}

// Attribute texts as the kernel writes them, where the two readers of the same attribute must
// agree.
bool kernelShaped(const Fields &f)
{
    static const std::regex number("[0-9]{1,3}\n?");
    static const std::regex chain("(0|[1-9][0-9]{0,2}(\\.[1-9][0-9]{0,2})*)\n?");
    static const std::regex hex16("[0-9a-f]{4}\n?");
    static const std::regex dirName("[0-9]+-[0-9]+(\\.[0-9]+)*");
    return f.text[BusNum] && std::regex_match(*f.text[BusNum], number) && f.text[DevPath]
        && std::regex_match(*f.text[DevPath], chain) && f.text[IdVendor] && std::regex_match(*f.text[IdVendor], hex16)
        && f.text[IdProduct] && std::regex_match(*f.text[IdProduct], hex16) && f.text[UsbDirName]
        && std::regex_match(*f.text[UsbDirName], dirName);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietQt();
    fuzz::application();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const fs::path scratch = fuzz::scratchDir("sysfs");
    const Fields f = split(data, size);
    const fs::path root = scratch / "sys";
    const fs::path dev = scratch / "dev";
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::remove_all(dev, ec);

    const std::string usbName = directoryName(f.text[UsbDirName]);
    const fs::path hub = root / "devices/pci0000:00/0000:00:14.0/usb1";
    const fs::path usbDevice = hub / usbName;
    const fs::path interface = usbDevice / (usbName + ":1.0");
    const fs::path node = interface / "video4linux/video0";
    const fs::path input = interface / "input/input7";
    fs::create_directories(node);
    fs::create_directories(input / "capabilities");
    fs::create_directories(input / "event7");
    fs::create_directories(root / "bus/usb/drivers/uvcvideo");
    fs::create_directories(root / "bus/usb/devices");
    fs::create_directories(root / "class/video4linux");
    fs::create_directories(root / "class/input");
    fs::create_directories(dev / "input");
    writeFile(hub / "busnum", std::string("1\n"));
    writeFile(hub / "devpath", std::string("0\n"));
    writeFile(usbDevice / "idVendor", f.text[IdVendor]);
    writeFile(usbDevice / "idProduct", f.text[IdProduct]);
    writeFile(usbDevice / "busnum", f.text[BusNum]);
    writeFile(usbDevice / "devpath", f.text[DevPath]);
    writeFile(usbDevice / "product", f.text[Product]);
    writeFile(node / "name", f.text[NodeName]);
    writeFile(node / "uevent", f.text[NodeUevent]);
    writeFile(node / "dev", f.text[NodeDev]);
    writeFile(node / "index", f.text[NodeIndex]);
    writeFile(interface / "bInterfaceNumber", f.text[InterfaceNumber]);
    writeFile(input / "phys", f.text[InputPhys]);
    writeFile(input / "capabilities/key", f.text[InputKeys]);
    fs::create_directory_symlink("../..", node / "device", ec);
    fs::create_directory_symlink(fs::relative(root / "bus/usb/drivers/uvcvideo", interface), interface / "driver", ec);
    fs::create_directory_symlink(fs::relative(node, root / "class/video4linux"), root / "class/video4linux/video0", ec);
    fs::create_directory_symlink(fs::relative(input, root / "class/input"), root / "class/input/input7", ec);
    fs::create_directory_symlink(
        fs::relative(usbDevice, root / "bus/usb/devices"), root / "bus/usb/devices" / usbName, ec);
    fs::create_directory_symlink(fs::relative(hub, root / "bus/usb/devices"), root / "bus/usb/devices/usb1", ec);

    // The camera list.
    const devices::SysfsRoots roots{root.string(), dev.string()};
    const auto nodes = devices::listVideoNodes(roots);
    fuzz::check(nodes.size() == 1, "the node is not listed");
    const devices::VideoNode &v = nodes.front();
    // DEVNAME never takes the device path out of the device folder.
    fuzz::check(v.devicePath.rfind(roots.dev + "/", 0) == 0 && v.devicePath.find("..") == std::string::npos,
        "device path outside the device folder");
    // The driver road opens the device file the record names (the node's DEVNAME, as the camera
    // list does); a plain file stands in for the device.
    fs::create_directories(fs::path(v.devicePath).parent_path(), ec);
    writeFile(v.devicePath, std::string());
    const bool deviceFileMade = fs::is_regular_file(v.devicePath, ec);
    const devices::CameraRecord record = devices::resolveCamera(roots, v, nodes);
    const capture::CameraIdentity id = capture::identifyCamera(record);
    fuzz::check(!id.displayName.isEmpty(), "a camera without a name");
    fuzz::check(!id.uniqueID.isEmpty() && !id.modelUniqueID.isEmpty(), "a camera without an identifier");
    const QString sysRoot = QString::fromStdString(roots.sys);
    const QString devRoot = QString::fromStdString(roots.dev);
    const auto cameras = capture::listSysfsCameras(sysRoot, devRoot,
        [](const devices::VideoNode &, QString *) { return std::optional<capture::NodeCapabilities>(); });
    fuzz::check(cameras.size() <= 1, "one node listed twice");

    // The location ID the controller reads back from the identifier is the one the camera has.
    const std::uint32_t readBack = devices::locationIdFromUniqueId(
        std::u16string_view(QStringView(id.uniqueID).utf16(), std::size_t(id.uniqueID.size())));
    if (id.locationId)
        fuzz::check(readBack == *id.locationId, "the identifier carries another location");
    else
        fuzz::check(readBack == 0 || !id.usb, "a USB camera without a location whose identifier claims one");

    // Resolved from its USB location, the camera is the same record: same device, nodes, button.
    const std::uint32_t location = id.locationId.value_or(0);
    if (id.locationId && kernelShaped(f)) {
        const auto byLocation = devices::resolveCameraAt(roots, location);
        fuzz::check(byLocation.has_value(), "the camera is not found at its location");
        if (byLocation) {
            fuzz::check(byLocation->usbDeviceDir == record.usbDeviceDir, "another USB device at the location");
            fuzz::check(byLocation->videoNodes.size() == record.videoNodes.size(), "other nodes at the location");
            fuzz::check(byLocation->button.has_value() == record.button.has_value()
                    && (!record.button || byLocation->button->eventNode == record.button->eventNode),
                "another button at the location");
        }
    }

    // The USB side takes the camera's video node and button from the record the list published.
    std::unique_ptr<usb::VideoDriverControl> road;
    const usb::UsbResult roadResult = usb::openVideoDriverControl(location, road, roots.sys, roots.dev);
    const listener::CameraButtonLookup button
        = listener::attachedCameraButton({location, id.vendor, id.product, 0}, roots);
    if (id.locationId && kernelShaped(f)) {
        fuzz::check(
            roadResult == usb::kUsbSuccess || !deviceFileMade, "the video driver road misses the camera's node");
        fuzz::check(!button.usbDeviceDir.empty(), "the button lookup misses the camera's USB device");
    }
    if (!button.eventNode.empty())
        fuzz::check(button.eventNode == (dev / "input/event7").string(), "an event node that is not the button's");
    return 0;
}
