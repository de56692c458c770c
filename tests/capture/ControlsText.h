// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Controls as one line each, for comparing what the program read with what a driver or a listing
// offered: "<group>/<name> <kind> <range> default <d> = <value>[ inactive]", menus with their entries.
#include "CameraControls.h"

#include <QStringList>

#include <string>

namespace quillora::test {

inline std::string controlLine(const capture::CameraControl &c)
{
    static const char *const kinds[] = {"int", "bool", "menu", "intmenu", "button"};
    QString line
        = QStringLiteral("%1/%2 %3")
              .arg(c.groupName.isEmpty() ? QStringLiteral("0x%1").arg(c.group, 8, 16, QLatin1Char('0')) : c.groupName,
                  c.name, QString::fromLatin1(kinds[int(c.kind)]));
    if (c.kind == capture::ControlKind::Integer)
        line += QStringLiteral(" %1..%2 step %3").arg(c.minimum).arg(c.maximum).arg(c.step);
    for (const capture::ControlMenuEntry &entry : c.menu)
        line += QStringLiteral(" %1:%2").arg(entry.index).arg(entry.name);
    if (c.holdsValue())
        line += QStringLiteral(" default %1 = %2").arg(c.defaultValue).arg(c.value);
    if (c.inactive)
        line += QStringLiteral(" inactive");
    return line.toStdString();
}

inline std::vector<std::string> controlLines(const std::vector<capture::CameraControl> &controls)
{
    std::vector<std::string> lines;
    for (const auto &c : controls)
        lines.push_back(controlLine(c));
    return lines;
}

} // namespace quillora::test
