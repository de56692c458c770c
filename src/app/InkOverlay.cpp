// SPDX-License-Identifier: GPL-3.0-or-later
#include "InkOverlay.h"

#include "CaptureView.h"
#include "ImageView.h"
#include "InkPainting.h"

#include <QEvent>
#include <QLineF>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QStackedWidget>

#include <cmath>

namespace quillora::app {

namespace {

// Points closer than this (view pixels) to the one before add nothing a curve would show.
constexpr double kMinStep = 1.0;

} // namespace

InkOverlay::InkOverlay(QStackedWidget *stack, capture::CaptureView *live, ImageView *still, InkPage *page)
    : QWidget(stack)
    , m_stack(stack)
    , m_live(live)
    , m_still(still)
    , m_page(page)
    , m_colour(Qt::red)
{
    setObjectName(QStringLiteral("inkOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAttribute(Qt::WA_TabletTracking);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    connect(page, &InkPage::changed, this, [this] {
        ++m_version;
        updateVisibility();
        update();
    });
    connect(page, &InkPage::strokesCleared, this, &InkOverlay::cancelStroke);
    connect(stack, &QStackedWidget::currentChanged, this, &InkOverlay::follow);
    m_sharpen.setSingleShot(true);
    m_sharpen.setInterval(kSharpenMilliseconds);
    connect(&m_sharpen, &QTimer::timeout, this, [this] {
        m_sharpenDue = true;
        update();
    });
    m_refresh.setSingleShot(true);
    m_refresh.setTimerType(Qt::PreciseTimer);
    connect(&m_refresh, &QTimer::timeout, this, [this] {
        if (!m_dirty.isEmpty())
            showSoon(QRect());
    });
    stack->installEventFilter(this);
    follow();
    updateVisibility();
}

InkOverlay::~InkOverlay() = default;

QWidget *InkOverlay::shownView() const
{
    return m_stack->currentWidget() == m_still ? static_cast<QWidget *>(m_still) : static_cast<QWidget *>(m_live);
}

capture::ViewTransform InkOverlay::shownTransform() const
{
    return m_stack->currentWidget() == m_still ? m_still->viewTransform() : m_live->viewTransform();
}

// Lies exactly over the view shown, just above it: the messages over the picture stay on top.
void InkOverlay::follow()
{
    QWidget *view = shownView();
    setGeometry(view->geometry());
    view->stackUnder(this);
    update();
}

bool InkOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_stack && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        follow();
    return QWidget::eventFilter(watched, event);
}

void InkOverlay::updateVisibility()
{
    // Without ink and without inking the layer costs nothing: it is not there.
    setVisible(m_inking || !m_page->isEmpty() || m_active);
    if (isVisible())
        follow();
}

void InkOverlay::setInking(bool inking)
{
    if (inking == m_inking)
        return;
    if (!inking && strokeInProgress())
        end();
    m_inking = inking;
    setAttribute(Qt::WA_TransparentForMouseEvents, !inking);
    if (inking)
        setCursor(Qt::CrossCursor);
    else
        unsetCursor();
    updateVisibility();
}

std::optional<QTransform> InkOverlay::pageToView() const
{
    const capture::ViewTransform t = shownTransform();
    if (!t.isValid())
        return std::nullopt;
    const QSizeF page = m_page->pageSize().isEmpty() ? QSizeF(t.frameSize()) : m_page->pageSize();
    const QSize frame = t.frameSize();
    // A frame of another size (another mode of the same camera) shows the same page.
    return QTransform::fromScale(frame.width() / page.width(), frame.height() / page.height()) * t.frameToView();
}

void InkOverlay::cancelStroke()
{
    m_active.reset();
    m_erasing = false;
    clearActiveLayer();
    updateVisibility();
    update();
}

void InkOverlay::begin(QPointF position, float pressure, bool erase)
{
    if (!m_inking)
        return;
    if (strokeInProgress())
        end();
    const capture::ViewTransform t = shownTransform();
    if (!t.isValid())
        return; // no picture to draw on
    m_page->adoptPageSize(t.frameSize());
    if (erase || m_tool == InkTool::Eraser) {
        m_erasing = true;
        ++m_eraseGesture;
        m_eraseFrom.reset();
        eraseAt(position);
        return;
    }
    const QTransform toView = *pageToView();
    const double scale = inkScale(toView);
    m_active = std::make_unique<InkStroke>();
    m_active->highlighter = m_tool == InkTool::Highlighter;
    m_active->colour = m_active->highlighter ? QColor(255, 230, 0) : m_colour;
    m_active->width = float(m_width * (m_active->highlighter ? kHighlighterWidths : 1.0) / scale);
    const QPointF p = toView.inverted().map(position);
    m_active->points.push_back({float(p.x()), float(p.y()), m_active->highlighter ? 1.0f : pressure});
    redrawActive(toView);
    updateVisibility();
    update();
}

