// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// GIF through giflib, with a palette chosen by libimagequant.
#include <QImage>
#include <QString>

class QIODevice;

namespace quillora::output {

// Encodes the image as a single-frame GIF of at most 256 colours with the quantiser's
// default settings (speed, quality, dithering).
bool writeGif(QIODevice &device, const QImage &image, QString *error);

} // namespace quillora::output
