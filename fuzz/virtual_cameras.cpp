// QUILLORA_VIRTUAL_CAMERAS, as whatever starts the program may set it: entries separated by ';',
// each "name|model|identifier[|WIDTHxHEIGHT]". Input: the variable's value as UTF-8.
#include "FuzzSupport.h"

#include "CaptureDevice.h"

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
        // The picture size of a virtual camera feeds the source's caps: even, from 16 to 8192.
        if (!d.nativeSize.isEmpty()) {
            const int w = d.nativeSize.width();
            const int h = d.nativeSize.height();
            fuzz::check(w >= 16 && h >= 16 && w <= 8192 && h <= 8192 && w % 2 == 0 && h % 2 == 0, "a bad picture size");
        }
    }
    return 0;
}
