// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegEncoder.h"

#include <QIODevice>
#include <QtEndian>

#include "TurboJpegHandles.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace quillora::output {

namespace {

// libjpeg's own defaults, the ones Qt's writer would use: the same file, written without Qt's
// row-by-row pixel conversion, which costs a third again of the encoding itself.
constexpr int kQuality = 75;
constexpr int kSubsampling = TJSAMP_420;

} // namespace

int dotsPerInch(int dotsPerMeter)
{
    return std::clamp(int(std::lround(dotsPerMeter * 0.0254)), 1, 65535);
}

void setJfifDensity(unsigned char *data, unsigned long size, int dpiX, int dpiY)
{
    constexpr unsigned char jfif[] = {0xFF, 0xD8, 0xFF, 0xE0};
    if (size < 18 || std::memcmp(data, jfif, sizeof jfif) != 0 || std::memcmp(data + 6, "JFIF", 5) != 0)
        return;
    data[13] = 1; // dots per inch
    qToBigEndian<quint16>(quint16(dpiX), data + 14);
    qToBigEndian<quint16>(quint16(dpiY), data + 16);
}

bool writeJpeg(QIODevice &device, const QImage &image, QString *error)
{
    if (image.isNull()) {
        *error = QStringLiteral("JPEG: no image");
        return false;
    }
    const bool direct = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
    const QImage pixels = direct ? image : image.convertToFormat(QImage::Format_RGB32);
    // QImage's 32-bit formats are 0xAARRGGBB words: B, G, R, A bytes on a little-endian machine.
    const int pixelFormat = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TJPF_BGRX : TJPF_XRGB;

    TjHandlePtr compressor(tjInitCompress());
    if (!compressor) {
        *error = QStringLiteral("JPEG: %1").arg(QString::fromLocal8Bit(tjGetErrorStr2(nullptr)));
        return false;
    }
    unsigned char *raw = nullptr;
    unsigned long size = 0;
    const int result = tjCompress2(compressor.get(), pixels.constBits(), pixels.width(), int(pixels.bytesPerLine()),
        pixels.height(), pixelFormat, &raw, &size, kSubsampling, kQuality, 0);
    TjBufferPtr encoded(raw);
    if (result != 0 || !encoded) {
        *error = QStringLiteral("JPEG: %1").arg(QString::fromLocal8Bit(tjGetErrorStr2(compressor.get())));
        return false;
    }
    if (image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0)
        setJfifDensity(encoded.get(), size, dotsPerInch(image.dotsPerMeterX()), dotsPerInch(image.dotsPerMeterY()));
    if (device.write(reinterpret_cast<const char *>(encoded.get()), qint64(size)) != qint64(size)) {
        *error = QStringLiteral("JPEG: %1").arg(device.errorString());
        return false;
    }
    return true;
}

} // namespace quillora::output
