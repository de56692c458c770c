#include "VemoViewController.h"

#include "CaptureLog.h"

#include <QAction>
#include <QMenu>

namespace quillora::app {

namespace {

const QString kModel45937 = QStringLiteral("UVC Camera VendorID_2316 ProductID_45937");
const QString kModel890 = QStringLiteral("UVC Camera VendorID_2316 ProductID_890");
const QString kModel14096 = QStringLiteral("UVC Camera VendorID_2316 ProductID_14096");

void logChosen(const capture::CaptureDevicePtr &camera)
{
    if (camera)
        qCInfo(lcCapture).noquote() << QStringLiteral("camera chosen: %1 (%2, %3)")
                                           .arg(camera->localizedDisplayName(), camera->modelUniqueID(),
                                                camera->uniqueID());
}

} // namespace

capture::CaptureDevicePtr VemoViewController::setupDevices()
{
    const auto devices = capture::inputDevicesWithMediaType(capture::MediaType::Video);
    const auto platformDefault = capture::defaultInputDeviceWithMediaType(capture::MediaType::Video);
    capture::CaptureDevicePtr preferred;
    capture::CaptureDevicePtr defaultCamera;
    for (const auto &candidate : devices) {
        const QString model = candidate->modelUniqueID();
        if (model == kModel890)
            quilloraDevice = true;
        if (model == kModel45937 || model == kModel890 || model == kModel14096)
            preferred = candidate;
        if (candidate == platformDefault)
            defaultCamera = candidate;
    }
    const auto items = mDevicesMenu->actions();
    for (size_t i = 0; i < devices.size(); ++i) {
        if (i >= size_t(items.size())) {
            qCWarning(lcCapture) << "camera menu full:" << devices.size() - i << "more camera(s) not listed";
            break;
        }
        QAction *item = items.at(qsizetype(i));
        item->setText(devices[i]->localizedDisplayName());
        item->setVisible(true);
        if (devices[i] == (preferred ? preferred : defaultCamera))
            item->setChecked(true);
    }
    if (preferred) {
        unsigned int locationId = 0;
        const QByteArray uid = preferred->uniqueID().toUtf8();
        if (std::sscanf(uid.constData(), "0x%8x", &locationId) != 1)
            locationId = 0;
        initCameraInterfaceWithLocationID(locationId);
        logChosen(preferred);
        return preferred;
    }
    logChosen(defaultCamera);
    return defaultCamera;
}

capture::CaptureDevicePtr VemoViewController::setupAudioDevices()
{
    return capture::defaultInputDeviceWithMediaType(capture::MediaType::Sound);
}

void VemoViewController::deviceMenuClick(QObject *sender)
{
    stopStream();
    const auto devices = capture::inputDevicesWithMediaType(capture::MediaType::Video);
    const auto items = mDevicesMenu->actions();
    for (int i = 0; i < 10 && i < items.size(); ++i) {
        QAction *item = items.at(i);
        if (item == sender) {
            item->setChecked(true);
            if (size_t(i) < devices.size()) {
                device = devices[size_t(i)];
                logChosen(device);
            } else {
                // The camera at that position is gone: keep the camera we had.
                qCWarning(lcCapture) << "camera menu item" << i << "has no camera any more; keeping the current one";
            }
        } else {
            item->setChecked(false);
        }
    }
    startStream();
}

} // namespace quillora::app
