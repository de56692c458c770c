// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual camera elements standing for a device, remembered without being kept alive, so
// that a test can pull the device out (every running element for it fails as v4l2src does) and
// see whether its picture source is in a pipeline.
#include "VirtualCamera_p.h"

#include <list>
#include <mutex>

namespace quillora::capture {

namespace {

// A weak reference to a virtual camera element that stands for a device; it does not keep the
// element alive.
struct LiveSource {
    explicit LiveSource(QString id, GstElement *element)
        : identity(std::move(id))
    {
        g_weak_ref_init(&ref, element);
    }
    ~LiveSource() { g_weak_ref_clear(&ref); }
    LiveSource(const LiveSource &) = delete;
    LiveSource &operator=(const LiveSource &) = delete;
    QString identity;
    GWeakRef ref;
};

std::mutex gLiveMutex;              // guards gLiveSources
std::list<LiveSource> gLiveSources; // a list: a GWeakRef must not move

// Calls `f` with each live element standing for `identity`, and forgets the elements that are
// gone. The caller holds gLiveMutex.
template <typename F> void forEachLiveSource(const QString &identity, F f)
{
    for (auto it = gLiveSources.begin(); it != gLiveSources.end();) {
        auto *element = static_cast<GstElement *>(g_weak_ref_get(&it->ref));
        if (!element) {
            it = gLiveSources.erase(it);
            continue;
        }
        if (it->identity == identity)
            f(element);
        gst_object_unref(element);
        ++it;
    }
}

} // namespace

void unplugVirtualCameraSources(const QString &identity)
{
    std::lock_guard lock(gLiveMutex);
    forEachLiveSource(identity, markVirtualCameraUnplugged);
}

int virtualCameraSourcesInUse(const QString &identity)
{
    std::lock_guard lock(gLiveMutex);
    int inUse = 0;
    forEachLiveSource(identity, [&inUse](GstElement *element) {
        if (GstObject *parent = gst_object_get_parent(GST_OBJECT(element))) {
            ++inUse;
            gst_object_unref(parent);
        }
    });
    return inUse;
}

void rememberVirtualCameraSource(const QString &identity, GstElement *element)
{
    std::lock_guard lock(gLiveMutex);
    forEachLiveSource(QString(), [](GstElement *) {}); // forget the ones that are gone
    gLiveSources.emplace_back(identity, element);
}

} // namespace quillora::capture
