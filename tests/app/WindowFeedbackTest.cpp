// SPDX-License-Identifier: GPL-3.0-or-later
// What the window tells the user, read as assistive tools read it (accessible names and
// descriptions): failures in plain words that clear themselves, whether a camera is
// connected, the recording indicator that counts and stops the movie, the freeze state, the
// icon and the About window's Close button, and the German texts.
#include "AppTest.h"
#include "CaptureDevice.h"
#include "MatrixControl.h"
#include "MovieFileOutput.h"
#include "PathControl.h"
#include "PictureControlsPanel.h"
#include "RecordingIndicator.h"
#include "WindowMessages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTranslator>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <thread>

using namespace quillora;
using namespace std::chrono_literals;
using app::VemoViewController;
using test::waitUntil;

namespace {

// The window read as assistive tools read it; the program's clock is moved by hand, so that
// what clears itself or counts is checked at the very moment it should change.
class WindowFeedback : public test::AppTest {
protected:
    void SetUp() override { clock.emplace(); }
    void start(const QByteArray &cameras = "Desk|Model X|cam-1")
    {
        AppTest::start(cameras);
        if (!cameras.isEmpty()) {
            ASSERT_TRUE(hasFrame());
        }
    }
    // The two messages, found by their accessible names as a screen reader finds them.
    QWidget *accessible(const QString &name) const
    {
        for (QWidget *w : def->mainWindow()->findChildren<QWidget *>())
            if (w->accessibleName() == name)
                return w;
        return nullptr;
    }
    QString status() const
    {
        QWidget *w = accessible(app::WindowMessages::statusAccessibleName());
        return w ? w->accessibleDescription() : QStringLiteral("<no status line>");
    }
    QString overPicture() const
    {
        QWidget *w = accessible(app::WindowMessages::persistentAccessibleName());
        return w && w->isVisible() ? w->accessibleDescription() : QString();
    }
    app::RecordingIndicator *indicator() const { return def->mainWindow()->findChild<app::RecordingIndicator *>(); }
};

// Installs the program's translators as for a user of `locale`; removes them again.
class Language {
public:
    explicit Language(const QString &locale)
    {
        QLocale::setDefault(QLocale(locale));
        app::installTranslators(qApp);
    }
    ~Language()
    {
        for (QTranslator *t : qApp->findChildren<QTranslator *>(Qt::FindDirectChildrenOnly)) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
        QLocale::setDefault(QLocale::c());
    }
};

QStringList menuTitles(QMainWindow *window)
{
    QStringList titles;
    for (QAction *a : window->menuBar()->actions())
        titles << a->text();
    return titles;
}

} // namespace

// Without a camera the empty picture says so (and stays so); with one nothing covers it.
TEST_F(WindowFeedback, NoCameraIsSaidOverThePicture)
{
    start("");
    EXPECT_EQ(overPicture(), QStringLiteral("No camera connected"));
    clock->advance(app::WindowMessages::kStatusTime * 2);
    EXPECT_EQ(overPicture(), QStringLiteral("No camera connected")) << "it is not a passing message";
    c->photoClick(nullptr);
    EXPECT_EQ(status(), QStringLiteral("No photo taken: there is no picture yet"));
    c->recordingClick(testAccess(*c).mRecordingButton());
    EXPECT_EQ(status(), QStringLiteral("Movie not started: no camera connected"));
    start();
    EXPECT_EQ(overPicture(), QString());
}

// A camera that fails while its session runs (here: one whose device node is gone) is said
// in the status line.
TEST_F(WindowFeedback, ACameraFailureIsSaid)
{
    start();
    capture::DeviceDescription gone;
    gone.kind = capture::DeviceKind::V4l2Camera;
    gone.displayName = QStringLiteral("Unplugged");
    gone.devicePath = QStringLiteral("/dev/video-does-not-exist");
    c->stopStream();
    testAccess(*c).setDevice(std::make_shared<capture::CaptureDevice>(gone));
    c->startStream();
    EXPECT_TRUE(waitUntil([&] { return status() == QStringLiteral("Camera error: no picture comes from the camera"); }))
        << status().toStdString();
    c->stopStream();
}

