// SPDX-License-Identifier: GPL-3.0-or-later
// The movie file output on its own, in a session of a virtual camera and a virtual
// microphone: the movie it writes, and every way a recording can end.
#include "MovieFileOutput.h"
#include "Devices.h"
#include "Frame.h"
#include "LogSpy.h"
#include "ManualClock.h"
#include "MovieInspect.h"
#include "PixelScale.h"
#include "RealFrames.h"
#include "TestPage.h"
#include "TestSupport.h"
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <gst/gst.h>

#include <atomic>
#include <iostream>
#include <memory>

using namespace quillora;
using namespace quillora::capture;
using namespace std::chrono_literals;
using test::waitUntil;

namespace {

// How long a finishing movie waits for a sound input that has gone quiet.
constexpr auto kSoundFallback = 1000ms;
// One AAC frame at 48 kHz: how closely sound and picture start and end together.
constexpr double kAacFrame = 1024.0 / 48000;
// Index space per track and second that this stream fills several times faster than planned:
// the muxer's estimate of what is left falls below the margin from the start, and the space
// would run out after a few seconds.
constexpr unsigned kIndexBytesPerSecond = 40;

class MovieOutput : public ::testing::Test {
protected:
    QTemporaryDir dir;
    test::ScopedEnv cameras{"QUILLORA_VIRTUAL_CAMERAS", "Desk|Model X|cam-1|1280x1024"};
    test::ScopedEnv microphone{"QUILLORA_VIRTUAL_MICROPHONE", "Test Tone"};
    test::LogSpy log;
    // The movie's clock, moved by the test: before the movie output, which takes it when made.
    test::ManualClock clock;
    QObject receiver;
    std::vector<MovieFileOutput::Finish> ended;
    std::shared_ptr<CaptureSession> session;
    std::shared_ptr<MovieFileOutput> movie;

    void TearDown() override
    {
        setVirtualMicrophoneSent(nullptr);
        setVirtualMicrophone(VirtualMicrophone::Sending);
        if (HasFailure()) // what the session said, to tell why
            for (const QString &line : log.lines())
                std::cerr << "  log: " << line.toStdString() << '\n';
    }
    // A running session of the camera and (unless told otherwise) the microphone, recording SD
    // H.264 and AAC.
    void build(bool withSound = true)
    {
        ended.clear();
        session = std::make_shared<CaptureSession>();
        movie = std::make_shared<MovieFileOutput>();
        for (MediaType type : {MediaType::Video, MediaType::Sound})
            if (type == MediaType::Video || withSound) {
                ASSERT_TRUE(session->addInput(
                    std::make_shared<CaptureDeviceInput>(defaultInputDeviceWithMediaType(type)), nullptr));
            }
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
    ::testing::AssertionResult written(quint64 pictures, quint64 sound = 0)
    {
        if (waitUntil([&] {
                const MovieStatistics s = movie->statistics();
                return s.framesWritten >= pictures && s.soundBuffers >= sound;
            }))
            return ::testing::AssertionSuccess();
        const MovieStatistics s = movie->statistics();
        return ::testing::AssertionFailure() << s.framesOffered << " pictures offered, " << s.framesWritten
                                             << " written, " << s.soundBuffers << " sound packets";
    }
    bool waitForEnd()
    {
        return waitUntil([&] { return !ended.empty(); });
    }
};

// Sound and picture end together, to within an AAC frame and a picture (a camera may be a
// picture late where the cut falls), give or take the sound that was already past the last
// picture when it was cut (a camera that lags behind the sound on a loaded machine): sound cut
// off, or begun late (the muxer starts both tracks at zero), would end early.
void expectEndsTogether(const test::DecodedMovie &decoded, const MovieStatistics &statistics)
{
    const double past = double(statistics.soundPastPicture.count()) / 1e6;
    EXPECT_NEAR(decoded.audioEnd - decoded.videoEnd, past, kAacFrame + 1.0 / 30)
        << "sound " << decoded.audioStart << "-" << decoded.audioEnd << " s, picture " << decoded.videoStart << "-"
        << decoded.videoEnd << " s, " << past << " s of sound past the last picture";
}

// A movie's picture of the page: the black marker top left, the paper's colour within 10 levels.
void expectMoviePage(const QImage &picture)
{
    EXPECT_EQ(test::pageShown(picture, 0, 30), 0);
    test::expectPaperColour(picture, 10);
}

} // namespace

// A stop before the camera has started, a missing folder, a folder nobody may write in and a
// full disk (/dev/full) each end with an error, no file and no hang; the output then records
// again, and a second stop while finishing gives one finish. finishNow while the first finish
// still waits in the delegate's queue hands it back instead: the delegate never hears of it.
TEST_F(MovieOutput, FailuresEndWithAnErrorAndTheNextRecordingWorks)
{
    build();
    const QString early = start("early.mov"); // the session is still starting
    movie->recordToOutputFileURL(QUrl());
    ASSERT_TRUE(movie->isRecording()) << "the finish is on its way to the delegate";
    const auto taken = movie->finishNow(1s);
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ(taken->url, QUrl::fromLocalFile(early));
    EXPECT_EQ(taken->fault, MovieFault::NotStarted);
    EXPECT_FALSE(movie->isRecording());
    test::flushEvents();
    EXPECT_TRUE(ended.empty()) << "the delegate heard of a finish that was handed back";
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), dir.filePath(QStringLiteral("full.mov"))));
    const std::pair<QString, MovieFault> failures[]
        = {{dir.filePath(QStringLiteral("gone/movie.mov")), MovieFault::FolderMissing},
            {QStringLiteral("/proc/quillora-test.mov"), MovieFault::FolderNotWritable},
            {dir.filePath(QStringLiteral("full.mov")), MovieFault::DiskFull}};
    for (const auto &[file, fault] : failures) {
        movie->recordToOutputFileURL(QUrl::fromLocalFile(file));
        ASSERT_TRUE(waitForEnd()) << file.toStdString();
        EXPECT_FALSE(ended.front().error.isEmpty()) << file.toStdString();
        EXPECT_EQ(ended.front().fault, fault) << file.toStdString() << ": " << ended.front().error.toStdString();
        EXPECT_FALSE(movie->isRecording());
        EXPECT_FALSE(ended.front().complete) << file.toStdString();
        EXPECT_EQ(QFile::exists(file), file.endsWith(QStringLiteral("full.mov"))) << file.toStdString();
        ended.clear();
    }
    const QString fine = start("fine.mov");
    EXPECT_TRUE(written(20));
    movie->recordToOutputFileURL(QUrl());
    movie->recordToOutputFileURL(QUrl());
    EXPECT_TRUE(movie->isRecording()) << "still finishing";
    ASSERT_TRUE(waitForEnd());
    test::flushEvents();
    EXPECT_EQ(ended.size(), 1u) << "a second stop gave a second finish";
    EXPECT_EQ(ended.front().error, QString());
    EXPECT_EQ(ended.front().fault, MovieFault::None);
    EXPECT_TRUE(ended.front().complete);
    EXPECT_EQ(test::playProblem(fine, 10), QString());
}

