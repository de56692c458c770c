// SPDX-License-Identifier: GPL-3.0-or-later
// What the device files share among themselves.
#pragma once

#include "GstHandles.h"

#include <QByteArray>
#include <QString>

namespace quillora::capture {

// A bin built from a gst-launch description, its unconnected pads made ghost pads; empty with
// the parser's message in `error` when it cannot be built.
ElementPtr parseBin(const QByteArray &description, QString *error);

} // namespace quillora::capture
