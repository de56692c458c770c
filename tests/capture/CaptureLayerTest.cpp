// SPDX-License-Identifier: GPL-3.0-or-later
// The capture layer on real GStreamer with virtual cameras: frames of the requested size, the
// scaling for the live view, the view and its delegate, and a camera that fails.
#include "CaptureDevice.h"
#include "CaptureSession.h"
#include "CaptureTestSupport.h"
#include "CaptureView.h"
#include "DecompressedVideoOutput.h"
#include "Devices.h"
#include "Frame.h"
#include "GstHandles.h"
#include "JpegDecoder.h"
#include "MovieConverter.h"
#include "SanitizerHandOff.h"
#include "SessionGraph.h"
#include "TestPage.h"
#include "TestSupport.h"
#include "ViewScaler.h"
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <QSignalSpy>
#include <QTemporaryDir>

#include <mutex>
#include <thread>

using namespace quillora::capture;
using namespace quillora::capture::test;
using quillora::test::waitUntil;

namespace {

// What the view is handed to show, as the capture view is.
struct ShownPictures : DisplaySink {
    void presentFrame(const ViewPicture &picture) override
    {
        const QImage image = picture.frame.image();
        std::lock_guard lock(mutex);
        ++count;
        darkestCorner = std::min(darkestCorner, image.isNull() ? 0 : bottomCorner(image));
    }
    std::mutex mutex; // guards the counts
    int count = 0;
    int darkestCorner = 255;
};

// The whole frame fitted into `box`, as a view that is not zoomed asks for it.
Frame fitted(ViewScaler &scaler, GstSample *sample, QSize box)
{
    return scaler.show(sample, {QRectF(0, 0, 1, 1), box, box}).frame;
}

Frame fittedJpeg(ViewScaler &scaler, GstSample *sample, QSize box)
{
    return scaler.showJpeg(sample, {QRectF(0, 0, 1, 1), box, box}).frame;
}

// The page's marker (top left) is black and the far corner is paper, at any size; a camera's
// frames are scaled on the way, so they get some leeway.
void expectPage(const QImage &image)
{
    EXPECT_EQ(quillora::test::pageShown(image, 0, 40, 200), 0);
}

} // namespace

TEST(ViewScaler, ShrinksWhatDoesNotFitPassesTheRestAndOutlivesItself)
{
    std::vector<Frame> held;
    {
        ViewScaler scaler;
        // Larger than the view: scaled to fit, aspect kept, still the same page.
        const Frame scaled = fitted(scaler, pageSample({1280, 1024}), {769, 615});
        ASSERT_TRUE(scaled);
        EXPECT_EQ(QSize(scaled.width(), scaled.height()), fitInside({1280, 1024}, {769, 615}));
        expectPage(scaled.image());
        // Much smaller: averaged, not sampled, so it is still the page.
        const Frame small = fitted(scaler, pageSample({2048, 1536}), {200, 200});
        EXPECT_EQ(QSize(small.width(), small.height()), QSize(200, 150));
        expectPage(small.image());
        int greys = 0; // ink and paper blended: text lines thinner than a pixel here
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 200; ++x)
                greys += qGray(small.image().pixel(x, y)) > 70 && qGray(small.image().pixel(x, y)) < 200;
        EXPECT_GT(greys, 1000);
        // Fits already (or no size known): shown as it came, not copied.
        EXPECT_EQ(fitted(scaler, pageSample({640, 480}), {769, 615}).width(), 640);
        EXPECT_EQ(fitted(scaler, pageSample({1280, 1024}), {}).width(), 1280);
        // Not a BGRx picture: nothing to show.
        EXPECT_FALSE(fitted(scaler, pageSample({1280, 1024}, "I420"), {320, 240}));
        EXPECT_FALSE(fitted(scaler, nullptr, {320, 240}));
        // More frames held at once than the scaler keeps in turn: each is its own picture.
        for (int i = 0; i < 6; ++i)
            held.push_back(fitted(scaler, pageSample({1280, 1024}), {640, 480}));
        for (size_t i = 1; i < held.size(); ++i)
            EXPECT_NE(held[i].image().constBits(), held[0].image().constBits());
    }
    // The view may hold the last frames after the session (and its scaler) went away.
    for (const Frame &frame : held) {
        ASSERT_EQ(frame.width(), 600);
        expectPage(frame.image());
    }
}

