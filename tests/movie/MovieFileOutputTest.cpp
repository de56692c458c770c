// SPDX-License-Identifier: GPL-3.0-or-later
// The movie file output on its own, in a session of a virtual camera and a virtual
// microphone: the movie it writes, and every way a recording can end.
#include "MovieFileOutput.h"
#include "Frame.h"
#include "MovieInspect.h"
#include "PixelScale.h"
#include "RealFrames.h"
#include "TestSupport.h"
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <gst/gst.h>

using namespace quillora;
using namespace quillora::capture;
using namespace std::chrono_literals;
using test::stretched;
using test::waitUntil;

namespace {

class MovieOutput : public ::testing::Test {
protected:
    QTemporaryDir dir;
    test::ScopedEnv cameras{"QUILLORA_VIRTUAL_CAMERAS", "Desk|Model X|cam-1|1280x1024"};
    test::ScopedEnv microphone{"QUILLORA_VIRTUAL_MICROPHONE", "Test Tone"};
    QObject receiver;
    std::vector<MovieFileOutput::Finish> ended;
    std::shared_ptr<CaptureSession> session;
    std::shared_ptr<MovieFileOutput> movie;

    // A running session of the camera and the microphone, recording SD H.264 and AAC.
    void build()
    {
        ended.clear();
        session = std::make_shared<CaptureSession>();
        movie = std::make_shared<MovieFileOutput>();
        for (MediaType type : {MediaType::Video, MediaType::Sound})
            ASSERT_TRUE(session->addInput(
                std::make_shared<CaptureDeviceInput>(defaultInputDeviceWithMediaType(type)), nullptr));
        ASSERT_TRUE(session->addOutput(movie, nullptr));
        movie->setDelegate(
            &receiver, [this](MovieFileOutput *, const QUrl &url, const QString &why, MovieFault fault, bool complete) {
                ended.push_back({url, why, fault, complete});
            });
        for (const auto &connection : movie->connections())
            movie->setCompressionOptions(
                CompressionOptions::compressionOptionsWithIdentifier(connection->mediaType() == kMediaTypeVideo
                        ? kCompressionOptionsSD480SizeH264Video
                        : kCompressionOptionsHighQualityAACAudio),
                connection);
        session->startRunning();
    }
    QString start(const char *name)
    {
        const QString file = dir.filePath(QString::fromUtf8(name));
        movie->recordToOutputFileURL(QUrl::fromLocalFile(file));
        return file;
    }
    bool waitForEnd(std::chrono::milliseconds timeout = stretched(10s))
    {
        return waitUntil([&] { return !ended.empty(); }, timeout);
    }
};

// A movie's picture of the page: the black marker top left, the paper's colour at the top
// right within 10 levels.
void expectMoviePage(const QImage &picture)
{
    EXPECT_LT(qGray(picture.pixel(55, 55)), 30);
    const QRgb paper = picture.pixel(picture.width() - 5, 5);
    EXPECT_NEAR(qRed(paper), qRed(kVirtualPaper), 10);
    EXPECT_NEAR(qGreen(paper), qGreen(kVirtualPaper), 10);
    EXPECT_NEAR(qBlue(paper), qBlue(kVirtualPaper), 10);
}

} // namespace

