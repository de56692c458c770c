// SPDX-License-Identifier: GPL-3.0-or-later
// What the live view's JPEG decoding costs, step by step, on one thread without the pipeline
// around it: the virtual camera's 2048x1536 frame (or a JPEG file given) decoded in full, at the
// scale the view needs, and at 1/8 (little more than reading the entropy-coded data: the floor
// any DCT-scaled decoding stands on). CPU time of this thread per frame, medians of rounds that
// alternate the ways, so other work on the machine weighs on all alike.
// Usage: jpeg_decode_bench [rounds] [frame.jpg]
#include "JpegPicture.h"
#include "PixelScale.h"
#include "TurboJpegHandles.h"
#include "VirtualCamera.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

using namespace quillora::capture;

namespace {

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The virtual camera's page at frame 0, JPEG-encoded without the camera's sensor noise; pass a
// frame the camera sent (a file) to time its real frames.
std::vector<unsigned char> cameraFrame(QSize size)
{
    QImage page(size, QImage::Format_RGB32);
    page.fill(kVirtualPaper);
    paintVirtualPage(page, 0);
    quillora::TjHandlePtr tj(tjInitCompress());
    unsigned char *jpeg = nullptr;
    unsigned long length = 0;
    if (tjCompress2(tj.get(), page.constBits(), size.width(), int(page.bytesPerLine()), size.height(), TJPF_BGRX, &jpeg,
            &length, TJSAMP_422, 85, 0)
        != 0)
        return {};
    quillora::TjBufferPtr owned(jpeg);
    return {jpeg, jpeg + length};
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    std::vector<unsigned char> jpeg;
    if (argc > 2) {
        QFile file(QString::fromLocal8Bit(argv[2]));
        if (!file.open(QIODevice::ReadOnly))
            return 2;
        const QByteArray bytes = file.readAll();
        jpeg.assign(bytes.begin(), bytes.end());
    } else {
        jpeg = cameraFrame({2048, 1536});
    }
    JpegPicture picture;
    QString why;
    const auto full = picture.frameSize(jpeg.data(), jpeg.size(), &why);
    if (!full) {
        std::fprintf(stderr, "not a JPEG frame: %s\n", qPrintable(why));
        return 2;
    }
    const QSize scaledView = full->scaled(800, 600, Qt::KeepAspectRatio);
    const QSize view(scaledView.width() & ~1, scaledView.height() & ~1); // the view shows even sides
    const QSize half = jpegScaledSize(*full, view);
    const QSize eighth = jpegScaledSize(*full, QSize(1, 1));
    std::vector<uint8_t> big(size_t(full->width()) * size_t(full->height()) * 4);
    std::vector<uint8_t> shown(size_t(view.width()) * size_t(view.height()) * 4);
    HalvingScratch scratch;
    quillora::TjHandlePtr tj(tjInitDecompress());
    std::vector<uint8_t> planes(size_t(full->width()) * size_t(full->height()) * 3);

    struct Way {
        const char *name;
        std::function<bool()> run;
        std::vector<double> ms;
    };
    std::vector<Way> ways{
        {"full size, YUV planes (what jpegdec does)",
            [&] {
                return tjDecompressToYUV2(tj.get(), jpeg.data(), jpeg.size(), planes.data(), full->width(), 1,
                           full->height(), TJFLAG_FASTDCT)
                    == 0;
            },
            {}},
        {"full size, BGRx (photos)",
            [&] { return picture.decode(jpeg.data(), jpeg.size(), big.data(), full->width() * 4, *full, &why); }, {}},
        {"view: BGRx at the scale, then scaled",
            [&] {
                return picture.decode(jpeg.data(), jpeg.size(), big.data(), half.width() * 4, half, &why)
                    && scaleBgrx(big.data(), half.width() * 4, half, shown.data(), view.width() * 4, view, scratch);
            },
            {}},
        {"headers read (done twice a frame)",
            [&] { return picture.frameSize(jpeg.data(), jpeg.size(), &why).has_value(); }, {}},
        {"1/8 scale, YUV planes (the entropy floor)",
            [&] {
                return tjDecompressToYUV2(tj.get(), jpeg.data(), jpeg.size(), planes.data(), eighth.width(), 1,
                           eighth.height(), TJFLAG_FASTDCT)
                    == 0;
            },
            {}},
    };
    for (int r = 0; r < rounds; ++r)
        for (Way &way : ways) {
            const double t0 = threadCpuMs();
            if (!way.run()) {
                std::fprintf(stderr, "%s failed: %s\n", way.name, qPrintable(why));
                return 1;
            }
            way.ms.push_back(threadCpuMs() - t0);
        }
    std::printf("%dx%d JPEG frame of %.0f KB, view %dx%d (decoded at %dx%d), %d rounds, median ms CPU per frame\n",
        full->width(), full->height(), jpeg.size() / 1024.0, view.width(), view.height(), half.width(), half.height(),
        rounds);
    for (Way &way : ways) {
        std::sort(way.ms.begin(), way.ms.end());
        std::printf("  %-48s %7.3f\n", way.name, way.ms[way.ms.size() / 2]);
    }
    return 0;
}
