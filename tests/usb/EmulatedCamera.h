// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The camera at ports 4.2 (CameraOnPort42.h) in an emulated machine, with its video node (needs
// umockdev-wrapper): usbfs and video node ioctls answered here, every URB and video control recorded.
#include "EmulatedMachine.h"

#include <linux/videodev2.h>
#include <umockdev.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quillora::test {

// What the emulated kernel saw, and how it answers. The handlers run on umockdev's thread.
struct EmulatedWire {
    std::mutex mutex;                                   // guards every field below
    std::vector<std::vector<std::uint8_t>> controlUrbs; // SETUP packet and data stage of each
    std::vector<int> claims, releases;
    int claimErrno = 0; // EBUSY: the video driver holds the interface
    int presses = 0;    // interrupt reports the camera has ready
    struct Flying {
        UMockdevIoctlData *urb;
        bool control;
    };
    std::deque<Flying> flying;
    std::deque<UMockdevIoctlData *> discarded;
    std::vector<v4l2_control> videoControls;

    int pendingReads()
    {
        std::lock_guard lock(mutex);
        return int(std::count_if(flying.begin(), flying.end(), [](const Flying &f) { return !f.control; }));
    }
};

class EmulatedCameraBed {
public:
    // `descriptors`: the camera's device and configuration descriptors as hex, as its sysfs
    // `descriptors` file holds them; empty for the Quillora camera's own.
    explicit EmulatedCameraBed(std::string descriptors = {});
    ~EmulatedCameraBed();
    EmulatedCameraBed(const EmulatedCameraBed &) = delete;
    EmulatedCameraBed &operator=(const EmulatedCameraBed &) = delete;

    const std::string &error() const { return m_error; } // empty when the camera is in place
    void removeVideoNode();                              // the video driver lets go of the camera
    void denyCameraNode();                               // mode 000 on the camera's usbfs node (no effect for root)
    bool cameraNodeOpens() const;                        // this process may read and write the usbfs node

    EmulatedWire wire;

private:
    std::optional<EmulatedMachine> m_machine;
    UMockdevIoctlBase *m_usbfs = nullptr, *m_video = nullptr;
    std::string m_error;
};

} // namespace quillora::test
