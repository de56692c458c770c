// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the camera's picture lies in a view: the frame (the camera's pixels, as it sends them)
// turned by quarter turns, mirrored, fitted into the view with its aspect kept, then zoomed and
// panned. This is the one place that maps between view coordinates and frame coordinates, both
// ways: the live picture, the still and anything drawn over them use the same mapping.
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QTransform>

namespace quillora::capture {

// How a picture is shown: `turns` quarter turns clockwise (0 to 3), then mirrored left to right.
struct PictureOrientation {
    int turns = 0;
    bool mirrored = false;
    friend bool operator==(const PictureOrientation &, const PictureOrientation &) = default;
};

// How far a view is zoomed and where: `factor` 1 shows the whole picture (fit), up to
// ViewTransform::kMaxZoom; `centre` is the point of the frame in the middle of the view, in
// fractions of the frame's width and height (so it means the same spot of the page whatever the
// frame's size, turn or mirror).
struct ViewZoom {
    double factor = 1.0;
    QPointF centre{0.5, 0.5};
    friend bool operator==(const ViewZoom &, const ViewZoom &) = default;
};

class ViewTransform {
public:
    static constexpr double kMaxZoom = 8.0;

    // Any of these keeps the page in the view: the centre is clamped so that a zoomed picture
    // always covers the view along each side it is larger than the view.
    void setViewSize(QSizeF size);
    void setFrameSize(QSize size);
    void setOrientation(PictureOrientation orientation);
    void setZoom(const ViewZoom &zoom);

    QSizeF viewSize() const { return m_view; }
    QSize frameSize() const { return m_frame; }
    PictureOrientation orientation() const { return m_orientation; }
    ViewZoom zoom() const { return {m_factor, m_centre}; }
    bool isZoomed() const { return m_factor > 1.0 + 1e-9; }
    // Both the view and the frame have a size: the mapping means something.
    bool isValid() const { return !m_view.isEmpty() && !m_frame.isEmpty(); }

    // Zooms to `factor` (clamped to 1 .. kMaxZoom) keeping the point of the page under
    // `viewPoint` where it is, as far as the page's edges allow.
    void zoomAbout(double factor, QPointF viewPoint);
    // Moves the picture by `delta` view units (a drag), as far as the page's edges allow.
    void panBy(QPointF delta);
    void fit();

    // View units per frame pixel.
    double scale() const;
    // Frame pixels to view coordinates (turn, mirror, scale, pan), and back.
    QTransform frameToView() const;
    QPointF toView(QPointF framePoint) const;
    QPointF toFrame(QPointF viewPoint) const;
    // The whole picture in view coordinates (larger than the view when zoomed).
    QRectF pictureRect() const;
    // The part of the frame the view shows, in frame pixels.
    QRectF visibleFrameRect() const;

private:
    QSizeF turnedFrameSize() const;
    // Frame fractions to fractions of the turned and mirrored picture, and back.
    QPointF toPicture(QPointF frameFractions) const;
    QPointF fromPicture(QPointF pictureFractions) const;
    // The picture's top left corner in the view for the current zoom and centre.
    QPointF pictureOrigin() const;
    // The centre moved to the nearest place that keeps the page in the view.
    void clampCentre();

    QSizeF m_view;
    QSize m_frame;
    PictureOrientation m_orientation;
    double m_factor = 1.0;
    QPointF m_centre{0.5, 0.5};
};

} // namespace quillora::capture
