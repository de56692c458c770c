// SPDX-License-Identifier: GPL-3.0-or-later
#include "ViewTransform.h"

#include <algorithm>
#include <cmath>

namespace quillora::capture {

void ViewTransform::setViewSize(QSizeF size)
{
    m_view = size;
    clampCentre();
}

void ViewTransform::setFrameSize(QSize size)
{
    m_frame = size;
    clampCentre();
}

void ViewTransform::setOrientation(PictureOrientation orientation)
{
    orientation.turns = ((orientation.turns % 4) + 4) % 4;
    m_orientation = orientation;
    clampCentre();
}

void ViewTransform::setZoom(const ViewZoom &zoom)
{
    m_factor = std::isfinite(zoom.factor) ? std::clamp(zoom.factor, 1.0, kMaxZoom) : 1.0;
    const bool finite = std::isfinite(zoom.centre.x()) && std::isfinite(zoom.centre.y());
    m_centre = finite ? QPointF(std::clamp(zoom.centre.x(), 0.0, 1.0), std::clamp(zoom.centre.y(), 0.0, 1.0))
                      : QPointF(0.5, 0.5);
    clampCentre();
}

void ViewTransform::fit()
{
    setZoom({});
}

QSizeF ViewTransform::turnedFrameSize() const
{
    return m_orientation.turns % 2 ? QSizeF(m_frame.height(), m_frame.width()) : QSizeF(m_frame);
}

QPointF ViewTransform::toPicture(QPointF f) const
{
    QPointF p;
    switch (m_orientation.turns) {
    case 1: // a quarter clockwise: the left edge becomes the top
        p = {1.0 - f.y(), f.x()};
        break;
    case 2:
        p = {1.0 - f.x(), 1.0 - f.y()};
        break;
    case 3:
        p = {f.y(), 1.0 - f.x()};
        break;
    default:
        p = f;
        break;
    }
    if (m_orientation.mirrored)
        p.setX(1.0 - p.x());
    return p;
}

QPointF ViewTransform::fromPicture(QPointF p) const
{
    if (m_orientation.mirrored)
        p.setX(1.0 - p.x());
    switch (m_orientation.turns) {
    case 1:
        return {p.y(), 1.0 - p.x()};
    case 2:
        return {1.0 - p.x(), 1.0 - p.y()};
    case 3:
        return {1.0 - p.y(), p.x()};
    default:
        return p;
    }
}

double ViewTransform::scale() const
{
    if (!isValid())
        return 1.0;
    const QSizeF turned = turnedFrameSize();
    return std::min(m_view.width() / turned.width(), m_view.height() / turned.height()) * m_factor;
}

QPointF ViewTransform::pictureOrigin() const
{
    const QSizeF shown = turnedFrameSize() * scale();
    const QPointF centre = toPicture(m_centre);
    // Along a side where the picture is no larger than the view it stands in the middle (the
    // bars of a fitted picture); along a larger side the centre says where it lies.
    const double x = shown.width() <= m_view.width() + 1e-9 ? (m_view.width() - shown.width()) / 2
                                                            : m_view.width() / 2 - centre.x() * shown.width();
    const double y = shown.height() <= m_view.height() + 1e-9 ? (m_view.height() - shown.height()) / 2
                                                              : m_view.height() / 2 - centre.y() * shown.height();
    return {x, y};
}

void ViewTransform::clampCentre()
{
    if (!isValid())
        return;
    const QSizeF shown = turnedFrameSize() * scale();
    QPointF p = toPicture(m_centre);
    auto clampSide = [](double centre, double view, double picture) {
        if (picture <= view + 1e-9)
            return 0.5;
        const double half = view / 2 / picture;
        return std::clamp(centre, half, 1.0 - half);
    };
    p.setX(clampSide(p.x(), m_view.width(), shown.width()));
    p.setY(clampSide(p.y(), m_view.height(), shown.height()));
    m_centre = fromPicture(p);
}

QTransform ViewTransform::frameToView() const
{
    if (!isValid())
        return {};
    const double w = m_frame.width();
    const double h = m_frame.height();
    // Frame pixels to the pixels of the turned picture; Qt maps (x, y) to
    // (m11 x + m21 y + dx, m12 x + m22 y + dy).
    QTransform turn;
    switch (m_orientation.turns) {
    case 1:
        turn = QTransform(0, 1, -1, 0, h, 0);
        break;
    case 2:
        turn = QTransform(-1, 0, 0, -1, w, h);
        break;
    case 3:
        turn = QTransform(0, -1, 1, 0, 0, w);
        break;
    default:
        break;
    }
    if (m_orientation.mirrored)
        turn *= QTransform(-1, 0, 0, 1, turnedFrameSize().width(), 0);
    const double s = scale();
    const QPointF origin = pictureOrigin();
    return turn * QTransform(s, 0, 0, s, origin.x(), origin.y());
}

QPointF ViewTransform::toView(QPointF framePoint) const
{
    return frameToView().map(framePoint);
}

QPointF ViewTransform::toFrame(QPointF viewPoint) const
{
    bool invertible = false;
    const QTransform back = frameToView().inverted(&invertible);
    return invertible ? back.map(viewPoint) : QPointF();
}

QRectF ViewTransform::pictureRect() const
{
    if (!isValid())
        return {};
    return QRectF(pictureOrigin(), turnedFrameSize() * scale());
}

QRectF ViewTransform::visibleFrameRect() const
{
    if (!isValid())
        return {};
    const QRectF shown = pictureRect() & QRectF(QPointF(0, 0), m_view);
    bool invertible = false;
    const QTransform back = frameToView().inverted(&invertible);
    if (!invertible || shown.isEmpty())
        return {};
    return back.mapRect(shown) & QRectF(QPointF(0, 0), QSizeF(m_frame));
}

void ViewTransform::zoomAbout(double factor, QPointF viewPoint)
{
    if (!isValid()) {
        setZoom({factor, m_centre});
        return;
    }
    const QPointF under = toFrame(viewPoint);
    const QPointF fraction(under.x() / m_frame.width(), under.y() / m_frame.height());
    m_factor = std::isfinite(factor) ? std::clamp(factor, 1.0, kMaxZoom) : m_factor;
    // The centre that puts `fraction` of the page back under `viewPoint` at the new scale.
    const QSizeF shown = turnedFrameSize() * scale();
    const QPointF at = toPicture(fraction);
    const QPointF centre((m_view.width() / 2 - viewPoint.x()) / shown.width() + at.x(),
        (m_view.height() / 2 - viewPoint.y()) / shown.height() + at.y());
    m_centre = fromPicture(centre);
    clampCentre();
}

void ViewTransform::panBy(QPointF delta)
{
    if (!isValid())
        return;
    const QSizeF shown = turnedFrameSize() * scale();
    const QPointF centre = toPicture(m_centre) - QPointF(delta.x() / shown.width(), delta.y() / shown.height());
    m_centre = fromPicture(centre);
    clampCentre();
}

} // namespace quillora::capture
