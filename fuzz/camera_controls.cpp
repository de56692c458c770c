// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's control list as `v4l2-ctl --list-ctrls-menus` prints it (and as a virtual camera is
// given it): names, ranges, defaults, values and menu entries are whatever the camera reported
// and whoever published it left. Every control read must be one a panel can show and set, the
// list must read back the same after it is written out, and the virtual camera made from it must
// take every value and draw its page. Input: the listing's text as UTF-8.
#include "FuzzSupport.h"

#include "CameraControls.h"
#include "VirtualControls.h"

#include <QFile>

#include <cstdint>

using namespace quillora;

namespace {

std::string gScratch;

bool allowed(const capture::CameraControl &c, std::int64_t value)
{
    switch (c.kind) {
    case capture::ControlKind::Button:
        return false;
    case capture::ControlKind::Boolean:
        return value == 0 || value == 1;
    case capture::ControlKind::Menu:
    case capture::ControlKind::IntegerMenu:
        return std::any_of(c.menu.begin(), c.menu.end(), [value](const auto &e) { return e.index == value; });
    case capture::ControlKind::Integer:
        break;
    }
    return value >= c.minimum && value <= c.maximum && (__int128(value) - c.minimum) % c.step == 0;
}

void checkControl(const capture::CameraControl &c)
{
    fuzz::check(c.step >= 1, "a step below 1");
    fuzz::check(c.minimum <= c.maximum, "an empty range");
    const bool menu = c.kind == capture::ControlKind::Menu || c.kind == capture::ControlKind::IntegerMenu;
    fuzz::check(menu != c.menu.empty(), "a menu without entries, or entries without a menu");
    for (const auto &entry : c.menu)
        fuzz::check(entry.index >= c.minimum && entry.index <= c.maximum, "a menu entry outside its range");
    const std::int64_t lowest = INT64_MIN, highest = INT64_MAX;
    for (const std::int64_t wanted : {c.value, c.defaultValue, c.minimum, c.maximum, std::int64_t(0), lowest, highest,
             std::int64_t(c.minimum - (c.minimum > lowest)), std::int64_t(c.maximum + (c.maximum < highest))}) {
        const auto value = capture::nearestAllowedValue(c, wanted);
        fuzz::check(value.has_value() == c.holdsValue(), "a control that takes no value, or a button that does");
        if (value)
            fuzz::check(allowed(c, *value), "the nearest allowed value is not allowed");
        (void)capture::describeControlValue(c, wanted);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietQt();
    gScratch = fuzz::scratchDir("controls");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::vector<capture::CameraControl> controls = capture::parseControlListing(text);
    for (const capture::CameraControl &c : controls)
        checkControl(c);
    const QString written = capture::formatControlListing(controls);
    if (capture::parseControlListing(written) != controls) {
        std::fprintf(stderr, "written:\n%s\nread back and written again:\n%s\n", qPrintable(written),
            qPrintable(capture::formatControlListing(capture::parseControlListing(written))));
        fuzz::fail("the control list does not read back the same");
    }

    // A virtual camera offering these controls takes each value it offers and draws its page.
    const QString path = QString::fromStdString(gScratch) + QStringLiteral("/listing.txt");
    {
        QFile file(path);
        fuzz::check(file.open(QIODevice::WriteOnly), "cannot write the listing");
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    QString error;
    auto camera = capture::openVirtualCameraControls(QStringLiteral("fuzz"), path, &error);
    fuzz::check(bool(camera), "a listing that was read cannot be a virtual camera's");
    for (const capture::CameraControl &c : controls) {
        for (const std::int64_t wanted : {c.minimum, c.maximum, c.defaultValue}) {
            const auto value = capture::nearestAllowedValue(c, wanted);
            if (value)
                fuzz::check(camera->write(c.id, *value).status == capture::ControlWriteStatus::Written,
                    "the virtual camera refused a value it offers");
            QImage page(16, 12, QImage::Format_RGB32);
            page.fill(qRgb(0xf4, 0xf1, 0xea));
            capture::applyPictureLook(page, capture::virtualCameraLook(QStringLiteral("fuzz")).look);
        }
    }
    capture::forgetVirtualCameraControls(QStringLiteral("fuzz"));
    return 0;
}
