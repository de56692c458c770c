// SPDX-License-Identifier: GPL-3.0-or-later
#include "EmulatedControlNode.h"

#include "HandOff.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include <linux/videodev2.h>

namespace quillora::test {

namespace {

using Control = EmulatedControlNode::Control;

Control make(std::uint32_t id, std::uint32_t type, const char *name, std::int64_t minimum, std::int64_t maximum,
    std::int64_t step, std::int64_t defaultValue, std::uint32_t flags = 0,
    std::map<std::uint32_t, std::string> menu = {})
{
    return {id, type, name, minimum, maximum, step, defaultValue, std::int32_t(defaultValue), flags, std::move(menu)};
}

// Frees what umockdev_ioctl_data_resolve handed out.
struct Resolved {
    UMockdevIoctlData *data = nullptr;
    ~Resolved()
    {
        if (data)
            g_object_unref(data);
    }
};

template <std::size_t N> void copyName(char (&to)[N], const std::string &from)
{
    std::memset(to, 0, N);
    std::memcpy(to, from.data(), std::min(from.size(), N - 1));
}

} // namespace

EmulatedControlNode::EmulatedControlNode(
    UMockdevTestbed *testbed, std::string devnode, std::vector<Control> controls, bool extendedQuery)
    : m_testbed(testbed)
    , m_devnode(std::move(devnode))
    , m_handler(umockdev_ioctl_base_new())
    , m_extendedQuery(extendedQuery)
    , m_controls(std::move(controls))
{
    std::sort(m_controls.begin(), m_controls.end(), [](const Control &a, const Control &b) { return a.id < b.id; });
    followAutomaticModes();
    // umockdev's thread takes the node from here through GLib (attach below, and its own queue
    // of requests), which the sanitizer cannot follow: the node, its lock included, is handed
    // over here, taken over by each answer, and handed back when the answer is done.
    handOff(this);
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(handle), this);
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_testbed, m_devnode.c_str(), m_handler, &error)) {
        g_printerr("cannot attach the control handler to %s: %s\n", m_devnode.c_str(), error ? error->message : "");
        g_clear_error(&error);
    }
}

EmulatedControlNode::~EmulatedControlNode()
{
    umockdev_testbed_detach_ioctl(m_testbed, m_devnode.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(m_handler, this);
    g_object_unref(m_handler);
    takeOver(this); // the last answer is done before the node and its lock go
}

std::vector<Control> EmulatedControlNode::documentCamera()
{
    constexpr std::uint32_t kClass = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;
    return {
        make(0x00980001, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0, 0, kClass),
        make(0x00980900, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64, 1, 0),
        make(0x00980901, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 95, 1, 32),
        make(0x0098090c, V4L2_CTRL_TYPE_BOOLEAN, "White Balance, Automatic", 0, 1, 1, 1),
        make(0x00980918, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1, 1, 0,
            {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}}),
        make(0x0098091a, V4L2_CTRL_TYPE_INTEGER, "White Balance Temperature", 2800, 6500, 10, 4600),
        make(0x00980920, V4L2_CTRL_TYPE_INTEGER, "Not Here", 0, 10, 1, 5, V4L2_CTRL_FLAG_DISABLED),
        make(0x00980931, V4L2_CTRL_TYPE_INTEGER64, "Big Number", 0, 1LL << 40, 1, 0),
        make(0x009a0001, V4L2_CTRL_TYPE_CTRL_CLASS, "Camera Controls", 0, 0, 0, 0, kClass),
        make(0x009a0901, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 1, 3, 0,
            {{1, "Manual Mode"}, {3, "Aperture Priority Mode"}}),
        make(0x009a0902, V4L2_CTRL_TYPE_INTEGER, "Exposure Time, Absolute", 3, 2047, 1, 250),
        make(0x009a0906, V4L2_CTRL_TYPE_BUTTON, "Pan, Reset", 0, 0, 0, 0,
            V4L2_CTRL_FLAG_WRITE_ONLY | V4L2_CTRL_FLAG_EXECUTE_ON_WRITE),
        make(0x009a090a, V4L2_CTRL_TYPE_INTEGER, "Focus, Absolute", 0, 250, 5, 0),
        make(0x009a090c, V4L2_CTRL_TYPE_BOOLEAN, "Focus, Automatic Continuous", 0, 1, 1, 1),
        make(0x009a0910, V4L2_CTRL_TYPE_BOOLEAN, "Privacy", 0, 1, 1, 0, V4L2_CTRL_FLAG_READ_ONLY),
        make(0x009a0950, V4L2_CTRL_TYPE_INTEGER_MENU, "Zoom Preset", 0, 2, 1, 0, 0, {{0, "100"}, {2, "400"}}),
    };
}

