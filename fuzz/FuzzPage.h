// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A frame as a camera sends it in an MJPEG mode (4:2:2): a page with lines of "text", for the
// JPEG targets to decode after every input (the decoder must still show a good frame after
// whatever came before). Line spacing and margins follow the width, so every size looks alike.
#include "FuzzSupport.h"
#include "TurboJpegHandles.h"

#include <algorithm>
#include <vector>

namespace quillora::fuzz {

inline std::vector<unsigned char> pageFrame(int width, int height)
{
    const int margin = width / 16, step = width * 3 / 80, line = width / 64;
    std::vector<unsigned char> pixels(std::size_t(width * height * 3), 235);
    for (int y = margin; y < height - margin; y += step)
        for (int x = margin; x < width - margin; ++x)
            if ((x / 7 + y) % 5 != 0)
                for (int row = y; row < y + line; ++row)
                    std::fill_n(&pixels[std::size_t((row * width + x) * 3)], 3, 30);
    TjHandlePtr compressor(tjInitCompress());
    unsigned char *raw = nullptr;
    unsigned long size = 0;
    if (!compressor
        || tjCompress2(compressor.get(), pixels.data(), width, 0, height, TJPF_RGB, &raw, &size, TJSAMP_422, 85, 0)
            != 0)
        fail("the good frame cannot be made");
    const TjBufferPtr jpeg(raw);
    return {jpeg.get(), jpeg.get() + size};
}

} // namespace quillora::fuzz
