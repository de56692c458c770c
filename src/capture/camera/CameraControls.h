// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A camera's own picture controls (brightness, white balance, exposure, power-line frequency,
// focus, zoom, ...), as its driver offers them: listed with their ranges, current values and
// whether they take effect now, and written one at a time. Whether the camera is a V4L2 node or
// the virtual camera is the capture layer's business; nothing of V4L2 shows above this header.
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace quillora::capture {

enum class ControlKind {
    Integer,     // a slider: minimum..maximum in steps
    Boolean,     // a check box
    Menu,        // a list of named entries, by index
    IntegerMenu, // a list of numbers, by index
    Button,      // an action: writing it does something, it holds no value
};

// One entry of a menu. Drivers leave out the entries the camera does not support, so the
// indexes of a menu may have holes (1 and 3 of 0..3).
struct ControlMenuEntry {
    std::int64_t index = 0;
    QString name; // for an integer menu, the number it stands for, as text
    bool operator==(const ControlMenuEntry &) const = default;
};

struct CameraControl {
    std::uint32_t id = 0; // the driver's control ID; stable where kernels renamed controls
    QString name;         // the driver's name ("Brightness", "White Balance, Automatic")
    ControlKind kind = ControlKind::Integer;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    std::int64_t step = 1; // never below 1
    std::int64_t defaultValue = 0;
    std::int64_t value = 0;
    // The driver ignores it now: white-balance temperature while automatic white balance is on,
    // exposure time while exposure is automatic. Shown, not changeable.
    bool inactive = false;
    // The group the driver lists it in: its class ID (0x00980001 User, 0x009a0001 Camera) and the
    // class's name as the driver gives it, empty when it gives none.
    std::uint32_t group = 0;
    QString groupName;
    std::vector<ControlMenuEntry> menu; // Menu and IntegerMenu only

    bool holdsValue() const { return kind != ControlKind::Button; }
    bool operator==(const CameraControl &) const = default;
};

// The class IDs of the two groups document cameras have.
constexpr std::uint32_t kUserControls = 0x00980001;
constexpr std::uint32_t kCameraControls = 0x009a0001;
// The class a control ID belongs to by its number (0x00980900 -> 0x00980001).
constexpr std::uint32_t controlClassOf(std::uint32_t id)
{
    return (id & 0x0fff0000u) | 1u;
}

// The value nearest to `value` that `control` takes: within its range, on its steps, and for a
// menu one of the entries it lists (the nearest index, the lower one on a tie). Nothing for a
// button or a menu without entries.
std::optional<std::int64_t> nearestAllowedValue(const CameraControl &control, std::int64_t value);

// The name of a value as the panel shows it: a menu entry's name, else the number.
QString describeControlValue(const CameraControl &control, std::int64_t value);

// The standard V4L2 controls: their IDs, the names the kernel gives them and the short names
// `v4l2-ctl` prints on kernels since 5.16. Before, uvcvideo named some controls itself
// ("exposure_auto" for what is now "auto_exposure"); the ID stayed the same, so a control is
// known by its ID, never by its name.
struct KnownControl {
    std::uint32_t id;
    const char *name;      // the kernel's own name, in English
    const char *shortName; // as v4l2-ctl prints it
};
const std::vector<KnownControl> &knownControls();
const KnownControl *knownControl(std::uint32_t id);
// A text of the driver's (a control's or class's name, a menu entry) in the user's language when
// it is one of the kernel's and uvcvideo's standard texts; else as the driver gave it.
QString translatedControlText(const QString &driverText);

// How a write went.
enum class ControlWriteStatus {
    Written,
    Refused, // the camera said no (invalid, out of range, busy, not allowed now, a failed transfer)
    Gone,    // the camera is not there any more (pulled out)
};
struct ControlWriteResult {
    ControlWriteStatus status = ControlWriteStatus::Written;
    QString reason; // the driver's error, for the log, when not written
};

// The controls of one camera, open while the object lives. Main thread.
class CameraControls {
public:
    virtual ~CameraControls();
    // The controls offered now, in the driver's order, with their current values and flags.
    // Read-only, disabled, compound and text controls are left out. Empty, with the reason in
    // `error`, when the camera cannot be asked.
    virtual std::vector<CameraControl> list(QString *error) = 0;
    // Writes `value` to control `id` (for a button, presses it).
    virtual ControlWriteResult write(std::uint32_t id, std::int64_t value) = 0;
};

// Writes values the user set before (control ID -> value) to `controls`, each as the nearest
// value the control takes now (a value outside its present range is clamped, and logged).
// Automatic modes and menus go first, then numbers: a camera takes an exposure time only once
// its exposure is manual, and a number whose automatic mode is still on is left alone. A value
// for a control the camera does not offer is passed over; a refusal is logged, and the control
// keeps the camera's value. `camera` names the camera in the log.
struct StoredValuesApplied {
    int written = 0;
    int clamped = 0;    // written after being brought into range
    int notOffered = 0; // for controls the camera does not offer (now)
    int refused = 0;
    bool gone = false; // the camera went away on the way
};
StoredValuesApplied applyControlValues(
    CameraControls &controls, const std::map<std::uint32_t, std::int64_t> &values, const QString &camera);

// Reads a control list as `v4l2-ctl --list-ctrls-menus` (or `-l`, or `--all`) prints it, of
// older and newer v4l2-ctl and kernels: class headers when there are any, menu entries under
// their menu, a quoted listing's "> ". Read-only, disabled and compound controls, menus without
// entries (`-l` prints none), and lines it does not understand, are passed over.
std::vector<CameraControl> parseControlListing(const QString &text);
// Reads a listing file of at most 1 MiB. Nothing when it cannot be read.
std::optional<std::vector<CameraControl>> readControlListing(const QString &path);
// The controls in the same layout, which parseControlListing reads back the same.
QString formatControlListing(const std::vector<CameraControl> &controls);

} // namespace quillora::capture
