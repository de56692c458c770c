// SPDX-License-Identifier: GPL-3.0-or-later
#include "SettingsMapping.h"

#include "SizeTable.h"

#include <QDir>
#include <QStandardPaths>

namespace quillora::prefs {

namespace {

const QString kQuillora = QStringLiteral("Quillora");

bool is(const std::optional<QString> &text, QLatin1StringView word)
{
    return text && *text == word;
}

} // namespace

QHash<QString, QString> registeredDefaults()
{
    // Two parallel lists, so that the keys read in the order of the settings.
    const std::array<QLatin1StringView, 8> keys{kVideoSizeKey, kVideoCaptureAudioKey, kVideoFilenameKey,
        kVideoOverwriteKey, kPhotoSizeKey, kPhotoFormatKey, kPhotoFilenameKey, kPhotoOverwriteKey};
    const std::array<QString, 8> values{QStringLiteral("480"), QStringLiteral("yes"), kQuillora, QStringLiteral("no"),
        QStringLiteral("480"), QStringLiteral("jpg"), kQuillora, QStringLiteral("no")};
    QHash<QString, QString> defaults;
    for (size_t i = 0; i < keys.size(); ++i)
        defaults.insert(keys[i], values[i]);
    return defaults;
}

int videoSizeIndexForText(const std::optional<QString> &text)
{
    return text ? sizeIndexForWord(kMovieSizes, *text) : kDefaultSizeIndex;
}

QString textForVideoSizeIndex(int index)
{
    return sizeEntryForIndex(kMovieSizes, index).word;
}

bool captureAudioForText(const std::optional<QString> &text)
{
    return !is(text, QLatin1StringView("no"));
}

QString textForCaptureAudio(bool on)
{
    return on ? QStringLiteral("yes") : QStringLiteral("no");
}

int overwriteRowForText(const std::optional<QString> &text)
{
    return is(text, QLatin1StringView("yes")) ? 0 : 1;
}

QString textForOverwriteRow(int row)
{
    return row == 0 ? QStringLiteral("yes") : QStringLiteral("no");
}

int photoSizeIndexForText(const std::optional<QString> &text)
{
    return text ? sizeIndexForWord(kPhotoSizes, *text) : kDefaultSizeIndex;
}

QString textForPhotoSizeIndex(int index)
{
    return sizeEntryForIndex(kPhotoSizes, index).word;
}

int photoFormatIndexForText(const std::optional<QString> &text)
{
    if (is(text, QLatin1StringView("png")))
        return 1;
    if (is(text, QLatin1StringView("gif")))
        return 2;
    if (is(text, QLatin1StringView("tiff")))
        return 3;
    return 0;
}

QString textForPhotoFormatIndex(int index)
{
    switch (index) {
    case 3:
        return QStringLiteral("tiff");
    case 2:
        return QStringLiteral("gif");
    case 1:
        return QStringLiteral("png");
    default:
        return QStringLiteral("jpg");
    }
}

QString fileNameForText(const std::optional<QString> &text)
{
    return text ? *text : kQuillora;
}

QUrl locationForBarePath(const QString &path)
{
    QUrl location;
    // DecodedMode: the text is the path itself, never percent-decoded, so a folder named
    // "100%25" stays "100%25".
    location.setPath(path, QUrl::DecodedMode);
    return location;
}

std::optional<QUrl> locationForText(const std::optional<QString> &text)
{
    if (!text || text->isEmpty())
        return std::nullopt;
    if (text->startsWith(QLatin1Char('/')))
        return locationForBarePath(*text);
    // Only a file URL names a folder; a relative or foreign text would send photos somewhere
    // nobody chose.
    const QUrl location(*text, QUrl::TolerantMode);
    if (!location.isValid() || !location.isLocalFile() || !location.path().startsWith(QLatin1Char('/')))
        return std::nullopt;
    return location;
}

QString textForLocation(const QUrl &location)
{
    if (location.isEmpty())
        return {};
    const bool barePath = location.scheme().isEmpty() && !location.hasQuery() && !location.hasFragment()
        && location.authority().isEmpty() && location.path().startsWith(QLatin1Char('/'));
    if (barePath)
        return location.path(QUrl::FullyDecoded);
    return location.toString(QUrl::FullyEncoded);
}

QUrl desktopLocation()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/Desktop");
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return locationForBarePath(folder);
}

} // namespace quillora::prefs
