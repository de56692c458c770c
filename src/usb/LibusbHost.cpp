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

#include "HandOff.h"
#include "LibusbHost_p.h"
#include "UsbLog.h"

#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <poll.h>

#include <atomic>
#include <map>
#include <mutex>

namespace quillora::usb {

// Serves libusb's file descriptors in the thread that made it; work for that thread arrives in
// its mailbox.
class EventSourceObject : public Mailbox {
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
    source->post(std::move(work));
    return true;
}

void HostCore::readQueued()
{
    std::lock_guard lock(sourceMutex);
    if (source) {
        EventSourceObject *object = source;
        object->post([object] { object->watchCompletions(); });
    }
}

bool hasEventSource(HostCore &host)
{
    std::lock_guard lock(host.sourceMutex);
    return host.source != nullptr;
}

namespace {

void LIBUSB_CALL pollfdAdded(int fd, short events, void *userData)
{
    auto *core = static_cast<HostCore *>(userData);
    std::lock_guard lock(core->sourceMutex);
    if (EventSourceObject *object = core->source)
        object->post([object, fd, events] { object->addFd(fd, events); });
}

void LIBUSB_CALL pollfdRemoved(int fd, void *userData)
{
    auto *core = static_cast<HostCore *>(userData);
    std::lock_guard lock(core->sourceMutex);
    if (EventSourceObject *object = core->source)
        object->post([object, fd] { object->removeFd(fd); });
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
