// SPDX-License-Identifier: GPL-3.0-or-later
// The settings in the running application: a first start, the preferences panel, a file written
// by hand, a save that fails, and which changes rebuild the stream.
#include "AppTest.h"
#include "MatrixControl.h"
#include "PathControl.h"
#include "SizeTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace quillora;

namespace {

// The application with the settings of the test's home.
class Preferences : public test::AppTest {
protected:
    QDialog &panel() const { return *def->preferencesPanel(); }
    void confirm() { c->preferencesDone(panel().findChild<QPushButton *>("doneButton")); }
    // The ten controls in key order; a folder as its path, "file:" before a file URL's.
    std::string controls() const
    {
        const auto folder = [](const QUrl &url) { return (url.scheme().isEmpty() ? "" : "file:") + url.path(); };
        const auto v = testAccess(*c);
        return QStringList{QString::number(v.mVideoSize()->currentIndex()),
            v.mVideoCaptureAudio()->isChecked() ? "on" : "off", folder(v.mVideoPath()->URL()),
            v.mVideoFilename()->text(), QString::number(v.mVideoOverwrite()->selectedRow()),
            QString::number(v.mPhotoSize()->currentIndex()), QString::number(v.mPhotoFormat()->currentIndex()),
            folder(v.mPhotoPath()->URL()), v.mPhotoFilename()->text(), QString::number(v.mOverwrite()->selectedRow())}
            .join(" | ")
            .toStdString();
    }
    // True once a frame of this size newer than the current one has arrived.
    bool waitForFrameOfSize(int width, int height)
    {
        const capture::Frame before = c->currentFrame();
        return test::waitUntil([&] {
            const capture::Frame now = c->currentFrame();
            return now && !now.sameAs(before) && now.width() == width && now.height() == height;
        });
    }
};

std::string fallbacks(const QString &desktop)
{
    return QString("1 | on | %1 | Quillora | 1 | 1 | 0 | %1 | Quillora | 1").arg(desktop).toStdString();
}

// First start shows the fallbacks with the Desktop the desktop reports and stores nothing until
// confirmed. Escape or closing the panel stores nothing (the control keeps the change); Return confirms.
TEST_F(Preferences, AFirstStartStoresNothingUntilThePanelIsConfirmed)
{
    QDir().mkpath(home.configHome());
    QFile dirs(home.configHome() + "/user-dirs.dirs");
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly) && dirs.write("XDG_DESKTOP_DIR=\"$HOME/Bureau \xc3\xa0 moi\"\n"));
    dirs.close();
    QDir(home.path()).mkpath("Bureau à moi");
    const QString bureau = home.path() + "/Bureau à moi/";
    start("");
    EXPECT_EQ(controls(), fallbacks(bureau));
    EXPECT_FALSE(QFile::exists(home.storeFile()));
    confirm();
    EXPECT_EQ(home.stored(),
        QString("480 | yes | %1 | Quillora | no | 480 | jpg | %1 | Quillora | no").arg(bureau).toStdString());
    const QByteArray first = home.readStore();
    c->preferencesClick(nullptr);
    testAccess(*c).mPhotoFilename()->setText("Never stored");
    QTest::keyClick(&panel(), Qt::Key_Escape);
    EXPECT_FALSE(panel().isVisible());
    c->preferencesClick(nullptr);
    panel().close();
    EXPECT_TRUE(home.readStore() == first);
    EXPECT_EQ(testAccess(*c).mPhotoFilename()->text().toStdString(), "Never stored");
    c->preferencesClick(nullptr);
    testAccess(*c).mPhotoFilename()->setFocus();
    testAccess(*c).mPhotoFilename()->selectAll();
    QTest::keyClicks(testAccess(*c).mPhotoFilename(), "Typed");
    QTest::keyClick(testAccess(*c).mPhotoFilename(), Qt::Key_Return);
    EXPECT_FALSE(panel().isVisible());
    EXPECT_EQ(home.stored({"pic_filename"}), "Typed");
}

// The size popups of the panel list the entries of the size tables, in their order: the popup's
// index is what the settings store and the photo and movie sizes are read by.
TEST_F(Preferences, ThePanelListsTheSizeTablesInTheirOrder)
{
    start("");
    const auto named = [](QSize size) { return QString("%1 × %2").arg(size.width()).arg(size.height()); };
    const auto *photo = panel().findChild<QComboBox *>("mPhotoSize");
    ASSERT_TRUE(photo);
    ASSERT_EQ(photo->count(), int(quillora::kPhotoSizes.size()));
    for (int i = 0; i < photo->count(); ++i)
        EXPECT_EQ(photo->itemText(i), named(quillora::kPhotoSizes[size_t(i)].pixels));
    const auto *movie = panel().findChild<QComboBox *>("mVideoSize");
    ASSERT_TRUE(movie);
    ASSERT_EQ(movie->count(), int(quillora::kMovieSizes.size()));
    for (int i = 0; i < movie->count(); ++i) {
        const auto &entry = quillora::kMovieSizes[size_t(i)];
        const QString recordedAt
            = entry.recorded == entry.offered ? QString() : " (recorded at " + named(entry.recorded) + ")";
        EXPECT_EQ(movie->itemText(i), named(entry.offered) + recordedAt);
    }
}

