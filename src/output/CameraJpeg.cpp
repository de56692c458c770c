// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraJpeg.h"

#include "JpegEncoder.h"
#include "JpegStructure.h"
#include "TurboJpegHandles.h"

#include <bitset>
#include <cstring>
#include <vector>

namespace quillora::output {

namespace {

bool startsWith(std::span<const std::uint8_t> bytes, const char *text, std::size_t length)
{
    return bytes.size() >= length && std::memcmp(bytes.data(), text, length) == 0;
}

// The header a camera's frame gives up for ours: its AVI1 segment (what MJPEG frames carry) or
// its own JFIF header.
bool replacedHeader(std::span<const std::uint8_t> segment)
{
    if (segment[1] != jpeg::kApp0)
        return false;
    const auto payload = segment.subspan(4);
    return startsWith(payload, "AVI1", 4) || startsWith(payload, "JFIF\0", 5);
}

// The Huffman table slots (class * 4 + number) the frame's DHT segments define.
std::bitset<8> definedHuffmanTables(std::span<const std::uint8_t> frame, const JpegLayout &layout)
{
    std::bitset<8> defined;
    for (const JpegSegment &segment : layout.headers) {
        if (segment.marker != jpeg::kDht)
            continue;
        auto tables = frame.subspan(segment.offset + 4, segment.size - 4);
        while (tables.size() >= 17) {
            const int slot = (tables[0] >> 4) * 4 + (tables[0] & 0x0F);
            std::size_t values = 0;
            for (std::size_t i = 1; i <= 16; ++i)
                values += tables[i];
            if (17 + values > tables.size())
                break; // libjpeg will say what it thinks of it
            if (slot < 8)
                defined.set(std::size_t(slot));
            tables = tables.subspan(17 + values);
        }
    }
    return defined;
}

void append(QByteArray &out, std::span<const std::uint8_t> bytes)
{
    out.append(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

QByteArray jfifHeader(int dotsPerInch)
{
    const auto density = std::uint16_t(std::clamp(dotsPerInch, 1, 65535));
    const std::uint8_t header[]
        = {0xFF, jpeg::kApp0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x01, std::uint8_t(density >> 8),
            std::uint8_t(density), std::uint8_t(density >> 8), std::uint8_t(density), 0x00, 0x00};
    return QByteArray(reinterpret_cast<const char *>(header), sizeof header);
}

// The one lossless transform that turns by `rotation` quarter turns clockwise on screen and then,
// when `mirrored`, mirrors left to right: a mirror after a quarter turn is the transpose, after
// three quarters the transverse, after a half turn the flip upside down.
TJXOP transformFor(int rotation, bool mirrored)
{
    switch (rotation) {
    case 1:
        return mirrored ? TJXOP_TRANSPOSE : TJXOP_ROT90;
    case 2:
        return mirrored ? TJXOP_VFLIP : TJXOP_ROT180;
    case 3:
        return mirrored ? TJXOP_TRANSVERSE : TJXOP_ROT270;
    default:
        return mirrored ? TJXOP_HFLIP : TJXOP_NONE;
    }
}

} // namespace

std::optional<QSize> cameraJpegSize(std::span<const std::uint8_t> frame)
{
    const auto layout = jpegLayout(frame);
    if (!layout)
        return std::nullopt;
    return QSize(layout->width, layout->height);
}

QByteArray standaloneCameraJpeg(std::span<const std::uint8_t> frame, int dotsPerInch)
{
    const auto layout = jpegLayout(frame);
    if (!layout)
        return {};
    QByteArray out;
    out.reserve(qsizetype(layout->end) + 512);
    out.append("\xFF\xD8", 2);
    out.append(jfifHeader(dotsPerInch));
    // Before the frame's own tables, so that those it has override the standard ones.
    const std::bitset<8> defined = definedHuffmanTables(frame, *layout);
    if (!(defined.test(0) && defined.test(1) && defined.test(4) && defined.test(5)))
        append(out, standardHuffmanTablesSegment());
    for (const JpegSegment &segment : layout->headers) {
        const auto bytes = frame.subspan(segment.offset, segment.size);
        if (!replacedHeader(bytes))
            append(out, bytes);
    }
    append(out, frame.subspan(layout->scanOffset, layout->end - layout->scanOffset));
    return out;
}

std::optional<QByteArray> cleanCameraJpeg(std::span<const std::uint8_t> frame, int dotsPerInch, QString *why)
{
    QByteArray file = standaloneCameraJpeg(frame, dotsPerInch);
    if (file.isEmpty()) {
        *why = QStringLiteral("not a whole JPEG frame");
        return std::nullopt;
    }
    TjHandlePtr decompressor(tjInitDecompress());
    if (!decompressor) {
        *why = QString::fromLocal8Bit(tjGetErrorStr2(nullptr));
        return std::nullopt;
    }
    // Headers every reader takes: a sampling of the chroma TurboJPEG knows (4:4:4 to 4:1:1,
    // grey), which is what every camera sends. And a JFIF header says "YCbCr": a frame that
    // means its three components otherwise (named R, G and B, or so marked by an Adobe segment)
    // would change colour under it.
    int width = 0, height = 0, subsampling = 0, fileColours = -1, frameColours = -1;
    if (tjDecompressHeader3(decompressor.get(), reinterpret_cast<const unsigned char *>(file.constData()),
            static_cast<unsigned long>(file.size()), &width, &height, &subsampling, &fileColours)
        != 0) {
        *why = QString::fromLocal8Bit(tjGetErrorStr2(decompressor.get()));
        return std::nullopt;
    }
    tjDecompressHeader3(decompressor.get(), frame.data(), static_cast<unsigned long>(frame.size()), &width, &height,
        &subsampling, &frameColours);
    if (fileColours != frameColours) {
        *why = QStringLiteral("the frame's colours are not what a JFIF header says");
        return std::nullopt;
    }
    return file;
}

bool readsWithoutWarning(const QByteArray &jpeg, QString *why)
{
    // Every coefficient read, at an eighth of the size and in grey: the cheapest decode that
    // still goes through all the data.
    TjHandlePtr decompressor(tjInitDecompress());
    const auto *bytes = reinterpret_cast<const unsigned char *>(jpeg.constData());
    const auto size = static_cast<unsigned long>(jpeg.size());
    int width = 0, height = 0, subsampling = 0, colours = 0;
    if (!decompressor
        || tjDecompressHeader3(decompressor.get(), bytes, size, &width, &height, &subsampling, &colours)) {
        *why = QString::fromLocal8Bit(tjGetErrorStr2(decompressor.get()));
        return false;
    }
    const QSize eighth = QSize(width, height) / 8 + QSize(1, 1);
    std::vector<unsigned char> grey(std::size_t(eighth.width()) * std::size_t(eighth.height()));
    if (tjDecompress2(decompressor.get(), bytes, size, grey.data(), eighth.width(), 0, eighth.height(), TJPF_GRAY,
            TJFLAG_STOPONWARNING | TJFLAG_FASTDCT)
        != 0) {
        *why = QString::fromLocal8Bit(tjGetErrorStr2(decompressor.get()));
        return false;
    }
    return true;
}

std::optional<QByteArray> losslessCameraPhoto(
    std::span<const std::uint8_t> frame, int rotation, bool mirrored, int dotsPerInch, QString *why)
{
    const auto file = cleanCameraJpeg(frame, dotsPerInch, why);
    if (!file)
        return std::nullopt;
    const TJXOP op = transformFor(rotation, mirrored);
    if (op == TJXOP_NONE) {
        if (!readsWithoutWarning(*file, why))
            return std::nullopt;
        return file;
    }
    TjHandlePtr transformer(tjInitTransform());
    if (!transformer) {
        *why = QString::fromLocal8Bit(tjGetErrorStr2(nullptr));
        return std::nullopt;
    }
    // The transform reads every coefficient of the frame (and refuses it on a warning) and moves
    // the blocks; it refuses a turn or flip where a partial MCU at an edge would have to move.
    tjtransform transform{};
    transform.op = op;
    transform.options = TJXOPT_PERFECT | TJXOPT_COPYNONE;
    unsigned char *turned = nullptr;
    unsigned long turnedSize = 0;
    const int failed = tjTransform(transformer.get(), reinterpret_cast<const unsigned char *>(file->constData()),
        static_cast<unsigned long>(file->size()), 1, &turned, &turnedSize, &transform, TJFLAG_STOPONWARNING);
    const TjBufferPtr owned(turned);
    if (failed) {
        *why = QString::fromLocal8Bit(tjGetErrorStr2(transformer.get()));
        return std::nullopt;
    }
    if (!owned || turnedSize == 0) {
        *why = QStringLiteral("the turn gave no picture");
        return std::nullopt;
    }
    setJfifDensity(owned.get(), turnedSize, dotsPerInch, dotsPerInch);
    return QByteArray(reinterpret_cast<const char *>(owned.get()), qsizetype(turnedSize));
}

} // namespace quillora::output