void InkOverlay::extend(QPointF position, float pressure)
{
    if (m_erasing) {
        eraseAt(position);
        return;
    }
    if (!m_active)
        return;
    const std::optional<QTransform> toView = pageToView();
    if (!toView)
        return;
    const QPointF last = toView->map(m_active->points.back().pos());
    if (std::hypot(position.x() - last.x(), position.y() - last.y()) < kMinStep)
        return;
    const QPointF p = toView->inverted().map(position);
    m_active->points.push_back({float(p.x()), float(p.y()), m_active->highlighter ? 1.0f : pressure});
    if (*toView == m_activeTransform && !m_activeLayer.isNull())
        drawNewPieces(*toView);
    else
        redrawActive(*toView);
    // Only around the newest points: the stroke keeps up with the pointer however much ink
    // the page holds.
    const size_t n = m_active->points.size();
    QRectF dirty(position, position);
    for (size_t i = n >= 3 ? n - 3 : 0; i < n; ++i)
        dirty |= QRectF(toView->map(m_active->points[i].pos()), QSizeF(1, 1));
    const double reach = m_active->width * inkScale(*toView) * 2 + 2;
    const QRect changed = dirty.adjusted(-reach, -reach, reach, reach).toAlignedRect();
    m_activeBounds |= changed;
    showSoon(changed);
}

// Whether the live picture is being painted again frame by frame now (and the ink over it with it).
bool InkOverlay::liveFramesFlow()
{
    if (m_stack->currentWidget() != m_live)
        return false;
    const quint64 shown = m_live->framesShown();
    if (shown != m_liveFrames || !m_sinceLiveFrame.isValid()) {
        m_liveFrames = shown;
        m_sinceLiveFrame.start();
    }
    return m_sinceLiveFrame.elapsed() < kFrameGapMilliseconds;
}

// A pen sends points faster than a screen shows pictures (120 Hz and more). Over the live picture
// the stroke so far is painted with each frame of the camera, in step with the page it is on; over
// a still the first change is shown at once, those that follow within one refresh of the screen
// together, at its end.
void InkOverlay::showSoon(QRect area)
{
    m_dirty |= area;
    if (m_refresh.isActive())
        return;
    if (liveFramesFlow()) {
        // Looked at again in a moment, in case the frames stop (a camera pulled out, a freeze).
        m_refresh.start(kFrameGapMilliseconds);
        return;
    }
    update(m_dirty);
    m_dirty = QRect();
    const double hz = screen() ? screen()->refreshRate() : 60.0;
    m_refresh.start(std::max(1, int(1000.0 / std::max(hz, 1.0))));
}

void InkOverlay::end()
{
    m_erasing = false;
    if (!m_active)
        return;
    m_active->finish();
    std::shared_ptr<const InkStroke> stroke(std::move(m_active));
    clearActiveLayer();
    // A pen's stroke goes on top of the picture of the finished ones as it is; a highlighter's
    // goes under the pen's, so that picture is made again.
    const std::optional<QTransform> toView = pageToView();
    const bool onTop = !stroke->highlighter && toView && !m_cache.isNull()
        && m_cacheKey == CacheKey{*toView, size(), devicePixelRatioF(), m_version};
    if (!m_page->add(stroke)) {
        Q_EMIT inkFull();
    } else if (onTop) {
        QPainter painter(&m_cache);
        painter.setRenderHint(QPainter::Antialiasing);
        paintStroke(painter, *stroke, *toView);
        m_cacheKey.version = m_version;
    }
    updateVisibility();
    update();
}

void InkOverlay::eraseAt(QPointF position)
{
    const std::optional<QTransform> toView = pageToView();
    if (!toView)
        return;
    const double scale = inkScale(*toView);
    const QTransform toPage = toView->inverted();
    // Along the way from the last place, so that a quick sweep takes what it passed over.
    const QPointF from = m_eraseFrom.value_or(position);
    const int steps = std::max(1, int(std::ceil(QLineF(from, position).length() / (kEraserRadius / 2))));
    for (int i = 1; i <= steps; ++i)
        m_page->eraseAt(
            toPage.map(from + (position - from) * (double(i) / steps)), kEraserRadius / scale, m_eraseGesture);
    m_eraseFrom = position;
}

