// SPDX-License-Identifier: GPL-3.0-or-later
// A recording to be killed: the application with its default settings (HOME chosen by the
// test), a movie started, its path printed, and "written N" once N pictures (the argument) have
// reached the file; then it records until killed.
#include "MovieFileOutput.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"
#include "WindowDefinition.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const quint64 pictures = argc > 1 ? QByteArray(argv[1]).toULongLong() : 0;
    quillora::app::WindowDefinition def(&app);
    def.awake();
    auto *c = def.controller();
    c->recordingClick(nullptr);
    const auto movie = testAccess(*c).mCaptureMovieFileOutput();
    if (!testAccess(*c).recording() || !movie)
        return 3;
    std::printf("recording %s\n", qPrintable(movie->outputFileURL().toLocalFile()));
    std::fflush(stdout);
    QTimer count;
    QObject::connect(&count, &QTimer::timeout, &app, [&] {
        if (movie->statistics().framesWritten < pictures)
            return;
        std::printf("written %llu\n", static_cast<unsigned long long>(pictures));
        std::fflush(stdout);
        count.stop();
    });
    count.start(10);
    return QApplication::exec();
}
