// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A JPEG photo from an MJPEG camera at the size of its frames is the camera's own JPEG data:
// no second encoding, no second loss, and no encoder's time. A camera's frame is no file to keep
// as it comes, though: it may lack the Huffman tables every decoder is then expected to know,
// carry an AVI1 header instead of a JFIF one, and be followed in its buffer by the rest of an
// older frame. Here it becomes a clean standalone file, turned losslessly where it can be.
#include <QByteArray>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

namespace quillora::output {

// The picture's size as the frame's header gives it; nothing when `frame` is no whole JPEG frame.
std::optional<QSize> cameraJpegSize(std::span<const std::uint8_t> frame);

// The frame as a standalone JPEG file: a JFIF header at `dotsPerInch` in place of the frame's
// AVI1 or JFIF header, the standard Huffman tables where the frame does not define its own (its
// own, if any, still win), the frame's other segments and its scans as they are, and nothing
// after its first end-of-image marker. Empty when `frame` is no whole JPEG frame.
QByteArray standaloneCameraJpeg(std::span<const std::uint8_t> frame, int dotsPerInch);

// The standalone file (above) when its headers are ones every reader takes (a chroma sampling
// TurboJPEG knows, as every camera's) and the JFIF header does not change the frame's colours;
// nothing, with the reason in `why`, otherwise. Its data is not read here.
std::optional<QByteArray> cleanCameraJpeg(std::span<const std::uint8_t> frame, int dotsPerInch, QString *why);

// Whether libjpeg reads `jpeg` through without a warning (a decode at an eighth of its size).
bool readsWithoutWarning(const QByteArray &jpeg, QString *why);

// The photo of the frame turned by `rotation` quarter turns clockwise and then, when `mirrored`,
// mirrored left to right (as photos are), without loss: as it is, its standalone file; turned or
// mirrored, libjpeg-turbo's lossless transform of it. Nothing (with the reason in `why`) when
// that cannot be done without loss or doubt: the frame reads with a warning (a decoder would
// have to pass over something), or the transform would cut into the frame's MCU grid. The
// caller then decodes, turns, mirrors and encodes.
std::optional<QByteArray> losslessCameraPhoto(
    std::span<const std::uint8_t> frame, int rotation, bool mirrored, int dotsPerInch, QString *why);

} // namespace quillora::output
