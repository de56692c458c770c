// SPDX-License-Identifier: GPL-3.0-or-later
// At the projector, through a real window definition driven as a user drives it (its shortcuts,
// the wheel, a pinch, drags and double clicks): full screen that shows only the picture and gives
// the window back, zoom and pan of the live picture and of the frozen one, the mirror in the view
// and in photos, and the faults a classroom brings (a wheel flood, a tiny window, a picture of
// another shape while zoomed, a place on a screen that is gone).
#include "AppTest.h"
#include "CameraMode.h"
#include "CaptureView.h"
#include "FullScreen.h"
#include "ImageView.h"
#include "MatrixControl.h"
#include "MovieInspect.h"
#include "PathControl.h"
#include "PhotoCapture.h"
#include "PictureChecks.h"
#include "PictureZoom.h"
#include "RecordingIndicator.h"
#include "TestPage.h"
#include "VirtualCamera.h"
#include "WindowMessages.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>

using namespace quillora;
using namespace std::chrono_literals;
using app::VemoViewController;
using test::waitUntil;

namespace {

class Projector : public test::AppTest {
protected:
    // The application with one virtual camera (a document camera's modes, or `modes` alone), at
    // the photo size of `sizeIndex` (4: 2048 x 1536, which the camera sends as JPEG frames), the
    // window shown and active.
    void start(int sizeIndex = 1, const std::vector<capture::CameraMode> &modes = {})
    {
        QByteArray cameras = "Desk|Model X|cam-1";
        if (!modes.empty()) {
            QFile listing(home.path() + QStringLiteral("/modes.txt"));
            ASSERT_TRUE(listing.open(QIODevice::WriteOnly));
            listing.write(capture::formatModeListing(modes).toUtf8());
            cameras += "|" + listing.fileName().toUtf8();
        }
        AppTest::start(cameras);
        window = def->mainWindow();
        zoom = def->pictureZoom();
        full = def->fullScreen();
        if (sizeIndex != testAccess(*c).mPhotoSize()->currentIndex()) {
            testAccess(*c).mPhotoSize()->setCurrentIndex(sizeIndex);
            c->preferencesChange(testAccess(*c).mPhotoSize());
        }
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        ASSERT_TRUE(waitUntil([&] { return bool(c->currentFrame()) && live()->framesShown() >= 2; }));
    }
    QAction *action(const char *name) const { return window->findChild<QAction *>(QString::fromLatin1(name)); }
    capture::CaptureView *live() const { return testAccess(*c).mCaptureView(); }
    app::ImageView *still() const { return testAccess(*c).mPreviewImage(); }
    QStackedWidget *stack() const { return window->findChild<QStackedWidget *>(QStringLiteral("pictureStack")); }
    QList<QWidget *> buttons() const
    {
        QList<QWidget *> all;
        for (const char *name : {"photoButton", "mRecordingButton", "freezeButton", "rotateButton", "focusButton"})
            all << window->findChild<QWidget *>(QString::fromLatin1(name));
        return all;
    }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(window, Qt::Key(key), modifiers);
    }
    // Waits until the live view shows pictures made for its zoom as it is now.
    bool liveShowsNewPictures()
    {
        const quint64 shown = live()->framesShown();
        return waitUntil([&] { return live()->framesShown() >= shown + 3; });
    }

    QMainWindow *window = nullptr;
    app::PictureZoom *zoom = nullptr;
    app::FullScreen *full = nullptr;
};

// A countdown the test runs out itself: how long it was started for, and whether it runs.
struct ManualCountdown : app::Countdown {
    void start(int milliseconds) override
    {
        startedFor = milliseconds;
        running = true;
    }
    void stop() override { running = false; }
    void runOutNow()
    {
        running = false;
        runOut();
    }
    int startedFor = 0;
    bool running = false;
};

