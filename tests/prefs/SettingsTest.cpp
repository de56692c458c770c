// SPDX-License-Identifier: GPL-3.0-or-later
// The settings: the mapping of stored texts to control states and back (including texts a
// hand-edited or foreign file may hold), and the store and files we did not write. The settings in
// the running application (first start, the panel, failed saves) are tested with the controller.
#include "AppTest.h"
#include "SettingsMapping.h"
#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillora::prefs;
using quillora::test::ScopedEnv;

namespace {

using quillora::test::TemporaryHome;

using Text = std::optional<QString>;

struct Mapping {
    const char *name;
    int (*load)(const Text &);
    QString (*save)(int);
    std::vector<std::pair<const char *, int>> loads; // stored text (nullptr: nothing) -> state
    std::vector<std::pair<int, const char *>> saves; // state (-1: no selection) -> stored text
};

// A stored text we would not write ourselves loads the fallback state.
TEST(SettingsMapping, TextsWeWouldNotWriteLoadTheFallbackAndEveryStateSavesItsText)
{
    const Mapping mappings[] = {{"VideoSize", videoSizeIndexForText, textForVideoSizeIndex,
                                    {{"240", 0}, {"480", 1}, {"1024", 2}, {"720", 1}, {" 240", 1}, {nullptr, 1}},
                                    {{0, "240"}, {1, "480"}, {2, "1024"}, {-1, "1024"}}},
        {"CaptureAudio", [](const Text &stored) { return int(captureAudioForText(stored)); },
            [](int on) { return textForCaptureAudio(on); },
            {{"no", 0}, {"yes", 1}, {"No", 1}, {"0", 1}, {"", 1}, {nullptr, 1}}, {{0, "no"}, {1, "yes"}}},
        {"Overwrite", overwriteRowForText, textForOverwriteRow, {{"yes", 0}, {"no", 1}, {"YES", 1}, {nullptr, 1}},
            {{0, "yes"}, {1, "no"}, {-1, "no"}}},
        {"PhotoSize", photoSizeIndexForText, textForPhotoSizeIndex,
            {{"240", 0}, {"480", 1}, {"1024", 2}, {"1200", 3}, {"1536", 4}, {"2048", 1}, {nullptr, 1}},
            {{0, "240"}, {1, "480"}, {2, "1024"}, {3, "1200"}, {4, "1536"}, {-1, "1536"}}},
        {"PhotoFormat", photoFormatIndexForText, textForPhotoFormatIndex,
            {{"jpg", 0}, {"png", 1}, {"gif", 2}, {"tiff", 3}, {"PNG", 0}, {"tif", 0}, {nullptr, 0}},
            {{0, "jpg"}, {1, "png"}, {2, "gif"}, {3, "tiff"}, {-1, "jpg"}}}};
    for (const Mapping &m : mappings) {
        for (const auto &[text, state] : m.loads)
            EXPECT_EQ(m.load(text ? Text(QString::fromUtf8(text)) : std::nullopt), state)
                << m.name << " " << (text ? text : "nothing");
        for (const auto &[state, text] : m.saves)
            EXPECT_EQ(m.save(state).toStdString(), text) << m.name << " " << state;
    }
}

// A bare path loads literally, a file URL decoded, and both save back unchanged; anything that is
// no folder of this computer leaves the control alone.
TEST(SettingsLocations, FoldersOfThisComputerSaveBackUnchangedAndOthersAreRefused)
{
    const std::pair<QString, std::string> cases[]
        = {{"/home/zoë/Mein Schreibtisch/", "/home/zoë/Mein Schreibtisch/ bare"},
            {"/home/u/a%20b/100%/", "/home/u/a%20b/100%/ bare"},
            {"file:///home/Zo%C3%AB%20Q/100%25%20done/", "/home/Zoë Q/100% done/ file"},
            {"file:///home/a b/", "/home/a b/ file saved otherwise"}, {"", "none"}, {"http://[::1", "none"},
            {"http://example.com/photos/", "none"}, {"Desktop/", "none"}, {"\uFFFD\uFFFD", "none"}};
    for (const auto &[text, folder] : cases) {
        const auto url = locationForText(text);
        const QString kind = url && url->isLocalFile() ? " file" : url && url->scheme().isEmpty() ? " bare" : " other";
        EXPECT_EQ(url ? (url->path() + kind + (textForLocation(*url) == text ? "" : " saved otherwise")).toStdString()
                      : "none",
            folder);
    }
    const QUrl chosen = QUrl::fromLocalFile("/home/Zoë Q/100% done/"); // as the path control makes it
    EXPECT_EQ(textForLocation(chosen).toStdString(), "file:///home/Zo%C3%AB%20Q/100%25%20done/");
}

const QString kSize = "pic_size", kName = "pic_filename";

std::string answer(const UserDefaults &store, const QString &key)
{
    return store.stringForKey(key).value_or("<nothing>").toStdString();
}

// Registered defaults answer only for keys without a value and are never written; an empty text is
// a value; texts with separators, quotes, escapes, line breaks and INI syntax survive a restart; the
// file is under the config home with nothing beside it.
TEST(UserDefaultsStore, RegisteredDefaultsAndAwkwardTextsAcrossARestart)
{
    TemporaryHome home;
    EXPECT_EQ(UserDefaults::fileName(), home.storeFile());
    UserDefaults store;
    EXPECT_EQ(answer(store, kSize), "<nothing>");
    store.registerDefaults({{kSize, "480"}, {kName, "Quillora"}, {"vid_size", "480"}});
    EXPECT_EQ(answer(store, kSize), "480");
    const QStringList keys{"vid_filename", kName, "vid_path", "pic_path", kSize, "pic_format", "vid_size"};
    const QStringList texts{" Smith, John; \"draft\" = @x ", "", "/home/Ann Lee/Vidéos 100%/",
        "file:///home/Ann%20Lee/Bilder/", "@Variant(1024)", "a, b\tline\nbreak \\ back"};
    for (int i = 0; i < texts.size(); ++i)
        store.setValue(texts[i], keys[i]);
    const auto result = store.synchronize();
    ASSERT_TRUE(result.saved) << result.error.toStdString();
    EXPECT_EQ(answer(store, kName), "");
    EXPECT_EQ(home.stored(keys), (texts.join(" | ") + " | <nothing>").toStdString());
    EXPECT_TRUE(home.readStore().startsWith("[General]\n")) << home.readStore().constData();
    EXPECT_EQ(
        QDir(home.configHome() + "/Quillora").entryList(QDir::Files | QDir::Hidden), QStringList{"quillora.conf"});
}

// QSettings knows a file it has read by its size and time stamp: a save that replaces the file at
// once (within the same clock tick) with one of the same size still reads back as saved, here and
// in the next save. On a memory file system (a live system's home), where nothing waits for the
// disk, four rounds in five read the old text without care.
TEST(UserDefaultsStore, ASaveOfTheSameSizeRightAfterTheFileWasWrittenReadsBack)
{
    const QString base = QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath();
    for (int round = 0; round < 20; ++round) {
        QTemporaryDir home(base + "/quillora-settings-XXXXXX");
        ScopedEnv xdg("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        QDir().mkpath(home.path() + "/Quillora");
        QFile file(UserDefaults::fileName());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("[General]\npic_size=480\n") > 0);
        file.close();
        UserDefaults store;
        ASSERT_EQ(answer(store, kSize), "480");
        store.setValue("240", kSize);
        ASSERT_TRUE(store.synchronize().saved);
        ASSERT_EQ(answer(UserDefaults(), kSize), "240") << "round " << round;
        store.setValue("480", kSize);
        ASSERT_TRUE(store.synchronize().saved);
        ASSERT_EQ(answer(UserDefaults(), kSize), "480") << "round " << round;
    }
}

struct BadFile {
    const char *name;
    QByteArray contents;
    std::string answers; // for pic_size (registered "480") and pic_filename (registered "Quillora")
};

void PrintTo(const BadFile &file, std::ostream *os)
{
    *os << file.name;
}

class BadStoreFile : public ::testing::TestWithParam<BadFile> { };

// A file we did not write answers what can be read and defaults for the rest, and the next save
// replaces it (random bytes included: their non-keys must not block every later save). One too
// large to be ours is not read, and set aside whole rather than merged.
TEST_P(BadStoreFile, AnswersWhatCanBeReadAndIsReplacedOnSave)
{
    TemporaryHome home;
    home.writeStore(GetParam().contents);
    UserDefaults store;
    store.registerDefaults({{kSize, "480"}, {kName, "Quillora"}});
    EXPECT_EQ(answer(store, kSize) + " | " + answer(store, kName), GetParam().answers);
    for (QLatin1StringView key : kSettingsKeys)
        (void)store.stringForKey(QString(key));
    store.setValue("1536", kSize);
    EXPECT_TRUE(store.synchronize().saved);
    EXPECT_EQ(home.stored({kSize}), "1536");
    EXPECT_FALSE(home.readStore().contains("filler"));
    QFile aside(home.storeFile() + ".too-large");
    EXPECT_EQ(aside.open(QIODevice::ReadOnly) && aside.readAll() == GetParam().contents,
        GetParam().contents.size() > 1024 * 1024);
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(4242).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(Settings, BadStoreFile,
    ::testing::Values(BadFile{"Huge", "[General]\npic_size=1200\nfiller=" + QByteArray(3 * 1024 * 1024, 'x') + "\n",
                          "480 | Quillora"},
        BadFile{"Garbage", "[General\ngarbage\nvid_size=240\nno settings file\n[[[\n=\n==novalue\n]]\npic_size\n\\\n\"",
            "480 | Quillora"},
        BadFile{"Binary", randomBytes(64 * 1024), "480 | Quillora"},
        BadFile{"NotUtf8", "[General]\npic_size=1200\xff\npic_filename=Caf\xe9\n", "1200\xef\xbf\xbd | Caf"},
        BadFile{"TypedGarbage",
            "[General]\npic_size=@Variant(\\0\\0\\0\\x7f\\xff\\xff)\npic_filename=@ByteArray(Scan)\n",
            "480 | <nothing>"}),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace
