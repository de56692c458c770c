// The capture layer on real GStreamer with virtual cameras: device lists, sessions, frames of
// the requested size, the live view, and a camera that fails.
#include "CaptureDevice.h"
#include "CaptureSession.h"
#include "CaptureView.h"
#include "DecompressedVideoOutput.h"
#include "Devices.h"
#include "Frame.h"
#include "SessionGraph.h"
#include "TestSupport.h"
#include "ViewScaler.h"
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <gst/video/video.h>

#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <mutex>

using namespace quillora::capture;
using quillora::test::ScopedEnv;
using quillora::test::waitUntil;

namespace {

class RecordingDelegate : public DecompressedVideoOutputDelegate {
public:
    void captureOutputDidOutputVideoFrame(DecompressedVideoOutput *, const Frame &frame) override
    {
        std::lock_guard lock(mutex);
        last = frame;
        ++count;
    }
    Frame lastFrame()
    {
        std::lock_guard lock(mutex);
        return last;
    }
    int frames()
    {
        std::lock_guard lock(mutex);
        return count;
    }

private:
    std::mutex mutex; // guards last and count
    Frame last;
    int count = 0;
};

CaptureDevicePtr virtualCamera(QSize native = {})
{
    DeviceDescription d;
    d.kind = DeviceKind::VirtualCamera;
    d.displayName = QStringLiteral("Test Camera");
    d.modelUniqueID = QStringLiteral("Virtual Camera");
    d.uniqueID = QStringLiteral("virtual-test");
    d.nativeSize = native;
    return std::make_shared<CaptureDevice>(d);
}

struct PreviewSession {
    std::shared_ptr<CaptureSession> session = std::make_shared<CaptureSession>();
    std::shared_ptr<DecompressedVideoOutput> output = std::make_shared<DecompressedVideoOutput>();
    RecordingDelegate delegate;

    PreviewSession(const CaptureDevicePtr &camera, QSize frameSize)
    {
        QString error;
        EXPECT_TRUE(session->addInput(std::make_shared<CaptureDeviceInput>(camera), &error)) << error.toStdString();
        output->setDelegate(&delegate);
        EXPECT_TRUE(session->addOutput(output, &error));
        output->setPixelBufferAttributes(
            {{kPixelBufferWidthKey, frameSize.width()}, {kPixelBufferHeightKey, frameSize.height()}});
    }
    ~PreviewSession() { session.reset(); }
};

} // namespace

TEST(VirtualCameraList, ParsesEntriesAndSkipsMalformedOnes)
{
    const auto cams = parseVirtualCameras(
        QStringLiteral("Desk|UVC Camera VendorID_2316 ProductID_890|0x01420000090c037a; Plain ;"
                       "|no name|x;A|b|c|d|e;Sized|m|u|320x240;Odd|m|u|321x240;Huge|m|u|99999x2"));
    ASSERT_EQ(cams.size(), 3u);
    EXPECT_EQ(cams[0].displayName, QStringLiteral("Desk"));
    EXPECT_EQ(cams[0].modelUniqueID, QStringLiteral("UVC Camera VendorID_2316 ProductID_890"));
    EXPECT_EQ(cams[0].uniqueID, QStringLiteral("0x01420000090c037a"));
    // Missing model and identifier get their stand-ins, numbered by position in the list.
    EXPECT_EQ(cams[1].modelUniqueID, QStringLiteral("Virtual Camera"));
    EXPECT_EQ(cams[1].uniqueID, QStringLiteral("virtual-1"));
    EXPECT_EQ(cams[2].nativeSize, QSize(320, 240));
}

TEST(VirtualCameraList, EnvironmentReplacesTheCameraListAndKeepsObjectsStable)
{
    ScopedEnv env("QUILLORA_VIRTUAL_CAMERAS", "One|m1|id1;Two|m2|id2");
    const auto first = inputDevicesWithMediaType(MediaType::Video);
    const auto second = inputDevicesWithMediaType(MediaType::Video);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0]->localizedDisplayName(), QStringLiteral("One"));
    EXPECT_EQ(first[1]->uniqueID(), QStringLiteral("id2"));
    // The same device is the same object at every call, and the default is the first.
    EXPECT_EQ(first[0], second[0]);
    EXPECT_EQ(defaultInputDeviceWithMediaType(MediaType::Video), first[0]);

    ScopedEnv none("QUILLORA_VIRTUAL_CAMERAS", "");
    EXPECT_TRUE(inputDevicesWithMediaType(MediaType::Video).empty());
    EXPECT_EQ(defaultInputDeviceWithMediaType(MediaType::Video), nullptr);
}

