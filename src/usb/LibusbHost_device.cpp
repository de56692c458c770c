// SPDX-License-Identifier: GPL-3.0-or-later
// The libusb host's devices and their interfaces: opening, control requests (through usbfs or
// the kernel's video driver) and asynchronous reads.
#include "LibusbHost_p.h"

#include "LocationId.h"
#include "Sysfs.h"
#include "UsbLog.h"

#include <set>
#include <span>

namespace quillora::usb {

namespace {

// The fix is the same for every device and every host: say it once per process.
std::atomic<bool> gPermissionHintLogged{false};

void logPermissionHintOnce(libusb_device *device)
{
    if (gPermissionHintLogged.exchange(true))
        return;
    qCWarning(lcUsb,
        "no permission to use the USB device /dev/bus/usb/%03u/%03u; install the udev rule 70-quillora.rules "
        "(sudo cp 70-quillora.rules /etc/udev/rules.d/ && sudo udevadm control --reload && "
        "sudo udevadm trigger), then plug the camera in again",
        unsigned(libusb_get_bus_number(device)), unsigned(libusb_get_device_address(device)));
}

UsbResult resultFromTransferStatus(libusb_transfer_status status)
{
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
        return kUsbSuccess;
    case LIBUSB_TRANSFER_TIMED_OUT:
        return kUsbErrorTimeout;
    case LIBUSB_TRANSFER_CANCELLED:
        return kUsbErrorInterrupted;
    case LIBUSB_TRANSFER_STALL:
        return kUsbErrorPipe;
    case LIBUSB_TRANSFER_NO_DEVICE:
        return kUsbErrorNoDevice;
    case LIBUSB_TRANSFER_OVERFLOW:
        return kUsbErrorOverflow;
    case LIBUSB_TRANSFER_ERROR:
    default:
        return kUsbErrorIo;
    }
}

// What an interface shares with the reads it has queued, which may end after it.
struct InterfaceCore {
    std::shared_ptr<DeviceCore> device;
    std::uint8_t number = 0;
    std::uint8_t alternate = 0;

    // Guards the fields below. Never held while libusb opens a device: libusb runs readDone, which
    // takes it, with its list of open devices locked, the lock libusb_open takes.
    std::mutex mutex;
    bool claimed = false;                     // claimed through usbfs
    std::unique_ptr<VideoDriverControl> road; // set while open through the video driver
    std::set<libusb_transfer *> pending;      // queued reads, until their completion
};

struct ReadRecord {
    TransferOwner transfer;
    std::shared_ptr<InterfaceCore> owner;
    ReadCompletion completion;
};

void LIBUSB_CALL readDone(libusb_transfer *transfer)
{
    std::unique_ptr<ReadRecord> record(static_cast<ReadRecord *>(transfer->user_data));
    const UsbResult result = resultFromTransferStatus(transfer->status);
    const auto length = std::uint32_t(transfer->actual_length);
    {
        std::lock_guard lock(record->owner->mutex);
        record->owner->pending.erase(transfer);
    }
    const std::shared_ptr<HostCore> host = record->owner->device->host;
    host->pendingAsync.fetch_sub(1);
    // The interface and the device travel with the completion, so that their last reference
    // is never dropped inside libusb's event handling.
    host->post([completion = std::move(record->completion), owner = std::move(record->owner), result, length] {
        completion(result, length);
    });
}

class LibusbInterface final : public UsbInterface {
public:
    LibusbInterface(std::shared_ptr<LibusbDevice> device, std::shared_ptr<DeviceCore> core,
        const libusb_interface_descriptor &descriptor)
        : m_device(std::move(device))
        , m_core(std::make_shared<InterfaceCore>())
        , m_class(descriptor.bInterfaceClass)
        , m_subClass(descriptor.bInterfaceSubClass)
        , m_protocol(descriptor.bInterfaceProtocol)
        , m_entities(parseUvcEntities(classSpecificBytes(descriptor)))
    {
        m_core->device = std::move(core);
        m_core->number = descriptor.bInterfaceNumber;
        m_core->alternate = descriptor.bAlternateSetting;
        // Only a complete descriptor gets here (isComplete): the endpoint array is there.
        for (int i = 0; i < descriptor.bNumEndpoints; ++i)
            m_endpoints.push_back({descriptor.endpoint[i].bEndpointAddress,
                std::uint8_t(descriptor.endpoint[i].bmAttributes & LIBUSB_TRANSFER_TYPE_MASK)});
    }

