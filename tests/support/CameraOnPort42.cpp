// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraOnPort42.h"

#include <cstdio>

namespace quillora::test {

namespace {

// A USB 2.0 hub's descriptors, for the root hub and hub 1-4.
constexpr const char *kHubDescriptors
    = "12010002090001406b1d020000010302010109021900010100e0000904000001090000000705810304000c";
constexpr const char *kQuilloraDescriptors
    = "12010002ef0201400c097a0300010102000109027c0002010080fa080b00020e03000209040000010e0100020d240100014d00808d5b0"
      "001011224020101020000000000000000030000020b240502010000020100001a2406030102030405060708090a0b0c0d0e0f10010102"
      "01030009240304010100030007058303100006052503100009040100000e020000";

// A USB device `devnum` on bus 1 at `devpath`, with its usbfs node; attribute values end in a
// line break, as the kernel's do.
std::string usbDevice(const std::string &path, int devnum, const std::string &devpath, const std::string &product,
    const std::string &ids, const std::string &descriptors)
{
    char number[4];
    std::snprintf(number, sizeof number, "%03d", devnum);
    return "P: " + path + "\nN: bus/usb/001/" + number + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
        + "E: BUSNUM=001\nE: DEVNUM=" + number + "\nE: DEVNAME=/dev/bus/usb/001/" + number + "\nA: busnum=1\\n\n"
        + "A: devnum=" + std::to_string(devnum) + "\\n\nA: devpath=" + devpath + "\\n\n" + ids
        + "A: bConfigurationValue=1\\n\nA: speed=480\\n\nA: product=" + product + "\\n\nH: descriptors=" + descriptors
        + "\n\n";
}

} // namespace

std::string CameraOnPort42::describe() const
{
    char ids[64];
    std::snprintf(ids, sizeof ids, "A: idVendor=090c\\n\nA: idProduct=%04x\\n\n", unsigned(product));
    std::string text = usbDevice(kRootHub, 1, "0", "xHCI Host Controller", "", kHubDescriptors)
        + usbDevice(std::string(kRootHub) + "/1-4", 2, "4", "USB2.0 Hub", "", kHubDescriptors)
        + usbDevice(kDevice, 3, "4.2", name, ids, descriptors.empty() ? kQuilloraDescriptors : descriptors);
    text += std::string("P: ") + kInterface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
        + (driverBound ? "E: DRIVER=uvcvideo\nL: driver=../../../../../../../bus/usb/drivers/uvcvideo\n" : "")
        + "A: bInterfaceNumber=00\\n\nA: bInterfaceClass=0e\\n\nA: bInterfaceSubClass=01\\n\n\n";
    return text + describeDriverDevices();
}

std::string CameraOnPort42::describeDriverDevices() const
{
    std::string text;
    for (std::size_t i = 0; i < videoNodes.size(); ++i)
        text += videoNode(kInterface, videoNodes[i], int(i), name);
    return text + describeButton();
}

std::string CameraOnPort42::describeButton() const
{
    if (button < 0)
        return {};
    return inputDevice(std::string(kInterface) + "/input/input" + std::to_string(button), button,
        "usb-0000:00:14.0-4.2/button", kCameraKey);
}

std::string CameraOnPort42::videoNode(const std::string &parent, int number, int index, const std::string &name)
{
    const std::string n = std::to_string(number);
    return "P: " + parent + "/video4linux/video" + n + "\nN: video" + n
        + "\nE: SUBSYSTEM=video4linux\nE: DEVNAME=/dev/video" + n + "\nA: name=" + name
        + "\\n\nA: index=" + std::to_string(index) + "\\n\nA: dev=81:" + n + "\\n\nL: device=../..\n\n";
}

std::string CameraOnPort42::inputDevice(const std::string &path, int number, const std::string &phys, const char *keys)
{
    const std::string n = std::to_string(number);
    return "P: " + path + "\nE: SUBSYSTEM=input\nA: name=UVC Camera (090c:037a)\\n\nA: phys=" + phys
        + "\\n\nA: capabilities/key=" + keys + "\\n\n\nP: " + path + "/event" + n + "\nN: input/event" + n
        + "\nE: DEVNAME=/dev/input/event" + n + "\nE: SUBSYSTEM=input\nA: dev=13:" + std::to_string(64 + number)
        + "\\n\n\n";
}

} // namespace quillora::test
