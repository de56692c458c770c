// SPDX-License-Identifier: GPL-3.0-or-later
#include "VemoViewController.h"

#include "MatrixControl.h"
#include "MovieFile.h"
#include "MovieFileOutput.h"
#include "OutputFile.h"
#include "OutputLog.h"
#include "PathControl.h"
#include "RecordingIndicator.h"
#include "SizeTable.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QLineEdit>
#include <QPushButton>

namespace quillora::app {

namespace {

const QString kMovieExtension = QStringLiteral(".mov");

// The picture preset whose box is the size the movie size entry records at (no selection: the
// last entry, 640 x 480).
QString videoPresetForSizeIndex(int index)
{
    const QSize recorded = sizeEntryForIndex(kMovieSizes, index).recorded;
    const auto small
        = capture::CompressionOptions::compressionOptionsWithIdentifier(capture::kCompressionOptions240SizeH264Video);
    return small && small->maximumSize() == recorded ? capture::kCompressionOptions240SizeH264Video
                                                     : capture::kCompressionOptionsSD480SizeH264Video;
}

void setAlphaValue(QWidget *widget, qreal alpha)
{
    if (!widget)
        return;
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        widget->setGraphicsEffect(effect); // the widget owns it from here
    }
    effect->setOpacity(alpha);
}

} // namespace

void VemoViewController::addMovieFileOutput()
{
    QString error; // like every step of startStream, a refusal does not stop the start
    mCaptureMovieFileOutput = std::make_shared<capture::MovieFileOutput>();
    mCaptureSession->addOutput(mCaptureMovieFileOutput, &error);
    mCaptureMovieFileOutput->setDelegate(this,
        [this](capture::MovieFileOutput *output, const QUrl &url, const QString &why, capture::MovieFault fault,
            bool complete) { captureOutputDidFinishRecordingToOutputFileAtURL(output, url, why, fault, complete); });
    const QString videoPreset = videoPresetForSizeIndex(mVideoSize->currentIndex());
    for (const auto &connection : mCaptureMovieFileOutput->connections()) {
        const QString mediaType = connection->mediaType();
        capture::CompressionOptionsPtr options;
        if (mediaType == capture::kMediaTypeVideo)
            options = capture::CompressionOptions::compressionOptionsWithIdentifier(videoPreset);
        else if (mediaType == capture::kMediaTypeSound)
            options = capture::CompressionOptions::compressionOptionsWithIdentifier(
                capture::kCompressionOptionsHighQualityAACAudio);
        mCaptureMovieFileOutput->setCompressionOptions(options, connection);
    }
}

void VemoViewController::recordingClick(QObject *)
{
    if (recording) {
        // Stop request: the rest happens in the finish callback, once the file is complete.
        if (mCaptureMovieFileOutput) {
            mCaptureMovieFileOutput->recordToOutputFileURL(QUrl());
        } else {
            // No output is writing anything, so no finish would ever come: back to idle.
            qCWarning(lcOutput) << "movie: no recording under way; the controls return to idle";
            recording = false;
            showRecordingIdle();
        }
        return;
    }
    // Without a camera there is no session to record from, and nothing would ever end the
    // recording: the request is refused and nothing changes.
    if (!device || !mCaptureSession) {
        qCWarning(lcOutput) << "movie not started: no camera is open";
        showStatusMessage(tr("Movie not started: no camera connected"));
        return;
    }
    // The movie is written under an unfinished name of its own and takes the name the rule gives
    // only once it is complete: a recording that fails or is killed never touches the movie it
    // was to replace. Both names are claimed now, before anything is recorded.
    const output::MovieReservation reserved = output::reserveMovieFiles(output::OutputTarget{
        mVideoPath->URL().path(), mVideoFilename->text(), kMovieExtension, mVideoOverwrite->selectedRow()});
    if (!reserved.ok()) {
        qCWarning(lcOutput).noquote() << "movie not started:" << reserved.error;
        showStatusMessage(tr("Movie not started: %1").arg(describeWriteFault(reserved.fault)));
        return;
    }
    mMovieFiles = std::make_unique<output::ReservedMovie>(reserved.movie);
    recording = true;
    rotation = 0;
    mirror = false;
    showMirrorState();
    stopStream();
    startStream();
    if (!mCaptureMovieFileOutput) {
        qCWarning(lcOutput) << "movie not started: the recording session has no movie output";
        showStatusMessage(tr("Movie not started: the camera could not record"));
        output::releaseMovieFiles(*mMovieFiles);
        mMovieFiles.reset();
        recording = false;
        stopStream();
        startStream();
        return;
    }
    mCaptureMovieFileOutput->recordToOutputFileURL(QUrl::fromLocalFile(mMovieFiles->recordingPath));
    setAlphaValue(mRecordingButton, 0.0);
    mVideoMenu->setText(tr("Stop Capture"));
    if (mRecordingIndicator)
        mRecordingIndicator->start();
}

