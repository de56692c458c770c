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

// Dots per metre (as QImage keeps them) in whole dots per inch, 1 to 65535.
int dotsPerInch(int dotsPerMeter);

// TurboJPEG writes a JFIF header with an aspect ratio only (units 0, density 1:1); this puts the
// resolution in there as dots per inch. Does nothing to data that does not begin with one.
void setJfifDensity(unsigned char *data, unsigned long size, int dpiX, int dpiY);

} // namespace quillora::output
