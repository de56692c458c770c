// SPDX-License-Identifier: GPL-3.0-or-later
// Full screen with two screens, a desk's and a projector's (the offscreen platform configured by
// two-screens.json, see CMakeLists.txt): it covers the screen the window was moved to, and when
// that screen goes (Qt then puts the window on the one left) it covers the one left instead of
// staying where nothing shows it.
#include "FullScreen.h"
#include "TestSupport.h"
#include "VemoViewController.h"
#include "WindowDefinition.h"

#include <QApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>

using namespace quillora;
using test::waitUntil;

namespace {

QScreen *screenNamed(const QString &name)
{
    for (QScreen *screen : QGuiApplication::screens())
        if (screen->name() == name)
            return screen;
    return nullptr;
}

} // namespace

TEST(ProjectorScreens, FullScreenCoversTheWindowsScreenAndFollowsItWhenTheProjectorGoes)
{
    QScreen *desk = screenNamed(QStringLiteral("Desk"));
    QScreen *projector = screenNamed(QStringLiteral("Projector"));
    ASSERT_TRUE(desk && projector) << "not on the two screens of two-screens.json (QT_QPA_PLATFORM="
                                   << qgetenv("QT_QPA_PLATFORM").toStdString() << ")";
    QTemporaryDir home;
    test::ScopedEnv homeEnv("HOME", home.path().toUtf8());
    test::ScopedEnv configHome("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    test::ScopedEnv cameras("QUILLORA_VIRTUAL_CAMERAS", "Desk|Model X|cam-1");
    app::WindowDefinition def(qApp);
    def.awake();
    QMainWindow *window = def.mainWindow();

    // Moved to the projector, then full screen: the projector, not the desk.
    const QRect onProjector(projector->geometry().topLeft() + QPoint(100, 60), QSize(640, 520));
    window->setGeometry(onProjector);
    ASSERT_TRUE(waitUntil([&] { return window->screen() == projector; }));
    def.fullScreen()->enter();
    ASSERT_TRUE(waitUntil([&] { return window->geometry() == projector->geometry(); }));
    EXPECT_TRUE(window->isFullScreen());

    // Unplugged: Qt hands the window to the screen left, where full screen follows it.
    window->windowHandle()->setScreen(desk);
    ASSERT_TRUE(waitUntil([&] { return window->geometry() == desk->geometry() && window->isFullScreen(); }))
        << window->geometry().x() << "," << window->geometry().y() << " " << window->width() << "x" << window->height()
        << (window->isFullScreen() ? " full screen" : " not full screen");
    EXPECT_TRUE(def.fullScreen()->isActive());

    def.fullScreen()->leave();
    ASSERT_TRUE(waitUntil([&] { return !window->isFullScreen(); }));
    EXPECT_EQ(window->size(), onProjector.size());
    const QList<QScreen *> screens = QGuiApplication::screens();
    EXPECT_TRUE(std::any_of(screens.begin(), screens.end(), [&](QScreen *s) {
        return s->availableGeometry().intersects(window->geometry());
    })) << "the window is where no screen shows it";
}