TEST(VirtualCameraPage, MarkerSitsInTheTopLeftCornerOnPaper)
{
    QImage page(400, 300, QImage::Format_RGB32);
    page.fill(kVirtualPaper);
    paintVirtualPage(page, 0);
    const int margin = 400 / 32;
    const int marker = 400 / 8;
    EXPECT_EQ(page.pixel(margin + marker / 2, margin + marker / 2), qRgb(0, 0, 0));
    EXPECT_EQ(page.pixel(399, 0), kVirtualPaper); // the other corners are paper
    EXPECT_EQ(page.pixel(0, 299), kVirtualPaper);
    // The moving block is somewhere else a few frames later.
    QImage later(400, 300, QImage::Format_RGB32);
    later.fill(kVirtualPaper);
    paintVirtualPage(later, 30);
    EXPECT_NE(page, later);
}

TEST(Frame, ImageKeepsTheFrameAliveAndSharesItsPixels)
{
    QImage source(8, 4, QImage::Format_RGB32);
    source.fill(qRgb(10, 20, 30));
    QImage view;
    {
        const Frame frame = Frame::fromImage(source);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame.width(), 8);
        view = frame.image();
        const Frame copy = frame;
        EXPECT_TRUE(copy.sameAs(frame));
        EXPECT_EQ(copy.image().constBits(), frame.image().constBits()); // no copy on the way
    }
    EXPECT_EQ(view.pixel(7, 3), qRgb(10, 20, 30));
    EXPECT_FALSE(Frame());
    EXPECT_TRUE(Frame().image().isNull());
    EXPECT_FALSE(Frame::adopt(nullptr));
}

namespace {

// A sample holding frame 0 of the virtual page at `size`, as the camera's branch delivers it.
GstSample *pageSample(QSize size, const char *format = "BGRx")
{
    ensureGstreamer();
    GstBuffer *buffer = gst_buffer_new_allocate(nullptr, gsize(size.width()) * size.height() * 4, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    QImage page(map.data, size.width(), size.height(), size.width() * 4, QImage::Format_RGB32);
    page.fill(kVirtualPaper);
    paintVirtualPage(page, 0);
    gst_buffer_unmap(buffer, &map);
    CapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT, size.width(),
        "height", G_TYPE_INT, size.height(), nullptr));
    GstSample *sample = gst_sample_new(buffer, caps.get(), nullptr, nullptr);
    gst_buffer_unref(buffer);
    return sample;
}

// The page's marker (top left) is black and the far corner is paper, at any size.
void expectPage(const QImage &image)
{
    const int w = image.width();
    EXPECT_LT(qGray(image.pixel(w / 32 + w / 16, w / 32 + w / 16)), 20);
    EXPECT_GT(qGray(image.pixel(w - 2, 1)), 220);
}

} // namespace

TEST(ViewScaler, ShrinksWhatDoesNotFitPassesTheRestAndOutlivesItself)
{
    std::vector<Frame> held;
    {
        ViewScaler scaler;
        // Larger than the view: scaled to fit, aspect kept, still the same page.
        const Frame scaled = scaler.fit(pageSample({1280, 1024}), {769, 615});
        ASSERT_TRUE(scaled);
        EXPECT_EQ(QSize(scaled.width(), scaled.height()), fitInside({1280, 1024}, {769, 615}));
        expectPage(scaled.image());
        // Much smaller: averaged, not sampled, so it is still the page.
        const Frame small = scaler.fit(pageSample({2048, 1536}), {200, 200});
        EXPECT_EQ(QSize(small.width(), small.height()), QSize(200, 150));
        expectPage(small.image());
        int greys = 0; // ink and paper blended: text lines thinner than a pixel here
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 200; ++x)
                greys += qGray(small.image().pixel(x, y)) > 70 && qGray(small.image().pixel(x, y)) < 200;
        EXPECT_GT(greys, 1000);
        // Fits already (or no size known): shown as it came, not copied.
        EXPECT_EQ(scaler.fit(pageSample({640, 480}), {769, 615}).width(), 640);
        EXPECT_EQ(scaler.fit(pageSample({1280, 1024}), {}).width(), 1280);
        // Not a BGRx picture: nothing to show.
        EXPECT_FALSE(scaler.fit(pageSample({1280, 1024}, "I420"), {320, 240}));
        EXPECT_FALSE(scaler.fit(nullptr, {320, 240}));
        // More frames held at once than the scaler keeps in turn: each is its own picture.
        for (int i = 0; i < 6; ++i)
            held.push_back(scaler.fit(pageSample({1280, 1024}), {640, 480}));
        for (size_t i = 1; i < held.size(); ++i)
            EXPECT_NE(held[i].image().constBits(), held[0].image().constBits());
    }
    // The view may hold the last frames after the session (and its scaler) went away.
    for (const Frame &frame : held) {
        ASSERT_EQ(frame.width(), 600);
        expectPage(frame.image());
    }
}

class SessionFrameSize : public ::testing::TestWithParam<QSize> { };

