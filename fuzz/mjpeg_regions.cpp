// SPDX-License-Identifier: GPL-3.0-or-later
// A part of a camera's JPEG frame decoded for a zoomed view (libjpeg's partial decompression: rows
// skipped, columns cropped, the rest never read). The frame may be anything a camera, a cable or
// a device that only claims to be a camera sends: the decode gives the part or a reason, never
// more pixels than it says, and the decoder then decodes a good frame as before.
// Input: four bytes choosing the part (its left, top, width and height in steps of 16 pixels of
// the picture at the scale; the top three bits of the first byte choose the DCT scale too), then
// one frame's bytes.
#include "FuzzPage.h"

#include "JpegRegion.h"

#include <vector>

using namespace quillora;

namespace {

// A 320x240 page as a camera sends it in an MJPEG mode (4:2:2), to decode after every input.
std::vector<unsigned char> gGoodFrame;

// Decodes the part and checks what came out is what was said.
bool decodePart(capture::JpegRegionDecoder &decoder, const std::uint8_t *data, std::size_t size, int eighths,
    const std::uint8_t *part)
{
    std::vector<std::uint8_t> pixels;
    QString why;
    // Parts of pictures up to 4096 pixels a side; the decoder cuts them to the picture.
    const QRect wanted(part[0] * 16, part[1] * 16, part[2] * 16 + 1, part[3] * 16 + 1);
    const auto region = decoder.decode(data, size, eighths, wanted, pixels, &why);
    if (!region) {
        if (why.isEmpty())
            fuzz::fail("a part refused without a reason");
        return false;
    }
    const QRect whole(QPoint(0, 0), region->scaledFrame);
    if (region->decoded.isEmpty() || !whole.contains(region->decoded))
        fuzz::fail("a decoded part outside the picture");
    if (pixels.size() != std::size_t(region->decoded.width()) * std::size_t(region->decoded.height()) * 4)
        fuzz::fail("the part's pixels are not its size");
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietQt();
    gGoodFrame = fuzz::pageFrame(320, 240);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static capture::JpegRegionDecoder decoder;
    if (size < 4)
        return 0;
    const int eighths = 1 + (data[0] >> 5);
    decodePart(decoder, data + 4, size - 4, eighths, data);
    // Whatever became of that frame, the decoder goes on with a good one.
    const std::uint8_t topLeft[4] = {0, 0, 8, 8};
    if (!decodePart(decoder, gGoodFrame.data(), gGoodFrame.size(), eighths, topLeft))
        fuzz::fail("a good frame no longer decodes after a bad one");
    return 0;
}
