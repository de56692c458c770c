// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The control side of a V4L2 node in umockdev's emulated machine: the program's real ioctls
// (VIDIOC_QUERY_EXT_CTRL, VIDIOC_QUERYCTRL, VIDIOC_QUERYMENU, VIDIOC_G_EXT_CTRLS,
// VIDIOC_S_EXT_CTRLS) reach a handler attached to the node (UMockdevIoctlBase's handle-ioctl),
// which answers as uvcvideo does: controls in ID order after their class, menus with holes,
// automatic modes that make their numbers inactive, writes to an inactive control refused with
// EACCES, ENODEV once the camera is pulled out. Answered on umockdev's own thread.
#include <umockdev.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace quillora::test {

class EmulatedControlNode {
public:
    struct Control {
        std::uint32_t id = 0;
        std::uint32_t type = 1; // V4L2_CTRL_TYPE_*
        std::string name;
        std::int64_t minimum = 0;
        std::int64_t maximum = 0;
        std::int64_t step = 1;
        std::int64_t defaultValue = 0;
        std::int32_t value = 0;
        std::uint32_t flags = 0;                   // V4L2_CTRL_FLAG_*; INACTIVE follows the automatic modes
        std::map<std::uint32_t, std::string> menu; // index -> name (an integer menu's: the number)
    };

    // Attaches to `devnode` ("/dev/video0") of `testbed` a driver offering `controls`. Without
    // `extendedQuery`, the driver answers only the older VIDIOC_QUERYCTRL.
    EmulatedControlNode(
        UMockdevTestbed *testbed, std::string devnode, std::vector<Control> controls, bool extendedQuery = true);
    ~EmulatedControlNode();
    EmulatedControlNode(const EmulatedControlNode &) = delete;
    EmulatedControlNode &operator=(const EmulatedControlNode &) = delete;

    // A document camera as uvcvideo shows it: the two class controls, brightness, contrast,
    // automatic white balance and its temperature, power-line frequency (0..2), auto exposure
    // (1 and 3 of 0..3) and exposure time, focus, a pan reset button, an integer menu; and what a
    // panel must leave out: a read-only privacy switch, a disabled control, a 64-bit integer.
    static std::vector<Control> documentCamera();

    // Refuses the writes of `id` with `error` (an errno); 0 accepts them again.
    void refuse(std::uint32_t id, int error);
    // The camera is pulled out: every request fails with ENODEV from now on.
    void unplug();
    // The writes received (control, value), in order.
    std::vector<std::pair<std::uint32_t, std::int32_t>> writes() const;
    std::int32_t value(std::uint32_t id) const;
    // Called on umockdev's thread with each write before it is answered.
    void setWriteObserver(std::function<void(std::uint32_t id, std::int32_t value)> observer);

private:
    static gboolean handle(UMockdevIoctlBase *base, UMockdevIoctlClient *client, gpointer self);
    bool answer(unsigned long request, UMockdevIoctlData *argument, int *error);
    bool queryNext(void *query, bool extended, int *error);
    bool queryMenu(void *item, int *error);
    bool controls(UMockdevIoctlData *argument, bool set, int *error);
    Control *find(std::uint32_t id);
    void followAutomaticModes();

    UMockdevTestbed *m_testbed;
    std::string m_devnode;
    UMockdevIoctlBase *m_handler;
    bool m_extendedQuery;
    mutable std::mutex m_mutex; // guards everything below
    std::vector<Control> m_controls;
    std::map<std::uint32_t, int> m_refusals;
    bool m_unplugged = false;
    std::vector<std::pair<std::uint32_t, std::int32_t>> m_writes;
    std::function<void(std::uint32_t, std::int32_t)> m_observer;
};

} // namespace quillora::test
