#include "VemoViewController.h"

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
    return usb::locationIdFromUniqueId(
        std::u16string_view(QStringView(uniqueId).utf16(), std::size_t(uniqueId.size())));
}

// A menu title shows '&' as a mnemonic marker unless it is doubled.
QString menuTitle(const QString &name)
{
    QString title = name;
    return title.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

capture::CaptureDevicePtr VemoViewController::setupDevices()
{
    const auto devices = capture::inputDevicesWithMediaType(capture::MediaType::Video);
    // The system's default camera is the first one listed; taken from this list rather than
    // a second reading of the cameras, which costs the same again and could differ from it.
    const auto platformDefault = devices.empty() ? nullptr : devices.front();
    const auto items = mDevicesMenu->actions();
    const size_t listed = std::min(devices.size(), size_t(std::min(items.size(), kCameraMenuItems)));
    if (devices.size() > listed)
        qCInfo(lcCapture) << "camera menu full:" << devices.size() - listed << "camera(s) after the tenth not listed";

    capture::CaptureDevicePtr preferred;
    capture::CaptureDevicePtr defaultCamera;
    for (size_t i = 0; i < devices.size(); ++i) {
        const QString model = devices[i]->modelUniqueID();
        // Any attached 890 camera decides the listener variant, listed or not.
        if (model == kModel890)
            quilloraDevice = true;
        // A camera the menu cannot show is not chosen either: the user could not see it marked
        // nor choose it back.
        if (i >= listed)
            continue;
        if (isKnownModel(model))
            preferred = devices[i];
        if (devices[i] == platformDefault)
            defaultCamera = devices[i];
    }
    // The default is the first camera of the list; if a camera came or went between the two
    // look-ups, the first of the list we are showing still is.
    if (!defaultCamera && listed > 0)
        defaultCamera = devices.front();

    const capture::CaptureDevicePtr chosen = preferred ? preferred : defaultCamera;
    for (size_t i = 0; i < listed; ++i) {
        QAction *item = items.at(qsizetype(i));
        item->setText(menuTitle(devices[i]->localizedDisplayName()));
        item->setVisible(true);
        if (devices[i] == chosen)
            item->setChecked(true);
    }

    if (preferred) {
        const std::uint32_t locationId = locationIdOf(preferred->uniqueID());
        qCInfo(lcCapture).noquote() << QString::asprintf("USB location 0x%08x", unsigned(locationId));
        initCameraInterfaceWithLocationID(locationId);
        logChosen(preferred);
        return preferred;
    }
    logChosen(defaultCamera);
    return defaultCamera;
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
    qsizetype chosen = -1;
    for (qsizetype i = 0; i < count; ++i) {
        if (items.at(i) == sender)
            chosen = i;
    }
    if (chosen < 0) {
        qCInfo(lcCapture) << "camera menu: the sender is not one of its items";
        return;
    }

    stopStream();
    const auto devices = capture::inputDevicesWithMediaType(capture::MediaType::Video);
    qsizetype marked = chosen;
    if (size_t(chosen) < devices.size()) {
        device = devices[size_t(chosen)];
    } else {
        // The list has shrunk since the menu was filled. Keep the camera in use if it is still
        // there, else take the default one, so that a picture keeps running whenever a camera
        // is attached.
        const auto kept = std::find(devices.begin(), devices.end(), device);
        if (kept == devices.end())
            device = devices.empty() ? nullptr : devices.front();
        marked = device ? qsizetype(std::find(devices.begin(), devices.end(), device) - devices.begin()) : -1;
        qCInfo(lcCapture) << "camera menu item" << chosen + 1 << "has no camera any more; the list has"
                          << devices.size();
    }
    for (qsizetype i = 0; i < count; ++i)
        items.at(i)->setChecked(i == marked);
    logChosen(device);
    startStream();
}

} // namespace quillora::app
