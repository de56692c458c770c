// SPDX-License-Identifier: GPL-3.0-or-later
#include "InkPainting.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace quillora::app {

namespace {

QPen strokePen(const InkStroke &stroke, double width)
{
    QColor colour = stroke.colour;
    colour.setAlpha(255);
    QPen pen(colour, std::max(width, 0.5), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    return pen;
}

QPointF mapped(const QTransform &t, const InkPoint &p)
{
    return t.map(p.pos());
}

QPointF middle(QPointF a, QPointF b)
{
    return (a + b) / 2;
}

// Where piece i (1 <= i) starts: the first point, or halfway between points i - 1 and i.
QPointF pieceStart(const InkStroke &s, size_t i, const QTransform &t)
{
    return i == 1 ? mapped(t, s.points[0]) : middle(mapped(t, s.points[i - 1]), mapped(t, s.points[i]));
}

void paintDot(QPainter &painter, const InkStroke &stroke, const QTransform &t, double scale)
{
    const InkPoint &p = stroke.points.front();
    painter.setPen(strokePen(stroke, stroke.width * p.pressure * scale));
    painter.drawPoint(mapped(t, p));
}

} // namespace

double inkScale(const QTransform &pageToTarget)
{
    return std::sqrt(std::abs(pageToTarget.determinant()));
}

void paintStrokePieces(QPainter &painter, const InkStroke &stroke, size_t from, size_t to, const QTransform &t)
{
    const size_t pieces = strokePieces(stroke.points.size());
    to = std::min(to, pieces + 1);
    const double scale = inkScale(t);
    for (size_t i = std::max<size_t>(from, 1); i < to; ++i) {
        QPainterPath path(pieceStart(stroke, i, t));
        const QPointF control = mapped(t, stroke.points[i]);
        path.quadTo(control, middle(control, mapped(t, stroke.points[i + 1])));
        painter.strokePath(path, strokePen(stroke, stroke.width * stroke.points[i].pressure * scale));
    }
}

void paintStrokeTail(QPainter &painter, const InkStroke &stroke, const QTransform &t)
{
    const size_t n = stroke.points.size();
    if (n == 0)
        return;
    const double scale = inkScale(t);
    if (n == 1) {
        paintDot(painter, stroke, t, scale);
        return;
    }
    const QPointF start = n >= 3 ? middle(mapped(t, stroke.points[n - 2]), mapped(t, stroke.points[n - 1]))
                                 : mapped(t, stroke.points[0]);
    painter.setPen(strokePen(stroke, stroke.width * stroke.points[n - 1].pressure * scale));
    painter.drawLine(start, mapped(t, stroke.points[n - 1]));
}

void paintStroke(QPainter &painter, const InkStroke &stroke, const QTransform &t)
{
    if (stroke.points.empty())
        return;
    painter.save();
    if (stroke.highlighter)
        painter.setOpacity(painter.opacity() * kHighlighterOpacity);
    const double scale = inkScale(t);
    if (stroke.points.size() == 1) {
        paintDot(painter, stroke, t, scale);
    } else if (stroke.uniformWidth()) {
        // One path: a translucent stroke is as even where it crosses itself as elsewhere.
        const size_t n = stroke.points.size();
        QPainterPath path(mapped(t, stroke.points[0]));
        for (size_t i = 1; i + 1 < n; ++i) {
            const QPointF control = mapped(t, stroke.points[i]);
            path.quadTo(control, middle(control, mapped(t, stroke.points[i + 1])));
        }
        path.lineTo(mapped(t, stroke.points[n - 1]));
        painter.strokePath(path, strokePen(stroke, stroke.width * stroke.points[0].pressure * scale));
    } else {
        paintStrokePieces(painter, stroke, 1, strokePieces(stroke.points.size()) + 1, t);
        paintStrokeTail(painter, stroke, t);
    }
    painter.restore();
}

void paintInk(QPainter &painter, const std::vector<InkStrokePtr> &strokes, const QTransform &pageToTarget)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    for (bool highlighters : {true, false})
        for (const InkStrokePtr &stroke : strokes)
            if (stroke->highlighter == highlighters)
                paintStroke(painter, *stroke, pageToTarget);
    painter.restore();
}

} // namespace quillora::app
