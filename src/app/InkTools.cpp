// SPDX-License-Identifier: GPL-3.0-or-later
#include "InkTools.h"

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QStackedWidget>
#include <QToolButton>

namespace quillora::app {

namespace {

QIcon swatch(QColor colour, double width)
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(5, 19), QPointF(19, 5));
    return QIcon(pixmap);
}

} // namespace

InkTools::InkTools(QStackedWidget *stack, capture::CaptureView *live, ImageView *still)
    : QObject(stack)
    , m_stack(stack)
    , m_page(new InkPage(this))
    , m_overlay(new InkOverlay(stack, live, still, m_page))
    , m_bar(new QFrame(stack))
{
    m_ink = makeAction(QStringLiteral("actionInk"), tr("Ink"), QKeySequence(Qt::CTRL | Qt::Key_I));
    m_ink->setCheckable(true);
    connect(m_ink, &QAction::toggled, this, &InkTools::setInking);

    auto *tools = new QActionGroup(this);
    const std::array<QString, 3> toolNames{tr("Pen"), tr("Highlighter"), tr("Eraser")};
    const std::array<const char *, 3> toolIds{"actionInkPen", "actionInkHighlighter", "actionInkEraser"};
    for (size_t i = 0; i < m_tools.size(); ++i) {
        m_tools[i] = makeAction(QString::fromLatin1(toolIds[i]), toolNames[i]);
        m_tools[i]->setCheckable(true);
        tools->addAction(m_tools[i]);
        connect(m_tools[i], &QAction::triggered, this, [this, i] { pickTool(InkTool(i)); });
    }
    m_tools[0]->setChecked(true);

    auto *colours = new QActionGroup(this);
    const std::array<QString, 4> colourNames{tr("Red"), tr("Blue"), tr("Green"), tr("Black")};
    for (size_t i = 0; i < m_colours.size(); ++i) {
        m_colours[i] = makeAction(QStringLiteral("inkColour%1").arg(i), colourNames[i]);
        m_colours[i]->setCheckable(true);
        m_colours[i]->setIcon(swatch(QColor::fromRgb(kColours[i]), 6));
        colours->addAction(m_colours[i]);
        connect(m_colours[i], &QAction::triggered, this, [this, i] {
            m_overlay->setColour(QColor::fromRgb(kColours[i]));
            pickTool(InkTool::Pen);
        });
    }
    auto *widths = new QActionGroup(this);
    const std::array<QString, 3> widthNames{tr("Thin"), tr("Medium"), tr("Thick")};
    for (size_t i = 0; i < m_widths.size(); ++i) {
        m_widths[i] = makeAction(QStringLiteral("inkWidth%1").arg(i), widthNames[i]);
        m_widths[i]->setCheckable(true);
        m_widths[i]->setIcon(swatch(Qt::darkGray, kWidths[i]));
        widths->addAction(m_widths[i]);
        connect(m_widths[i], &QAction::triggered, this, [this, i] {
            m_overlay->setWidth(kWidths[i]);
            if (m_overlay->tool() == InkTool::Eraser)
                pickTool(InkTool::Pen);
            else
                pickTool(m_overlay->tool());
        });
    }
    // Red and the middle width when ink is first switched on.
    m_colours[0]->setChecked(true);
    m_widths[1]->setChecked(true);
    m_overlay->setColour(QColor::fromRgb(kColours[0]));
    m_overlay->setWidth(kWidths[1]);

    m_undo = makeAction(QStringLiteral("actionUndoInk"), tr("Undo Ink"), QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_redo
        = makeAction(QStringLiteral("actionRedoInk"), tr("Redo Ink"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    m_clear = makeAction(QStringLiteral("actionClearInk"), tr("Clear Ink"), QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    connect(m_undo, &QAction::triggered, m_page, [this] {
        m_overlay->cancelStroke();
        m_page->undo();
    });
    connect(m_redo, &QAction::triggered, m_page, [this] {
        m_overlay->cancelStroke();
        m_page->redo();
    });
    connect(m_clear, &QAction::triggered, m_page, &InkPage::clear);
    connect(m_page, &InkPage::changed, this, &InkTools::showHistory);
    connect(m_overlay, &InkOverlay::inkFull, this,
        [this] { Q_EMIT statusMessage(tr("The ink is full: undo or clear some of it to draw more")); });
    connect(m_overlay, &InkOverlay::pointerMoved, this, &InkTools::pointerAt);
    showHistory();
    makeBar();
    stack->installEventFilter(this);
}

InkTools::~InkTools() = default;

QAction *InkTools::makeAction(const QString &name, const QString &text, const QKeySequence &key)
{
    auto *action = new QAction(text, this);
    action->setObjectName(name);
    if (!key.isEmpty())
        action->setShortcut(key);
    return action;
}

void InkTools::makeBar()
{
    m_bar->setObjectName(QStringLiteral("inkBar"));
    m_bar->setAutoFillBackground(true);
    m_bar->setFrameShape(QFrame::StyledPanel);
    auto *row = new QHBoxLayout(m_bar);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(2);
    auto add = [this, row](QAction *action, bool iconOnly) {
        auto *button = new QToolButton(m_bar);
        button->setDefaultAction(action);
        button->setToolButtonStyle(iconOnly ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextOnly);
        button->setAutoRaise(true);
        row->addWidget(button);
    };
    auto gap = [row] { row->addSpacing(8); };
    for (QAction *tool : m_tools)
        add(tool, false);
    gap();
    for (QAction *colour : m_colours)
        add(colour, true);
    gap();
    for (QAction *width : m_widths)
        add(width, true);
    gap();
    for (QAction *step : {m_undo, m_redo, m_clear})
        add(step, false);
    m_bar->adjustSize();
    m_bar->hide();
}

void InkTools::addTo(QMenu *viewMenu)
{
    viewMenu->addSeparator();
    viewMenu->addAction(m_ink);
    QMenu *tools = viewMenu->addMenu(tr("Ink Tools"));
    tools->setObjectName(QStringLiteral("inkToolsMenu"));
    tools->addActions({m_tools.begin(), m_tools.end()});
    tools->addSeparator();
    tools->addActions({m_colours.begin(), m_colours.end()});
    tools->addSeparator();
    tools->addActions({m_widths.begin(), m_widths.end()});
    viewMenu->addAction(m_undo);
    viewMenu->addAction(m_redo);
    viewMenu->addAction(m_clear);
}

void InkTools::setInking(bool inking)
{
    m_overlay->setInking(inking);
    if (m_ink->isChecked() != inking)
        m_ink->setChecked(inking);
    m_revealed = false;
    showBar();
}

void InkTools::pickTool(InkTool tool)
{
    m_overlay->setTool(tool);
    m_tools[size_t(tool)]->setChecked(true);
    setInking(true);
}

void InkTools::showHistory()
{
    m_undo->setEnabled(m_page->canUndo());
    m_redo->setEnabled(m_page->canRedo());
    m_clear->setEnabled(!m_page->isEmpty());
}

void InkTools::setFullScreen(bool fullScreen)
{
    m_fullScreen = fullScreen;
    m_revealed = false;
    showBar();
}

void InkTools::showBar()
{
    const bool shown = m_overlay->isInking() && (!m_fullScreen || m_revealed);
    if (shown) {
        m_bar->adjustSize();
        m_bar->move((m_stack->width() - m_bar->width()) / 2, 0);
        m_bar->raise();
    }
    m_bar->setVisible(shown);
}

void InkTools::pointerAt(QPoint position)
{
    if (!m_fullScreen)
        return;
    // Near the top edge the bar comes; it goes once the pointer is well below it again.
    const bool near = position.y() < (m_revealed ? m_bar->height() + kRevealMargin : kRevealMargin);
    if (near != m_revealed && !m_overlay->strokeInProgress()) {
        m_revealed = near;
        showBar();
    }
}

bool InkTools::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_stack && event->type() == QEvent::Resize && m_bar->isVisible())
        showBar();
    return QObject::eventFilter(watched, event);
}

} // namespace quillora::app
