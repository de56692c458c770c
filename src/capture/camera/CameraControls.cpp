// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraControls.h"

#include "CaptureLog.h"

#include <QCoreApplication>

#include <algorithm>
#include <iterator>

namespace quillora::capture {

CameraControls::~CameraControls() = default;

namespace {

// Drivers report 64-bit ranges; the arithmetic on them must not overflow whatever they say.
using Wide = __int128;

std::int64_t clampToRange(Wide value, std::int64_t low, std::int64_t high)
{
    return std::int64_t(std::clamp<Wide>(value, low, high));
}

std::optional<std::int64_t> nearestMenuEntry(const CameraControl &control, std::int64_t value)
{
    std::optional<std::int64_t> best;
    Wide bestDistance = 0;
    for (const ControlMenuEntry &entry : control.menu) {
        const Wide distance = entry.index > value ? Wide(entry.index) - value : Wide(value) - entry.index;
        if (!best || distance < bestDistance || (distance == bestDistance && entry.index < *best)) {
            best = entry.index;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace

std::optional<std::int64_t> nearestAllowedValue(const CameraControl &control, std::int64_t value)
{
    switch (control.kind) {
    case ControlKind::Button:
        return std::nullopt;
    case ControlKind::Boolean:
        return value != 0 ? 1 : 0;
    case ControlKind::Menu:
    case ControlKind::IntegerMenu:
        return nearestMenuEntry(control, value);
    case ControlKind::Integer:
        break;
    }
    const std::int64_t low = std::min(control.minimum, control.maximum);
    const std::int64_t high = std::max(control.minimum, control.maximum);
    const Wide step = std::max<std::int64_t>(1, control.step);
    const Wide offset = Wide(clampToRange(value, low, high)) - low;
    // The nearest step, the lower one on a tie; a step past the maximum goes back one.
    Wide snapped = low + (offset + (step - 1) / 2) / step * step;
    if (snapped > high)
        snapped -= step;
    return clampToRange(snapped, low, high);
}

QString describeControlValue(const CameraControl &control, std::int64_t value)
{
    if (control.kind == ControlKind::Menu || control.kind == ControlKind::IntegerMenu) {
        for (const ControlMenuEntry &entry : control.menu)
            if (entry.index == value && !entry.name.trimmed().isEmpty())
                return entry.name;
    }
    return QString::number(value);
}

namespace {

// Writes one stored value; false when the camera went away.
bool applyOne(CameraControls &controls, const CameraControl &control, std::int64_t stored, const QString &camera,
    StoredValuesApplied &applied)
{
    const auto value = nearestAllowedValue(control, stored);
    if (!value)
        return true;
    if (*value != stored) {
        ++applied.clamped;
        qCInfo(lcCapture).noquote() << QStringLiteral(
            "picture control %1 of %2: stored %3 is outside what it takes now; set to %4")
                                           .arg(control.name, camera)
                                           .arg(stored)
                                           .arg(*value);
    }
    const ControlWriteResult result = controls.write(control.id, *value);
    switch (result.status) {
    case ControlWriteStatus::Gone:
        applied.gone = true;
        qCInfo(lcCapture).noquote() << QStringLiteral("picture controls of %1: the camera went away").arg(camera);
        return false;
    case ControlWriteStatus::Refused:
        ++applied.refused;
        qCInfo(lcCapture).noquote() << QStringLiteral("%1: the camera refused %2 (%3)")
                                           .arg(control.name, describeControlValue(control, *value), result.reason);
        return true;
    case ControlWriteStatus::Written:
        break;
    }
    ++applied.written;
    return true;
}

bool isSwitch(const CameraControl &c)
{
    return c.kind != ControlKind::Integer;
}

} // namespace

StoredValuesApplied applyControlValues(
    CameraControls &controls, const std::map<std::uint32_t, std::int64_t> &values, const QString &camera)
{
    StoredValuesApplied applied;
    QString error;
    const std::vector<CameraControl> offered = controls.list(&error);
    if (!error.isEmpty()) {
        qCInfo(lcCapture).noquote() << QStringLiteral("picture controls of %1 not set: %2").arg(camera, error);
        applied.gone = true;
        return applied;
    }
    for (const auto &stored : values) {
        const std::uint32_t id = stored.first;
        const auto it = std::find_if(offered.begin(), offered.end(), [id](const auto &c) { return c.id == id; });
        if (it == offered.end() || !it->holdsValue()) {
            ++applied.notOffered;
            qCInfo(lcCapture).noquote() << QStringLiteral(
                "picture control 0x%1 of %2 kept, not set: the camera does not offer it")
                                               .arg(id, 8, 16, QLatin1Char('0'))
                                               .arg(camera);
        }
    }
    // Switches and menus first: a camera takes an exposure time once its exposure is manual.
    for (const CameraControl &control : offered) {
        const auto stored = values.find(control.id);
        if (stored != values.end() && control.holdsValue() && isSwitch(control)
            && !applyOne(controls, control, stored->second, camera, applied))
            return applied;
    }
    // Then the numbers, as active or inactive as the switches left them. One whose automatic
    // mode is on is refused by newer drivers and means nothing meanwhile: it is left alone.
    const std::vector<CameraControl> now = controls.list(&error);
    for (const CameraControl &control : now) {
        const auto stored = values.find(control.id);
        if (stored == values.end() || isSwitch(control) || !control.holdsValue())
            continue;
        if (control.inactive) {
            qCInfo(lcCapture).noquote() << QStringLiteral(
                "picture control %1 of %2 kept, not set: its automatic mode is on")
                                               .arg(control.name, camera);
            continue;
        }
        if (!applyOne(controls, control, stored->second, camera, applied))
            return applied;
    }
    qCInfo(lcCapture).noquote()
        << QStringLiteral("picture controls of %1: %2 stored value(s) set").arg(camera).arg(applied.written);
    return applied;
}

const std::vector<KnownControl> &knownControls()
{
    static const std::vector<KnownControl> known = {
        {0x00980900, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Brightness"), "brightness"},
        {0x00980901, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Contrast"), "contrast"},
        {0x00980902, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Saturation"), "saturation"},
        {0x00980903, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Hue"), "hue"},
        {0x0098090c, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "White Balance, Automatic"),
            "white_balance_automatic"},
        {0x0098090d, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Do White Balance"), "do_white_balance"},
        {0x0098090e, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Red Balance"), "red_balance"},
        {0x0098090f, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Blue Balance"), "blue_balance"},
        {0x00980910, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Gamma"), "gamma"},
        {0x00980911, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Exposure"), "exposure"},
        {0x00980912, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Gain, Automatic"), "gain_automatic"},
        {0x00980913, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Gain"), "gain"},
        {0x00980914, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Horizontal Flip"), "horizontal_flip"},
        {0x00980915, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Vertical Flip"), "vertical_flip"},
        {0x00980918, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Power Line Frequency"),
            "power_line_frequency"},
        {0x00980919, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Hue, Automatic"), "hue_automatic"},
        {0x0098091a, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "White Balance Temperature"),
            "white_balance_temperature"},
        {0x0098091b, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Sharpness"), "sharpness"},
        {0x0098091c, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Backlight Compensation"),
            "backlight_compensation"},
        {0x0098091f, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Color Effects"), "color_effects"},
        {0x009a0901, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Auto Exposure"), "auto_exposure"},
        {0x009a0902, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Exposure Time, Absolute"),
            "exposure_time_absolute"},
        {0x009a0903, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Exposure, Dynamic Framerate"),
            "exposure_dynamic_framerate"},
        {0x009a0904, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Pan, Relative"), "pan_relative"},
        {0x009a0905, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Tilt, Relative"), "tilt_relative"},
        {0x009a0906, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Pan, Reset"), "pan_reset"},
        {0x009a0907, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Tilt, Reset"), "tilt_reset"},
        {0x009a0908, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Pan, Absolute"), "pan_absolute"},
        {0x009a0909, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Tilt, Absolute"), "tilt_absolute"},
        {0x009a090a, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Focus, Absolute"), "focus_absolute"},
        {0x009a090b, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Focus, Relative"), "focus_relative"},
        {0x009a090c, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Focus, Automatic Continuous"),
            "focus_automatic_continuous"},
        {0x009a090d, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Zoom, Absolute"), "zoom_absolute"},
        {0x009a090e, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Zoom, Relative"), "zoom_relative"},
        {0x009a090f, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Zoom, Continuous"), "zoom_continuous"},
        {0x009a0910, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Privacy"), "privacy"},
        {0x009a0911, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Iris, Absolute"), "iris_absolute"},
        {0x009a0912, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Iris, Relative"), "iris_relative"},
        {0x009a0913, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Auto Exposure, Bias"),
            "auto_exposure_bias"},
        {0x009a0914, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "White Balance, Auto & Preset"),
            "white_balance_auto_preset"},
        {0x009a091c, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Auto Focus, Start"), "auto_focus_start"},
        {0x009a091d, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Auto Focus, Stop"), "auto_focus_stop"},
        {0x009a091f, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Auto Focus, Range"), "auto_focus_range"},
        {0x009a0920, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Pan, Speed"), "pan_speed"},
        {0x009a0921, QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Tilt, Speed"), "tilt_speed"},
    };
    return known;
}

QString translatedControlText(const QString &driverText)
{
    // What uvcvideo names its menus' entries and the kernel its classes.
    static const char *const kWords[] = {
        QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "User Controls"),
        QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Camera Controls"),
        QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Disabled"),
        QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "50 Hz"),
        QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "60 Hz"),
        QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Auto"),
        QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Auto Mode"),
        QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Manual Mode"),
        QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Shutter Priority Mode"),
        QT_TRANSLATE_NOOP("quillora::capture::CameraControls", "Aperture Priority Mode"),
    };
    const QByteArray text = driverText.toUtf8();
    const bool known = std::any_of(std::begin(kWords), std::end(kWords), [&](const char *w) { return text == w; })
        || std::any_of(
            knownControls().begin(), knownControls().end(), [&](const KnownControl &k) { return text == k.name; });
    return known ? QCoreApplication::translate("quillora::capture::CameraControls", text.constData()) : driverText;
}

const KnownControl *knownControl(std::uint32_t id)
{
    const auto &known = knownControls();
    const auto it = std::find_if(known.begin(), known.end(), [id](const KnownControl &k) { return k.id == id; });
    return it == known.end() ? nullptr : &*it;
}

} // namespace quillora::capture
