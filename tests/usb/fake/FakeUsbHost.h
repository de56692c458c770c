#pragma once
// A USB host for tests: devices and interfaces made up by the test, every control request
// recorded in the order it reached the "wire", failures injected on demand, reads completed
// when the test says so, and plug-in and unplug notifications when the test plugs or unplugs.
//
// Thread-safe: the controller's main thread and a listener thread may use it at once.
// Completions and notifications are delivered, like the libusb host's, by a queued call to the
// thread that created the event source.
#include "UsbHost.h"

#include <QObject>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillora::usb::fake {

// One control request as it went out.
struct WireTransfer {
    std::uint32_t locationId = 0;        // of the device it went to
    std::array<std::uint8_t, 8> setup{}; // the SETUP packet
    std::vector<std::uint8_t> data;      // the data stage of a host-to-device request
};

struct FakeBus;

class FakeUsbInterface final : public UsbInterface {
public:
    FakeUsbInterface(std::shared_ptr<FakeBus> bus, std::weak_ptr<UsbDevice> device, std::uint8_t number,
        std::uint8_t alternate, std::uint8_t cls, std::uint8_t subClass, std::uint8_t protocol, std::uint8_t pipes);
    ~FakeUsbInterface() override;

    std::uint8_t interfaceNumber() const override { return m_number; }
    std::uint8_t alternateSetting() const override { return m_alternate; }
    std::uint8_t interfaceClass() const override { return m_class; }
    std::uint8_t interfaceSubClass() const override { return m_subClass; }
    std::uint8_t interfaceProtocol() const override { return m_protocol; }
    std::shared_ptr<UsbDevice> device() const override { return m_device.lock(); }

    UsbResult open() override;
    UsbResult close() override;
    bool isOpen() const override;
    UsbResult controlRequest(DevRequest &request) override;
    UsbResult readPipeAsync(std::uint8_t pipeRef, std::span<std::uint8_t> buffer, ReadCompletion completion) override;

    // ---- for the test ----
    // What open() returns from now on (kUsbErrorBusy: another holder has the interface).
    void setOpenResult(UsbResult result);
    // What control requests return from now on; a failed request has still reached the wire
    // (a stall, a timeout) unless the device is gone.
    void setControlResult(UsbResult result);
    // Completes the oldest pending read with `data` copied into its buffer; false when none
    // is pending.
    bool completeRead(UsbResult result, std::span<const std::uint8_t> data = {});
    std::size_t pendingReads() const;
    int openCount() const;
    int closeCount() const;

    // Called by the device when it is unplugged.
    void unplugged();

private:
    struct PendingRead {
        std::span<std::uint8_t> buffer;
        ReadCompletion completion;
    };
    void deliver(PendingRead read, UsbResult result, std::span<const std::uint8_t> data);

    std::shared_ptr<FakeBus> m_bus;
    std::weak_ptr<UsbDevice> m_device;
    const std::uint8_t m_number, m_alternate, m_class, m_subClass, m_protocol, m_pipes;

    mutable std::mutex m_mutex; // guards the fields below
    bool m_open = false;
    bool m_gone = false;
    UsbResult m_openResult = kUsbSuccess;
    UsbResult m_controlResult = kUsbSuccess;
    int m_openCount = 0;
    int m_closeCount = 0;
    std::vector<PendingRead> m_pending;
};

class FakeUsbDevice final : public UsbDevice, public std::enable_shared_from_this<FakeUsbDevice> {
public:
    FakeUsbDevice(std::shared_ptr<FakeBus> bus, std::uint16_t vendorId, std::uint16_t productId, std::string name,
        std::uint32_t locationId);

    std::uint16_t vendorId() const override { return m_vendorId; }
    std::uint16_t productId() const override { return m_productId; }
    UsbResult name(std::string &out) const override;
    UsbResult locationId(std::uint32_t &out) const override;
    UsbResult findInterfaces(
        const FindInterfaceRequest &request, std::vector<std::shared_ptr<UsbInterface>> &out) override;
    UsbResult addRemovalNotification(std::function<void()> handler, std::unique_ptr<UsbNotification> &out) override;

    // ---- for the test ----
    // Interfaces in configuration-descriptor order; `pipes` endpoints each.
    std::shared_ptr<FakeUsbInterface> addInterface(std::uint8_t number, std::uint8_t cls, std::uint8_t subClass,
        std::uint8_t protocol = 0, std::uint8_t alternate = 0, std::uint8_t pipes = 1);
    void setLocationResult(UsbResult result); // the location cannot be read
    void setFindResult(UsbResult result);     // the configuration cannot be read
    // The device goes away: its removal notifications fire, pending reads complete with
    // kUsbErrorNoDevice, and every later request fails so.
    void unplug();
    bool isGone() const;

private:
    std::shared_ptr<FakeBus> m_bus;
    const std::uint16_t m_vendorId, m_productId;
    const std::string m_name;
    const std::uint32_t m_locationId;

    mutable std::mutex m_mutex; // guards the fields below
    UsbResult m_locationResult = kUsbSuccess;
    UsbResult m_findResult = kUsbSuccess;
    bool m_gone = false;
    std::vector<std::shared_ptr<FakeUsbInterface>> m_interfaces;
};

class FakeUsbHost final : public UsbHost {
public:
    FakeUsbHost();
    ~FakeUsbHost() override;

    std::vector<DeviceEntry> devices() override;
    UsbResult createEventSource(std::unique_ptr<UsbEventSource> &out) override;
    UsbResult addMatchingNotification(std::uint16_t vendorId, std::uint16_t productId,
        std::vector<std::shared_ptr<UsbDevice>> &present, std::function<void(std::shared_ptr<UsbDevice>)> arrived,
        std::unique_ptr<UsbNotification> &out) override;

    // ---- for the test ----
    // A device attached from the start (listed, no arrival notification).
    std::shared_ptr<FakeUsbDevice> addDevice(
        std::uint16_t vendorId, std::uint16_t productId, std::string name, std::uint32_t locationId);
    // A device the host sees but cannot describe: listed as a failed entry.
    void addBrokenEntry(UsbResult result);
    // A device plugged in now: listed from now on and announced to matching notifications.
    std::shared_ptr<FakeUsbDevice> plugIn(
        std::uint16_t vendorId, std::uint16_t productId, std::string name, std::uint32_t locationId);
    // Every control request so far, in order, and forgetting them.
    std::vector<WireTransfer> wire() const;
    void clearWire();
    // How often the device list was read.
    int listCount() const;

private:
    std::shared_ptr<FakeBus> m_bus;
};

} // namespace quillora::usb::fake