    // libusb hands back what it could parse of a broken configuration: an interface whose
    // class-specific bytes ran past the configuration's end keeps its endpoint count but has
    // no endpoint array. Such an interface is never used.
    static bool isComplete(const libusb_interface_descriptor &descriptor)
    {
        return descriptor.bNumEndpoints == 0 || descriptor.endpoint;
    }

    // The bytes libusb did not parse (the class-specific descriptors), only when they are
    // really there.
    static std::span<const std::uint8_t> classSpecificBytes(const libusb_interface_descriptor &descriptor)
    {
        if (!descriptor.extra || descriptor.extra_length <= 0)
            return {};
        return std::span(descriptor.extra, std::size_t(descriptor.extra_length));
    }

    ~LibusbInterface() override { close(); }

    std::uint8_t interfaceNumber() const override { return m_core->number; }
    std::uint8_t alternateSetting() const override { return m_core->alternate; }
    std::uint8_t interfaceClass() const override { return m_class; }
    std::uint8_t interfaceSubClass() const override { return m_subClass; }
    std::uint8_t interfaceProtocol() const override { return m_protocol; }
    std::shared_ptr<UsbDevice> device() const override;

    UsbResult open() override
    {
        if (isOpen())
            return kUsbSuccess;
        libusb_device_handle *handle = nullptr;
        UsbResult result = m_core->device->openHandle(handle);
        std::lock_guard lock(m_core->mutex);
        if (m_core->claimed || m_core->road)
            return kUsbSuccess;
        if (result == kUsbSuccess) {
            result = libusb_claim_interface(handle, m_core->number);
            if (result == kUsbSuccess) {
                m_core->claimed = true;
                return kUsbSuccess;
            }
        }
        // The kernel's video driver holds the interface (or its node is the only one we may
        // use): its requests can still go through the driver.
        if (result == kUsbErrorBusy || result == kUsbErrorAccess) {
            if (const auto location = m_core->device->location()) {
                std::unique_ptr<VideoDriverControl> road;
                const UsbResult roadResult = m_core->device->host->openVideoDriver(*location, road);
                if (roadResult == kUsbSuccess && road) {
                    qCDebug(lcUsb, "interface %u at location 0x%08x held by the kernel (%s): using its video driver",
                        unsigned(m_core->number), unsigned(*location), usbResultName(result));
                    m_core->road = std::move(road);
                    return kUsbSuccess;
                }
                qCDebug(lcUsb, "no video driver road at location 0x%08x: %s", unsigned(*location),
                    usbResultName(roadResult));
            }
        }
        return result;
    }

    UsbResult close() override
    {
        libusb_device_handle *handle = m_core->device->openedHandle();
        std::lock_guard lock(m_core->mutex);
        // Cancelled reads complete later, with kUsbErrorInterrupted.
        for (libusb_transfer *transfer : m_core->pending)
            libusb_cancel_transfer(transfer);
        m_core->road.reset();
        if (!m_core->claimed)
            return kUsbSuccess;
        m_core->claimed = false;
        return handle ? libusb_release_interface(handle, m_core->number) : kUsbErrorNoDevice;
    }

    bool isOpen() const override
    {
        std::lock_guard lock(m_core->mutex);
        return m_core->claimed || m_core->road;
    }

