// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureView.h"

#include <QMetaObject>
#include <QPainter>
#include <QRegion>

#include <cmath>
#include <cstdlib>

namespace quillora::capture {

namespace {

// Two frame sizes of the same shape: a camera change or a new mode that keeps it keeps the zoom.
bool sameShape(QSize a, QSize b)
{
    const double ratioA = double(a.width()) / a.height();
    const double ratioB = double(b.width()) / b.height();
    return std::abs(ratioA - ratioB) <= 0.01 * ratioA;
}

// The whole pixels inside `r`: what a picture drawn over `r` surely covers.
QRect pixelsInside(const QRectF &r)
{
    const int left = int(std::ceil(r.left()));
    const int top = int(std::ceil(r.top()));
    return QRect(left, top, int(std::floor(r.right())) - left, int(std::floor(r.bottom())) - top);
}

} // namespace

CaptureView::CaptureView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);
    m_transform.setViewSize(size());
}

CaptureView::~CaptureView()
{
    if (auto session = m_session.lock())
        session->setDisplaySink(nullptr);
}

DisplayRequest CaptureView::displayRequest() const
{
    const qreal ratio = devicePixelRatioF();
    // A picture shown turned by a quarter fits the box turned the other way.
    const QSize view = m_transform.orientation().turns % 2 ? size().transposed() : size();
    const QSize whole = view * ratio;
    if (!m_transform.isValid() || !m_transform.isZoomed())
        return {QRectF(0, 0, 1, 1), whole, whole};
    const QSizeF frame(m_transform.frameSize());
    QRectF part = m_transform.visibleFrameRect();
    // A quarter of the part more on each side: a small pan, or a step out, is covered by the
    // picture already here until the next one (of the new part) arrives.
    part.adjust(-part.width() / 4, -part.height() / 4, part.width() / 4, part.height() / 4);
    part &= QRectF(QPointF(0, 0), frame);
    const QSizeF box = part.size() * m_transform.scale() * ratio;
    return {QRectF(part.x() / frame.width(), part.y() / frame.height(), part.width() / frame.width(),
                part.height() / frame.height()),
        QSize(int(std::ceil(box.width())), int(std::ceil(box.height()))), whole};
}

void CaptureView::tellSessionTheRequest()
{
    const DisplayRequest request = displayRequest();
    if (auto session = m_session.lock(); session && request != m_sentRequest) {
        session->setDisplayRequest(request);
        m_sentRequest = request;
    }
}

void CaptureView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_transform.setViewSize(size());
    // Cheap: the next frame is simply scaled to the new size.
    tellSessionTheRequest();
}

void CaptureView::setCaptureSession(const std::shared_ptr<CaptureSession> &session)
{
    if (auto old = m_session.lock(); old && old != session)
        old->setDisplaySink(nullptr);
    m_session = session;
    if (session) {
        session->setDisplaySink(this);
        m_sentRequest = displayRequest();
        session->setDisplayRequest(m_sentRequest);
    }
}

void CaptureView::setZoom(const ViewZoom &zoom)
{
    if (zoom == m_transform.zoom())
        return;
    m_transform.setZoom(zoom);
    tellSessionTheRequest();
    update();
}

void CaptureView::presentFrame(const ViewPicture &picture)
{
    {
        std::lock_guard lock(m_frameMutex);
        m_pending = picture;
    }
    // One repaint request in flight at most: a busy main thread sees the newest frame, not a
    // backlog of old ones.
    if (!m_repaintQueued.exchange(true))
        QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection); // by name: Qt alone builds the call
}

QImage CaptureView::displayed(const Frame &frame)
{
    const QImage image = frame.image();
    return m_delegate ? m_delegate->viewWillDisplayImage(this, image) : image;
}

void CaptureView::takePicture(const ViewPicture &picture)
{
    const PictureOrientation orientation = m_delegate ? m_delegate->viewOrientation(this) : PictureOrientation{};
    const QSize before = m_transform.frameSize();
    const QRectF whole(QPointF(0, 0), QSizeF(picture.source));
    m_shown = {displayed(picture.frame), picture.region};
    // The backdrop is drawn turned as it was made: one of an older turn is of no use.
    if (picture.backdrop)
        m_backdrop = {displayed(picture.backdrop), whole};
    else if (picture.region.contains(whole))
        m_backdrop = m_shown;
    else if (orientation != m_transform.orientation())
        m_backdrop = {};
    m_transform.setFrameSize(picture.source);
    m_transform.setOrientation(orientation);
    if (!before.isEmpty() && !picture.source.isEmpty() && !sameShape(before, picture.source)
        && m_transform.isZoomed()) {
        m_transform.fit();
        Q_EMIT zoomReset();
    }
    m_framesShown.fetch_add(1);
    m_lastFrame = picture.frame;
    tellSessionTheRequest();
}

void CaptureView::paintEvent(QPaintEvent *)
{
    m_repaintQueued.store(false);
    ViewPicture picture;
    {
        std::lock_guard lock(m_frameMutex);
        picture = m_pending;
    }
    if (picture.frame && !picture.frame.sameAs(m_lastFrame))
        takePicture(picture);
    QPainter painter(this);
    paintPicture(painter);
}

void CaptureView::paintPicture(QPainter &painter)
{
    if (m_shown.image.isNull() || !m_transform.isValid()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const QTransform toView = m_transform.frameToView();
    const QRectF view(rect());
    QRectF area = toView.mapRect(m_shown.region);
    // A picture the session already scaled to its size here (give or take the rounding of even
    // sides) is copied as it is, not resampled by a pixel or two.
    const QSizeF native = QSizeF(m_shown.image.size()) / devicePixelRatioF();
    const bool asItIs = std::abs(area.width() - native.width()) <= 2 && std::abs(area.height() - native.height()) <= 2;
    if (asItIs) {
        const QPointF topLeft = area.center() - QPointF(native.width() / 2, native.height() / 2);
        area = QRectF(QPointF(std::round(topLeft.x()), std::round(topLeft.y())), native);
    }
    QRegion bare = QRegion(rect()).subtracted(pixelsInside(area & view));
    // Around a part that does not cover the picture's place in the view (the picture of a new
    // part is on its way), the whole picture, small.
    const QRectF place = m_transform.pictureRect() & view;
    const bool backdrop = !m_backdrop.image.isNull() && !area.adjusted(-1, -1, 1, 1).contains(place);
    // The whole frame, whatever size the frames had when it was made.
    const QRectF backdropArea = backdrop ? m_transform.pictureRect() : QRectF();
    if (backdrop)
        bare = bare.subtracted(pixelsInside(backdropArea & view));
    // Only what no picture covers is painted black (the bars beside a fitted picture): filling
    // the whole view under the picture first would double the painting of every frame.
    for (const QRect &r : bare)
        painter.fillRect(r, Qt::black);
    if (backdrop) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(backdropArea, m_backdrop.image);
    }
    // Past the frame's own pixels (zoomed in further than one camera pixel to a screen pixel),
    // the picture is scaled up smoothly.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !asItIs);
    painter.drawImage(area, m_shown.image);
}

} // namespace quillora::capture
