// The translation between stored texts and control states, both ways, including the texts a
// hand-edited or foreign file may hold.
#include "SettingsMapping.h"
#include "PrefsTestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace quillora::prefs;

namespace {

std::optional<QString> textOrNothing(const char *text)
{
    return text ? std::optional<QString>(QString::fromUtf8(text)) : std::nullopt;
}

struct LoadCase {
    const char *name;
    int (*load)(const std::optional<QString> &);
    const char *stored; // nullptr: nothing stored
    int expectedState;
};

int captureAudioState(const std::optional<QString> &text)
{
    return captureAudioForText(text) ? 1 : 0;
}

class LoadMapping : public ::testing::TestWithParam<LoadCase> { };

TEST_P(LoadMapping, StoredTextSelectsState)
{
    const LoadCase &c = GetParam();
    EXPECT_EQ(c.load(textOrNothing(c.stored)), c.expectedState)
        << c.name << " from " << (c.stored ? c.stored : "nothing");
}

INSTANTIATE_TEST_SUITE_P(Settings, LoadMapping,
    ::testing::Values(LoadCase{"VideoSize240", videoSizeIndexForText, "240", 0},
        LoadCase{"VideoSize480", videoSizeIndexForText, "480", 1},
        LoadCase{"VideoSize1024", videoSizeIndexForText, "1024", 2},
        LoadCase{"VideoSizeOtherNumber", videoSizeIndexForText, "720", 1},
        LoadCase{"VideoSizeWithSpace", videoSizeIndexForText, " 240", 1},
        LoadCase{"VideoSizeMissing", videoSizeIndexForText, nullptr, 1},
        LoadCase{"AudioNo", captureAudioState, "no", 0}, LoadCase{"AudioYes", captureAudioState, "yes", 1},
        LoadCase{"AudioCapitalNo", captureAudioState, "No", 1}, LoadCase{"AudioZero", captureAudioState, "0", 1},
        LoadCase{"AudioEmpty", captureAudioState, "", 1}, LoadCase{"AudioMissing", captureAudioState, nullptr, 1},
        LoadCase{"OverwriteYes", overwriteRowForText, "yes", 0}, LoadCase{"OverwriteNo", overwriteRowForText, "no", 1},
        LoadCase{"OverwriteCapitalYes", overwriteRowForText, "YES", 1},
        LoadCase{"OverwriteMissing", overwriteRowForText, nullptr, 1},
        LoadCase{"PhotoSize240", photoSizeIndexForText, "240", 0},
        LoadCase{"PhotoSize480", photoSizeIndexForText, "480", 1},
        LoadCase{"PhotoSize1024", photoSizeIndexForText, "1024", 2},
        LoadCase{"PhotoSize1200", photoSizeIndexForText, "1200", 3},
        LoadCase{"PhotoSize1536", photoSizeIndexForText, "1536", 4},
        LoadCase{"PhotoSize2048NotAWord", photoSizeIndexForText, "2048", 1},
        LoadCase{"PhotoSizeMissing", photoSizeIndexForText, nullptr, 1},
        LoadCase{"FormatJpg", photoFormatIndexForText, "jpg", 0},
        LoadCase{"FormatPng", photoFormatIndexForText, "png", 1},
        LoadCase{"FormatGif", photoFormatIndexForText, "gif", 2},
        LoadCase{"FormatTiff", photoFormatIndexForText, "tiff", 3},
        LoadCase{"FormatCapitalPng", photoFormatIndexForText, "PNG", 0},
        LoadCase{"FormatTif", photoFormatIndexForText, "tif", 0},
        LoadCase{"FormatMissing", photoFormatIndexForText, nullptr, 0}),
    [](const auto &param) { return std::string(param.param.name); });

struct SaveCase {
    const char *name;
    QString (*save)(int);
    int state;
    const char *expectedText;
};

QString captureAudioText(int state)
{
    return textForCaptureAudio(state != 0);
}

class SaveMapping : public ::testing::TestWithParam<SaveCase> { };

TEST_P(SaveMapping, StateGivesStoredText)
{
    const SaveCase &c = GetParam();
    EXPECT_EQ(c.save(c.state), QString::fromUtf8(c.expectedText)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Settings, SaveMapping,
    ::testing::Values(SaveCase{"VideoSize0", textForVideoSizeIndex, 0, "240"},
        SaveCase{"VideoSize1", textForVideoSizeIndex, 1, "480"},
        SaveCase{"VideoSize2", textForVideoSizeIndex, 2, "1024"},
        SaveCase{"VideoSizeNoSelection", textForVideoSizeIndex, -1, "1024"},
        SaveCase{"AudioOff", captureAudioText, 0, "no"}, SaveCase{"AudioOn", captureAudioText, 1, "yes"},
        SaveCase{"OverwriteRow0", textForOverwriteRow, 0, "yes"},
        SaveCase{"OverwriteRow1", textForOverwriteRow, 1, "no"},
        SaveCase{"OverwriteNoSelection", textForOverwriteRow, -1, "no"},
        SaveCase{"PhotoSize0", textForPhotoSizeIndex, 0, "240"},
        SaveCase{"PhotoSize1", textForPhotoSizeIndex, 1, "480"},
        SaveCase{"PhotoSize2", textForPhotoSizeIndex, 2, "1024"},
        SaveCase{"PhotoSize3", textForPhotoSizeIndex, 3, "1200"},
        SaveCase{"PhotoSize4", textForPhotoSizeIndex, 4, "1536"},
        SaveCase{"PhotoSizeNoSelection", textForPhotoSizeIndex, -1, "1536"},
        SaveCase{"Format0", textForPhotoFormatIndex, 0, "jpg"}, SaveCase{"Format1", textForPhotoFormatIndex, 1, "png"},
        SaveCase{"Format2", textForPhotoFormatIndex, 2, "gif"}, SaveCase{"Format3", textForPhotoFormatIndex, 3, "tiff"},
        SaveCase{"FormatNoSelection", textForPhotoFormatIndex, -1, "jpg"}),
    [](const auto &param) { return std::string(param.param.name); });

// An unrecognised word is replaced by the fallback's word at the next save.
TEST(SettingsRoundTrip, UnrecognisedWordsComeBackAsTheFallbackWord)
{
    EXPECT_EQ(textForVideoSizeIndex(videoSizeIndexForText(QStringLiteral("720"))), QStringLiteral("480"));
    EXPECT_EQ(textForVideoSizeIndex(videoSizeIndexForText(QStringLiteral("1024"))), QStringLiteral("1024"));
    EXPECT_EQ(textForOverwriteRow(overwriteRowForText(QStringLiteral("YES"))), QStringLiteral("no"));
    EXPECT_EQ(textForCaptureAudio(captureAudioForText(QStringLiteral("No"))), QStringLiteral("yes"));
    EXPECT_EQ(textForPhotoFormatIndex(photoFormatIndexForText(QStringLiteral("PNG"))), QStringLiteral("jpg"));
    EXPECT_EQ(textForPhotoSizeIndex(photoSizeIndexForText(QStringLiteral("2048"))), QStringLiteral("480"));
    // Every recognised word survives a load and a save unchanged.
    for (const char *word : {"240", "480", "1024", "1200", "1536"})
        EXPECT_EQ(textForPhotoSizeIndex(photoSizeIndexForText(QString::fromLatin1(word))), QString::fromLatin1(word));
    for (const char *word : {"jpg", "png", "gif", "tiff"})
        EXPECT_EQ(
            textForPhotoFormatIndex(photoFormatIndexForText(QString::fromLatin1(word))), QString::fromLatin1(word));
}

TEST(SettingsFileNames, StoredAsTypedEmptyIncluded)
{
    EXPECT_EQ(fileNameForText(QString()), QString());
    EXPECT_EQ(fileNameForText(QStringLiteral(" Scan, ü; \"x\" ")), QStringLiteral(" Scan, ü; \"x\" "));
    // A value that is not text (a list, bytes) is no name at all: the registered one stands in.
    EXPECT_EQ(fileNameForText(std::nullopt), QStringLiteral("Quillora"));
}

TEST(SettingsDefaults, EightRegisteredNoFolders)
{
    const auto defaults = registeredDefaults();
    EXPECT_EQ(defaults.size(), 8);
    EXPECT_EQ(defaults.value(QStringLiteral("vid_size")), QStringLiteral("480"));
    EXPECT_EQ(defaults.value(QStringLiteral("vid_captureaudio")), QStringLiteral("yes"));
    EXPECT_EQ(defaults.value(QStringLiteral("vid_filename")), QStringLiteral("Quillora"));
    EXPECT_EQ(defaults.value(QStringLiteral("vid_overwrite")), QStringLiteral("no"));
    EXPECT_EQ(defaults.value(QStringLiteral("pic_size")), QStringLiteral("480"));
    EXPECT_EQ(defaults.value(QStringLiteral("pic_format")), QStringLiteral("jpg"));
    EXPECT_EQ(defaults.value(QStringLiteral("pic_filename")), QStringLiteral("Quillora"));
    EXPECT_EQ(defaults.value(QStringLiteral("pic_overwrite")), QStringLiteral("no"));
    EXPECT_FALSE(defaults.contains(QStringLiteral("vid_path")));
    EXPECT_FALSE(defaults.contains(QStringLiteral("pic_path")));
}

// ---- Folders ------------------------------------------------------------------------------

struct LocationCase {
    const char *name;
    const char *stored;
    const char *folder; // what the output side gets from URL().path()
    bool localFileUrl;  // a file URL rather than a bare path
};

class LocationMapping : public ::testing::TestWithParam<LocationCase> { };

TEST_P(LocationMapping, LoadsToTheFolderAndSavesBackTheSameText)
{
    const LocationCase &c = GetParam();
    const auto location = locationForText(QString::fromUtf8(c.stored));
    ASSERT_TRUE(location.has_value()) << c.stored;
    EXPECT_EQ(location->path(), QString::fromUtf8(c.folder));
    EXPECT_EQ(location->isLocalFile(), c.localFileUrl);
    EXPECT_EQ(location->scheme().isEmpty(), !c.localFileUrl);
    // Saved back unchanged, and that text loads to the same URL again.
    EXPECT_EQ(textForLocation(*location), QString::fromUtf8(c.stored));
    EXPECT_EQ(locationForText(textForLocation(*location)), location);
}

INSTANTIATE_TEST_SUITE_P(Settings, LocationMapping,
    ::testing::Values(LocationCase{"BarePath", "/home/u/Desktop/", "/home/u/Desktop/", false},
        LocationCase{"BarePathWithSpaces", "/home/Ann Lee/My Desktop/", "/home/Ann Lee/My Desktop/", false},
        LocationCase{"BarePathNonAscii", "/home/zoë/Schreibtisch ü/", "/home/zoë/Schreibtisch ü/", false},
        LocationCase{"BarePathWithPercent", "/home/u/a%20b/100%/", "/home/u/a%20b/100%/", false},
        LocationCase{"FileUrl", "file:///home/u/Pictures/", "/home/u/Pictures/", true},
        LocationCase{"FileUrlEscaped", "file:///home/Ann%20Lee/Bilder%20%C3%BC/", "/home/Ann Lee/Bilder ü/", true}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(SettingsLocations, FileUrlAndBarePathGiveTheSameFolder)
{
    const auto fromUrl = locationForText(QStringLiteral("file:///home/u/Scans/"));
    const auto fromPath = locationForText(QStringLiteral("/home/u/Scans/"));
    ASSERT_TRUE(fromUrl && fromPath);
    EXPECT_EQ(fromUrl->path(), fromPath->path());
    // A hand-written file URL with an unescaped space still names the folder.
    EXPECT_EQ(locationForText(QStringLiteral("file:///home/a b/"))->path(), QStringLiteral("/home/a b/"));
    // The folder the path control itself makes when the user chooses one.
    const QUrl chosen = QUrl::fromLocalFile(QStringLiteral("/home/Zoë Q/100% done/"));
    EXPECT_EQ(locationForText(textForLocation(chosen)), chosen);
}

TEST(SettingsLocations, NothingUsableLeavesTheControlAlone)
{
    EXPECT_FALSE(locationForText(std::nullopt));
    EXPECT_FALSE(locationForText(QString()));
    EXPECT_FALSE(locationForText(QStringLiteral("http://[::1")));
    // Not a folder of this computer, or not a whole path.
    EXPECT_FALSE(locationForText(QStringLiteral("http://example.com/photos/")));
    EXPECT_FALSE(locationForText(QStringLiteral("Desktop/")));
    EXPECT_FALSE(locationForText(QStringLiteral("\uFFFD\uFFFD")));
    EXPECT_EQ(textForLocation(QUrl()), QString());
}

TEST(SettingsLocations, DesktopFollowsHomeWithSpacesAndNonAsciiLetters)
{
    quillora::test::SettingsHome settingsHome;
    const QUrl desktop = desktopLocation();
    EXPECT_TRUE(desktop.isValid());
    EXPECT_TRUE(desktop.scheme().isEmpty());
    EXPECT_EQ(desktop.path(), settingsHome.home() + QStringLiteral("/Desktop/"));
    // Stored as the bare path text, and read back to the same folder.
    EXPECT_EQ(textForLocation(desktop), settingsHome.home() + QStringLiteral("/Desktop/"));
    EXPECT_EQ(locationForText(textForLocation(desktop))->path(), desktop.path());
}

TEST(SettingsLocations, DesktopAsTheDesktopReportsIt)
{
    quillora::test::SettingsHome settingsHome;
    QDir(settingsHome.home()).mkpath(QStringLiteral("Bureau à moi"));
    QFile dirs(settingsHome.configHome() + QStringLiteral("/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DESKTOP_DIR=\"$HOME/Bureau \xc3\xa0 moi\"\n");
    dirs.close();
    EXPECT_EQ(desktopLocation().path(), settingsHome.home() + QStringLiteral("/Bureau à moi/"));
}

} // namespace
