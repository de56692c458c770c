// SPDX-License-Identifier: GPL-3.0-or-later
// The USB host on libusb.
//
// Ownership: everything that can outlive the call that made it (devices, opened device handles,
// pending transfers, hot-plug registrations) holds the host's core by shared pointer, so the
// libusb context ends only after the last of them. A device handle is opened on first need
// (a control request or a claim), never by the search, so that listing devices needs no
// permission on devices that are not ours.
//
// Threads: control requests are synchronous and may run on any thread. Asynchronous work
// (read completions, hot-plug notifications) is handed, by a queued call, to the thread of the
// host's event source, whichever thread libusb ran the callback on: a synchronous request on
// another thread may be the one that handles the event.
#include "LibusbHost.h"

#include "LibusbHandles.h"
#include "LocationId.h"
#include "Sysfs.h"
#include "UsbLog.h"

#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <poll.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>

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

// Serves libusb's file descriptors in the thread that made it.
class EventSourceObject : public QObject {
public:
    explicit EventSourceObject(HostCore *core)
        : m_core(core)
    {
        if (!libusb_pollfds_handle_timeouts(m_core->ctx())) {
            // Without timerfd, libusb's timeouts need a clock of ours.
            auto *timer = new QTimer(this);
            QObject::connect(timer, &QTimer::timeout, this, [this] { handleEvents(); });
            timer->start(50);
        }
        PollfdsOwner fds(libusb_get_pollfds(m_core->ctx()));
        for (const libusb_pollfd **fd = fds.get(); fd && *fd; ++fd)
            addFd((*fd)->fd, (*fd)->events);
    }

    void addFd(int fd, short events)
    {
        removeFd(fd);
        auto &entry = m_notifiers[fd];
        if (events & POLLIN) {
            entry.read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            QObject::connect(entry.read, &QSocketNotifier::activated, this, [this] { handleEvents(); });
        }
        if (events & POLLOUT) {
            // A usbfs node signals POLLOUT when a URB can be reaped. Watched only while reads
            // are pending: synchronous requests reap their own.
            entry.write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
            entry.write->setEnabled(m_core->pendingAsync.load() > 0);
            QObject::connect(entry.write, &QSocketNotifier::activated, this, [this] { handleEvents(); });
        }
    }

    void removeFd(int fd)
    {
        const auto it = m_notifiers.find(fd);
        if (it == m_notifiers.end())
            return;
        delete it->second.read;
        delete it->second.write;
        m_notifiers.erase(it);
    }

    void watchCompletions()
    {
        for (auto &[fd, entry] : m_notifiers)
            if (entry.write)
                entry.write->setEnabled(true);
    }

private:
    void handleEvents()
    {
        timeval zero{0, 0};
        libusb_handle_events_timeout_completed(m_core->ctx(), &zero, nullptr);
        if (m_core->pendingAsync.load() == 0)
            for (auto &[fd, entry] : m_notifiers)
                if (entry.write)
                    entry.write->setEnabled(false);
    }

    struct Notifiers {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };
    HostCore *m_core;
    std::map<int, Notifiers> m_notifiers; // by fd; used on this object's thread only
};

bool HostCore::post(std::function<void()> work)
{
    std::lock_guard lock(sourceMutex);
    if (!source)
        return false;
    QMetaObject::invokeMethod(source, std::move(work), Qt::QueuedConnection);
    return true;
}

void HostCore::readQueued()
{
    std::lock_guard lock(sourceMutex);
    if (source) {
        EventSourceObject *object = source;
        QMetaObject::invokeMethod(
            object, [object] { object->watchCompletions(); }, Qt::QueuedConnection);
    }
}

void LIBUSB_CALL pollfdAdded(int fd, short events, void *userData)
{
    auto *core = static_cast<HostCore *>(userData);
    std::lock_guard lock(core->sourceMutex);
    if (EventSourceObject *object = core->source)
        QMetaObject::invokeMethod(
            object, [object, fd, events] { object->addFd(fd, events); }, Qt::QueuedConnection);
}

void LIBUSB_CALL pollfdRemoved(int fd, void *userData)
{
    auto *core = static_cast<HostCore *>(userData);
    std::lock_guard lock(core->sourceMutex);
    if (EventSourceObject *object = core->source)
        QMetaObject::invokeMethod(
            object, [object, fd] { object->removeFd(fd); }, Qt::QueuedConnection);
}