// A camera's JPEG frame for the view: decoded at the DCT scale that covers the view, then
// brought to its exact size; still the page. A frame cut short is no picture.
TEST(ViewScaler, DecodesJpegFramesAtTheScaleTheViewNeeds)
{
    ViewScaler scaler;
    for (const QSize box : {QSize(769, 615), QSize(200, 200), QSize(4000, 4000)}) {
        const Frame frame = fittedJpeg(scaler, pageJpegSample({2048, 1536}), box);
        ASSERT_TRUE(frame) << box.width();
        const QSize expected = box.width() > 2048 ? QSize(2048, 1536) : fitInside({2048, 1536}, box);
        EXPECT_EQ(QSize(frame.width(), frame.height()), expected);
        expectPage(frame.image());
        quillora::test::expectPaperColour(frame.image(), 4);
    }
    // Every chroma layout a camera may send: the planes scaled, or (4:1:1) the picture after
    // decoding; a grey camera gives the paper's grey.
    const int paperGrey = (qRed(kVirtualPaper) * 299 + qGreen(kVirtualPaper) * 587 + qBlue(kVirtualPaper) * 114) / 1000;
    for (const int subsampling : {TJSAMP_420, TJSAMP_444, TJSAMP_411, TJSAMP_GRAY}) {
        SCOPED_TRACE(subsampling);
        const Frame frame = fittedJpeg(scaler, pageJpegSample({2048, 1536}, 0, subsampling), {769, 615});
        ASSERT_TRUE(frame);
        EXPECT_EQ(QSize(frame.width(), frame.height()), fitInside({2048, 1536}, {769, 615}));
        expectPage(frame.image());
        quillora::test::expectPaperColour(
            frame.image(), 4, subsampling == TJSAMP_GRAY ? qRgb(paperGrey, paperGrey, paperGrey) : kVirtualPaper);
    }
    EXPECT_FALSE(fittedJpeg(scaler, pageJpegSample({2048, 1536}, 30000), {640, 480}));
    EXPECT_TRUE(fittedJpeg(scaler, pageJpegSample({640, 480}), {640, 480})) << "a decoder that failed is made anew";
    EXPECT_EQ(jpegScaledSize({2048, 1536}, {769, 577}), QSize(1024, 768));
    EXPECT_EQ(jpegScaledSize({2048, 1536}, {640, 480}), QSize(768, 576)); // 3/8: 1/4 would be too small
    EXPECT_EQ(jpegScaledSize({2048, 1536}, {2048, 1536}), QSize(2048, 1536));
}

// Every photo size, from a camera of no stated size and from one of another size: frames come
// at the requested size and show the page.
TEST(Session, FramesArriveAtTheRequestedSize)
{
    const struct {
        QSize native, requested;
    } cases[] = {{{}, {320, 240}}, {{}, {640, 480}}, {{}, {1280, 1024}}, {{}, {1600, 1200}}, {{}, {2048, 1536}},
        {{1280, 1024}, {320, 240}}};
    for (const auto &k : cases) {
        SCOPED_TRACE(testing::Message() << k.requested.width() << " from " << k.native.width());
        PreviewSession s(virtualCamera(k.native), k.requested);
        s.session->startRunning();
        ASSERT_TRUE(waitUntil([&] { return s.delegate.read(&RecordingDelegate::count) >= 2; })) << "no frames";
        const Frame frame = s.delegate.read(&RecordingDelegate::last);
        EXPECT_EQ(QSize(frame.width(), frame.height()), k.requested);
        expectPage(frame.image());
    }
}

// The view shows what its delegate returns, scaled to the view rather than the camera, and a
// session that goes away stops feeding it without a crash.
TEST(Session, ViewShowsFramesAndAsksItsDelegate)
{
    struct Flip : CaptureViewDelegate {
        QImage viewWillDisplayImage(CaptureView *, const QImage &image) override { return image.mirrored(true, false); }
    } flip;
    CaptureView view;
    view.resize(320, 240);
    view.show();
    view.setDelegate(&flip);
    PreviewSession s(virtualCamera(), QSize(640, 480));
    view.setCaptureSession(s.session);
    s.session->startRunning();
    ASSERT_TRUE(waitUntil([&] { return view.framesShown() >= 3 && view.lastShownImage().size() == QSize(320, 240); }))
        << view.lastShownImage().width() << "x" << view.lastShownImage().height();
    const QImage shown = view.lastShownImage();
    EXPECT_LT(qGray(shown.pixel(shown.width() - shown.width() / 8, shown.width() / 16)), 40) << "marker not mirrored";
    s.session.reset();
    const auto shownBefore = view.framesShown();
    quillora::test::flushEvents();
    EXPECT_EQ(view.framesShown(), shownBefore) << "a frame came from a session that is gone";
}