QImage InkOverlay::blankLayer() const
{
    const qreal ratio = devicePixelRatioF();
    QImage layer(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    return layer;
}

void InkOverlay::makeCache(const CacheKey &key)
{
    m_cache = blankLayer();
    QPainter painter(&m_cache);
    paintInk(painter, m_page->strokes(), key.pageToView);
    m_cacheKey = key;
}

void InkOverlay::clearActiveLayer()
{
    // The layer is kept from stroke to stroke: only where the last stroke was is made clear.
    if (!m_activeBounds.isEmpty() && !m_activeLayer.isNull()) {
        QPainter painter(&m_activeLayer);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(m_activeBounds, Qt::transparent);
    }
    m_activeBounds = QRect();
}

void InkOverlay::redrawActive(const QTransform &pageToView)
{
    if (m_activeLayer.size() != size() * devicePixelRatioF())
        m_activeLayer = blankLayer();
    else
        clearActiveLayer();
    m_activeTransform = pageToView;
    m_activeDrawn = 1;
    drawNewPieces(pageToView);
    QRectF bounds;
    for (const InkPoint &point : m_active->points)
        bounds |= QRectF(pageToView.map(point.pos()), QSizeF(1, 1));
    const double reach = m_active->width * inkScale(pageToView) * 2 + 2;
    m_activeBounds = bounds.adjusted(-reach, -reach, reach, reach).toAlignedRect();
}

void InkOverlay::drawNewPieces(const QTransform &pageToView)
{
    const size_t pieces = strokePieces(m_active->points.size());
    if (pieces + 1 <= m_activeDrawn)
        return;
    QPainter painter(&m_activeLayer);
    painter.setRenderHint(QPainter::Antialiasing);
    paintStrokePieces(painter, *m_active, m_activeDrawn, pieces + 1, pageToView);
    m_activeDrawn = pieces + 1;
}

// Whether the picture of the finished strokes is made again now for `key`. Otherwise (much ink,
// and only the view's mapping changed: a zoom step, a pan, a turn) the picture made for the mapping
// before is shown moved along, and made again sharp once the view has rested a moment.
bool InkOverlay::remakeNow(const CacheKey &key)
{
    const bool onlyMoved = !m_cache.isNull() && m_cacheKey.version == key.version && m_cacheKey.size == key.size
        && m_cacheKey.ratio == key.ratio;
    if (!onlyMoved || m_sharpenDue || m_page->pointsHeld() <= kQuickRedrawPoints)
        return true;
    if (!(key == m_interimKey)) {
        m_interimKey = key;
        m_sharpen.start();
    }
    return false;
}

void InkOverlay::paintEvent(QPaintEvent *event)
{
    QElapsedTimer timer;
    timer.start();
    const std::optional<QTransform> toView = pageToView();
    if (!toView)
        return;
    const CacheKey key{*toView, size(), devicePixelRatioF(), m_version};
    m_interim = !m_cache.isNull() && !(m_cacheKey == key) && !remakeNow(key);
    if (!m_interim && (m_cache.isNull() || !(m_cacheKey == key))) {
        makeCache(key);
        m_sharpen.stop();
        m_sharpenDue = false;
    }
    if (m_active && m_activeTransform != *toView)
        redrawActive(*toView);
    // Only the part asked for, and only over the picture: a plain copy of that rectangle, with no
    // clipping for the painter to do.
    const QRect area = event->rect() & shownTransform().pictureRect().toAlignedRect();
    if (area.isEmpty())
        return;
    const qreal ratio = devicePixelRatioF();
    auto source = [ratio](QRect part) { return QRectF(QPointF(part.topLeft()) * ratio, QSizeF(part.size()) * ratio); };
    const QRect activeArea = area & m_activeBounds;
    QPainter painter(this);
    const bool activeUnder = m_active && m_active->highlighter;
    if (activeUnder) {
        painter.setOpacity(kHighlighterOpacity);
        painter.drawImage(activeArea, m_activeLayer, source(activeArea));
        paintActiveTail(painter, *toView, area);
        painter.setOpacity(1);
    }
    if (m_interim) {
        painter.save();
        painter.setClipRect(area);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setTransform(m_cacheKey.pageToView.inverted() * key.pageToView);
        painter.drawImage(QPointF(0, 0), m_cache);
        painter.restore();
    } else {
        painter.drawImage(area, m_cache, source(area));
    }
    if (m_active && !activeUnder) {
        painter.drawImage(activeArea, m_activeLayer, source(activeArea));
        paintActiveTail(painter, *toView, area);
    }
    if (event->rect().contains(m_dirty))
        m_dirty = QRect();
    ++m_paints;
    m_paintNanos += timer.nsecsElapsed();
}

void InkOverlay::paintActiveTail(QPainter &painter, const QTransform &pageToView, QRect area)
{
    painter.save();
    painter.setClipRect(area);
    painter.setRenderHint(QPainter::Antialiasing);
    paintStrokeTail(painter, *m_active, pageToView);
    painter.restore();
}

} // namespace quillora::app