std::unique_ptr<QWheelEvent> ctrlWheel(QPointF at, int angle)
{
    return std::make_unique<QWheelEvent>(
        at, at, QPoint(), QPoint(0, angle), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
}

// Whether the black marker and the plain paper stand where `rotation` quarter turns and the mirror
// put them in `image`, a picture of a `size` page.
bool cornersAre(const QImage &image, QSize size, int rotation, bool mirrored)
{
    return image.size() == (rotation % 2 ? size.transposed() : size)
        && test::mirroredPageShown(image, rotation, mirrored) == 0;
}

// What the live view shows, for a failure's message.
std::string describe(const capture::CaptureView *view)
{
    const QImage shown = view->lastShownImage();
    return QStringLiteral("view %1x%2, picture %3x%4, %5 frames shown, page %6 (unturned %7)")
        .arg(view->width())
        .arg(view->height())
        .arg(shown.width())
        .arg(shown.height())
        .arg(view->framesShown())
        .arg(test::mirroredPageShown(shown, 1, true))
        .arg(test::pageShown(shown))
        .toStdString();
}

} // namespace

// F11 shows only the picture, filling the screen; the status line's messages and the recording
// indicator come over the picture, the pointer hides after a moment still and comes back when it
// moves. Escape gives the window its place and size back exactly; Escape outside full screen and
// in the preferences panel does what it did; a double click on the picture goes in and out.
TEST_F(Projector, FullScreenShowsOnlyThePictureAndGivesTheWindowBack)
{
    start();
    window->setGeometry(QRect(40, 50, 640, 520));
    ASSERT_TRUE(waitUntil([&] { return window->geometry() == QRect(40, 50, 640, 520); }));
    const QRect before = window->geometry();

    key(Qt::Key_F11);
    ASSERT_TRUE(full->isActive());
    EXPECT_TRUE(window->isFullScreen());
    EXPECT_TRUE(action("actionFullScreen")->isChecked());
    ASSERT_TRUE(waitUntil([&] { return window->geometry() == window->screen()->geometry(); }));
    EXPECT_FALSE(window->menuBar()->isVisible());
    EXPECT_FALSE(window->statusBar()->isVisible());
    for (QWidget *button : buttons())
        EXPECT_FALSE(button->isVisible()) << button->objectName().toStdString();
    ASSERT_TRUE(waitUntil([&] { return stack()->size() == window->size(); }));

    c->showStatusMessage(QStringLiteral("Photo saved: Quillora.jpg"));
    EXPECT_EQ(testAccess(*c).mMessages()->statusOverPictureText(), QStringLiteral("Photo saved: Quillora.jpg"));
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(testAccess(*c).recording());
    app::RecordingIndicator *indicator = testAccess(*c).mRecordingIndicator();
    EXPECT_TRUE(indicator->isVisible());
    EXPECT_TRUE(stack()->geometry().contains(indicator->geometry()));
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }, 15s));
    EXPECT_TRUE(full->isActive()) << "the rebuilds of a recording keep full screen";

    auto pointerCountdown = std::make_unique<ManualCountdown>();
    ManualCountdown *pointer = pointerCountdown.get();
    full->setPointerCountdown(std::move(pointerCountdown));
    QTest::mouseMove(live(), QPoint(100, 100));
    EXPECT_TRUE(pointer->running);
    EXPECT_EQ(pointer->startedFor, 2000);
    EXPECT_FALSE(full->pointerHidden());
    pointer->runOutNow(); // two seconds without a movement
    EXPECT_TRUE(full->pointerHidden());
    EXPECT_EQ(stack()->cursor().shape(), Qt::BlankCursor);
    QTest::mouseMove(live(), QPoint(120, 110));
    EXPECT_FALSE(full->pointerHidden());
    EXPECT_NE(stack()->cursor().shape(), Qt::BlankCursor);
    EXPECT_TRUE(pointer->running) << "a movement starts the two seconds again";

    // The preferences panel's Escape closes the panel, not full screen.
    c->preferencesClick(nullptr);
    ASSERT_TRUE(testAccess(*c).mPreferences()->isVisible());
    testAccess(*c).mPreferences()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(testAccess(*c).mPreferences()));
    QTest::keyClick(testAccess(*c).mPreferences(), Qt::Key_Escape);
    EXPECT_FALSE(testAccess(*c).mPreferences()->isVisible());
    EXPECT_TRUE(full->isActive());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    key(Qt::Key_Escape);
    EXPECT_FALSE(full->isActive());
    EXPECT_FALSE(window->isFullScreen());
    ASSERT_TRUE(waitUntil([&] { return window->geometry() == before; }))
        << window->geometry().x() << "," << window->geometry().y() << " " << window->width() << "x" << window->height();
    EXPECT_TRUE(window->menuBar()->isVisible());
    EXPECT_TRUE(window->statusBar()->isVisible());
    for (QWidget *button : buttons())
        EXPECT_TRUE(button->isVisible()) << button->objectName().toStdString();
    EXPECT_EQ(testAccess(*c).mMessages()->statusOverPictureText(), QString());
    EXPECT_FALSE(full->pointerHidden());
    EXPECT_FALSE(pointer->running) << "the pointer would hide outside full screen";
    key(Qt::Key_Escape);
    EXPECT_EQ(window->geometry(), before) << "Escape outside full screen changes nothing";

    QTest::mouseDClick(live(), Qt::LeftButton, {}, QPoint(200, 150));
    EXPECT_TRUE(full->isActive());
    QTest::mouseDClick(live(), Qt::LeftButton, {}, QPoint(200, 150));
    EXPECT_FALSE(full->isActive());
    ASSERT_TRUE(waitUntil([&] { return window->geometry() == before; }));
}

