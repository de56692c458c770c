// A recording that is killed: starts the application, starts a movie in the folder given as
// the only argument, says where, and records until the test kills it.
#include "MatrixControl.h"
#include "MovieFileOutput.h"
#include "PathControl.h"
#include "VemoViewController.h"
#include "WindowDefinition.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    quillora::app::WindowDefinition def(&app);
    def.awake();
    auto *c = def.controller();
    c->mVideoPath->setURL(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])));
    c->mVideoFilename->setText(QStringLiteral("Quillora"));
    c->mVideoOverwrite->selectCellAtRow(1);
    c->mVideoSize->setCurrentIndex(1);
    c->mVideoCaptureAudio->setCheckState(Qt::Checked);
    c->recordingClick(nullptr);
    if (!c->recording || !c->mCaptureMovieFileOutput)
        return 3;
    std::printf("recording %s\n", qPrintable(c->mCaptureMovieFileOutput->outputFileURL().toLocalFile()));
    std::fflush(stdout);
    return QApplication::exec();
}
