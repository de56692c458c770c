// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageView.h"

#include <QPainter>

namespace quillora::app {

ImageView::ImageView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImageView::setImage(const QImage &image)
{
    m_image = image;
    update();
}

void ImageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_image.isNull())
        return;
    const QSize target = m_image.size().scaled(size(), Qt::KeepAspectRatio);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint((width() - target.width()) / 2, (height() - target.height()) / 2), target), m_image);
}

} // namespace quillora::app
