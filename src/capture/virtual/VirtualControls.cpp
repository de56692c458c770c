// SPDX-License-Identifier: GPL-3.0-or-later
#include "VirtualControls.h"

#include "CaptureLog.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

namespace quillora::capture {

namespace {

// The IDs the look and the automatic modes are made of.
constexpr std::uint32_t kBrightness = 0x00980900;
constexpr std::uint32_t kContrast = 0x00980901;
constexpr std::uint32_t kSaturation = 0x00980902;
constexpr std::uint32_t kAutoWhiteBalance = 0x0098090c;
constexpr std::uint32_t kAutoGain = 0x00980912;
constexpr std::uint32_t kGain = 0x00980913;
constexpr std::uint32_t kWhiteBalanceTemperature = 0x0098091a;
constexpr std::uint32_t kAutoExposure = 0x009a0901;
constexpr std::uint32_t kExposureTime = 0x009a0902;
constexpr std::uint32_t kFocus = 0x009a090a;
constexpr std::uint32_t kAutoFocus = 0x009a090c;
constexpr std::int64_t kManualExposure = 1; // V4L2_EXPOSURE_MANUAL

CameraControl integer(std::uint32_t id, std::int64_t minimum, std::int64_t maximum, std::int64_t step,
    std::int64_t defaultValue, std::uint32_t group)
{
    CameraControl c;
    c.id = id;
    c.name = QString::fromLatin1(knownControl(id)->name);
    c.minimum = minimum;
    c.maximum = maximum;
    c.step = step;
    c.defaultValue = c.value = defaultValue;
    c.group = group;
    c.groupName = QString::fromLatin1(group == kUserControls ? "User Controls" : "Camera Controls");
    return c;
}

CameraControl boolean(std::uint32_t id, bool defaultValue, std::uint32_t group)
{
    CameraControl c = integer(id, 0, 1, 1, defaultValue ? 1 : 0, group);
    c.kind = ControlKind::Boolean;
    return c;
}

CameraControl menu(std::uint32_t id, std::vector<ControlMenuEntry> entries, std::int64_t defaultValue,
    std::int64_t maximum, std::uint32_t group)
{
    CameraControl c = integer(id, 0, maximum, 1, defaultValue, group);
    c.kind = ControlKind::Menu;
    c.menu = std::move(entries);
    return c;
}

const CameraControl *find(const std::vector<CameraControl> &controls, std::uint32_t id)
{
    const auto it = std::find_if(controls.begin(), controls.end(), [id](const auto &c) { return c.id == id; });
    return it == controls.end() ? nullptr : &*it;
}

// The driver's part: a control whose automatic mode is on is inactive.
void markInactive(std::vector<CameraControl> &controls)
{
    const auto automatic = [&](std::uint32_t id, auto isOn) {
        const CameraControl *c = find(controls, id);
        return c && isOn(c->value);
    };
    const auto on = [](std::int64_t v) { return v != 0; };
    for (CameraControl &c : controls) {
        if (c.id == kWhiteBalanceTemperature)
            c.inactive = automatic(kAutoWhiteBalance, on);
        else if (c.id == kExposureTime)
            c.inactive = automatic(kAutoExposure, [](std::int64_t v) { return v != kManualExposure; });
        else if (c.id == kFocus)
            c.inactive = automatic(kAutoFocus, on);
        else if (c.id == kGain)
            c.inactive = automatic(kAutoGain, on);
    }
}

// How far a control stands from its default, as a share of its range (-1..1).
double shareFromDefault(const CameraControl &c)
{
    const double range = double(c.maximum) - double(c.minimum);
    // A listing may hold a value or default outside the range: the look stays within bounds.
    return range > 0 ? std::clamp((double(c.value) - double(c.defaultValue)) / range, -1.0, 1.0) : 0.0;
}

PictureLook lookOf(const std::vector<CameraControl> &controls)
{
    PictureLook look;
    if (const CameraControl *c = find(controls, kBrightness))
        look.brightness = int(std::lround(shareFromDefault(*c) * 256));
    if (const CameraControl *c = find(controls, kContrast))
        look.contrast = std::max(0.0, 1.0 + 2 * shareFromDefault(*c));
    if (const CameraControl *c = find(controls, kSaturation))
        look.saturation = std::max(0.0, 1.0 + 2 * shareFromDefault(*c));
    // Set lower than the light's own temperature, white balance turns the page blue; higher, yellow.
    const CameraControl *temperature = find(controls, kWhiteBalanceTemperature);
    if (temperature && !temperature->inactive) {
        const double shift = shareFromDefault(*temperature);
        look.redGain = 1.0 + 0.6 * shift;
        look.blueGain = 1.0 - 0.6 * shift;
    }
    const CameraControl *exposure = find(controls, kExposureTime);
    if (exposure && !exposure->inactive && exposure->defaultValue > 0)
        look.exposure = std::clamp(double(exposure->value) / double(exposure->defaultValue), 0.05, 8.0);
    return look;
}

struct State {
    std::mutex mutex; // guards controls and look
    std::vector<CameraControl> controls;
    LookNow look;
    std::atomic<bool> gone{false}; // the camera was pulled out: its controls answer no more
};

std::mutex gStatesMutex; // guards gStates
std::map<QString, std::shared_ptr<State>> gStates;
std::atomic<quint64> gGeneration{0};
VirtualControlObserver gObserver; // main thread only

// Called with the state's lock held.
void updateLook(State &state)
{
    markInactive(state.controls);
    state.look = {lookOf(state.controls), ++gGeneration};
}

class VirtualCameraControls : public CameraControls {
public:
    VirtualCameraControls(QString identity, std::shared_ptr<State> state)
        : m_identity(std::move(identity))
        , m_state(std::move(state))
    {
    }

