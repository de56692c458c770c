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

std::mutex gMutex;                 // guards gPublished
std::vector<Published> gPublished; // the records last published or resolved, per pair of roots

// The records kept for `roots`, made empty when there are none yet. gMutex held.
std::map<std::uint32_t, CameraRecord> &recordsFor(const SysfsRoots &roots)
{
    for (Published &published : gPublished)
        if (published.roots == roots)
            return published.byLocation;
    gPublished.push_back({roots, {}});
    return gPublished.back().byLocation;
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
    std::lock_guard lock(gMutex);
    recordsFor(roots) = std::move(byLocation);
}

std::optional<CameraRecord> attachedCameraAt(const SysfsRoots &roots, std::uint32_t locationId)
{
    {
        std::lock_guard lock(gMutex);
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
    std::lock_guard lock(gMutex);
    auto &records = recordsFor(roots);
    if (record)
        records.insert_or_assign(locationId, *record);
    else
        records.erase(locationId);
    return record;
}

} // namespace quillora::devices
