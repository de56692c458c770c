// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The virtual camera's page as a still, and where its corners land when it is turned.
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <QImage>

namespace quillora::test {

inline QImage documentPage(QSize size)
{
    QImage page(size, QImage::Format_RGB32);
    page.fill(capture::kVirtualPaper);
    capture::paintVirtualPage(page, 0);
    return page;
}

// The black marker (top left of the unturned page of `size`) and the plain paper top right,
// where `rotation` quarter turns clockwise, then a mirror left to right when `mirrored`, put them.
inline void expectCorners(const QImage &image, QSize size, int rotation, bool mirrored = false)
{
    const int c = std::max(1, size.width() / 32) + std::max(2, size.width() / 8) / 2;
    QPoint marker(c, c), paper(size.width() - 1 - c, c);
    for (int i = 0; i < rotation; ++i, size.transpose())
        for (QPoint *p : {&marker, &paper})
            *p = QPoint(size.height() - 1 - p->y(), p->x());
    if (mirrored)
        for (QPoint *p : {&marker, &paper})
            p->setX(size.width() - 1 - p->x());
    EXPECT_LT(qGray(image.pixel(marker)), 60) << "marker, rotation " << rotation << (mirrored ? ", mirrored" : "");
    EXPECT_GT(qGray(image.pixel(paper)), 190) << "paper, rotation " << rotation << (mirrored ? ", mirrored" : "");
}

} // namespace quillora::test
