// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Cameras that come and go while the program runs. The watcher hears the kernel's video node
// events (through udev) and the virtual cameras a test plugs in or pulls out, and says, a
// moment after a burst of them, that the list of cameras may have changed. What changed is
// for the caller to see in a fresh list: an event may be for a node that is no camera, a node
// never listed, or a tree that is only half there.
#include "CameraMode.h"
#include "DeviceDescription.h"
#include "SysfsCamera.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace quillora::capture {

class CameraWatcher : public QObject {
    Q_OBJECT
public:
    // Lives on the thread that makes it (the main thread); events are served by its loop.
    explicit CameraWatcher(QObject *parent = nullptr);
    ~CameraWatcher() override;

    // Events closer together than this are told as one change: a flaky cable's burst costs
    // one fresh list per interval, not one per event.
    static constexpr std::chrono::milliseconds kSettleTime{100};

    // False when udev could not be reached (no netlink socket, say); virtual cameras are
    // still heard then.
    bool watchingKernel() const;

    // Whether the device of `description` was removed in the interval that the last camerasChanged told, even
    // if it is back in the list by then: its picture has stopped all the same.
    bool wentAwayBeforeLastChange(const DeviceDescription &description) const;

Q_SIGNALS:
    // The list of cameras may differ from the last one. Main thread.
    void camerasChanged();

private:
    struct Private;
    std::unique_ptr<Private> d;

    void startUdev();
    void readUdev();
    // Every event, the kernel's and the test hook's, goes through here.
    void deviceEvent(const QString &action, const QString &node);

    friend void setVirtualCameraAttached(const QString &uniqueID, bool attached);
};

// For tests: the virtual camera `uniqueID` (one of QUILLORA_VIRTUAL_CAMERAS) leaves or comes
// back, as a camera pulled out or plugged in. A leaving camera's running pictures stop with
// the error a V4L2 camera's give when it goes, the camera list leaves it out until it is back,
// and every watcher hears it as it hears the kernel's events. Main thread.
void setVirtualCameraAttached(const QString &uniqueID, bool attached);
bool isVirtualCameraAttached(const QString &uniqueID);

// For tests on an emulated machine (umockdev), whose video nodes have sysfs entries but cannot
// stream: the nodes are asked with `probe` instead of their device files, and each V4L2
// camera's picture comes from a virtual camera offering `modes`, which stops as v4l2src does
// when a watcher hears its node removed. Everything else (listing, identity from sysfs, the
// device file's presence) stays the real code's. std::nullopt: the real nodes again.
struct V4l2StandIn {
    CapabilityProbe probe;
    std::vector<CameraMode> modes;
};
void setV4l2StandIn(std::optional<V4l2StandIn> standIn);
std::optional<V4l2StandIn> v4l2StandIn();

} // namespace quillora::capture
