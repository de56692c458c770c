// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inking as the user meets it: View ▸ Ink (Ctrl+I) and its tools (pen in four colours and three
// widths, highlighter, eraser), Undo, Redo and Clear, on a small bar over the picture that shows
// while inking (in full screen only when the pointer nears the top edge). Picking a tool turns
// inking on; with it off the picture behaves as it does without ink. Main thread only.
#include "InkOverlay.h"

#include <QObject>

#include <array>

class QAction;
class QActionGroup;
class QFrame;
class QMenu;
class QStackedWidget;

namespace quillora::app {

class InkTools : public QObject {
    Q_OBJECT
public:
    InkTools(QStackedWidget *stack, capture::CaptureView *live, ImageView *still);
    ~InkTools() override;

    // Adds the items to the View menu (and their keys to `window`, so they work in full screen).
    void addTo(QMenu *viewMenu);
    // In full screen the bar waits for the pointer at the top edge.
    void setFullScreen(bool fullScreen);

    InkPage *page() const { return m_page; }
    InkOverlay *overlay() const { return m_overlay; }
    QFrame *bar() const { return m_bar; }
    QAction *inkAction() const { return m_ink; }

    static constexpr std::array<QRgb, 4> kColours{0xffe02020, 0xff1f5fe0, 0xff18a040, 0xff000000};
    static constexpr std::array<double, 3> kWidths{3.0, 6.0, 12.0}; // view pixels
    // How near the top edge (view pixels) the pointer brings the bar back in full screen.
    static constexpr int kRevealMargin = 48;

Q_SIGNALS:
    void statusMessage(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAction *makeAction(const QString &name, const QString &text, const QKeySequence &key = {});
    void makeBar();
    void setInking(bool inking);
    void pickTool(InkTool tool);
    void showHistory();
    void showBar();
    void pointerAt(QPoint position);

    QStackedWidget *m_stack;
    InkPage *m_page;       // owned by this
    InkOverlay *m_overlay; // owned by the picture
    QFrame *m_bar;         // likewise
    QAction *m_ink;
    QAction *m_undo;
    QAction *m_redo;
    QAction *m_clear;
    std::array<QAction *, 3> m_tools{};
    std::array<QAction *, 4> m_colours{};
    std::array<QAction *, 3> m_widths{};
    bool m_fullScreen = false;
    bool m_revealed = false; // in full screen: the pointer came near the edge
};

} // namespace quillora::app
