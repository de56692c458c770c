// SPDX-License-Identifier: GPL-3.0-or-later
// Prints what a movie holds, for the end-to-end check: movie_inspect <movie>
#include "MovieInspect.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const auto info = quillora::test::discoverMovie(QString::fromLocal8Bit(argv[1]));
    const auto decoded = quillora::test::decodeMovie(QString::fromLocal8Bit(argv[1]));
    std::printf("container=%s\n", qPrintable(info.container));
    std::printf("video=%s %dx%d\n", qPrintable(info.videoCodec), info.pictureSize.width(), info.pictureSize.height());
    std::printf("audio=%s/%d %d\n", qPrintable(info.audioCodec), info.audioMpegVersion, info.sampleRate);
    std::printf("frames=%llu %s %s\n", decoded.videoFrames, qPrintable(info.error), qPrintable(decoded.error));
    return info.error.isEmpty() && decoded.error.isEmpty() ? 0 : 1;
}