class LibusbEventSource final : public UsbEventSource {
public:
    explicit LibusbEventSource(std::shared_ptr<HostCore> core)
        : m_core(std::move(core))
        , m_object(new EventSourceObject(m_core.get()))
    {
        {
            std::lock_guard lock(m_core->sourceMutex);
            m_core->source = m_object.get();
        }
        libusb_set_pollfd_notifiers(m_core->ctx(), pollfdAdded, pollfdRemoved, m_core.get());
        // A descriptor may have come or gone between the object's first look and the
        // notifiers: look again.
        PollfdsOwner fds(libusb_get_pollfds(m_core->ctx()));
        for (const libusb_pollfd **fd = fds.get(); fd && *fd; ++fd)
            m_object->addFd((*fd)->fd, (*fd)->events);
    }

    ~LibusbEventSource() override
    {
        libusb_set_pollfd_notifiers(m_core->ctx(), nullptr, nullptr, nullptr);
        std::lock_guard lock(m_core->sourceMutex);
        m_core->source = nullptr;
        // Deleting the object drops the calls still queued for it.
    }

    QObject *context() const override { return m_object.get(); }

private:
    std::shared_ptr<HostCore> m_core;
    std::unique_ptr<EventSourceObject> m_object;
};

// One libusb device and, once needed, its opened handle.
struct DeviceCore {
    std::shared_ptr<HostCore> host;
    DeviceRef device;
    libusb_device_descriptor descriptor{};

    std::mutex handleMutex; // guards `handle`
    HandleOwner handle;     // opened on first need, kept until the device object goes

    UsbResult openHandle(libusb_device_handle *&out)
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

    std::optional<std::uint32_t> location() const
    {
        std::uint8_t ports[8];
        const int count = libusb_get_port_numbers(device.get(), ports, int(sizeof ports));
        if (count < 0)
            return std::nullopt;
        return encodeLocationId(libusb_get_bus_number(device.get()), std::span(ports, std::size_t(count)));
    }

    // The device's directory under /sys/bus/usb/devices: "1-4.2", or "usb1" for a root hub.
    std::string sysfsName() const
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
};

// What an interface shares with the reads it has queued, which may end after it.
struct InterfaceCore {
    std::shared_ptr<DeviceCore> device;
    std::uint8_t number = 0;
    std::uint8_t alternate = 0;

    std::mutex mutex;                         // guards the fields below
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

class LibusbDevice;

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
        std::lock_guard lock(m_core->mutex);
        if (m_core->claimed || m_core->road)
            return kUsbSuccess;
        libusb_device_handle *handle = nullptr;
        UsbResult result = m_core->device->openHandle(handle);
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
        std::lock_guard lock(m_core->mutex);
        // Cancelled reads complete later, with kUsbErrorInterrupted.
        for (libusb_transfer *transfer : m_core->pending)
            libusb_cancel_transfer(transfer);
        m_core->road.reset();
        if (!m_core->claimed)
            return kUsbSuccess;
        m_core->claimed = false;
        libusb_device_handle *handle = nullptr;
        const UsbResult opened = m_core->device->openHandle(handle);
        return opened != kUsbSuccess ? opened : libusb_release_interface(handle, m_core->number);
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
        std::lock_guard lock(m_core->mutex);
        // The driver's own status reads hold the pipe while it has the interface.
        if (!m_core->claimed)
            return kUsbErrorBusy;
        libusb_device_handle *handle = nullptr;
        const UsbResult opened = m_core->device->openHandle(handle);
        if (opened != kUsbSuccess)
            return opened;

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

class LibusbDevice final : public UsbDevice, public std::enable_shared_from_this<LibusbDevice> {
public:
    explicit LibusbDevice(std::shared_ptr<DeviceCore> core)
        : m_core(std::move(core))
    {
    }

    std::uint16_t vendorId() const override { return m_core->descriptor.idVendor; }
    std::uint16_t productId() const override { return m_core->descriptor.idProduct; }

    UsbResult name(std::string &out) const override
    {
        const auto product = readSysfsAttribute("/sys/bus/usb/devices/" + m_core->sysfsName() + "/product");
        if (!product || product->empty()) {
            out.clear();
            return kUsbErrorNotFound;
        }
        out = *product;
        return kUsbSuccess;
    }