    UsbResult controlRequest(DevRequest &request) override
    {
        request.wLenDone = 0;
        if (request.wLength > 0 && !request.pData)
            return kUsbErrorInvalidParam;
        {
            std::lock_guard lock(m_core->mutex);
            if (m_core->road && isInterfaceClassRequest(request))
                return sendThroughVideoDriver(*m_core->road, m_entities, request);
        }
        libusb_device_handle *handle = nullptr;
        const UsbResult opened = m_core->device->openHandle(handle);
        if (opened != kUsbSuccess)
            return opened;
        const int r = libusb_control_transfer(handle, request.bmRequestType, request.bRequest, request.wValue,
            request.wIndex, static_cast<unsigned char *>(request.pData), request.wLength, kControlTimeoutMs);
        if (r < 0)
            return r;
        request.wLenDone = std::uint32_t(r);
        return kUsbSuccess;
    }

    UsbResult readPipeAsync(std::uint8_t pipeRef, std::span<std::uint8_t> buffer, ReadCompletion completion) override
    {
        if (pipeRef == 0 || pipeRef > m_endpoints.size() || !completion || buffer.size() > std::size_t(INT32_MAX))
            return kUsbErrorInvalidParam;
        const Endpoint endpoint = m_endpoints[pipeRef - 1];
        if (!(endpoint.address & LIBUSB_ENDPOINT_IN))
            return kUsbErrorInvalidParam;
        if (endpoint.type != LIBUSB_TRANSFER_TYPE_INTERRUPT && endpoint.type != LIBUSB_TRANSFER_TYPE_BULK)
            return kUsbErrorNotSupported;
        std::shared_ptr<HostCore> host = m_core->device->host;
        {
            std::lock_guard lock(host->sourceMutex);
            if (!host->source)
                return kUsbErrorNotSupported;
        }
        // Claimed means opened: the handle is there, and taking it opens nothing.
        libusb_device_handle *handle = m_core->device->openedHandle();
        std::lock_guard lock(m_core->mutex);
        // The driver's own status reads hold the pipe while it has the interface.
        if (!m_core->claimed || !handle)
            return kUsbErrorBusy;

        auto record = std::make_unique<ReadRecord>();
        record->transfer.reset(libusb_alloc_transfer(0));
        if (!record->transfer)
            return kUsbErrorNoMem;
        record->owner = m_core;
        record->completion = std::move(completion);
        libusb_transfer *transfer = record->transfer.get();
        if (endpoint.type == LIBUSB_TRANSFER_TYPE_INTERRUPT)
            libusb_fill_interrupt_transfer(
                transfer, handle, endpoint.address, buffer.data(), int(buffer.size()), readDone, record.get(), 0);
        else
            libusb_fill_bulk_transfer(
                transfer, handle, endpoint.address, buffer.data(), int(buffer.size()), readDone, record.get(), 0);
        host->pendingAsync.fetch_add(1);
        const int r = libusb_submit_transfer(transfer);
        if (r != LIBUSB_SUCCESS) {
            host->pendingAsync.fetch_sub(1);
            return r;
        }
        m_core->pending.insert(transfer);
        record.release(); // readDone owns it from here
        host->readQueued();
        return kUsbSuccess;
    }

private:
    struct Endpoint {
        std::uint8_t address;
        std::uint8_t type;
    };
    std::shared_ptr<LibusbDevice> m_device;
    std::shared_ptr<InterfaceCore> m_core;
    std::uint8_t m_class;
    std::uint8_t m_subClass;
    std::uint8_t m_protocol;
    std::vector<Endpoint> m_endpoints; // in descriptor order: pipe 1 is the first
    UvcEntities m_entities;            // for the video driver road
};

std::shared_ptr<UsbDevice> LibusbInterface::device() const
{
    return m_device;
}

} // namespace

libusb_device_handle *DeviceCore::openedHandle()
{
    std::lock_guard lock(handleMutex);
    return handle.get();
}

UsbResult DeviceCore::openHandle(libusb_device_handle *&out)
{
    std::lock_guard lock(handleMutex);
    if (!handle) {
        libusb_device_handle *opened = nullptr;
        const int r = libusb_open(device.get(), &opened);
        if (r != LIBUSB_SUCCESS) {
            if (r == LIBUSB_ERROR_ACCESS)
                logPermissionHintOnce(device.get());
            return r;
        }
        handle.reset(opened);
    }
    out = handle.get();
    return kUsbSuccess;
}

