// SPDX-License-Identifier: GPL-3.0-or-later
#include "EmulatedCamera.h"

#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

namespace quillora::test {

namespace {

constexpr const char *kVideoNode = "/sys/devices/usb1/1-4/1-4.2/1-4.2:1.0/video4linux/video0";
constexpr const char *kHubDescriptors
    = "12010002090001406b1d020000010302010109021900010100e0000904000001090000000705810304000c";
// Video control (interface 0: header, camera terminal 1, processing unit 2, extension unit 3,
// output terminal 4, interrupt endpoint 0x83), then video streaming (interface 1).
constexpr const char *kCameraDescriptors
    = "12010002ef0201400c097a0300010102000109027c0002010080fa080b00020e03000209040000010e0100020d240100014d00808d5b0"
      "001011224020101020000000000000000030000020b240502010000020100001a2406030102030405060708090a0b0c0d0e0f10010102"
      "01030009240304010100030007058303100006052503100009040100000e020000";
const std::uint8_t kReport[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

// The ioctl's argument (or what a pointer in it points to) as a T, for the span of `use`.
template <typename T, typename F> void with(UMockdevIoctlData *data, std::size_t offset, std::size_t size, F use)
{
    UMockdevIoctlData *resolved = umockdev_ioctl_data_resolve(data, offset, size, nullptr);
    use(reinterpret_cast<T *>(resolved->data), resolved);
    g_object_unref(resolved);
}

// Takes the next URB to reap, with its status, or null when the camera has nothing to say yet.
UMockdevIoctlData *nextReaped(EmulatedWire &wire, int &status)
{
    if (!wire.discarded.empty()) {
        auto *urb = wire.discarded.front();
        wire.discarded.pop_front();
        status = -ENOENT;
        return urb;
    }
    const auto it = std::find_if(
        wire.flying.begin(), wire.flying.end(), [&](const auto &f) { return f.control || wire.presses > 0; });
    if (it == wire.flying.end())
        return nullptr;
    auto *urb = it->urb;
    status = 0;
    if (!it->control) {
        --wire.presses; // one address space: the report goes straight into the caller's buffer
        std::memcpy(reinterpret_cast<usbdevfs_urb *>(urb->data)->buffer, kReport, sizeof kReport);
    }
    wire.flying.erase(it);
    return urb;
}

gboolean handleUsbfs(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer userData)
{
    auto &wire = *static_cast<EmulatedWire *>(userData);
    std::lock_guard lock(wire.mutex);
    UMockdevIoctlData *argument = umockdev_ioctl_client_get_arg(client);
    int result = 0, error = 0;
    switch (umockdev_ioctl_client_get_request(client)) {
    case USBDEVFS_GET_CAPABILITIES:
        with<guint32>(argument, 0, sizeof(guint32), [](guint32 *caps, auto) {
            *caps
                = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        });
        break;
    case USBDEVFS_CLAIMINTERFACE:
        with<unsigned>(argument, 0, sizeof(unsigned), [&](unsigned *n, auto) { wire.claims.push_back(int(*n)); });
        result = wire.claimErrno ? -1 : 0;
        error = wire.claimErrno;
        break;
    case USBDEVFS_RELEASEINTERFACE:
        with<unsigned>(argument, 0, sizeof(unsigned), [&](unsigned *n, auto) { wire.releases.push_back(int(*n)); });
        break;
    case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData *urbData = umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
        auto *urb = reinterpret_cast<usbdevfs_urb *>(urbData->data);
        const bool control = urb->type == USBDEVFS_URB_TYPE_CONTROL;
        if (control)
            with<std::uint8_t>(urbData, offsetof(usbdevfs_urb, buffer), gsize(urb->buffer_length),
                [&](std::uint8_t *bytes, auto *d) { wire.controlUrbs.emplace_back(bytes, bytes + d->data_len); });
        wire.flying.push_back({urbData, control});
        break;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
        int status = 0;
        UMockdevIoctlData *reaped = nextReaped(wire, status);
        if (!reaped) {
            result = -1;
            error = EAGAIN;
            break;
        }
        auto *urb = reinterpret_cast<usbdevfs_urb *>(reaped->data);
        urb->status = status;
        urb->actual_length = status ? 0 : urb->buffer_length - (urb->type == USBDEVFS_URB_TYPE_CONTROL ? 8 : 0);
        with<gpointer>(
            argument, 0, sizeof(gpointer), [&](auto, auto *slot) { umockdev_ioctl_data_set_ptr(slot, 0, reaped); });
        g_object_unref(reaped);
        break;
    }
    case USBDEVFS_DISCARDURB: {
        const auto address = gulong(*reinterpret_cast<void **>(argument->data));
        const auto it = std::find_if(
            wire.flying.begin(), wire.flying.end(), [&](const auto &f) { return f.urb->client_addr == address; });
        if (it == wire.flying.end()) {
            result = -1;
            error = EINVAL;
            break;
        }
        wire.discarded.push_back(it->urb);
        wire.flying.erase(it);
        break;
    }
    default:
        return FALSE;
    }
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

gboolean handleVideoNode(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer userData)
{
    auto &wire = *static_cast<EmulatedWire *>(userData);
    std::lock_guard lock(wire.mutex);
    UMockdevIoctlData *argument = umockdev_ioctl_client_get_arg(client);
    if (umockdev_ioctl_client_get_request(client) != VIDIOC_S_CTRL) {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    with<v4l2_control>(
        argument, 0, sizeof(v4l2_control), [&](v4l2_control *c, auto) { wire.videoControls.push_back(*c); });
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
}

} // namespace

EmulatedCameraBed::EmulatedCameraBed(std::string descriptors)
    : m_descriptors(descriptors.empty() ? std::string(kCameraDescriptors) : std::move(descriptors))
{
    // Without the preload nothing would be emulated and the real machine would be asked.
    if (const char *preload = std::getenv("LD_PRELOAD"); !preload || !std::strstr(preload, "libumockdev-preload")) {
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
    if (!addUsbDevice("/devices/usb1", "001", "0") || !addUsbDevice("/devices/usb1/1-4", "002", "4")
        || !addUsbDevice("/devices/usb1/1-4/1-4.2", "003", "4.2")
        || !add("P: /devices/usb1/1-4/1-4.2/1-4.2:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=uvcvideo\n"
                "A: bInterfaceNumber=00\\n\nA: bInterfaceClass=0e\\n\nA: bInterfaceSubClass=01\\n\n")
        || !add(std::string("P: ") + (kVideoNode + 4)
            + "\nN: video0\nE: SUBSYSTEM=video4linux\n"
              "E: DEVNAME=/dev/video0\nA: index=0\\n\nA: name=Quillora Document Camera\\n\n"))
        return;
    // Like the kernel's: a video node's device is the USB interface above it.
    const std::filesystem::path node = sysDir() + (kVideoNode + 4);
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
    umockdev_testbed_remove_device(m_testbed, kVideoNode);
}

void EmulatedCameraBed::denyCameraNode()
{
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    std::error_code error;
    std::filesystem::permissions(std::string(root) + "/dev/bus/usb/001/003", std::filesystem::perms::none, error);
    g_free(root);
}

bool EmulatedCameraBed::cameraNodeOpens() const
{
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    const std::string node = std::string(root) + "/dev/bus/usb/001/003";
    g_free(root);
    // With the effective user and capabilities, as open() would decide.
    return ::faccessat(AT_FDCWD, node.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
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

// The hubs at devpath 0 and 4, the cameras below them.
bool EmulatedCameraBed::addUsbDevice(const std::string &path, const std::string &devnum, const std::string &devpath)
{
    const bool hub = devpath.size() == 1;
    return add("P: " + path + "\nN: bus/usb/001/" + devnum + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
        + "E: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=" + devnum + "\nE: DEVNAME=/dev/bus/usb/001/" + devnum + "\n"
        + "A: busnum=1\\n\nA: devnum=" + std::to_string(std::stoi(devnum)) + "\\n\nA: devpath=" + devpath
        + "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\nA: product="
        + (hub ? "USB Hub" : "Quillora Document Camera")
        + "\\n\nH: descriptors=" + (hub ? std::string(kHubDescriptors) : m_descriptors) + "\n");
}

} // namespace quillora::test
