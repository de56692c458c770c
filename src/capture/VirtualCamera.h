#pragma once
// The stand-in camera: a live 30 fps picture of a document page, so that the application runs
// and is tested where no camera is attached.
#include "GstHandles.h"

#include <QImage>
#include <QSize>

namespace quillora::capture {

// A bin with a "src" pad giving BGRx frames of `size` at 30 frames per second, live.
ElementPtr makeVirtualCameraSource(QSize size, QString *error);

// The camera's own caps: BGRx of `size`, 30 frames per second, square pixels.
CapsPtr virtualCameraCaps(QSize size);

// Draws frame number `frameNumber` of the page into `image` (Format_RGB32, already filled
// with the paper colour): dark text lines, a solid black square marker in the top-left
// corner (an eighth of the width) and a small block that moves from frame to frame.
void paintVirtualPage(QImage &image, quint64 frameNumber);

// The paper colour of the page, as 0xAARRGGBB.
constexpr quint32 kVirtualPaper = 0xFFF4F1EA;

} // namespace quillora::capture
