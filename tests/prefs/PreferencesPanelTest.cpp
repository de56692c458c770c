// The settings in the running controller: first start, the panel, loading and saving, stores that
// cannot be written, and stream rebuilds on a user's change.
#include "MatrixControl.h"
#include "PathControl.h"
#include "PrefsTestSupport.h"
#include "VemoViewController.h"
#include "WindowDefinition.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using quillora::app::VemoViewController;
using quillora::test::SettingsHome;

namespace {

class Application {
public:
    explicit Application(const QByteArray &cameras = "")
        : m_cameras("QUILLORA_VIRTUAL_CAMERAS", cameras)
        , m_definition(qApp)
    {
        m_definition.awake();
    }
    VemoViewController &c() const { return *m_definition.controller(); }
    QDialog &panel() const { return *m_definition.preferencesPanel(); }
    QPushButton *done() const { return panel().findChild<QPushButton *>("doneButton"); }
    void confirm() { c().preferencesDone(done()); }
    // The ten controls in key order; a folder as its path, "file:" before a file URL's.
    std::string controls() const
    {
        const auto folder = [](const QUrl &url) { return (url.scheme().isEmpty() ? "" : "file:") + url.path(); };
        const VemoViewController &v = c();
        return QStringList{QString::number(v.mVideoSize->currentIndex()),
            v.mVideoCaptureAudio->isChecked() ? "on" : "off", folder(v.mVideoPath->URL()), v.mVideoFilename->text(),
            QString::number(v.mVideoOverwrite->selectedRow()), QString::number(v.mPhotoSize->currentIndex()),
            QString::number(v.mPhotoFormat->currentIndex()), folder(v.mPhotoPath->URL()), v.mPhotoFilename->text(),
            QString::number(v.mOverwrite->selectedRow())}
            .join(" | ")
            .toStdString();
    }
    // True once a frame of this size newer than the current one has arrived.
    bool waitForFrameOfSize(int width, int height)
    {
        const quillora::capture::Frame before = c().currentFrame();
        return quillora::test::waitUntil([&] {
            const quillora::capture::Frame now = c().currentFrame();
            return now && !now.sameAs(before) && now.width() == width && now.height() == height;
        });
    }

private:
    quillora::test::ScopedEnv m_cameras;
    quillora::app::WindowDefinition m_definition;
};

std::string fallbacks(const QString &desktop)
{
    return QString("1 | on | %1 | Quillora | 1 | 1 | 0 | %1 | Quillora | 1").arg(desktop).toStdString();
}

QStringList gWarnings; // of quillora.prefs

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && context.category && QByteArrayView(context.category) == "quillora.prefs")
        gWarnings << message;
}

// First start shows the fallbacks with the Desktop the desktop reports and stores nothing until
// confirmed. The panel is modeless; Escape or closing stores nothing (the control keeps the
// change), with no camera a size change only changes the control; Return confirms.
TEST(Settings, FirstStartAndThePanel)
{
    SettingsHome home;
    QDir().mkpath(home.configHome());
    QFile dirs(home.configHome() + "/user-dirs.dirs");
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly) && dirs.write("XDG_DESKTOP_DIR=\"$HOME/Bureau \xc3\xa0 moi\"\n"));
    dirs.close();
    QDir(home.home()).mkpath("Bureau à moi");
    const QString desktop = home.home() + "/Bureau à moi/";
    Application app;
    EXPECT_EQ(app.controls(), fallbacks(desktop));
    EXPECT_FALSE(QFile::exists(home.storeFile()));
    app.confirm();
    EXPECT_EQ(home.fresh(),
        QString("480 | yes | %1 | Quillora | no | 480 | jpg | %1 | Quillora | no").arg(desktop).toStdString());
    const QByteArray first = home.readStore();
    VemoViewController &c = app.c();
    c.preferencesClick(nullptr);
    ASSERT_TRUE(app.panel().isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    c.mPhotoFilename->setText("Never stored");
    QTest::keyClick(&app.panel(), Qt::Key_Escape);
    EXPECT_FALSE(app.panel().isVisible());
    c.preferencesClick(nullptr);
    c.mPhotoSize->setFocus();
    QTest::keyClick(c.mPhotoSize, Qt::Key_Down);
    EXPECT_EQ(c.mPhotoSize->currentIndex(), 2);
    EXPECT_FALSE(c.mCaptureSession);
    app.panel().close();
    EXPECT_TRUE(home.readStore() == first);
    EXPECT_EQ(c.mPhotoFilename->text().toStdString(), "Never stored");
    c.preferencesClick(nullptr);
    EXPECT_TRUE(app.done()->isDefault());
    c.mPhotoFilename->setFocus();
    c.mPhotoFilename->selectAll();
    QTest::keyClicks(c.mPhotoFilename, "Typed");
    QTest::keyClick(c.mPhotoFilename, Qt::Key_Return);
    EXPECT_FALSE(app.panel().isVisible());
    EXPECT_EQ(home.fresh({"pic_filename", "pic_size"}), "Typed | 1024");
}

