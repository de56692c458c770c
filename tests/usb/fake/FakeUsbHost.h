// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A USB host for tests: made-up devices, control requests recorded as they reached the wire, reads
// completed and devices unplugged when the test says. Completions run on the event source's thread.
#include "HandOff.h"
#include "UsbHost.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace quillora::usb::fake {

struct WireTransfer {
    std::uint32_t locationId = 0;
    std::array<std::uint8_t, 8> setup{};
    std::vector<std::uint8_t> data; // of a host-to-device request
};

class FakeUsbDevice;

// What every object of one fake host shares; `mutex` guards it and the objects' own state.
struct FakeBus {
    std::mutex mutex;
    Mailbox *source = nullptr;
    std::vector<WireTransfer> wire;
    std::vector<std::shared_ptr<FakeUsbDevice>> devices;
    struct Watch {
        std::atomic<bool> alive{true};
        std::function<void()> removed;
        const void *device = nullptr;
    };
    std::vector<std::shared_ptr<Watch>> watches;

    void postLocked(std::function<void()> work)
    {
        if (source)
            source->post(std::move(work));
    }
};

class FakeNotification final : public UsbNotification {
public:
    FakeNotification(std::shared_ptr<FakeBus> bus, std::shared_ptr<FakeBus::Watch> watch)
        : m_bus(std::move(bus))
        , m_watch(std::move(watch))
    {
        std::lock_guard lock(m_bus->mutex);
        m_bus->watches.push_back(m_watch);
    }
    ~FakeNotification() override
    {
        m_watch->alive = false;
        std::lock_guard lock(m_bus->mutex);
        std::erase(m_bus->watches, m_watch);
    }

private:
    std::shared_ptr<FakeBus> m_bus;
    std::shared_ptr<FakeBus::Watch> m_watch;
};

class FakeUsbInterface final : public UsbInterface {
public:
    FakeUsbInterface(std::shared_ptr<FakeBus> bus, std::weak_ptr<UsbDevice> device, std::uint8_t number,
        std::uint8_t cls, std::uint8_t subClass)
        : m_bus(std::move(bus))
        , m_device(std::move(device))
        , m_number(number)
        , m_class(cls)
        , m_subClass(subClass)
    {
    }

    std::uint8_t interfaceNumber() const override { return m_number; }
    std::uint8_t alternateSetting() const override { return 0; }
    std::uint8_t interfaceClass() const override { return m_class; }
    std::uint8_t interfaceSubClass() const override { return m_subClass; }
    std::uint8_t interfaceProtocol() const override { return 0; }
    std::shared_ptr<UsbDevice> device() const override { return m_device.lock(); }
    bool isOpen() const override
    {
        std::lock_guard lock(m_bus->mutex);
        return m_open;
    }
    UsbResult open() override
    {
        std::lock_guard lock(m_bus->mutex);
        ++m_openCount;
        if (m_gone)
            return kUsbErrorNoDevice;
        m_open = true;
        return kUsbSuccess;
    }
    UsbResult close() override
    {
        endReads(kUsbErrorInterrupted, false);
        return kUsbSuccess;
    }
    UsbResult controlRequest(DevRequest &request) override
    {
        request.wLenDone = 0;
        WireTransfer transfer{0, setupPacket(request), {}};
        if (const auto owner = m_device.lock())
            owner->locationId(transfer.locationId);
        if (!(request.bmRequestType & 0x80) && request.wLength > 0) {
            const auto *bytes = static_cast<const std::uint8_t *>(request.pData);
            transfer.data.assign(bytes, bytes + request.wLength);
        }
        std::lock_guard lock(m_bus->mutex);
        if (m_gone)
            return kUsbErrorNoDevice;
        m_bus->wire.push_back(std::move(transfer));
        request.wLenDone = request.wLength;
        return kUsbSuccess;
    }
    UsbResult readPipeAsync(std::uint8_t pipeRef, std::span<std::uint8_t> buffer, ReadCompletion completion) override
    {
        std::lock_guard lock(m_bus->mutex);
        if (pipeRef != 1 || !completion)
            return kUsbErrorInvalidParam;
        if (m_gone || !m_open || !m_bus->source)
            return m_gone ? kUsbErrorNoDevice : kUsbErrorBusy;
        m_pending.push_back({buffer, std::move(completion)});
        return kUsbSuccess;
    }