// A stop before the camera has started, a missing folder, a folder nobody may write in and a
// full disk (/dev/full) each end with an error, no file and no hang; the output then records
// again, and a second stop while finishing gives one finish.
TEST_F(MovieOutput, FailuresEndWithAnErrorAndTheNextRecordingWorks)
{
    build();
    const QString early = start("early.mov"); // the session is still starting
    movie->recordToOutputFileURL(QUrl());
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), dir.filePath(QStringLiteral("full.mov"))));
    const std::pair<QString, MovieFault> failures[]
        = {{early, MovieFault::NotStarted}, {dir.filePath(QStringLiteral("gone/movie.mov")), MovieFault::FolderMissing},
            {QStringLiteral("/proc/quillora-test.mov"), MovieFault::FolderNotWritable},
            {dir.filePath(QStringLiteral("full.mov")), MovieFault::DiskFull}};
    for (const auto &[file, fault] : failures) {
        if (file != early)
            movie->recordToOutputFileURL(QUrl::fromLocalFile(file));
        ASSERT_TRUE(waitForEnd(stretched(15s))) << file.toStdString();
        EXPECT_FALSE(ended.front().error.isEmpty()) << file.toStdString();
        EXPECT_EQ(ended.front().fault, fault) << file.toStdString() << ": " << ended.front().error.toStdString();
        EXPECT_FALSE(movie->isRecording());
        EXPECT_FALSE(ended.front().complete) << file.toStdString();
        EXPECT_EQ(QFile::exists(file), file.endsWith(QStringLiteral("full.mov"))) << file.toStdString();
        ended.clear();
    }
    const QString fine = start("fine.mov");
    EXPECT_TRUE(waitUntil([&] { return movie->statistics().framesWritten >= 20; }));
    movie->recordToOutputFileURL(QUrl());
    movie->recordToOutputFileURL(QUrl());
    EXPECT_TRUE(movie->isRecording()) << "still finishing";
    ASSERT_TRUE(waitForEnd());
    test::runEventsFor(500ms);
    EXPECT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended.front().error, QString());
    EXPECT_EQ(ended.front().fault, MovieFault::None);
    EXPECT_TRUE(ended.front().complete);
    EXPECT_EQ(test::playProblem(fine, 10), QString());
}

// Ended from outside after a second: a stop while the session is paused (a frozen picture),
// the session torn down, the camera failing, the longest length (the index space kept)
// reached; each movie still plays to its end.
TEST_F(MovieOutput, EndingsFromOutsideLeaveAMovieThatPlays)
{
    const struct {
        const char *name;
        std::function<void()> end;
        const char *error;
    } cases[] = {
        {"paused.mov",
            [this] {
                session->stopRunning();
                test::runEventsFor(300ms);
                movie->recordToOutputFileURL(QUrl());
            },
            ""},
        {"teardown.mov", [this] { session.reset(); }, ""},
        {"unplugged.mov",
            [this] {
                g_autoptr(GstElement) camera
                    = GST_ELEMENT(gst_object_ref_sink(gst_element_factory_make("fakesrc", "camera")));
                g_autoptr(GError) error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "unplugged");
                g_autoptr(GstMessage) message = gst_message_new_error(GST_OBJECT(camera), error, nullptr);
                session->handleBusMessage(message);
            },
            "camera"},
        {"longest.mov", [] {}, "longest"},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        build();
        if (*k.error == 'l')
            movie->setMaximumDuration(2s);
        const QString file = start(k.name);
        // The second of camera time counts from the movie's first picture: a slow start (a
        // sanitizer build's first encoder) is no shortfall of pictures.
        ASSERT_TRUE(waitUntil([&] { return movie->statistics().framesWritten >= 1; }));
        test::runEventsFor(stretched(1000ms));
        k.end();
        ASSERT_TRUE(waitForEnd());
        EXPECT_TRUE(ended.front().error.contains(QString::fromUtf8(k.error))) << ended.front().error.toStdString();
        EXPECT_EQ(ended.front().error.isEmpty(), !*k.error);
        EXPECT_TRUE(ended.front().complete);
        EXPECT_EQ(test::playProblem(file, 20), QString());
    }
    EXPECT_NEAR(test::discoverMovie(dir.filePath(QStringLiteral("longest.mov"))).durationSeconds, 2.0, 0.5);
}

// finishNow completes the file before it returns, hands the finish back instead of sending
// it, and has nothing left to finish afterwards; no picture was lost on the way.
TEST_F(MovieOutput, FinishNowCompletesTheFileAndTakesTheFinishFromTheDelegate)
{
    build();
    const QString file = start("now.mov");
    ASSERT_TRUE(waitUntil([&] { return movie->statistics().framesWritten >= 1; }));
    test::runEventsFor(stretched(1200ms));
    const auto finish = movie->finishNow(stretched(5s));
    ASSERT_TRUE(finish.has_value());
    EXPECT_EQ(finish->url, QUrl::fromLocalFile(file));
    EXPECT_EQ(finish->error, QString());
    EXPECT_TRUE(finish->complete);
    EXPECT_FALSE(movie->isRecording());
    EXPECT_FALSE(movie->finishNow(1s).has_value());
    EXPECT_EQ(test::playProblem(file, 25), QString());
    EXPECT_EQ(movie->statistics().framesWritten, movie->statistics().framesOffered);
    // Sound and picture start and end together, to within an AAC frame (21 ms).
    const test::DecodedMovie decoded = test::decodeMovie(file);
    EXPECT_NEAR(decoded.audioStart, decoded.videoStart, 0.022);
    EXPECT_NEAR(decoded.audioEnd, decoded.videoEnd, 0.022);
    // The picture itself came through the scaling and the conversion for the encoder: the
    // page's black marker top left, its paper, and the moving block still red.
    const QImage first = test::firstPicture(file);
    ASSERT_EQ(first.size(), QSize(600, 480));
    expectMoviePage(first);
    int red = 0;
    for (int y = 420; y < 480; ++y)
        for (int x = 0; x < 600; ++x)
            red += qRed(first.pixel(x, y)) > 150 && qGreen(first.pixel(x, y)) < 90 && qBlue(first.pixel(x, y)) < 90;
    EXPECT_GT(red, 50);
    test::runEventsFor(300ms);
    EXPECT_TRUE(ended.empty());
}

