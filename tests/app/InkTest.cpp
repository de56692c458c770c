// SPDX-License-Identifier: GPL-3.0-or-later
// Ink on the page: the strokes' history and its bound on their own, then through a real window
// definition driven as a user drives it (Ctrl+I, the tools, the mouse, a pen tablet, a finger):
// a stroke drawn over the page's marker stays over it through zoom, pan, turns, mirror, resize,
// full screen and a freeze; the annotated photo at every size and format has the frame and the
// strokes where they were drawn, is named by the photo rule and opened, while Take Photo stays
// without ink; and the faults: a stroke leaving the window, Clear in the middle of a stroke, a
// session rebuilt under a stroke, another camera, a folder that is missing.
#include "AppTest.h"
#include "CaptureView.h"
#include "FullScreen.h"
#include "ImageView.h"
#include "InkPainting.h"
#include "InkTools.h"
#include "MatrixControl.h"
#include "PathControl.h"
#include "PhotoCapture.h"
#include "PictureZoom.h"
#include "TestPage.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"
#include "WindowDefinition.h"
#include "WindowMessages.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QPointingDevice>
#include <QStackedWidget>
#include <QTabletEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace quillora;
using app::InkPage;
using app::InkStroke;
using app::InkStrokePtr;
using test::waitUntil;

namespace {

InkStrokePtr line(QPointF from, QPointF to, int points, bool highlighter = false)
{
    auto stroke = std::make_shared<InkStroke>();
    stroke->highlighter = highlighter;
    stroke->colour = Qt::red;
    stroke->width = 4;
    for (int i = 0; i < points; ++i) {
        const QPointF p = from + (to - from) * (points > 1 ? double(i) / (points - 1) : 0.0);
        stroke->points.push_back({float(p.x()), float(p.y()), 1});
    }
    stroke->finish();
    return stroke;
}

bool isInkRed(QRgb pixel)
{
    return qRed(pixel) > 150 && qGreen(pixel) < 110 && qBlue(pixel) < 110;
}

// Where the middle of the virtual page's black marker (its top left corner) lies in a frame of
// `size`.
QPointF markerCentre(QSize size)
{
    const int margin = std::max(1, size.width() / 32);
    const int marker = std::max(2, size.width() / 8);
    return {margin + marker / 2.0, margin + marker / 2.0};
}

} // namespace

// Undo and Redo step back and forth through strokes, erasures (one drag of the eraser is one
// step) and Clear; a new step ends what could be redone.
TEST(InkHistory, UndoRedoClearAndTheEraserStepThroughTheStrokes)
{
    InkPage page;
    page.adoptPageSize({640, 480});
    const InkStrokePtr a = line({10, 10}, {100, 10}, 10);
    const InkStrokePtr b = line({10, 50}, {100, 50}, 10, true);
    const InkStrokePtr c = line({10, 90}, {100, 90}, 10);
    for (const InkStrokePtr &s : {a, b, c})
        ASSERT_TRUE(page.add(s));
    page.adoptPageSize({320, 240});
    EXPECT_EQ(page.pageSize(), QSizeF(640, 480)) << "a page with ink keeps its size";

    // One drag across the first and last stroke: two removals, one step.
    EXPECT_EQ(page.eraseAt({50, 12}, 3, 7), 1u);
    EXPECT_EQ(page.eraseAt({50, 30}, 3, 7), 0u) << "nothing there";
    EXPECT_EQ(page.eraseAt({50, 88}, 3, 7), 1u);
    EXPECT_EQ(page.strokes(), (std::vector<InkStrokePtr>{b}));
    page.undo();
    EXPECT_EQ(page.strokes(), (std::vector<InkStrokePtr>{a, b, c})) << "the drag comes back whole, in its order";
    page.redo();
    EXPECT_EQ(page.strokes(), (std::vector<InkStrokePtr>{b}));
    page.undo();

    page.clear();
    EXPECT_TRUE(page.isEmpty());
    page.undo();
    EXPECT_EQ(page.strokes(), (std::vector<InkStrokePtr>{a, b, c}));
    page.undo();
    EXPECT_EQ(page.strokes(), (std::vector<InkStrokePtr>{a, b}));
    EXPECT_TRUE(page.canRedo());
    ASSERT_TRUE(page.add(line({0, 0}, {5, 5}, 2)));
    EXPECT_FALSE(page.canRedo()) << "a new stroke ends the redo";

    page.reset();
    EXPECT_TRUE(page.isEmpty());
    EXPECT_FALSE(page.canUndo());
    EXPECT_TRUE(page.pageSize().isEmpty());
}

