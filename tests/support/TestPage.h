// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The virtual camera's page, made here as the camera makes it (a still, a raw frame, a JPEG
// frame), and the one check of what a picture of it shows: which page, which way up, in which
// paper colour.
#include "VirtualCamera.h"

#include <QByteArray>
#include <QImage>

#include <turbojpeg.h>

typedef struct _GstSample GstSample;

namespace quillora::test {

// Page `page` (0: the marker top left; 1: top right) at `size`, as frame 0 of the camera.
QImage documentPage(QSize size, int page = 0);
// The same as one camera JPEG frame (4:2:2 unless told, quality 85), and the first `cut` bytes
// of it when `cut` is not 0.
QByteArray documentPageJpeg(QSize size, int subsampling = TJSAMP_422, qsizetype cut = 0);
// Any picture compressed as a camera compresses its frames (4:2:2 unless told, quality 85).
QByteArray jpegOf(const QImage &picture, int subsampling = TJSAMP_422, int quality = 85);
// Any picture as a raw sample of the camera's branch ("BGRx" unless told: only the caps say so).
GstSample *rawSample(const QImage &picture, const char *format = "BGRx");
// The page as a sample of the camera's branch: a raw frame ("BGRx" unless told), or a JPEG one.
GstSample *pageSample(QSize size, const char *format = "BGRx");
GstSample *pageJpegSample(QSize size, qsizetype cut = 0, int subsampling = TJSAMP_422);
// Any JPEG bytes as a camera's frame of `size`.
GstSample *jpegSample(const QByteArray &jpeg, QSize size);

// Which page a picture shows, turned `rotation` quarter turns clockwise: 0 or 1 by where the
// black marker is, -1 when neither (a picture in between, a grey or black one). Ink is darker
// than `ink`, plain paper lighter than `paper` (grey levels).
int pageShown(const QImage &picture, int rotation = 0, int ink = 60, int paper = 190);
// The same of a picture turned and then, when `mirrored`, mirrored left to right.
inline int mirroredPageShown(const QImage &picture, int rotation, bool mirrored)
{
    return pageShown(mirrored ? picture.mirrored(true, false) : picture, rotation);
}
// The mean colour of a patch of plain paper of the page shown (beside where the other page's
// marker would be) is the paper's, within `levels` in each channel.
void expectPaperColour(const QImage &picture, int levels, QRgb paper = capture::kVirtualPaper);

} // namespace quillora::test
