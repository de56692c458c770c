// SPDX-License-Identifier: GPL-3.0-or-later
// Freeze, rotation and photos: the controller's side. The work itself (turning, encoding,
// naming, writing) lives in the output layer.
#include "VemoViewController.h"

#include "CaptureLog.h"
#include "HandOff.h"
#include "ImageView.h"
#include "InkPainting.h"
#include "MatrixControl.h"
#include "OutputLog.h"
#include "PathControl.h"
#include "PhotoCapture.h"
#include "ProgramClock.h"

#include <QAbstractEventDispatcher>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLineEdit>
#include <QStackedWidget>
#include <QThread>

#include <chrono>
#include <future>
#include <memory>
#include <optional>

namespace quillora::app {

namespace {

constexpr std::chrono::milliseconds kSnapshotHold{2000};

} // namespace

output::PhotoSettings VemoViewController::readPhotoSettings() const
{
    output::PhotoSettings settings;
    settings.sizeIndex = mPhotoSize ? mPhotoSize->currentIndex() : -1;
    settings.formatIndex = mPhotoFormat ? mPhotoFormat->currentIndex() : -1;
    settings.folderText = mPhotoPath ? mPhotoPath->URL().path(QUrl::FullyDecoded) : QString();
    settings.baseName = mPhotoFilename ? mPhotoFilename->text() : QString();
    settings.collisionRow = mOverwrite ? mOverwrite->selectedRow() : -1;
    return settings;
}

// From another thread (the camera's button) the controls are read by the main thread, which
// the caller waits for. Nothing is held while waiting, so a window photo in progress on the
// main thread simply finishes first. Gives up when the main thread does not answer (it is
// shutting down), and then no photo is taken.
std::optional<output::PhotoSettings> VemoViewController::photoSettings()
{
    if (QThread::currentThread() == thread())
        return readPhotoSettings();
    struct Answer {
        std::mutex mutex; // guards settings
        std::condition_variable given;
        std::optional<output::PhotoSettings> settings;
    };
    auto answer = std::make_shared<Answer>();
    mMailbox->post([this, answer] {
        const output::PhotoSettings settings = readPhotoSettings();
        std::lock_guard lock(answer->mutex);
        answer->settings = settings;
        answer->given.notify_all();
    });
    std::unique_lock lock(answer->mutex);
    if (!answer->given.wait_for(lock, std::chrono::seconds(5), [&] { return answer->settings.has_value(); })) {
        qCInfo(lcOutput) << "photo not taken: the main thread did not answer";
        return std::nullopt;
    }
    return answer->settings;
}

namespace {

QStackedWidget *pictureStack(ImageView *preview)
{
    return preview ? qobject_cast<QStackedWidget *>(preview->parentWidget()) : nullptr;
}

} // namespace

void VemoViewController::showLivePicture()
{
    if (QStackedWidget *stack = pictureStack(mPreviewImage))
        stack->setCurrentWidget(mCaptureView);
    // The hidden still would keep a whole camera frame (12 MB at the largest size), and with
    // it the frame pool of the session it came from.
    if (mPreviewImage)
        mPreviewImage->setImage(QImage());
}

void VemoViewController::previewClick(QObject *)
{
    if (!mCaptureSession) {
        qCInfo(lcCapture) << "freeze: no camera is running";
        showFreezeState(); // a checkable control toggled itself on the click
        return;
    }
    if (mCaptureSession->isRunning()) {
        const Still still = newestStill();
        if (!still.frame) {
            if (still.damaged)
                showStatusMessage(tr("Picture not frozen: %1").arg(describeWriteFault(output::WriteFault::NoPicture)));
            showFreezeState();
            return;
        }
        // The still is the frame as decoded, unturned; the image shares the frame's pixels.
        mPreviewImage->setImage(still.image);
        if (QStackedWidget *stack = pictureStack(mPreviewImage))
            stack->setCurrentWidget(mPreviewImage);
        mCaptureSession->stopRunning();
        showFreezeState();
        return;
    }
    mCaptureSession->startRunning();
    showLivePicture();
    showFreezeState();
}

void VemoViewController::rotateClick(QObject *)
{
    // Only the main thread changes the rotation; photos on other threads read it.
    const std::int32_t next = rotation.load() + 1;
    rotation.store(next == 4 ? 0 : next);
}

void VemoViewController::mirrorClick(QObject *)
{
    // Only the main thread changes the mirror; photos on other threads read it. Like a turn, it
    // shows from the next frame on.
    mirror.store(!mirror.load());
    showMirrorState();
}

QImage VemoViewController::viewWillDisplayImage(capture::CaptureView *, const QImage &image)
{
    return output::orientedImage(image, rotation.load(), mirror.load());
}

capture::PictureOrientation VemoViewController::viewOrientation(capture::CaptureView *)
{
    const std::int32_t turns = rotation.load();
    return {turns >= 1 && turns <= 3 ? turns : 0, mirror.load()};
}

VemoViewController::Still VemoViewController::newestStill()
{
    capture::Frame newest;
    capture::Frame before;
    {
        std::lock_guard lock(mLock);
        newest = mCurrentImageBuffer;
        before = mPreviousImageBuffer;
    }
    // Decoded here, outside the lock, on the thread that asks. The frame before the newest came
    // a thirtieth of a second earlier: what the user saw when asking.
    Still still;
    for (const capture::Frame &frame : {newest, before}) {
        if (!frame)
            continue;
        QImage image = frame.image();
        if (!image.isNull()) {
            if (still.damaged)
                qCInfo(lcCapture) << "the newest frame will not decode; the one before it is taken";
            return {frame, std::move(image), false};
        }
        still.damaged = true;
    }
    if (still.damaged)
        qCInfo(lcCapture) << "no picture: the newest frames will not decode";
    return still;
}

void VemoViewController::photoClick(QObject *)
{
    takePhoto({});
}

void VemoViewController::annotatedPhotoClick(QObject *)
{
    if (!mInk || mInk->isEmpty()) {
        takePhoto({});
        return;
    }
    // The strokes as they are now; the page's pixels are those of the frame size it began on.
    const std::vector<InkStrokePtr> strokes = mInk->strokes();
    const QSizeF page = mInk->pageSize();
    takePhoto([strokes, page](QPainter &painter, const QTransform &frameToPhoto, QSize frame) {
        const QTransform pageToFrame
            = QTransform::fromScale(frame.width() / page.width(), frame.height() / page.height());
        paintInk(painter, strokes, pageToFrame * frameToPhoto);
    });
}

void VemoViewController::takePhoto(const output::PhotoDrawing &drawing)
{
    const capture::Frame newest = currentFrame(); // our own reference, kept until the photo is written
    if (!newest) {
        qCInfo(lcOutput) << "no photo: no picture from a camera";
        showStatusMessage(tr("No photo taken: there is no picture yet"));
        return;
    }
    const std::int32_t turns = rotation.load();
    const bool mirrored = mirror.load();
    const std::optional<output::PhotoSettings> settings = photoSettings();
    if (!settings)
        return;
    // A camera's JPEG frame goes along as the camera sent it: a JPEG photo of it at its own size
    // is the camera's own data, read through (and so found whole or damaged) where the file is
    // made, and nothing is decoded for it. Any other photo, or that one when the frame turns out
    // damaged, takes the still: the newest frame's pixels, else those of the frame before it.
    // Ink is drawn over the pixels.
    Still still;
    const output::PhotoFrame photoFrame{[this, &still] {
                                            still = newestStill();
                                            return still.image;
                                        },
        newest.cameraJpeg()};
    const output::OutputResult written = output::writePhoto(photoFrame, turns, *settings, mirrored, drawing);
    if (!written.ok()) {
        showStatusMessage(tr("Photo not saved: %1").arg(describeWriteFault(written.fault)));
        return;
    }
    showStatusMessage(tr("Photo saved: %1").arg(QFileInfo(written.path).fileName()));
    const QUrl url = QUrl::fromLocalFile(written.path);
    // The desktop's services belong to the main thread: a button photo hands the file over.
    if (QThread::currentThread() == thread())
        QDesktopServices::openUrl(url);
    else
        mMailbox->post([url] { QDesktopServices::openUrl(url); });
}

void VemoViewController::snapshotByKey()
{
    if (gSnapshotBusy) {
        qCInfo(lcOutput) << "camera button: held off, a photo was taken less than two seconds ago";
        return;
    }
    // The hold ends on this thread's own event loop, like every other event of the listener; it
    // goes with the thread's event loop when the program ends within the hold (a press just
    // before quitting).
    QAbstractEventDispatcher *loop = QAbstractEventDispatcher::instance();
    if (!loop)
        qCInfo(lcOutput) << "snapshotByKey: no event loop on this thread, the hold will not end";
    mClock.singleShot(kSnapshotHold, loop, [this] { onTimer(); });
    photoClick(nullptr);
    gSnapshotBusy = true;
}

void VemoViewController::onTimer()
{
    gSnapshotBusy = false;
    qCInfo(lcOutput) << "camera button: the hold is over";
}

} // namespace quillora::app