// Thousands of strokes: the points held stay within the bound. The oldest undo steps go first;
// what is shown is never dropped, and a stroke that finds no room then is refused.
TEST(InkHistory, ThousandsOfStrokesStayWithinTheBound)
{
    InkPage page;
    page.adoptPageSize({2048, 1536});
    const int perStroke = 100;
    const size_t fit = InkPage::kMaxPoints / perStroke;
    for (size_t i = 0; i < fit; ++i)
        ASSERT_TRUE(page.add(line({double(i % 2000), 0}, {double(i % 2000), 1500}, perStroke))) << i;
    EXPECT_EQ(page.pointsHeld(), InkPage::kMaxPoints);
    EXPECT_FALSE(page.add(line({0, 0}, {10, 10}, perStroke))) << "no room: nothing shown may be dropped";
    EXPECT_EQ(page.strokes().size(), fit);

    // Cleared, the strokes are held for undo only: a new stroke pushes the oldest history out.
    page.clear();
    EXPECT_TRUE(page.add(line({0, 0}, {10, 10}, perStroke)));
    EXPECT_LE(page.pointsHeld(), InkPage::kMaxPoints);
    EXPECT_EQ(page.strokes().size(), 1u);
    EXPECT_FALSE(page.add(line({0, 0}, {10, 10}, int(InkPage::kMaxPoints) + 1)));
}

// The photo's mapping of frame coordinates puts a point where orientedImage puts its pixel, for
// every turn with and without the mirror, and ink drawn through it lands there.
TEST(InkHistory, ThePhotosMappingPutsInkWhereTheTurnPutsThePixel)
{
    const QSize size(64, 48);
    QImage frame(size, QImage::Format_RGB32);
    frame.fill(Qt::white);
    frame.setPixel(10, 5, qRgb(0, 0, 0));
    for (int rotation = 0; rotation < 4; ++rotation)
        for (bool mirrored : {false, true}) {
            SCOPED_TRACE(rotation * 2 + mirrored);
            const QImage shown = output::orientedImage(frame, rotation, mirrored);
            const QPointF at = output::orientationTransform(size, rotation, mirrored).map(QPointF(10.5, 5.5));
            EXPECT_EQ(qGray(shown.pixel(int(std::floor(at.x())), int(std::floor(at.y())))), 0);
        }
}

