// SPDX-License-Identifier: GPL-3.0-or-later
// Where the picture lies in a view, for every turn and mirror: the mapping both ways, the page
// kept in the view at each edge, zoom about a point, the limits, and views or frames of no size.
#include "ViewTransform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace quillora::capture;

namespace {

const PictureOrientation kOrientations[]
    = {{0, false}, {1, false}, {2, false}, {3, false}, {0, true}, {1, true}, {2, true}, {3, true}};

ViewTransform transform(PictureOrientation orientation, QSize frame = {2048, 1536}, QSizeF view = {800, 600})
{
    ViewTransform t;
    t.setViewSize(view);
    t.setFrameSize(frame);
    t.setOrientation(orientation);
    return t;
}

std::string describe(PictureOrientation o)
{
    return std::to_string(o.turns) + (o.mirrored ? " turns, mirrored" : " turns");
}

void expectNear(QPointF a, QPointF b, double tolerance = 1e-6)
{
    EXPECT_NEAR(a.x(), b.x(), tolerance);
    EXPECT_NEAR(a.y(), b.y(), tolerance);
}

} // namespace

// The frame's top left corner goes where the turn and the mirror put it, exactly as the picture
// is turned (a quarter clockwise: top right), and every point maps back to itself.
TEST(ViewTransform, MapsFramePointsToTheViewAndBackForEveryTurnAndMirror)
{
    for (const PictureOrientation o : kOrientations) {
        SCOPED_TRACE(describe(o));
        ViewTransform t = transform(o);
        const QRectF picture = t.pictureRect();
        // Fitted: aspect kept, centred, touching the view on one side.
        const QSizeF turned = o.turns % 2 ? QSizeF(1536, 2048) : QSizeF(2048, 1536);
        EXPECT_NEAR(picture.width() / picture.height(), turned.width() / turned.height(), 1e-9);
        expectNear(picture.center(), QPointF(400, 300));
        EXPECT_TRUE(std::abs(picture.width() - 800) < 1e-9 || std::abs(picture.height() - 600) < 1e-9);

        // The corner the frame's top left lands in, turned clockwise, then mirrored.
        const QPointF corners[] = {picture.topLeft(), picture.topRight(), picture.bottomRight(), picture.bottomLeft()};
        int corner = o.turns;
        if (o.mirrored)
            corner = (corner == 0 ? 1 : corner == 1 ? 0 : corner == 2 ? 3 : 2);
        expectNear(t.toView({0, 0}), corners[corner]);

        t.setZoom({3.0, {0.3, 0.6}});
        for (const QPointF p : {QPointF(0, 0), QPointF(2048, 1536), QPointF(517.5, 1211.25), QPointF(1024, 768)})
            expectNear(t.toFrame(t.toView(p)), p);
        // The view's middle shows the zoom's centre, when no edge is in the way.
        t.setZoom({3.0, {0.5, 0.5}});
        expectNear(t.toFrame({400, 300}), {1024, 768});
        expectNear(t.visibleFrameRect().center(), {1024, 768}, 1e-6);
        EXPECT_NEAR(t.scale(), 3.0 * std::min(800 / turned.width(), 600 / turned.height()), 1e-12);
    }
}

// Panned as far as it goes in each direction, for every turn and mirror: the zoomed page still
// covers the view, and its edge stops exactly at the view's edge.
TEST(ViewTransform, PanStopsAtEachEdgeOfThePageForEveryTurn)
{
    const QRectF view(0, 0, 800, 600);
    for (const PictureOrientation o : kOrientations) {
        SCOPED_TRACE(describe(o));
        ViewTransform t = transform(o);
        t.setZoom({4.0, {0.5, 0.5}});
        for (const QPointF push : {QPointF(1e6, 0), QPointF(-1e6, 0), QPointF(0, 1e6), QPointF(0, -1e6)}) {
            t.panBy(push);
            const QRectF picture = t.pictureRect();
            EXPECT_TRUE(picture.contains(view)) << push.x() << "," << push.y();
            // Dragged right the page's left edge stops at the view's left edge, and so on.
            const double edge = push.x() > 0 ? picture.left()
                : push.x() < 0               ? picture.right() - 800
                : push.y() > 0               ? picture.top()
                                             : picture.bottom() - 600;
            EXPECT_NEAR(edge, 0, 1e-6);
            EXPECT_TRUE(QRectF(0, 0, 2048, 1536).contains(t.visibleFrameRect()));
        }
        // Where the zoomed page is still narrower than the view, it stays in the middle.
        ViewTransform wide = transform(o, {2048, 1536}, {1600, 600});
        wide.setZoom({1.2, {0.0, 0.0}});
        wide.panBy({500, 500});
        ASSERT_LT(wide.pictureRect().width(), 1600);
        EXPECT_NEAR(wide.pictureRect().center().x(), 800, 1e-6);
        EXPECT_LE(wide.pictureRect().top(), 0);
        EXPECT_GE(wide.pictureRect().bottom(), 600);
    }
}

