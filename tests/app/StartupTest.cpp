// SPDX-License-Identifier: GPL-3.0-or-later
// The application as a whole, offscreen with virtual cameras: start-up with no, one and two
// cameras, the camera chosen and marked in the camera menu, the shortcuts, and quitting by
// closing the window.
#include "AppTest.h"
#include "WindowMessages.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QTimer>

#include <algorithm>

using namespace quillora;
using test::ScopedEnv;

namespace {

using Startup = test::AppTest;

const QByteArray k45937 = "UVC Camera VendorID_2316 ProductID_45937", k890 = "UVC Camera VendorID_2316 ProductID_890";

TEST_F(Startup, ClosingTheWindowWithoutACameraQuitsWithoutBuildingASession)
{
    start("");
    EXPECT_EQ(state(), " | no camera | - | No camera connected");
    const auto items = testAccess(*c).mDevicesMenu()->actions();
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](QAction *a) { return a->isCheckable(); }), 10);
    EXPECT_FALSE(testAccess(*c).quilloraDevice());
    QTimer::singleShot(0, def->mainWindow(), [this] { def->mainWindow()->close(); });
    QTimer::singleShot(test::stretched(std::chrono::seconds(10)), def->mainWindow(), [] {
        QCoreApplication::exit(99); // a hung quit fails
    });
    EXPECT_EQ(QApplication::exec(), 0);
}

// Unknown cameras: the first is used, every one is listed, and the view shows its live picture
// at the first start's size, without movie or sound parts. A stop keeps the last picture for the
// view; a start without a camera builds nothing.
TEST_F(Startup, TheFirstOfUnknownCamerasIsShownLiveAndAStopKeepsItsPicture)
{
    for (const auto &[cameras, expected] : {std::pair{"Desk|Model X|cam-1", "*Desk | Desk | live | "},
             {"First|Model A|a;Second|Model B|b", "*First, Second | First | live | "}}) {
        start(cameras);
        EXPECT_EQ(state(), expected);
        EXPECT_TRUE(testAccess(*c).mCaptureDecompressedVideoOutput() && !testAccess(*c).mCaptureMovieFileOutput()
            && !testAccess(*c).mCaptureAudioDeviceInput());
        EXPECT_TRUE(pictureMoves()) << "no live picture";
        EXPECT_EQ(c->currentFrame().width(), 640);
        EXPECT_EQ(c->currentFrame().height(), 480);
        c->stopStream();
        EXPECT_TRUE(!testAccess(*c).mCaptureSession() && !testAccess(*c).mCaptureVideoDeviceInput()
            && !testAccess(*c).mCaptureDecompressedVideoOutput());
        EXPECT_EQ(c->currentFrame().width(), 640);
        testAccess(*c).setDevice(nullptr);
        c->startStream();
        EXPECT_FALSE(testAccess(*c).mCaptureSession());
    }
}

TEST_F(Startup, EveryActionHasItsShortcut)
{
    start("");
    const QMap<QString, QString> expected{{"Take Photo", "Ctrl+T"}, {"Start Capture", "Ctrl+Shift+R"},
        {"Freeze", "Ctrl+F"}, {"Rotate", "Ctrl+R"}, {"Focus", "Ctrl+Shift+F"}, {"Preferences…", "Ctrl+,"},
        {"Quillora Camera Help", "F1"}, {"Quit", "Ctrl+Q"}, {"Picture Controls…", "Ctrl+Shift+P"}};
    QMap<QString, QString> found;
    for (QAction *action : def->mainWindow()->findChildren<QAction *>())
        if (expected.contains(action->text()))
            found[action->text()] = action->shortcut().toString();
    EXPECT_EQ(found, expected);
}

