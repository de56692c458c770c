// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The whole application, offscreen, for the tests of cameras that come and go: a home folder
// whose Desktop takes photos and movies, a virtual microphone, the desktop spy (opened files and
// log lines), and the window's state in one line.
#include "DesktopSpy.h"
#include "MovieFileOutput.h"
#include "TestSupport.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"
#include "WindowDefinition.h"
#include "WindowMessages.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>

namespace quillora::test {

class HotplugApp : public ::testing::Test {
protected:
    QTemporaryDir home;
    ScopedEnv homeEnv{"HOME", home.path().toUtf8()};
    ScopedEnv configHome{"XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8()};
    ScopedEnv microphone{"QUILLORA_VIRTUAL_MICROPHONE", "Test Tone"};
    DesktopSpy spy;
    std::unique_ptr<app::WindowDefinition> def;
    app::VemoViewController *c = nullptr;

    void TearDown() override
    {
        // What the application said, to tell why a test failed.
        if (HasFailure())
            for (const QString &line : spy.lines())
                std::cerr << "  log: " << line.toStdString() << '\n';
        def.reset();
    }
    void startApp()
    {
        QDir(home.path()).mkpath(QStringLiteral("Desktop"));
        def = std::make_unique<app::WindowDefinition>(qApp);
        def->awake();
        c = def->controller();
    }
    QString desktopFile(const QString &name) const { return home.filePath(QStringLiteral("Desktop/") + name); }

    // "<menu> | <camera in use> | <stream> | <message over the picture>"; "*" marks the checked item.
    std::string state() const
    {
        QStringList menu;
        for (QAction *item : testAccess(*c).mDevicesMenu()->actions())
            if (item->isVisible() && item->isCheckable())
                menu << (item->isChecked() ? "*" : "") + item->text();
        const QString stream = !testAccess(*c).mCaptureSession() ? "-"
            : testAccess(*c).mCaptureSession()->isRunning()      ? "live"
                                                                 : "stopped";
        return (menu.join(", ") + " | "
            + (testAccess(*c).device() ? testAccess(*c).device()->localizedDisplayName() : "no camera") + " | " + stream
            + " | " + testAccess(*c).mMessages()->persistentMessage())
            .toStdString();
    }
    // Whether new frames reach the view within `timeout`.
    bool pictureMoves(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const
    {
        const quint64 shown = testAccess(*c).mCaptureView()->framesShown();
        return waitUntil([&] { return testAccess(*c).mCaptureView()->framesShown() >= shown + 3; }, timeout);
    }
    // Starts a movie and waits until `frames` pictures reached its file (a loaded machine takes
    // its time to start the encoder); false when they never did.
    bool recordPictures(quint64 frames)
    {
        c->recordingClick(testAccess(*c).mRecordingButton());
        return testAccess(*c).recording()
            && waitUntil(
                [&] {
                    return testAccess(*c).mCaptureMovieFileOutput()
                        && testAccess(*c).mCaptureMovieFileOutput()->statistics().framesWritten >= frames;
                },
                std::chrono::seconds(20));
    }
    // How many quillora.* lines begin with `start`.
    int loggedCount(const QString &start) { return spy.count(start); }
};

} // namespace quillora::test
