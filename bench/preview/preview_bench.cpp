// SPDX-License-Identifier: GPL-3.0-or-later
// Preview benchmark: the capture layer with the real capture view showing a virtual camera,
// for a fixed time. Prints frames shown per second and CPU time per frame of this process.
// Usage: preview_bench [seconds] [width] [height] [format] [warm-up seconds] [zoom]   (see bench/README.md)
// With a zoom above 1 the view is zoomed that far into the middle of the page, as a teacher
// zooms into a word: it then shows a part of each frame, decoded from the frame's own pixels.
#include "BenchSupport.h"
#include "CaptureDevice.h"
#include "CaptureSession.h"
#include "CaptureView.h"
#include "DecompressedVideoOutput.h"
#include "Frame.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <cstdio>

using namespace quillora::capture;
using namespace quillora::bench;

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int width = argc > 2 ? std::atoi(argv[2]) : 2048;
    const int height = argc > 3 ? std::atoi(argv[3]) : 1536;

    DeviceDescription d;
    d.kind = DeviceKind::VirtualCamera;
    d.displayName = QStringLiteral("Bench Camera");
    // A camera of one mode: raw BGRx by default, or the V4L2 format given (MJPG: JPEG frames
    // decoded on the way in, as from a real camera at this size).
    const QString format = argc > 4 ? QString::fromLatin1(argv[4]) : QStringLiteral("XR24");
    // The virtual camera encodes each distinct JPEG frame of its page the first time it sends
    // it (a camera does that in its own hardware): measured after one period of the page.
    const int warmup = argc > 5 ? std::max(1, std::atoi(argv[5])) : 5;
    d.modes = {CameraMode{format, QSize(width, height), {}, {}, {FrameRate{30, 1}}, {}, {}}};
    auto camera = std::make_shared<CaptureDevice>(d);

    const double zoom = argc > 6 ? std::atof(argv[6]) : 1.0;
    CaptureView view;
    view.resize(800, 600);
    view.show();
    view.setZoom({zoom, {0.5, 0.5}});
    KeepNewest keeper;
    auto session = std::make_shared<CaptureSession>();
    auto output = std::make_shared<DecompressedVideoOutput>();
    QString error;
    session->addInput(std::make_shared<CaptureDeviceInput>(camera), &error);
    output->setDelegate(&keeper);
    session->addOutput(output, &error);
    output->setPixelBufferAttributes({{kPixelBufferWidthKey, width}, {kPixelBufferHeightKey, height}});
    view.setCaptureSession(session);
    session->startRunning();

    // Warm up, then measure.
    double cpuStart = 0;
    quint64 shownStart = 0;
    long framesStart = 0;
    QElapsedTimer wall;
    QTimer::singleShot(warmup * 1000, [&] {
        cpuStart = cpuSeconds();
        shownStart = view.framesShown();
        framesStart = keeper.frames.load();
        wall.start();
        QTimer::singleShot(seconds * 1000, [&] { app.quit(); });
    });
    app.exec();
    const double elapsed = double(wall.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuStart;
    const double shown = double(view.framesShown() - shownStart);
    const double decoded = double(keeper.frames.load() - framesStart);
    session.reset();
    std::printf(
        "preview %dx%d zoomed %.2fx for %.1f s: %.1f frames shown/s, %.1f frames decoded/s, %.2f ms CPU per frame, "
        "%.1f%% of one core\n",
        width, height, view.zoom().factor, elapsed, shown / elapsed, decoded / elapsed,
        shown > 0 ? cpu * 1000.0 / shown : 0.0, cpu / elapsed * 100.0);
    std::printf(
        "RESULT shown_fps=%.2f cpu_ms_per_frame=%.3f\n", shown / elapsed, shown > 0 ? cpu * 1000.0 / shown : 0.0);
    return shown > 0 ? 0 : 1;
}
