// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraControlStore.h"

#include "PrefsLog.h"

#include <QRegularExpression>

#include <climits>
#include <utility>

namespace quillora::prefs {

namespace {

QString encodedCamera(const QString &cameraId)
{
    QString out;
    for (const char byte : cameraId.toUtf8()) {
        const auto c = static_cast<unsigned char>(byte);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.'
            || c == '-')
            out += QLatin1Char(char(c));
        else
            out += QStringLiteral("%%1").arg(uint(c), 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

std::optional<std::uint32_t> controlIdOf(const QString &text)
{
    static const QRegularExpression id(QStringLiteral("^0[xX]([0-9a-fA-F]{1,8})$"));
    const auto m = id.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(1).toUInt(nullptr, 16);
}

std::optional<std::int64_t> valueOf(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    bool ok = false;
    const qlonglong value = text->trimmed().toLongLong(&ok, 10);
    if (!ok || value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return value;
}

} // namespace

CameraControlStore::CameraControlStore(UserDefaults &defaults)
    : m_defaults(defaults)
{
}

QString CameraControlStore::groupName()
{
    return QStringLiteral("CameraControls");
}

QString CameraControlStore::keyFor(const QString &cameraId, std::uint32_t controlId)
{
    return encodedCamera(cameraId) + QStringLiteral("/0x%1").arg(controlId, 8, 16, QLatin1Char('0'));
}

std::map<std::uint32_t, std::int64_t> CameraControlStore::valuesFor(const QString &cameraId) const
{
    std::map<std::uint32_t, std::int64_t> values;
    const QString camera = encodedCamera(cameraId);
    int ignored = 0;
    for (const auto &[key, text] : m_defaults.entriesOfGroup(groupName())) {
        const qsizetype slash = key.lastIndexOf(QLatin1Char('/'));
        const auto id = slash > 0 ? controlIdOf(key.mid(slash + 1)) : std::nullopt;
        const auto value = valueOf(text);
        if (!id || !value) {
            ++ignored;
            continue;
        }
        if (key.left(slash) == camera)
            values[*id] = *value;
    }
    if (ignored > 0 && !std::exchange(m_garbageReported, true))
        qCInfo(lcPrefs).noquote() << QStringLiteral("%1 %2 of [%3] ignored: not <camera>/<control ID>=<integer>")
                                         .arg(ignored)
                                         .arg(ignored == 1 ? QStringLiteral("entry") : QStringLiteral("entries"))
                                         .arg(groupName());
    return values;
}

void CameraControlStore::setValue(const QString &cameraId, std::uint32_t controlId, std::int64_t value)
{
    m_defaults.setValue(QString::number(value), groupName() + QLatin1Char('/') + keyFor(cameraId, controlId));
}

void CameraControlStore::removeCamera(const QString &cameraId)
{
    const QString camera = encodedCamera(cameraId) + QLatin1Char('/');
    for (const auto &entry : m_defaults.entriesOfGroup(groupName())) {
        const QString &key = entry.first;
        if (key.startsWith(camera) && !key.mid(camera.size()).contains(QLatin1Char('/')))
            m_defaults.removeValueForKey(groupName() + QLatin1Char('/') + key);
    }
}

SaveResult CameraControlStore::save()
{
    return m_defaults.synchronize();
}

} // namespace quillora::prefs
