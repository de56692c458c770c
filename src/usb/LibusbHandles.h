// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The owners of libusb's C handles, one kind each, so that no path of the host can leak or
// double-free one. Private to the USB layer: nothing above src/usb includes this.
#include <libusb.h>

#include <memory>

namespace quillora::usb {

struct ContextDeleter {
    void operator()(libusb_context *context) const { libusb_exit(context); }
};
using ContextOwner = std::unique_ptr<libusb_context, ContextDeleter>;

// One reference on a device (libusb_ref_device / libusb_unref_device).
struct DeviceUnref {
    void operator()(libusb_device *device) const { libusb_unref_device(device); }
};
using DeviceRef = std::unique_ptr<libusb_device, DeviceUnref>;
inline DeviceRef refDevice(libusb_device *device)
{
    return DeviceRef(libusb_ref_device(device));
}

// The array of libusb_get_device_list, with the list's own reference on each device.
class DeviceListOwner {
public:
    DeviceListOwner() = default;
    ~DeviceListOwner()
    {
        if (m_list)
            libusb_free_device_list(m_list, 1);
    }
    DeviceListOwner(const DeviceListOwner &) = delete;
    DeviceListOwner &operator=(const DeviceListOwner &) = delete;
    libusb_device ***out() { return &m_list; }
    libusb_device *at(ssize_t i) const { return m_list[i]; }

private:
    libusb_device **m_list = nullptr;
};

struct HandleCloser {
    void operator()(libusb_device_handle *handle) const { libusb_close(handle); }
};
using HandleOwner = std::unique_ptr<libusb_device_handle, HandleCloser>;

struct ConfigDescriptorFree {
    void operator()(libusb_config_descriptor *config) const { libusb_free_config_descriptor(config); }
};
using ConfigDescriptorOwner = std::unique_ptr<libusb_config_descriptor, ConfigDescriptorFree>;

struct TransferFree {
    void operator()(libusb_transfer *transfer) const { libusb_free_transfer(transfer); }
};
using TransferOwner = std::unique_ptr<libusb_transfer, TransferFree>;

// The array of libusb_get_pollfds.
struct PollfdsFree {
    void operator()(const libusb_pollfd **pollfds) const { libusb_free_pollfds(pollfds); }
};
using PollfdsOwner = std::unique_ptr<const libusb_pollfd *, PollfdsFree>;

// A registered hot-plug callback; deregistered when the owner goes away. libusb calls
// callbacks under the same lock that deregistration takes, so none runs after the destructor.
class HotplugRegistration {
public:
    HotplugRegistration(libusb_context *context, libusb_hotplug_callback_handle handle)
        : m_context(context)
        , m_handle(handle)
    {
    }
    ~HotplugRegistration() { libusb_hotplug_deregister_callback(m_context, m_handle); }
    HotplugRegistration(const HotplugRegistration &) = delete;
    HotplugRegistration &operator=(const HotplugRegistration &) = delete;

private:
    libusb_context *m_context;
    libusb_hotplug_callback_handle m_handle;
};

} // namespace quillora::usb
