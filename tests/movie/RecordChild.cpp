// SPDX-License-Identifier: GPL-3.0-or-later
// A recording to be killed: the application with its default settings (HOME chosen by the
// test), a movie started, its path printed; then it records until killed.
#include "MovieFileOutput.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"
#include "WindowDefinition.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    quillora::app::WindowDefinition def(&app);
    def.awake();
    auto *c = def.controller();
    c->recordingClick(nullptr);
    if (!testAccess(*c).recording() || !testAccess(*c).mCaptureMovieFileOutput())
        return 3;
    std::printf("recording %s\n", qPrintable(testAccess(*c).mCaptureMovieFileOutput()->outputFileURL().toLocalFile()));
    std::fflush(stdout);
    return QApplication::exec();
}