// Ended from outside after a second of pictures: a stop while the session is paused (a frozen
// picture), the session torn down, the camera failing, the longest length reached on the
// movie's clock; each movie still plays to its end.
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
                test::flushEvents();
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
        {"longest.mov", [this] { clock.advance(2s); }, "longest"},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        build();
        if (*k.error == 'l')
            movie->setMaximumDuration(2s);
        const QString file = start(k.name);
        ASSERT_TRUE(written(30));
        k.end();
        ASSERT_TRUE(waitForEnd());
        EXPECT_TRUE(ended.front().error.contains(QString::fromUtf8(k.error))) << ended.front().error.toStdString();
        EXPECT_EQ(ended.front().error.isEmpty(), !*k.error);
        EXPECT_TRUE(ended.front().complete);
        EXPECT_EQ(test::playProblem(file, 20), QString());
    }
}

// finishNow completes the file before it returns, hands the finish back instead of sending
// it, and has nothing left to finish afterwards; no picture was lost on the way. The microphone
// is slow to open: its sound still lines up with the picture.
TEST_F(MovieOutput, FinishNowCompletesTheFileAndTakesTheFinishFromTheDelegate)
{
    setVirtualMicrophone(VirtualMicrophone::SlowToStart);
    build();
    const QString file = start("now.mov");
    ASSERT_TRUE(written(36));
    const auto finish = movie->finishNow(test::stretched(10s));
    ASSERT_TRUE(finish.has_value());
    EXPECT_EQ(finish->url, QUrl::fromLocalFile(file));
    EXPECT_EQ(finish->error, QString());
    EXPECT_TRUE(finish->complete);
    EXPECT_FALSE(movie->isRecording());
    EXPECT_FALSE(movie->finishNow(1s).has_value());
    EXPECT_EQ(test::playProblem(file, 25), QString());
    EXPECT_EQ(movie->statistics().framesWritten, movie->statistics().framesOffered);
    // Sound and picture start together, to within an AAC frame, and end together.
    const test::DecodedMovie decoded = test::decodeMovie(file);
    EXPECT_NEAR(decoded.audioStart, decoded.videoStart, kAacFrame);
    expectEndsTogether(decoded, movie->statistics());
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
    test::flushEvents();
    EXPECT_TRUE(ended.empty()) << "the finish reached the delegate as well";
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
    EXPECT_TRUE(written(20));
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

// A finish that never completes (here: the microphone has stopped sending, and the movie may
// take less time to finish than it waits for a quiet microphone) is given up when the finish's
// time is over: the file is closed as it is, with the index the muxer last wrote, and says so.
TEST_F(MovieOutput, AFinishThatNeverCompletesIsClosedAsItIsWhenItsTimeIsOver)
{
    build();
    movie->setFinishTimeout(kSoundFallback / 2);
    const QString file = start("watchdog.mov");
    ASSERT_TRUE(written(60, 20));
    setVirtualMicrophone(VirtualMicrophone::Silent);
    movie->recordToOutputFileURL(QUrl());
    clock.advance(kSoundFallback / 2 - 1ms);
    test::flushEvents();
    ASSERT_TRUE(ended.empty()) << "given up before its time";
    clock.advance(1ms);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(ended.front().fault, MovieFault::WriteFailed);
    EXPECT_TRUE(ended.front().error.contains(QStringLiteral("could not be finished in time")))
        << ended.front().error.toStdString();
    EXPECT_FALSE(movie->isRecording());
    EXPECT_EQ(test::playProblem(file, 20), QString());
}

// A stream that fills the file's index faster than the space kept for the longest movie allows
// is ended before the space runs out, long before the longest length, as one that reached it.
// Pictures only: a microphone sends in real time, and on a slow machine (a sanitizer build under
// load) its packets alone would fill the index before the test moves the movie's clock.
TEST_F(MovieOutput, AnIndexThatFillsFasterThanPlannedEndsTheMovieBeforeItsSpaceRunsOut)
{
    build(false);
    movie->setMaximumDuration(60s);
    movie->setIndexBytesPerSecond(kIndexBytesPerSecond);
    const QString file = start("index.mov");
    ASSERT_TRUE(written(45));
    clock.advance(6s); // past the muxer's first estimates, far below the longest length
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(ended.front().fault, MovieFault::TooLong);
    EXPECT_TRUE(log.logged(QStringLiteral("quillora.capture: movie: the longest movie length is reached")));
    EXPECT_EQ(test::playProblem(file, 10, false), QString());
}

// A microphone whose sound arrives late but still comes is not cut off when the movie stops:
// its sound still reaches the picture's end. From the stop on, the movie's clock runs three
// times as fast as the sound arrives (a machine that falls behind), moved by each buffer as the
// microphone sends it, so that the finish lasts longer than the movie's wait for a quiet sound
// input, while no gap between arrivals does.
TEST_F(MovieOutput, AMicrophoneThatIsLateButStillSendingEndsTogetherWithThePicture)
{
    setVirtualMicrophone(VirtualMicrophone::Late);
    const auto stopped = std::make_shared<std::atomic<bool>>(false); // outlives this body: the hook holds it
    setVirtualMicrophoneSent([this, stopped](GstClockTime length) {
        if (stopped->load())
            clock.advance(3 * std::chrono::microseconds(length / 1000));
    });
    build(); // the microphone is made here
    const QString file = start("late.mov");
    ASSERT_TRUE(written(60, 20));
    const auto stopAt = clock.now();
    *stopped = true;
    movie->recordToOutputFileURL(QUrl());
    // The movie's timers belong to this thread: they fire here as the sound moves the clock.
    for (auto seen = clock.now(); ended.empty(); seen = clock.now()) {
        ASSERT_TRUE(waitUntil([&] { return !ended.empty() || clock.now() != seen; }));
        clock.advance(0us);
    }
    setVirtualMicrophoneSent(nullptr);
    EXPECT_GT(clock.now() - stopAt, kSoundFallback)
        << "the finish was quicker than the wait for quiet: this tested nothing";
    EXPECT_EQ(ended.front().error, QString());
    expectEndsTogether(test::decodeMovie(file), movie->statistics());
}

// A microphone that stops sending without a word is ended after a second of its silence, and
// the movie is finished with the sound it got.
TEST_F(MovieOutput, AMicrophoneThatFallsSilentIsEndedAfterASecondOfSilence)
{
    build();
    const QString file = start("silent.mov");
    ASSERT_TRUE(written(60, 20));
    setVirtualMicrophone(VirtualMicrophone::Silent);
    movie->recordToOutputFileURL(QUrl());
    clock.advance(kSoundFallback - 1ms);
    test::flushEvents();
    ASSERT_TRUE(ended.empty()) << "ended before the microphone had been quiet for a second";
    clock.advance(1ms);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(ended.front().error, QString());
    EXPECT_EQ(test::playProblem(file, 50), QString());
    EXPECT_EQ(test::discoverMovie(file).audioTracks, 1);
}

// A microphone that goes away mid-recording (its error on the bus) ends the movie by itself,
// with the picture and the sound it got, once the sound has been quiet for a second.
TEST_F(MovieOutput, AMicrophoneThatGoesAwayEndsTheMovieWithWhatItHas)
{
    build();
    const QString file = start("gone.mov");
    ASSERT_TRUE(written(60, 20));
    setVirtualMicrophone(VirtualMicrophone::Gone);
    ASSERT_TRUE(log.waitFor(QStringLiteral("quillora.capture: movie: the sound input stopped")));
    EXPECT_TRUE(ended.empty());
    clock.advance(kSoundFallback);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(ended.front().fault, MovieFault::SoundStopped);
    EXPECT_TRUE(ended.front().error.contains(QStringLiteral("sound input"))) << ended.front().error.toStdString();
    EXPECT_FALSE(movie->isRecording());
    EXPECT_EQ(test::playProblem(file, 50), QString());
    EXPECT_EQ(test::discoverMovie(file).audioTracks, 1);
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
