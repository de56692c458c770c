// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The ten settings as they are kept between runs: their keys, the registered defaults, and the
// translation between a stored text and the state of the control that holds the setting.
//
// Loading is forgiving on purpose: every text, and a missing value (std::nullopt), maps to some
// state, so whatever the file holds the panel shows a usable setting, and the next save writes
// a recognised word back. The words are compared exactly ("No" is not "no").
#include <QHash>
#include <QLatin1StringView>
#include <QString>
#include <QUrl>

#include <array>
#include <optional>

namespace quillora::prefs {

inline constexpr QLatin1StringView kVideoSizeKey{"vid_size"};
inline constexpr QLatin1StringView kVideoCaptureAudioKey{"vid_captureaudio"};
inline constexpr QLatin1StringView kVideoPathKey{"vid_path"};
inline constexpr QLatin1StringView kVideoFilenameKey{"vid_filename"};
inline constexpr QLatin1StringView kVideoOverwriteKey{"vid_overwrite"};
inline constexpr QLatin1StringView kPhotoSizeKey{"pic_size"};
inline constexpr QLatin1StringView kPhotoFormatKey{"pic_format"};
inline constexpr QLatin1StringView kPhotoPathKey{"pic_path"};
inline constexpr QLatin1StringView kPhotoFilenameKey{"pic_filename"};
inline constexpr QLatin1StringView kPhotoOverwriteKey{"pic_overwrite"};

// The keys in the order they are read and written.
inline constexpr std::array<QLatin1StringView, 10> kSettingsKeys{kVideoSizeKey, kVideoCaptureAudioKey, kVideoPathKey,
    kVideoFilenameKey, kVideoOverwriteKey, kPhotoSizeKey, kPhotoFormatKey, kPhotoPathKey, kPhotoFilenameKey,
    kPhotoOverwriteKey};

// The defaults registered at every start. The two folders have none: their first value is the
// Desktop location given to the path controls before loading.
QHash<QString, QString> registeredDefaults();

// Movie size popup, by kMovieSizes (SizeTable.h): 0 "240", 1 "480", 2 "1024".
int videoSizeIndexForText(const std::optional<QString> &text);
QString textForVideoSizeIndex(int index);

// Sound check box: only "no" turns it off.
bool captureAudioForText(const std::optional<QString> &text);
QString textForCaptureAudio(bool on);

// Overwrite radio rows, photos and movies alike: row 0 "yes" (replace), row 1 "no" (number).
int overwriteRowForText(const std::optional<QString> &text);
QString textForOverwriteRow(int row);

// Photo size popup, by kPhotoSizes (SizeTable.h): 0 "240", 1 "480", 2 "1024", 3 "1200", 4 "1536".
int photoSizeIndexForText(const std::optional<QString> &text);
QString textForPhotoSizeIndex(int index);

// Photo format popup: 0 "jpg", 1 "png", 2 "gif", 3 "tiff".
int photoFormatIndexForText(const std::optional<QString> &text);
QString textForPhotoFormatIndex(int index);

// File names are stored as typed, empty included. A value that is not text falls back to the
// registered name, so photos and movies never get a name made of the extension alone.
QString fileNameForText(const std::optional<QString> &text);

// A folder as a location. A bare path ("/home/u/My Desktop/") is taken literally: spaces,
// non-ASCII letters and '%' are part of the folder's name, and the URL's path() gives it back
// unchanged. Anything else is read as a file URL ("file:///home/u/My%20Desktop/").
// std::nullopt means "leave the path control as it is": nothing stored, an empty text, or a
// text that is no file URL, so that the folder stays usable instead of becoming nothing.
std::optional<QUrl> locationForText(const std::optional<QString> &text);
// The stored form of a location: a location without a scheme (the Desktop location) as its
// bare path, exactly; a file URL as its encoded URL text. Either reads back to the same URL.
QString textForLocation(const QUrl &location);

// A URL holding exactly this path and no scheme.
QUrl locationForBarePath(const QString &path);

// The user's desktop folder as the desktop reports it, followed by "/", as a bare path.
QUrl desktopLocation();

} // namespace quillora::prefs
