// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureView.h"

#include <QMetaObject>
#include <QPainter>
#include <QRegion>

#include <cstdlib>

namespace quillora::capture {

CaptureView::CaptureView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);
}

void CaptureView::tellSessionTheSize()
{
    // A picture the delegate turns by a quarter is shown in the box turned the other way.
    const QSize box = m_turned ? size().transposed() : size();
    if (auto session = m_session.lock())
        session->setDisplaySize(box * devicePixelRatioF());
}

void CaptureView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Cheap: the next frame is simply scaled to the new size.
    tellSessionTheSize();
}

CaptureView::~CaptureView()
{
    if (auto session = m_session.lock())
        session->setDisplaySink(nullptr);
}

void CaptureView::setCaptureSession(const std::shared_ptr<CaptureSession> &session)
{
    if (auto old = m_session.lock(); old && old != session)
        old->setDisplaySink(nullptr);
    m_session = session;
    if (session) {
        session->setDisplaySink(this);
        tellSessionTheSize();
    }
}

void CaptureView::presentFrame(const Frame &frame)
{
    {
        std::lock_guard lock(m_frameMutex);
        m_pending = frame;
    }
    // One repaint request in flight at most: a busy main thread sees the newest frame, not a
    // backlog of old ones.
    if (!m_repaintQueued.exchange(true))
        QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection); // by name: Qt alone builds the call
}

void CaptureView::paintEvent(QPaintEvent *)
{
    m_repaintQueued.store(false);
    Frame frame;
    {
        std::lock_guard lock(m_frameMutex);
        frame = m_pending;
    }
    QPainter painter(this);
    if (frame) {
        QImage image = frame.image();
        if (m_delegate)
            image = m_delegate->viewWillDisplayImage(this, image);
        const bool turned
            = image.width() != image.height() && image.width() == frame.height() && image.height() == frame.width();
        if (turned != m_turned) {
            m_turned = turned;
            tellSessionTheSize();
        }
        m_lastShown = image;
        if (!frame.sameAs(m_lastFrame))
            m_framesShown.fetch_add(1);
        m_lastFrame = frame;
    }
    if (m_lastShown.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    QSize target = m_lastShown.size().scaled(size(), Qt::KeepAspectRatio);
    // A picture the session already scaled to the view (give or take the rounding of even
    // sides) is copied as it is, not resampled by a pixel or two.
    if (std::abs(target.width() - m_lastShown.width()) <= 2 && std::abs(target.height() - m_lastShown.height()) <= 2)
        target = m_lastShown.size().boundedTo(size());
    const QRect area(QPoint((width() - target.width()) / 2, (height() - target.height()) / 2), target);
    // Only the bars beside the picture are painted black: the picture covers the rest, and
    // filling the whole view under it first would double the painting of every frame.
    for (const QRect &bar : QRegion(rect()).subtracted(area))
        painter.fillRect(bar, Qt::black);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(area, m_lastShown);
}

} // namespace quillora::capture
