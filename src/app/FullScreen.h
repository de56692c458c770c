// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Full screen for the projector: only the picture shows, filling the screen the window is on,
// with the menu bar, the buttons and the status line hidden and the pointer hidden after a
// moment without movement. Leaving gives the window back its size and place. A screen that goes
// away (a projector unplugged) does not take the window with it. Main thread only.
#include "Countdown.h"

#include <QList>
#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <memory>

class QAction;
class QMainWindow;
class QScreen;
class QWidget;

namespace quillora::app {

class FullScreen : public QObject {
    Q_OBJECT
public:
    // `picture` is what fills the screen; `chrome` is hidden meanwhile.
    FullScreen(QMainWindow *window, QWidget *picture, QList<QWidget *> chrome);
    ~FullScreen() override;

    bool isActive() const { return m_active; }
    void enter();
    void leave();
    void toggle();

    // Escape leaves full screen; enabled only while in it, so that elsewhere Escape does what
    // it did before. Added to the window.
    QAction *leaveKey() const { return m_leaveKey; }

    // How long the pointer stays without moving before it hides.
    static constexpr int kPointerHideMilliseconds = 2000;
    // For tests: the countdown the pointer hides by.
    void setPointerCountdown(std::unique_ptr<Countdown> countdown);
    bool pointerHidden() const { return m_pointerHidden; }

Q_SIGNALS:
    void activeChanged(bool active);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void coverScreen();
    void screensChanged();
    void followScreen();
    void showPointer();
    void hidePointer();
    void restoreChrome();

    QMainWindow *m_window;
    QWidget *m_picture;
    QList<QWidget *> m_chrome;
    QList<QPointer<QWidget>> m_hidden; // the chrome that was shown before
    QAction *m_leaveKey;
    std::unique_ptr<Countdown> m_pointerCountdown;
    QRect m_geometry; // the window's (unmaximized) before full screen
    bool m_wasMaximized = false;
    QMargins m_margins; // the central layout's
    int m_spacing = 0;
    QPointer<QScreen> m_screen; // the screen covered
    bool m_active = false;
    bool m_pointerHidden = false;
};

// `place` (a window's geometry) when some screen shows part of it; else the same size (no larger
// than the screen leaves room for) in the middle of `fallback` (or the main screen).
QRect placeOnScreens(const QRect &place, const QScreen *fallback);

} // namespace quillora::app
