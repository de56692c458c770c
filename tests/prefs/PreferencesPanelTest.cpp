// The settings in the running controller: first start, loading a stored file, saving on
// confirmation only, the panel's keys, and stream rebuilds on a user's change of the settings
// the stream is built from.
#include "PrefsTestSupport.h"
#include "VemoViewController.h"
#include "WindowDefinition.h"

#include "MatrixControl.h"
#include "PathControl.h"
#include "SettingsMapping.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using quillora::app::VemoViewController;
using quillora::app::WindowDefinition;
using quillora::test::ScopedEnv;
using quillora::test::SettingsHome;
using quillora::test::waitUntil;

namespace {

QStringList allKeys()
{
    QStringList keys;
    for (QLatin1StringView key : quillora::prefs::kSettingsKeys)
        keys << QString(key);
    return keys;
}

// The application with a settings home of its own and the cameras given ("" for none).
class Application {
public:
    explicit Application(const QByteArray &cameras)
        : m_cameras("QUILLORA_VIRTUAL_CAMERAS", cameras)
        , m_definition(qApp)
    {
    }
    void start() { m_definition.awake(); }
    VemoViewController &c() const { return *m_definition.controller(); }
    QDialog &panel() const { return *m_definition.preferencesPanel(); }
    QPushButton &doneButton() const { return *panel().findChild<QPushButton *>(QStringLiteral("doneButton")); }

