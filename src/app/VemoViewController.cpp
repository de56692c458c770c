// SPDX-License-Identifier: GPL-3.0-or-later
#include "VemoViewController.h"

#include "CameraControlStore.h"
#include "CameraWatcher.h"
#include "CaptureLog.h"
#include "FrameMemory.h"
#include "ImageView.h"
#include "InkPage.h"
#include "MovieFile.h"
#include "MovieFileOutput.h"
#include "PhotoCapture.h"
#include "WindowMessages.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>

namespace quillora::app {

bool gSnapshotBusy = false;

const QUrl VemoViewController::kMakerPage(QStringLiteral("http://www.quillora.com/"));

VemoViewController::VemoViewController(QObject *parent)
    : QObject(parent)
    , mControlStore(std::make_unique<prefs::CameraControlStore>(prefs::UserDefaults::standardUserDefaults()))
    , mControlsSaveTimer(mClock.makeTimer(
          this, [this] { saveStoredControls(); }, Clock::Repeat::Once))
{
}

VemoViewController::~VemoViewController()
{
    // The pipeline's threads call back into this controller and into the view; end them
    // before either goes away. A movie still being written is completed on the way.
    mQuitting = true;
    stopStream();
    if (mControlsSaveTimer->isActive())
        saveStoredControls();
}

void VemoViewController::awakeFromNib()
{
    mCaptureView->setDelegate(this);
    setupPreferences();
    device = setupDevices();
    audioDevice = setupAudioDevices();
    if (device)
        startStream();
    showCameraPresence();
    // From here on, cameras plugged in or pulled out change the menu and the picture.
    watchCameras();
    startSnapshotListener();
}

void VemoViewController::windowWillClose()
{
    // Quitting in the middle of a recording would leave a file without its index: the movie
    // is completed first (a bounded wait), then the application ends. It is not opened,
    // since the user asked to leave.
    mQuitting = true;
    if (mCaptureMovieFileOutput && mCaptureMovieFileOutput->isRecording())
        finishMovieBeforeTeardown(false);
    // Picture controls set a moment ago are not lost with the window.
    if (mControlsSaveTimer->isActive())
        saveStoredControls();
    mApp->quit();
}

void VemoViewController::startStream()
{
    if (!device)
        return;
    // Ink belongs to the page under the camera: another camera shows another page.
    if (mInk && device->uniqueID() != mInkCameraId) {
        if (!mInkCameraId.isEmpty())
            mInk->reset();
        mInkCameraId = device->uniqueID();
    }
    QString error; // handed to every call that can fail; a failure does not stop the start
    mCaptureSession = std::make_shared<capture::CaptureSession>();
    device->open(&error);
    mCaptureVideoDeviceInput = std::make_shared<capture::CaptureDeviceInput>(device);
    mCaptureSession->addInput(mCaptureVideoDeviceInput, &error);
    mCaptureMovieFileOutput.reset();
    if (recording && audioDevice && mVideoCaptureAudio->checkState() == Qt::Checked) {
        audioDevice->open(&error);
        mCaptureAudioDeviceInput = std::make_shared<capture::CaptureDeviceInput>(audioDevice);
        mCaptureSession->addInput(mCaptureAudioDeviceInput, &error);
    }
    if (recording) {
        addMovieFileOutput();
    } else {
        mCaptureDecompressedVideoOutput = std::make_shared<capture::DecompressedVideoOutput>();
        mCaptureDecompressedVideoOutput->setDelegate(this);
        mCaptureSession->addOutput(mCaptureDecompressedVideoOutput, &error);
        // Frames arrive at the photo size, unturned: a photo then needs no resampling.
        const QSize size = output::photoSizeForIndex(mPhotoSize->currentIndex(), 0);
        const QVariantMap attributes{{capture::kPixelBufferWidthKey, std::int32_t(size.width())},
            {capture::kPixelBufferHeightKey, std::int32_t(size.height())}};
        if (auto *output = dynamic_cast<capture::DecompressedVideoOutput *>(mCaptureSession->outputs().at(0).get()))
            output->setPixelBufferAttributes(attributes);
    }
    // The picture controls the user set for this camera, before its first frame.
    applyStoredControls();
    // A camera that fails to start or while running (unplugged, busy) is said in
    // the window; the session logs it as well.
    connect(mCaptureSession.get(), &capture::CaptureSession::runtimeError, this,
        [this](const QString &) { showStatusMessage(tr("Camera error: no picture comes from the camera")); });
    mCaptureView->setCaptureSession(mCaptureSession);
    mCaptureSession->startRunning();
    // A new session always runs: a still left from a freeze must not cover it.
    showLivePicture();
    showFreezeState();
}

void VemoViewController::stopStream()
{
    // A rebuild for another reason (another camera, changed settings) would tear down the
    // output that is writing a movie: the recording is ended first, its finish runs (the
    // movie opens, `recording` is cleared), and the caller's startStream builds the preview.
    if (mCaptureMovieFileOutput && mCaptureMovieFileOutput->isRecording())
        finishMovieBeforeTeardown(!mQuitting);
    const bool hadSession = bool(mCaptureSession);
    if (mCaptureSession)
        mCaptureSession->stopRunning();
    // Released in this order: the session (which ends its pipeline), then its inputs and
    // outputs.
    mCaptureSession.reset();
    mCaptureVideoDeviceInput.reset();
    mCaptureAudioDeviceInput.reset();
    mCaptureDecompressedVideoOutput.reset();
    mCaptureMovieFileOutput.reset();
    if (hadSession)
        returnFreedMemory();
    showFreezeState();
}

void VemoViewController::captureOutputDidOutputVideoFrame(
    capture::DecompressedVideoOutput *, const capture::Frame &frame)
{
    capture::Frame exchanged = frame; // the controller's own reference to the new frame
    capture::Frame dropped;
    {
        std::lock_guard lock(mLock);
        // A JPEG frame is decoded only when a photo or a freeze asks for it, and may turn out
        // damaged then: the one before it is kept at hand for that case. Other frames always
        // decode, and keeping a second one of them would only hold a large buffer.
        dropped = std::exchange(mPreviousImageBuffer, frame.decodesOnDemand() ? mCurrentImageBuffer : capture::Frame());
        std::swap(mCurrentImageBuffer, exchanged);
    }
    // `exchanged` now holds the old frame and `dropped` the one before; both are released here,
    // outside the lock.
}

capture::Frame VemoViewController::currentFrame()
{
    std::lock_guard lock(mLock);
    return mCurrentImageBuffer;
}

void VemoViewController::aboutClick(QObject *sender)
{
    if (sender == mHelpMenu) {
        QDesktopServices::openUrl(kMakerPage);
        return;
    }
    mAbout->setVisible(true);
}

void VemoViewController::helpClick(QObject *)
{
    QDesktopServices::openUrl(kMakerPage);
}

} // namespace quillora::app
