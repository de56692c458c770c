// SPDX-License-Identifier: GPL-3.0-or-later
#include "PngEncoder.h"

#include <QIODevice>
#include <QtEndian>

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace quillora::output {

namespace {

// libdeflate's levels run 1 to 12; 6 matches libpng's default size (see the header).
constexpr int kLevel = 6;
// The compressed rows go out in IDAT chunks of at most this many bytes.
constexpr std::size_t kChunkBytes = 256 * 1024;

struct CompressorDeleter {
    void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
};

enum Filter : std::uint8_t { None, Sub, Up, Average, Paeth };

// The Paeth predictor, without branches so that it runs as a vector loop.
inline int paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c);         // |p - a| with p = a + b - c
    const int pb = std::abs(a - c);         // |p - b|
    const int pc = std::abs(a + b - 2 * c); // |p - c|
    const int bOrC = pb <= pc ? b : c;
    return pa <= pb && pa <= pc ? a : bOrC;
}

// How far a filtered byte is from zero, as a signed value: libpng's measure of a filter.
inline std::uint32_t weight(std::uint8_t filtered)
{
    return std::uint32_t(std::abs(int(std::int8_t(filtered))));
}

// Row `row` (RGB) filtered with `filter` against the row above it (`above`, zeros for the
// first row) into `out`; gives the sum of the filtered bytes as signed values. One loop per
// filter, so that the compiler makes each a vector loop; a row's sum fits in 32 bits.
std::uint32_t filterRow(Filter filter, const std::uint8_t *row, const std::uint8_t *above, std::uint8_t *out, int n)
{
    constexpr int bpp = 3;
    std::uint32_t sum = 0;
    switch (filter) {
    case None:
        for (int i = 0; i < n; ++i)
            sum += weight(out[i] = row[i]);
        break;
    case Sub:
        for (int i = 0; i < bpp; ++i)
            sum += weight(out[i] = row[i]);
        for (int i = bpp; i < n; ++i)
            sum += weight(out[i] = std::uint8_t(row[i] - row[i - bpp]));
        break;
    case Up:
        for (int i = 0; i < n; ++i)
            sum += weight(out[i] = std::uint8_t(row[i] - above[i]));
        break;
    case Average:
        for (int i = 0; i < bpp; ++i)
            sum += weight(out[i] = std::uint8_t(row[i] - (above[i] >> 1)));
        for (int i = bpp; i < n; ++i)
            sum += weight(out[i] = std::uint8_t(row[i] - ((row[i - bpp] + above[i]) >> 1)));
        break;
    case Paeth:
        for (int i = 0; i < bpp; ++i) // with no left neighbour, Paeth is Up
            sum += weight(out[i] = std::uint8_t(row[i] - above[i]));
        for (int i = bpp; i < n; ++i)
            sum += weight(out[i] = std::uint8_t(row[i] - paeth(row[i - bpp], above[i], above[i - bpp])));
        break;
    }
    return sum;
}

// The picture as PNG's filtered rows: a filter byte, then the row's filtered bytes.
std::vector<std::uint8_t> filteredRows(const QImage &image)
{
    const int width = image.width();
    const int n = width * 3;
    std::vector<std::uint8_t> out(std::size_t(n + 1) * std::size_t(image.height()));
    std::vector<std::uint8_t> row(std::size_t(n), 0);
    std::vector<std::uint8_t> above(std::size_t(n), 0);
    std::vector<std::uint8_t> trial(std::size_t(n), 0);
    for (int y = 0; y < image.height(); ++y) {
        const auto *pixels = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            row[std::size_t(x) * 3] = std::uint8_t(qRed(pixels[x]));
            row[std::size_t(x) * 3 + 1] = std::uint8_t(qGreen(pixels[x]));
            row[std::size_t(x) * 3 + 2] = std::uint8_t(qBlue(pixels[x]));
        }
        std::uint8_t *line = out.data() + std::size_t(y) * std::size_t(n + 1);
        std::uint32_t best = filterRow(None, row.data(), above.data(), line + 1, n);
        line[0] = None;
        for (Filter filter : {Sub, Up, Average, Paeth}) {
            const std::uint32_t sum = filterRow(filter, row.data(), above.data(), trial.data(), n);
            if (sum < best) {
                best = sum;
                line[0] = filter;
                std::copy(trial.begin(), trial.end(), line + 1);
            }
        }
        row.swap(above);
    }
    return out;
}

void appendChunk(QByteArray &png, const char type[4], const std::uint8_t *data, std::size_t size)
{
    std::array<char, 4> length{};
    qToBigEndian<quint32>(quint32(size), length.data());
    png.append(length.data(), 4);
    const qsizetype start = png.size();
    png.append(type, 4);
    png.append(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::uint32_t crc = libdeflate_crc32(0, png.constData() + start, std::size_t(png.size() - start));
    std::array<char, 4> check{};
    qToBigEndian<quint32>(crc, check.data());
    png.append(check.data(), 4);
}

} // namespace

bool writePng(QIODevice &device, const QImage &image, QString *error)
{
    if (image.isNull()) {
        *error = QStringLiteral("PNG: no image");
        return false;
    }
    const QImage pixels = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
        ? image
        : image.convertToFormat(QImage::Format_RGB32);
    const std::vector<std::uint8_t> rows = filteredRows(pixels);

    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(kLevel));
    if (!compressor) {
        *error = QStringLiteral("PNG: no memory for the compressor");
        return false;
    }
    std::vector<std::uint8_t> compressed(libdeflate_zlib_compress_bound(compressor.get(), rows.size()));
    const std::size_t size
        = libdeflate_zlib_compress(compressor.get(), rows.data(), rows.size(), compressed.data(), compressed.size());
    if (size == 0) {
        *error = QStringLiteral("PNG: the picture could not be compressed");
        return false;
    }

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png.reserve(qsizetype(size + size / kChunkBytes * 12 + 128));
    std::array<std::uint8_t, 13> header{};
    qToBigEndian<quint32>(quint32(pixels.width()), header.data());
    qToBigEndian<quint32>(quint32(pixels.height()), header.data() + 4);
    header[8] = 8; // bits per sample
    header[9] = 2; // RGB; compression, filter method and interlacing stay 0
    appendChunk(png, "IHDR", header.data(), header.size());
    if (pixels.dotsPerMeterX() > 0 && pixels.dotsPerMeterY() > 0) {
        std::array<std::uint8_t, 9> physical{};
        qToBigEndian<quint32>(quint32(pixels.dotsPerMeterX()), physical.data());
        qToBigEndian<quint32>(quint32(pixels.dotsPerMeterY()), physical.data() + 4);
        physical[8] = 1; // per metre
        appendChunk(png, "pHYs", physical.data(), physical.size());
    }
    for (std::size_t at = 0; at < size; at += kChunkBytes)
        appendChunk(png, "IDAT", compressed.data() + at, std::min(kChunkBytes, size - at));
    appendChunk(png, "IEND", nullptr, 0);
    if (device.write(png) != png.size()) {
        *error = QStringLiteral("PNG: %1").arg(device.errorString());
        return false;
    }
    return true;
}

} // namespace quillora::output
