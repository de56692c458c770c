// SPDX-License-Identifier: GPL-3.0-or-later
#include "V4l2Controls.h"

#include "CaptureLog.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>

namespace quillora::capture {

namespace {

// A driver that keeps answering must not keep us here: cameras have a few dozen controls, and
// a menu a handful of entries.
constexpr int kMostControls = 1024;
constexpr std::int64_t kMostMenuEntries = 256;

int requestOnFd(int fd, unsigned long request, void *argument)
{
    int rc;
    do {
        rc = ::ioctl(fd, request, argument);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// What an error says of the camera: gone (pulled out), or merely not doing what was asked.
bool meansGone(int error)
{
    return error == ENODEV || error == ENXIO || error == EBADF || error == ENOENT;
}

// A fixed-size name from the driver: up to its first NUL, never past the array.
template <std::size_t N> QString driverText(const char (&text)[N])
{
    return QString::fromUtf8(text, qsizetype(::strnlen(text, N))).simplified();
}

// One control as the driver describes it, from VIDIOC_QUERY_EXT_CTRL or the older
// VIDIOC_QUERYCTRL.
struct Described {
    std::uint32_t id = 0;
    std::uint32_t type = 0;
    QString name;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    std::int64_t step = 0;
    std::int64_t defaultValue = 0;
    std::uint32_t flags = 0;
};

enum class Query { Extended, Plain };

// The control after `id` (V4L2_CTRL_FLAG_NEXT_CTRL), or errno when there is none.
std::optional<Described> describeNext(const V4l2Controls::Request &request, Query query, std::uint32_t id, int *error)
{
    Described d;
    if (query == Query::Extended) {
        v4l2_query_ext_ctrl q{};
        q.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
        if (request(VIDIOC_QUERY_EXT_CTRL, &q) != 0) {
            *error = errno;
            return std::nullopt;
        }
        d = {q.id, q.type, driverText(q.name), q.minimum, q.maximum,
            std::int64_t(std::min<std::uint64_t>(q.step, INT64_MAX)), q.default_value, q.flags};
        return d;
    }
    v4l2_queryctrl q{};
    q.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    if (request(VIDIOC_QUERYCTRL, &q) != 0) {
        *error = errno;
        return std::nullopt;
    }
    const char(&name)[32] = reinterpret_cast<const char(&)[32]>(q.name);
    d = {q.id, q.type, driverText(name), q.minimum, q.maximum, q.step, q.default_value, q.flags};
    return d;
}

std::optional<ControlKind> kindOfType(std::uint32_t type)
{
    switch (type) {
    case V4L2_CTRL_TYPE_INTEGER:
        return ControlKind::Integer;
    case V4L2_CTRL_TYPE_BOOLEAN:
        return ControlKind::Boolean;
    case V4L2_CTRL_TYPE_MENU:
        return ControlKind::Menu;
    case V4L2_CTRL_TYPE_INTEGER_MENU:
        return ControlKind::IntegerMenu;
    case V4L2_CTRL_TYPE_BUTTON:
        return ControlKind::Button;
    default:
        return std::nullopt; // 64-bit integers, bit masks, texts, compound controls
    }
}

// The control the panel shows for a description, or nothing for one it leaves out.
std::optional<CameraControl> controlOf(const Described &d, std::uint32_t group, const QString &groupName)
{
    const auto kind = kindOfType(d.type);
    constexpr std::uint32_t kNotSettable
        = V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_HAS_PAYLOAD;
    if (!kind || (d.flags & kNotSettable))
        return std::nullopt;
    CameraControl c;
    c.id = d.id;
    c.kind = *kind;
    const KnownControl *known = knownControl(d.id);
    c.name = !d.name.isEmpty() ? d.name
        : known                ? QString::fromLatin1(known->name)
                               : QStringLiteral("Control 0x%1").arg(d.id, 8, 16, QLatin1Char('0'));
    c.inactive = d.flags & (V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_GRABBED);
    c.group = groupName.isEmpty() ? controlClassOf(d.id) : group;
    c.groupName = groupName;
    if (c.kind == ControlKind::Button)
        return c;
    if (c.kind == ControlKind::Boolean) {
        c.maximum = 1;
    } else {
        if (d.minimum > d.maximum) {
            qCInfo(lcCapture).noquote() << QStringLiteral("control %1 left out: its range %2..%3 is empty")
                                               .arg(c.name)
                                               .arg(d.minimum)
                                               .arg(d.maximum);
            return std::nullopt;
        }
        // An INTEGER control's values are 32 bits wide whatever range the driver claims.
        c.minimum = c.kind == ControlKind::Integer ? std::clamp<std::int64_t>(d.minimum, INT_MIN, INT_MAX) : d.minimum;
        c.maximum = c.kind == ControlKind::Integer ? std::clamp<std::int64_t>(d.maximum, INT_MIN, INT_MAX) : d.maximum;
        c.step = c.kind == ControlKind::Integer ? std::max<std::int64_t>(1, d.step) : 1;
    }
    c.defaultValue = d.defaultValue;
    c.value = d.defaultValue;
    return c;
}

} // namespace

std::unique_ptr<V4l2Controls> V4l2Controls::open(const QString &devicePath, QString *error)
{
    UniqueFd fd(::open(QFile::encodeName(devicePath).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(devicePath, errorText(errno));
        return nullptr;
    }
    const int raw = fd.get();
    auto controls = std::make_unique<V4l2Controls>(
        [raw](unsigned long request, void *argument) { return requestOnFd(raw, request, argument); }, devicePath);
    controls->m_fd = std::move(fd);
    return controls;
}

V4l2Controls::V4l2Controls(Request request, QString devicePath)
    : m_request(std::move(request))
    , m_devicePath(std::move(devicePath))
{
}

std::vector<ControlMenuEntry> V4l2Controls::menuOf(const CameraControl &control)
{
    for (const auto &[id, entries] : m_menus)
        if (id == control.id)
            return entries;
    std::vector<ControlMenuEntry> entries;
    // Drivers leave out what the camera does not support: those indexes are refused, and the
    // menu has a hole there.
    // A menu's indexes are 32-bit and not negative, whatever range the driver claims for them.
    const std::int64_t first = std::clamp<std::int64_t>(control.minimum, 0, UINT32_MAX);
    const std::int64_t last = std::min({control.maximum, std::int64_t(UINT32_MAX), first + kMostMenuEntries - 1});
    for (std::int64_t index = first; index <= last; ++index) {
        v4l2_querymenu item{};
        item.id = control.id;
        item.index = std::uint32_t(index);
        if (m_request(VIDIOC_QUERYMENU, &item) != 0)
            continue;
        entries.push_back({index,
            control.kind == ControlKind::IntegerMenu ? QString::number(qlonglong(item.value))
                                                     : driverText(reinterpret_cast<const char(&)[32]>(item.name))});
    }
    m_menus.emplace_back(control.id, entries);
    return entries;
}

std::optional<std::int64_t> V4l2Controls::readValue(std::uint32_t id, int *error)
{
    v4l2_ext_control control{};
    control.id = id;
    v4l2_ext_controls controls{};
    // Any class: every driver since Linux 4.4 takes it, and drivers before took 0 alike.
    controls.which = V4L2_CTRL_WHICH_CUR_VAL;
    controls.count = 1;
    controls.controls = &control;
    if (m_request(VIDIOC_G_EXT_CTRLS, &controls) != 0) {
        *error = errno;
        return std::nullopt;
    }
    const std::int32_t value = control.value;
    return value;
}

std::vector<CameraControl> V4l2Controls::list(QString *error)
{
    std::vector<CameraControl> out;
    Query query = Query::Extended;
    std::uint32_t id = 0;
    std::uint32_t group = 0;
    QString groupName;
    for (int n = 0; n < kMostControls; ++n) {
        int failure = 0;
        auto d = describeNext(m_request, query, id, &failure);
        if (!d && n == 0 && query == Query::Extended && failure == ENOTTY) {
            query = Query::Plain; // a driver older than the extended query
            d = describeNext(m_request, query, id, &failure);
        }
        if (!d) {
            // EINVAL ends the list; anything else the driver says ends it as well.
            if (meansGone(failure) && error)
                *error = QStringLiteral("%1: %2").arg(m_devicePath, errorText(failure));
            if (meansGone(failure) || (n == 0 && failure != EINVAL))
                return {};
            break;
        }
        // The next control always has a larger ID; one that does not is a driver going round.
        if (d->id == 0 || (n > 0 && d->id <= id))
            break;
        id = d->id;
        if (d->type == V4L2_CTRL_TYPE_CTRL_CLASS) {
            group = d->id;
            groupName = d->name;
            continue;
        }
        auto control = controlOf(*d, group, groupName);
        if (!control)
            continue;
        if (control->kind == ControlKind::Menu || control->kind == ControlKind::IntegerMenu) {
            control->menu = menuOf(*control);
            if (control->menu.empty())
                continue; // nothing in it can be chosen
        }
        if (control->holdsValue() && !(d->flags & V4L2_CTRL_FLAG_WRITE_ONLY)) {
            int readFailure = 0;
            if (const auto value = readValue(control->id, &readFailure)) {
                control->value = *value;
            } else if (meansGone(readFailure)) {
                if (error)
                    *error = QStringLiteral("%1: %2").arg(m_devicePath, errorText(readFailure));
                return {};
            } else {
                qCInfo(lcCapture).noquote() << QStringLiteral("control %1 cannot be read (%2); shown at its default")
                                                   .arg(control->name, errorText(readFailure));
            }
        }
        out.push_back(std::move(*control));
    }
    return out;
}

ControlWriteResult V4l2Controls::write(std::uint32_t id, std::int64_t value)
{
    v4l2_ext_control control{};
    control.id = id;
    control.value = std::int32_t(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
    v4l2_ext_controls controls{};
    controls.which = V4L2_CTRL_WHICH_CUR_VAL;
    controls.count = 1;
    controls.controls = &control;
    if (m_request(VIDIOC_S_EXT_CTRLS, &controls) == 0)
        return {};
    const int failure = errno;
    return {meansGone(failure) ? ControlWriteStatus::Gone : ControlWriteStatus::Refused, errorText(failure)};
}

} // namespace quillora::capture
