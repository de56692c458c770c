// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The ink over the picture, live or frozen: a transparent layer over the views that draws the
// page's strokes where the view shows the page (through the views' own mapping between view and
// frame coordinates) and, while inking, turns the mouse, a pen tablet (its pressure widens the
// stroke) and a finger into strokes. Nothing is drawn into the camera's frames: the finished
// strokes are kept in a picture of the view's size, made again only when the ink or the view's
// mapping changes, and a stroke being drawn is added to a picture of its own piece by piece as its
// points arrive. Main thread only.
#include "InkPage.h"
#include "ViewTransform.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

class QPainter;
class QStackedWidget;

namespace quillora::capture {
class CaptureView;
}

namespace quillora::app {

class ImageView;

enum class InkTool { Pen, Highlighter, Eraser };

class InkOverlay : public QWidget {
    Q_OBJECT
public:
    // Lies over `stack`, which shows `live` or `still`; draws the strokes of `page`.
    InkOverlay(QStackedWidget *stack, capture::CaptureView *live, ImageView *still, InkPage *page);
    ~InkOverlay() override;

    // While inking, the pointer draws (or erases); otherwise it passes through to the picture.
    void setInking(bool inking);
    bool isInking() const { return m_inking; }
    void setTool(InkTool tool) { m_tool = tool; }
    InkTool tool() const { return m_tool; }
    void setColour(const QColor &colour) { m_colour = colour; }
    QColor colour() const { return m_colour; }
    // The pen's width in view pixels as drawn now (the highlighter's is kHighlighterWidths times).
    void setWidth(double viewPixels) { m_width = viewPixels; }
    double width() const { return m_width; }
    static constexpr double kHighlighterWidths = 5.0;
    // The eraser takes the strokes within this many view pixels of the pointer.
    static constexpr double kEraserRadius = 8.0;

    bool strokeInProgress() const { return bool(m_active) || m_erasing; }
    // Drops the stroke being drawn: the rest of that drag draws nothing.
    void cancelStroke();

    // The view's mapping from page pixels to this widget's coordinates now; none while the
    // view shows no picture.
    std::optional<QTransform> pageToView() const;

    // With more points than this, a change of the view shows the strokes' picture moved along at
    // once and makes it again sharp once the view has rested for kSharpenMilliseconds.
    static constexpr size_t kQuickRedrawPoints = 20'000;
    static constexpr int kSharpenMilliseconds = 150;
    // The strokes shown now are the picture made for the view before, moved along.
    bool showsMovedInk() const { return m_interim; }

    // For the benchmark: paints so far and the time they took.
    quint64 paints() const { return m_paints; }
    qint64 paintNanoseconds() const { return m_paintNanos; }

Q_SIGNALS:
    // A stroke found no room: the ink holds as many points as it may.
    void inkFull();
    // The pointer moved over the picture (the tools' bar shows near the edge in full screen).
    void pointerMoved(QPoint position);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void tabletEvent(QTabletEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct CacheKey {
        QTransform pageToView;
        QSize size;
        qreal ratio = 1;
        quint64 version = 0;
        bool operator==(const CacheKey &) const = default;
    };

    QWidget *shownView() const;
    capture::ViewTransform shownTransform() const;
    void follow();
    void updateVisibility();
    bool touch(QEvent *event);

    void begin(QPointF position, float pressure, bool erase);
    void extend(QPointF position, float pressure);
    void end();
    void eraseAt(QPointF position);

    QImage blankLayer() const;
    void makeCache(const CacheKey &key);
    void redrawActive(const QTransform &pageToView);
    void clearActiveLayer();
    bool remakeNow(const CacheKey &key);
    void drawNewPieces(const QTransform &pageToView);
    void showSoon(QRect area);
    bool liveFramesFlow();
    // Live frames further apart than this have stopped coming.
    static constexpr int kFrameGapMilliseconds = 60;
    void paintActiveTail(QPainter &painter, const QTransform &pageToView, QRect area);

    QStackedWidget *m_stack;
    capture::CaptureView *m_live;
    ImageView *m_still;
    InkPage *m_page;
    bool m_inking = false;
    InkTool m_tool = InkTool::Pen;
    QColor m_colour;
    double m_width = 4;

    std::unique_ptr<InkStroke> m_active; // the stroke being drawn, in page pixels
    size_t m_activeDrawn = 1;            // the next piece of it to draw into m_activeLayer
    QImage m_activeLayer;
    bool m_erasing = false;
    int m_eraseGesture = 0;
    std::optional<QPointF> m_eraseFrom; // where the eraser was last, in view coordinates
    std::optional<int> m_touchId;       // the finger drawing

    quint64 m_version = 1; // counts the page's changes
    QImage m_cache;        // the finished strokes as the view shows them
    CacheKey m_cacheKey;
    QTransform m_activeTransform; // the mapping m_activeLayer was drawn with
    QRect m_activeBounds;         // where m_activeLayer has the stroke being drawn
    bool m_interim = false;       // the last paint showed m_cache moved along
    CacheKey m_interimKey;        // the mapping the sharpening waits to rest at
    QTimer m_sharpen;
    bool m_sharpenDue = false;

    QTimer m_refresh;               // runs for one refresh of the screen after the stroke's last repaint
    QRect m_dirty;                  // what the stroke changed since
    quint64 m_liveFrames = 0;       // the live view's frames shown, when last looked at
    QElapsedTimer m_sinceLiveFrame; // since that count changed

    quint64 m_paints = 0;
    qint64 m_paintNanos = 0;
};

} // namespace quillora::app
