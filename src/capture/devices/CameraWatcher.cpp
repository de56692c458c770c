// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraWatcher.h"

#include "CaptureLog.h"
#include "ProgramClock.h"
#include "UdevHandles.h"
#include "VirtualCamera.h"
#include "VirtualControls.h"

#include <QMutex>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>

#include <algorithm>

namespace quillora::capture {

namespace {

QMutex gPresenceMutex; // guards gWatchers, gDetachedVirtual and gStandIn
std::vector<CameraWatcher *> gWatchers;
QSet<QString> gDetachedVirtual; // unique IDs of virtual cameras a test has pulled out
std::optional<V4l2StandIn> gStandIn;

} // namespace

struct CameraWatcher::Private {
    UdevPtr udev;
    UdevMonitorPtr monitor;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<ClockTimer> settle; // on the program's clock
    QSet<QString> removing;             // nodes removed in the interval running now
    QSet<QString> removed;              // nodes removed in the interval last told
};

namespace {

// The name a device's removal event carries.
QString eventNodeOf(const DeviceDescription &d)
{
    return d.kind == DeviceKind::VirtualCamera ? QStringLiteral("virtual:") + d.uniqueID : d.devicePath;
}

} // namespace

CameraWatcher::CameraWatcher(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->settle = programClock().makeTimer(
        this,
        [this] {
            d->removed = std::exchange(d->removing, {});
            Q_EMIT camerasChanged();
        },
        Clock::Repeat::Once);
    {
        QMutexLocker lock(&gPresenceMutex);
        gWatchers.push_back(this);
    }
    startUdev();
}

CameraWatcher::~CameraWatcher()
{
    QMutexLocker lock(&gPresenceMutex);
    gWatchers.erase(std::remove(gWatchers.begin(), gWatchers.end(), this), gWatchers.end());
}

bool CameraWatcher::wentAwayBeforeLastChange(const DeviceDescription &description) const
{
    return d->removed.contains(eventNodeOf(description));
}

bool CameraWatcher::watchingKernel() const
{
    return d->notifier != nullptr;
}

void CameraWatcher::startUdev()
{
    UdevPtr udev(udev_new());
    if (!udev) {
        qCInfo(lcCapture) << "camera watch: udev not available; cameras plugged in later are not seen";
        return;
    }
    // The events after udev has handled them: the node exists and its rules have run.
    UdevMonitorPtr monitor(udev_monitor_new_from_netlink(udev.get(), "udev"));
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "video4linux", nullptr) < 0
        || udev_monitor_enable_receiving(monitor.get()) < 0) {
        qCInfo(lcCapture) << "camera watch: no udev monitor; cameras plugged in later are not seen";
        return;
    }
    const int fd = udev_monitor_get_fd(monitor.get());
    if (fd < 0) {
        qCInfo(lcCapture) << "camera watch: the udev monitor has no socket";
        return;
    }
    d->udev = std::move(udev);
    d->monitor = std::move(monitor);
    d->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, [this] { readUdev(); });
}

void CameraWatcher::readUdev()
{
    // The socket does not block: everything waiting is read, then the loop serves it again.
    for (int i = 0; i < 256; ++i) {
        UdevDevicePtr device(udev_monitor_receive_device(d->monitor.get()));
        if (!device)
            return;
        const char *action = udev_device_get_action(device.get());
        const char *node = udev_device_get_devnode(device.get());
        const char *name = udev_device_get_sysname(device.get());
        QString path;
        if (node)
            path = QString::fromUtf8(node);
        else if (name)
            path = QStringLiteral("/dev/") + QString::fromUtf8(name);
        deviceEvent(action ? QString::fromUtf8(action) : QString(), path);
    }
}

void CameraWatcher::deviceEvent(const QString &action, const QString &node)
{
    qCInfo(lcCapture).noquote() << "camera watch:" << action << node;
    // A V4L2 camera's picture stops by itself when its node goes; the stand-in's is told.
    if (action == QLatin1String("remove")) {
        d->removing.insert(node);
        if (!node.startsWith(QLatin1String("virtual:")) && v4l2StandIn())
            unplugVirtualCameraSources(node);
    }
    // The first event of a burst starts the interval; later ones ride along with it, so that
    // a camera that keeps coming and going is still looked at every interval.
    if (!d->settle->isActive())
        d->settle->start(kSettleTime);
}

void setVirtualCameraAttached(const QString &uniqueID, bool attached)
{
    std::vector<QPointer<CameraWatcher>> watchers;
    {
        QMutexLocker lock(&gPresenceMutex);
        if (attached)
            gDetachedVirtual.remove(uniqueID);
        else
            gDetachedVirtual.insert(uniqueID);
        for (CameraWatcher *w : gWatchers)
            watchers.emplace_back(w);
    }
    if (!attached) {
        unplugVirtualCameraSources(uniqueID);
        forgetVirtualCameraControls(uniqueID);
    }
    // Told as the kernel's events are: later, from the watcher's own loop.
    for (const auto &watcher : watchers) {
        if (!watcher)
            continue;
        QMetaObject::invokeMethod(
            watcher.data(),
            [w = watcher.data(), uniqueID, attached] {
                w->deviceEvent(
                    attached ? QStringLiteral("add") : QStringLiteral("remove"), QStringLiteral("virtual:") + uniqueID);
            },
            Qt::QueuedConnection);
    }
}

bool isVirtualCameraAttached(const QString &uniqueID)
{
    QMutexLocker lock(&gPresenceMutex);
    return !gDetachedVirtual.contains(uniqueID);
}

void setV4l2StandIn(std::optional<V4l2StandIn> standIn)
{
    QMutexLocker lock(&gPresenceMutex);
    gStandIn = std::move(standIn);
}

std::optional<V4l2StandIn> v4l2StandIn()
{
    QMutexLocker lock(&gPresenceMutex);
    return gStandIn;
}

} // namespace quillora::capture
