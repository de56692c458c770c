// Prints what a movie holds, for the end-to-end check: movie_inspect <movie>
#include "MovieInspect.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    const auto info = quillora::test::discoverMovie(path);
    const auto decoded = quillora::test::decodeMovie(path);
    std::printf("error=%s\n", info.error.isEmpty() && decoded.error.isEmpty() ? "none" : "yes");
    std::printf("container=%s\n", qPrintable(info.container));
    std::printf("video=%s %dx%d\n", qPrintable(info.videoCodec), info.pictureSize.width(), info.pictureSize.height());
    std::printf("audio=%s/%d %d\n", qPrintable(info.audioCodec), info.audioMpegVersion, info.sampleRate);
    std::printf("duration=%.2f\n", info.durationSeconds);
    std::printf("frames=%llu\n", static_cast<unsigned long long>(decoded.videoFrames));
    return info.error.isEmpty() && decoded.error.isEmpty() ? 0 : 1;
}
