// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureZoom.h"

#include "CaptureView.h"
#include "ImageView.h"
#include "WindowMessages.h"

#include <QAction>
#include <QGestureEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPinchGesture>
#include <QStackedWidget>
#include <QWheelEvent>

#include <cmath>

namespace quillora::app {

namespace {

constexpr int kStepsPerDoubling = 3; // 2^(1/3): about 1.26 a step, and 200 %, 400 %, 800 % on the way

double zoomStep(double factor, int direction)
{
    const double at = kStepsPerDoubling * std::log2(std::max(1.0, factor));
    const double step = direction > 0 ? std::floor(at + 1e-6) + 1 : std::ceil(at - 1e-6) - 1;
    return std::clamp(std::exp2(step / kStepsPerDoubling), 1.0, capture::ViewTransform::kMaxZoom);
}

} // namespace

PictureZoom::PictureZoom(QStackedWidget *stack, capture::CaptureView *live, ImageView *still)
    : QObject(stack)
    , m_stack(stack)
    , m_live(live)
    , m_still(still)
    , m_factor(new QLabel(stack))
{
    m_factor->setObjectName(QStringLiteral("zoomFactor"));
    m_factor->setAlignment(Qt::AlignCenter);
    m_factor->setStyleSheet(QStringLiteral("QLabel { color: white; background: rgba(0, 0, 0, 170); border-radius: "
                                           "8px; padding: 8px 16px; font-size: 16pt; }"));
    m_factor->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_factor->hide();
    setFactorCountdown(std::make_unique<TimerCountdown>());
    for (QWidget *view : {static_cast<QWidget *>(live), static_cast<QWidget *>(still)}) {
        view->installEventFilter(this);
        view->grabGesture(Qt::PinchGesture);
    }
    stack->installEventFilter(this);
    // A picture of another shape (another camera or mode) sends one view back to fit: the other
    // follows, so that live and still stay alike.
    connect(live, &capture::CaptureView::zoomReset, this, &PictureZoom::fit);
    connect(still, &ImageView::zoomReset, this, &PictureZoom::fit);
}

void PictureZoom::setFactorCountdown(std::unique_ptr<Countdown> countdown)
{
    m_factorCountdown = std::move(countdown);
    m_factorCountdown->onRunOut([this] { m_factor->hide(); });
}

PictureZoom::~PictureZoom()
{
    if (m_dragFrom)
        QGuiApplication::restoreOverrideCursor();
}

QWidget *PictureZoom::shownView() const
{
    return m_stack->currentWidget() == m_still ? static_cast<QWidget *>(m_still) : static_cast<QWidget *>(m_live);
}

capture::ViewTransform PictureZoom::shownTransform() const
{
    return m_stack->currentWidget() == m_still ? m_still->viewTransform() : m_live->viewTransform();
}

capture::ViewZoom PictureZoom::zoom() const
{
    return shownTransform().zoom();
}

bool PictureZoom::isZoomed() const
{
    return shownTransform().isZoomed();
}

void PictureZoom::apply(const capture::ViewZoom &zoom)
{
    const capture::ViewZoom before = this->zoom();
    m_live->setZoom(zoom);
    m_still->setZoom(zoom);
    const capture::ViewZoom after = this->zoom();
    if (std::abs(after.factor - before.factor) > 1e-9)
        showFactor();
    const bool zoomed = isZoomed();
    for (QAction *key : m_panKeys)
        if (key)
            key->setEnabled(zoomed);
    if (after != before)
        Q_EMIT zoomChanged(after);
}

void PictureZoom::zoomAbout(double factor, QPointF viewPoint)
{
    capture::ViewTransform t = shownTransform();
    t.zoomAbout(factor, viewPoint);
    apply(t.zoom());
}

void PictureZoom::zoomIn()
{
    const QWidget *view = shownView();
    zoomAbout(zoomStep(zoom().factor, +1), QPointF(view->width() / 2.0, view->height() / 2.0));
}

void PictureZoom::zoomOut()
{
    const QWidget *view = shownView();
    zoomAbout(zoomStep(zoom().factor, -1), QPointF(view->width() / 2.0, view->height() / 2.0));
}

void PictureZoom::fit()
{
    apply({});
}

void PictureZoom::pan(Qt::ArrowType direction)
{
    const QWidget *view = shownView();
    const double dx = view->width() / 10.0;
    const double dy = view->height() / 10.0;
    QPointF delta;
    switch (direction) {
    case Qt::LeftArrow:
        delta = {dx, 0};
        break;
    case Qt::RightArrow:
        delta = {-dx, 0};
        break;
    case Qt::UpArrow:
        delta = {0, dy};
        break;
    case Qt::DownArrow:
        delta = {0, -dy};
        break;
    default:
        return;
    }
    capture::ViewTransform t = shownTransform();
    t.panBy(delta);
    apply(t.zoom());
}

void PictureZoom::addPanKeysTo(QWidget *window)
{
    const std::array<std::pair<Qt::ArrowType, Qt::Key>, 4> keys{{{Qt::LeftArrow, Qt::Key_Left},
        {Qt::RightArrow, Qt::Key_Right}, {Qt::UpArrow, Qt::Key_Up}, {Qt::DownArrow, Qt::Key_Down}}};
    for (size_t i = 0; i < keys.size(); ++i) {
        auto *key = new QAction(window);
        key->setObjectName(QStringLiteral("pan%1").arg(i));
        key->setShortcut(QKeySequence(keys[i].second));
        key->setShortcutContext(Qt::WindowShortcut);
        key->setAutoRepeat(true);
        key->setEnabled(isZoomed());
        connect(key, &QAction::triggered, this, [this, direction = keys[i].first] { pan(direction); });
        window->addAction(key);
        m_panKeys[i] = key;
    }
}

QString PictureZoom::zoomText(double factor)
{
    //: The zoom factor shown over the picture for a moment, in per cent of the fitted picture.
    return tr("%1 %").arg(std::lround(factor * 100));
}

QString PictureZoom::shownFactor() const
{
    return m_factor->isHidden() ? QString() : m_factor->text();
}

void PictureZoom::showFactor()
{
    const QString text = zoomText(zoom().factor);
    if (text != m_factor->text() || m_factor->isHidden())
        WindowMessages::record("zoom", text);
    m_factor->setText(text);
    placeFactor();
    m_factor->show();
    m_factor->raise();
    m_factorCountdown->start(kFactorMilliseconds);
}

void PictureZoom::placeFactor()
{
    m_factor->adjustSize();
    m_factor->move((m_stack->width() - m_factor->width()) / 2, m_stack->height() / 12);
}

bool PictureZoom::wheel(QWidget *view, QWheelEvent *event)
{
    const QPoint angle = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        // A mouse wheel's notch (120) is one step; a touchpad's smaller deltas zoom smoothly.
        const int delta = angle.y() != 0 ? angle.y() : angle.x();
        zoomAbout(zoom().factor * std::exp2(delta / 120.0 / kStepsPerDoubling), event->position());
        return true;
    }
    if (!isZoomed() || view != shownView())
        return false;
    // Zoomed, the wheel (or two fingers on a touchpad) moves about the page.
    const QPoint pixels = event->pixelDelta();
    capture::ViewTransform t = shownTransform();
    t.panBy(pixels.isNull() ? QPointF(angle) / 2 : QPointF(pixels));
    apply(t.zoom());
    return true;
}

