// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How ink is drawn, the same way over the view and into an annotated photo: the sampled points
// joined by quadratic curves through their midpoints (no corners where the pointer turned), round
// ends, the width following the pen's pressure; the highlighter's strokes under the pen's.
#include "InkPage.h"

#include <QTransform>

#include <vector>

class QPainter;

namespace quillora::app {

// The highlighter's colour is drawn opaque and laid down at this opacity, so that a stroke
// crossing itself is no darker where it crosses.
constexpr double kHighlighterOpacity = 0.4;

// Draws `strokes` mapped by `pageToTarget` (page pixels to the painter's coordinates):
// highlighters first, then the pen's strokes, each in the order drawn.
void paintInk(QPainter &painter, const std::vector<InkStrokePtr> &strokes, const QTransform &pageToTarget);
// Draws one stroke, highlighters at their opacity.
void paintStroke(QPainter &painter, const InkStroke &stroke, const QTransform &pageToTarget);
// Draws the curve pieces of `stroke` from piece `from` up to (not including) piece `to`, opaque:
// piece i (1 <= i < points - 1) ends halfway between points i and i + 1. A stroke being drawn is
// painted this way as its points arrive, each piece once.
void paintStrokePieces(
    QPainter &painter, const InkStroke &stroke, size_t from, size_t to, const QTransform &pageToTarget);
// Draws the rest of a stroke being drawn: from the end of its last piece to its newest point.
void paintStrokeTail(QPainter &painter, const InkStroke &stroke, const QTransform &pageToTarget);
// How many pieces a stroke of `points` points has.
inline size_t strokePieces(size_t points)
{
    return points >= 3 ? points - 2 : 0;
}
// How many target units a page pixel is under `pageToTarget` (its scale, whatever it turns).
double inkScale(const QTransform &pageToTarget);

} // namespace quillora::app