    UsbResult locationId(std::uint32_t &out) const override
    {
        const auto location = m_core->location();
        if (!location)
            return kUsbErrorOverflow;
        out = *location;
        return kUsbSuccess;
    }

    UsbResult findInterfaces(
        const FindInterfaceRequest &request, std::vector<std::shared_ptr<UsbInterface>> &out) override
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

    UsbResult addRemovalNotification(std::function<void()> handler, std::unique_ptr<UsbNotification> &out) override;

    const std::shared_ptr<DeviceCore> &core() const { return m_core; }

private:
    std::shared_ptr<DeviceCore> m_core;
};

std::shared_ptr<UsbDevice> LibusbInterface::device() const
{
    return m_device;
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

bool hasEventSource(HostCore &host)
{
    std::lock_guard lock(host.sourceMutex);
    return host.source != nullptr;
}

} // namespace

namespace {

// A notification's state, shared with the deliveries queued for it: they run only while the
// notification lives.
struct NotificationState {
    std::atomic<bool> alive{true};
};

struct RemovalWatch : NotificationState, std::enable_shared_from_this<RemovalWatch> {
    std::shared_ptr<HostCore> host;
    libusb_device *device = nullptr; // kept alive by `deviceCore`
    std::shared_ptr<DeviceCore> deviceCore;
    std::function<void()> handler;
    std::atomic<bool> fired{false};
};

// libusb runs these only while the callback is registered, that is while the notification
// holds the watch.
int LIBUSB_CALL removalWatchCallback(libusb_context *, libusb_device *device, libusb_hotplug_event, void *userData)
{
    auto *watch = static_cast<RemovalWatch *>(userData);
    if (device != watch->device || watch->fired.exchange(true))
        return 0;
    watch->host->post([watch = watch->shared_from_this()] {
        if (watch->alive)
            watch->handler();
    });
    return 0;
}

struct MatchWatch : NotificationState, std::enable_shared_from_this<MatchWatch> {
    std::shared_ptr<HostCore> host;
    std::function<void(std::shared_ptr<UsbDevice>)> arrived;
    std::mutex mutex;               // guards `present`
    std::vector<DeviceRef> present; // handed out as present: not announced again
};

int LIBUSB_CALL matchWatchCallback(libusb_context *, libusb_device *device, libusb_hotplug_event, void *userData)
{
    auto *watch = static_cast<MatchWatch *>(userData);
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
        return 0;
    std::shared_ptr<LibusbDevice> arrived = makeDevice(watch->host, device, descriptor);
    // Checked on delivery, when the list of present devices is complete: a device that came
    // while it was read is in both.
    watch->host->post([watch = watch->shared_from_this(), arrived = std::move(arrived)] {
        if (!watch->alive)
            return;
        {
            std::lock_guard lock(watch->mutex);
            for (const auto &known : watch->present)
                if (known.get() == arrived->core()->device.get())
                    return;
        }
        watch->arrived(arrived);
    });
    return 0;
}

template <typename Watch> class WatchNotification final : public UsbNotification {
public:
    explicit WatchNotification(std::shared_ptr<Watch> watch)
        : m_watch(std::move(watch))
    {
    }
    ~WatchNotification() override
    {
        // No callback runs after the deregistration; deliveries already queued see `alive`.
        m_registration.reset();
        m_watch->alive = false;
    }
    void setRegistration(libusb_hotplug_callback_handle handle)
    {
        m_registration = std::make_unique<HotplugRegistration>(m_watch->host->ctx(), handle);
    }

private:
    std::shared_ptr<Watch> m_watch; // holds the host, whose context outlives the registration
    std::unique_ptr<HotplugRegistration> m_registration;
};

} // namespace

UsbResult LibusbDevice::addRemovalNotification(std::function<void()> handler, std::unique_ptr<UsbNotification> &out)
{
    const std::shared_ptr<HostCore> &host = m_core->host;
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
        return kUsbErrorNotSupported;
    if (!hasEventSource(*host) || !handler)
        return kUsbErrorNotSupported;
    auto watch = std::make_shared<RemovalWatch>();
    watch->host = host;
    watch->device = m_core->device.get();
    watch->deviceCore = m_core;
    watch->handler = std::move(handler);
    auto notification = std::make_unique<WatchNotification<RemovalWatch>>(watch);
    libusb_hotplug_callback_handle handle = 0;
    const int r
        = libusb_hotplug_register_callback(host->ctx(), LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, LIBUSB_HOTPLUG_NO_FLAGS,
            vendorId(), productId(), LIBUSB_HOTPLUG_MATCH_ANY, removalWatchCallback, watch.get(), &handle);
    if (r != LIBUSB_SUCCESS)
        return r;
    notification->setRegistration(handle);
    out = std::move(notification);
    return kUsbSuccess;
}

namespace {

class LibusbHost final : public UsbHost {
public:
    explicit LibusbHost(std::shared_ptr<HostCore> core)
        : m_core(std::move(core))
    {
    }