bool PictureZoom::gesture(QWidget *view, QEvent *event)
{
    if (event->type() == QEvent::NativeGesture) {
        auto *native = static_cast<QNativeGestureEvent *>(event);
        if (native->gestureType() != Qt::ZoomNativeGesture)
            return false;
        zoomAbout(zoom().factor * (1.0 + native->value()), native->position());
        return true;
    }
    auto *gestures = static_cast<QGestureEvent *>(event);
    auto *pinch = static_cast<QPinchGesture *>(gestures->gesture(Qt::PinchGesture));
    if (!pinch)
        return false;
    if (pinch->changeFlags() & QPinchGesture::ScaleFactorChanged)
        zoomAbout(zoom().factor * pinch->scaleFactor(), view->mapFromGlobal(pinch->centerPoint()));
    gestures->accept(pinch);
    return true;
}

bool PictureZoom::mouse(QEvent *event)
{
    auto *press = static_cast<QMouseEvent *>(event);
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        if (press->button() != Qt::LeftButton)
            return false;
        Q_EMIT doubleClicked();
        return true;
    case QEvent::MouseButtonPress:
        if (press->button() != Qt::LeftButton || !isZoomed() || m_dragFrom)
            return false;
        m_dragFrom = press->position();
        QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
        return true;
    case QEvent::MouseMove: {
        if (!m_dragFrom)
            return false;
        capture::ViewTransform t = shownTransform();
        t.panBy(press->position() - *m_dragFrom);
        m_dragFrom = press->position();
        apply(t.zoom());
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!m_dragFrom || press->button() != Qt::LeftButton)
            return false;
        m_dragFrom.reset();
        QGuiApplication::restoreOverrideCursor();
        return true;
    default:
        return false;
    }
}

bool PictureZoom::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_stack) {
        if (event->type() == QEvent::Resize && !m_factor->isHidden())
            placeFactor();
        return false;
    }
    auto *view = qobject_cast<QWidget *>(watched);
    switch (event->type()) {
    case QEvent::Wheel:
        return wheel(view, static_cast<QWheelEvent *>(event));
    case QEvent::NativeGesture:
    case QEvent::Gesture:
        return gesture(view, event);
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        return mouse(event);
    default:
        return false;
    }
}

} // namespace quillora::app
