// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's controls as its driver describes them through VIDIOC_QUERY_EXT_CTRL (or the older
// VIDIOC_QUERYCTRL), VIDIOC_QUERYMENU and VIDIOC_G_EXT_CTRLS: names without their NUL, ranges
// upside down, steps of 0, menus of a billion entries, IDs going round, errors anywhere. The
// input is the driver: its answers, taken from the bytes in the order the requests come. Every
// control listed must be one a panel can show and set, listing must end, and writing stored
// values to it must end.
#include "FuzzSupport.h"

#include "CameraControls.h"
#include "V4l2Controls.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <linux/videodev2.h>

using namespace quillora;

namespace {

// Answers each request from the fuzzer's bytes: whether it succeeds (else which errno) and what
// the driver writes into the argument.
int answer(FuzzedDataProvider &driver, unsigned long request, void *argument)
{
    if (driver.remaining_bytes() == 0 || driver.ConsumeIntegralInRange<int>(0, 15) == 0) {
        errno = driver.PickValueInArray({EINVAL, ENOTTY, EIO, EBUSY, EACCES, ENODEV, ERANGE});
        return -1;
    }
    switch (request) {
    case VIDIOC_QUERY_EXT_CTRL: {
        auto *q = static_cast<v4l2_query_ext_ctrl *>(argument);
        const std::uint32_t asked = q->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        q->id = driver.ConsumeBool() ? asked + driver.ConsumeIntegralInRange<std::uint32_t>(0, 4096)
                                     : driver.ConsumeIntegral<std::uint32_t>();
        q->type = driver.ConsumeIntegralInRange<std::uint32_t>(0, 12);
        driver.ConsumeData(q->name, sizeof q->name);
        q->minimum = driver.ConsumeIntegral<std::int64_t>();
        // Mostly a range a camera may have, near its minimum; at times anything at all.
        const std::int64_t span = driver.ConsumeIntegralInRange<std::int64_t>(-4, 600);
        q->maximum = driver.ConsumeBool() && q->minimum < INT64_MAX - 600 && q->minimum > INT64_MIN + 4
            ? q->minimum + span
            : driver.ConsumeIntegral<std::int64_t>();
        q->step = driver.ConsumeIntegral<std::uint64_t>();
        q->default_value = driver.ConsumeIntegral<std::int64_t>();
        q->flags = driver.ConsumeIntegral<std::uint32_t>();
        return 0;
    }
    case VIDIOC_QUERYCTRL: {
        auto *q = static_cast<v4l2_queryctrl *>(argument);
        q->id = (q->id & ~V4L2_CTRL_FLAG_NEXT_CTRL) + driver.ConsumeIntegralInRange<std::uint32_t>(0, 64);
        q->type = driver.ConsumeIntegralInRange<std::uint32_t>(0, 12);
        driver.ConsumeData(q->name, sizeof q->name);
        q->minimum = driver.ConsumeIntegral<std::int32_t>();
        q->maximum = driver.ConsumeIntegral<std::int32_t>();
        q->step = driver.ConsumeIntegral<std::int32_t>();
        q->default_value = driver.ConsumeIntegral<std::int32_t>();
        q->flags = driver.ConsumeIntegral<std::uint32_t>();
        return 0;
    }
    case VIDIOC_QUERYMENU: {
        auto *item = static_cast<v4l2_querymenu *>(argument);
        char name[sizeof item->name];
        driver.ConsumeData(name, sizeof name);
        std::memcpy(item->name, name, sizeof name);
        return 0;
    }
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_S_EXT_CTRLS: {
        auto *controls = static_cast<v4l2_ext_controls *>(argument);
        fuzz::check(controls->count == 1 && controls->controls, "a control request without its control");
        if (request == VIDIOC_G_EXT_CTRLS) {
            const std::int32_t value = driver.ConsumeIntegral<std::int32_t>();
            std::memcpy(
                reinterpret_cast<char *>(controls->controls) + offsetof(v4l2_ext_control, value), &value, sizeof value);
        }
        return 0;
    }
    default:
        errno = ENOTTY;
        return -1;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider driver(data, size);
    std::size_t requests = 0;
    capture::V4l2Controls controls(
        [&](unsigned long request, void *argument) {
            ++requests;
            return answer(driver, request, argument);
        },
        QStringLiteral("/dev/video0"));
    QString error;
    const std::vector<capture::CameraControl> listed = controls.list(&error);
    // At most 1024 controls, each with a read and up to 256 menu entries.
    fuzz::check(requests <= 1024 * 260 + 2, "listing the controls does not end");
    std::map<std::uint32_t, std::int64_t> stored;
    std::uint32_t previous = 0;
    for (const capture::CameraControl &c : listed) {
        fuzz::check(c.id > previous, "control IDs out of order or twice");
        previous = c.id;
        fuzz::check(c.step >= 1 && c.minimum <= c.maximum, "a range a slider cannot show");
        fuzz::check(c.kind != capture::ControlKind::Integer || (c.minimum >= INT_MIN && c.maximum <= INT_MAX),
            "an integer control beyond 32 bits");
        const bool menu = c.kind == capture::ControlKind::Menu || c.kind == capture::ControlKind::IntegerMenu;
        fuzz::check(menu != c.menu.empty() && c.menu.size() <= 256, "a menu without entries or without end");
        fuzz::check(!c.name.isEmpty() && !c.name.contains(QChar(0)), "a name that is none");
        if (const auto value = capture::nearestAllowedValue(c, c.value))
            stored[c.id]
                = *value + (c.kind == capture::ControlKind::Integer ? driver.ConsumeIntegral<std::int8_t>() : 0);
    }
    stored[0x00980900] = INT64_MAX;
    (void)capture::applyControlValues(controls, stored, QStringLiteral("fuzzed camera"));
    return 0;
}
