// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The cameras attached now, as last resolved: the capture layer publishes the records of the
// cameras it lists (at start-up, when cameras come and go, when the menu is used), and the USB
// host and the listener take a camera's record from here by its USB location. A camera that is
// not among them, or whose record the kernel no longer bears out (pulled out and put back at the
// same place, with new nodes), is resolved again when asked for, and kept.
//
// Any thread: the listener asks from its own.
#include "CameraRecord.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace quillora::devices {

// Replaces the cameras known for `roots` by `records` (the ones without a location are not kept:
// nothing asks for them by location).
void publishCameras(const SysfsRoots &roots, const std::vector<CameraRecord> &records);

// The record of the camera at `locationId`: the published one while it is current, else
// resolved now.
std::optional<CameraRecord> attachedCameraAt(const SysfsRoots &roots, std::uint32_t locationId);

// Resolves the camera at `locationId` now and keeps the new record: for a user that has seen the
// camera change (an input device the record lacks, a node that no longer opens).
std::optional<CameraRecord> refreshCameraAt(const SysfsRoots &roots, std::uint32_t locationId);

} // namespace quillora::devices
