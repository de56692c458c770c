// SPDX-License-Identifier: GPL-3.0-or-later
#include "AttachedCameras.h"

#include <map>
#include <mutex>
#include <vector>

namespace quillora::devices {

namespace {

struct Published {
    SysfsRoots roots;
    std::map<std::uint32_t, CameraRecord> byLocation;
};

struct Registry {
    std::mutex mutex;                 // guards published
    std::vector<Published> published; // the records last published or resolved, per pair of roots
};

// Never destroyed: the listener thread may still ask while the process ends.
Registry &registry()
{
    static Registry *const kept = new Registry;
    return *kept;
}

// The records kept for `roots`, made empty when there are none yet. The registry's lock held.
std::map<std::uint32_t, CameraRecord> &recordsFor(const SysfsRoots &roots)
{
    for (Published &published : registry().published)
        if (published.roots == roots)
            return published.byLocation;
    registry().published.push_back({roots, {}});
    return registry().published.back().byLocation;
}

} // namespace

void publishCameras(const SysfsRoots &roots, const std::vector<CameraRecord> &records)
{
    std::map<std::uint32_t, CameraRecord> byLocation;
    for (const CameraRecord &record : records) {
        // Several nodes of one device are listed as several cameras; the first stands for it.
        if (record.locationId)
            byLocation.emplace(*record.locationId, record);
    }
    std::lock_guard lock(registry().mutex);
    recordsFor(roots) = std::move(byLocation);
}

std::optional<CameraRecord> attachedCameraAt(const SysfsRoots &roots, std::uint32_t locationId)
{
    {
        std::lock_guard lock(registry().mutex);
        const auto &records = recordsFor(roots);
        const auto it = records.find(locationId);
        if (it != records.end() && recordStillCurrent(it->second))
            return it->second;
    }
    return refreshCameraAt(roots, locationId);
}

std::optional<CameraRecord> refreshCameraAt(const SysfsRoots &roots, std::uint32_t locationId)
{
    // Resolved outside the lock: sysfs is slow next to a lookup, and another thread may ask.
    auto record = resolveCameraAt(roots, locationId);
    std::lock_guard lock(registry().mutex);
    auto &records = recordsFor(roots);
    if (record)
        records.insert_or_assign(locationId, *record);
    else
        records.erase(locationId);
    return record;
}

} // namespace quillora::devices