TEST(Session, ACameraThatFailsIsReportedAndTheNextSessionWorks)
{
    DeviceDescription gone;
    gone.kind = DeviceKind::V4l2Camera;
    gone.displayName = QStringLiteral("Unplugged");
    gone.devicePath = QStringLiteral("/dev/video-does-not-exist");
    auto camera = std::make_shared<CaptureDevice>(gone);
    QString error;
    EXPECT_FALSE(camera->open(&error));
    EXPECT_FALSE(error.isEmpty());
    {
        PreviewSession s(camera, QSize(320, 240));
        QSignalSpy failures(s.session.get(), &CaptureSession::runtimeError);
        s.session->startRunning(); // carries on; the failure comes as a message
        EXPECT_TRUE(waitUntil([&] { return failures.count() > 0; }));
        s.session->stopRunning();
    }
    PreviewSession next(virtualCamera(), QSize(320, 240));
    next.session->startRunning();
    EXPECT_TRUE(waitUntil([&] { return next.delegate.read(&RecordingDelegate::count) >= 1; }));
}

// The camera runs in the mode chosen for the request; its JPEG frames arrive decoded, and the
// damaged ones (cut short, garbled, a packet lost inside) are passed over without stopping or
// spoiling the picture: never shown, never a picture for a photo, and counted.
TEST(Session, RunsTheChosenModeAndPassesOverDamagedFrames)
{
    setVirtualCameraDamage(3);
    PreviewSession s(virtualCamera(), QSize(2048, 1536));
    ShownPictures view;
    s.session->setDisplaySink(&view);
    QSignalSpy failures(s.session.get(), &CaptureSession::runtimeError);
    s.session->startRunning(); // the camera is made here
    setVirtualCameraDamage(0);
    ASSERT_TRUE(s.session->cameraMode());
    EXPECT_EQ(describeMode(*s.session->cameraMode()), QStringLiteral("MJPEG 2048x1536 @ 30 fps"));
    // Every kind of damage has come by then (the ninth frame is the third damaged one).
    ASSERT_TRUE(waitUntil([&] { return s.delegate.read(&RecordingDelegate::count) >= 20; }));
    ASSERT_TRUE(waitUntil([&] { return s.session->skippedFrames() >= 3; }));
    s.session->setDisplaySink(nullptr);
    EXPECT_EQ(failures.count(), 0);
    EXPECT_GT(s.delegate.read(&RecordingDelegate::darkestCorner), 200) << "a damaged frame gave a picture";
    EXPECT_GT(view.darkestCorner, 200) << "a damaged frame was shown";
    EXPECT_GT(view.count, 10);
    expectPage(s.delegate.read(&RecordingDelegate::last).image());
}