// A microphone that goes away mid-recording (its source unloaded from the sound server): no
// hang, the recording ends, and the movie keeps the picture and the sound it got.
TEST_F(MovieOutput, AMicrophoneThatGoesAwayEndsTheMovieWithWhatItHas)
{
    test::ScopedEnv realMicrophone("QUILLORA_VIRTUAL_MICROPHONE", "");
    const test::SoundServer server({QStringLiteral("module-null-source source_name=desk_mic")});
    ASSERT_TRUE(server.ready()) << "pulseaudio (scripts/install-deps) is needed";
    ASSERT_TRUE(server.pactl({QStringLiteral("set-default-source"), QStringLiteral("desk_mic")}));
    build();
    const QString file = start("microphone.mov");
    ASSERT_TRUE(waitUntil([&] { return movie->statistics().framesWritten >= 30; }));
    ASSERT_TRUE(server.pactl({QStringLiteral("unload-module"), QStringLiteral("module-null-source")}));
    // Either the sound input reports its end and the movie ends by itself, or it just stops
    // sending and the user's stop must still finish the file.
    const bool endedByItself = waitForEnd(stretched(3s));
    if (!endedByItself)
        movie->recordToOutputFileURL(QUrl());
    ASSERT_TRUE(waitForEnd());
    if (endedByItself) {
        EXPECT_TRUE(ended.front().error.contains(QStringLiteral("sound input"))) << ended.front().error.toStdString();
        EXPECT_EQ(ended.front().fault, MovieFault::SoundStopped);
    }
    EXPECT_FALSE(movie->isRecording());
    EXPECT_EQ(test::playProblem(file, 20), QString());
    const auto info = test::discoverMovie(file);
    EXPECT_EQ(info.audioTracks, 1);
    EXPECT_GT(info.durationSeconds, 0.8);
}

// A camera that sends JPEG frames only (at 2048x1536), every third of them damaged as on a noisy
// link (cut short, or its headers garbled, by turns): the movie's frames are decoded at the
// scale that covers the movie's size and show the page (the marker, the paper's colour); the
// damaged ones are passed over, neither ending the movie nor reaching it grey at the bottom.
TEST_F(MovieOutput, AnMjpegCameraRecordsItsPageAndPassesOverDamagedFrames)
{
    const QString modes = dir.filePath(QStringLiteral("mjpeg-only.txt"));
    {
        QFile file(modes);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(formatModeListing(
            {CameraMode{QStringLiteral("MJPG"), QSize(2048, 1536), {}, {}, {{30, 1}}, {},
                {}}}).toUtf8());
    }
    test::ScopedEnv mjpegCamera("QUILLORA_VIRTUAL_CAMERAS", ("Desk|Model X|cam-1|" + modes).toUtf8());
    setVirtualCameraDamage(3);
    build(); // the camera is made here
    setVirtualCameraDamage(0);
    ASSERT_TRUE(session->cameraMode());
    EXPECT_EQ(describeMode(*session->cameraMode()), QStringLiteral("MJPEG 2048x1536 @ 30 fps"));
    const QString file = start("mjpeg.mov");
    EXPECT_TRUE(waitUntil([&] { return movie->statistics().framesWritten >= 20; }));
    movie->recordToOutputFileURL(QUrl());
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(ended.front().error, QString());
    EXPECT_EQ(test::playProblem(file, 15), QString());
    const std::vector<QImage> pictures = test::pictures(file, 60);
    ASSERT_GE(pictures.size(), 15u);
    ASSERT_EQ(pictures.front().size(), QSize(640, 480));
    expectMoviePage(pictures.front());
    int greyCorners = 0;
    for (const QImage &picture : pictures)
        greyCorners += qGray(picture.pixel(picture.width() - 5, picture.height() - 5)) < 200;
    EXPECT_EQ(greyCorners, 0) << "damaged frames reached the movie";
}