    std::size_t pendingReads() const
    {
        std::lock_guard lock(m_bus->mutex);
        return m_pending.size();
    }
    int openCount() const { return m_openCount; }
    // Completes the oldest pending read with `data` in its buffer; false when none is pending.
    bool completeRead(UsbResult result, std::span<const std::uint8_t> data = {})
    {
        PendingRead read;
        {
            std::lock_guard lock(m_bus->mutex);
            if (m_pending.empty())
                return false;
            read = std::move(m_pending.front());
            m_pending.erase(m_pending.begin());
        }
        deliver(std::move(read), result, data);
        return true;
    }
    void endReads(UsbResult result, bool gone)
    {
        std::vector<PendingRead> ended;
        {
            std::lock_guard lock(m_bus->mutex);
            m_gone = m_gone || gone;
            m_open = false;
            ended.swap(m_pending);
        }
        for (auto &read : ended)
            deliver(std::move(read), result, {});
    }

private:
    struct PendingRead {
        std::span<std::uint8_t> buffer;
        ReadCompletion completion;
    };
    void deliver(PendingRead read, UsbResult result, std::span<const std::uint8_t> data)
    {
        const std::size_t length = std::min(read.buffer.size(), data.size());
        std::copy_n(data.begin(), length, read.buffer.begin());
        std::lock_guard lock(m_bus->mutex);
        m_bus->postLocked(
            [completion = std::move(read.completion), result, length] { completion(result, std::uint32_t(length)); });
    }

    std::shared_ptr<FakeBus> m_bus;
    std::weak_ptr<UsbDevice> m_device;
    const std::uint8_t m_number, m_class, m_subClass;
    bool m_open = false, m_gone = false;
    std::atomic<int> m_openCount{0};
    std::vector<PendingRead> m_pending;
};

class FakeUsbDevice final : public UsbDevice, public std::enable_shared_from_this<FakeUsbDevice> {
public:
    FakeUsbDevice(std::shared_ptr<FakeBus> bus, std::uint16_t vendorId, std::uint16_t productId, std::string name,
        std::uint32_t locationId)
        : m_bus(std::move(bus))
        , m_vendorId(vendorId)
        , m_productId(productId)
        , m_name(std::move(name))
        , m_locationId(locationId)
    {
    }

    std::uint16_t vendorId() const override { return m_vendorId; }
    std::uint16_t productId() const override { return m_productId; }
    UsbResult name(std::string &out) const override
    {
        out = m_name;
        return kUsbSuccess;
    }
    UsbResult locationId(std::uint32_t &out) const override
    {
        out = m_locationId;
        return kUsbSuccess;
    }
    UsbResult findInterfaces(
        const FindInterfaceRequest &request, std::vector<std::shared_ptr<UsbInterface>> &out) override
    {
        const auto matches
            = [](std::uint16_t wanted, std::uint8_t actual) { return wanted == kAnyValue || wanted == actual; };
        out.clear();
        std::lock_guard lock(m_bus->mutex);
        if (m_gone)
            return kUsbErrorNoDevice;
        for (const auto &i : m_interfaces)
            if (matches(request.bInterfaceClass, i->interfaceClass())
                && matches(request.bInterfaceSubClass, i->interfaceSubClass()))
                out.push_back(i);
        return kUsbSuccess;
    }
    UsbResult addRemovalNotification(std::function<void()> handler, std::unique_ptr<UsbNotification> &out) override
    {
        auto watch = std::make_shared<FakeBus::Watch>();
        watch->removed = std::move(handler);
        watch->device = this;
        out = std::make_unique<FakeNotification>(m_bus, std::move(watch));
        return kUsbSuccess;
    }