// A camera that refuses the mode it listed: the next best mode once, then a report. And a
// camera with nothing we can show says so instead of showing black.
TEST(Session, RefusedModesFallBackOnceThenReport)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("modes.txt"));
    auto writeModes = [&](const std::vector<CameraMode> &modes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(formatModeListing(modes).toUtf8());
    };
    auto cameraListedWith = [&](const std::vector<CameraMode> &modes) {
        writeModes(modes);
        const auto listed = parseVirtualCameras(QStringLiteral("Desk|Model|desk-1|") + path);
        EXPECT_EQ(listed.size(), 1u);
        return std::make_shared<CaptureDevice>(listed.at(0));
    };
    const auto all = documentCameraModes();
    const ChosenMode big{QStringLiteral("MJPG"), QSize(2048, 1536), FrameRate{30, 1}};
    {
        // Listed with every mode; by the start the 2048x1536 one is gone.
        auto camera = cameraListedWith(all);
        writeModes(withoutMode(all, big));
        PreviewSession s(camera, QSize(2048, 1536));
        QSignalSpy failures(s.session.get(), &CaptureSession::runtimeError);
        s.session->startRunning();
        ASSERT_TRUE(waitUntil([&] { return s.delegate.read(&RecordingDelegate::count) >= 2; }));
        EXPECT_EQ(describeMode(*s.session->cameraMode()), QStringLiteral("MJPEG 2592x1944 @ 15 fps"));
        const Frame frame = s.delegate.read(&RecordingDelegate::last);
        EXPECT_EQ(QSize(frame.width(), frame.height()), QSize(2048, 1536));
        EXPECT_EQ(failures.count(), 0);
    }
    {
        // By the start it offers nothing at all: one fallback, then the failure is reported.
        auto camera = cameraListedWith(all);
        writeModes({});
        PreviewSession s(camera, QSize(640, 480));
        QSignalSpy failures(s.session.get(), &CaptureSession::runtimeError);
        s.session->startRunning();
        EXPECT_TRUE(waitUntil([&] { return failures.count() > 0; }));
        EXPECT_EQ(s.delegate.read(&RecordingDelegate::count), 0);
    }
    for (const auto &modes : {std::vector<CameraMode>{},
             std::vector<CameraMode>{
                 CameraMode{QStringLiteral("H264"), QSize(1920, 1080), {}, {}, {{30, 1}}, {}, {}}}}) {
        PreviewSession s(cameraListedWith(modes), QSize(640, 480));
        QSignalSpy failures(s.session.get(), &CaptureSession::runtimeError);
        s.session->startRunning();
        EXPECT_TRUE(waitUntil([&] { return failures.count() > 0; }));
        EXPECT_FALSE(s.session->cameraMode());
    }
}

// The last reference to a session's pipeline may be let go of on a thread of GLib's pool (one
// that asked the pipeline's latency), after another thread stopped it and joined its streaming
// threads. Our elements are finalized there, and what the streaming threads left in them must
// come with them: the ThreadSanitizer build reports it otherwise.
TEST(Session, OurElementsMayBeLetGoOfLastOnAThreadOfGLibsPool)
{
    ensureGstreamer();
    ASSERT_TRUE(registerJpegDecoder() && registerMovieConverter());
    CameraMode mode;
    mode.fourcc = QStringLiteral("MJPG");
    mode.size = QSize(640, 480);
    mode.rates = {FrameRate{30, 1}};
    QString error;
    ElementPtr camera = makeVirtualCameraSource({mode}, &error);
    ASSERT_TRUE(camera) << error.toStdString();
    GstElement *pipeline = gst_pipeline_new(nullptr);
    GstElement *ours[] = {camera.get(), gst_element_factory_make(kJpegDecoderFactory, nullptr),
        gst_element_factory_make(kMovieConverterFactory, nullptr)};
    GstElement *sink = gst_element_factory_make("appsink", nullptr);
    ASSERT_TRUE(ours[1] && ours[2] && sink);
    g_object_set(sink, "sync", FALSE, "max-buffers", 1u, "drop", TRUE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), ours[0], ours[1], ours[2], sink, nullptr);
    ASSERT_TRUE(gst_element_link_many(ours[0], ours[1], ours[2], sink, nullptr));
    camera.reset(); // the pipeline's alone now

    // Where each of them was let go of; the weak references are told on that thread.
    struct LetGo {
        std::mutex mutex; // guards threads
        std::vector<std::thread::id> threads;
    } letGo;
    for (GstElement *element : ours)
        g_object_weak_ref(
            G_OBJECT(element),
            [](gpointer data, GObject *) {
                auto *seen = static_cast<LetGo *>(data);
                std::lock_guard lock(seen->mutex);
                seen->threads.push_back(std::this_thread::get_id());
            },
            &letGo);
    // Started now, before any frame, and handed the pipeline through GLib's own queue, as the
    // pipeline's latency thread is: nothing the sanitizer sees orders the frames before it.
    GThreadPool *pool
        = g_thread_pool_new([](gpointer element, gpointer) { gst_object_unref(element); }, nullptr, 1, TRUE, nullptr);
    ASSERT_TRUE(pool);

    runTasksOnTheirOwnThreads(pipeline);
    ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(SamplePtr(gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)))
            << "frame " << i << " did not come";
    gst_element_set_state(pipeline, GST_STATE_NULL);
    g_thread_pool_push(pool, pipeline, nullptr);
    g_thread_pool_free(pool, FALSE, TRUE); // waits for it

    std::lock_guard lock(letGo.mutex);
    ASSERT_EQ(letGo.threads.size(), 3u);
    for (const auto &thread : letGo.threads)
        EXPECT_NE(thread, std::this_thread::get_id());
}
