#include "VemoViewController.h"

#include "MatrixControl.h"
#include "PathControl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLineEdit>

namespace quillora::app {

// PLACEHOLDER(settings): first-start states only, until the settings store lands.
void VemoViewController::setupPreferences()
{
    const QUrl desktop(QDir::homePath() + QStringLiteral("/Desktop/"));
    mPhotoPath->setURL(desktop);
    mVideoPath->setURL(desktop);
    setDefaults();
    loadPreferences();
}

void VemoViewController::setDefaults() {}

void VemoViewController::loadPreferences()
{
    mVideoSize->setCurrentIndex(1);
    mVideoCaptureAudio->setCheckState(Qt::Checked);
    mVideoFilename->setText(QStringLiteral("Quillora"));
    mVideoOverwrite->selectCellAtRow(1);
    mPhotoSize->setCurrentIndex(1);
    mPhotoFormat->setCurrentIndex(0);
    mPhotoFilename->setText(QStringLiteral("Quillora"));
    mOverwrite->selectCellAtRow(1);
}

void VemoViewController::savePreferences() {}

void VemoViewController::preferencesClick(QObject *)
{
    mPreferences->setVisible(true);
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
