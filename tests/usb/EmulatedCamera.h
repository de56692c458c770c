#pragma once
// An emulated Quillora camera for the tests of the libusb host: umockdev gives the process (and
// the processes it starts) a sysfs with a root hub, a hub and the camera at bus 1, ports 4.2,
// with the camera's video node, and answers the camera's usbfs and video node ioctls here,
// recording every URB and every video driver control.
//
// Needs umockdev's preload library in the process (umockdev-wrapper).
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <umockdev.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace quillora::test {

constexpr std::uint32_t kEmulatedCameraLocation = 0x01420000;

// What the emulated kernel saw, and how it answers. The handlers run on umockdev's thread.
struct EmulatedWire {
    std::mutex mutex; // guards every field below

    std::vector<std::vector<std::uint8_t>> controlUrbs; // SETUP packet and data stage of each
    std::vector<int> claims;
    std::vector<int> releases;
    int claimErrno = 0;           // what a claim answers (EBUSY: the video driver holds it)
    int controlStatus = 0;        // the status of a reaped control URB (-EPIPE: a stall)
    bool controlsAnswered = true; // false: the camera never answers a control request

    struct Flying {
        UMockdevIoctlData *urb;
        bool control;
    };
    std::deque<Flying> flying;
    std::deque<UMockdevIoctlData *> discarded;
    int presses = 0; // interrupt reports the camera has ready

    std::vector<v4l2_control> videoControls;
    struct ExtensionQuery {
        std::uint8_t unit, selector, query;
        std::vector<std::uint8_t> data;
    };
    std::vector<ExtensionQuery> extensionQueries;
};

class EmulatedCameraBed {
public:
    EmulatedCameraBed();
    ~EmulatedCameraBed();
    EmulatedCameraBed(const EmulatedCameraBed &) = delete;
    EmulatedCameraBed &operator=(const EmulatedCameraBed &) = delete;

    // Empty when the camera is in place, else why not.
    const std::string &error() const { return m_error; }
    // Where the emulated /sys lies on disk.
    std::string sysDir() const;
    // The video driver lets go of the camera: its node disappears.
    void removeVideoNode();
    // The camera is unplugged: it and everything below it disappear (a "remove" uevent).
    void unplugCamera();
    // The camera's USB device node may not be opened by this user (its mode is 000); has no
    // effect for root.
    void denyCameraNode();
    // A second camera of the same model is plugged in at bus 1, ports 4.3 (an "add" uevent).
    bool plugSecondCamera();

    EmulatedWire wire;

private:
    bool add(const std::string &description);
    bool addUsbDevice(const std::string &path, const std::string &devnum, const std::string &devpath,
        const std::string &descriptors, const std::string &product);

    UMockdevTestbed *m_testbed = nullptr;
    UMockdevIoctlBase *m_usbfs = nullptr;
    UMockdevIoctlBase *m_video = nullptr;
    std::string m_error;
};

} // namespace quillora::test