// In full screen, with the menu bar hidden, every shortcut does what it does in the window; F11
// and the desktop's own full-screen key (where it has one nothing else uses) toggle it.
TEST_F(Projector, EveryShortcutWorksInFullScreen)
{
    start();
    const QList<QKeySequence> fullKeys = action("actionFullScreen")->shortcuts();
    EXPECT_TRUE(fullKeys.contains(QKeySequence(Qt::Key_F11)));
    for (QAction *other : window->findChildren<QAction *>()) {
        if (other == action("actionFullScreen"))
            continue;
        for (const QKeySequence &k : fullKeys)
            EXPECT_FALSE(other->shortcuts().contains(k)) << other->objectName().toStdString();
    }

    key(Qt::Key_F11);
    ASSERT_TRUE(full->isActive());
    key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(testAccess(*c).rotation(), 1);
    key(Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(testAccess(*c).mirror());
    EXPECT_TRUE(action("actionMirror")->isChecked());
    key(Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_NEAR(zoom->zoom().factor, std::exp2(1.0 / 3), 1e-9);
    key(Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_NEAR(zoom->zoom().factor, std::exp2(2.0 / 3), 1e-9);
    key(Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_NEAR(zoom->zoom().factor, std::exp2(1.0 / 3), 1e-9);
    key(Qt::Key_0, Qt::ControlModifier);
    EXPECT_FALSE(zoom->isZoomed());
    key(Qt::Key_F, Qt::ControlModifier);
    EXPECT_FALSE(testAccess(*c).mCaptureSession()->isRunning());
    key(Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(testAccess(*c).mCaptureSession()->isRunning());
    key(Qt::Key_F11);
    EXPECT_FALSE(full->isActive());
}

// The View menu's steps: about 1.25 times each, through 200 %, 400 % and 800 %, the factor shown
// over the picture for a moment; past 8 times and below fit a step is ignored. The arrow keys pan
// only while zoomed.
TEST_F(Projector, ZoomStepsShowTheFactorAndStopAtTheLimits)
{
    start();
    QAction *in = action("actionZoomIn");
    QAction *out = action("actionZoomOut");
    QAction *right = window->findChild<QAction *>(QStringLiteral("pan1"));
    ASSERT_TRUE(in && out && right);
    EXPECT_FALSE(right->isEnabled());
    auto factorCountdown = std::make_unique<ManualCountdown>();
    ManualCountdown *fade = factorCountdown.get();
    zoom->setFactorCountdown(std::move(factorCountdown));
    QSignalSpy changes(zoom, &app::PictureZoom::zoomChanged);
    const QStringList shown{QStringLiteral("126 %"), QStringLiteral("159 %"), QStringLiteral("200 %"),
        QStringLiteral("252 %"), QStringLiteral("317 %"), QStringLiteral("400 %"), QStringLiteral("504 %"),
        QStringLiteral("635 %"), QStringLiteral("800 %")};
    for (const QString &factor : shown) {
        in->trigger();
        EXPECT_EQ(zoom->shownFactor(), factor);
    }
    EXPECT_EQ(zoom->zoom().factor, capture::ViewTransform::kMaxZoom);
    EXPECT_TRUE(right->isEnabled());
    const capture::ViewZoom most = zoom->zoom();
    EXPECT_EQ(changes.count(), shown.size());
    in->trigger();
    EXPECT_EQ(zoom->zoom(), most) << "a step past 8 times is ignored";
    EXPECT_EQ(changes.count(), shown.size());
    EXPECT_EQ(live()->zoom(), still()->zoom());
    EXPECT_TRUE(fade->running);
    EXPECT_EQ(fade->startedFor, 1000);
    fade->runOutNow(); // a second later
    EXPECT_TRUE(zoom->shownFactor().isEmpty()) << "the factor stays";
    for (int i = 0; i < 9; ++i)
        out->trigger();
    EXPECT_EQ(zoom->zoom(), capture::ViewZoom{});
    EXPECT_EQ(zoom->shownFactor(), QStringLiteral("100 %"));
    out->trigger();
    EXPECT_EQ(zoom->zoom(), capture::ViewZoom{});
    EXPECT_FALSE(right->isEnabled());
}

// Ctrl+wheel and a pinch zoom about the point under the pointer: that point of the page stays
// under it. A drag moves the page with the pointer, the arrow keys show what lies their way, and
// the page never leaves the view; each turn and the mirror move it the way it is shown.
TEST_F(Projector, WheelPinchDragAndArrowsMoveThePageTheWayItIsShown)
{
    start();
    for (int turn = 0; turn < 4; ++turn) {
        for (const bool mirrored : {false, true}) {
            SCOPED_TRACE(testing::Message() << turn << " turns" << (mirrored ? ", mirrored" : ""));
            if (testAccess(*c).mirror() != mirrored)
                c->mirrorClick(nullptr);
            zoom->fit();
            ASSERT_TRUE(waitUntil([&] {
                return live()->viewTransform().orientation() == capture::PictureOrientation{turn, mirrored};
            }));
            const QPointF pointer(live()->width() * 0.6, live()->height() * 0.4);
            // From twice fit on, where the page is wider and higher than the view whichever way
            // it is turned (below that it stands in the middle along its shorter side).
            zoom->zoomAbout(2.0, pointer);
            const QPointF under = live()->viewTransform().toFrame(pointer);
            for (const int notches : {1, 1, -1}) {
                QApplication::sendEvent(live(), ctrlWheel(pointer, 120 * notches).get());
                const QPointF now = live()->viewTransform().toFrame(pointer);
                EXPECT_NEAR(now.x(), under.x(), 1e-6);
                EXPECT_NEAR(now.y(), under.y(), 1e-6);
            }
            EXPECT_NEAR(zoom->zoom().factor, 2.0 * std::exp2(1.0 / 3), 1e-9);
            QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, pointer,
                pointer, pointer, 0.5, QPointF());
            QApplication::sendEvent(live(), &pinch);
            EXPECT_NEAR(zoom->zoom().factor, 2.0 * std::exp2(1.0 / 3) * 1.5, 1e-9);
            const QPointF pinched = live()->viewTransform().toFrame(pointer);
            EXPECT_NEAR(pinched.x(), under.x(), 1e-6);
            EXPECT_NEAR(pinched.y(), under.y(), 1e-6);

            // Dragged: the page's point under the pointer goes along with it.
            const QPoint from(300, 250), to(260, 220);
            const QPointF grabbed = live()->viewTransform().toFrame(from);
            QTest::mousePress(live(), Qt::LeftButton, {}, from);
            QTest::mouseMove(live(), to);
            QTest::mouseRelease(live(), Qt::LeftButton, {}, to);
            const QPointF dropped = live()->viewTransform().toFrame(to);
            EXPECT_NEAR(dropped.x(), grabbed.x(), 1e-6);
            EXPECT_NEAR(dropped.y(), grabbed.y(), 1e-6);

            // Right shows more of what is right on screen, until the page's right edge is there.
            const double before = live()->viewTransform().pictureRect().left();
            key(Qt::Key_Right);
            EXPECT_LT(live()->viewTransform().pictureRect().left(), before);
            for (int i = 0; i < 60; ++i)
                key(Qt::Key_Right);
            for (int i = 0; i < 60; ++i)
                key(Qt::Key_Up);
            const QRectF page = live()->viewTransform().pictureRect();
            EXPECT_NEAR(page.right(), live()->width(), 1e-6);
            EXPECT_NEAR(page.top(), 0, 1e-6);
        }
        c->rotateClick(nullptr);
    }
}

// Hundreds of wheel events at once leave the window answering: each is taken in turn, the picture
// then shows the zoom they end at, and the camera's session was never rebuilt.
TEST_F(Projector, AWheelFloodStaysResponsive)
{
    start();
    const auto mode = testAccess(*c).mCaptureSession()->cameraMode();
    const auto session = testAccess(*c).mCaptureSession();
    const int modeLines = log.count(QStringLiteral("quillora.capture: camera mode:"));
    QRandomGenerator random(22);
    for (int i = 0; i < 600; ++i) {
        const QPointF at(random.bounded(live()->width()), random.bounded(live()->height()));
        QApplication::postEvent(live(), ctrlWheel(at, random.bounded(2) ? 120 : -90).release());
    }
    bool answered = false;
    QMetaObject::invokeMethod(
        qApp, [&] { answered = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(waitUntil([&] { return answered; }));
    EXPECT_GE(zoom->zoom().factor, 1.0);
    EXPECT_LE(zoom->zoom().factor, capture::ViewTransform::kMaxZoom);
    zoom->zoomAbout(3.0, QPointF(live()->width() / 2.0, live()->height() / 2.0));
    ASSERT_TRUE(liveShowsNewPictures());
    EXPECT_TRUE(live()->lastShownRegion().contains(live()->viewTransform().visibleFrameRect().adjusted(1, 1, -1, -1)));
    EXPECT_EQ(testAccess(*c).mCaptureSession(), session);
    EXPECT_EQ(session->cameraMode(), mode);
    EXPECT_EQ(log.count(QStringLiteral("quillora.capture: camera mode:")), modeLines) << "rebuilt while zooming";
}

// Frozen, the still is the camera's whole frame: zoomed 4 times into the page's fine detail it is
// sharp, the arrows pan it to its edge, and the live picture comes back at the same zoom.
TEST_F(Projector, AFrozenPictureZoomsIntoItsOwnDetailAndPans)
{
    start(4);
    c->previewClick(nullptr);
    ASSERT_EQ(stack()->currentWidget(), still());
    ASSERT_EQ(still()->image().size(), QSize(2048, 1536));
    const capture::VirtualFineDetail fine = capture::virtualPageFineDetail({2048, 1536});
    const QPointF line(fine.centre.x() + 0.5, fine.centre.y() - fine.patch.height() / 4);
    zoom->zoomAbout(4.0, still()->viewTransform().toView(line));
    const QImage zoomed = still()->grab().toImage();
    const QPointF at = still()->viewTransform().toView(line);
    double darkness = 0;
    std::string profile;
    EXPECT_LE(test::edgeSpan(zoomed, int(at.y()), int(at.x()) - 12, int(at.x()) + 12, &darkness, &profile), 2)
        << profile;
    EXPECT_GT(darkness, 0.6) << profile;

    for (int i = 0; i < 60; ++i)
        key(Qt::Key_Left);
    EXPECT_NEAR(still()->viewTransform().pictureRect().left(), 0, 1e-6);
    const capture::ViewZoom frozen = still()->zoom();
    c->previewClick(nullptr);
    EXPECT_EQ(stack()->currentWidget(), live());
    EXPECT_EQ(live()->zoom(), frozen);
    ASSERT_TRUE(liveShowsNewPictures());
    EXPECT_LT(live()->lastShownRegion().width(), 2048);
}

// While a movie is recorded from a camera that sends only large JPEG frames, one decode of each
// serves the movie and the view: zoomed in, that decode covers the part's detail, so the view
// still shows it sharp; zoomed out it goes back to the view's size. The movie keeps the whole
// frame at its own size and plays.
TEST_F(Projector, WhileRecordingAZoomedViewStillShowsTheCamerasOwnDetail)
{
    start(4, {capture::CameraMode{QStringLiteral("MJPG"), QSize(2048, 1536), {}, {}, {{30, 1}}, {}, {}}});
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(testAccess(*c).recording());
    ASSERT_TRUE(liveShowsNewPictures());
    const QSize fitted = live()->viewTransform().frameSize();
    EXPECT_LT(fitted.width(), 2048) << "the shared decode is at the view's scale";
    const capture::VirtualFineDetail fine = capture::virtualPageFineDetail({2048, 1536});
    const QPointF line(fine.centre.x() + 0.5, fine.centre.y() - fine.patch.height() / 4);
    const QPointF scale(double(fitted.width()) / 2048, double(fitted.height()) / 1536);
    zoom->zoomAbout(4.0, live()->viewTransform().toView({line.x() * scale.x(), line.y() * scale.y()}));
    ASSERT_TRUE(waitUntil([&] { return live()->viewTransform().frameSize() == QSize(2048, 1536); }));
    ASSERT_TRUE(liveShowsNewPictures());
    const QImage zoomed = live()->grab().toImage();
    const QPointF at = live()->viewTransform().toView(line);
    double darkness = 0;
    std::string profile;
    EXPECT_LE(test::edgeSpan(zoomed, int(at.y()), int(at.x()) - 12, int(at.x()) + 12, &darkness, &profile), 2)
        << profile;
    EXPECT_GT(darkness, 0.6) << profile;
    zoom->fit();
    ASSERT_TRUE(waitUntil([&] { return live()->viewTransform().frameSize() == fitted; }));

    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }, 15s));
    const QString movie = home.desktopFile(QStringLiteral("Quillora.mov"));
    EXPECT_EQ(test::playProblem(movie, 5, false), QString());
    EXPECT_EQ(test::discoverMovie(movie).pictureSize, QSize(640, 480));
    EXPECT_EQ(test::pageShown(test::firstPicture(movie), 0), 0);
}

// The mirror shows in the live picture after each turn (a half turn and the mirror turn the page
// upside down) and in the photo; it is off again, like the turn, once a recording starts, and it
// is not stored.
TEST_F(Projector, TheMirrorShowsInTheViewAndPhotosAndEndsWithARecording)
{
    start();
    testAccess(*c).mPhotoPath()->setURL(QUrl::fromLocalFile(home.desktopFile({})));
    testAccess(*c).mOverwrite()->selectCellAtRow(0);
    const QImage page = test::documentPage({64, 48});
    c->mirrorClick(nullptr);
    EXPECT_TRUE(action("actionMirror")->isChecked());
    for (int turn = 0; turn < 4; ++turn) {
        SCOPED_TRACE(turn);
        const QImage shown = c->viewWillDisplayImage(live(), page);
        EXPECT_EQ(test::mirroredPageShown(shown, turn, true), 0);
        EXPECT_EQ(c->viewOrientation(live()), (capture::PictureOrientation{turn, true}));
        if (turn == 2) {
            EXPECT_EQ(shown, page.mirrored(false, true)) << "upside down";
        }
        c->rotateClick(nullptr);
    }
    c->rotateClick(nullptr);
    // Turned a quarter, the frame stands upright, and the session fits it into the view turned
    // the same way: the first pictures after the turn, made for the view as it was, are turned
    // but taller than the view.
    ASSERT_TRUE(waitUntil([&] {
        const QImage shown = live()->lastShownImage();
        return shown.width() < shown.height() && shown.height() <= live()->height()
            && test::mirroredPageShown(shown, 1, true) == 0;
    })) << "the live picture is not shown turned and mirrored: "
        << describe(live());
    c->photoClick(nullptr);
    const QImage photo(home.desktopFile(QStringLiteral("Quillora.jpg")));
    ASSERT_EQ(photo.size(), QSize(480, 640));
    EXPECT_EQ(test::mirroredPageShown(photo.convertToFormat(QImage::Format_RGB32), 1, true), 0);

    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(testAccess(*c).recording());
    EXPECT_FALSE(testAccess(*c).mirror());
    EXPECT_FALSE(action("actionMirror")->isChecked());
    EXPECT_EQ(testAccess(*c).rotation(), 0);
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }, 15s));
    c->preferencesDone(nullptr); // the settings are written: the mirror is not among them
    QFile stored(home.storeFile());
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_FALSE(stored.readAll().toLower().contains("mirror"));

    // At the camera's JPEG size the photo is the camera's own frame, turned and mirrored in one
    // lossless step: three quarter turns and the mirror.
    testAccess(*c).mPhotoSize()->setCurrentIndex(4);
    c->preferencesChange(testAccess(*c).mPhotoSize());
    c->mirrorClick(nullptr);
    for (int turn = 0; turn < 3; ++turn)
        c->rotateClick(nullptr);
    ASSERT_TRUE(waitUntil([&] {
        const QImage shown = live()->lastShownImage();
        return c->currentFrame().width() == 2048 && cornersAre(shown, shown.size().transposed(), 3, true);
    })) << "the camera's JPEG frames are not shown turned and mirrored";
    c->photoClick(nullptr);
    const QImage ownPhoto(home.desktopFile(QStringLiteral("Quillora.jpg")));
    ASSERT_EQ(ownPhoto.size(), QSize(1536, 2048));
    EXPECT_EQ(test::mirroredPageShown(ownPhoto.convertToFormat(QImage::Format_RGB32), 3, true), 0);
}

