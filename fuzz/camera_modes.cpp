// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's mode list (formats, sizes, frame rates), as `v4l2-ctl --list-formats-ext` prints it
// and as a virtual camera is given it: the numbers in it are whatever the camera reports. The
// mode chosen from it must be one it offers and one GStreamer can take as caps, and the list
// must read back the same after it is written out. Input: the listing's text as UTF-8.
#include "FuzzSupport.h"

#include "CameraMode.h"
#include "Devices.h"
#include "GstHandles.h"

using namespace quillora;

namespace {

// The sizes the program asks for (its photo and movie sizes), and sizes no camera has.
const QSize kRequests[] = {QSize(240, 180), QSize(480, 360), QSize(1024, 768), QSize(1200, 900), QSize(1536, 1152),
    QSize(2048, 1536), QSize(1920, 1080), QSize(1, 1), QSize(16384, 16384)};

bool offers(const std::vector<capture::CameraMode> &modes, const capture::ChosenMode &chosen)
{
    for (const capture::CameraMode &m : modes) {
        if (m.fourcc != chosen.fourcc)
            continue;
        if (m.isRange() ? chosen.size.width() >= m.minSize.width() && chosen.size.height() >= m.minSize.height()
                    && chosen.size.width() <= m.size.width() && chosen.size.height() <= m.size.height()
                        : chosen.size == m.size)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietQt();
    capture::ensureGstreamer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::vector<capture::CameraMode> modes = capture::parseModeListing(text);
    fuzz::check(capture::parseModeListing(capture::formatModeListing(modes)) == modes,
        "the mode list does not read back the same");

    for (const QSize requested : kRequests) {
        const auto chosen = capture::chooseCameraMode(modes, requested);
        if (!chosen)
            continue;
        fuzz::check(offers(modes, *chosen), "a mode the camera does not offer");
        fuzz::check(capture::isMjpeg(chosen->fourcc) || !capture::rawFormatName(chosen->fourcc).isEmpty(),
            "a format that cannot be shown");
        fuzz::check(chosen->size.width() > 0 && chosen->size.height() > 0, "an empty picture size");
        fuzz::check(chosen->rate.num > 0 && chosen->rate.den > 0, "a frame rate that is none");
        (void)capture::describeMode(*chosen);
        // The source is given the mode as caps: they must be caps, and fixed.
        const capture::CapsPtr caps(gst_caps_from_string(capture::modeCapsString(*chosen).toUtf8().constData()));
        fuzz::check(caps && gst_caps_is_fixed(caps.get()), "the mode's caps are no fixed caps");
        // A camera that refuses the mode leaves the rest of its list to choose from.
        const auto rest = capture::withoutMode(modes, *chosen);
        fuzz::check(rest.size() <= modes.size(), "refusing a mode made the list longer");
        if (const auto second = capture::chooseCameraMode(rest, requested))
            fuzz::check(offers(modes, *second), "a second choice the camera does not offer");
    }
    return 0;
}