// Real cameras' frames, replayed by the virtual camera (a frame without Huffman tables, one with
// a camera's padding, one with the rest of an older frame behind it): each movie's pictures are
// the frame fitted into the movie's box, as libjpeg decodes it.
TEST_F(MovieOutput, RealCamerasFramesRecordAsTheirPictures)
{
    QUILLORA_REAL_DATA_OR_SKIP(folder, QStringLiteral("mjpeg-frames"));
    for (const std::size_t which : {std::size_t(0), std::size_t(1), std::size_t(2)}) {
        const test::RealFrame &f = test::kRealFrames[which];
        SCOPED_TRACE(f.file);
        QTemporaryDir recording;
        ASSERT_TRUE(QFile::link(
            folder + QLatin1Char('/') + QLatin1String(f.file), recording.filePath(QStringLiteral("frame.jpg"))));
        test::ScopedEnv replay("QUILLORA_VIRTUAL_CAMERAS", "Real|Model X|cam-1|" + recording.path().toUtf8());
        build();
        const QString file = start("real.mov");
        ASSERT_TRUE(waitUntil([&] { return movie->statistics().framesWritten >= 10; }));
        movie->recordToOutputFileURL(QUrl());
        ASSERT_TRUE(waitForEnd());
        EXPECT_EQ(ended.front().error, QString());
        const QImage picture = test::firstPicture(file);
        ASSERT_EQ(picture.size(), fitInside(f.size, QSize(640, 480)));
        const QImage expected = test::libjpegDecode(test::readRealFrame(folder, f), true)
                                    .scaled(picture.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_GT(test::psnr(picture, expected), 28);
        session.reset();
        QFile::remove(file);
    }
}

// A camera that answers its MJPEG mode with frames of another size (asked for 1280x720, sending
// 800x600): the live picture and the movie go on, each frame scaled to the size the mode asked
// for, instead of every frame being dropped and the picture standing still.
TEST_F(MovieOutput, FramesOfAnotherSizeThanTheModeAreScaledNotDropped)
{
    const QString modes = dir.filePath(QStringLiteral("mjpeg-720p.txt"));
    {
        QFile file(modes);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(formatModeListing(
            {CameraMode{QStringLiteral("MJPG"), QSize(1280, 720), {}, {}, {{30, 1}}, {},
                {}}}).toUtf8());
    }
    test::ScopedEnv mjpegCamera("QUILLORA_VIRTUAL_CAMERAS", ("Desk|Model X|cam-1|" + modes).toUtf8());
    struct CountingDisplay : DisplaySink {
        void presentFrame(const ViewPicture &picture) override
        {
            if (picture.frame && !picture.frame.image().isNull())
                shown.fetch_add(1);
        }
        std::atomic<int> shown{0};
    } display;
    setVirtualCameraSentSize(QSize(800, 600));
    build(); // the camera is made here
    setVirtualCameraSentSize(QSize());
    session->setDisplaySink(&display);
    const QString file = start("othersize.mov");
    EXPECT_TRUE(waitUntil([&] { return movie->statistics().framesWritten >= 20; }))
        << movie->statistics().framesOffered << " offered";
    EXPECT_GE(display.shown.load(), 10) << "the live picture stood still";
    movie->recordToOutputFileURL(QUrl());
    ASSERT_TRUE(waitForEnd());
    session->setDisplaySink(nullptr);
    EXPECT_EQ(ended.front().error, QString());
    EXPECT_EQ(test::playProblem(file, 15), QString());
    const QImage first = test::firstPicture(file);
    ASSERT_EQ(first.size(), QSize(640, 360));
    EXPECT_LT(qGray(first.pixel(55, 40)), 30); // the marker, squeezed into the mode's shape
    EXPECT_GT(qGray(first.pixel(first.width() - 5, 5)), 200);
}
