// The store: where it lives, what registered defaults answer for, how stored values read, that
// a save reaches the file and a failed one leaves the previous file as it was, and that no file
// content stops it from answering.
#include "UserDefaults.h"
#include "PrefsTestSupport.h"
#include "SettingsMapping.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QRect>
#include <QSettings>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using quillora::prefs::SaveResult;
using quillora::prefs::UserDefaults;
using quillora::test::SettingsHome;

namespace {

const QString kSize = QStringLiteral("pic_size");
const QString kName = QStringLiteral("pic_filename");

QStringList allKeys()
{
    QStringList keys;
    for (QLatin1StringView key : quillora::prefs::kSettingsKeys)
        keys << QString(key);
    return keys;
}

TEST(UserDefaultsStore, LivesUnderTheConfigHome)
{
    SettingsHome home;
    EXPECT_EQ(UserDefaults::fileName(), home.storeFile());
}

TEST(UserDefaultsStore, RegisteredDefaultsAnswerOnlyForKeysWithoutValueAndAreNeverWritten)
{
    SettingsHome home;
    UserDefaults store;
    EXPECT_EQ(store.stringForKey(kSize), std::nullopt);
    store.registerDefaults({{kSize, QStringLiteral("480")}, {kName, QStringLiteral("Quillora")}});
    EXPECT_EQ(store.stringForKey(kSize), QStringLiteral("480"));

    // An empty text is a value: it hides the default.
    store.setValue(QString(), kName);
    store.setValue(QStringLiteral("1200"), kSize);
    ASSERT_TRUE(store.synchronize().saved);
    EXPECT_EQ(store.stringForKey(kName), QString());
    EXPECT_EQ(store.stringForKey(kSize), QStringLiteral("1200"));

    // The file holds what was set, nothing registered; another run has no defaults.
    const QJsonObject fresh = home.readInFreshProcess({kName, kSize, QStringLiteral("pic_format")});
    EXPECT_EQ(fresh.value(kName).toString(QStringLiteral("<not text>")), QString());
    EXPECT_EQ(fresh.value(kSize).toString(), QStringLiteral("1200"));
    EXPECT_TRUE(fresh.value(QStringLiteral("pic_format")).isNull());
}

TEST(UserDefaultsStore, AwkwardTextsSurviveARestart)
{
    SettingsHome home;
    const QList<QPair<QString, QString>> values{
        {QStringLiteral("vid_filename"), QStringLiteral(" Smith, John; \"draft\" = @x ")},
        {QStringLiteral("pic_filename"), QStringLiteral("Zoë\tline\nbreak \\ back")},
        {QStringLiteral("vid_path"), QStringLiteral("/home/Ann Lee/Vidéos 100%/")},
        {QStringLiteral("pic_path"), QStringLiteral("file:///home/Ann%20Lee/Bilder/")},
        {QStringLiteral("pic_size"), QStringLiteral("@Variant(1024)")},
        {QStringLiteral("pic_format"), QStringLiteral("a, b")},
    };
    {
        UserDefaults store;
        for (const auto &[key, text] : values)
            store.setValue(text, key);
        const SaveResult result = store.synchronize();
        ASSERT_TRUE(result.saved) << result.error.toStdString();
    }
    QStringList keys;
    for (const auto &value : values)
        keys << value.first;
    const QJsonObject fresh = home.readInFreshProcess(keys);
    for (const auto &[key, text] : values)
        EXPECT_EQ(fresh.value(key).toString(QStringLiteral("<not text>")), text) << key.toStdString();
}

TEST(UserDefaultsStore, StoredNumbersReadAsDecimalTextOtherKindsAsNothing)
{
    EXPECT_EQ(UserDefaults::textOfStoredValue(QVariant(QStringLiteral("jpg"))), QStringLiteral("jpg"));
    EXPECT_EQ(UserDefaults::textOfStoredValue(QVariant(1024)), QStringLiteral("1024"));
    EXPECT_EQ(UserDefaults::textOfStoredValue(QVariant::fromValue<qint16>(-240)), QStringLiteral("-240"));
    EXPECT_EQ(UserDefaults::textOfStoredValue(QVariant::fromValue<quint8>(240)), QStringLiteral("240"));
    EXPECT_EQ(UserDefaults::textOfStoredValue(QVariant(1024.0)), QStringLiteral("1024"));
    EXPECT_EQ(UserDefaults::textOfStoredValue(QVariant(1536.0f)), QStringLiteral("1536"));
    EXPECT_EQ(UserDefaults::textOfStoredValue(QVariant(2.5)), QStringLiteral("2.5"));
    EXPECT_EQ(UserDefaults::textOfStoredValue(QVariant(QStringList{QStringLiteral("no")})), std::nullopt);
    EXPECT_EQ(UserDefaults::textOfStoredValue(QVariant(QByteArray("no"))), std::nullopt);
    EXPECT_EQ(UserDefaults::textOfStoredValue(QVariant(QRect(0, 0, 1, 1))), std::nullopt);
    EXPECT_EQ(UserDefaults::textOfStoredValue(QVariant(QVariantMap{{kSize, 1}})), std::nullopt);
}

TEST(UserDefaultsStore, NumberStoredByAnotherProgramReadsAsText)
{
    SettingsHome home;
    {
        // QSettings keeps a short integer as a typed value ("@Variant(...)") in INI files.
        QDir().mkpath(QFileInfo(home.storeFile()).absolutePath());
        QSettings other(home.storeFile(), QSettings::IniFormat);
        other.setValue(kSize, QVariant::fromValue<qint16>(1200));
        other.setValue(kName, QVariant(QByteArray("bytes")));
    }
    ASSERT_TRUE(home.readStore().contains("@Variant(")) << home.readStore().constData();
    UserDefaults store;
    store.registerDefaults({{kName, QStringLiteral("Quillora")}});
    EXPECT_EQ(store.stringForKey(kSize), QStringLiteral("1200"));
    // Stored but not text: nothing, not the default.
    EXPECT_EQ(store.stringForKey(kName), std::nullopt);
}

// ---- Saving ---------------------------------------------------------------------------------

TEST(UserDefaultsSave, CreatesTheFolderAndWritesTopLevelKeys)
{
    SettingsHome home;
    UserDefaults store;
    store.setValue(QStringLiteral("480"), kSize);
    const SaveResult result = store.synchronize();
    ASSERT_TRUE(result.saved) << result.error.toStdString();
    const QByteArray contents = home.readStore();
    EXPECT_TRUE(contents.startsWith("[General]\n")) << contents.constData();
    EXPECT_TRUE(contents.contains("\npic_size=480\n")) << contents.constData();
    // Nothing is left beside it: no temporary file, no lock.
    EXPECT_EQ(QDir(QFileInfo(home.storeFile()).absolutePath()).entryList(QDir::Files | QDir::Hidden),
        QStringList{QStringLiteral("quillora.conf")});
}

TEST(UserDefaultsSave, MalformedFileIsReplacedAndReportedAsSaved)
{
    // QSettings flags a file it could not parse; the save still goes through and must not be
    // reported as failed.
    SettingsHome home;
    home.writeStore("[General\ngarbage line\nvid_size=240\n");
    UserDefaults store;
    store.setValue(QStringLiteral("1536"), kSize);
    const SaveResult result = store.synchronize();
    EXPECT_TRUE(result.saved) << result.error.toStdString();
    EXPECT_EQ(home.readInFreshProcess({kSize}).value(kSize).toString(), QStringLiteral("1536"));
}

TEST(UserDefaultsSave, FolderThatCannotBeCreatedFailsAndSaysSo)
{
    SettingsHome home;
    // Where the folder should be there is a file: nothing can be written below it.
    QFile blocker(home.configHome() + QStringLiteral("/Quillora"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    UserDefaults store;
    store.setValue(QStringLiteral("480"), kSize);
    const SaveResult result = store.synchronize();
    EXPECT_FALSE(result.saved);
    EXPECT_TRUE(result.error.contains(QStringLiteral("folder"))) << result.error.toStdString();
    EXPECT_TRUE(QFileInfo(blocker.fileName()).isFile());
}

// A full disk, as far as this process is concerned: writes past a size fail with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

TEST(UserDefaultsSave, FullDiskLeavesThePreviousFileWhole)
{
    SettingsHome home;
    UserDefaults store;
    store.setValue(QStringLiteral("1200"), kSize);
    store.setValue(QStringLiteral("Quillora"), kName);
    ASSERT_TRUE(store.synchronize().saved);
    const QByteArray previous = home.readStore();

    store.setValue(QString(8000, QLatin1Char('n')), kName);
    SaveResult result;
    {
        FileSizeLimit limit(4096);
        result = store.synchronize();
    }
    EXPECT_FALSE(result.saved);
    EXPECT_EQ(home.readStore(), previous);
    EXPECT_EQ(QDir(QFileInfo(home.storeFile()).absolutePath()).entryList(QDir::Files | QDir::Hidden),
        QStringList{QStringLiteral("quillora.conf")});

    // Room again: the next save goes through.
    store.setValue(QStringLiteral("Scan"), kName);
    EXPECT_TRUE(store.synchronize().saved);
    EXPECT_EQ(home.readInFreshProcess({kName}).value(kName).toString(), QStringLiteral("Scan"));
}

TEST(UserDefaultsSave, OversizedFileIsSetAsideNotMerged)
{
    SettingsHome home;
    QByteArray huge("[General]\npic_size=1200\n");
    while (huge.size() < 3 * 1024 * 1024)
        huge += "filler_" + QByteArray::number(huge.size()) + "=" + QByteArray(60, 'x') + "\n";
    home.writeStore(huge);
    UserDefaults store;
    store.registerDefaults({{kSize, QStringLiteral("480")}});
    // Not read at all: a file this size was not written by us.
    EXPECT_EQ(store.stringForKey(kSize), QStringLiteral("480"));

    store.setValue(QStringLiteral("240"), kSize);
    ASSERT_TRUE(store.synchronize().saved);
    EXPECT_LT(home.readStore().size(), 100);
    QFile aside(home.storeFile() + QStringLiteral(".too-large"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), huge);
}

// ---- Files we did not write ------------------------------------------------------------------

struct BadFileCase {
    const char *name;
    QByteArray contents;
    // Expected answers for pic_size (registered "480") and pic_filename (registered
    // "Quillora"); nullptr for nothing.
    const char *size;
    const char *fileName;
};

class BadStoreFile : public ::testing::TestWithParam<BadFileCase> { };

QByteArray randomBytes(int size)
{
    QRandomGenerator generator(4242);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

TEST_P(BadStoreFile, AnswersWithWhatCanBeReadAndDefaultsForTheRest)
{
    const BadFileCase &c = GetParam();
    SettingsHome home;
    home.writeStore(c.contents);
    UserDefaults store;
    store.registerDefaults({{kSize, QStringLiteral("480")}, {kName, QStringLiteral("Quillora")}});
    const auto expected
        = [](const char *text) { return text ? std::optional<QString>(QString::fromUtf8(text)) : std::nullopt; };
    EXPECT_EQ(store.stringForKey(kSize), expected(c.size));
    EXPECT_EQ(store.stringForKey(kName), expected(c.fileName));
    // Every other key answers something or nothing, without trouble.
    for (const QString &key : allKeys())
        (void)store.stringForKey(key);
}

INSTANTIATE_TEST_SUITE_P(Settings, BadStoreFile,
    ::testing::Values(BadFileCase{"Empty", QByteArray(), "480", "Quillora"},
        BadFileCase{"Garbage", "this is no settings file\n[[[\n=\n==novalue\n]]\npic_size\n\\\n\"", "480", "Quillora"},
        BadFileCase{"Binary", randomBytes(64 * 1024), "480", "Quillora"},
        BadFileCase{"NotUtf8", "[General]\npic_size=1200\xff\npic_filename=Caf\xe9\n", "1200\xef\xbf\xbd", "Caf"},
        BadFileCase{"Utf8ByteOrderMark", "\xef\xbb\xbf[General]\npic_size=1536\n", "1536", "Quillora"},
        BadFileCase{"Lists", "[General]\npic_size=240, 1024\npic_filename=a, b\n", nullptr, nullptr},
        BadFileCase{"Groups", "[pic_size]\nwidth=1\n[pic_filename]\nx=y\n[General]\npic_filename/deeper=1\n", "480",
            "Quillora"},
        BadFileCase{"TypedGarbage",
            "[General]\npic_size=@Variant(\\0\\0\\0\\x7f\\xff\\xff)\npic_filename=@ByteArray(Scan)\n", "480", nullptr},
        BadFileCase{
            "TypedButNotText", "[General]\npic_size=@Rect(1 2 3 4)\npic_filename=@Invalid()\n", nullptr, "Quillora"},
        BadFileCase{"KeysInOtherCase", "[General]\nPIC_SIZE=1200\n", "480", "Quillora"}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(BadStoreFile, UnreadableFileAnswersDefaultsAndIsNotOverwritten)
{
    SettingsHome home;
    // A folder where the file should be: it cannot be read (whoever runs the test, root too).
    QDir().mkpath(home.storeFile());
    UserDefaults store;
    store.registerDefaults({{kSize, QStringLiteral("480")}});
    EXPECT_EQ(store.stringForKey(kSize), QStringLiteral("480"));
    store.setValue(QStringLiteral("240"), kSize);
    const SaveResult result = store.synchronize();
    EXPECT_FALSE(result.saved);
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_TRUE(QFileInfo(home.storeFile()).isDir());
}

} // namespace