// A hand-written file loads by the mapping into every control, and confirming saves recognised words back.
TEST_F(Preferences, AHandWrittenFileLoadsIntoEveryControlByTheMapping)
{
    home.writeStore(
        "[General]\nvid_size=720\nvid_captureaudio=No\nvid_path=/home/Ann Lee/Vid\xc3\xa9os/\nvid_filename=\n"
        "vid_overwrite=YES\npic_size=1536\npic_format=PNG\npic_path=file:///home/Ann%20Lee/Bilder/\n"
        "pic_filename=Scan\npic_overwrite=yes\n");
    start("");
    EXPECT_EQ(controls(), "1 | on | /home/Ann Lee/Vidéos/ |  | 1 | 4 | 0 | file:/home/Ann Lee/Bilder/ | Scan | 0");
    confirm();
    EXPECT_EQ(home.stored(),
        "480 | yes | /home/Ann Lee/Vidéos/ |  | no | 1536 | jpg | file:///home/Ann%20Lee/Bilder/ | Scan | yes");
}

// A save that fails (a full disk) is logged, keeps the previous file whole and leaves the panel
// working; the next possible save goes through.
TEST_F(Preferences, AFailedSaveIsLoggedAndKeepsThePreviousFile)
{
    start("");
    confirm();
    const QByteArray previous = home.readStore();
    c->preferencesClick(nullptr);
    testAccess(*c).mPhotoFilename()->setText(QString(20000, 'z'));
    {
        const test::FileSizeLimit full(8192);
        confirm();
    }
    EXPECT_EQ(log.count("quillora.prefs: settings not saved to " + home.storeFile()), 1);
    EXPECT_TRUE(home.readStore() == previous);
    EXPECT_EQ(
        QDir(home.configHome() + "/Quillora").entryList(QDir::Files | QDir::Hidden), QStringList{"quillora.conf"});
    c->preferencesClick(nullptr);
    EXPECT_TRUE(panel().isVisible());
    testAccess(*c).mPhotoFilename()->setText("Scan");
    confirm();
    EXPECT_EQ(home.stored({"pic_filename"}), "Scan");
}

// Loading starts the stream once, at the loaded size; a user's change of photo size, movie size or
// sound rebuilds it without recording, a change by code does not; while frozen it comes back live.
TEST_F(Preferences, OnlyAUsersChangeOfAStreamSettingRebuildsTheStream)
{
    home.writeStore("[General]\npic_size=1024\nvid_size=240\nvid_captureaudio=no\n");
    start("Desk Camera|UVC Camera VendorID_2316 ProductID_45937|0x01420000090cb371");
    auto session = testAccess(*c).mCaptureSession();
    ASSERT_TRUE(waitForFrameOfSize(1280, 1024));
    test::flushEvents();
    EXPECT_EQ(testAccess(*c).mCaptureSession(), session) << "loading started the stream twice";
    c->preferencesClick(nullptr);
    for (const auto &[control, key] : {std::pair<QWidget *, Qt::Key>{testAccess(*c).mPhotoSize(), Qt::Key_Up},
             {testAccess(*c).mVideoSize(), Qt::Key_Down}, {testAccess(*c).mVideoCaptureAudio(), Qt::Key_Space}}) {
        session = testAccess(*c).mCaptureSession();
        control->setFocus();
        QTest::keyClick(control, key);
        EXPECT_NE(testAccess(*c).mCaptureSession(), session) << control->objectName().toStdString();
    }
    EXPECT_EQ(controls().substr(0, 9), "1 | on | ");
    EXPECT_FALSE(testAccess(*c).recording());
    EXPECT_TRUE(waitForFrameOfSize(640, 480));
    session = testAccess(*c).mCaptureSession();
    testAccess(*c).mPhotoSize()->setCurrentIndex(0);
    testAccess(*c).mVideoCaptureAudio()->setCheckState(Qt::Unchecked);
    EXPECT_EQ(testAccess(*c).mCaptureSession(), session);
    EXPECT_EQ(home.stored({"pic_size"}), "1024");    // nothing stored until confirmed
    testAccess(*c).mCaptureSession()->stopRunning(); // frozen
    testAccess(*c).mPhotoSize()->setFocus();
    QTest::keyClick(testAccess(*c).mPhotoSize(), Qt::Key_Down); // 640 × 480 again
    ASSERT_TRUE(testAccess(*c).mCaptureSession() && testAccess(*c).mCaptureSession()->isRunning());
    EXPECT_TRUE(waitForFrameOfSize(640, 480));
    EXPECT_TRUE(waitForFrameOfSize(640, 480)); // frames keep coming
}

} // namespace
