// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QImage>
#include <QString>

class QIODevice;

namespace quillora::output {

// Encodes `image` as a baseline JPEG with libjpeg-turbo's usual defaults (quality 75, 4:2:0
// chroma subsampling) and writes it to `device`. The image's dots per metre go into the JFIF
// header as dots per inch. False with `error` set when encoding or writing fails.
bool writeJpeg(QIODevice &device, const QImage &image, QString *error);

} // namespace quillora::output
