// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turning a frame into a photo file: the rotation of the preview, the size and format tables
// of the settings, the encoders, and the safe write.
#include "OutputFile.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

class QIODevice;
class QPainter;
class QTransform;

namespace quillora::output {

enum class PhotoFormat { Jpeg, Png, Gif, Tiff };

// The format by the index of the format control; none outside 0 to 3 (no selection, -1,
// included: the index is compared unsigned).
std::optional<PhotoFormat> photoFormatForIndex(int index);
// ".jpg", ".png", ".gif", ".tiff"; ".jpg" for no format.
QString photoExtension(std::optional<PhotoFormat> format);

// The photo's size by the index of the size control, width and height exchanged for the
// quarter turns (rotation 1 and 3).
QSize photoSizeForIndex(int sizeIndex, int rotation);

// The image turned by `rotation` quarter turns clockwise as seen on screen; any value but
// 1, 2 and 3 leaves it as it is (the same image, not a copy).
QImage turnedImage(const QImage &image, int rotation);
// The image turned as above, then, when `mirrored`, mirrored left to right: what the live
// picture shows (a mirror after a half turn is the upside-down flip).
QImage orientedImage(const QImage &image, int rotation, bool mirrored);
// Where orientedImage puts each point of an image of `size`: the mapping from the frame's
// coordinates to the turned and mirrored picture's.
QTransform orientationTransform(QSize size, int rotation, bool mirrored);

// Encodes: JPEG with libjpeg's defaults, PNG with libpng's default filtering (see PngEncoder.h),
// TIFF with Qt's writer, GIF with a quantised palette.
bool encodeImage(QIODevice &device, const QImage &image, PhotoFormat format, QString *error);

// The nominal resolution photos are labelled with: 72 dots per inch.
constexpr int kPhotoDotsPerMeter = 2835; // 72 / 0.0254, rounded

struct PhotoSettings {
    int sizeIndex = -1;
    int formatIndex = -1;
    QString folderText;
    QString baseName;
    int collisionRow = -1;
};

// Something drawn over a photo at the photo's own size (ink), given the mapping from the pixels
// of the frame (of `frameSize`) to the photo's.
using PhotoDrawing = std::function<void(QPainter &painter, const QTransform &frameToPhoto, QSize frameSize)>;

// The frame a photo is made of.
struct PhotoFrame {
    // Its pixels; asked for only when the photo needs them (a camera's JPEG frame is decoded
    // then, and not at all for a photo of the camera's own bytes).
    std::function<QImage()> picture;
    // The camera's own JPEG frame, when the frame came as one.
    QByteArray cameraJpeg;
};

// Turns the frame (and, when `mirrored`, mirrors it after the turn, as the live picture shows
// it), gives it the chosen size, draws `drawing` over it when there is one (such a photo is
// always made of the frame's pixels), encodes it and writes it under the name the naming rule gives.
// A JPEG photo of a camera's JPEG frame at the frame's own size is the camera's own data
// (losslessCameraPhoto), unless that cannot be had without loss or doubt. Photos are written
// one at a time across all threads. The result's path is set only when the file is complete on
// disk; on failure nothing new is left behind.
OutputResult writePhoto(const PhotoFrame &frame, int rotation, const PhotoSettings &settings, bool mirrored = false,
    const PhotoDrawing &drawing = {});
OutputResult writePhoto(const QImage &frame, int rotation, const PhotoSettings &settings, bool mirrored = false);

} // namespace quillora::output
