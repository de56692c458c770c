// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureDevice.h"

#include "CaptureLog.h"
#include "Devices.h"

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

std::vector<DeviceDescription> parseVirtualCameras(const QString &text)
{
    std::vector<DeviceDescription> out;
    const QStringList entries = text.split(QLatin1Char(';'));
    int index = 0;
    for (const QString &raw : entries) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        const QStringList fields = entry.split(QLatin1Char('|'));
        if (fields.size() > 4 || fields.at(0).trimmed().isEmpty()) {
            qCWarning(lcCapture) << "virtual camera entry skipped (want name|model|id[|WxH]):" << entry;
            continue;
        }
        DeviceDescription d;
        d.kind = DeviceKind::VirtualCamera;
        d.displayName = fields.at(0).trimmed();
        d.modelUniqueID
            = fields.size() > 1 && !fields.at(1).isEmpty() ? fields.at(1) : QStringLiteral("Virtual Camera");
        d.uniqueID
            = fields.size() > 2 && !fields.at(2).isEmpty() ? fields.at(2) : QStringLiteral("virtual-%1").arg(index);
        d.modes = documentCameraModes();
        if (fields.size() > 3) {
            const QString modes = fields.at(3).trimmed();
            static const QRegularExpression sizeRe(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
            const auto m = sizeRe.match(modes);
            if (m.hasMatch()) {
                const int w = m.captured(1).toInt();
                const int h = m.captured(2).toInt();
                if (w < 16 || h < 16 || w > 8192 || h > 8192 || w % 2 || h % 2) {
                    qCWarning(lcCapture) << "virtual camera entry skipped (bad size):" << entry;
                    continue;
                }
                d.modes = {CameraMode{QStringLiteral("XR24"), QSize(w, h), {}, {}, {FrameRate{30, 1}}, {}, {}}};
            } else {
                auto listed = readModeListing(modes);
                if (!listed) {
                    qCWarning(lcCapture) << "virtual camera entry skipped (mode list unreadable):" << entry;
                    continue;
                }
                d.modes = std::move(*listed);
                d.modeListPath = modes;
            }
        }
        out.push_back(std::move(d));
        ++index;
    }
    return out;
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