// A photo into a missing folder says why in the status line for six seconds, then the line
// clears itself; a written photo is announced by its name; a button photo (another thread)
// reaches the window too.
TEST_F(WindowFeedback, PhotoFailuresAndSuccessesAreSaidForSixSeconds)
{
    start();
    testAccess(*c).mPhotoPath()->setURL(QUrl::fromLocalFile(home.desktopFile(QStringLiteral("gone/"))));
    c->photoClick(nullptr);
    EXPECT_EQ(status(), QStringLiteral("Photo not saved: the folder does not exist"));
    EXPECT_TRUE(log.logged(QStringLiteral("quillora.output: photo not written:"))) << "the log line stays";
    clock->advance(app::WindowMessages::kStatusTime - 1ms);
    EXPECT_EQ(status(), QStringLiteral("Photo not saved: the folder does not exist")) << "cleared too early";
    clock->advance(1ms);
    EXPECT_EQ(status(), QString()) << "the message never cleared";

    testAccess(*c).mPhotoPath()->setURL(QUrl::fromLocalFile(home.desktopFile({})));
    std::thread button([this] { c->photoClick(nullptr); });
    EXPECT_TRUE(waitUntil([&] { return status() == QStringLiteral("Photo saved: Quillora.jpg"); }))
        << status().toStdString();
    button.join();
}

// The picture frozen or live shows on the Freeze button and menu item, whichever was used;
// without a session a click leaves it unchecked.
TEST_F(WindowFeedback, TheFreezeControlsShowWhetherThePictureIsFrozen)
{
    start();
    testAccess(*c).mFreezeButton()->click();
    EXPECT_TRUE(testAccess(*c).mFreezeButton()->isChecked());
    EXPECT_TRUE(testAccess(*c).mFreezeItem()->isChecked());
    testAccess(*c).mFreezeItem()->trigger();
    EXPECT_FALSE(testAccess(*c).mFreezeButton()->isChecked());
    EXPECT_FALSE(testAccess(*c).mFreezeItem()->isChecked());
    testAccess(*c).mFreezeButton()->click();
    c->deviceMenuClick(testAccess(*c).mDevicesMenu()->actions().at(0)); // a rebuild runs live again
    EXPECT_FALSE(testAccess(*c).mFreezeButton()->isChecked());
    start("");
    testAccess(*c).mFreezeButton()->click();
    EXPECT_FALSE(testAccess(*c).mFreezeButton()->isChecked());
}

// While recording, the indicator stands where the transparent recording button is, counts
// whole seconds of the program's clock, and a click on it stops the recording: the movie is
// written and announced. A movie into a missing folder is refused at once, and says why.
TEST_F(WindowFeedback, TheRecordingIndicatorCountsAndAClickStopsTheMovie)
{
    start();
    def->mainWindow()->show();
    app::RecordingIndicator *rec = indicator();
    ASSERT_NE(rec, nullptr);
    EXPECT_FALSE(rec->isVisible());
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(testAccess(*c).recording());
    EXPECT_TRUE(rec->isVisible());
    EXPECT_LE((rec->geometry().center() - testAccess(*c).mRecordingButton()->geometry().center()).manhattanLength(), 1);
    EXPECT_GE(rec->width(), testAccess(*c).mRecordingButton()->width());
    EXPECT_TRUE(rec->text().contains(QStringLiteral("0:00:00"))) << rec->text().toStdString();
    clock->advance(999ms);
    EXPECT_EQ(rec->accessibleDescription(), QStringLiteral("0:00:00"));
    clock->advance(1ms);
    EXPECT_EQ(rec->accessibleDescription(), QStringLiteral("0:00:01"));
    EXPECT_TRUE(rec->text().contains(QStringLiteral("0:00:01")));
    clock->advance(59min + 58s); // below the longest movie, which would end the recording
    EXPECT_EQ(rec->accessibleDescription(), QStringLiteral("0:59:59"));
    ASSERT_TRUE(waitUntil([&] {
        const auto &movie = testAccess(*c).mCaptureMovieFileOutput();
        return movie && movie->statistics().framesWritten > 0;
    }));
    rec->click();
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }));
    EXPECT_FALSE(rec->isVisible());
    EXPECT_EQ(status(), QStringLiteral("Movie saved: Quillora.mov"));
    EXPECT_TRUE(QFile::exists(home.desktopFile(QStringLiteral("Quillora.mov"))));

    testAccess(*c).mVideoPath()->setURL(QUrl::fromLocalFile(home.desktopFile(QStringLiteral("gone/"))));
    c->recordingClick(testAccess(*c).mRecordingButton());
    EXPECT_FALSE(testAccess(*c).recording());
    EXPECT_EQ(status(), QStringLiteral("Movie not started: the folder does not exist"));
    EXPECT_FALSE(rec->isVisible());
}