// A window squeezed smaller than the picture's least, a camera mode of another shape while zoomed
// (the picture comes back at fit), and a place on a screen that has gone (the window comes back
// onto a screen that is there, not off it) leave a picture and no crash.
TEST_F(Projector, ATinyWindowAnotherShapeAndAGoneScreenLeaveAPicture)
{
    start();
    zoom->zoomAbout(4.0, QPointF(10, 10));
    window->resize(60, 40);
    ASSERT_TRUE(liveShowsNewPictures());
    EXPECT_TRUE(live()->viewTransform().isValid());
    window->resize(800, 680);

    zoom->zoomAbout(2.0, QPointF(100, 100));
    testAccess(*c).mPhotoSize()->setCurrentIndex(2); // 1280 x 1024: five to four
    c->preferencesChange(testAccess(*c).mPhotoSize());
    ASSERT_TRUE(waitUntil([&] { return live()->viewTransform().frameSize() == QSize(1280, 1024); }));
    EXPECT_FALSE(zoom->isZoomed());
    EXPECT_EQ(still()->zoom(), capture::ViewZoom{});
    ASSERT_TRUE(liveShowsNewPictures());

    // Moved to where a projector's screen was, then full screen and back: it lands on a screen.
    const QRect screen = window->screen()->availableGeometry();
    window->setGeometry(QRect(screen.right() + 2000, screen.top() + 100, 640, 520));
    full->enter();
    ASSERT_TRUE(waitUntil([&] { return window->geometry() == window->screen()->geometry(); }));
    full->leave();
    ASSERT_TRUE(waitUntil([&] { return screen.intersects(window->geometry()); }));
    EXPECT_EQ(window->size(), QSize(640, 520));
    EXPECT_EQ(app::placeOnScreens(QRect(10, 10, 300, 200), nullptr), QRect(10, 10, 300, 200));
    EXPECT_TRUE(screen.contains(app::placeOnScreens(QRect(-9000, 0, 300, 200), nullptr)));
}
