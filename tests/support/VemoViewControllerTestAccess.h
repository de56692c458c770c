// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// For tests only: the one way a test sees the main controller's state. Every field can be read
// by its own name (the controls are handed out so that a test can drive them as a user would);
// the only writes are the cameras in use, which a test sets to one that no menu offers (a
// vanished node, no microphone) before it starts the stream.
#include "VemoViewController.h"

#include <cstdint>
#include <memory>

namespace quillora::app {

class VemoViewControllerTestAccess {
public:
    explicit VemoViewControllerTestAccess(VemoViewController &controller)
        : m_c(controller)
    {
    }

    capture::CaptureView *mCaptureView() const { return m_c.mCaptureView; }
    ImageView *mPreviewImage() const { return m_c.mPreviewImage; }
    prefs::PathControl *mPhotoPath() const { return m_c.mPhotoPath; }
    QLineEdit *mPhotoFilename() const { return m_c.mPhotoFilename; }
    prefs::PathControl *mVideoPath() const { return m_c.mVideoPath; }
    QLineEdit *mVideoFilename() const { return m_c.mVideoFilename; }
    QDialog *mPreferences() const { return m_c.mPreferences; }
    prefs::MatrixControl *mOverwrite() const { return m_c.mOverwrite; }
    prefs::MatrixControl *mVideoOverwrite() const { return m_c.mVideoOverwrite; }
    QComboBox *mPhotoFormat() const { return m_c.mPhotoFormat; }
    QComboBox *mPhotoSize() const { return m_c.mPhotoSize; }
    QPushButton *mRecordingButton() const { return m_c.mRecordingButton; }
    QComboBox *mVideoSize() const { return m_c.mVideoSize; }
    QAction *mVideoMenu() const { return m_c.mVideoMenu; }
    QMenu *mDevicesMenu() const { return m_c.mDevicesMenu; }
    QCheckBox *mVideoCaptureAudio() const { return m_c.mVideoCaptureAudio; }
    const capture::CaptureDevicePtr &device() const { return m_c.device; }
    const capture::CaptureDevicePtr &audioDevice() const { return m_c.audioDevice; }
    const std::shared_ptr<capture::CaptureSession> &mCaptureSession() const { return m_c.mCaptureSession; }
    const std::shared_ptr<capture::CaptureDeviceInput> &mCaptureVideoDeviceInput() const
    {
        return m_c.mCaptureVideoDeviceInput;
    }
    const std::shared_ptr<capture::CaptureDeviceInput> &mCaptureAudioDeviceInput() const
    {
        return m_c.mCaptureAudioDeviceInput;
    }
    const std::shared_ptr<capture::DecompressedVideoOutput> &mCaptureDecompressedVideoOutput() const
    {
        return m_c.mCaptureDecompressedVideoOutput;
    }
    const std::shared_ptr<capture::MovieFileOutput> &mCaptureMovieFileOutput() const
    {
        return m_c.mCaptureMovieFileOutput;
    }
    bool recording() const { return m_c.recording; }
    const std::shared_ptr<usb::UsbInterface> &interface() const { return m_c.interface; }
    std::int32_t rotation() const { return m_c.rotation.load(); }
    bool quilloraDevice() const { return m_c.quilloraDevice; }
    bool mirror() const { return m_c.mirror.load(); }
    WindowMessages *mMessages() const { return m_c.mMessages; }
    RecordingIndicator *mRecordingIndicator() const { return m_c.mRecordingIndicator; }
    QAbstractButton *mFreezeButton() const { return m_c.mFreezeButton; }
    QAction *mFreezeItem() const { return m_c.mFreezeItem; }
    QAction *mMirrorItem() const { return m_c.mMirrorItem; }
    PictureControlsPanel *mPictureControls() const { return m_c.mPictureControls; }

    // The camera and the sound input the next startStream uses.
    void setDevice(capture::CaptureDevicePtr camera) { m_c.device = std::move(camera); }
    void setAudioDevice(capture::CaptureDevicePtr microphone) { m_c.audioDevice = std::move(microphone); }

private:
    VemoViewController &m_c;
};

// testAccess(c).mPhotoSize(), testAccess(*c).recording().
inline VemoViewControllerTestAccess testAccess(VemoViewController &controller)
{
    return VemoViewControllerTestAccess(controller);
}

} // namespace quillora::app