    // The first decoded frame after now that satisfies `accept`.
    bool waitForFrame(const std::function<bool(const quillora::capture::Frame &)> &accept)
    {
        const quillora::capture::Frame before = c().currentFrame();
        return waitUntil([&] {
            const quillora::capture::Frame now = c().currentFrame();
            return now && !now.sameAs(before) && accept(now);
        });
    }
    bool waitForFrameOfSize(int width, int height)
    {
        return waitForFrame(
            [&](const quillora::capture::Frame &f) { return f.width() == width && f.height() == height; });
    }

private:
    ScopedEnv m_cameras;
    WindowDefinition m_definition;
};

const QByteArray kOneCamera = "Desk Camera|UVC Camera VendorID_2316 ProductID_45937|0x01420000090cb371";

// ---- Start and save --------------------------------------------------------------------------

TEST(SettingsStartUp, FirstStartShowsTheFirstStartStates)
{
    SettingsHome home;
    Application app("");
    app.start();
    VemoViewController &c = app.c();
    const QString desktop = home.home() + QStringLiteral("/Desktop/");
    EXPECT_EQ(c.mVideoSize->currentIndex(), 1);
    EXPECT_EQ(c.mVideoCaptureAudio->checkState(), Qt::Checked);
    EXPECT_EQ(c.mVideoPath->URL().path(), desktop);
    EXPECT_EQ(c.mVideoFilename->text(), QStringLiteral("Quillora"));
    EXPECT_EQ(c.mVideoOverwrite->selectedRow(), 1);
    EXPECT_EQ(c.mPhotoSize->currentIndex(), 1);
    EXPECT_EQ(c.mPhotoFormat->currentIndex(), 0);
    EXPECT_EQ(c.mPhotoPath->URL().path(), desktop);
    EXPECT_EQ(c.mPhotoFilename->text(), QStringLiteral("Quillora"));
    EXPECT_EQ(c.mOverwrite->selectedRow(), 1);
    // Loading stores nothing.
    EXPECT_FALSE(QFile::exists(home.storeFile()));
}

TEST(SettingsStartUp, ConfirmingRightAfterFirstStartStoresTheTenTextsAndAgainTheSame)
{
    SettingsHome home;
    Application app("");
    app.start();
    app.c().preferencesDone(&app.doneButton());

    const QString desktop = home.home() + QStringLiteral("/Desktop/");
    const QJsonObject stored = home.readInFreshProcess(allKeys());
    const QStringList expected{QStringLiteral("480"), QStringLiteral("yes"), desktop, QStringLiteral("Quillora"),
        QStringLiteral("no"), QStringLiteral("480"), QStringLiteral("jpg"), desktop, QStringLiteral("Quillora"),
        QStringLiteral("no")};
    for (int i = 0; i < allKeys().size(); ++i)
        EXPECT_EQ(stored.value(allKeys()[i]).toString(QStringLiteral("<nothing>")), expected[i])
            << allKeys()[i].toStdString();

    const QByteArray first = home.readStore();
    const QDateTime before = QFileInfo(home.storeFile()).lastModified();
    QTest::qWait(20);
    app.c().preferencesDone(&app.doneButton());
    EXPECT_EQ(home.readStore(), first);
    // Written again all the same, not skipped for being unchanged.
    EXPECT_GT(QFileInfo(home.storeFile()).lastModified(), before);
}

TEST(SettingsStartUp, StoredValuesComeBackAtTheNextStart)
{
    SettingsHome home;
    const QString photoFolder = home.home() + QStringLiteral("/Scans à 100%/");
    {
        Application app("");
        app.start();
        VemoViewController &c = app.c();
        c.mVideoSize->setCurrentIndex(0);
        c.mVideoCaptureAudio->setCheckState(Qt::Unchecked);
        c.mVideoFilename->setText(QString());
        c.mVideoOverwrite->selectCellAtRow(0);
        c.mPhotoSize->setCurrentIndex(3);
        c.mPhotoFormat->setCurrentIndex(3);
        c.mPhotoPath->setURL(QUrl::fromLocalFile(photoFolder));
        c.mPhotoFilename->setText(QStringLiteral("Receipt, Zoë"));
        c.mOverwrite->selectCellAtRow(0);
        c.preferencesDone(&app.doneButton());
    }
    Application app("");
    app.start();
    VemoViewController &c = app.c();
    EXPECT_EQ(c.mVideoSize->currentIndex(), 0);
    EXPECT_EQ(c.mVideoCaptureAudio->checkState(), Qt::Unchecked);
    EXPECT_EQ(c.mVideoPath->URL().path(), home.home() + QStringLiteral("/Desktop/"));
    EXPECT_EQ(c.mVideoFilename->text(), QString());
    EXPECT_EQ(c.mVideoOverwrite->selectedRow(), 0);
    EXPECT_EQ(c.mPhotoSize->currentIndex(), 3);
    EXPECT_EQ(c.mPhotoFormat->currentIndex(), 3);
    EXPECT_EQ(c.mPhotoPath->URL(), QUrl::fromLocalFile(photoFolder));
    EXPECT_EQ(c.mPhotoPath->URL().path(), photoFolder);
    EXPECT_EQ(c.mPhotoFilename->text(), QStringLiteral("Receipt, Zoë"));
    EXPECT_EQ(c.mOverwrite->selectedRow(), 0);
}

TEST(SettingsStartUp, HandWrittenFileLoadsByTheMappingAndSavesRecognisedWords)
{
    SettingsHome home;
    home.writeStore("[General]\n"
                    "vid_size=720\n"
                    "vid_captureaudio=No\n"
                    "vid_path=/home/Ann Lee/Vid\xc3\xa9os/\n"
                    "vid_filename=\n"
                    "vid_overwrite=YES\n"
                    "pic_size=1536\n"
                    "pic_format=PNG\n"
                    "pic_path=file:///home/Ann%20Lee/Bilder/\n"
                    "pic_filename=Scan\n"
                    "pic_overwrite=yes\n");
    Application app("");
    app.start();
    VemoViewController &c = app.c();
    EXPECT_EQ(c.mVideoSize->currentIndex(), 1);
    EXPECT_EQ(c.mVideoCaptureAudio->checkState(), Qt::Checked);
    EXPECT_EQ(c.mVideoPath->URL().path(), QStringLiteral("/home/Ann Lee/Vidéos/"));
    EXPECT_TRUE(c.mVideoPath->URL().scheme().isEmpty());
    EXPECT_EQ(c.mVideoFilename->text(), QString());
    EXPECT_EQ(c.mVideoOverwrite->selectedRow(), 1);
    EXPECT_EQ(c.mPhotoSize->currentIndex(), 4);
    EXPECT_EQ(c.mPhotoFormat->currentIndex(), 0);
    EXPECT_EQ(c.mPhotoPath->URL(), QUrl(QStringLiteral("file:///home/Ann%20Lee/Bilder/")));
    EXPECT_EQ(c.mPhotoPath->URL().path(), QStringLiteral("/home/Ann Lee/Bilder/"));
    EXPECT_EQ(c.mOverwrite->selectedRow(), 0);

    c.preferencesDone(&app.doneButton());
    const QJsonObject stored = home.readInFreshProcess(allKeys());
    EXPECT_EQ(stored.value(QStringLiteral("vid_size")).toString(), QStringLiteral("480"));
    EXPECT_EQ(stored.value(QStringLiteral("vid_captureaudio")).toString(), QStringLiteral("yes"));
    EXPECT_EQ(stored.value(QStringLiteral("vid_path")).toString(), QStringLiteral("/home/Ann Lee/Vidéos/"));
    EXPECT_EQ(stored.value(QStringLiteral("vid_filename")).toString(QStringLiteral("<nothing>")), QString());
    EXPECT_EQ(stored.value(QStringLiteral("vid_overwrite")).toString(), QStringLiteral("no"));
    EXPECT_EQ(stored.value(QStringLiteral("pic_size")).toString(), QStringLiteral("1536"));
    EXPECT_EQ(stored.value(QStringLiteral("pic_format")).toString(), QStringLiteral("jpg"));
    EXPECT_EQ(stored.value(QStringLiteral("pic_path")).toString(), QStringLiteral("file:///home/Ann%20Lee/Bilder/"));
    EXPECT_EQ(stored.value(QStringLiteral("pic_overwrite")).toString(), QStringLiteral("yes"));
}

TEST(SettingsStartUp, ControlsWithoutSelectionSaveTheirCatchAllWords)
{
    SettingsHome home;
    Application app("");
    app.start();
    VemoViewController &c = app.c();
    c.mVideoSize->setCurrentIndex(-1);
    c.mPhotoSize->setCurrentIndex(-1);
    c.mPhotoFormat->setCurrentIndex(-1);
    c.mVideoOverwrite->selectCellAtRow(-1);
    c.mOverwrite->selectCellAtRow(-1);
    c.preferencesDone(&app.doneButton());
    const QJsonObject stored = home.readInFreshProcess(allKeys());
    EXPECT_EQ(stored.value(QStringLiteral("vid_size")).toString(), QStringLiteral("1024"));
    EXPECT_EQ(stored.value(QStringLiteral("pic_size")).toString(), QStringLiteral("1536"));
    EXPECT_EQ(stored.value(QStringLiteral("pic_format")).toString(), QStringLiteral("jpg"));
    EXPECT_EQ(stored.value(QStringLiteral("vid_overwrite")).toString(), QStringLiteral("no"));
    EXPECT_EQ(stored.value(QStringLiteral("pic_overwrite")).toString(), QStringLiteral("no"));
}

// ---- Files we did not write, and stores we cannot write ---------------------------------------

struct BadFileCase {
    const char *name;
    QByteArray contents;
};

class SettingsBadFile : public ::testing::TestWithParam<BadFileCase> { };

TEST_P(SettingsBadFile, StartsWithTheFallbacks)
{
    SettingsHome home;
    home.writeStore(GetParam().contents);
    Application app("");
    app.start();
    VemoViewController &c = app.c();
    EXPECT_EQ(c.mVideoSize->currentIndex(), 1);
    EXPECT_EQ(c.mVideoCaptureAudio->checkState(), Qt::Checked);
    EXPECT_EQ(c.mVideoPath->URL().path(), home.home() + QStringLiteral("/Desktop/"));
    EXPECT_EQ(c.mVideoFilename->text(), QStringLiteral("Quillora"));
    EXPECT_EQ(c.mVideoOverwrite->selectedRow(), 1);
    EXPECT_EQ(c.mPhotoSize->currentIndex(), 1);
    EXPECT_EQ(c.mPhotoFormat->currentIndex(), 0);
    EXPECT_EQ(c.mPhotoPath->URL().path(), home.home() + QStringLiteral("/Desktop/"));
    EXPECT_EQ(c.mPhotoFilename->text(), QStringLiteral("Quillora"));
    EXPECT_EQ(c.mOverwrite->selectedRow(), 1);
}

QByteArray binary()
{
    QByteArray bytes;
    for (int i = 0; i < 70000; ++i)
        bytes += char((i * 7919 + (i >> 3)) & 0xff);
    return bytes;
}

QByteArray huge()
{
    QByteArray text("[General]\npic_size=1200\nvid_size=240\n");
    while (text.size() < 4 * 1024 * 1024)
        text += "k" + QByteArray::number(text.size()) + "=" + QByteArray(100, 'v') + "\n";
    return text;
}

INSTANTIATE_TEST_SUITE_P(Settings, SettingsBadFile,
    ::testing::Values(BadFileCase{"Garbage", "<?xml version=\"1.0\"?>\n{\"pic_size\": 1200}\n[[\n=\n"},
        BadFileCase{"Binary", binary()},
        BadFileCase{"NotUtf8",
            "vid_size=24\xff"
            "0\npic_format=pn\xe7\npic_size=\xc0\xaf\nvid_path=\xff\xfe\n"},
        BadFileCase{"Huge", huge()},
        BadFileCase{"ListsAndGroups",
            "[General]\nvid_size=240, 1024\nvid_captureaudio=no, no\npic_filename=a, b\n"
            "vid_filename=@ByteArray(Scan)\npic_path=a, b\n[pic_size]\nx=1200\n"
            "[vid_path]\ny=/tmp/\n[pic_format]\npng=png\n"},
        BadFileCase{"PathsThatAreNoLocation", "[General]\nvid_path=\npic_path=\"http://[::1\"\n"}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(SettingsBadFile, UnreadableFileStartsWithTheFallbacks)
{
    SettingsHome home;
    QDir().mkpath(home.storeFile());
    Application app("");
    app.start();
    EXPECT_EQ(app.c().mPhotoSize->currentIndex(), 1);
    EXPECT_EQ(app.c().mPhotoFilename->text(), QStringLiteral("Quillora"));
}

TEST(SettingsSaveFailure, LoggedAndTheApplicationGoesOn)
{
    SettingsHome home;
    QFile blocker(home.configHome() + QStringLiteral("/Quillora"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Application app("");
    app.start();
    quillora::test::PrefsLogCapture log;
    app.c().preferencesClick(nullptr);
    app.c().mPhotoFormat->setCurrentIndex(2);
    app.c().preferencesDone(&app.doneButton());
    EXPECT_TRUE(log.hasWarningContaining(QStringLiteral("settings not saved to ") + home.storeFile()));
    EXPECT_FALSE(app.panel().isVisible());
    // The setting is in force all the same, and the panel still works.
    EXPECT_EQ(app.c().mPhotoFormat->currentIndex(), 2);
    app.c().preferencesClick(nullptr);
    EXPECT_TRUE(app.panel().isVisible());
}

TEST(SettingsSaveFailure, FullDiskKeepsThePreviousFile)
{
    SettingsHome home;
    Application app("");
    app.start();
    app.c().preferencesDone(&app.doneButton());
    const QByteArray previous = home.readStore();
    ASSERT_FALSE(previous.isEmpty());

    quillora::test::PrefsLogCapture log;
    app.c().mPhotoFilename->setText(QString(20000, QLatin1Char('z')));
    {
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = 8192; // writes past this fail as on a full disk
        auto *oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limit);
        app.c().preferencesDone(&app.doneButton());
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }
    EXPECT_TRUE(log.hasWarningContaining(QStringLiteral("settings not saved")));
    EXPECT_EQ(home.readStore(), previous);
}

// ---- The panel ----------------------------------------------------------------------------------

TEST(PreferencesPanel, ShownModelessReturnConfirmsAndSaves)
{
    SettingsHome home;
    Application app("");
    app.start();
    EXPECT_TRUE(app.doneButton().isDefault());
    app.c().preferencesClick(nullptr);
    ASSERT_TRUE(app.panel().isVisible());
    EXPECT_FALSE(app.panel().isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    QLineEdit *name = app.c().mPhotoFilename;
    name->setFocus();
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Typed"));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_FALSE(app.panel().isVisible());
    EXPECT_EQ(
        home.readInFreshProcess({QStringLiteral("pic_filename")}).value(QStringLiteral("pic_filename")).toString(),
        QStringLiteral("Typed"));
}

TEST(PreferencesPanel, ClosingAnotherWayStoresNothing)
{
    SettingsHome home;
    Application app("");
    app.start();
    app.c().preferencesClick(nullptr);
    app.c().mPhotoFilename->setText(QStringLiteral("Never stored"));
    QTest::keyClick(&app.panel(), Qt::Key_Escape);
    EXPECT_FALSE(app.panel().isVisible());
    app.c().preferencesClick(nullptr);
    app.panel().close();
    EXPECT_FALSE(app.panel().isVisible());
    EXPECT_FALSE(QFile::exists(home.storeFile()));
    // The control keeps the change for the rest of the run.
    EXPECT_EQ(app.c().mPhotoFilename->text(), QStringLiteral("Never stored"));
}

// ---- Stream rebuilds ------------------------------------------------------------------------------

TEST(PreferencesChange, LoadingSendsNoChangeAndTheStreamStartsAtTheLoadedSize)
{
    SettingsHome home;
    home.writeStore("[General]\npic_size=1024\nvid_size=240\nvid_captureaudio=no\n");
    Application app(kOneCamera);
    VemoViewController &c = app.c();
    QSignalSpy photoSize(c.mPhotoSize, &QComboBox::activated);
    QSignalSpy videoSize(c.mVideoSize, &QComboBox::activated);
    QSignalSpy audio(c.mVideoCaptureAudio, &QCheckBox::clicked);
    app.start();
    const auto session = c.mCaptureSession;
    ASSERT_TRUE(session);
    ASSERT_TRUE(app.waitForFrameOfSize(1280, 1024));
    QTest::qWait(100);
    EXPECT_EQ(photoSize.count(), 0);
    EXPECT_EQ(videoSize.count(), 0);
    EXPECT_EQ(audio.count(), 0);
    EXPECT_EQ(c.mCaptureSession, session); // built once, never rebuilt
}

TEST(PreferencesChange, UsersPhotoSizeChangeRebuildsTheStreamAtTheNewSize)
{
    SettingsHome home;
    Application app(kOneCamera);
    app.start();
    VemoViewController &c = app.c();
    ASSERT_TRUE(app.waitForFrameOfSize(640, 480));
    const auto before = c.mCaptureSession;

    c.preferencesClick(nullptr);
    c.mPhotoSize->setFocus();
    QTest::keyClick(c.mPhotoSize, Qt::Key_Down); // the user picks the next size: 1280 × 1024
    EXPECT_EQ(c.mPhotoSize->currentIndex(), 2);
    EXPECT_NE(c.mCaptureSession, before);
    EXPECT_TRUE(app.waitForFrameOfSize(1280, 1024));
    // Nothing stored until the panel is confirmed.
    EXPECT_FALSE(QFile::exists(home.storeFile()));
}

TEST(PreferencesChange, WhileFrozenTheRebuiltStreamIsLiveAgain)
{
    SettingsHome home;
    Application app(kOneCamera);
    app.start();
    VemoViewController &c = app.c();
    ASSERT_TRUE(app.waitForFrameOfSize(640, 480));
    c.mCaptureSession->stopRunning(); // frozen: the stream is paused
    QTest::qWait(200);
    const quillora::capture::Frame still = c.currentFrame();
    QTest::qWait(200);
    ASSERT_TRUE(c.currentFrame().sameAs(still)) << "the picture should stand still while frozen";

    c.mPhotoSize->setFocus();
    QTest::keyClick(c.mPhotoSize, Qt::Key_Up); // 320 × 240
    ASSERT_TRUE(c.mCaptureSession);
    EXPECT_TRUE(c.mCaptureSession->isRunning());
    EXPECT_TRUE(app.waitForFrameOfSize(320, 240));
    // Live: frames keep coming.
    EXPECT_TRUE(app.waitForFrameOfSize(320, 240));
}

TEST(PreferencesChange, VideoSizeAndSoundChangesRebuildTooAndLeaveRecordingAlone)
{
    SettingsHome home;
    Application app(kOneCamera);
    app.start();
    VemoViewController &c = app.c();
    ASSERT_TRUE(app.waitForFrameOfSize(640, 480));
    c.preferencesClick(nullptr);

    auto session = c.mCaptureSession;
    c.mVideoSize->setFocus();
    QTest::keyClick(c.mVideoSize, Qt::Key_Up);
    EXPECT_EQ(c.mVideoSize->currentIndex(), 0);
    EXPECT_NE(c.mCaptureSession, session);

    session = c.mCaptureSession;
    c.mVideoCaptureAudio->setFocus();
    QTest::keyClick(c.mVideoCaptureAudio, Qt::Key_Space); // a user's toggle
    EXPECT_EQ(c.mVideoCaptureAudio->checkState(), Qt::Unchecked);
    EXPECT_NE(c.mCaptureSession, session);
    EXPECT_FALSE(c.recording);
    EXPECT_TRUE(app.waitForFrameOfSize(640, 480));

    // Code setting a control is no user's change.
    session = c.mCaptureSession;
    c.mPhotoSize->setCurrentIndex(0);
    c.mVideoCaptureAudio->setCheckState(Qt::Checked);
    EXPECT_EQ(c.mCaptureSession, session);
}

TEST(PreferencesChange, WithoutCameraOnlyTheControlChanges)
{
    SettingsHome home;
    Application app("");
    app.start();
    VemoViewController &c = app.c();
    ASSERT_FALSE(c.device);
    c.preferencesClick(nullptr);
    c.mPhotoSize->setFocus();
    QTest::keyClick(c.mPhotoSize, Qt::Key_Down);
    EXPECT_EQ(c.mPhotoSize->currentIndex(), 2);
    EXPECT_FALSE(c.mCaptureSession);
    EXPECT_FALSE(QFile::exists(home.storeFile()));
}

} // namespace
