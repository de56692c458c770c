// SPDX-License-Identifier: GPL-3.0-or-later
#include "PhotoCapture.h"

#include "GifEncoder.h"
#include "JpegEncoder.h"
#include "OutputLog.h"
#include "SizeTable.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QTransform>

#include <mutex>

namespace quillora::output {

std::optional<PhotoFormat> photoFormatForIndex(int index)
{
    switch (unsigned(index)) {
    case 0:
        return PhotoFormat::Jpeg;
    case 1:
        return PhotoFormat::Png;
    case 2:
        return PhotoFormat::Gif;
    case 3:
        return PhotoFormat::Tiff;
    default:
        return std::nullopt;
    }
}

QString photoExtension(std::optional<PhotoFormat> format)
{
    if (!format)
        return QStringLiteral(".jpg");
    switch (*format) {
    case PhotoFormat::Jpeg:
        return QStringLiteral(".jpg");
    case PhotoFormat::Png:
        return QStringLiteral(".png");
    case PhotoFormat::Gif:
        return QStringLiteral(".gif");
    case PhotoFormat::Tiff:
        return QStringLiteral(".tiff");
    }
    return QStringLiteral(".jpg");
}

QSize photoSizeForIndex(int sizeIndex, int rotation)
{
    const QSize size = sizeEntryForIndex(kPhotoSizes, sizeIndex).pixels;
    return (rotation == 1 || rotation == 3) ? size.transposed() : size;
}

QImage turnedImage(const QImage &image, int rotation)
{
    // Qt's y axis points down, so a positive angle turns clockwise on screen. Whole quarter
    // turns take Qt's exact pixel-moving path: no resampling, no blur.
    switch (rotation) {
    case 1:
        return image.transformed(QTransform().rotate(90));
    case 2:
        return image.transformed(QTransform().rotate(180));
    case 3:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

QImage orientedImage(const QImage &image, int rotation, bool mirrored)
{
    const QImage turned = turnedImage(image, rotation);
    // Whole pixels moved, as for the turns: no resampling.
    return mirrored ? turned.mirrored(true, false) : turned;
}

QTransform orientationTransform(QSize size, int rotation, bool mirrored)
{
    const double w = size.width(), h = size.height();
    QTransform turn;
    switch (rotation) {
    case 1: // (x, y) to (h - y, x)
        turn = QTransform(0, 1, -1, 0, h, 0);
        break;
    case 2:
        turn = QTransform(-1, 0, 0, -1, w, h);
        break;
    case 3: // (x, y) to (y, w - x)
        turn = QTransform(0, -1, 1, 0, 0, w);
        break;
    default:
        break;
    }
    if (!mirrored)
        return turn;
    const double turnedWidth = (rotation == 1 || rotation == 3) ? h : w;
    return turn * QTransform(-1, 0, 0, 1, turnedWidth, 0);
}

namespace {

// Draws `drawing` over the photo made of `frame`; the photo becomes a picture of its own.
void drawOverPhoto(QImage &photo, const QImage &frame, int rotation, bool mirrored, const PhotoDrawing &drawing)
{
    // The painter copies a photo that is still the frame's memory before drawing on it.
    if (photo.format() != QImage::Format_RGB32 && photo.format() != QImage::Format_ARGB32_Premultiplied)
        photo = photo.convertToFormat(QImage::Format_RGB32);
    const QSize turned = (rotation == 1 || rotation == 3) ? frame.size().transposed() : frame.size();
    const QTransform toPhoto = orientationTransform(frame.size(), rotation, mirrored)
        * QTransform::fromScale(double(photo.width()) / turned.width(), double(photo.height()) / turned.height());
    QPainter painter(&photo);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing(painter, toPhoto, frame.size());
}

} // namespace

bool encodeImage(QIODevice &device, const QImage &image, PhotoFormat format, QString *error)
{
    const char *qtFormat = nullptr;
    switch (format) {
    case PhotoFormat::Jpeg:
        return writeJpeg(device, image, error);
    case PhotoFormat::Png:
        qtFormat = "png";
        break;
    case PhotoFormat::Tiff:
        qtFormat = "tiff";
        break;
    case PhotoFormat::Gif:
        return writeGif(device, image, error);
    }
    // Encoded in memory first, then written: Qt's PNG handler loses its row buffer when a
    // write fails half-way (a full disk), so every failed photo would cost that memory.
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    QImageWriter writer(&encoded, qtFormat);
    if (!writer.write(image)) {
        *error = writer.errorString();
        return false;
    }
    const QByteArray &bytes = encoded.data();
    if (device.write(bytes) != bytes.size()) {
        *error = device.errorString();
        return false;
    }
    return true;
}

namespace {

// Serialises photos: a window photo (main thread) and a button photo (listener thread) at
// the same moment would otherwise race for the same name.
std::mutex gPhotoWriteLock; // guards the photo write as a whole, naming included

} // namespace

OutputResult writePhoto(
    const QImage &frame, int rotation, const PhotoSettings &settings, bool mirrored, const PhotoDrawing &drawing)
{
    const std::optional<PhotoFormat> format = photoFormatForIndex(settings.formatIndex);
    if (!format)
        return {QString(), QStringLiteral("format index %1: no such format").arg(settings.formatIndex),
            WriteFault::BadSettings};
    if (frame.isNull())
        return {QString(), QStringLiteral("no picture in the frame"), WriteFault::NoPicture};

    QImage photo = orientedImage(frame, rotation, mirrored);
    const QSize size = photoSizeForIndex(settings.sizeIndex, rotation);
    // Frames arrive at the photo size. One decoded before a size change was applied does
    // not: it is scaled, so the file always has the size the settings promise.
    if (photo.size() != size) {
        qCInfo(lcOutput).noquote() << "photo: frame of" << photo.width() << "x" << photo.height() << "scaled to"
                                   << size.width() << "x" << size.height();
        photo = photo.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (drawing)
        drawOverPhoto(photo, frame, rotation, mirrored, drawing);
    // Unturned and unscaled, the photo is still the frame's read-only memory, and labelling
    // it with a resolution would copy all of it. A view of the same pixels takes the label
    // instead; the encoders only read it, and `frame` outlives it.
    if (photo.constBits() == frame.constBits())
        photo = QImage(const_cast<uchar *>(frame.constBits()), frame.width(), frame.height(), frame.bytesPerLine(),
            frame.format());
    photo.setDotsPerMeterX(kPhotoDotsPerMeter);
    photo.setDotsPerMeterY(kPhotoDotsPerMeter);

    const OutputTarget target{settings.folderText, settings.baseName, photoExtension(format), settings.collisionRow};
    std::lock_guard lock(gPhotoWriteLock);
    OutputResult result = writeOutputFile(
        target, [&](QIODevice &device, QString *error) { return encodeImage(device, photo, *format, error); });
    if (result.ok())
        qCInfo(lcOutput).noquote() << "photo written:" << result.path;
    else
        qCInfo(lcOutput).noquote() << "photo not written:" << result.error;
    return result;
}

} // namespace quillora::output
