// SPDX-License-Identifier: GPL-3.0-or-later
// The recording benchmark's driver. Two modes:
//   movie_bench record <folder> <seconds> [preview-seconds]
//       starts the application offscreen (the environment names the virtual camera and
//       microphone), lets the preview run, records a movie at the 640x480 preset while the
//       preview keeps running, and prints what it measured as key=value lines;
//   movie_bench inspect <movie>
//       decodes a movie to its end and prints its pictures, sound and the drift between them.
#include "BenchSupport.h"
#include "MatrixControl.h"
#include "MovieFileOutput.h"
#include "MovieInspect.h"
#include "PathControl.h"
#include "TestSupport.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"
#include "WindowDefinition.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMainWindow>
#include <QTimer>

#include <cmath>
#include <cstdio>

using namespace quillora::bench;

namespace {

// The finished movie is not handed to a player: the benchmark reads it itself.
class KeepClosed : public QObject {
    Q_OBJECT
public:
    KeepClosed() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~KeepClosed() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
public Q_SLOTS:
    void open(const QUrl &) { }
};

void printDecoded(const QString &path)
{
    const auto decoded = quillora::test::decodeMovie(path, 300);
    const auto info = quillora::test::discoverMovie(path);
    std::printf("file=%s\n", qPrintable(path));
    std::printf("decode_error=%s\n", decoded.error.isEmpty() ? "none" : qPrintable(decoded.error));
    std::printf("picture=%dx%d\n", info.pictureSize.width(), info.pictureSize.height());
    std::printf("audio_tracks=%d\n", info.audioTracks);
    std::printf("frames_in_file=%llu\n", static_cast<unsigned long long>(decoded.videoFrames));
    std::printf("video_span_s=%.3f..%.3f\n", decoded.videoStart, decoded.videoEnd);
    std::printf("audio_span_s=%.3f..%.3f\n", decoded.audioStart, decoded.audioEnd);
    if (decoded.audioEnd >= 0 && decoded.videoEnd >= 0)
        std::printf("drift_end_ms=%.1f\n", std::fabs(decoded.videoEnd - decoded.audioEnd) * 1000.0);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QStringLiteral("inspect")) {
        printDecoded(args.at(2));
        return 0;
    }
    if (args.size() < 4 || args.at(1) != QStringLiteral("record")) {
        std::fprintf(stderr, "usage: movie_bench record <folder> <seconds> [preview-seconds] | inspect <movie>\n");
        return 2;
    }
    const int seconds = args.at(3).toInt();
    const int previewSeconds = args.size() > 4 ? args.at(4).toInt() : 10;
    KeepClosed keepClosed;
    quillora::app::WindowDefinition def(&app);
    def.awake();
    auto *c = def.controller();
    if (!testAccess(*c).device()) {
        std::fprintf(stderr, "no camera: set QUILLORA_VIRTUAL_CAMERAS\n");
        return 3;
    }
    testAccess(*c).mVideoPath()->setURL(QUrl::fromLocalFile(args.at(2)));
    testAccess(*c).mVideoFilename()->setText(QStringLiteral("Bench"));
    testAccess(*c).mVideoOverwrite()->selectCellAtRow(0);
    testAccess(*c).mVideoSize()->setCurrentIndex(1);
    testAccess(*c).mVideoCaptureAudio()->setCheckState(Qt::Checked);

    using quillora::test::waitUntil;
    auto pause = [](int ms) { quillora::test::runEventsFor(std::chrono::milliseconds(ms)); };

    // The preview alone, as the baseline.
    pause(1000);
    double cpu0 = cpuSeconds();
    quint64 shown0 = testAccess(*c).mCaptureView()->framesShown();
    QElapsedTimer clock;
    clock.start();
    pause(previewSeconds * 1000);
    const double previewWall = clock.elapsed() / 1000.0;
    const double previewCpu = cpuSeconds() - cpu0;
    const quint64 previewShown = testAccess(*c).mCaptureView()->framesShown() - shown0;

    // The recording, with the preview running.
    cpu0 = cpuSeconds();
    clock.restart();
    c->recordingClick(nullptr);
    const auto output = testAccess(*c).mCaptureMovieFileOutput();
    if (!testAccess(*c).recording() || !output) {
        std::fprintf(stderr, "recording did not start\n");
        return 4;
    }
    shown0 = testAccess(*c).mCaptureView()->framesShown();
    pause(seconds * 1000);
    const quint64 recordShown = testAccess(*c).mCaptureView()->framesShown() - shown0;
    c->recordingClick(nullptr);
    if (!waitUntil([&] { return !testAccess(*c).recording(); }, std::chrono::seconds(30))) {
        std::fprintf(stderr, "the finish never came\n");
        return 5;
    }
    const double recordWall = clock.elapsed() / 1000.0;
    const double recordCpu = cpuSeconds() - cpu0;
    const auto stats = output->statistics();

    std::printf("preview_wall_s=%.2f\n", previewWall);
    std::printf("preview_cpu_per_s=%.3f\n", previewCpu / previewWall);
    std::printf("preview_fps=%.1f\n", previewShown / previewWall);
    std::printf("record_wall_s=%.2f\n", recordWall);
    std::printf("record_cpu_per_s=%.3f\n", recordCpu / recordWall);
    std::printf("record_preview_fps=%.1f\n", recordShown / double(seconds));
    std::printf("frames_offered=%llu\n", static_cast<unsigned long long>(stats.framesOffered));
    std::printf("frames_written=%llu\n", static_cast<unsigned long long>(stats.framesWritten));
    std::printf("frames_dropped=%lld\n",
        static_cast<long long>(stats.framesOffered) - static_cast<long long>(stats.framesWritten));
    std::fflush(stdout);
    printDecoded(output->outputFileURL().toLocalFile());
    return 0;
}

#include "MovieBench.moc"
