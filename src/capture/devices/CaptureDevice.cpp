// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureDevice.h"

#include "CaptureLog.h"
#include "Devices.h"
#include "V4l2Controls.h"
#include "VirtualControls.h"

#include <QFile>
#include <QMutex>
#include <QRegularExpression>

#include <map>

namespace quillora::capture {

CaptureDevice::CaptureDevice(DeviceDescription description)
    : m_description(std::move(description))
{
}

MediaType CaptureDevice::mediaType() const
{
    switch (m_description.kind) {
    case DeviceKind::V4l2Camera:
    case DeviceKind::VirtualCamera:
        return MediaType::Video;
    case DeviceKind::SoundSource:
    case DeviceKind::VirtualSound:
        return MediaType::Sound;
    }
    return MediaType::Video;
}

bool CaptureDevice::open(QString *error)
{
    if (m_description.kind == DeviceKind::V4l2Camera) {
        QFile node(m_description.devicePath);
        if (!node.exists()) {
            if (error)
                *error = QStringLiteral("%1 is gone").arg(m_description.devicePath);
            // Unplugged between listing and opening: the session that follows fails on its own
            // and says so; this line says why.
            qCInfo(lcCapture).noquote() << QStringLiteral("camera %1 cannot be opened: %2 is gone")
                                               .arg(m_description.displayName, m_description.devicePath);
            m_open = false;
            return false;
        }
    }
    m_open = true;
    return true;
}

std::unique_ptr<CameraControls> CaptureDevice::openControls(QString *error) const
{
    switch (m_description.kind) {
    case DeviceKind::V4l2Camera:
        return V4l2Controls::open(m_description.devicePath, error);
    case DeviceKind::VirtualCamera:
        return openVirtualCameraControls(m_description.uniqueID, m_description.controlListPath, error);
    case DeviceKind::SoundSource:
    case DeviceKind::VirtualSound:
        break;
    }
    if (error)
        *error = QStringLiteral("not a camera");
    return nullptr;
}

namespace {

// Hands out the same CaptureDevice object for the same device while anyone holds it, so
// "the default device" and the entry of the list compare equal as objects.
CaptureDevicePtr intern(const DeviceDescription &description)
{
    static QMutex mutex; // guards `live`
    static std::map<QString, std::weak_ptr<CaptureDevice>> live;
    QMutexLocker lock(&mutex);
    const QString key = QString::number(int(description.kind)) + QLatin1Char('\x1f') + description.uniqueID
        + QLatin1Char('\x1f') + description.devicePath + QLatin1Char('\x1f') + description.displayName;
    if (auto existing = live[key].lock())
        return existing;
    auto created = std::make_shared<CaptureDevice>(description);
    live[key] = created;
    return created;
}

} // namespace

std::vector<CaptureDevicePtr> inputDevicesWithMediaType(MediaType type)
{
    std::vector<CaptureDevicePtr> out;
    const auto descriptions = type == MediaType::Video ? listCameras() : listSoundSources();
    out.reserve(descriptions.size());
    for (const auto &d : descriptions)
        out.push_back(intern(d));
    return out;
}

CaptureDevicePtr defaultInputDeviceWithMediaType(MediaType type)
{
    if (type == MediaType::Video) {
        const auto list = inputDevicesWithMediaType(type);
        return list.empty() ? nullptr : list.front();
    }
    const auto sources = listSoundSources();
    if (sources.empty())
        return nullptr;
    const int index = defaultSoundSourceIndex(sources);
    return intern(sources.at(index >= 0 ? size_t(index) : 0));
}

} // namespace quillora::capture
