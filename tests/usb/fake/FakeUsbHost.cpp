#include "FakeUsbHost.h"

#include <QMetaObject>

#include <algorithm>
#include <atomic>

namespace quillora::usb::fake {

// What every object of one fake host shares.
struct FakeBus {
    std::mutex mutex; // guards every field below
    QObject *source = nullptr;
    std::vector<WireTransfer> wire;
    std::vector<std::pair<UsbResult, std::shared_ptr<FakeUsbDevice>>> entries;
    int listCount = 0;

    struct Watch {
        std::atomic<bool> alive{true};
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        std::function<void(std::shared_ptr<UsbDevice>)> arrived;
        std::function<void()> removed;
        const FakeUsbDevice *device = nullptr; // for removal watches
    };
    std::vector<std::shared_ptr<Watch>> watches;

    // Runs `work` on the event source's thread; false without an event source. Called with
    // `mutex` held.
    bool postLocked(std::function<void()> work)
    {
        if (!source)
            return false;
        QMetaObject::invokeMethod(source, std::move(work), Qt::QueuedConnection);
        return true;
    }
};

namespace {

class FakeNotification final : public UsbNotification {
public:
    FakeNotification(std::shared_ptr<FakeBus> bus, std::shared_ptr<FakeBus::Watch> watch)
        : m_bus(std::move(bus))
        , m_watch(std::move(watch))
    {
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

class FakeEventSource final : public UsbEventSource {
public:
    explicit FakeEventSource(std::shared_ptr<FakeBus> bus)
        : m_bus(std::move(bus))
        , m_object(std::make_unique<QObject>())
    {
        std::lock_guard lock(m_bus->mutex);
        m_bus->source = m_object.get();
    }
    ~FakeEventSource() override
    {
        std::lock_guard lock(m_bus->mutex);
        m_bus->source = nullptr;
    }
    QObject *context() const override { return m_object.get(); }

private:
    std::shared_ptr<FakeBus> m_bus;
    std::unique_ptr<QObject> m_object;
};

bool matches(std::uint16_t wanted, std::uint8_t actual)
{
    return wanted == kAnyValue || wanted == actual;
}

} // namespace

// ---- FakeUsbInterface ----------------------------------------------------------------------

FakeUsbInterface::FakeUsbInterface(std::shared_ptr<FakeBus> bus, std::weak_ptr<UsbDevice> device, std::uint8_t number,
    std::uint8_t alternate, std::uint8_t cls, std::uint8_t subClass, std::uint8_t protocol, std::uint8_t pipes)
    : m_bus(std::move(bus))
    , m_device(std::move(device))
    , m_number(number)
    , m_alternate(alternate)
    , m_class(cls)
    , m_subClass(subClass)
    , m_protocol(protocol)
    , m_pipes(pipes)
{
}

FakeUsbInterface::~FakeUsbInterface() = default;

UsbResult FakeUsbInterface::open()
{
    std::lock_guard lock(m_mutex);
    ++m_openCount;
    if (m_gone)
        return kUsbErrorNoDevice;
    if (m_open)
        return kUsbSuccess;
    if (m_openResult != kUsbSuccess)
        return m_openResult;
    m_open = true;
    return kUsbSuccess;
}

UsbResult FakeUsbInterface::close()
{
    std::vector<PendingRead> cancelled;
    {
        std::lock_guard lock(m_mutex);
        ++m_closeCount;
        m_open = false;
        cancelled.swap(m_pending);
    }
    for (auto &read : cancelled)
        deliver(std::move(read), kUsbErrorInterrupted, {});
    return kUsbSuccess;
}

bool FakeUsbInterface::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_open;
}

UsbResult FakeUsbInterface::controlRequest(DevRequest &request)
{
    request.wLenDone = 0;
    if (request.wLength > 0 && !request.pData)
        return kUsbErrorInvalidParam;
    UsbResult result;
    {
        std::lock_guard lock(m_mutex);
        if (m_gone)
            return kUsbErrorNoDevice;
        result = m_controlResult;
    }
    WireTransfer transfer;
    if (const auto owner = m_device.lock())
        owner->locationId(transfer.locationId);
    transfer.setup = setupPacket(request);
    if (!(request.bmRequestType & 0x80) && request.wLength > 0) {
        const auto *bytes = static_cast<const std::uint8_t *>(request.pData);
        transfer.data.assign(bytes, bytes + request.wLength);
    }
    {
        std::lock_guard lock(m_bus->mutex);
        m_bus->wire.push_back(std::move(transfer));
    }
    if (result == kUsbSuccess)
        request.wLenDone = request.wLength;
    return result;
}

UsbResult FakeUsbInterface::readPipeAsync(
    std::uint8_t pipeRef, std::span<std::uint8_t> buffer, ReadCompletion completion)
{
    if (pipeRef == 0 || pipeRef > m_pipes || !completion)
        return kUsbErrorInvalidParam;
    {
        std::lock_guard lock(m_bus->mutex);
        if (!m_bus->source)
            return kUsbErrorNotSupported;
    }
    std::lock_guard lock(m_mutex);
    if (m_gone)
        return kUsbErrorNoDevice;
    if (!m_open)
        return kUsbErrorBusy;
    m_pending.push_back({buffer, std::move(completion)});
    return kUsbSuccess;
}

void FakeUsbInterface::setOpenResult(UsbResult result)
{
    std::lock_guard lock(m_mutex);
    m_openResult = result;
}

void FakeUsbInterface::setControlResult(UsbResult result)
{
    std::lock_guard lock(m_mutex);
    m_controlResult = result;
}

bool FakeUsbInterface::completeRead(UsbResult result, std::span<const std::uint8_t> data)
{
    PendingRead read;
    {
        std::lock_guard lock(m_mutex);
        if (m_pending.empty())
            return false;
        read = std::move(m_pending.front());
        m_pending.erase(m_pending.begin());
    }
    deliver(std::move(read), result, data);
    return true;
}

void FakeUsbInterface::deliver(PendingRead read, UsbResult result, std::span<const std::uint8_t> data)
{
    // The data arrives in the buffer as the host would put it there, before the completion.
    const std::size_t length = std::min(read.buffer.size(), data.size());
    std::copy_n(data.begin(), length, read.buffer.begin());
    std::lock_guard lock(m_bus->mutex);
    m_bus->postLocked(
        [completion = std::move(read.completion), result, length] { completion(result, std::uint32_t(length)); });
}

std::size_t FakeUsbInterface::pendingReads() const
{
    std::lock_guard lock(m_mutex);
    return m_pending.size();
}

int FakeUsbInterface::openCount() const
{
    std::lock_guard lock(m_mutex);
    return m_openCount;
}

int FakeUsbInterface::closeCount() const
{
    std::lock_guard lock(m_mutex);
    return m_closeCount;
}

void FakeUsbInterface::unplugged()
{
    std::vector<PendingRead> ended;
    {
        std::lock_guard lock(m_mutex);
        m_gone = true;
        m_open = false;
        ended.swap(m_pending);
    }
    for (auto &read : ended)
        deliver(std::move(read), kUsbErrorNoDevice, {});
}

// ---- FakeUsbDevice -------------------------------------------------------------------------

FakeUsbDevice::FakeUsbDevice(std::shared_ptr<FakeBus> bus, std::uint16_t vendorId, std::uint16_t productId,
    std::string name, std::uint32_t locationId)
    : m_bus(std::move(bus))
    , m_vendorId(vendorId)
    , m_productId(productId)
    , m_name(std::move(name))
    , m_locationId(locationId)
{
}

UsbResult FakeUsbDevice::name(std::string &out) const
{
    out = m_name;
    return m_name.empty() ? kUsbErrorNotFound : kUsbSuccess;
}

UsbResult FakeUsbDevice::locationId(std::uint32_t &out) const
{
    std::lock_guard lock(m_mutex);
    if (m_locationResult != kUsbSuccess)
        return m_locationResult;
    out = m_locationId;
    return kUsbSuccess;
}

UsbResult FakeUsbDevice::findInterfaces(
    const FindInterfaceRequest &request, std::vector<std::shared_ptr<UsbInterface>> &out)
{
    out.clear();
    std::lock_guard lock(m_mutex);
    if (m_gone)
        return kUsbErrorNoDevice;
    if (m_findResult != kUsbSuccess)
        return m_findResult;
    for (const auto &interface : m_interfaces)
        if (matches(request.bInterfaceClass, interface->interfaceClass())
            && matches(request.bInterfaceSubClass, interface->interfaceSubClass())
            && matches(request.bInterfaceProtocol, interface->interfaceProtocol())
            && matches(request.bAlternateSetting, interface->alternateSetting()))
            out.push_back(interface);
    return kUsbSuccess;
}

UsbResult FakeUsbDevice::addRemovalNotification(std::function<void()> handler, std::unique_ptr<UsbNotification> &out)
{
    if (!handler)
        return kUsbErrorInvalidParam;
    auto watch = std::make_shared<FakeBus::Watch>();
    watch->removed = std::move(handler);
    watch->device = this;
    std::lock_guard lock(m_bus->mutex);
    if (!m_bus->source)
        return kUsbErrorNotSupported;
    m_bus->watches.push_back(watch);
    out = std::make_unique<FakeNotification>(m_bus, watch);
    return kUsbSuccess;
}

std::shared_ptr<FakeUsbInterface> FakeUsbDevice::addInterface(std::uint8_t number, std::uint8_t cls,
    std::uint8_t subClass, std::uint8_t protocol, std::uint8_t alternate, std::uint8_t pipes)
{
    auto interface = std::make_shared<FakeUsbInterface>(
        m_bus, weak_from_this(), number, alternate, cls, subClass, protocol, pipes);
    std::lock_guard lock(m_mutex);
    m_interfaces.push_back(interface);
    return interface;
}

void FakeUsbDevice::setLocationResult(UsbResult result)
{
    std::lock_guard lock(m_mutex);
    m_locationResult = result;
}

void FakeUsbDevice::setFindResult(UsbResult result)
{
    std::lock_guard lock(m_mutex);
    m_findResult = result;
}

void FakeUsbDevice::unplug()
{
    std::vector<std::shared_ptr<FakeUsbInterface>> interfaces;
    {
        std::lock_guard lock(m_mutex);
        if (m_gone)
            return;
        m_gone = true;
        interfaces = m_interfaces;
    }
    for (const auto &interface : interfaces)
        interface->unplugged();
    std::lock_guard lock(m_bus->mutex);
    std::erase_if(m_bus->entries, [this](const auto &entry) { return entry.second.get() == this; });
    for (const auto &watch : m_bus->watches)
        if (watch->device == this)
            m_bus->postLocked([watch] {
                if (watch->alive)
                    watch->removed();
            });
}

bool FakeUsbDevice::isGone() const
{
    std::lock_guard lock(m_mutex);
    return m_gone;
}

// ---- FakeUsbHost ---------------------------------------------------------------------------

FakeUsbHost::FakeUsbHost()
    : m_bus(std::make_shared<FakeBus>())
{
}

FakeUsbHost::~FakeUsbHost()
{
    // The bus lists the devices and the devices hold the bus: let go of the devices.
    std::lock_guard lock(m_bus->mutex);
    m_bus->entries.clear();
}

std::vector<UsbHost::DeviceEntry> FakeUsbHost::devices()
{
    std::lock_guard lock(m_bus->mutex);
    ++m_bus->listCount;
    std::vector<DeviceEntry> list;
    for (const auto &[result, device] : m_bus->entries)
        list.push_back({result, device});
    return list;
}

UsbResult FakeUsbHost::createEventSource(std::unique_ptr<UsbEventSource> &out)
{
    {
        std::lock_guard lock(m_bus->mutex);
        if (m_bus->source)
            return kUsbErrorBusy;
    }
    out = std::make_unique<FakeEventSource>(m_bus);
    return kUsbSuccess;
}

UsbResult FakeUsbHost::addMatchingNotification(std::uint16_t vendorId, std::uint16_t productId,
    std::vector<std::shared_ptr<UsbDevice>> &present, std::function<void(std::shared_ptr<UsbDevice>)> arrived,
    std::unique_ptr<UsbNotification> &out)
{
    present.clear();
    if (!arrived)
        return kUsbErrorInvalidParam;
    auto watch = std::make_shared<FakeBus::Watch>();
    watch->vendorId = vendorId;
    watch->productId = productId;
    watch->arrived = std::move(arrived);
    std::lock_guard lock(m_bus->mutex);
    if (!m_bus->source)
        return kUsbErrorNotSupported;
    for (const auto &[result, device] : m_bus->entries)
        if (result == kUsbSuccess && device && device->vendorId() == vendorId && device->productId() == productId)
            present.push_back(device);
    m_bus->watches.push_back(watch);
    out = std::make_unique<FakeNotification>(m_bus, watch);
    return kUsbSuccess;
}

std::shared_ptr<FakeUsbDevice> FakeUsbHost::addDevice(
    std::uint16_t vendorId, std::uint16_t productId, std::string name, std::uint32_t locationId)
{
    auto device = std::make_shared<FakeUsbDevice>(m_bus, vendorId, productId, std::move(name), locationId);
    std::lock_guard lock(m_bus->mutex);
    m_bus->entries.emplace_back(kUsbSuccess, device);
    return device;
}

void FakeUsbHost::addBrokenEntry(UsbResult result)
{
    std::lock_guard lock(m_bus->mutex);
    m_bus->entries.emplace_back(result, nullptr);
}

std::shared_ptr<FakeUsbDevice> FakeUsbHost::plugIn(
    std::uint16_t vendorId, std::uint16_t productId, std::string name, std::uint32_t locationId)
{
    auto device = addDevice(vendorId, productId, std::move(name), locationId);
    std::lock_guard lock(m_bus->mutex);
    for (const auto &watch : m_bus->watches)
        if (!watch->device && watch->vendorId == vendorId && watch->productId == productId)
            m_bus->postLocked([watch, device] {
                if (watch->alive)
                    watch->arrived(device);
            });
    return device;
}

std::vector<WireTransfer> FakeUsbHost::wire() const
{
    std::lock_guard lock(m_bus->mutex);
    return m_bus->wire;
}

void FakeUsbHost::clearWire()
{
    std::lock_guard lock(m_bus->mutex);
    m_bus->wire.clear();
}

int FakeUsbHost::listCount() const
{
    std::lock_guard lock(m_bus->mutex);
    return m_bus->listCount;
}

} // namespace quillora::usb::fake
