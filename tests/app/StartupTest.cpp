// SPDX-License-Identifier: GPL-3.0-or-later
// The application as a whole, offscreen with virtual cameras: start-up with no, one and two cameras,
// the shortcuts, and quitting by closing the window.
#include "TestSupport.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"
#include "WindowDefinition.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

using namespace quillora;
using app::VemoViewController;
using test::ScopedEnv;
using test::waitUntil;

namespace {

class Startup : public ::testing::Test {
protected:
    VemoViewController &start(const QByteArray &cameras)
    {
        def.reset();
        ScopedEnv env("QUILLORA_VIRTUAL_CAMERAS", cameras);
        def = std::make_unique<app::WindowDefinition>(qApp);
        def->awake();
        return *def->controller();
    }
    // The visible camera items ("*" marks the checked one), the camera in use and its stream.
    std::string state() const
    {
        VemoViewController &c = *def->controller();
        QStringList menu;
        for (QAction *item : testAccess(c).mDevicesMenu()->actions())
            if (item->isVisible() && item->isCheckable())
                menu << (item->isChecked() ? "*" : "") + item->text();
        return (menu.join(", ") + " | "
            + (testAccess(c).device()
                    ? testAccess(c).device()->localizedDisplayName() + " (" + testAccess(c).device()->uniqueID() + ")"
                    : "no camera")
            + (!testAccess(c).mCaptureSession()                    ? ""
                    : testAccess(c).mCaptureSession()->isRunning() ? " | live"
                                                                   : " | stopped"))
            .toStdString();
    }
    static QSize frameSize(VemoViewController &c) { return {c.currentFrame().width(), c.currentFrame().height()}; }

    QTemporaryDir config;
    ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().toUtf8()};
    ScopedEnv noMicrophone{"QUILLORA_VIRTUAL_MICROPHONE", ""};
    std::unique_ptr<app::WindowDefinition> def;
};

TEST_F(Startup, WithoutACameraNoSessionIsBuiltAndClosingTheWindowQuits)
{
    VemoViewController &c = start("");
    EXPECT_EQ(state(), " | no camera");
    const auto items = testAccess(c).mDevicesMenu()->actions();
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](QAction *a) { return a->isCheckable(); }), 10);
    EXPECT_FALSE(testAccess(c).quilloraDevice());
    QTimer::singleShot(100, def->mainWindow(), [this] { def->mainWindow()->close(); });
    QTimer::singleShot(10000, def->mainWindow(), [] { QCoreApplication::exit(99); }); // a hung quit fails
    EXPECT_EQ(QApplication::exec(), 0);
}

// Unknown cameras: the first is used, every one is listed, and the view shows its live picture at
// the first start's size, without movie or sound parts. A stop keeps the last picture for the view;
// a start without a camera builds nothing.
TEST_F(Startup, OneOrTwoCamerasShowTheFirstLive)
{
    for (const auto &[cameras, expected] : {std::pair{"Desk|Model X|cam-1", "*Desk | Desk (cam-1) | live"},
             {"First|Model A|a;Second|Model B|b", "*First, Second | First (a) | live"}}) {
        VemoViewController &c = start(cameras);
        EXPECT_EQ(state(), expected);
        EXPECT_TRUE(testAccess(c).mCaptureDecompressedVideoOutput() && !testAccess(c).mCaptureMovieFileOutput()
            && !testAccess(c).mCaptureAudioDeviceInput());
        EXPECT_TRUE(waitUntil([&] { return testAccess(c).mCaptureView()->framesShown() >= 3; })) << "no live picture";
        EXPECT_EQ(frameSize(c), QSize(640, 480));
        c.stopStream();
        EXPECT_TRUE(!testAccess(c).mCaptureSession() && !testAccess(c).mCaptureVideoDeviceInput()
            && !testAccess(c).mCaptureDecompressedVideoOutput());
        EXPECT_EQ(frameSize(c), QSize(640, 480));
        testAccess(c).setDevice(nullptr);
        c.startStream();
        EXPECT_FALSE(testAccess(c).mCaptureSession());
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

} // namespace
