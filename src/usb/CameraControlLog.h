// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The controller's USB failures go to the platform log (standard error, through Qt's logging)
// as one line each: "CameraControl Error: " and the text, nothing added or taken away, so that
// the lines read the same wherever the program runs.
#include <QString>

#include <cstdint>

namespace quillora::usb {

// Logs "CameraControl Error: <text>". A line feed that ends `text` is the line's own end and is
// not doubled.
void logCameraControlError(const QString &text);

// The "%08x" of a result: its 32 bits as eight lower-case hex digits (a negative code prints as
// its two's complement, -6 as fffffffa).
QString hex08(std::int32_t result);

} // namespace quillora::usb