TEST_P(SessionFrameSize, FramesArriveAtTheRequestedSize)
{
    PreviewSession s(virtualCamera(), GetParam());
    s.session->startRunning();
    EXPECT_TRUE(s.session->isRunning());
    ASSERT_TRUE(waitUntil([&] { return s.delegate.frames() >= 2; })) << "no frames";
    const Frame frame = s.delegate.lastFrame();
    EXPECT_EQ(QSize(frame.width(), frame.height()), GetParam());
    // The picture is the page: black marker top-left, paper top-right.
    const QImage image = frame.image();
    const int margin = image.width() / 32 + image.width() / 16;
    EXPECT_LT(qGray(image.pixel(margin, margin)), 40);
    EXPECT_GT(qGray(image.pixel(image.width() - 2, 1)), 200);
}

INSTANTIATE_TEST_SUITE_P(AllPhotoSizes, SessionFrameSize,
    ::testing::Values(QSize(320, 240), QSize(640, 480), QSize(1280, 1024), QSize(1600, 1200), QSize(2048, 1536)));

TEST(Session, FramesAreScaledFromACameraOfAnotherSize)
{
    PreviewSession s(virtualCamera(QSize(1280, 1024)), QSize(320, 240));
    s.session->startRunning();
    ASSERT_TRUE(waitUntil([&] { return s.delegate.frames() >= 1; }));
    const Frame frame = s.delegate.lastFrame();
    EXPECT_EQ(QSize(frame.width(), frame.height()), QSize(320, 240));
}

TEST(Session, StopKeepsTheLastFrameAndStartResumes)
{
    PreviewSession s(virtualCamera(), QSize(320, 240));
    s.session->startRunning();
    ASSERT_TRUE(waitUntil([&] { return s.delegate.frames() >= 3; }));
    s.session->stopRunning();
    EXPECT_FALSE(s.session->isRunning());
    QTest::qWait(200);
    const int stopped = s.delegate.frames();
    QTest::qWait(300);
    EXPECT_LE(s.delegate.frames(), stopped + 1) << "frames kept coming while stopped";
    EXPECT_TRUE(s.delegate.lastFrame());
    s.session->startRunning();
    EXPECT_TRUE(waitUntil([&] { return s.delegate.frames() > stopped + 3; }));
}

TEST(Session, ViewShowsFramesAndAsksItsDelegate)
{
    struct Flip : CaptureViewDelegate {
        int asked = 0;
        QImage viewWillDisplayImage(CaptureView *, const QImage &image) override
        {
            ++asked;
            return image.mirrored(true, false);
        }
    } flip;
    CaptureView view;
    view.resize(320, 240);
    view.show();
    view.setDelegate(&flip);
    PreviewSession s(virtualCamera(), QSize(640, 480));
    view.setCaptureSession(s.session);
    s.session->startRunning();
    ASSERT_TRUE(waitUntil([&] { return view.framesShown() >= 3; }));
    EXPECT_GE(flip.asked, 3);
    // What was shown is what the delegate returned: the marker is now top-right; the view's
    // frames come scaled to the view's size, not the camera's.
    ASSERT_TRUE(waitUntil([&] { return view.lastShownImage().size() == QSize(320, 240); }))
        << view.lastShownImage().width() << "x" << view.lastShownImage().height();
    const QImage shown = view.lastShownImage();
    EXPECT_LT(qGray(shown.pixel(shown.width() - shown.width() / 8, shown.width() / 16)), 40);
    // A session that goes away stops feeding the view, without a crash.
    s.session.reset();
    const auto shownBefore = view.framesShown();
    QTest::qWait(200);
    EXPECT_EQ(view.framesShown(), shownBefore);
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
    EXPECT_TRUE(waitUntil([&] { return next.delegate.frames() >= 1; }));
}

TEST(Session, InputsAndOutputsAreRefusedOnceRunningOrDuplicated)
{
    auto session = std::make_shared<CaptureSession>();
    QString error;
    EXPECT_FALSE(session->addInput(nullptr, &error));
    EXPECT_TRUE(session->addInput(std::make_shared<CaptureDeviceInput>(virtualCamera()), &error));
    EXPECT_FALSE(session->addInput(std::make_shared<CaptureDeviceInput>(virtualCamera()), &error))
        << "two cameras in one session";
    EXPECT_TRUE(session->addOutput(std::make_shared<DecompressedVideoOutput>(), &error));
    session->startRunning();
    EXPECT_FALSE(session->addOutput(std::make_shared<DecompressedVideoOutput>(), &error));
    EXPECT_EQ(session->outputs().size(), 1u);
}

TEST(Geometry, FitInsideKeepsAspectWithEvenSides)
{
    EXPECT_EQ(fitInside({1280, 1024}, {640, 480}), QSize(600, 480));
    EXPECT_EQ(fitInside({640, 480}, {320, 240}), QSize(320, 240));
    EXPECT_EQ(fitInside({1920, 1080}, {640, 480}), QSize(640, 360));
    EXPECT_EQ(fitInside({}, {640, 480}), QSize(640, 480));
}