// The icon comes from the program's resources (with Qt's SVG plugin), in the window and the
// About window, which a Close button hides again.
TEST_F(WindowFeedback, TheIconLoadsAndTheAboutWindowCloses)
{
    const QIcon icon = app::applicationIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_FALSE(icon.pixmap(64, 64).isNull()) << "Qt's SVG plugin (libqt6svg6) is missing";
    start("");
    EXPECT_FALSE(def->mainWindow()->windowIcon().isNull());
    auto *iconLabel = def->aboutWindow()->findChild<QLabel *>(QStringLiteral("iconLabel"));
    ASSERT_NE(iconLabel, nullptr);
    EXPECT_FALSE(iconLabel->pixmap().isNull());
    c->aboutClick(nullptr);
    EXPECT_TRUE(def->aboutWindow()->isVisible());
    auto *buttons = def->aboutWindow()->findChild<QDialogButtonBox *>();
    ASSERT_NE(buttons, nullptr);
    ASSERT_NE(buttons->button(QDialogButtonBox::Close), nullptr);
    buttons->button(QDialogButtonBox::Close)->click();
    EXPECT_FALSE(def->aboutWindow()->isVisible());
    EXPECT_TRUE(def->mainWindow()->isVisible()) << "closing About must not close the main window";
}

// In German the menus, the recording item and the messages are German; in English and in a
// language without a translation every text is exactly as written.
TEST_F(WindowFeedback, TheTextsFollowTheUsersLanguage)
{
    {
        Language german(QStringLiteral("de_DE"));
        start("");
        EXPECT_EQ(menuTitles(def->mainWindow()),
            (QStringList{QStringLiteral("&Datei"), QStringLiteral("&Kamera"), QStringLiteral("A&nsicht"),
                QStringLiteral("&Aufnahme"), QStringLiteral("&Hilfe")}));
        EXPECT_EQ(testAccess(*c).mVideoMenu()->text(), QStringLiteral("Aufnahme starten"));
        EXPECT_EQ(def->mainWindow()->findChild<QAction *>(QStringLiteral("actionFullScreen"))->text(),
            QStringLiteral("Vollbild"));
        EXPECT_EQ(overPicture(), QStringLiteral("Keine Kamera angeschlossen"));
        auto *buttons = def->aboutWindow()->findChild<QDialogButtonBox *>();
        EXPECT_EQ(buttons->button(QDialogButtonBox::Close)->text(), QStringLiteral("Schließen"));
        c->pictureControlsClick(nullptr);
        EXPECT_EQ(testAccess(*c).mPictureControls()->notice(), QStringLiteral("Keine Kamera"));
        def.reset();
        // The driver's standard texts too: its groups, controls and menu entries.
        start();
        c->pictureControlsClick(nullptr);
        app::PictureControlsPanel *panel = testAccess(*c).mPictureControls();
        EXPECT_EQ(panel->windowTitle(), QStringLiteral("Bildeinstellungen: Desk"));
        QStringList groups;
        for (QGroupBox *box : panel->findChildren<QGroupBox *>())
            groups << box->title();
        EXPECT_EQ(
            groups, (QStringList{QStringLiteral("Allgemeine Einstellungen"), QStringLiteral("Kameraeinstellungen")}));
        EXPECT_EQ(panel->editorOf(0x00980900)->accessibleName(), QStringLiteral("Helligkeit"));
        EXPECT_EQ(qobject_cast<QComboBox *>(panel->editorOf(0x009a0901))->itemText(0), QStringLiteral("Manuell"));
        def.reset();
    }
    for (const char *locale : {"en_US", "fi_FI"}) {
        Language other(QString::fromLatin1(locale));
        start("");
        EXPECT_EQ(menuTitles(def->mainWindow()),
            (QStringList{QStringLiteral("&File"), QStringLiteral("C&amera"), QStringLiteral("&View"),
                QStringLiteral("&Capture"), QStringLiteral("&Help")}))
            << locale;
        EXPECT_EQ(testAccess(*c).mVideoMenu()->text(), QStringLiteral("Start Capture")) << locale;
        EXPECT_EQ(overPicture(), QStringLiteral("No camera connected")) << locale;
        def.reset();
    }
}

// The German translation is complete: no text is left unfinished or empty.
TEST(Translation, TheGermanTranslationIsComplete)
{
    QFile ts(QStringLiteral(QUILLORA_SOURCE_DIR "/src/app/translations/quillora_de.ts"));
    ASSERT_TRUE(ts.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&ts);
    int messages = 0;
    QStringList untranslated;
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
            ++messages;
        } else if (xml.name() == QLatin1String("translation")) {
            const bool unfinished = xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
            if (xml.readElementText().isEmpty() || unfinished)
                untranslated << source;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(messages, 50);
    EXPECT_EQ(untranslated, QStringList());
}
