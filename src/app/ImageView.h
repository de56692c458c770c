// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shows one still image, scaled to fit with its aspect kept.
#include <QImage>
#include <QWidget>

namespace quillora::app {

class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(QWidget *parent = nullptr);
    void setImage(const QImage &image);
    QImage image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
};

} // namespace quillora::app
