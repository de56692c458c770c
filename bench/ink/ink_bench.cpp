// SPDX-License-Identifier: GPL-3.0-or-later
// Ink benchmark: the live view of a 2048x1536 MJPEG virtual camera at 30 fps in an 800x600
// picture, as the window has it (the live view, the still, the ink layer over them). Ink 0: none;
// 1: 2,000 recorded strokes of 100 points each, replayed through the ink layer's mouse input
// before measuring, shown over the picture; 2: the same, and while measuring a pen keeps drawing
// at 120 Hz (a stroke finished every 100 points). Prints frames shown per second, CPU per frame,
// the ink layer's paint time per frame and the longest a pointer event took to be drawn.
// Usage: ink_bench [seconds] [ink: 0, 1 or 2] [warm-up seconds]   (see bench/README.md)
#include "BenchSupport.h"
#include "CaptureDevice.h"
#include "CaptureSession.h"
#include "CaptureView.h"
#include "DecompressedVideoOutput.h"
#include "ImageView.h"
#include "InkTools.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QStackedWidget>
#include <QTimer>

#include <cmath>
#include <cstdio>

using namespace quillora;
using namespace quillora::capture;
using namespace quillora::bench;

namespace {

// A hand's stroke: a short run of handwriting, a wavy line drifting across, sampled 100 times.
std::vector<QPointF> recordedStroke(QRandomGenerator &random, QSizeF view)
{
    std::vector<QPointF> points;
    QPointF at(random.bounded(view.width() * 0.8), random.bounded(view.height() * 0.9) + 20);
    const double heading = random.bounded(2.0 * M_PI);
    for (int i = 0; i < 100; ++i) {
        const double t = i / 99.0;
        at += QPointF(std::cos(heading + 3 * std::sin(t * 9)), std::sin(heading + 3 * std::sin(t * 9))) * 2.5;
        points.push_back(at);
    }
    return points;
}

class Pen {
public:
    explicit Pen(QWidget *layer)
        : m_layer(layer)
    {
    }
    void send(QEvent::Type type, QPointF at)
    {
        QElapsedTimer took;
        took.start();
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, m_layer->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
            held, Qt::NoModifier);
        QApplication::sendEvent(m_layer, &event);
        longest = std::max(longest, took.nsecsElapsed());
        total += took.nsecsElapsed();
        ++events;
    }
    void stroke(const std::vector<QPointF> &points)
    {
        send(QEvent::MouseButtonPress, points.front());
        for (size_t i = 1; i < points.size(); ++i)
            send(QEvent::MouseMove, points[i]);
        send(QEvent::MouseButtonRelease, points.back());
    }
    qint64 longest = 0;
    qint64 total = 0;
    qint64 events = 0;

private:
    QWidget *m_layer;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int inkCase = argc > 2 ? std::atoi(argv[2]) : 0;
    const bool withInk = inkCase > 0;
    const int warmup = argc > 3 ? std::max(3, std::atoi(argv[3])) : 8;
    const QSize frame(2048, 1536);

    DeviceDescription d;
    d.kind = DeviceKind::VirtualCamera;
    d.displayName = QStringLiteral("Bench Camera");
    d.modes = {CameraMode{QStringLiteral("MJPG"), frame, {}, {}, {FrameRate{30, 1}}, {}, {}}};
    auto camera = std::make_shared<CaptureDevice>(d);

    QStackedWidget stack;
    auto *view = new CaptureView;
    auto *still = new app::ImageView;
    stack.addWidget(view);
    stack.addWidget(still);
    app::InkTools tools(&stack, view, still);
    stack.resize(800, 600);
    stack.show();
    KeepNewest keeper;
    auto session = std::make_shared<CaptureSession>();
    auto output = std::make_shared<DecompressedVideoOutput>();
    QString error;
    session->addInput(std::make_shared<CaptureDeviceInput>(camera), &error);
    output->setDelegate(&keeper);
    session->addOutput(output, &error);
    output->setPixelBufferAttributes({{kPixelBufferWidthKey, frame.width()}, {kPixelBufferHeightKey, frame.height()}});
    view->setCaptureSession(session);
    session->startRunning();

