// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QImage>
#include <QString>

class QIODevice;

namespace quillora::output {

// Writes `image` to `device` as a plain PNG: 8-bit RGB, not interlaced, its dots per metre in a
// pHYs chunk. Each row's filter is chosen as libpng chooses it by default (of the five, the one
// whose bytes sum smallest as signed values); the rows are compressed by libdeflate. False with
// `error` set when that fails.
//
// Why not libpng itself: its zlib spends most of a photo's time looking for repeats that a
// camera's noise leaves too short to pay, and zlib's quicker settings either make the file a
// tenth larger or (run-length matching only) a sixth larger for a picture that was a camera's
// JPEG. libdeflate's level 6 gives a file of about libpng's default size in a third to a half
// of its time (bench/photo).
bool writePng(QIODevice &device, const QImage &image, QString *error);

} // namespace quillora::output
