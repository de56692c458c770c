// SPDX-License-Identifier: GPL-3.0-or-later
// What the window tells the user: failures in plain words, whether a camera is connected,
// whether the picture is frozen. Added to the actions' own behaviour, which logs and returns
// as before.
#include "VemoViewController.h"

#include "HandOff.h"
#include "MovieFileOutput.h"
#include "OutputFile.h"
#include "PictureControlsPanel.h"
#include "WindowMessages.h"

#include <QAbstractButton>
#include <QAction>
#include <QThread>

namespace quillora::app {

void VemoViewController::showStatusMessage(const QString &text)
{
    if (QThread::currentThread() != thread()) {
        // A button photo runs on the listener thread; widgets belong to the main thread.
        mMailbox->post([this, text] { showStatusMessage(text); });
        return;
    }
    if (mMessages)
        mMessages->showStatusMessage(text);
}

void VemoViewController::showCameraPresence()
{
    // The picture controls' panel follows the camera in use, as the message over the picture.
    if (mPictureControls)
        mPictureControls->setCamera(device);
    if (!mMessages)
        return;
    if (device)
        mMessages->clearPersistentMessage();
    else if (cameraDisconnected())
        mMessages->showPersistentMessage(tr("Camera disconnected")); // over its last picture
    else
        mMessages->showPersistentMessage(tr("No camera connected"));
}

void VemoViewController::showFreezeState()
{
    const bool frozen = mCaptureSession && !mCaptureSession->isRunning();
    if (mFreezeButton)
        mFreezeButton->setChecked(frozen);
    if (mFreezeItem)
        mFreezeItem->setChecked(frozen);
}

void VemoViewController::showMirrorState()
{
    if (mMirrorItem)
        mMirrorItem->setChecked(mirror.load());
}

QString VemoViewController::describeWriteFault(output::WriteFault fault)
{
    using output::WriteFault;
    switch (fault) {
    case WriteFault::None:
        return {};
    case WriteFault::NoFolder:
        return tr("no folder is set in the preferences");
    case WriteFault::FolderMissing:
        return tr("the folder does not exist");
    case WriteFault::NotWritable:
        return tr("the folder cannot be written to");
    case WriteFault::DiskFull:
        return tr("the disk is full");
    case WriteFault::NoFreeName:
        return tr("no free file name is left");
    case WriteFault::BadSettings:
        return tr("the photo settings are not valid");
    case WriteFault::NoPicture:
        return tr("the camera's picture arrived damaged");
    case WriteFault::Other:
        break;
    }
    return tr("the file could not be written");
}

QString VemoViewController::describeMovieFault(capture::MovieFault fault)
{
    using capture::MovieFault;
    switch (fault) {
    case MovieFault::None:
        return {};
    case MovieFault::FolderMissing:
        return tr("the folder does not exist");
    case MovieFault::FolderNotWritable:
        return tr("the folder cannot be written to");
    case MovieFault::DiskFull:
        return tr("the disk is full");
    case MovieFault::WriteFailed:
        return tr("the file could not be written");
    case MovieFault::CameraStopped:
        return tr("the camera stopped sending pictures");
    case MovieFault::SoundStopped:
        return tr("the sound input was lost");
    case MovieFault::NotStarted:
        return tr("the camera had not started");
    case MovieFault::TooLong:
        return tr("the longest movie length was reached");
    }
    return tr("the file could not be written");
}

} // namespace quillora::app
