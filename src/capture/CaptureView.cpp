#include "CaptureView.h"

#include <QMetaObject>
#include <QPainter>

namespace quillora::capture {

CaptureView::CaptureView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);
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
    if (session)
        session->setDisplaySink(this);
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
        QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
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
        m_lastShown = image;
        if (!frame.sameAs(m_lastFrame))
            m_framesShown.fetch_add(1);
        m_lastFrame = frame;
    }
    painter.fillRect(rect(), Qt::black);
    if (m_lastShown.isNull())
        return;
    const QSize target = m_lastShown.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect area(QPoint((width() - target.width()) / 2, (height() - target.height()) / 2), target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(area, m_lastShown);
}

} // namespace quillora::capture