void VemoViewController::captureOutputDidFinishRecordingToOutputFileAtURL(
    capture::MovieFileOutput *output, const QUrl &url, const QString &error, capture::MovieFault fault, bool complete)
{
    // The output is asked only while it is ours: the finish may outlive one that went.
    const bool pictures
        = mCaptureMovieFileOutput.get() != output || mCaptureMovieFileOutput->statistics().framesWritten > 0;
    reportFinishedMovie(url, error, fault, complete, pictures, true);
    recording = false;
    stopStream();
    startStream();
    showRecordingIdle();
}

void VemoViewController::finishMovieBeforeTeardown(bool openMovie)
{
    const auto output = mCaptureMovieFileOutput; // kept alive while it finishes
    if (!output)
        return;
    const auto finish = output->finishNow(std::chrono::milliseconds(kMovieFinishTimeoutMs));
    if (!finish)
        return;
    // The finish callback's steps, but for the rebuild: whoever tears the session down
    // builds the next one, and with `recording` cleared it is the preview again.
    reportFinishedMovie(
        finish->url, finish->error, finish->fault, finish->complete, output->statistics().framesWritten > 0, openMovie);
    recording = false;
    showRecordingIdle();
}

void VemoViewController::reportFinishedMovie(
    const QUrl &url, const QString &error, capture::MovieFault fault, bool complete, bool pictures, bool openMovie)
{
    // A complete movie takes its name now; an incomplete one stays under its unfinished name,
    // beside the file it was to replace.
    output::PlacedMovie placed;
    QString finalName;
    if (mMovieFiles && url == QUrl::fromLocalFile(mMovieFiles->recordingPath)) {
        placed = output::placeRecordedMovie(*mMovieFiles, complete, pictures);
        finalName = QFileInfo(mMovieFiles->finalPath).fileName();
    } else {
        placed.path = url.toLocalFile(); // not a name of ours: left where it is
    }
    mMovieFiles.reset();
    const QString path = placed.path;
    const QFileInfo file(path);
    // A recording that never got to write anything leaves no movie: there is nothing to
    // open, and a player would only show an error.
    const bool written = !path.isEmpty() && file.isFile() && file.size() > 0;
    if (written)
        qCInfo(lcOutput).noquote() << "movie written:" << path;
    if (!placed.error.isEmpty())
        qCWarning(lcOutput).noquote() << "movie kept as" << path << "-" << placed.error;
    if (!error.isEmpty()) {
        if (written)
            qCWarning(lcOutput).noquote() << "movie ended early:" << path << "-" << error;
        else
            qCWarning(lcOutput).noquote()
                << "movie not written:" << (path.isEmpty() ? url.toString() : path) << "-" << error;
    }
    // The window says it too; the reason in plain words, the details stay in the log.
    const QString name = file.fileName();
    if (fault == capture::MovieFault::None && !error.isEmpty())
        fault = capture::MovieFault::WriteFailed; // an error of no known kind
    if (written && error.isEmpty() && !placed.error.isEmpty())
        showStatusMessage(tr("Movie saved as %1: it could not take the name %2 (%3)")
                              .arg(name, finalName, describeWriteFault(placed.fault)));
    else if (written && error.isEmpty())
        showStatusMessage(tr("Movie saved: %1").arg(name));
    else if (written && fault == capture::MovieFault::TooLong)
        showStatusMessage(tr("Movie saved: %1 (%2)").arg(name, describeMovieFault(fault)));
    else if (written)
        showStatusMessage(tr("Movie ended early: %1; it is saved as %2").arg(describeMovieFault(fault), name));
    else
        showStatusMessage(tr("Movie not saved: %1").arg(describeMovieFault(fault)));
    if (written && openMovie)
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void VemoViewController::showRecordingIdle()
{
    if (mVideoMenu)
        mVideoMenu->setText(tr("Start Capture"));
    setAlphaValue(mRecordingButton, 1.0);
    if (mRecordingIndicator)
        mRecordingIndicator->stop();
}

} // namespace quillora::app
