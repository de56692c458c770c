// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageView.h"

#include <QPainter>

#include <cmath>

namespace quillora::app {

ImageView::ImageView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_transform.setViewSize(size());
}

void ImageView::setImage(const QImage &image)
{
    const QSize before = m_image.size();
    m_image = image;
    m_halvings.clear();
    m_transform.setFrameSize(image.size());
    const bool otherShape = !before.isEmpty() && !image.isNull()
        && std::abs(double(before.width()) / before.height() - double(image.width()) / image.height())
            > 0.01 * before.width() / before.height();
    if (otherShape && m_transform.isZoomed()) {
        m_transform.fit();
        Q_EMIT zoomReset();
    }
    update();
}

void ImageView::setZoom(const capture::ViewZoom &zoom)
{
    if (zoom == m_transform.zoom())
        return;
    m_transform.setZoom(zoom);
    update();
}

void ImageView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_transform.setViewSize(size());
}

const QImage &ImageView::levelFor(double scale)
{
    const QImage *level = &m_image;
    for (size_t i = 0; scale < 0.5; ++i, scale *= 2) {
        if (i == m_halvings.size()) {
            if (level->width() < 4 || level->height() < 4)
                break;
            m_halvings.push_back(level->scaled(
                level->width() / 2, level->height() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        }
        level = &m_halvings[i];
    }
    return *level;
}

void ImageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_image.isNull() || !m_transform.isValid()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // A still is painted only when it changes: the black under it costs nothing that matters.
    painter.fillRect(rect(), Qt::black);
    const QRectF area = m_transform.pictureRect();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(area, levelFor(m_transform.scale() * devicePixelRatioF()));
}

} // namespace quillora::app
