// SPDX-License-Identifier: GPL-3.0-or-later
// The settings: the ten controls of the preferences panel hold them while the application
// runs; the user-defaults store keeps them between runs. They are loaded once at start-up and
// stored only when the user confirms the panel.
#include "VemoViewController.h"

#include "MatrixControl.h"
#include "PathControl.h"
#include "PrefsLog.h"
#include "SettingsMapping.h"
#include "UserDefaults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>

namespace quillora::app {

namespace {

prefs::UserDefaults &store()
{
    return prefs::UserDefaults::standardUserDefaults();
}

} // namespace

void VemoViewController::setupPreferences()
{
    // The folders' first value: nothing stored for them means the Desktop.
    const QUrl desktop = prefs::desktopLocation();
    mPhotoPath->setURL(desktop);
    mVideoPath->setURL(desktop);
    setDefaults();
    loadPreferences();
}

void VemoViewController::setDefaults()
{
    store().registerDefaults(prefs::registeredDefaults());
}

void VemoViewController::loadPreferences()
{
    qCInfo(lcPrefs).noquote() << QStringLiteral("loading settings from %1").arg(prefs::UserDefaults::fileName());
    // Every key is read before any control is set. Setting a control from code sends no
    // action, so loading never restarts the stream.
    const auto videoSize = store().stringForKey(prefs::kVideoSizeKey);
    const auto videoCaptureAudio = store().stringForKey(prefs::kVideoCaptureAudioKey);
    const auto videoPath = store().stringForKey(prefs::kVideoPathKey);
    const auto videoFilename = store().stringForKey(prefs::kVideoFilenameKey);
    const auto videoOverwrite = store().stringForKey(prefs::kVideoOverwriteKey);
    const auto photoSize = store().stringForKey(prefs::kPhotoSizeKey);
    const auto photoFormat = store().stringForKey(prefs::kPhotoFormatKey);
    const auto photoPath = store().stringForKey(prefs::kPhotoPathKey);
    const auto photoFilename = store().stringForKey(prefs::kPhotoFilenameKey);
    const auto photoOverwrite = store().stringForKey(prefs::kPhotoOverwriteKey);

    mVideoSize->setCurrentIndex(prefs::videoSizeIndexForText(videoSize));
    mVideoCaptureAudio->setCheckState(prefs::captureAudioForText(videoCaptureAudio) ? Qt::Checked : Qt::Unchecked);
    if (const auto location = prefs::locationForText(videoPath))
        mVideoPath->setURL(*location);
    mVideoFilename->setText(prefs::fileNameForText(videoFilename));
    mVideoOverwrite->selectCellAtRow(prefs::overwriteRowForText(videoOverwrite));
    mPhotoSize->setCurrentIndex(prefs::photoSizeIndexForText(photoSize));
    mPhotoFormat->setCurrentIndex(prefs::photoFormatIndexForText(photoFormat));
    if (const auto location = prefs::locationForText(photoPath))
        mPhotoPath->setURL(*location);
    mPhotoFilename->setText(prefs::fileNameForText(photoFilename));
    mOverwrite->selectCellAtRow(prefs::overwriteRowForText(photoOverwrite));
}

void VemoViewController::savePreferences()
{
    prefs::UserDefaults &defaults = store();
    // All ten controls are read first, then all ten texts stored, changed or not.
    const QString videoSize = prefs::textForVideoSizeIndex(mVideoSize->currentIndex());
    const QString videoCaptureAudio = prefs::textForCaptureAudio(mVideoCaptureAudio->checkState() != Qt::Unchecked);
    const QString videoPath = prefs::textForLocation(mVideoPath->URL());
    const QString videoFilename = mVideoFilename->text();
    const QString videoOverwrite = prefs::textForOverwriteRow(mVideoOverwrite->selectedRow());
    const QString photoSize = prefs::textForPhotoSizeIndex(mPhotoSize->currentIndex());
    const QString photoFormat = prefs::textForPhotoFormatIndex(mPhotoFormat->currentIndex());
    const QString photoPath = prefs::textForLocation(mPhotoPath->URL());
    const QString photoFilename = mPhotoFilename->text();
    const QString photoOverwrite = prefs::textForOverwriteRow(mOverwrite->selectedRow());

    defaults.setValue(videoSize, prefs::kVideoSizeKey);
    defaults.setValue(videoCaptureAudio, prefs::kVideoCaptureAudioKey);
    defaults.setValue(videoPath, prefs::kVideoPathKey);
    defaults.setValue(videoFilename, prefs::kVideoFilenameKey);
    defaults.setValue(videoOverwrite, prefs::kVideoOverwriteKey);
    defaults.setValue(photoSize, prefs::kPhotoSizeKey);
    defaults.setValue(photoFormat, prefs::kPhotoFormatKey);
    defaults.setValue(photoPath, prefs::kPhotoPathKey);
    defaults.setValue(photoFilename, prefs::kPhotoFilenameKey);
    defaults.setValue(photoOverwrite, prefs::kPhotoOverwriteKey);

    // The user confirmed: the settings must survive a crash right after this, so the store is
    // on disk before we return. A failure is logged and the application goes on with the
    // settings in the panel; the previous file stays as it was.
    const prefs::SaveResult result = defaults.synchronize();
    if (result.saved)
        qCInfo(lcPrefs).noquote() << QStringLiteral("settings saved to %1").arg(prefs::UserDefaults::fileName());
    else
        qCWarning(lcPrefs).noquote()
            << QStringLiteral("settings not saved to %1: %2").arg(prefs::UserDefaults::fileName(), result.error);
}

void VemoViewController::preferencesClick(QObject *)
{
    mPreferences->setVisible(true);
    // Opened again while behind the main window: bring it to the front.
    mPreferences->raise();
    mPreferences->activateWindow();
}

void VemoViewController::preferencesDone(QObject *)
{
    mPreferences->setVisible(false);
    savePreferences();
}

void VemoViewController::preferencesChange(QObject *)
{
    stopStream();
    startStream();
}

} // namespace quillora::app