    app::InkOverlay *layer = tools.overlay();
    Pen pen(layer);
    QRandomGenerator random(27);
    double replaySeconds = 0;
    // The recorded strokes, once the view shows the camera's picture.
    QTimer::singleShot(1500, [&] {
        if (!withInk)
            return;
        tools.inkAction()->trigger();
        QElapsedTimer replay;
        replay.start();
        for (int i = 0; i < 2000; ++i)
            pen.stroke(recordedStroke(random, stack.size()));
        replaySeconds = replay.elapsed() / 1000.0;
    });
    // While measuring, a pen draws at 120 Hz.
    QTimer hand;
    hand.setTimerType(Qt::PreciseTimer);
    hand.setInterval(8);
    std::vector<QPointF> drawing;
    size_t next = 0;
    QObject::connect(&hand, &QTimer::timeout, [&] {
        if (next == drawing.size()) {
            if (!drawing.empty())
                pen.send(QEvent::MouseButtonRelease, drawing.back());
            drawing = recordedStroke(random, stack.size());
            next = 0;
        }
        pen.send(next == 0 ? QEvent::MouseButtonPress : QEvent::MouseMove, drawing[next]);
        ++next;
    });

    double cpuStart = 0;
    quint64 shownStart = 0, paintsStart = 0;
    qint64 paintNanosStart = 0;
    QElapsedTimer wall;
    QTimer::singleShot(warmup * 1000, [&] {
        pen.longest = 0;
        pen.total = pen.events = 0;
        if (inkCase == 2)
            hand.start();
        cpuStart = cpuSeconds();
        shownStart = view->framesShown();
        paintsStart = layer->paints();
        paintNanosStart = layer->paintNanoseconds();
        wall.start();
        QTimer::singleShot(seconds * 1000, [&] { app.quit(); });
    });
    app.exec();
    const double elapsed = double(wall.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuStart;
    const double shown = double(view->framesShown() - shownStart);
    const double paints = double(layer->paints() - paintsStart);
    const double paintMs = paints > 0 ? double(layer->paintNanoseconds() - paintNanosStart) / paints / 1e6 : 0;
    // What a change of the view (a zoom step) costs with all that ink at once.
    double redrawMs = 0;
    if (withInk) {
        const quint64 before = layer->paints();
        const qint64 nanos = layer->paintNanoseconds();
        view->setZoom({1.26, {0.5, 0.5}});
        layer->grab(); // paints it
        redrawMs = layer->paints() > before ? double(layer->paintNanoseconds() - nanos) / 1e6 : 0;
    }
    session.reset();
    if (withInk)
        std::printf("ink: %zu strokes, %zu points replayed in %.1f s; the ink layer painted %.0f times, %.3f ms a "
                    "paint; the slowest pointer event took %.2f ms (120 Hz: 8.33 ms)\n",
            tools.page()->strokes().size(), tools.page()->pointsHeld(), replaySeconds, paints, paintMs,
            double(pen.longest) / 1e6);
    if (inkCase == 2)
        std::printf("ink: %lld pointer events while measuring, %.3f ms each on average\n", pen.events,
            pen.events ? double(pen.total) / double(pen.events) / 1e6 : 0.0);
    if (withInk)
        std::printf(
            "ink: the paint after a zoom step (the strokes' picture moved along until the view rests): %.1f ms\n",
            redrawMs);
    std::printf("preview 2048x1536 MJPEG %s for %.1f s: %.1f frames shown/s, %.2f ms CPU per frame\n",
        inkCase == 0 ? "without ink" : (inkCase == 1 ? "with ink shown" : "with ink and a pen drawing at 120 Hz"),
        elapsed, shown / elapsed, shown > 0 ? cpu * 1000.0 / shown : 0.0);
    std::printf("RESULT shown_fps=%.2f cpu_ms_per_frame=%.3f paint_ms=%.3f slowest_event_ms=%.3f\n", shown / elapsed,
        shown > 0 ? cpu * 1000.0 / shown : 0.0, paintMs, double(pen.longest) / 1e6);
    return shown > 0 ? 0 : 1;
}
