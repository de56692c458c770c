// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in cameras that stand for a device, so that the device can be pulled out: weak
// references to the elements, by the device's identity.
#include "VirtualCamera_p.h"

#include <list>

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

void rememberLiveVirtualCamera(const QString &identity, GstElement *camera)
{
    std::lock_guard lock(gLiveMutex);
    forEachLiveSource(QString(), [](GstElement *) {}); // forget the ones that are gone
    gLiveSources.emplace_back(identity, camera);
}

} // namespace quillora::capture