namespace {

class Ink : public test::AppTest {
protected:
    void start(int sizeIndex = 1, QByteArray cameras = "Desk|Model X|cam-1")
    {
        AppTest::start(cameras);
        window = def->mainWindow();
        ink = def->inkTools();
        testAccess(*c).mPhotoPath()->setURL(QUrl::fromLocalFile(desktopFolder()));
        testAccess(*c).mOverwrite()->selectCellAtRow(1);
        if (sizeIndex != testAccess(*c).mPhotoSize()->currentIndex())
            setPhotoSize(sizeIndex);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        ASSERT_TRUE(waitUntil([&] { return bool(c->currentFrame()) && live()->framesShown() >= 2; }));
    }
    void setPhotoSize(int sizeIndex)
    {
        testAccess(*c).mPhotoSize()->setCurrentIndex(sizeIndex);
        c->preferencesChange(testAccess(*c).mPhotoSize());
        ASSERT_TRUE(liveShowsNewPictures());
    }
    QAction *action(const char *name) const { return window->findChild<QAction *>(QString::fromLatin1(name)); }
    capture::CaptureView *live() const { return testAccess(*c).mCaptureView(); }
    app::ImageView *still() const { return testAccess(*c).mPreviewImage(); }
    app::InkOverlay *overlay() const { return ink->overlay(); }
    QStackedWidget *stack() const { return window->findChild<QStackedWidget *>(QStringLiteral("pictureStack")); }
    const capture::ViewTransform &shown() const
    {
        return stack()->currentWidget() == still() ? still()->viewTransform() : live()->viewTransform();
    }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(window, Qt::Key(key), modifiers);
    }
    bool liveShowsNewPictures() { return pictureMoves(); }
    QString desktopFolder() const { return home.path() + QStringLiteral("/Desktop/"); }
    // A mouse drag through `points` (view coordinates) on the ink layer.
    void drag(const std::vector<QPointF> &points)
    {
        QTest::mousePress(overlay(), Qt::LeftButton, {}, points.front().toPoint());
        for (size_t i = 1; i < points.size(); ++i)
            QTest::mouseMove(overlay(), points[i].toPoint());
        QTest::mouseRelease(overlay(), Qt::LeftButton, {}, points.back().toPoint());
    }
    // A short stroke across the marker's middle, drawn where the view shows it now.
    void strokeOverMarker()
    {
        const QSize frame = shown().frameSize();
        const QPointF centre = markerCentre(frame);
        const double reach = frame.width() / 40.0;
        std::vector<QPointF> points;
        for (int i = -4; i <= 4; ++i)
            points.push_back(shown().toView(centre + QPointF(reach * i / 4, 0)));
        drag(points);
    }
    // The picture with its ink as the window shows it, and where the marker's middle and a spot
    // of the marker beside the stroke lie in it.
    void expectStrokeOverMarker(const char *after)
    {
        SCOPED_TRACE(after);
        const QImage picture = stack()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QSize frame = shown().frameSize();
        const QPointF centre = markerCentre(frame);
        const QPoint on = shown().toView(centre).toPoint();
        const QPoint beside = shown().toView(centre + QPointF(0, frame.width() / 24.0)).toPoint();
        ASSERT_TRUE(picture.rect().contains(on)) << on.x() << "," << on.y();
        EXPECT_TRUE(isInkRed(picture.pixel(on))) << std::hex << picture.pixel(on);
        EXPECT_LT(qGray(picture.pixel(beside)), 60)
            << "the marker beside the stroke, " << std::hex << picture.pixel(beside);
    }
    QImage openedPhoto() { return QImage(desktop.opened().constLast()).convertToFormat(QImage::Format_RGB32); }

    QMainWindow *window = nullptr;
    app::InkTools *ink = nullptr;
};

} // namespace

// A stroke drawn over the page's marker is over it after every change of the view: zoom and pan,
// each turn with and without the mirror, a smaller window, full screen, and a freeze and back.
TEST_F(Ink, StrokesStayOnThePageThroughEveryChangeOfTheView)
{
    start();
    key(Qt::Key_I, Qt::ControlModifier);
    ASSERT_TRUE(overlay()->isInking());
    EXPECT_TRUE(ink->bar()->isVisible());
    EXPECT_TRUE(action("inkColour0")->isChecked()) << "red when ink is first switched on";
    EXPECT_TRUE(action("inkWidth1")->isChecked()) << "the middle width when ink is first switched on";
    EXPECT_EQ(overlay()->width(), app::InkTools::kWidths[1]);
    strokeOverMarker();
    ASSERT_EQ(ink->page()->strokes().size(), 1u);
    expectStrokeOverMarker("drawn");

    app::PictureZoom *zoom = def->pictureZoom();
    zoom->zoomAbout(2.0, QPointF(live()->width() / 2.0, live()->height() / 2.0));
    for (int i = 0; i < 20; ++i) {
        key(Qt::Key_Left);
        key(Qt::Key_Up);
    }
    ASSERT_TRUE(liveShowsNewPictures());
    expectStrokeOverMarker("zoomed and panned to the top left");
    zoom->zoomAbout(5.0, shown().toView(markerCentre(shown().frameSize())));
    ASSERT_TRUE(liveShowsNewPictures());
    expectStrokeOverMarker("zoomed 5x about the marker");
    key(Qt::Key_0, Qt::ControlModifier);

    for (bool mirrored : {false, true}) {
        for (int turn = 1; turn <= 4; ++turn) {
            key(Qt::Key_R, Qt::ControlModifier);
            const capture::PictureOrientation expected{turn % 4, mirrored};
            ASSERT_TRUE(waitUntil([&] { return live()->viewTransform().orientation() == expected; }));
            expectStrokeOverMarker(mirrored ? "turned and mirrored" : "turned");
        }
        key(Qt::Key_M, Qt::ControlModifier);
    }
    ASSERT_TRUE(waitUntil([&] { return live()->viewTransform().orientation() == capture::PictureOrientation{}; }));

    window->resize(520, 430);
    ASSERT_TRUE(waitUntil([&] { return live()->viewTransform().viewSize() == QSizeF(overlay()->size()); }));
    ASSERT_TRUE(liveShowsNewPictures());
    expectStrokeOverMarker("in a smaller window");

    key(Qt::Key_F11);
    ASSERT_TRUE(def->fullScreen()->isActive());
    ASSERT_TRUE(waitUntil([&] { return window->geometry() == window->screen()->geometry(); }));
    ASSERT_TRUE(waitUntil([&] { return live()->viewTransform().viewSize() == QSizeF(overlay()->size()); }));
    expectStrokeOverMarker("in full screen");
    key(Qt::Key_Escape);

    key(Qt::Key_F, Qt::ControlModifier);
    ASSERT_EQ(stack()->currentWidget(), still());
    expectStrokeOverMarker("frozen");
    key(Qt::Key_F, Qt::ControlModifier);
    ASSERT_EQ(stack()->currentWidget(), live());
    ASSERT_TRUE(liveShowsNewPictures());
    expectStrokeOverMarker("live again");
    EXPECT_EQ(ink->page()->strokes().size(), 1u);
}

