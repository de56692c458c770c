// SPDX-License-Identifier: GPL-3.0-or-later
#include "PhotoCapture.h"

#include "CameraJpeg.h"
#include "GifEncoder.h"
#include "JpegEncoder.h"
#include "OutputLog.h"
#include "PngEncoder.h"
#include "SizeTable.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QTransform>

#include <future>
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
        return writePng(device, image, error);
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

OutputResult writeEncoded(const PhotoSettings &settings, PhotoFormat format, const ContentWriter &writeContent,
    const Confirmation &confirm = {})
{
    const OutputTarget target{settings.folderText, settings.baseName, photoExtension(format), settings.collisionRow};
    std::lock_guard lock(gPhotoWriteLock);
    OutputResult result = writeOutputFile(target, writeContent, confirm);
    if (result.ok())
        qCInfo(lcOutput).noquote() << "photo written:" << result.path;
    else
        qCInfo(lcOutput).noquote() << "photo not written:" << result.error;
    return result;
}

// A JPEG photo of a camera's JPEG frame at its own size is the camera's own data: written, or
// nothing when the data cannot be kept as it is (the caller then decodes and encodes).
std::optional<OutputResult> writeCameraOwnPhoto(
    const PhotoFrame &frame, int rotation, bool mirrored, const PhotoSettings &settings)
{
    if (frame.cameraJpeg.isEmpty())
        return std::nullopt;
    const std::span bytes(
        reinterpret_cast<const std::uint8_t *>(frame.cameraJpeg.constData()), std::size_t(frame.cameraJpeg.size()));
    if (cameraJpegSize(bytes) != photoSizeForIndex(settings.sizeIndex, 0))
        return std::nullopt;
    const int dpi = dotsPerInch(kPhotoDotsPerMeter);
    QString why;
    QString unclean;
    std::optional<QByteArray> photo;
    std::future<bool> clean; // declared last: it waits for its reading before the rest goes
    if ((rotation >= 1 && rotation <= 3) || mirrored) {
        photo = losslessCameraPhoto(bytes, rotation, mirrored, dpi, &why); // the transform reads all the data
    } else if ((photo = cleanCameraJpeg(bytes, dpi, &why))) {
        // All its data is read through while the file goes to the disk (half of this photo's
        // time each), and it is put in place only when it reads without a warning.
        clean = std::async(std::launch::async, [&photo, &unclean] { return readsWithoutWarning(*photo, &unclean); });
    }
    bool rejected = false;
    OutputResult result;
    if (photo) {
        const Confirmation readsCleanly = [&](QString *error) {
            if (clean.get())
                return true;
            rejected = true;
            *error = unclean;
            return false;
        };
        result = writeEncoded(
            settings, PhotoFormat::Jpeg,
            [&](QIODevice &device, QString *error) {
                if (device.write(*photo) == photo->size())
                    return true;
                *error = QStringLiteral("JPEG: %1").arg(device.errorString());
                return false;
            },
            clean.valid() ? readsCleanly : Confirmation());
    }
    if (!photo || rejected) {
        qCInfo(lcOutput).noquote() << "photo: the camera's frame decoded and encoded again:" << (photo ? unclean : why);
        return std::nullopt;
    }
    if (result.ok())
        qCInfo(lcOutput) << "photo: the camera's own JPEG data";
    return result;
}

} // namespace

OutputResult writePhoto(
    const PhotoFrame &frame, int rotation, const PhotoSettings &settings, bool mirrored, const PhotoDrawing &drawing)
{
    const std::optional<PhotoFormat> format = photoFormatForIndex(settings.formatIndex);
    if (!format)
        return {QString(), QStringLiteral("format index %1: no such format").arg(settings.formatIndex),
            WriteFault::BadSettings};
    if (*format == PhotoFormat::Jpeg && !drawing) {
        if (auto written = writeCameraOwnPhoto(frame, rotation, mirrored, settings))
            return *written;
    }
    const QImage picture = frame.picture ? frame.picture() : QImage();
    if (picture.isNull())
        return {QString(), QStringLiteral("no picture in the frame"), WriteFault::NoPicture};

    QImage photo = orientedImage(picture, rotation, mirrored);
    const QSize size = photoSizeForIndex(settings.sizeIndex, rotation);
    // Frames arrive at the photo size. One decoded before a size change was applied does
    // not: it is scaled, so the file always has the size the settings promise.
    if (photo.size() != size) {
        qCInfo(lcOutput).noquote() << "photo: frame of" << photo.width() << "x" << photo.height() << "scaled to"
                                   << size.width() << "x" << size.height();
        photo = photo.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (drawing)
        drawOverPhoto(photo, picture, rotation, mirrored, drawing);
    // Unturned and unscaled, the photo is still the frame's read-only memory, and labelling
    // it with a resolution would copy all of it. A view of the same pixels takes the label
    // instead; the encoders only read it, and `picture` outlives it.
    if (photo.constBits() == picture.constBits())
        photo = QImage(const_cast<uchar *>(picture.constBits()), picture.width(), picture.height(),
            picture.bytesPerLine(), picture.format());
    photo.setDotsPerMeterX(kPhotoDotsPerMeter);
    photo.setDotsPerMeterY(kPhotoDotsPerMeter);
    return writeEncoded(settings, *format,
        [&](QIODevice &device, QString *error) { return encodeImage(device, photo, *format, error); });
}

OutputResult writePhoto(const QImage &frame, int rotation, const PhotoSettings &settings, bool mirrored)
{
    return writePhoto(PhotoFrame{[&frame] { return frame; }, {}}, rotation, settings, mirrored);
}

} // namespace quillora::output
