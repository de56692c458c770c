// SPDX-License-Identifier: GPL-3.0-or-later
// The camera's own picture controls: the panel that sets them, and the values the user set,
// remembered per camera and written to it each time its picture starts, before its first frame.
#include "VemoViewController.h"

#include "CameraControlStore.h"
#include "CaptureLog.h"
#include "PictureControlsPanel.h"
#include "PrefsLog.h"
#include "UserDefaults.h"

namespace quillora::app {

void VemoViewController::pictureControlsClick(QObject *)
{
    if (!mPictureControls)
        return;
    mPictureControls->setCamera(device);
    mPictureControls->setVisible(true);
    mPictureControls->raise();
    mPictureControls->activateWindow();
}

void VemoViewController::applyStoredControls()
{
    if (!device)
        return;
    const auto values = mControlStore->valuesFor(device->uniqueID());
    if (values.empty())
        return;
    QString error;
    const auto controls = device->openControls(&error);
    if (!controls) {
        qCInfo(lcCapture).noquote()
            << QStringLiteral("picture controls of %1 not set: %2").arg(device->localizedDisplayName(), error);
        return;
    }
    capture::applyControlValues(*controls, values, device->localizedDisplayName());
}

void VemoViewController::saveStoredControls()
{
    mControlsSaveTimer->stop();
    const prefs::SaveResult result = mControlStore->save();
    if (result.saved)
        qCInfo(lcPrefs).noquote()
            << QStringLiteral("picture controls saved to %1").arg(prefs::UserDefaults::fileName());
    else
        qCWarning(lcPrefs).noquote() << QStringLiteral("picture controls not saved to %1: %2")
                                            .arg(prefs::UserDefaults::fileName(), result.error);
}

} // namespace quillora::app