// With much ink on the page a zoom step shows the strokes' picture moved along at once (still over
// the marker) and the sharp one once the view rests.
TEST_F(Ink, MuchInkFollowsAZoomAtOnceAndIsSharpWhenTheViewRests)
{
    start();
    key(Qt::Key_I, Qt::ControlModifier);
    strokeOverMarker();
    const QSizeF page = ink->page()->pageSize();
    for (size_t points = 0; points <= app::InkOverlay::kQuickRedrawPoints; points += 100)
        ASSERT_TRUE(ink->page()->add(
            line({page.width() * 0.6, page.height() * 0.9}, {page.width() * 0.9, page.height() * 0.6}, 100)));
    expectStrokeOverMarker("with much ink");
    EXPECT_FALSE(overlay()->showsMovedInk());
    def->pictureZoom()->zoomAbout(1.6, shown().toView(markerCentre(shown().frameSize())));
    expectStrokeOverMarker("moved along");
    EXPECT_TRUE(overlay()->showsMovedInk());
    ASSERT_TRUE(waitUntil([&] {
        stack()->grab();
        return !overlay()->showsMovedInk();
    }));
    expectStrokeOverMarker("sharp again");
}

// The tools and their keys: Undo, Redo and Clear, the eraser taking whole strokes (one drag is
// one step), the highlighter under the pen's strokes, Clear in the middle of a stroke; with ink
// off the picture behaves as without (a double click is full screen) and the ink stays shown;
// picking a tool turns ink on; in full screen the bar waits at the top edge.
TEST_F(Ink, TheToolsAndTheirKeys)
{
    start();
    key(Qt::Key_I, Qt::ControlModifier);
    const double w = overlay()->width();
    drag({{100, 200}, {200, 200}, {300, 210}});
    drag({{100, 300}, {200, 300}, {300, 310}});
    ASSERT_EQ(ink->page()->strokes().size(), 2u);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(ink->page()->strokes().size(), 1u);
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(ink->page()->strokes().size(), 2u);

    action("actionInkEraser")->trigger();
    drag({{150, 150}, {150, 250}});
    ASSERT_EQ(ink->page()->strokes().size(), 1u) << "the eraser takes the stroke it crosses";
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(ink->page()->strokes().size(), 2u);
    key(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_TRUE(ink->page()->isEmpty());
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(ink->page()->strokes().size(), 2u) << "Clear is undone";

    // The highlighter, drawn after, across the pen's stroke: the pen's red is on top.
    action("actionInkHighlighter")->trigger();
    drag({{200, 160}, {200, 240}});
    ASSERT_EQ(ink->page()->strokes().size(), 3u);
    EXPECT_TRUE(ink->page()->strokes().back()->highlighter);
    const QImage picture = stack()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(isInkRed(picture.pixel(200, 200))) << std::hex << picture.pixel(200, 200);
    const QRgb marked = picture.pixel(200, 170);
    EXPECT_GT(qRed(marked), qBlue(marked) + 60) << "yellow over the page, " << std::hex << marked;
    EXPECT_GT(qGreen(marked), qBlue(marked) + 60) << std::hex << marked;

    // Clear while a stroke is drawn: the stroke goes too, and the rest of the drag draws nothing.
    action("actionInkPen")->trigger();
    EXPECT_EQ(overlay()->width(), w);
    QTest::mousePress(overlay(), Qt::LeftButton, {}, QPoint(100, 400));
    QTest::mouseMove(overlay(), QPoint(150, 400));
    key(Qt::Key_Backspace, Qt::ControlModifier);
    QTest::mouseMove(overlay(), QPoint(200, 400));
    QTest::mouseRelease(overlay(), Qt::LeftButton, {}, QPoint(200, 400));
    EXPECT_TRUE(ink->page()->isEmpty());
    EXPECT_FALSE(overlay()->strokeInProgress());
    key(Qt::Key_Z, Qt::ControlModifier);
    ASSERT_EQ(ink->page()->strokes().size(), 3u);

    // Ink off: the picture's own double click, the ink still shown; a tool turns ink back on.
    key(Qt::Key_I, Qt::ControlModifier);
    EXPECT_FALSE(overlay()->isInking());
    EXPECT_FALSE(ink->bar()->isVisible());
    EXPECT_TRUE(overlay()->isVisible()) << "the ink stays on the page";
    QTest::mouseDClick(live(), Qt::LeftButton, {}, QPoint(200, 150));
    ASSERT_TRUE(def->fullScreen()->isActive());
    action("actionInkPen")->trigger();
    EXPECT_TRUE(overlay()->isInking());
    EXPECT_TRUE(action("actionInk")->isChecked());
    EXPECT_FALSE(ink->bar()->isVisible()) << "in full screen the bar waits for the pointer at the edge";
    QTest::mouseMove(overlay(), QPoint(300, 10));
    EXPECT_TRUE(ink->bar()->isVisible());
    QTest::mouseMove(overlay(), QPoint(300, 400));
    EXPECT_FALSE(ink->bar()->isVisible());
    drag({{100, 500}, {300, 500}});
    EXPECT_EQ(ink->page()->strokes().size(), 4u) << "drawn in full screen";
    key(Qt::Key_Escape);
    EXPECT_FALSE(def->fullScreen()->isActive());
    EXPECT_TRUE(ink->bar()->isVisible());
}

// A pen tablet: a firm stroke is wider than a light one, the pen's eraser end erases; a finger
// draws as the mouse does.
TEST_F(Ink, TabletPressureWidensAndAFingerDraws)
{
    start();
    key(Qt::Key_I, Qt::ControlModifier);
    QPointingDevice stylus(QStringLiteral("stylus"), 7001, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Pen, QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1,
        3);
    QPointingDevice eraser(QStringLiteral("eraser"), 7002, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Eraser, QInputDevice::Capability::Position | QInputDevice::Capability::Pressure,
        1, 3);
    auto pen = [&](const QPointingDevice &device, int y, double pressure) {
        for (int x = 100; x <= 400; x += 20) {
            const QEvent::Type type
                = x == 100 ? QEvent::TabletPress : (x == 400 ? QEvent::TabletRelease : QEvent::TabletMove);
            const QPointF at(x, y);
            QTabletEvent event(type, &device, at, overlay()->mapToGlobal(at), pressure, 0, 0, 0, 0, 0, {},
                Qt::LeftButton, type == QEvent::TabletRelease ? Qt::NoButton : Qt::LeftButton);
            QApplication::sendEvent(overlay(), &event);
        }
    };
    pen(stylus, 200, 0.1);
    pen(stylus, 300, 0.95);
    ASSERT_EQ(ink->page()->strokes().size(), 2u);
    const QImage picture = stack()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    auto thickness = [&](int y) {
        int red = 0;
        for (int dy = -30; dy <= 30; ++dy)
            red += isInkRed(picture.pixel(250, y + dy));
        return red;
    };
    const int light = thickness(200), firm = thickness(300);
    EXPECT_GE(light, 1);
    EXPECT_GT(firm, light * 2) << light << " and " << firm << " pixels";
    EXPECT_LT(ink->page()->strokes()[0]->points[3].pressure, ink->page()->strokes()[1]->points[3].pressure);

    pen(eraser, 200, 0.5);
    EXPECT_EQ(ink->page()->strokes().size(), 1u) << "the eraser end takes the light stroke";

    // The test owns the touch device QTest makes for it.
    const std::unique_ptr<QPointingDevice> screen(QTest::createTouchDevice());
    QTest::touchEvent(overlay(), screen.get()).press(0, QPoint(100, 450));
    QTest::touchEvent(overlay(), screen.get()).move(0, QPoint(200, 460));
    QTest::touchEvent(overlay(), screen.get()).move(0, QPoint(300, 450));
    QTest::touchEvent(overlay(), screen.get()).release(0, QPoint(300, 450));
    ASSERT_EQ(ink->page()->strokes().size(), 2u);
    EXPECT_GE(ink->page()->strokes().back()->points.size(), 3u);
}

// The annotated photo at every size (raw and JPEG frames) and in every format, turned and
// mirrored: the whole frame with the stroke over the marker at the photo's own size, named by the
// photo rule and opened; Take Photo next to it has no ink.
TEST_F(Ink, TheAnnotatedPhotoHasTheInkWhereItWasDrawn)
{
    start(0);
    key(Qt::Key_I, Qt::ControlModifier);
    action("inkWidth2")->trigger();
    strokeOverMarker();
    ASSERT_EQ(ink->page()->strokes().size(), 1u);
    const QString folder = desktopFolder();
    int photos = 0;
    for (int size = 0; size < 5; ++size) {
        SCOPED_TRACE(size);
        if (size > 0)
            setPhotoSize(size);
        const QSize pixels = output::photoSizeForIndex(size, 0);
        key(Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_EQ(desktop.opened().size(), ++photos);
        const QImage annotated = openedPhoto();
        ASSERT_EQ(annotated.size(), pixels);
        const QPoint on = markerCentre(pixels).toPoint();
        EXPECT_TRUE(isInkRed(annotated.pixel(on))) << std::hex << annotated.pixel(on);
        EXPECT_LT(qGray(annotated.pixel(on + QPoint(0, pixels.width() / 24))), 60) << "the marker beside the ink";
        EXPECT_GT(qGray(annotated.pixel(pixels.width() - 1 - on.x(), on.y())), 190) << "the paper across from it";

        key(Qt::Key_T, Qt::ControlModifier);
        ASSERT_EQ(desktop.opened().size(), ++photos);
        const QImage plain = openedPhoto();
        ASSERT_EQ(plain.size(), pixels);
        EXPECT_LT(qGray(plain.pixel(on)), 60) << "Take Photo has no ink";
        EXPECT_EQ(test::pageShown(plain), 0);
    }
    // Named by the rule, numbered here, one after the other.
    EXPECT_EQ(desktop.opened().at(0), folder + QStringLiteral("Quillora.jpg"));
    EXPECT_EQ(desktop.opened().at(1), folder + QStringLiteral("Quillora1.jpg"));
    EXPECT_EQ(desktop.opened().at(2), folder + QStringLiteral("Quillora2.jpg"));

    setPhotoSize(1);
    key(Qt::Key_R, Qt::ControlModifier);
    key(Qt::Key_M, Qt::ControlModifier);
    const QSize frame(640, 480);
    const QPoint on = output::orientationTransform(frame, 1, true).map(markerCentre(frame)).toPoint();
    const std::array<const char *, 4> extensions{".jpg", ".png", ".gif", ".tiff"};
    for (int format = 0; format < 4; ++format) {
        SCOPED_TRACE(format);
        testAccess(*c).mPhotoFormat()->setCurrentIndex(format);
        key(Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_EQ(desktop.opened().size(), ++photos);
        EXPECT_TRUE(desktop.opened().constLast().endsWith(QLatin1String(extensions[size_t(format)])));
        const QImage annotated = openedPhoto();
        ASSERT_EQ(annotated.size(), QSize(480, 640));
        EXPECT_TRUE(isInkRed(annotated.pixel(on))) << std::hex << annotated.pixel(on);
        const QPointF paper(frame.width() - markerCentre(frame).x(), markerCentre(frame).y());
        const QPoint across = output::orientationTransform(frame, 1, true).map(paper).toPoint();
        EXPECT_GT(qGray(annotated.pixel(across)), 190) << "the paper, turned and mirrored";
    }
}

// Faults: a stroke that leaves the window ends as a stroke; a session rebuilt under a stroke
// leaves it whole; an annotated photo into a folder that cannot be made or onto a full disk says
// what a photo says;
// another camera clears the ink (and what could be undone).
TEST_F(Ink, AStrokeOutsideARebuildAMissingFolderAndAnotherCamera)
{
    start(1, "Desk|Model X|cam-1;Board|Model Y|cam-2");
    key(Qt::Key_I, Qt::ControlModifier);
    drag({{100, 100}, {40, 60}, {-50, -40}, {-200, -100}});
    ASSERT_EQ(ink->page()->strokes().size(), 1u);
    EXPECT_EQ(ink->page()->strokes()[0]->points.size(), 4u);
    drag({{100, 200}, {200, 200}});
    EXPECT_EQ(ink->page()->strokes().size(), 2u) << "drawing goes on after a stroke that left the window";

    QTest::mousePress(overlay(), Qt::LeftButton, {}, QPoint(100, 300));
    QTest::mouseMove(overlay(), QPoint(150, 300));
    setPhotoSize(2);
    QTest::mouseMove(overlay(), QPoint(200, 310));
    QTest::mouseRelease(overlay(), Qt::LeftButton, {}, QPoint(250, 300));
    ASSERT_EQ(ink->page()->strokes().size(), 3u);
    EXPECT_EQ(ink->page()->strokes()[2]->points.size(), 4u);

    // A file where the folder should be: the same words as for a photo.
    QFile blocker(home.path() + QStringLiteral("/blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    testAccess(*c).mPhotoPath()->setURL(QUrl::fromLocalFile(home.path() + QStringLiteral("/blocked/photos/")));
    key(Qt::Key_T, Qt::ControlModifier);
    const QString plain = testAccess(*c).mMessages()->statusMessage();
    EXPECT_TRUE(plain.startsWith(QStringLiteral("Photo not saved"))) << plain.toStdString();
    testAccess(*c).mMessages()->showStatusMessage(QString());
    key(Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(testAccess(*c).mMessages()->statusMessage(), plain);
    EXPECT_TRUE(desktop.opened().isEmpty());

    // A full disk: the same words again, and nothing left behind.
    testAccess(*c).mPhotoPath()->setURL(QUrl::fromLocalFile(desktopFolder()));
    {
        test::FileSizeLimit full(4096);
        key(Qt::Key_T, Qt::ControlModifier);
        const QString plainFull = testAccess(*c).mMessages()->statusMessage();
        EXPECT_TRUE(plainFull.startsWith(QStringLiteral("Photo not saved"))) << plainFull.toStdString();
        testAccess(*c).mMessages()->showStatusMessage(QString());
        key(Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(testAccess(*c).mMessages()->statusMessage(), plainFull);
    }
    EXPECT_TRUE(desktop.opened().isEmpty());
    EXPECT_TRUE(QDir(desktopFolder()).isEmpty());

    c->deviceMenuClick(testAccess(*c).mDevicesMenu()->actions().at(1));
    ASSERT_TRUE(liveShowsNewPictures());
    EXPECT_TRUE(ink->page()->isEmpty()) << "another camera, another page";
    EXPECT_FALSE(action("actionUndoInk")->isEnabled());
    drag({{100, 200}, {200, 200}});
    EXPECT_EQ(ink->page()->strokes().size(), 1u);
}