std::optional<std::uint32_t> DeviceCore::location() const
{
    std::uint8_t ports[8];
    const int count = libusb_get_port_numbers(device.get(), ports, int(sizeof ports));
    if (count < 0)
        return std::nullopt;
    return encodeLocationId(libusb_get_bus_number(device.get()), std::span(ports, std::size_t(count)));
}

std::string DeviceCore::sysfsName() const
{
    std::uint8_t ports[8];
    const int count = libusb_get_port_numbers(device.get(), ports, int(sizeof ports));
    const unsigned bus = libusb_get_bus_number(device.get());
    if (count <= 0)
        return "usb" + std::to_string(bus);
    std::string name = std::to_string(bus) + "-";
    for (int i = 0; i < count; ++i)
        name += (i ? "." : "") + std::to_string(ports[i]);
    return name;
}

UsbResult LibusbDevice::name(std::string &out) const
{
    const auto product = readSysfsAttribute("/sys/bus/usb/devices/" + m_core->sysfsName() + "/product");
    if (!product || product->empty()) {
        out.clear();
        return kUsbErrorNotFound;
    }
    out = *product;
    return kUsbSuccess;
}

UsbResult LibusbDevice::locationId(std::uint32_t &out) const
{
    const auto location = m_core->location();
    if (!location)
        return kUsbErrorOverflow;
    out = *location;
    return kUsbSuccess;
}

UsbResult LibusbDevice::findInterfaces(
    const FindInterfaceRequest &request, std::vector<std::shared_ptr<UsbInterface>> &out)
{
    out.clear();
    libusb_config_descriptor *raw = nullptr;
    const int r = libusb_get_active_config_descriptor(m_core->device.get(), &raw);
    if (r != LIBUSB_SUCCESS)
        return r;
    ConfigDescriptorOwner config(raw);
    const auto matches
        = [](std::uint16_t wanted, std::uint8_t actual) { return wanted == kAnyValue || wanted == actual; };
    // Counts are believed only together with their arrays: a broken configuration can
    // come back from libusb half-parsed.
    const int interfaces = config->interface ? config->bNumInterfaces : 0;
    for (int i = 0; i < interfaces; ++i) {
        const libusb_interface &interface = config->interface[i];
        const int alternates = interface.altsetting ? std::max(interface.num_altsetting, 0) : 0;
        for (int a = 0; a < alternates; ++a) {
            const libusb_interface_descriptor &alt = interface.altsetting[a];
            if (!matches(request.bInterfaceClass, alt.bInterfaceClass)
                || !matches(request.bInterfaceSubClass, alt.bInterfaceSubClass)
                || !matches(request.bInterfaceProtocol, alt.bInterfaceProtocol)
                || !matches(request.bAlternateSetting, alt.bAlternateSetting))
                continue;
            if (!LibusbInterface::isComplete(alt)) {
                qCInfo(lcUsb,
                    "device %04x:%04x: interface %u alternate %u is incomplete (%u endpoints declared, none "
                    "described); skipped",
                    unsigned(vendorId()), unsigned(productId()), unsigned(alt.bInterfaceNumber),
                    unsigned(alt.bAlternateSetting), unsigned(alt.bNumEndpoints));
                continue;
            }
            out.push_back(std::make_shared<LibusbInterface>(shared_from_this(), m_core, alt));
        }
    }
    return kUsbSuccess;
}

std::shared_ptr<LibusbDevice> makeDevice(
    const std::shared_ptr<HostCore> &host, libusb_device *device, const libusb_device_descriptor &descriptor)
{
    auto core = std::make_shared<DeviceCore>();
    core->host = host;
    core->device = refDevice(device);
    core->descriptor = descriptor;
    return std::make_shared<LibusbDevice>(std::move(core));
}

} // namespace quillora::usb
