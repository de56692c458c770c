// SPDX-License-Identifier: GPL-3.0-or-later
#include "VemoViewController.h"

#include "CameraWatcher.h"
#include "CaptureLog.h"
#include "LocationId.h"

#include <QAction>
#include <QMenu>

#include <algorithm>

namespace quillora::app {

namespace {

// The camera menu has ten prepared items; item i stands for camera i of the list.
constexpr qsizetype kCameraMenuItems = 10;

const QString kModel45937 = QStringLiteral("UVC Camera VendorID_2316 ProductID_45937");
const QString kModel890 = QStringLiteral("UVC Camera VendorID_2316 ProductID_890");
const QString kModel14096 = QStringLiteral("UVC Camera VendorID_2316 ProductID_14096");

bool isKnownModel(const QString &model)
{
    return model == kModel45937 || model == kModel890 || model == kModel14096;
}

void logChosen(const capture::CaptureDevicePtr &camera)
{
    if (camera)
        qCInfo(lcCapture).noquote() << QStringLiteral("camera chosen: %1 (%2, %3)")
                                           .arg(camera->localizedDisplayName(), camera->modelUniqueID(),
                                               camera->uniqueID());
}

// The location ID at the head of a unique identifier: "0x" and up to eight hexadecimal digits,
// the rest ignored; 0 when it does not begin so. Parsed by hand because scanf's %x would also
// take a sign, blanks or a second "0x" and make a location out of them.
std::uint32_t locationIdOf(const QString &uniqueId)
{
    return devices::locationIdFromUniqueId(
        std::u16string_view(QStringView(uniqueId).utf16(), std::size_t(uniqueId.size())));
}

// A menu title shows '&' as a mnemonic marker unless it is doubled.
QString menuTitle(const QString &name)
{
    QString title = name;
    return title.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// What the start-up rules make of a list of cameras.
struct CameraChoice {
    size_t listed = 0; // how many the menu shows
    capture::CaptureDevicePtr preferred;
    capture::CaptureDevicePtr defaultCamera;
    bool model890 = false; // an 890 camera is attached, listed or not
    capture::CaptureDevicePtr chosen() const { return preferred ? preferred : defaultCamera; }
};

CameraChoice chooseCamera(const std::vector<capture::CaptureDevicePtr> &devices, qsizetype menuItems)
{
    CameraChoice choice;
    // The system's default camera is the first one listed; taken from this list rather than
    // a second reading of the cameras, which costs the same again and could differ from it.
    const auto platformDefault = devices.empty() ? nullptr : devices.front();
    choice.listed = std::min(devices.size(), size_t(std::min(menuItems, kCameraMenuItems)));
    if (devices.size() > choice.listed)
        qCInfo(lcCapture) << "camera menu full:" << devices.size() - choice.listed
                          << "camera(s) after the tenth not listed";
    for (size_t i = 0; i < devices.size(); ++i) {
        const QString model = devices[i]->modelUniqueID();
        // Any attached 890 camera decides the listener variant, listed or not.
        if (model == kModel890)
            choice.model890 = true;
        // A camera the menu cannot show is not chosen either: the user could not see it marked
        // nor choose it back.
        if (i >= choice.listed)
            continue;
        if (isKnownModel(model))
            choice.preferred = devices[i];
        if (devices[i] == platformDefault)
            choice.defaultCamera = devices[i];
    }
    // The default is the first camera of the list; if a camera came or went between the two
    // look-ups, the first of the list we are showing still is.
    if (!choice.defaultCamera && choice.listed > 0)
        choice.defaultCamera = devices.front();
    return choice;
}

QStringList uniqueIdsOf(const std::vector<capture::CaptureDevicePtr> &devices)
{
    QStringList ids;
    for (const auto &d : devices)
        ids << d->uniqueID();
    return ids;
}

} // namespace

void VemoViewController::showCameraMenu(
    const std::vector<capture::CaptureDevicePtr> &devices, size_t listed, const capture::CaptureDevicePtr &marked)
{
    const auto items = mDevicesMenu->actions();
    for (qsizetype i = 0; i < std::min(items.size(), kCameraMenuItems); ++i) {
        QAction *item = items.at(i);
        if (size_t(i) < listed) {
            item->setText(menuTitle(devices[size_t(i)]->localizedDisplayName()));
            // The item stands for this camera, not for a place in a list that may change
            // before it is clicked.
            item->setData(devices[size_t(i)]->uniqueID());
            item->setVisible(true);
            item->setChecked(marked && devices[size_t(i)]->uniqueID() == marked->uniqueID());
        } else {
            item->setData(QVariant());
            item->setVisible(false);
            item->setChecked(false);
        }
    }
}

capture::CaptureDevicePtr VemoViewController::setupDevices()
{
    const auto devices = capture::inputDevicesWithMediaType(capture::MediaType::Video);
    const CameraChoice choice = chooseCamera(devices, mDevicesMenu->actions().size());
    if (choice.model890)
        quilloraDevice = true;
    showCameraMenu(devices, choice.listed, choice.chosen());
    mKnownCameraIds = uniqueIdsOf(devices);

    if (choice.preferred) {
        const std::uint32_t locationId = locationIdOf(choice.preferred->uniqueID());
        qCInfo(lcCapture).noquote() << QString::asprintf("USB location 0x%08x", unsigned(locationId));
        initCameraInterfaceWithLocationID(locationId);
        logChosen(choice.preferred);
        return choice.preferred;
    }
    logChosen(choice.defaultCamera);
    return choice.defaultCamera;
}

void VemoViewController::watchCameras()
{
    mCameraWatcher = std::make_unique<capture::CameraWatcher>();
    connect(mCameraWatcher.get(), &capture::CameraWatcher::camerasChanged, this, [this] { camerasChanged(); });
}

void VemoViewController::camerasChanged()
{
    const auto devices = capture::inputDevicesWithMediaType(capture::MediaType::Video);
    const CameraChoice choice = chooseCamera(devices, mDevicesMenu->actions().size());
    if (choice.model890)
        quilloraDevice = true;
    const QStringList ids = uniqueIdsOf(devices);
    const auto byId = [&](const QString &id) -> capture::CaptureDevicePtr {
        const qsizetype at = ids.indexOf(id);
        return at >= 0 && size_t(at) < choice.listed ? devices[size_t(at)] : nullptr;
    };

    if (device) {
        const auto still = byId(device->uniqueID());
        // Pulled out and put back within one interval: it is listed, but the picture it gave
        // has stopped; it is treated as gone and back.
        const bool bounced = still && mCameraWatcher && mCameraWatcher->wentAwayBeforeLastChange(device->description());
        if (!still || bounced) {
            qCInfo(lcCapture).noquote() << QStringLiteral("camera disconnected: %1 (%2)")
                                               .arg(device->localizedDisplayName(), device->uniqueID());
            mDepartedCameraId = device->uniqueID();
            // Finishes a movie being written; its finish opens it as a finished movie is.
            stopStream();
            device.reset();
            // The window keeps the last picture under the message; a photo is not taken of it.
            std::lock_guard lock(mLock);
            mCurrentImageBuffer = capture::Frame();
            mPreviousImageBuffer = capture::Frame();
        } else {
            device = still; // the list's own object for the same camera
        }
    }

    bool lookUpInterface = false;
    if (!device) {
        capture::CaptureDevicePtr next = mDepartedCameraId.isEmpty() ? nullptr : byId(mDepartedCameraId);
        if (next) {
            qCInfo(lcCapture).noquote() << "camera back:" << next->localizedDisplayName();
        } else {
            // A camera that was not attached before is chosen as at start-up; a camera that
            // was attached all along is not switched to on its own.
            const bool newcomer = std::any_of(
                ids.begin(), ids.end(), [this](const QString &id) { return !mKnownCameraIds.contains(id); });
            if (newcomer)
                next = choice.chosen();
        }
        if (next) {
            device = next;
            mDepartedCameraId.clear();
            lookUpInterface = isKnownModel(device->modelUniqueID());
            logChosen(device);
            startStream();
        }
    }
    mKnownCameraIds = ids;
    showCameraMenu(devices, choice.listed, device);
    if (lookUpInterface) {
        const std::uint32_t locationId = locationIdOf(device->uniqueID());
        qCInfo(lcCapture).noquote() << QString::asprintf("USB location 0x%08x", unsigned(locationId));
        initCameraInterfaceWithLocationID(locationId);
    }
    showCameraPresence();
}

capture::CaptureDevicePtr VemoViewController::setupAudioDevices()
{
    auto input = capture::defaultInputDeviceWithMediaType(capture::MediaType::Sound);
    if (input)
        qCInfo(lcCapture).noquote() << "sound input:" << input->localizedDisplayName();
    else
        qCInfo(lcCapture) << "no sound input; movies will have no sound";
    return input;
}

void VemoViewController::deviceMenuClick(QObject *sender)
{
    const auto items = mDevicesMenu->actions();
    const qsizetype count = std::min(items.size(), kCameraMenuItems);
    QAction *item = nullptr;
    for (qsizetype i = 0; i < count; ++i) {
        if (items.at(i) == sender)
            item = items.at(i);
    }
    if (!item) {
        qCInfo(lcCapture) << "camera menu: the sender is not one of its items";
        return;
    }

    // The list may have changed since the menu was filled (a camera pulled out or plugged in
    // before the menu was told): the camera is found by what the item showed, wherever it
    // stands now.
    const auto devices = capture::inputDevicesWithMediaType(capture::MediaType::Video);
    const CameraChoice listing = chooseCamera(devices, mDevicesMenu->actions().size());
    const auto listed = [&](const QString &id) -> capture::CaptureDevicePtr {
        for (size_t i = 0; i < listing.listed; ++i)
            if (devices[i]->uniqueID() == id)
                return devices[i];
        return nullptr;
    };
    const QString clickedId = item->data().toString();
    capture::CaptureDevicePtr chosen = listed(clickedId);
    if (!chosen) {
        const QString title = QString(item->text()).replace(QStringLiteral("&&"), QStringLiteral("&"));
        qCInfo(lcCapture).noquote()
            << QStringLiteral("camera menu: %1 (%2) is not connected any more").arg(title, clickedId);
        showStatusMessage(tr("%1 is not connected any more").arg(title));
        const auto inUse = device ? listed(device->uniqueID()) : nullptr;
        if (inUse && mCaptureSession) {
            // Nothing to switch to: the camera in use goes on undisturbed.
            device = inUse;
            mKnownCameraIds = uniqueIdsOf(devices);
            showCameraMenu(devices, listing.listed, device);
            return;
        }
        // The camera in use has gone too: a picture keeps running whenever a camera is left.
        chosen = inUse ? inUse : listing.chosen();
    }

    stopStream();
    device = chosen;
    // The user's choice replaces a camera that was pulled out.
    mDepartedCameraId.clear();
    mKnownCameraIds = uniqueIdsOf(devices);
    showCameraMenu(devices, listing.listed, device);
    logChosen(device);
    startStream();
    showCameraPresence();
}

} // namespace quillora::app