    std::vector<CameraControl> list(QString *error) override
    {
        if (m_state->gone) {
            if (error)
                *error = QStringLiteral("the virtual camera %1 is not attached").arg(m_identity);
            return {};
        }
        std::lock_guard lock(m_state->mutex);
        return m_state->controls;
    }

    ControlWriteResult write(std::uint32_t id, std::int64_t value) override
    {
        if (m_state->gone)
            return {ControlWriteStatus::Gone, QString::fromLocal8Bit(std::strerror(ENODEV))};
        if (gObserver) {
            if (const int refusal = gObserver(m_identity, id, value))
                return {refusal == ENODEV ? ControlWriteStatus::Gone : ControlWriteStatus::Refused,
                    QString::fromLocal8Bit(std::strerror(refusal))};
        }
        std::lock_guard lock(m_state->mutex);
        const auto it = std::find_if(
            m_state->controls.begin(), m_state->controls.end(), [id](const auto &c) { return c.id == id; });
        if (it == m_state->controls.end())
            return {ControlWriteStatus::Refused, QString::fromLocal8Bit(std::strerror(EINVAL))};
        if (!it->holdsValue())
            return {};
        // As a driver does: a number is brought into range and onto a step, a menu index the
        // camera does not have is refused.
        const auto allowed = nearestAllowedValue(*it, value);
        const bool isMenu = it->kind == ControlKind::Menu || it->kind == ControlKind::IntegerMenu;
        if (!allowed || (isMenu && *allowed != value))
            return {ControlWriteStatus::Refused, QString::fromLocal8Bit(std::strerror(EINVAL))};
        it->value = *allowed;
        updateLook(*m_state);
        return {};
    }

private:
    QString m_identity;
    std::shared_ptr<State> m_state;
};

} // namespace

std::vector<CameraControl> virtualCameraControls()
{
    std::vector<CameraControl> controls = {
        integer(kBrightness, -64, 64, 1, 0, kUserControls),
        integer(kContrast, 0, 100, 1, 50, kUserControls),
        integer(kSaturation, 0, 100, 1, 50, kUserControls),
        boolean(kAutoWhiteBalance, true, kUserControls),
        menu(0x00980918, {{0, QStringLiteral("Disabled")}, {1, QStringLiteral("50 Hz")}, {2, QStringLiteral("60 Hz")}},
            1, 2, kUserControls),
        integer(kWhiteBalanceTemperature, 2800, 6500, 10, 4600, kUserControls),
        menu(kAutoExposure, {{1, QStringLiteral("Manual Mode")}, {3, QStringLiteral("Aperture Priority Mode")}}, 3, 3,
            kCameraControls),
        integer(kExposureTime, 3, 2047, 1, 250, kCameraControls),
        integer(kFocus, 0, 1023, 1, 0, kCameraControls),
        boolean(kAutoFocus, true, kCameraControls),
        integer(0x009a090d, 100, 500, 1, 100, kCameraControls),
    };
    markInactive(controls);
    return controls;
}

LookNow virtualCameraLook(const QString &identity)
{
    std::shared_ptr<State> state;
    {
        std::lock_guard lock(gStatesMutex);
        const auto it = gStates.find(identity);
        if (it == gStates.end())
            return {};
        state = it->second;
    }
    std::lock_guard lock(state->mutex);
    return state->look;
}

std::unique_ptr<CameraControls> openVirtualCameraControls(
    const QString &identity, const QString &listingPath, QString *error)
{
    std::lock_guard lock(gStatesMutex);
    auto &state = gStates[identity];
    if (!state) {
        std::vector<CameraControl> controls;
        if (listingPath.isEmpty()) {
            controls = virtualCameraControls();
        } else if (auto listed = readControlListing(listingPath)) {
            controls = std::move(*listed);
        } else {
            gStates.erase(identity);
            if (error)
                *error = QStringLiteral("the control list %1 cannot be read").arg(listingPath);
            return nullptr;
        }
        state = std::make_shared<State>();
        state->controls = std::move(controls);
        updateLook(*state);
    }
    return std::make_unique<VirtualCameraControls>(identity, state);
}

void forgetVirtualCameraControls(const QString &identity)
{
    std::lock_guard lock(gStatesMutex);
    if (const auto it = gStates.find(identity); it != gStates.end()) {
        it->second->gone = true;
        gStates.erase(it);
    }
}

void setVirtualControlObserver(VirtualControlObserver observer)
{
    gObserver = std::move(observer);
}

void applyPictureLook(QImage &image, const PictureLook &look)
{
    if (look == PictureLook() || image.format() != QImage::Format_RGB32)
        return;
    // Sensor first (exposure and white-balance gains), then the picture processing: saturation
    // around each pixel's luma, contrast around mid grey, brightness.
    std::array<std::array<int, 256>, 3> gain{};
    std::array<quint8, 256 * 3> tone{}; // indexed by a value of -255..511, offset by 255
    const double gains[3] = {look.exposure * look.blueGain, look.exposure, look.exposure * look.redGain}; // B, G, R
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v)
            gain[c][v] = std::min(255, int(std::lround(v * gains[c])));
    for (int v = -255; v <= 511; ++v)
        tone[v + 255] = quint8(std::clamp(int(std::lround((v - 128) * look.contrast + 128)) + look.brightness, 0, 255));
    const int saturation = int(std::lround(look.saturation * 256));
    for (int y = 0; y < image.height(); ++y) {
        auto *pixel = reinterpret_cast<uchar *>(image.scanLine(y)); // B, G, R, x in memory
        for (int x = 0; x < image.width(); ++x, pixel += 4) {
            const int b = gain[0][pixel[0]], g = gain[1][pixel[1]], r = gain[2][pixel[2]];
            const int luma = (29 * b + 150 * g + 77 * r) >> 8;
            for (int c = 0; c < 3; ++c) {
                const int v = luma + (((c == 0 ? b : c == 1 ? g : r) - luma) * saturation >> 8);
                pixel[c] = tone[std::clamp(v, -255, 511) + 255];
            }
        }
    }
}

} // namespace quillora::capture
