// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shows one still image, scaled to fit with its aspect kept, zoomed and panned like the live
// picture (the still is a whole camera frame, so zooming into it shows the frame's own detail).
#include "ViewTransform.h"

#include <QImage>
#include <QWidget>

#include <vector>

namespace quillora::app {

class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(QWidget *parent = nullptr);
    // A still of another shape than the one before goes back to fit.
    void setImage(const QImage &image);
    QImage image() const { return m_image; }

    void setZoom(const capture::ViewZoom &zoom);
    capture::ViewZoom zoom() const { return m_transform.zoom(); }
    // Where the still lies in this widget: the mapping between its coordinates and the still's
    // pixels (the still is shown unturned).
    const capture::ViewTransform &viewTransform() const { return m_transform; }

Q_SIGNALS:
    void zoomReset();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // The still, or a halving of it close to the size it is drawn at, so that a large still
    // drawn small is averaged rather than sampled.
    const QImage &levelFor(double scale);

    QImage m_image;
    std::vector<QImage> m_halvings; // made when first needed
    capture::ViewTransform m_transform;
};

} // namespace quillora::app