// A known model is preferred over the default camera and the last one wins; an 890 anywhere sets
// quilloraDevice for good; the choice is logged and its location looked up, by start-up only.
TEST_F(Startup, AKnownModelIsChosenOverTheFirstCameraAndMarked)
{
    withMicrophone();
    start("Desk Webcam|Generic UVC|0x01100000aaaabbbb;"
          "Document Camera|UVC Camera VendorID_2316 ProductID_14096|0x01420000090c3710");
    EXPECT_EQ(state(), "Desk Webcam, *Document Camera | Document Camera | live | ");
    EXPECT_EQ(log.matching("quillora.capture", "camera chosen:"),
        "camera chosen: Document Camera (UVC Camera VendorID_2316 ProductID_14096, 0x01420000090c3710)");
    EXPECT_EQ(log.matching("quillora.capture", "USB location"), "USB location 0x01420000");
    EXPECT_FALSE(testAccess(*c).quilloraDevice());

    def.reset();
    log.clear();
    start("Q890|" + k890 + "|0x01100000090c037a;Q45937|" + k45937 + "|0x01200000090cb371");
    EXPECT_EQ(state(), "Q890, *Q45937 | Q45937 | live | ");
    EXPECT_TRUE(testAccess(*c).quilloraDevice());
    testAccess(*c).mDevicesMenu()->actions().at(0)->trigger();
    EXPECT_EQ(state(), "*Q890, Q45937 | Q890 | live | ");
    EXPECT_EQ(log.matching("quillora.capture", "USB location"), "USB location 0x01200000");
}

// Choosing the checked item still restarts the stream. A click after the list changed (cameras
// gone or come before the menu was filled again) starts the camera whose title was clicked,
// wherever it stands now, and the menu shows the list as it is; a click on a camera that has gone
// says so and keeps the one in use, or takes the one left when that has gone too.
TEST_F(Startup, AClickStartsTheCameraWhoseTitleWasClickedEvenAfterTheListChanged)
{
    withMicrophone();
    start("A|Generic|virtual-a;B|Generic|virtual-b;C|Generic|virtual-c");
    const auto item = [this](int i) { return testAccess(*c).mDevicesMenu()->actions().at(i); };
    const auto firstSession = testAccess(*c).mCaptureSession();
    item(0)->trigger();
    EXPECT_NE(testAccess(*c).mCaptureSession(), firstSession);
    EXPECT_EQ(state(), "*A, B, C | A | live | ");
    setCameras("B|Generic|virtual-b;C|Generic|virtual-c"); // A unplugged, the menu not filled again yet
    item(1)->trigger();                                    // "B", first in the list now
    EXPECT_EQ(state(), "*B, C | B | live | ");
    setCameras("D|Generic|virtual-d;C|Generic|virtual-c;B|Generic|virtual-b");
    item(1)->trigger(); // "C", second in the list as in the menu
    EXPECT_EQ(state(), "D, *C, B | C | live | ");
    item(2)->trigger(); // "B", last
    EXPECT_EQ(state(), "D, C, *B | B | live | ");
    EXPECT_TRUE(hasFrame());

    setCameras("D|Generic|virtual-d;B|Generic|virtual-b"); // C unplugged: B stays in use, untouched
    const auto running = testAccess(*c).mCaptureSession();
    item(1)->trigger(); // "C"
    EXPECT_EQ(state(), "D, *B | B | live | ");
    EXPECT_EQ(testAccess(*c).mCaptureSession(), running);
    EXPECT_EQ(log.matching("quillora.capture", "not connected any more"),
        "camera menu: C (virtual-c) is not connected any more");
    EXPECT_EQ(testAccess(*c).mMessages()->statusMessage(), "C is not connected any more");
    setCameras("E|Generic|virtual-e"); // the camera in use is gone too: the one left takes over
    item(0)->trigger();                // "D"
    EXPECT_EQ(state(), "*E | E | live | ");
    setCameras("");
    item(0)->trigger();
    EXPECT_EQ(state(), " | no camera | - | No camera connected");
}

// Sysfs cameras whose device files are gone when opened are listed, chosen, and their failure
// logged; the application runs on.
TEST_F(Startup, SysfsCamerasWhoseDeviceFilesAreGoneDoNotStopTheApplication)
{
    const ScopedEnv sysfs("QUILLORA_SYSFS_ROOT", (test::testDataDir() + "/sysfs/desk").toUtf8());
    const ScopedEnv dev("QUILLORA_DEV_ROOT", "/nonexistent-quillora-dev");
    start(std::nullopt);
    EXPECT_EQ(state(),
        "*Quillora Document Camera, vivid-000-vid-cap, UVC Camera (046d:0825) | Quillora Document Camera | live | ");
    EXPECT_EQ(log.matching("quillora.capture", "USB location"), "USB location 0x01400000");
    EXPECT_NE(log.matching("quillora.capture", "cannot be opened"), "")
        << log.lines("quillora.capture").join('\n').toStdString();
    EXPECT_TRUE(log.waitFor("quillora.capture: capture error"));
}

} // namespace
