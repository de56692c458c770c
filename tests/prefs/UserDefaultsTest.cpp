// The store: defaults, stored values, saves reaching the file, and files we did not write.
#include "UserDefaults.h"
#include "PrefsTestSupport.h"
#include "SettingsMapping.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRect>

#include <gtest/gtest.h>

using quillora::prefs::UserDefaults;
using quillora::test::SettingsHome;

namespace {

const QString kSize = "pic_size", kName = "pic_filename";

std::string answer(const UserDefaults &store, const QString &key)
{
    return store.stringForKey(key).value_or("<nothing>").toStdString();
}

// Registered defaults answer only for keys without a value, in this run only, and are never
// written; an empty text is a value; texts with separators, quotes, escapes, line breaks and INI
// syntax come back unchanged; the file is under the config home with nothing beside it.
TEST(UserDefaultsStore, RegisteredDefaultsAndAwkwardTextsAcrossARestart)
{
    SettingsHome home;
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
    EXPECT_EQ(home.fresh(keys), (texts.join(" | ") + " | <nothing>").toStdString());
    EXPECT_TRUE(home.readStore().startsWith("[General]\n")) << home.readStore().constData();
    EXPECT_EQ(
        QDir(home.configHome() + "/Quillora").entryList(QDir::Files | QDir::Hidden), QStringList{"quillora.conf"});
}

// A stored number reads as its decimal text; any other kind of value as nothing.
TEST(UserDefaultsStore, StoredNumbersReadAsDecimalTextOtherKindsAsNothing)
{
    const std::pair<QVariant, std::string> cases[] = {{QString("jpg"), "jpg"}, {1024, "1024"},
        {QVariant::fromValue<qint16>(-240), "-240"}, {QVariant::fromValue<quint8>(240), "240"}, {1024.0, "1024"},
        {1536.0f, "1536"}, {2.5, "2.5"}, {QStringList{"no"}, "<nothing>"}, {QByteArray("no"), "<nothing>"},
        {QRect(0, 0, 1, 1), "<nothing>"}, {QVariantMap{{kSize, 1}}, "<nothing>"}};
    for (const auto &[value, text] : cases)
        EXPECT_EQ(UserDefaults::textOfStoredValue(value).value_or("<nothing>").toStdString(), text);
}

// A file too large to be ours is not read, and set aside whole at the next save.
TEST(UserDefaultsStore, OversizedFileIsSetAsideNotMerged)
{
    SettingsHome home;
    const QByteArray huge = "[General]\npic_size=1200\nfiller=" + QByteArray(3 * 1024 * 1024, 'x') + "\n";
    home.writeStore(huge);
    UserDefaults store;
    EXPECT_EQ(answer(store, kSize), "<nothing>");
    store.setValue("240", kSize);
    ASSERT_TRUE(store.synchronize().saved);
    EXPECT_LT(home.readStore().size(), 100);
    QFile aside(home.storeFile() + ".too-large");
    EXPECT_TRUE(aside.open(QIODevice::ReadOnly) && aside.readAll() == huge);
}

struct BadFile {
    const char *name;
    QByteArray contents;
    std::string answers; // for pic_size (registered "480") and pic_filename (registered "Quillora")
};

class BadStoreFile : public ::testing::TestWithParam<BadFile> { };

// A file we did not write answers what can be read and defaults for the rest, and the next save
// replaces it (random bytes included: their non-keys must not block every later save).
TEST_P(BadStoreFile, AnswersWhatCanBeReadAndIsReplacedOnSave)
{
    SettingsHome home;
    home.writeStore(GetParam().contents);
    UserDefaults store;
    store.registerDefaults({{kSize, "480"}, {kName, "Quillora"}});
    EXPECT_EQ(answer(store, kSize) + " | " + answer(store, kName), GetParam().answers);
    for (QLatin1StringView key : quillora::prefs::kSettingsKeys)
        (void)store.stringForKey(QString(key));
    store.setValue("1536", kSize);
    EXPECT_TRUE(store.synchronize().saved);
    EXPECT_EQ(home.fresh({kSize}), "1536");
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(4242).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(Settings, BadStoreFile,
    ::testing::Values(BadFile{"Empty", QByteArray(), "480 | Quillora"},
        BadFile{"Garbage", "this is no settings file\n[[[\n=\n==novalue\n]]\npic_size\n\\\n\"", "480 | Quillora"},
        BadFile{"Malformed", "[General\ngarbage line\nvid_size=240\n", "480 | Quillora"},
        BadFile{"Binary", randomBytes(64 * 1024), "480 | Quillora"},
        BadFile{"NotUtf8", "[General]\npic_size=1200\xff\npic_filename=Caf\xe9\n", "1200\xef\xbf\xbd | Caf"},
        BadFile{"Utf8ByteOrderMark", "\xef\xbb\xbf[General]\npic_size=1536\n", "1536 | Quillora"},
        BadFile{"Lists", "[General]\npic_size=240, 1024\npic_filename=a, b\n", "<nothing> | <nothing>"},
        BadFile{
            "Groups", "[pic_size]\nwidth=1\n[pic_filename]\nx=y\n[General]\npic_filename/deeper=1\n", "480 | Quillora"},
        BadFile{"TypedGarbage",
            "[General]\npic_size=@Variant(\\0\\0\\0\\x7f\\xff\\xff)\npic_filename=@ByteArray(Scan)\n",
            "480 | <nothing>"},
        BadFile{
            "TypedButNotText", "[General]\npic_size=@Rect(1 2 3 4)\npic_filename=@Invalid()\n", "<nothing> | Quillora"},
        BadFile{"KeysInOtherCase", "[General]\nPIC_SIZE=1200\n", "480 | Quillora"},
        BadFile{"NumberFromAnotherProgram",
            "[General]\npic_size=@Variant(\\0\\0\\0\\x82\\x4\\xb0)\npic_filename=@ByteArray(b)\n", "1200 | <nothing>"}),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace
