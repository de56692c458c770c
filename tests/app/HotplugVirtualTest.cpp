// SPDX-License-Identifier: GPL-3.0-or-later
// Virtual cameras pulled out and put back while the application runs, through the capture layer's
// test hook (the same path as the kernel's events): the camera in use stops and comes back, a
// movie across the removal is finished and plays to its end, a camera plugged in with none at
// start is chosen as at start-up. Events settle on the program's clock, which the test moves.
#include "AppTest.h"
#include "CameraWatcher.h"
#include "CaptureView.h"
#include "FullScreen.h"
#include "InkTools.h"
#include "MovieFileOutput.h"
#include "MovieInspect.h"
#include "PathControl.h"
#include "PictureZoom.h"
#include "WindowMessages.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QTest>

using namespace quillora;
using namespace std::chrono_literals;
using test::waitUntil;

namespace {

const QByteArray k14096 = "UVC Camera VendorID_2316 ProductID_14096";

class VirtualHotplug : public test::AppTest {
protected:
    QStringList touched; // every camera pulled out is put back for the next test

    void SetUp() override
    {
        clock.emplace();
        withMicrophone();
    }
    void TearDown() override
    {
        AppTest::TearDown();
        for (const QString &id : touched)
            capture::setVirtualCameraAttached(id, true);
    }
    // The camera leaves or comes back; its event arrives and settles into one change.
    void attach(const QString &id, bool attached)
    {
        touched << id;
        capture::setVirtualCameraAttached(id, attached);
        test::flushEvents();
    }
    void settle() { clock->advance(capture::CameraWatcher::kSettleTime); }
};

// Pulled out: the picture stops (the source fails as v4l2src does and the session reports it),
// the window says so over the last picture once the events have settled, the menu lists what is
// left, the other camera is not taken, and photo, freeze and record do nothing but log. Put back:
// its picture resumes, marked.
TEST_F(VirtualHotplug, TheCameraInUseStopsWhenPulledOutAndResumesWhenPutBack)
{
    start("A|Generic|cam-a;B|Generic|cam-b");
    ASSERT_TRUE(pictureMoves());
    EXPECT_EQ(state(), "*A, B | A | live | ");

    attach("cam-a", false);
    EXPECT_TRUE(log.waitFor("quillora.capture: capture error: camera: Could not read from resource."));
    clock->advance(capture::CameraWatcher::kSettleTime - 1ms);
    EXPECT_FALSE(c->cameraDisconnected()) << "told before the events settled";
    clock->advance(1ms);
    ASSERT_TRUE(c->cameraDisconnected());
    EXPECT_EQ(state(), "B | no camera | - | Camera disconnected");
    EXPECT_TRUE(log.logged("quillora.capture: camera disconnected: A (cam-a)"));
    const quint64 shown = testAccess(*c).mCaptureView()->framesShown();
    test::flushEvents();
    EXPECT_EQ(testAccess(*c).mCaptureView()->framesShown(), shown) << "a frame came from a camera that is gone";

    testAccess(*c).mPhotoPath()->setURL(QUrl::fromLocalFile(home.path()));
    c->photoClick(nullptr);
    c->previewClick(nullptr);
    c->recordingClick(nullptr);
    EXPECT_TRUE(desktop.opened().isEmpty()) << "a photo of the last picture was taken";
    EXPECT_FALSE(testAccess(*c).recording());
    EXPECT_EQ(log.count("quillora.output: no photo: no picture from a camera"), 1);
    EXPECT_EQ(log.count("quillora.capture: freeze: no camera is running"), 1);
    EXPECT_EQ(log.count("quillora.output: movie not started: no camera is open"), 1);
    EXPECT_EQ(state(), "B | no camera | - | Camera disconnected");

    attach("cam-a", true);
    settle();
    EXPECT_EQ(state(), "*A, B | A | live | ");
    EXPECT_TRUE(pictureMoves());
    EXPECT_TRUE(log.logged("quillora.capture: camera back: A"));
}

// Pulled out while the picture is zoomed in full screen: the window says so over the last picture,
// which stays where it was; zooming out, panning and leaving full screen go on without a crash,
// and the camera put back brings its picture back at the zoom it had.
TEST_F(VirtualHotplug, ACameraPulledOutWhileZoomedInFullScreenIsSaidOverThePicture)
{
    start("A|Generic|cam-a");
    ASSERT_TRUE(pictureMoves());
    def->fullScreen()->enter();
    def->pictureZoom()->zoomAbout(4.0, QPointF(100, 80));
    ASSERT_TRUE(pictureMoves());
    const QRectF part = testAccess(*c).mCaptureView()->lastShownRegion();
    ASSERT_LT(part.width(), 640);

    attach("cam-a", false);
    EXPECT_TRUE(log.waitFor("quillora.capture: capture error: camera: Could not read from resource."));
    settle();
    ASSERT_TRUE(c->cameraDisconnected());
    EXPECT_EQ(testAccess(*c).mMessages()->persistentMessage(), QStringLiteral("Camera disconnected"));
    EXPECT_TRUE(def->fullScreen()->isActive());
    EXPECT_EQ(testAccess(*c).mCaptureView()->lastShownRegion(), part) << "the last picture stays";
    for (int i = 0; i < 3; ++i)
        def->pictureZoom()->zoomOut();
    def->pictureZoom()->pan(Qt::RightArrow);
    const QImage shown = testAccess(*c).mCaptureView()->grab().toImage();
    EXPECT_FALSE(shown.isNull());
    def->fullScreen()->leave();
    const capture::ViewZoom kept = def->pictureZoom()->zoom();

    attach("cam-a", true);
    settle();
    ASSERT_NE(testAccess(*c).device(), nullptr);
    ASSERT_TRUE(pictureMoves());
    EXPECT_EQ(testAccess(*c).mMessages()->persistentMessage(), QString());
    EXPECT_EQ(def->pictureZoom()->zoom(), kept);
}

// Ink while the camera is pulled out: drawing goes on over the last picture, an annotated photo
// is not taken of it (as Take Photo is not), and the same camera put back keeps the page's ink.
TEST_F(VirtualHotplug, InkGoesOnOverTheLastPictureAndStaysWhenTheCameraComesBack)
{
    start("A|Generic|cam-a");
    ASSERT_TRUE(pictureMoves());
    app::InkTools *ink = def->inkTools();
    ink->inkAction()->trigger();
    auto stroke = [&](int y) {
        QTest::mousePress(ink->overlay(), Qt::LeftButton, {}, QPoint(100, y));
        QTest::mouseMove(ink->overlay(), QPoint(200, y + 10));
        QTest::mouseRelease(ink->overlay(), Qt::LeftButton, {}, QPoint(300, y));
    };
    stroke(100);
    attach("cam-a", false);
    EXPECT_TRUE(log.waitFor("quillora.capture: capture error: camera: Could not read from resource."));
    settle();
    ASSERT_TRUE(c->cameraDisconnected());
    stroke(200);
    ASSERT_EQ(ink->page()->strokes().size(), 2u);
    testAccess(*c).mPhotoPath()->setURL(QUrl::fromLocalFile(home.path()));
    c->annotatedPhotoClick(nullptr);
    EXPECT_TRUE(desktop.opened().isEmpty()) << "a photo of the last picture was taken";
    EXPECT_EQ(log.count("quillora.output: no photo: no picture from a camera"), 1);

    attach("cam-a", true);
    settle();
    ASSERT_NE(testAccess(*c).device(), nullptr);
    EXPECT_TRUE(pictureMoves());
    EXPECT_EQ(ink->page()->strokes().size(), 2u) << "the same camera, the same page";
    c->annotatedPhotoClick(nullptr);
    EXPECT_EQ(desktop.opened().size(), 1);
}

// A movie being recorded when its camera is pulled out is finished, opened as a finished movie
// is, and decodes to its end with its sound.
TEST_F(VirtualHotplug, ARecordingAcrossARemovalIsAPlayableMovie)
{
    start("Q|" + k14096 + "|0x01420000090c3710");
    ASSERT_TRUE(pictureMoves());
    ASSERT_TRUE(recordPictures(15));
    attach("0x01420000090c3710", false);
    settle();
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording() && c->cameraDisconnected(); }));
    const QString path = home.desktopFile(QStringLiteral("Quillora.mov"));
    EXPECT_EQ(desktop.opened(), QStringList{path});
    EXPECT_EQ(test::playProblem(path, 10), QString());
    EXPECT_EQ(state(), " | no camera | - | Camera disconnected");
    EXPECT_EQ(testAccess(*c).mVideoMenu()->text(), QStringLiteral("Start Capture"));
}

