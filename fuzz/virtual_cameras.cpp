// SPDX-License-Identifier: GPL-3.0-or-later
// QUILLORA_VIRTUAL_CAMERAS, as whatever starts the program may set it: entries separated by ';',
// each "name|model|identifier[|WIDTHxHEIGHT, a recording to replay or the path of a mode list
// [|the path of a control list]]". Input: the variable's value as UTF-8. (A path names a file to
// read: run with standard input from /dev/null, as scripts/fuzz does, or a fuzzed "/dev/stdin"
// waits for it.)
#include "FuzzSupport.h"

#include "CaptureDevice.h"
#include "Devices.h"

using namespace quillora;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto cameras = capture::parseVirtualCameras(text);
    fuzz::check(qsizetype(cameras.size()) <= text.count(QLatin1Char(';')) + 1, "more cameras than entries");
    for (const capture::DeviceDescription &d : cameras) {
        fuzz::check(d.kind == capture::DeviceKind::VirtualCamera, "not a virtual camera");
        fuzz::check(!d.displayName.isEmpty() && d.displayName == d.displayName.trimmed(), "a camera without a name");
        fuzz::check(!d.displayName.contains(QLatin1Char(';')) && !d.displayName.contains(QLatin1Char('|')),
            "a name that runs into the next field");
        fuzz::check(!d.modelUniqueID.isEmpty() && !d.uniqueID.isEmpty(), "a camera without a model or identifier");
        // A size of its own is one raw mode: even, from 16 to 8192, so the source's caps hold.
        if (d.modeListPath.isEmpty() && d.replayPath.isEmpty() && d.modes.size() == 1) {
            const QSize picture = d.modes.front().size;
            fuzz::check(picture.width() >= 16 && picture.height() >= 16 && picture.width() <= 8192
                    && picture.height() <= 8192 && picture.width() % 2 == 0 && picture.height() % 2 == 0,
                "a bad picture size");
        }
    }
    return 0;
}