    std::vector<DeviceEntry> devices() override
    {
        std::vector<DeviceEntry> entries;
        DeviceListOwner list;
        const ssize_t count = libusb_get_device_list(m_core->ctx(), list.out());
        if (count < 0) {
            qCWarning(lcUsb, "cannot list the USB devices: %s", usbResultName(UsbResult(count)));
            return entries;
        }
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor{};
            const int r = libusb_get_device_descriptor(list.at(i), &descriptor);
            if (r != LIBUSB_SUCCESS)
                entries.push_back({r, nullptr});
            else
                entries.push_back({kUsbSuccess, makeDevice(m_core, list.at(i), descriptor)});
        }
        return entries;
    }

    UsbResult createEventSource(std::unique_ptr<UsbEventSource> &out) override
    {
        if (hasEventSource(*m_core))
            return kUsbErrorBusy;
        out = std::make_unique<LibusbEventSource>(m_core);
        return kUsbSuccess;
    }

    UsbResult addMatchingNotification(std::uint16_t vendorId, std::uint16_t productId,
        std::vector<std::shared_ptr<UsbDevice>> &present, std::function<void(std::shared_ptr<UsbDevice>)> arrived,
        std::unique_ptr<UsbNotification> &out) override
    {
        present.clear();
        if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
            return kUsbErrorNotSupported;
        if (!hasEventSource(*m_core) || !arrived)
            return kUsbErrorNotSupported;
        auto watch = std::make_shared<MatchWatch>();
        watch->host = m_core;
        watch->arrived = std::move(arrived);
        MatchWatch *state = watch.get();
        auto notification = std::make_unique<WatchNotification<MatchWatch>>(watch);
        // Registered before the list is read, so that no device falls between the two; one
        // that is in both is announced only as present.
        libusb_hotplug_callback_handle handle = 0;
        const int r = libusb_hotplug_register_callback(m_core->ctx(), LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,
            LIBUSB_HOTPLUG_NO_FLAGS, vendorId, productId, LIBUSB_HOTPLUG_MATCH_ANY, matchWatchCallback, state, &handle);
        if (r != LIBUSB_SUCCESS)
            return r;
        notification->setRegistration(handle);
        DeviceListOwner list;
        const ssize_t count = libusb_get_device_list(m_core->ctx(), list.out());
        std::lock_guard lock(state->mutex);
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(list.at(i), &descriptor) != LIBUSB_SUCCESS)
                continue;
            if (descriptor.idVendor != vendorId || descriptor.idProduct != productId)
                continue;
            state->present.push_back(refDevice(list.at(i)));
            present.push_back(makeDevice(m_core, list.at(i), descriptor));
        }
        out = std::move(notification);
        return kUsbSuccess;
    }

private:
    std::shared_ptr<HostCore> m_core;
};

} // namespace

std::shared_ptr<UsbHost> makeLibusbHost(const LibusbHostOptions &options, UsbResult *result)
{
    libusb_context *context = nullptr;
    const int r = libusb_init(&context);
    if (result)
        *result = r;
    if (r != LIBUSB_SUCCESS)
        return nullptr;
    auto core = std::make_shared<HostCore>();
    core->context.reset(context);
    core->openVideoDriver = options.openVideoDriver;
    if (!core->openVideoDriver)
        core->openVideoDriver = [](std::uint32_t locationId, std::unique_ptr<VideoDriverControl> &out) {
            return openVideoDriverControl(locationId, out);
        };
    return std::make_shared<LibusbHost>(std::move(core));
}

std::shared_ptr<UsbHost> makeLibusbHost(UsbResult *result)
{
    return makeLibusbHost(LibusbHostOptions{}, result);
}

} // namespace quillora::usb
