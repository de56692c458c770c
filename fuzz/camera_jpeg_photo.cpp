// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's JPEG frame, as anything claiming to be a camera may send it, made into a JPEG photo
// of its own bytes: the marker walk must stay inside the bytes; what it makes of a whole frame
// is a clean standalone file (a JFIF header first, Huffman tables, nothing after its end); and a
// photo kept without loss decodes to exactly the frame's pixels. Input: one frame's bytes; the
// input's length picks the quarter turn.
#include "FuzzSupport.h"

#include "CameraJpeg.h"
#include "JpegStructure.h"
#include "TurboJpegHandles.h"

#include <vector>

using namespace quillora;

namespace {

// Larger pictures cost the lossless transform too much memory and time per input, and teach
// the fuzzer nothing the small ones do not.
constexpr long long kMostPixels = 1 << 20;

std::span<const std::uint8_t> bytesOf(const QByteArray &bytes)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size())};
}

// libjpeg-turbo's decode; empty when it fails, or when `clean` and it warns (of the header or
// of the data).
std::vector<unsigned char> decode(std::span<const std::uint8_t> jpeg, bool clean)
{
    TjHandlePtr decompressor(tjInitDecompress());
    if (!decompressor)
        return {};
    const auto failed
        = [&](int result) { return result != 0 && (clean || tjGetErrorCode(decompressor.get()) != TJERR_WARNING); };
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (failed(tjDecompressHeader3(
            decompressor.get(), jpeg.data(), jpeg.size(), &width, &height, &subsampling, &colorspace))
        || width <= 0 || height <= 0 || (long long)width * height > kMostPixels)
        return {};
    std::vector<unsigned char> pixels(std::size_t(width) * std::size_t(height) * 3);
    if (failed(tjDecompress2(decompressor.get(), jpeg.data(), jpeg.size(), pixels.data(), width, 0, height, TJPF_RGB,
            clean ? TJFLAG_STOPONWARNING : 0)))
        return {};
    return pixels;
}

// A standalone file of a `width` x `height` picture: a JFIF header first, Huffman tables, and
// nothing after its end.
void checkStandalone(const QByteArray &file, int width, int height)
{
    const auto layout = jpegLayout(bytesOf(file));
    fuzz::check(bool(layout), "the standalone file is no JPEG stream");
    fuzz::check(layout->end == std::size_t(file.size()), "bytes after the standalone file's end");
    fuzz::check(layout->hasHuffmanTables, "a standalone file without Huffman tables");
    fuzz::check(file.startsWith(QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11)), "no JFIF header first");
    fuzz::check(layout->width == width && layout->height == height, "the picture's size changed");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const auto layout = jpegLayout(bytes);
    const QByteArray file = output::standaloneCameraJpeg(bytes, 72);
    fuzz::check(file.isEmpty() == !layout, "a standalone file of no frame, or none of a frame");
    if (!layout)
        return 0;
    checkStandalone(file, layout->width, layout->height);
    fuzz::check(std::size_t(file.size()) <= layout->end + 18 + standardHuffmanTablesSegment().size(),
        "the standalone file grew by more than its header and tables");
    if ((long long)layout->width * layout->height > kMostPixels)
        return 0;
    const int rotation = int(size % 4);
    const bool mirrored = (size / 4) % 2 == 1;
    QString why;
    const auto photo = output::losslessCameraPhoto(bytes, rotation, mirrored, 72, &why);
    if (!photo)
        return 0;
    if (rotation % 2)
        checkStandalone(*photo, layout->height, layout->width);
    else
        checkStandalone(*photo, layout->width, layout->height);
    if (rotation != 0 || mirrored)
        return 0;
    fuzz::check(*photo == file, "the unturned photo is not the standalone file");
    // Kept without loss: libjpeg reads the photo without a warning, and as it reads the frame
    // (whose own headers may have made it warn).
    const std::vector<unsigned char> ours = decode(bytesOf(*photo), true);
    fuzz::check(!ours.empty(), "the photo does not read cleanly");
    fuzz::check(ours == decode(bytes.first(layout->end), false), "the photo decodes otherwise than the frame");
    return 0;
}
