// SPDX-License-Identifier: GPL-3.0-or-later
#include "InkPage.h"

#include <QLineF>

#include <algorithm>
#include <cmath>

namespace quillora::app {

namespace {

// The distance from `p` to the segment from `a` to `b`.
double distanceToSegment(QPointF p, QPointF a, QPointF b)
{
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    const double t = length2 > 0 ? std::clamp(QPointF::dotProduct(p - a, ab) / length2, 0.0, 1.0) : 0.0;
    return QLineF(p, a + t * ab).length();
}

} // namespace

void InkStroke::finish()
{
    if (points.empty()) {
        bounds = QRectF();
        return;
    }
    float left = points.front().x, right = left, top = points.front().y, bottom = top, pressure = 0;
    for (const InkPoint &p : points) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
        pressure = std::max(pressure, p.pressure);
    }
    const double half = width * std::max(1.0f, pressure) / 2.0;
    bounds = QRectF(QPointF(left, top), QPointF(right, bottom)).adjusted(-half, -half, half, half);
}

bool InkStroke::uniformWidth() const
{
    return highlighter || std::all_of(points.begin(), points.end(), [&](const InkPoint &p) {
        return p.pressure == points[0].pressure;
    });
}

bool InkStroke::touches(QPointF point, double radius) const
{
    if (points.empty() || !bounds.adjusted(-radius, -radius, radius, radius).contains(point))
        return false;
    if (points.size() == 1)
        return QLineF(point, points[0].pos()).length() <= radius + width * points[0].pressure / 2;
    for (size_t i = 1; i < points.size(); ++i) {
        const double reach = radius + width * std::max(points[i - 1].pressure, points[i].pressure) / 2;
        if (distanceToSegment(point, points[i - 1].pos(), points[i].pos()) <= reach)
            return true;
    }
    return false;
}

InkPage::InkPage(QObject *parent)
    : QObject(parent)
{
}

InkPage::~InkPage() = default;

void InkPage::adoptPageSize(QSizeF frameSize)
{
    if (m_strokes.empty() && m_undo.empty() && m_redo.empty())
        m_pageSize = frameSize;
}

void InkPage::hold(const InkStrokePtr &stroke)
{
    if (++m_holders[stroke.get()] == 1)
        m_heldPoints += stroke->points.size();
}

void InkPage::letGo(const InkStrokePtr &stroke)
{
    const auto it = m_holders.find(stroke.get());
    if (it == m_holders.end() || --it->second > 0)
        return;
    m_heldPoints -= stroke->points.size();
    m_holders.erase(it);
}

void InkPage::dropStep(const Step &step)
{
    for (const auto &entry : step.strokes)
        letGo(entry.second);
}

bool InkPage::makeRoomFor(size_t points)
{
    if (points > kMaxPoints)
        return false;
    // A new step ends what could be redone; what is held only for undo goes next, oldest first.
    dropRedo();
    size_t dropped = 0;
    while (m_heldPoints + points > kMaxPoints && dropped < m_undo.size()) {
        const int group = m_undo[dropped].group;
        do
            dropStep(m_undo[dropped++]);
        while (group != 0 && dropped < m_undo.size() && m_undo[dropped].group == group);
    }
    m_undo.erase(m_undo.begin(), m_undo.begin() + std::ptrdiff_t(dropped));
    return m_heldPoints + points <= kMaxPoints;
}

void InkPage::apply(const Step &step, bool forward)
{
    if (step.added == forward) {
        for (const auto &[index, stroke] : step.strokes) {
            m_strokes.insert(m_strokes.begin() + std::ptrdiff_t(std::min(index, m_strokes.size())), stroke);
            hold(stroke);
        }
    } else {
        for (auto it = step.strokes.rbegin(); it != step.strokes.rend(); ++it)
            if (it->first < m_strokes.size()) {
                letGo(m_strokes[it->first]);
                m_strokes.erase(m_strokes.begin() + std::ptrdiff_t(it->first));
            }
    }
}

void InkPage::dropRedo()
{
    for (const Step &step : m_redo)
        dropStep(step);
    m_redo.clear();
}

void InkPage::push(Step step)
{
    for (const auto &entry : step.strokes)
        hold(entry.second);
    apply(step, true);
    m_undo.push_back(std::move(step));
    Q_EMIT changed();
}

bool InkPage::add(InkStrokePtr stroke)
{
    if (!stroke || stroke->points.empty() || !makeRoomFor(stroke->points.size()))
        return false;
    Step step;
    step.added = true;
    step.strokes.emplace_back(m_strokes.size(), std::move(stroke));
    push(std::move(step));
    return true;
}

size_t InkPage::eraseAt(QPointF point, double radius, int gesture)
{
    Step step;
    step.group = gesture;
    for (size_t i = 0; i < m_strokes.size(); ++i)
        if (m_strokes[i]->touches(point, radius))
            step.strokes.emplace_back(i, m_strokes[i]);
    if (step.strokes.empty())
        return 0;
    dropRedo();
    const size_t erased = step.strokes.size();
    push(std::move(step));
    return erased;
}

void InkPage::clear()
{
    if (m_strokes.empty()) {
        Q_EMIT strokesCleared();
        return;
    }
    Step step;
    for (size_t i = 0; i < m_strokes.size(); ++i)
        step.strokes.emplace_back(i, m_strokes[i]);
    dropRedo();
    push(std::move(step));
    Q_EMIT strokesCleared();
}

void InkPage::reset()
{
    const bool had = !m_strokes.empty() || !m_undo.empty() || !m_redo.empty();
    m_strokes.clear();
    m_undo.clear();
    m_redo.clear();
    m_holders.clear();
    m_heldPoints = 0;
    m_pageSize = QSizeF();
    Q_EMIT strokesCleared();
    if (had)
        Q_EMIT changed();
}

void InkPage::undo()
{
    if (m_undo.empty())
        return;
    const int group = m_undo.back().group;
    do {
        apply(m_undo.back(), false);
        m_redo.push_back(std::move(m_undo.back()));
        m_undo.pop_back();
    } while (group != 0 && !m_undo.empty() && m_undo.back().group == group);
    Q_EMIT changed();
}

void InkPage::redo()
{
    if (m_redo.empty())
        return;
    const int group = m_redo.back().group;
    do {
        apply(m_redo.back(), true);
        m_undo.push_back(std::move(m_redo.back()));
        m_redo.pop_back();
    } while (group != 0 && !m_redo.empty() && m_redo.back().group == group);
    Q_EMIT changed();
}

} // namespace quillora::app
