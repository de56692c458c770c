// SPDX-License-Identifier: GPL-3.0-or-later
// A zoomed view shows the camera's own detail: it gets the part of the frame it shows from the
// frame's own pixels (a crop of a raw frame; a JPEG frame decoded only in that part, at the DCT
// scale the part needs), never an upscale of the small picture it had. Real cameras' frames
// decode the same in part as in whole. Zooming and panning never touch the session; a camera of
// the same shape keeps the zoom, one of another shape goes back to fit.
#include "CaptureTestSupport.h"
#include "CaptureView.h"
#include "JpegPicture.h"
#include "JpegRegion.h"
#include "PictureChecks.h"
#include "TestSupport.h"
#include "ViewScaler.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace quillora::capture;
using namespace quillora::capture::test;
using quillora::test::edgeSpan;
using quillora::test::waitUntil;

namespace {

// The largest difference of any channel of any pixel; the images must be of one size.
int largestDifference(const QImage &a, const QImage &b)
{
    EXPECT_EQ(a.size(), b.size());
    if (a.size() != b.size())
        return 255;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max(
                {largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}

// The mean difference of the channels of two images of one size.
double meanDifference(const QImage &a, const QImage &b)
{
    EXPECT_EQ(a.size(), b.size());
    if (a.size() != b.size() || a.isNull())
        return 255;
    qint64 sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return double(sum) / (3.0 * a.width() * a.height());
}

// A whole JPEG frame decoded as the photos and the unzoomed view decode it, at `size` (its own,
// or one of its DCT scales).
QImage wholeDecode(const QByteArray &jpeg, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    JpegPicture decoder;
    QString why;
    EXPECT_TRUE(decoder.decode(reinterpret_cast<const uint8_t *>(jpeg.constData()), size_t(jpeg.size()), image.bits(),
        int(image.bytesPerLine()), size, &why))
        << why.toStdString();
    return image;
}

QImage asImage(const std::vector<uint8_t> &pixels, QSize size)
{
    return QImage(pixels.data(), size.width(), size.height(), size.width() * 4, QImage::Format_RGB32).copy();
}

} // namespace

// The part a zoomed view asks for comes from the frame's own pixels: a raw frame's part is the
// crop itself at the frame's scale (the view scales up past that), or the crop scaled down; a JPEG
// frame's part is what a whole decode gives there, for every chroma layout, at its own size and at
// a DCT scale. The first part brings a small whole picture along, and every so often after; the
// pictures' memory is used again once the view has let go of them.
TEST(ViewScaler, AZoomedViewGetsItsPartFromTheFramesOwnPixels)
{
    const QImage page = quillora::test::documentPage({2048, 1536});
    const QRectF middle(0.375, 0.375, 0.25, 0.25); // 512 x 384 frame pixels
    const DisplayRequest large{middle, QSize(800, 600), QSize(800, 600)};
    const DisplayRequest small{middle, QSize(256, 192), QSize(800, 600)};
    ViewScaler scaler;

    const ViewPicture raw = scaler.show(rawSample(page), large);
    ASSERT_TRUE(raw.frame);
    EXPECT_EQ(raw.source, QSize(2048, 1536));
    EXPECT_EQ(raw.region, QRectF(768, 576, 512, 384));
    EXPECT_EQ(raw.frame.image(), page.copy(768, 576, 512, 384));
    ASSERT_TRUE(raw.backdrop) << "the first part brings the whole picture along";
    EXPECT_EQ(raw.backdrop.image().size(), QSize(400, 300));
    const ViewPicture shrunk = scaler.show(rawSample(page), small);
    EXPECT_EQ(shrunk.frame.image().size(), QSize(256, 192));
    EXPECT_LT(meanDifference(shrunk.frame.image(),
                  page.copy(768, 576, 512, 384).scaled(256, 192, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
        4);
    EXPECT_FALSE(shrunk.backdrop);

    for (const int subsampling : {TJSAMP_422, TJSAMP_420, TJSAMP_444, TJSAMP_411, TJSAMP_GRAY}) {
        SCOPED_TRACE(subsampling);
        const QByteArray jpeg = jpegOf(page, subsampling);
        for (const auto &[request, eighths] : {std::pair{large, 8}, std::pair{small, 4}}) {
            const ViewPicture part = scaler.showJpeg(jpegSample(jpeg, {2048, 1536}), request);
            ASSERT_TRUE(part.frame);
            // The rows asked for exactly; the columns from the block column the part starts in.
            EXPECT_EQ(part.region.top(), 576);
            EXPECT_EQ(part.region.bottom(), 960);
            EXPECT_LE(part.region.left(), 768);
            EXPECT_GT(part.region.left(), 768 - 32);
            EXPECT_EQ(part.region.right(), 1280);
            const QRect scaled(part.region.x() * eighths / 8, part.region.y() * eighths / 8,
                part.region.width() * eighths / 8, part.region.height() * eighths / 8);
            const QImage whole = wholeDecode(jpeg, jpegSizeAtScale({2048, 1536}, eighths));
            EXPECT_LE(largestDifference(part.frame.image(), whole.copy(scaled)), 2);
        }
    }
    // The pictures' memory comes back to the scaler once the view lets go of them, never while
    // it holds them.
    const uchar *first = nullptr;
    {
        const ViewPicture held = scaler.show(rawSample(page), large);
        first = held.frame.image().constBits();
        EXPECT_NE(scaler.show(rawSample(page), large).frame.image().constBits(), first);
    }
    EXPECT_EQ(scaler.show(rawSample(page), large).frame.image().constBits(), first);
    // Nothing to show of a part of no size, or of a frame that is no JPEG picture; the view keeps
    // what it had.
    EXPECT_FALSE(scaler.show(pageSample({640, 480}), {QRectF(0.5, 0.5, 0, 0), QSize(800, 600), QSize(800, 600)}).frame);
    EXPECT_FALSE(scaler.showJpeg(pageJpegSample({2048, 1536}, 30000), large).frame);
    // Every so often the small whole picture comes along again; a fitted view needs none.
    int backdrops = 0;
    for (int i = 0; i < 2 * ViewScaler::kBackdropEvery; ++i)
        backdrops += bool(scaler.show(pageSample({640, 480}), large).backdrop);
    EXPECT_EQ(backdrops, 2);
    EXPECT_FALSE(scaler.show(pageSample({640, 480}), {QRectF(0, 0, 1, 1), QSize(800, 600), QSize(800, 600)}).backdrop);
}

// Real cameras' frames (no Huffman tables, restart intervals, damaged intervals, a stale tail):
// a part decodes to what the whole frame gives there, at full size and at half.
TEST(JpegRegion, RealCamerasFramesDecodeTheSameInPartAsInWhole)
{
    QUILLORA_REAL_DATA_OR_SKIP(folder, QStringLiteral("mjpeg-frames"));
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty());
    JpegRegionDecoder decoder;
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile file(QDir(folder).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray jpeg = file.readAll();
        JpegPicture reader;
        QString why;
        const auto full
            = reader.frameSize(reinterpret_cast<const uint8_t *>(jpeg.constData()), size_t(jpeg.size()), &why);
        ASSERT_TRUE(full) << why.toStdString();
        for (const int eighths : {8, 4}) {
            const QSize scaled = jpegSizeAtScale(*full, eighths);
            const QImage whole = wholeDecode(jpeg, scaled);
            // The middle, and a part reaching the bottom right corner.
            for (const QRect wanted :
                {QRect(scaled.width() / 3, scaled.height() / 3, scaled.width() / 3 + 1, scaled.height() / 4 + 1),
                    QRect(scaled.width() / 2 + 3, scaled.height() / 2 + 5, scaled.width(), scaled.height())}) {
                std::vector<uint8_t> pixels;
                const auto part = decoder.decode(reinterpret_cast<const uint8_t *>(jpeg.constData()),
                    size_t(jpeg.size()), eighths, wanted, pixels, &why);
                ASSERT_TRUE(part) << why.toStdString();
                EXPECT_EQ(part->scaledFrame, scaled);
                EXPECT_TRUE(part->decoded.contains(wanted & QRect(QPoint(0, 0), scaled)));
                EXPECT_EQ(largestDifference(asImage(pixels, part->decoded.size()), whole.copy(part->decoded)), 0);
            }
        }
    }
}

// A frame cut short or damaged still gives a part above the cut or the damage (the rows below
// are never read), and none that the damage reaches; bytes that are no picture, a picture larger
// than any camera's, a part outside it, or a scale libjpeg lacks give nothing and a reason; and
// the decoder goes on with the next frame.
TEST(JpegRegion, RefusesWhatItCannotDecodeAndGoesOn)
{
    const QImage page = quillora::test::documentPage({640, 480});
    const QByteArray jpeg = jpegOf(page);
    const auto *data = reinterpret_cast<const uint8_t *>(jpeg.constData());
    JpegRegionDecoder decoder;
    std::vector<uint8_t> pixels;
    QString why;
    const auto top = decoder.decode(data, size_t(jpeg.size()) * 6 / 10, 8, QRect(0, 0, 640, 96), pixels, &why);
    ASSERT_TRUE(top) << why.toStdString();
    EXPECT_EQ(
        largestDifference(asImage(pixels, top->decoded.size()), wholeDecode(jpeg, {640, 480}).copy(0, 0, 640, 96)), 0);

    // A packet of the camera's transfer lost in the lower half of the data: the top still decodes
    // as it is, and a part that takes the rows after the loss is refused, as the whole frame is,
    // rather than shown with garbage in it.
    const qsizetype at = jpeg.size() * 6 / 10;
    const QByteArray lost = jpeg.left(at) + jpeg.mid(at + jpeg.size() / 20);
    const auto *lostData = reinterpret_cast<const uint8_t *>(lost.constData());
    ASSERT_TRUE(decoder.decode(lostData, size_t(lost.size()), 8, QRect(0, 0, 640, 96), pixels, &why))
        << why.toStdString();
    why.clear();
    EXPECT_FALSE(decoder.decode(lostData, size_t(lost.size()), 8, QRect(0, 400, 640, 80), pixels, &why));
    EXPECT_FALSE(why.isEmpty());

    // Found by the fuzzer: a progressive frame claiming 47520 x 64632 pixels, whose coefficients
    // libjpeg would have kept in gigabytes.
    QFile huge(QStringLiteral(QUILLORA_SOURCE_DIR "/tests/data/fuzz/mjpeg_regions/finding-huge-progressive.bin"));
    ASSERT_TRUE(huge.open(QIODevice::ReadOnly));
    const QByteArray claimed = huge.readAll().mid(4);
    EXPECT_FALSE(decoder.decode(reinterpret_cast<const uint8_t *>(claimed.constData()), size_t(claimed.size()), 8,
        QRect(0, 0, 64, 64), pixels, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("larger than any camera's"))) << why.toStdString();

    const QByteArray garbage(4000, '\x5a');
    const struct {
        const uint8_t *data;
        size_t size;
        int eighths;
        QRect wanted;
    } refused[] = {{reinterpret_cast<const uint8_t *>(garbage.constData()), size_t(garbage.size()), 8, {0, 0, 64, 64}},
        {data, 2, 8, {0, 0, 64, 64}}, {nullptr, 0, 8, {0, 0, 64, 64}}, {data, size_t(jpeg.size()), 8, {700, 0, 64, 64}},
        {data, size_t(jpeg.size()), 0, {0, 0, 64, 64}}, {data, size_t(jpeg.size()), 9, {0, 0, 64, 64}}};
    for (const auto &r : refused) {
        why.clear();
        EXPECT_FALSE(decoder.decode(r.data, r.size, r.eighths, r.wanted, pixels, &why)) << r.size;
        EXPECT_FALSE(why.isEmpty());
    }
    const auto next = decoder.decode(data, size_t(jpeg.size()), 2, QRect(10, 10, 100, 50), pixels, &why);
    ASSERT_TRUE(next) << why.toStdString();
    EXPECT_EQ(next->scaledFrame, QSize(160, 120));
    EXPECT_EQ(jpegScaleCovering(0.01), 1);
    EXPECT_EQ(jpegScaleCovering(0.39), 4);
    EXPECT_EQ(jpegScaleCovering(0.5), 4);
    EXPECT_EQ(jpegScaleCovering(1.56), 8);
}

namespace {

struct ZoomedSession {
    CaptureView view;
    PreviewSession preview;

    ZoomedSession(const CaptureDevicePtr &camera, QSize frameSize)
        : preview(camera, frameSize)
    {
        view.resize(800, 600);
        view.show();
        view.setCaptureSession(preview.session);
        preview.session->startRunning();
    }
    // Waits until pictures made for the view as it is now are shown.
    bool showsNewPictures(int count = 3)
    {
        const quint64 shown = view.framesShown();
        return waitUntil([&] { return view.framesShown() >= shown + quint64(count); });
    }
};

} // namespace

// Zoomed 4x into the page's fine detail, a line one camera pixel wide is sharp (its edge spans at
// most 2 view pixels and it is nearly black), where an upscale of the fitted picture smears it
// over 4 or more; from an MJPEG camera (region decode) and from a raw one (crop). The session is
// the same throughout, in the same mode.
TEST(ZoomedView, ShowsTheCamerasOwnDetailSharpAtFourTimes)
{
    for (const QString &format : {QStringLiteral("MJPG"), QStringLiteral("XR24")}) {
        SCOPED_TRACE(format.toStdString());
        DeviceDescription d;
        d.kind = DeviceKind::VirtualCamera;
        d.displayName = QStringLiteral("Detail");
        d.modes = {CameraMode{format, QSize(2048, 1536), {}, {}, {FrameRate{30, 1}}, {}, {}}};
        ZoomedSession z(std::make_shared<CaptureDevice>(d), {2048, 1536});
        ASSERT_TRUE(z.showsNewPictures());
        const auto mode = z.preview.session->cameraMode();
        const VirtualFineDetail fine = virtualPageFineDetail({2048, 1536});
        const QPointF line(fine.centre.x() + 0.5, fine.centre.y() - fine.patch.height() / 4);
        const QImage fitted = z.view.grab().toImage();
        const QPointF fitAt = z.view.viewTransform().toView(line);

        z.view.setZoom({4.0, {line.x() / 2048, line.y() / 1536}});
        ASSERT_TRUE(waitUntil([&] { return z.view.lastShownRegion().width() < 2048; }));
        ASSERT_TRUE(z.showsNewPictures());
        const QImage zoomed = z.view.grab().toImage();
        const QPointF at = z.view.viewTransform().toView(line);
        double darkness = 0;
        std::string profile;
        EXPECT_LE(edgeSpan(zoomed, int(at.y()), int(at.x()) - 12, int(at.x()) + 12, &darkness, &profile), 2) << profile;
        EXPECT_GT(darkness, 0.6) << profile;

        // What the view would show by enlarging the picture it had at fit.
        const QImage enlarged = fitted.copy(int(fitAt.x()) - 10, int(fitAt.y()) - 10, 20, 20)
                                    .scaled(80, 80, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_GE(edgeSpan(enlarged, 40, 10, 70, &darkness, &profile), 4) << profile;

        EXPECT_EQ(z.preview.session->cameraMode(), mode);
        EXPECT_TRUE(z.preview.session->isRunning());
    }
}

// Zoom and pan only change what the view asks for: the same session goes on in the same mode and
// the part shown follows. A new session of the same shape keeps the zoom; one of another shape
// sends the view back to fit, and says so.
TEST(ZoomedView, PanningFollowsWithoutASessionChangeAndOnlyAnotherShapeFits)
{
    ZoomedSession z(virtualCamera({1024, 768}), {1024, 768});
    ASSERT_TRUE(z.showsNewPictures());
    const auto mode = z.preview.session->cameraMode();
    z.view.setZoom({2.0, {0.5, 0.5}});
    for (const QPointF centre : {QPointF(0.3, 0.3), QPointF(0.7, 0.6), QPointF(0.0, 1.0)}) {
        z.view.setZoom({2.0, centre});
        ASSERT_TRUE(z.showsNewPictures());
        const QRectF expected = z.view.viewTransform().visibleFrameRect();
        EXPECT_TRUE(z.view.lastShownRegion().contains(expected.adjusted(1, 1, -1, -1)));
        EXPECT_LT(z.view.lastShownRegion().width(), 1024);
    }
    EXPECT_EQ(z.preview.session->cameraMode(), mode);
    const ViewZoom kept = z.view.zoom();

    QSignalSpy resets(&z.view, &CaptureView::zoomReset);
    PreviewSession sameShape(virtualCamera({640, 480}), {640, 480});
    z.view.setCaptureSession(sameShape.session);
    sameShape.session->startRunning();
    ASSERT_TRUE(waitUntil([&] { return z.view.viewTransform().frameSize() == QSize(640, 480); }));
    EXPECT_EQ(z.view.zoom(), kept);
    EXPECT_EQ(resets.count(), 0);

    PreviewSession wide(virtualCamera({1280, 720}), {1280, 720});
    z.view.setCaptureSession(wide.session);
    wide.session->startRunning();
    ASSERT_TRUE(waitUntil([&] { return z.view.viewTransform().frameSize() == QSize(1280, 720); }));
    EXPECT_EQ(z.view.zoom(), ViewZoom{});
    EXPECT_EQ(resets.count(), 1);
    z.view.setCaptureSession(nullptr);
}