// A hand-written file loads by the mapping into every control, and confirming saves recognised words back.
TEST(Settings, HandWrittenFileLoadsByTheMapping)
{
    SettingsHome home;
    home.writeStore(
        "[General]\nvid_size=720\nvid_captureaudio=No\nvid_path=/home/Ann Lee/Vid\xc3\xa9os/\nvid_filename=\n"
        "vid_overwrite=YES\npic_size=1536\npic_format=PNG\npic_path=file:///home/Ann%20Lee/Bilder/\n"
        "pic_filename=Scan\npic_overwrite=yes\n");
    Application app;
    EXPECT_EQ(app.controls(), "1 | on | /home/Ann Lee/Vidéos/ |  | 1 | 4 | 0 | file:/home/Ann Lee/Bilder/ | Scan | 0");
    app.confirm();
    EXPECT_EQ(home.fresh(),
        "480 | yes | /home/Ann Lee/Vidéos/ |  | no | 1536 | jpg | file:///home/Ann%20Lee/Bilder/ | Scan | yes");
}

// A save that fails (full disk, a folder in the file's place) is logged, keeps the previous file
// whole and leaves the panel working; the next possible save goes through; a store that cannot be
// read starts with the fallbacks.
TEST(Settings, FailedSavesAreLoggedAndKeepThePreviousFile)
{
    SettingsHome home;
    Application app;
    app.confirm();
    const QByteArray previous = home.readStore();
    qInstallMessageHandler(collect);
    app.c().preferencesClick(nullptr);
    app.c().mPhotoFilename->setText(QString(20000, 'z'));
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit limit{8192, old.rlim_max}; // writes past this fail as on a full disk
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    app.confirm();
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(gWarnings.filter("settings not saved to " + home.storeFile()).size(), 1);
    EXPECT_TRUE(home.readStore() == previous);
    EXPECT_EQ(
        QDir(home.configHome() + "/Quillora").entryList(QDir::Files | QDir::Hidden), QStringList{"quillora.conf"});
    app.c().preferencesClick(nullptr);
    EXPECT_TRUE(app.panel().isVisible());
    app.c().mPhotoFilename->setText("Scan");
    app.confirm();
    EXPECT_EQ(home.fresh({"pic_filename"}), "Scan");
    QFile::remove(home.storeFile());
    QDir().mkpath(home.storeFile()); // can be neither read nor written
    app.confirm();
    EXPECT_EQ(gWarnings.filter("settings not saved to " + home.storeFile()).size(), 2);
    EXPECT_TRUE(QFileInfo(home.storeFile()).isDir());
    EXPECT_EQ(Application().controls(), fallbacks(home.home() + "/Desktop/"));
    qInstallMessageHandler(nullptr);
}

// Loading starts the stream once, at the loaded size; a user's change of photo size, movie size or
// sound rebuilds it without recording, a change by code does not; while frozen it comes back live.
TEST(PreferencesChange, OnlyUsersChangesRebuildTheStream)
{
    SettingsHome home;
    home.writeStore("[General]\npic_size=1024\nvid_size=240\nvid_captureaudio=no\n");
    Application app("Desk Camera|UVC Camera VendorID_2316 ProductID_45937|0x01420000090cb371");
    VemoViewController &c = app.c();
    auto session = c.mCaptureSession;
    ASSERT_TRUE(app.waitForFrameOfSize(1280, 1024));
    QTest::qWait(100);
    EXPECT_EQ(c.mCaptureSession, session);
    c.preferencesClick(nullptr);
    for (const auto &[control, key] : {std::pair<QWidget *, Qt::Key>{c.mPhotoSize, Qt::Key_Up},
             {c.mVideoSize, Qt::Key_Down}, {c.mVideoCaptureAudio, Qt::Key_Space}}) {
        session = c.mCaptureSession;
        control->setFocus();
        QTest::keyClick(control, key);
        EXPECT_NE(c.mCaptureSession, session) << control->objectName().toStdString();
    }
    EXPECT_EQ(app.controls().substr(0, 9), "1 | on | ");
    EXPECT_FALSE(c.recording);
    EXPECT_TRUE(app.waitForFrameOfSize(640, 480));
    session = c.mCaptureSession;
    c.mPhotoSize->setCurrentIndex(0);
    c.mVideoCaptureAudio->setCheckState(Qt::Unchecked);
    EXPECT_EQ(c.mCaptureSession, session);
    EXPECT_EQ(home.fresh({"pic_size"}), "1024"); // nothing stored until confirmed
    c.mCaptureSession->stopRunning();            // frozen
    c.mPhotoSize->setFocus();
    QTest::keyClick(c.mPhotoSize, Qt::Key_Down); // 640 × 480 again
    ASSERT_TRUE(c.mCaptureSession && c.mCaptureSession->isRunning());
    EXPECT_TRUE(app.waitForFrameOfSize(640, 480));
    EXPECT_TRUE(app.waitForFrameOfSize(640, 480)); // frames keep coming
}

} // namespace
