// SPDX-License-Identifier: GPL-3.0-or-later
#include "EmulatedCamera.h"

#include "CameraOnPort42.h"

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

const std::string kVideoNode = std::string(CameraOnPort42::kInterface) + "/video4linux/video0";
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
{
    // Without the preload nothing would be emulated and the real machine would be asked.
    m_machine.emplace();
    if (!umockdev_in_mock_environment()) {
        m_machine.reset();
        m_error = "run under umockdev-wrapper (LD_PRELOAD=libumockdev-preload.so.0), as ctest does";
        return;
    }
    m_usbfs = umockdev_ioctl_base_new();
    m_video = umockdev_ioctl_base_new();
    g_signal_connect(m_usbfs, "handle-ioctl", G_CALLBACK(handleUsbfs), &wire);
    g_signal_connect(m_video, "handle-ioctl", G_CALLBACK(handleVideoNode), &wire);
    // The handlers first, so that the nodes are emulated from the moment they exist.
    if (!umockdev_testbed_attach_ioctl(m_machine->testbed(), "/dev/bus/usb/001/003", m_usbfs, nullptr)
        || !umockdev_testbed_attach_ioctl(m_machine->testbed(), "/dev/video0", m_video, nullptr)) {
        m_error = "cannot attach the ioctl handlers";
        return;
    }
    // No driver bound in sysfs: the listener reads the status pipe itself; the video node stays
    // for the video driver's road.
    const CameraOnPort42 camera{0x037a, "Quillora Document Camera", std::move(descriptors), false, {0}, -1};
    if (!m_machine->add(camera.describe()))
        m_error = "cannot add the camera";
}

EmulatedCameraBed::~EmulatedCameraBed()
{
    if (!m_machine)
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
    m_machine.reset();
    g_object_unref(m_usbfs);
    g_object_unref(m_video);
}

void EmulatedCameraBed::removeVideoNode()
{
    umockdev_testbed_remove_device(m_machine->testbed(), ("/sys" + kVideoNode).c_str());
}

void EmulatedCameraBed::denyCameraNode()
{
    std::error_code error;
    std::filesystem::permissions(m_machine->devRoot() + "/bus/usb/001/003", std::filesystem::perms::none, error);
}

bool EmulatedCameraBed::cameraNodeOpens() const
{
    // With the effective user and capabilities, as open() would decide.
    return ::faccessat(AT_FDCWD, (m_machine->devRoot() + "/bus/usb/001/003").c_str(), R_OK | W_OK, AT_EACCESS) == 0;
}

} // namespace quillora::test
