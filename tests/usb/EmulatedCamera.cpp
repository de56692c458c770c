#include "EmulatedCamera.h"

#include <linux/usb/video.h>
#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace quillora::test {

namespace {

constexpr const char *kVideoNodeDevpath = "/sys/devices/usb1/1-4/1-4.2/1-4.2:1.0/video4linux/video0";

constexpr const char *kHubDescriptors
    = "12010002090001406b1d020000010302010109021900010100e0000904000001090000000705810304000c";
// Video control (interface 0: header, camera terminal 1, processing unit 2, extension unit 3,
// output terminal 4, interrupt endpoint 0x83), then video streaming (interface 1).
constexpr const char *kCameraDescriptors
    = "12010002ef0201400c097a0300010102000109027c0002010080fa080b00020e03000209040000010e0100020d240100014d00808d5b0"
      "001011224020101020000000000000000030000020b240502010000020100001a2406030102030405060708090a0b0c0d0e0f10010102"
      "01030009240304010100030007058303100006052503100009040100000e020000";

const std::uint8_t kReport[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

gboolean handleUsbfs(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer userData)
{
    auto *wire = static_cast<EmulatedWire *>(userData);
    std::lock_guard lock(wire->mutex);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *argument = umockdev_ioctl_client_get_arg(client);

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *caps = umockdev_ioctl_data_resolve(argument, 0, sizeof(guint32), nullptr);
        *reinterpret_cast<guint32 *>(caps->data)
            = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(caps);
        return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE: {
        UMockdevIoctlData *number = umockdev_ioctl_data_resolve(argument, 0, sizeof(unsigned), nullptr);
        wire->claims.push_back(int(*reinterpret_cast<unsigned *>(number->data)));
        g_object_unref(number);
        if (wire->claimErrno)
            umockdev_ioctl_client_complete(client, -1, wire->claimErrno);
        else
            umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData *number = umockdev_ioctl_data_resolve(argument, 0, sizeof(unsigned), nullptr);
        wire->releases.push_back(int(*reinterpret_cast<unsigned *>(number->data)));
        g_object_unref(number);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData *urbData = umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
        auto *urb = reinterpret_cast<usbdevfs_urb *>(urbData->data);
        UMockdevIoctlData *buffer
            = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer), gsize(urb->buffer_length), nullptr);
        const bool control = urb->type == USBDEVFS_URB_TYPE_CONTROL;
        if (control)
            wire->controlUrbs.emplace_back(buffer->data, buffer->data + buffer->data_len);
        g_object_unref(buffer);
        wire->flying.push_back({urbData, control});
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
        UMockdevIoctlData *reaped = nullptr;
        int status = 0;
        if (!wire->discarded.empty()) {
            reaped = wire->discarded.front();
            wire->discarded.pop_front();
            status = -ENOENT;
        } else {
            for (auto it = wire->flying.begin(); it != wire->flying.end(); ++it) {
                if (it->control ? wire->controlsAnswered : wire->presses > 0) {
                    reaped = it->urb;
                    status = it->control ? wire->controlStatus : 0;
                    if (!it->control) {
                        --wire->presses;
                        auto *urb = reinterpret_cast<usbdevfs_urb *>(reaped->data);
                        // Same address space: the report goes straight into the caller's buffer.
                        std::memcpy(urb->buffer, kReport, sizeof kReport);
                    }
                    wire->flying.erase(it);
                    break;
                }
            }
        }
        if (!reaped) {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
            return TRUE;
        }
        auto *urb = reinterpret_cast<usbdevfs_urb *>(reaped->data);
        urb->status = status;
        if (status != 0)
            urb->actual_length = 0;
        else if (urb->type == USBDEVFS_URB_TYPE_CONTROL)
            urb->actual_length = urb->buffer_length - 8;
        else
            urb->actual_length = urb->buffer_length;
        UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(argument, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, reaped);
        g_object_unref(slot);
        g_object_unref(reaped);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_DISCARDURB: {
        const auto address = gulong(*reinterpret_cast<void **>(argument->data));
        for (auto it = wire->flying.begin(); it != wire->flying.end(); ++it) {
            if (it->urb->client_addr == address) {
                wire->discarded.push_back(it->urb);
                wire->flying.erase(it);
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

gboolean handleVideoNode(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer userData)
{
    auto *wire = static_cast<EmulatedWire *>(userData);
    std::lock_guard lock(wire->mutex);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *argument = umockdev_ioctl_client_get_arg(client);
    if (request == VIDIOC_S_CTRL) {
        UMockdevIoctlData *control = umockdev_ioctl_data_resolve(argument, 0, sizeof(v4l2_control), nullptr);
        wire->videoControls.push_back(*reinterpret_cast<v4l2_control *>(control->data));
        g_object_unref(control);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    if (request == UVCIOC_CTRL_QUERY) {
        UMockdevIoctlData *queryData = umockdev_ioctl_data_resolve(argument, 0, sizeof(uvc_xu_control_query), nullptr);
        const auto query = *reinterpret_cast<uvc_xu_control_query *>(queryData->data);
        UMockdevIoctlData *bytes
            = umockdev_ioctl_data_resolve(queryData, offsetof(uvc_xu_control_query, data), query.size, nullptr);
        wire->extensionQueries.push_back(
            {query.unit, query.selector, query.query, {bytes->data, bytes->data + bytes->data_len}});
        g_object_unref(bytes);
        g_object_unref(queryData);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
}

} // namespace

EmulatedCameraBed::EmulatedCameraBed()
{
    const char *preload = std::getenv("LD_PRELOAD");
    // Without the preload nothing would be emulated and the real machine would be asked.
    if (!preload || !std::strstr(preload, "libumockdev-preload")) {
        m_error = "run under umockdev-wrapper (LD_PRELOAD=libumockdev-preload.so.0), as ctest does";
        return;
    }
    m_testbed = umockdev_testbed_new();
    m_usbfs = umockdev_ioctl_base_new();
    m_video = umockdev_ioctl_base_new();
    g_signal_connect(m_usbfs, "handle-ioctl", G_CALLBACK(handleUsbfs), &wire);
    g_signal_connect(m_video, "handle-ioctl", G_CALLBACK(handleVideoNode), &wire);
    // The handlers first, so that the nodes are emulated from the moment they exist.
    if (!umockdev_testbed_attach_ioctl(m_testbed, "/dev/bus/usb/001/003", m_usbfs, nullptr)
        || !umockdev_testbed_attach_ioctl(m_testbed, "/dev/video0", m_video, nullptr)) {
        m_error = "cannot attach the ioctl handlers";
        return;
    }
    const bool added = addUsbDevice("/devices/usb1", "001", "0", kHubDescriptors, "xHCI Host Controller")
        && addUsbDevice("/devices/usb1/1-4", "002", "4", kHubDescriptors, "USB2.0 Hub")
        && addUsbDevice("/devices/usb1/1-4/1-4.2", "003", "4.2", kCameraDescriptors, "Quillora Document Camera")
        && add("P: /devices/usb1/1-4/1-4.2/1-4.2:1.0\n"
               "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=uvcvideo\n"
               "A: bInterfaceNumber=00\\n\nA: bInterfaceClass=0e\\n\nA: bInterfaceSubClass=01\\n\n")
        && add("P: /devices/usb1/1-4/1-4.2/1-4.2:1.0/video4linux/video0\n"
               "N: video0\n"
               "E: SUBSYSTEM=video4linux\nE: DEVNAME=/dev/video0\n"
               "A: index=0\\n\nA: name=Quillora Document Camera\\n\n");
    if (!added)
        return;
    // Like the kernel's: a video node's device is the USB interface above it.
    const std::filesystem::path node = sysDir() + "/devices/usb1/1-4/1-4.2/1-4.2:1.0/video4linux/video0";
    std::error_code error;
    if (!std::filesystem::exists(node / "device", error))
        std::filesystem::create_directory_symlink("../..", node / "device", error);
    if (error)
        m_error = "cannot link the video node to its interface: " + error.message();
}

EmulatedCameraBed::~EmulatedCameraBed()
{
    if (!m_testbed)
        return;
    {
        std::lock_guard lock(wire.mutex);
        for (auto &flying : wire.flying)
            g_object_unref(flying.urb);
        for (auto *urb : wire.discarded)
            g_object_unref(urb);
        wire.flying.clear();
        wire.discarded.clear();
    }
    g_object_unref(m_usbfs);
    g_object_unref(m_video);
    g_object_unref(m_testbed);
}

std::string EmulatedCameraBed::sysDir() const
{
    gchar *dir = umockdev_testbed_get_sys_dir(m_testbed);
    std::string result = dir;
    g_free(dir);
    return result;
}

void EmulatedCameraBed::removeVideoNode()
{
    umockdev_testbed_remove_device(m_testbed, kVideoNodeDevpath);
}

void EmulatedCameraBed::unplugCamera()
{
    // The kernel announces the removal while the device's attributes can still be read;
    // removing the testbed's device alone brings libusb no remove event.
    umockdev_testbed_uevent(m_testbed, "/sys/devices/usb1/1-4/1-4.2", "remove");
    umockdev_testbed_remove_device(m_testbed, kVideoNodeDevpath);
    umockdev_testbed_remove_device(m_testbed, "/sys/devices/usb1/1-4/1-4.2/1-4.2:1.0");
    umockdev_testbed_remove_device(m_testbed, "/sys/devices/usb1/1-4/1-4.2");
}

void EmulatedCameraBed::denyCameraNode()
{
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    const std::string node = std::string(root) + "/dev/bus/usb/001/003";
    g_free(root);
    std::error_code error;
    std::filesystem::permissions(node, std::filesystem::perms::none, error);
}

bool EmulatedCameraBed::plugSecondCamera()
{
    return addUsbDevice("/devices/usb1/1-4/1-4.3", "004", "4.3", kCameraDescriptors, "Quillora Document Camera");
}

bool EmulatedCameraBed::add(const std::string &description)
{
    GError *error = nullptr;
    if (umockdev_testbed_add_from_string(m_testbed, description.c_str(), &error))
        return true;
    m_error = std::string("cannot add a device: ") + (error ? error->message : "?");
    g_clear_error(&error);
    return false;
}

bool EmulatedCameraBed::addUsbDevice(const std::string &path, const std::string &devnum, const std::string &devpath,
    const std::string &descriptors, const std::string &product)
{
    return add("P: " + path + "\nN: bus/usb/001/" + devnum + "\n" + "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
        + "E: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=" + devnum + "\nE: DEVNAME=/dev/bus/usb/001/" + devnum + "\n"
        + "A: busnum=1\\n\nA: devnum=" + std::to_string(std::stoi(devnum)) + "\\n\nA: devpath=" + devpath
        + "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\nA: product=" + product + "\\n\n"
        + "H: descriptors=" + descriptors + "\n");
}

} // namespace quillora::test
