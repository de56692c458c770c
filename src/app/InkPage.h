// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The ink drawn over the page: strokes kept in the page's own coordinates (pixels of the camera
// frame the first stroke was drawn on, whatever the view's zoom, pan, turn or mirror), with their
// undo and redo. Memory is bounded: the points held (shown, and kept for undo) never pass
// kMaxPoints; the oldest undo steps are forgotten first, and a stroke that still finds no room is
// refused. Main thread only.
#include <QColor>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quillora::app {

// One sampled point of a stroke, in page pixels; `pressure` scales the stroke's width there
// (1 for a mouse or a finger).
struct InkPoint {
    float x = 0;
    float y = 0;
    float pressure = 1;
    QPointF pos() const { return {x, y}; }
};

struct InkStroke {
    bool highlighter = false; // translucent, drawn under the pen's strokes
    QColor colour;
    float width = 1; // in page pixels, at pressure 1
    std::vector<InkPoint> points;
    QRectF bounds; // of the points, widened by half the widest width; set by finish()

    void finish();
    // Whether the stroke's line passes within `radius` page pixels of `point`.
    bool touches(QPointF point, double radius) const;
    // Whether the pressure is the same all along (one path draws it).
    bool uniformWidth() const;
};
using InkStrokePtr = std::shared_ptr<const InkStroke>;

class InkPage : public QObject {
    Q_OBJECT
public:
    // About 24 MB of points: far beyond a lesson's ink (2,000 strokes are about 200,000 points).
    static constexpr size_t kMaxPoints = 2'000'000;

    explicit InkPage(QObject *parent = nullptr);
    ~InkPage() override;

    // The frame size the page's coordinates are pixels of; empty until the first stroke.
    QSizeF pageSize() const { return m_pageSize; }
    // Sets the page's size when it holds no ink and no history; otherwise keeps the one it has.
    void adoptPageSize(QSizeF frameSize);

    const std::vector<InkStrokePtr> &strokes() const { return m_strokes; }
    bool isEmpty() const { return m_strokes.empty(); }

    // Adds a finished stroke (an undo step of its own); false when there is no room for it.
    bool add(InkStrokePtr stroke);
    // Removes every stroke passing within `radius` of `point`. The removals made with the same
    // `gesture` (one drag of the eraser) are undone and redone together. Returns how many.
    size_t eraseAt(QPointF point, double radius, int gesture);
    // Removes every stroke, as one step that can be undone.
    void clear();
    // Forgets everything, history and page size included (another camera's page).
    void reset();

    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    void undo();
    void redo();

    // Points of every stroke kept, shown or held for undo and redo, each stroke counted once.
    size_t pointsHeld() const { return m_heldPoints; }

Q_SIGNALS:
    // The strokes shown, or what can be undone or redone, changed.
    void changed();
    // Every stroke went (Clear, or another camera's page): a stroke being drawn goes too.
    void strokesCleared();

private:
    // Strokes added (`added`) or removed at the indices they have among the shown strokes.
    struct Step {
        bool added = false;
        int group = 0;                                        // steps of one group go together; 0 is a group of one
        std::vector<std::pair<size_t, InkStrokePtr>> strokes; // ascending indices
    };
    void apply(const Step &step, bool forward);
    void push(Step step);
    bool makeRoomFor(size_t points);
    // Counts a place that keeps `stroke` (the strokes shown, a step), and one that no longer does.
    void hold(const InkStrokePtr &stroke);
    void letGo(const InkStrokePtr &stroke);
    void dropStep(const Step &step);
    void dropRedo();

    QSizeF m_pageSize;
    std::vector<InkStrokePtr> m_strokes; // in drawing order
    std::vector<Step> m_undo;
    std::vector<Step> m_redo;
    std::unordered_map<const InkStroke *, size_t> m_holders; // places keeping each stroke
    size_t m_heldPoints = 0;                                 // of the strokes in m_holders
};

} // namespace quillora::app