// With no camera at start, cameras plugged in are chosen as at start-up (the known model over the
// other, its USB interface looked up) as soon as their events have settled; a camera plugged in
// while one is in use is only listed; the one left when the chosen goes is not switched to.
TEST_F(VirtualHotplug, CamerasPluggedInLaterAreChosenAsAtStartUp)
{
    for (const char *id : {"cam-w", "0x01420000090c3710", "cam-o"})
        attach(id, false);
    start("Web|Generic|cam-w;Q|" + k14096 + "|0x01420000090c3710;Other|Generic|cam-o");
    EXPECT_EQ(state(), " | no camera | - | No camera connected");

    attach("cam-w", true);
    attach("0x01420000090c3710", true);
    settle();
    EXPECT_EQ(state(), "Web, *Q | Q | live | ");
    ASSERT_TRUE(pictureMoves());
    EXPECT_TRUE(log.logged("quillora.capture: USB location 0x01420000"));

    attach("cam-o", true);
    settle();
    EXPECT_EQ(state(), "Web, *Q, Other | Q | live | ");

    attach("0x01420000090c3710", false);
    settle();
    EXPECT_EQ(state(), "Web, Other | no camera | - | Camera disconnected");
    testAccess(*c).mDevicesMenu()->actions().at(1)->trigger(); // the user takes Other
    EXPECT_EQ(state(), "Web, *Other | Other | live | ");
}

} // namespace
