// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the libusb host: what its parts share. The host, its event source and its hot-plug
// notifications are in LibusbHost.cpp; devices, interfaces and their transfers in
// LibusbHost_device.cpp. Private to the USB layer, like LibusbHandles.h.
#include "LibusbHandles.h"
#include "LibusbHost.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace quillora::usb {

class EventSourceObject;

// What every object of one host shares.
struct HostCore {
    ContextOwner context;
    VideoDriverOpener openVideoDriver;

    std::mutex sourceMutex;              // guards `source`
    EventSourceObject *source = nullptr; // the event source's object, while there is one

    std::atomic<int> pendingAsync{0}; // reads queued and not yet completed

    libusb_context *ctx() const { return context.get(); }

    // Runs `work` on the event source's thread; false when there is no event source.
    bool post(std::function<void()> work);
    // Tells the event source that a read was queued, so that it watches for completions.
    void readQueued();
};

// Whether the host has an event source now.
bool hasEventSource(HostCore &host);

// One libusb device and, once needed, its opened handle.
struct DeviceCore {
    std::shared_ptr<HostCore> host;
    DeviceRef device;
    libusb_device_descriptor descriptor{};

    std::mutex handleMutex; // guards `handle`
    HandleOwner handle;     // opened on first need, kept until the device object goes

    UsbResult openHandle(libusb_device_handle *&out);
    // The handle when it is open already, else nullptr; opens nothing.
    libusb_device_handle *openedHandle();
    std::optional<std::uint32_t> location() const;
    // The device's directory under /sys/bus/usb/devices: "1-4.2", or "usb1" for a root hub.
    std::string sysfsName() const;
};

class LibusbDevice final : public UsbDevice, public std::enable_shared_from_this<LibusbDevice> {
public:
    explicit LibusbDevice(std::shared_ptr<DeviceCore> core)
        : m_core(std::move(core))
    {
    }

    std::uint16_t vendorId() const override { return m_core->descriptor.idVendor; }
    std::uint16_t productId() const override { return m_core->descriptor.idProduct; }

    UsbResult name(std::string &out) const override;
    UsbResult locationId(std::uint32_t &out) const override;
    UsbResult findInterfaces(
        const FindInterfaceRequest &request, std::vector<std::shared_ptr<UsbInterface>> &out) override;

    UsbResult addRemovalNotification(std::function<void()> handler, std::unique_ptr<UsbNotification> &out) override;

    const std::shared_ptr<DeviceCore> &core() const { return m_core; }

private:
    std::shared_ptr<DeviceCore> m_core;
};

// A device object for `device` of `host`: referenced, not opened.
std::shared_ptr<LibusbDevice> makeDevice(
    const std::shared_ptr<HostCore> &host, libusb_device *device, const libusb_device_descriptor &descriptor);

} // namespace quillora::usb