void EmulatedControlNode::refuse(std::uint32_t id, int error)
{
    std::lock_guard lock(m_mutex);
    m_refusals[id] = error;
}

void EmulatedControlNode::unplug()
{
    std::lock_guard lock(m_mutex);
    m_unplugged = true;
}

std::vector<std::pair<std::uint32_t, std::int32_t>> EmulatedControlNode::writes() const
{
    std::lock_guard lock(m_mutex);
    return m_writes;
}

std::int32_t EmulatedControlNode::value(std::uint32_t id) const
{
    std::lock_guard lock(m_mutex);
    for (const Control &c : m_controls)
        if (c.id == id)
            return c.value;
    return 0;
}

void EmulatedControlNode::setWriteObserver(std::function<void(std::uint32_t, std::int32_t)> observer)
{
    std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

Control *EmulatedControlNode::find(std::uint32_t id)
{
    const auto it = std::find_if(m_controls.begin(), m_controls.end(), [id](const Control &c) { return c.id == id; });
    return it == m_controls.end() ? nullptr : &*it;
}

// As uvcvideo: a number whose automatic mode is on is inactive.
void EmulatedControlNode::followAutomaticModes()
{
    const auto mode = [this](std::uint32_t id, std::int32_t off) {
        const Control *c = find(id);
        return c && c->value != off;
    };
    for (Control &c : m_controls) {
        bool automatic = false;
        if (c.id == V4L2_CID_WHITE_BALANCE_TEMPERATURE)
            automatic = mode(V4L2_CID_AUTO_WHITE_BALANCE, 0);
        else if (c.id == V4L2_CID_EXPOSURE_ABSOLUTE)
            automatic = mode(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL);
        else if (c.id == V4L2_CID_FOCUS_ABSOLUTE)
            automatic = mode(V4L2_CID_FOCUS_AUTO, 0);
        else
            continue;
        c.flags = automatic ? c.flags | V4L2_CTRL_FLAG_INACTIVE : c.flags & ~V4L2_CTRL_FLAG_INACTIVE;
    }
}

gboolean EmulatedControlNode::handle(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
{
    auto *node = static_cast<EmulatedControlNode *>(self);
    takeOver(node);
    int error = 0;
    const bool answered
        = node->answer(umockdev_ioctl_client_get_request(client), umockdev_ioctl_client_get_arg(client), &error);
    handOff(node);
    umockdev_ioctl_client_complete(client, answered ? 0 : -1, answered ? 0 : error);
    return TRUE;
}

bool EmulatedControlNode::answer(unsigned long request, UMockdevIoctlData *argument, int *error)
{
    const auto resolve
        = [argument](std::size_t size) { return Resolved{umockdev_ioctl_data_resolve(argument, 0, size, nullptr)}; };
    std::lock_guard lock(m_mutex);
    if (m_unplugged) {
        *error = ENODEV;
        return false;
    }
    *error = ENOTTY;
    switch (request) {
    case VIDIOC_QUERY_EXT_CTRL: {
        const Resolved query = resolve(sizeof(v4l2_query_ext_ctrl));
        return m_extendedQuery && query.data && queryNext(query.data->data, true, error);
    }
    case VIDIOC_QUERYCTRL: {
        const Resolved query = resolve(sizeof(v4l2_queryctrl));
        return query.data && queryNext(query.data->data, false, error);
    }
    case VIDIOC_QUERYMENU: {
        const Resolved item = resolve(sizeof(v4l2_querymenu));
        return item.data && queryMenu(item.data->data, error);
    }
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_S_EXT_CTRLS:
        return controls(argument, request == VIDIOC_S_EXT_CTRLS, error);
    default:
        return false;
    }
}

bool EmulatedControlNode::queryNext(void *raw, bool extended, int *error)
{
    std::uint32_t &requested
        = extended ? static_cast<v4l2_query_ext_ctrl *>(raw)->id : static_cast<v4l2_queryctrl *>(raw)->id;
    const bool next = requested & V4L2_CTRL_FLAG_NEXT_CTRL;
    const std::uint32_t after = requested & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
    const auto it = std::find_if(
        m_controls.begin(), m_controls.end(), [&](const Control &c) { return next ? c.id > after : c.id == after; });
    if (it == m_controls.end()) {
        *error = EINVAL;
        return false;
    }
    const Control &c = *it;
    if (extended) {
        auto *q = static_cast<v4l2_query_ext_ctrl *>(raw);
        *q = {};
        q->id = c.id;
        q->type = c.type;
        copyName(q->name, c.name);
        q->minimum = c.minimum;
        q->maximum = c.maximum;
        q->step = std::uint64_t(c.step);
        q->default_value = c.defaultValue;
        q->flags = c.flags;
        q->elem_size = c.type == V4L2_CTRL_TYPE_INTEGER64 ? 8 : 4;
        q->elems = 1;
        return true;
    }
    auto *q = static_cast<v4l2_queryctrl *>(raw);
    *q = {};
    q->id = c.id;
    q->type = c.type;
    copyName(reinterpret_cast<char(&)[32]>(q->name), c.name);
    q->minimum = std::int32_t(c.minimum);
    q->maximum = std::int32_t(c.maximum);
    q->step = std::int32_t(c.step);
    q->default_value = std::int32_t(c.defaultValue);
    q->flags = c.flags;
    return true;
}

bool EmulatedControlNode::queryMenu(void *raw, int *error)
{
    auto *item = static_cast<v4l2_querymenu *>(raw);
    const Control *c = find(item->id);
    const auto entry = c ? c->menu.find(item->index) : std::map<std::uint32_t, std::string>::const_iterator();
    if (!c || entry == c->menu.end()) {
        *error = EINVAL; // a hole: the camera does not support this entry
        return false;
    }
    if (c->type == V4L2_CTRL_TYPE_INTEGER_MENU)
        item->value = std::stoll(entry->second);
    else
        copyName(reinterpret_cast<char(&)[32]>(item->name), entry->second);
    return true;
}

bool EmulatedControlNode::controls(UMockdevIoctlData *argument, bool set, int *error)
{
    const Resolved head{umockdev_ioctl_data_resolve(argument, 0, sizeof(v4l2_ext_controls), nullptr)};
    if (!head.data)
        return false;
    const auto *request = reinterpret_cast<const v4l2_ext_controls *>(head.data->data);
    const std::size_t count = request->count;
    const Resolved items{umockdev_ioctl_data_resolve(
        head.data, offsetof(v4l2_ext_controls, controls), count * sizeof(v4l2_ext_control), nullptr)};
    if (!items.data || count == 0) {
        *error = EINVAL;
        return false;
    }
    auto *item = reinterpret_cast<v4l2_ext_control *>(items.data->data);
    for (std::size_t i = 0; i < count; ++i, ++item) {
        Control *c = find(item->id);
        if (!c || c->type == V4L2_CTRL_TYPE_CTRL_CLASS) {
            *error = EINVAL;
            return false;
        }
        if (!set) {
            if (c->flags & V4L2_CTRL_FLAG_WRITE_ONLY) {
                *error = EACCES;
                return false;
            }
            item->value = c->value;
            continue;
        }
        const std::int32_t wanted = item->value;
        if (m_observer)
            m_observer(c->id, wanted);
        m_writes.emplace_back(c->id, wanted);
        const auto refusal = m_refusals.find(c->id);
        if (refusal != m_refusals.end() && refusal->second != 0) {
            *error = refusal->second;
            return false;
        }
        if ((c->flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_INACTIVE))
            || ((c->type == V4L2_CTRL_TYPE_MENU || c->type == V4L2_CTRL_TYPE_INTEGER_MENU) && !c->menu.count(wanted))) {
            *error = (c->flags & V4L2_CTRL_FLAG_INACTIVE) || (c->flags & V4L2_CTRL_FLAG_READ_ONLY) ? EACCES : EINVAL;
            return false;
        }
        if (c->type != V4L2_CTRL_TYPE_BUTTON)
            c->value = std::int32_t(std::clamp<std::int64_t>(wanted, c->minimum, c->maximum));
        followAutomaticModes();
    }
    return true;
}

} // namespace quillora::test
