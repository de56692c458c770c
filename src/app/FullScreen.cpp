// SPDX-License-Identifier: GPL-3.0-or-later
#include "FullScreen.h"

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace quillora::app {

FullScreen::FullScreen(QMainWindow *window, QWidget *picture, QList<QWidget *> chrome)
    : QObject(window)
    , m_window(window)
    , m_picture(picture)
    , m_chrome(std::move(chrome))
    , m_leaveKey(new QAction(window))
{
    m_leaveKey->setObjectName(QStringLiteral("leaveFullScreen"));
    m_leaveKey->setShortcut(QKeySequence(Qt::Key_Escape));
    m_leaveKey->setShortcutContext(Qt::WindowShortcut);
    m_leaveKey->setEnabled(false);
    window->addAction(m_leaveKey);
    connect(m_leaveKey, &QAction::triggered, this, &FullScreen::leave);
    setPointerCountdown(std::make_unique<TimerCountdown>());
    // The pointer's movements over the picture (the live view, the still) bring it back.
    for (QWidget *page : picture->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        page->setMouseTracking(true);
        page->installEventFilter(this);
    }
    // Qt moves the windows of a screen that goes away to another before it says so; what that
    // means for the window is settled once it has.
    connect(qApp, &QGuiApplication::screenRemoved, this,
        [this] { QTimer::singleShot(0, this, &FullScreen::screensChanged); });
}

FullScreen::~FullScreen() = default;

void FullScreen::setPointerCountdown(std::unique_ptr<Countdown> countdown)
{
    m_pointerCountdown = std::move(countdown);
    m_pointerCountdown->onRunOut([this] { hidePointer(); });
}

void FullScreen::toggle()
{
    if (m_active)
        leave();
    else
        enter();
}

void FullScreen::enter()
{
    if (m_active)
        return;
    m_wasMaximized = m_window->isMaximized();
    m_geometry = m_wasMaximized ? m_window->normalGeometry() : m_window->geometry();
    m_hidden.clear();
    for (QWidget *w : m_chrome)
        if (!w->isHidden()) {
            m_hidden << w;
            w->hide();
        }
    if (QLayout *layout = m_window->centralWidget() ? m_window->centralWidget()->layout() : nullptr) {
        m_margins = layout->contentsMargins();
        m_spacing = layout->spacing();
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    m_active = true;
    m_leaveKey->setEnabled(true);
    if (QWindow *handle = m_window->windowHandle())
        connect(handle, &QWindow::screenChanged, this, &FullScreen::followScreen, Qt::UniqueConnection);
    coverScreen();
    showPointer();
    Q_EMIT activeChanged(true);
}

void FullScreen::coverScreen()
{
    QScreen *screen = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
    if (m_screen != screen) {
        if (m_screen)
            disconnect(m_screen, nullptr, this, nullptr);
        m_screen = screen;
        if (screen)
            connect(screen, &QScreen::geometryChanged, this, &FullScreen::followScreen);
    }
    // A window manager covers the screen for a full-screen window; without one (a bare X
    // server) nobody would, so the window takes the screen's place itself. Qt counts a window
    // that is given a place as no longer full screen: the state is set again after it.
    if (screen)
        m_window->setGeometry(screen->geometry());
    m_window->showFullScreen();
}

void FullScreen::followScreen()
{
    if (!m_active)
        return;
    coverScreen();
    // A window handed to a screen of another kind is made anew there, and the new one reports
    // itself not full screen once the events of the change have come in: full screen again then.
    QTimer::singleShot(0, this, [this] {
        if (m_active && !m_window->isFullScreen())
            coverScreen();
    });
}

void FullScreen::leave()
{
    if (!m_active)
        return;
    m_active = false;
    m_leaveKey->setEnabled(false);
    m_pointerCountdown->stop();
    showPointer();
    if (m_screen)
        disconnect(m_screen, nullptr, this, nullptr);
    m_screen = nullptr;
    m_window->showNormal();
    restoreChrome();
    // Where it was, at the size it had; a place on a screen that has since gone is moved onto
    // one that is there.
    m_window->setGeometry(placeOnScreens(m_geometry, m_window->screen()));
    if (m_wasMaximized)
        m_window->showMaximized();
    Q_EMIT activeChanged(false);
}

QRect placeOnScreens(const QRect &place, const QScreen *fallback)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (std::any_of(
            screens.begin(), screens.end(), [&](const QScreen *s) { return s->availableGeometry().intersects(place); }))
        return place;
    const QScreen *screen = fallback ? fallback : QGuiApplication::primaryScreen();
    if (!screen)
        return place;
    const QRect room = screen->availableGeometry();
    QRect moved(QPoint(), place.size().boundedTo(room.size()));
    moved.moveCenter(room.center());
    return moved;
}

void FullScreen::restoreChrome()
{
    for (const QPointer<QWidget> &w : std::as_const(m_hidden))
        if (w)
            w->show();
    m_hidden.clear();
    if (QLayout *layout = m_window->centralWidget() ? m_window->centralWidget()->layout() : nullptr) {
        layout->setContentsMargins(m_margins);
        layout->setSpacing(m_spacing);
    }
}

void FullScreen::screensChanged()
{
    if (m_active) {
        coverScreen();
        return;
    }
    // A window left where no screen is any more comes back onto one.
    const QRect place = m_window->geometry();
    const QRect moved = placeOnScreens(place, QGuiApplication::primaryScreen());
    if (moved != place)
        m_window->setGeometry(moved);
}

void FullScreen::showPointer()
{
    if (m_pointerHidden) {
        m_picture->unsetCursor();
        m_pointerHidden = false;
    }
    if (m_active)
        m_pointerCountdown->start(kPointerHideMilliseconds);
}

void FullScreen::hidePointer()
{
    if (!m_active)
        return;
    m_picture->setCursor(Qt::BlankCursor);
    m_pointerHidden = true;
}

bool FullScreen::eventFilter(QObject *, QEvent *event)
{
    if (m_active && event->type() == QEvent::MouseMove)
        showPointer();
    return false;
}

} // namespace quillora::app