// Zooming about a point keeps the page's point under it where it is, in and out, for every turn;
// near the page's edge the edge wins and the page stays in the view.
TEST(ViewTransform, ZoomAboutAPointKeepsThatPointOfThePageUnderIt)
{
    for (const PictureOrientation o : kOrientations) {
        SCOPED_TRACE(describe(o));
        ViewTransform t = transform(o);
        const QPointF pointer(430, 260);
        const QPointF under = t.toFrame(pointer);
        // Turned upright, the page fills the view's width only from about 1.8 times on: below
        // that it stands in the middle, wherever the pointer is.
        const std::vector<double> factors = o.turns % 2 ? std::vector<double>{2.0, 4.0, 8.0, 3.17, 2.52}
                                                        : std::vector<double>{1.26, 2.0, 4.0, 8.0, 3.17, 1.59};
        for (const double factor : factors) {
            t.zoomAbout(factor, pointer);
            EXPECT_NEAR(t.zoom().factor, factor, 1e-12);
            expectNear(t.toFrame(pointer), under, 1e-6);
        }
        t.zoomAbout(1.0, pointer);
        expectNear(t.pictureRect().center(), {400, 300});

        // At the view's corner, deep in: the page's corner comes no further than the view's.
        t.zoomAbout(4.0, {1, 1});
        EXPECT_TRUE(t.pictureRect().contains(QRectF(0, 0, 800, 600)));
    }
}

// 1 is fit and 8 the most; anything outside (or not a number) is brought inside. A centre off the
// page is brought back. Neither a view nor a frame without a size breaks the mapping.
TEST(ViewTransform, KeepsItsLimitsAndToleratesNoSize)
{
    ViewTransform t = transform({});
    t.setZoom({20.0, {0.5, 0.5}});
    EXPECT_EQ(t.zoom().factor, ViewTransform::kMaxZoom);
    t.setZoom({0.25, {0.5, 0.5}});
    EXPECT_EQ(t.zoom().factor, 1.0);
    EXPECT_FALSE(t.isZoomed());
    t.setZoom({std::nan(""), {std::nan(""), 7}});
    EXPECT_EQ(t.zoom().factor, 1.0);
    EXPECT_EQ(t.visibleFrameRect(), QRectF(0, 0, 2048, 1536));
    t.setZoom({4.0, {-3, 9}});
    EXPECT_TRUE(t.pictureRect().contains(QRectF(0, 0, 800, 600)));
    t.fit();
    EXPECT_EQ(t.zoom(), ViewZoom{});

    for (const auto &[view, frame] : {std::pair{QSizeF(), QSize(2048, 1536)}, std::pair{QSizeF(800, 600), QSize()},
             std::pair{QSizeF(0, 600), QSize(0, 0)}}) {
        ViewTransform empty = transform({1, true}, frame, view);
        EXPECT_FALSE(empty.isValid());
        empty.setZoom({4.0, {0.2, 0.2}});
        empty.zoomAbout(2.0, {10, 10});
        empty.panBy({5, 5});
        EXPECT_TRUE(empty.pictureRect().isEmpty());
        EXPECT_TRUE(empty.visibleFrameRect().isEmpty());
        const QPointF p = empty.toFrame({3, 3});
        EXPECT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()));
    }
}