    std::shared_ptr<FakeUsbInterface> addInterface(std::uint8_t number, std::uint8_t cls, std::uint8_t subClass)
    {
        auto interface = std::make_shared<FakeUsbInterface>(m_bus, weak_from_this(), number, cls, subClass);
        std::lock_guard lock(m_bus->mutex);
        m_interfaces.push_back(interface);
        return interface;
    }
    // Removal notifications fire, pending reads end with kUsbErrorNoDevice, later requests fail so.
    void unplug()
    {
        std::vector<std::shared_ptr<FakeUsbInterface>> interfaces;
        {
            std::lock_guard lock(m_bus->mutex);
            if (std::exchange(m_gone, true))
                return;
            interfaces = m_interfaces;
        }
        for (const auto &interface : interfaces)
            interface->endReads(kUsbErrorNoDevice, true);
        std::lock_guard lock(m_bus->mutex);
        std::erase_if(m_bus->devices, [this](const auto &device) { return device.get() == this; });
        for (const auto &watch : m_bus->watches)
            if (watch->device == this)
                m_bus->postLocked([watch] {
                    if (watch->alive)
                        watch->removed();
                });
    }

private:
    std::shared_ptr<FakeBus> m_bus;
    const std::uint16_t m_vendorId, m_productId;
    const std::string m_name;
    const std::uint32_t m_locationId;
    bool m_gone = false;
    std::vector<std::shared_ptr<FakeUsbInterface>> m_interfaces;
};

class FakeUsbHost final : public UsbHost {
public:
    // The bus lists the devices and the devices hold the bus: let go of the devices.
    ~FakeUsbHost() override
    {
        std::lock_guard lock(m_bus->mutex);
        m_bus->devices.clear();
    }

    std::vector<DeviceEntry> devices() override
    {
        std::lock_guard lock(m_bus->mutex);
        std::vector<DeviceEntry> list;
        for (const auto &device : m_bus->devices)
            list.push_back({kUsbSuccess, device});
        return list;
    }
    UsbResult createEventSource(std::unique_ptr<UsbEventSource> &out) override
    {
        out = std::make_unique<EventSource>(m_bus);
        return kUsbSuccess;
    }
    // Lists what is present; nothing is plugged in later.
    UsbResult addMatchingNotification(std::uint16_t vendorId, std::uint16_t productId,
        std::vector<std::shared_ptr<UsbDevice>> &present, std::function<void(std::shared_ptr<UsbDevice>)>,
        std::unique_ptr<UsbNotification> &out) override
    {
        present.clear();
        {
            std::lock_guard lock(m_bus->mutex);
            for (const auto &device : m_bus->devices)
                if (device->vendorId() == vendorId && device->productId() == productId)
                    present.push_back(device);
        }
        out = std::make_unique<FakeNotification>(m_bus, std::make_shared<FakeBus::Watch>());
        return kUsbSuccess;
    }

    std::shared_ptr<FakeUsbDevice> addDevice(
        std::uint16_t vendorId, std::uint16_t productId, std::string name, std::uint32_t locationId)
    {
        auto device = std::make_shared<FakeUsbDevice>(m_bus, vendorId, productId, std::move(name), locationId);
        std::lock_guard lock(m_bus->mutex);
        m_bus->devices.push_back(device);
        return device;
    }
    std::vector<WireTransfer> wire() const
    {
        std::lock_guard lock(m_bus->mutex);
        return m_bus->wire;
    }

private:
    class EventSource final : public UsbEventSource {
    public:
        explicit EventSource(std::shared_ptr<FakeBus> bus)
            : m_bus(std::move(bus))
        {
            std::lock_guard lock(m_bus->mutex);
            m_bus->source = &m_object;
        }
        ~EventSource() override
        {
            std::lock_guard lock(m_bus->mutex);
            m_bus->source = nullptr;
        }
        QObject *context() const override { return &m_object; }

    private:
        std::shared_ptr<FakeBus> m_bus;
        mutable Mailbox m_object;
    };

    std::shared_ptr<FakeBus> m_bus = std::make_shared<FakeBus>();
};

} // namespace quillora::usb::fake
