// SPDX-License-Identifier: GPL-3.0-or-later
// The settings: the mapping of stored texts to control states and back (including texts a
// hand-edited or foreign file may hold), the store and files we did not write, and the picture
// controls' group beside the ten settings. The settings in the running application (first start,
// the panel, failed saves) are tested with the controller.
#include "AppTest.h"
#include "CameraControlStore.h"
#include "SettingsMapping.h"
#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

// A save never loses the file it replaces: one too large to be ours stays in place while the new
// contents cannot be written, and is set aside only when they are whole. A settings file that is
// a link (a dotfile manager keeps the real file elsewhere) is written through: the file it points
// to gets the new contents, a link to a file not there yet creates it, and the link stays.
TEST(UserDefaultsStore, ASaveKeepsTheOldFileUntilTheNewIsWholeAndWritesThroughALink)
{
    TemporaryHome home;
    const QByteArray huge = "[General]\npic_size=1200\nfiller=" + QByteArray(2 * 1024 * 1024, 'x') + "\n";
    home.writeStore(huge);
    UserDefaults store;
    store.setValue(QString(20000, 'z'), kName);
    {
        const quillora::test::FileSizeLimit full(8192);
        EXPECT_FALSE(store.synchronize().saved);
    }
    EXPECT_TRUE(fileContents(home.storeFile()) == huge) << "the old file was lost";
    EXPECT_EQ(
        QDir(home.configHome() + "/Quillora").entryList(QDir::Files | QDir::Hidden), QStringList{"quillora.conf"});
    store.setValue("Scan", kName);
    ASSERT_TRUE(store.synchronize().saved);
    EXPECT_EQ(home.stored({kName}), "Scan");
    EXPECT_TRUE(fileContents(home.storeFile() + ".too-large") == huge);

    const QString dotfiles = home.configHome() + "/../dotfiles";
    QDir().mkpath(dotfiles);
    const QString real = dotfiles + "/quillora.conf";
    QFile::remove(home.storeFile());
    ASSERT_TRUE(QFile::link("../../dotfiles/quillora.conf", home.storeFile()));
    for (const char *name : {"Page", "Sheet"}) { // the first save creates the file, the second replaces it
        SCOPED_TRACE(name);
        store.setValue(name, kName);
        store.setValue("240", kSize);
        const auto result = store.synchronize();
        ASSERT_TRUE(result.saved) << result.error.toStdString();
        EXPECT_TRUE(QFileInfo(home.storeFile()).isSymLink());
        EXPECT_EQ(QFileInfo(home.storeFile()).symLinkTarget(), QFileInfo(real).absoluteFilePath());
        EXPECT_TRUE(fileContents(real).contains(QByteArray("pic_filename=") + name)) << fileContents(real).constData();
        EXPECT_EQ(home.stored({kName, kSize}), std::string(name) + " | 240");
        EXPECT_EQ(QDir(dotfiles).entryList(QDir::Files | QDir::Hidden), QStringList{"quillora.conf"});
    }
}

// The picture controls' values, per camera in their own group of the same file: "<camera>/<control
// ID as 0x%08x>=<integer>", a camera identifier with other characters than letters, digits, '_',
// '.' and '-' percent-encoded; a camera's reset removes its entries alone. The ten settings and
// another program's keys stay as they were, in this process and in the next.
TEST(CameraControlsGroup, ValuesPerCameraBesideTheTenSettings)
{
    TemporaryHome home;
    home.writeStore("[General]\npic_size=1024\npic_filename=Lesson\nother_program=kept\n");
    const std::string ten = home.stored();
    UserDefaults defaults;
    CameraControlStore store(defaults);
    store.setValue("virtual-0", 0x00980900, 40);
    store.setValue("0x01420000090c037a", 0x009a0902, -3);
    store.setValue("/dev/video0 (Desk)", 0x009a0901, 1);
    ASSERT_TRUE(store.save().saved);
    const QByteArray file = home.readStore();
    EXPECT_TRUE(file.contains("[CameraControls]\n"
                              "%252Fdev%252Fvideo0%2520%2528Desk%2529\\0x009a0901=1\n"
                              "0x01420000090c037a\\0x009a0902=-3\n"
                              "virtual-0\\0x00980900=40\n"))
        << file.constData();
    EXPECT_EQ(home.stored(), ten);
    EXPECT_EQ(home.stored({"other_program"}), "kept");

    UserDefaults later;
    CameraControlStore reread(later);
    EXPECT_EQ(reread.valuesFor("virtual-0"), (std::map<std::uint32_t, std::int64_t>{{0x00980900, 40}}));
    EXPECT_EQ(reread.valuesFor("/dev/video0 (Desk)"), (std::map<std::uint32_t, std::int64_t>{{0x009a0901, 1}}));
    EXPECT_TRUE(reread.valuesFor("virtual-1").empty());
    reread.removeCamera("virtual-0");
    EXPECT_TRUE(reread.valuesFor("virtual-0").empty()) << "forgotten at once, before the save";
    ASSERT_TRUE(reread.save().saved);
    EXPECT_FALSE(home.readStore().contains("virtual-0"));
    EXPECT_TRUE(home.readStore().contains("0x01420000090c037a\\0x009a0902=-3"));
    EXPECT_EQ(home.stored(), ten);
}

// What is not "<camera>/0x<hex ID>=<32-bit integer>" in the group (words, bad IDs, numbers too large,
// typed values, keys without a camera) is passed over with one line however often the group is
// read; the good entries beside it count, and the ten settings load as they are.
TEST(CameraControlsGroup, GarbageIsPassedOverWithOneLine)
{
    TemporaryHome home;
    home.writeStore("[General]\npic_filename=Lesson\n[CameraControls]\ncam\\0x00980900=-40\ncam\\0x980918=2\n"
                    "cam\\0x00980901=soft\ncam\\brightness=3\ncam\\0x123456789=1\ncam\\0x00980902=99999999999\n"
                    "cam\\0x00980903=@Variant(\\0\\0\\0\\x7f\\xff\\xff)\nloose=1\ncam\\0x00980904= 7 \n");
    const quillora::test::LogSpy log;
    UserDefaults defaults;
    CameraControlStore store(defaults);
    const std::map<std::uint32_t, std::int64_t> good{{0x00980900, -40}, {0x00980918, 2}, {0x00980904, 7}};
    EXPECT_EQ(store.valuesFor("cam"), good);
    EXPECT_EQ(store.valuesFor("cam"), good);
    EXPECT_EQ(log.lines("quillora.prefs"),
        QStringList{"6 entries of [CameraControls] ignored: not <camera>/<control ID>=<integer>"});
    EXPECT_EQ(home.stored({"pic_filename"}), "Lesson");
}

} // namespace
