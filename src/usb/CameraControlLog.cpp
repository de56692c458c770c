// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraControlLog.h"

#include <QtGlobal>

#include <cstdint>

namespace quillora::usb {

void logCameraControlError(const QString &text)
{
    QString line = QStringLiteral("CameraControl Error: ") + text;
    if (line.endsWith(QLatin1Char('\n')))
        line.chop(1);
    // The default category: Qt prints the message as it stands, without a category prefix.
    qWarning("%s", qUtf8Printable(line));
}

QString hex08(std::int32_t result)
{
    return QString::asprintf("%08x", static_cast<unsigned>(static_cast<std::uint32_t>(result)));
}

} // namespace quillora::usb
