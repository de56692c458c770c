// SPDX-License-Identifier: GPL-3.0-or-later
// The ink layer's input: the mouse, a pen tablet and a finger make strokes; the wheel goes on to
// the picture under the layer.
#include "InkOverlay.h"

#include "CaptureView.h"
#include "ImageView.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QTabletEvent>
#include <QTouchEvent>
#include <QWheelEvent>

#include <algorithm>

namespace quillora::app {

namespace {

// A pen's pressure (0 to 1) as a factor of the stroke's width: half pressure draws the width
// chosen, a light touch a quarter of it, a firm one nearly twice.
float widthForPressure(double pressure)
{
    return float(0.25 + 1.5 * std::clamp(pressure, 0.0, 1.0));
}

} // namespace

void InkOverlay::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        begin(event->position(), 1.0f, false);
    event->accept();
}

void InkOverlay::mouseMoveEvent(QMouseEvent *event)
{
    Q_EMIT pointerMoved(event->position().toPoint());
    if (event->buttons() & Qt::LeftButton)
        extend(event->position(), 1.0f);
    event->accept();
}

void InkOverlay::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        extend(event->position(), 1.0f); // where the button came up ends the stroke
        end();
    }
    event->accept();
}

void InkOverlay::mouseDoubleClickEvent(QMouseEvent *event)
{
    // While inking a quick second tap is another stroke (a dot), not full screen.
    mousePressEvent(event);
}

void InkOverlay::tabletEvent(QTabletEvent *event)
{
    const bool eraserEnd = event->pointerType() == QPointingDevice::PointerType::Eraser;
    switch (event->type()) {
    case QEvent::TabletPress:
        begin(event->position(), widthForPressure(event->pressure()), eraserEnd);
        break;
    case QEvent::TabletMove:
        Q_EMIT pointerMoved(event->position().toPoint());
        if (event->buttons() & Qt::LeftButton)
            extend(event->position(), widthForPressure(event->pressure()));
        break;
    case QEvent::TabletRelease:
        extend(event->position(), widthForPressure(event->pressure()));
        end();
        break;
    default:
        break;
    }
    // Taken: no mouse event is made of it as well.
    event->accept();
}

void InkOverlay::wheelEvent(QWheelEvent *event)
{
    // Zooming and moving about the page with the wheel work while inking, as without.
    QCoreApplication::sendEvent(shownView(), event);
}

bool InkOverlay::touch(QEvent *event)
{
    auto *touchEvent = static_cast<QTouchEvent *>(event);
    if (event->type() == QEvent::TouchCancel) {
        cancelStroke();
        m_touchId.reset();
        return true;
    }
    for (const QEventPoint &point : touchEvent->points()) {
        if (point.state() == QEventPoint::Pressed && !m_touchId) {
            m_touchId = point.id();
            begin(point.position(), 1.0f, false);
        } else if (m_touchId && point.id() == *m_touchId) {
            if (point.state() == QEventPoint::Released) {
                end();
                m_touchId.reset();
            } else {
                extend(point.position(), 1.0f);
            }
        }
    }
    event->accept();
    return true;
}

bool InkOverlay::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
        return touch(event);
    default:
        return QWidget::event(event);
    }
}

} // namespace quillora::app
