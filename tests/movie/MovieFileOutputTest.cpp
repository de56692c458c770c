// The movie file output on its own, in a session of a virtual camera and a virtual
// microphone: the file it writes is read back and checked, and so is every way a recording
// can end (a stop, a second stop, a forced finish, a full disk, a folder it cannot write to,
// the longest length).
#include "MovieFileOutput.h"
#include "MovieInspect.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gst/gst.h>

using namespace quillora;
using namespace quillora::capture;
using test::ScopedEnv;
using test::waitUntil;

namespace {

struct Ended {
    QUrl url;
    QString error;
};

class MovieOutput : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ScopedEnv cameras{"QUILLORA_VIRTUAL_CAMERAS", "Desk|Model X|cam-1|1280x1024"};
    ScopedEnv microphone{"QUILLORA_VIRTUAL_MICROPHONE", "Test Tone"};
    QObject receiver;
    std::vector<Ended> ended;
    std::shared_ptr<CaptureSession> session;
    std::shared_ptr<MovieFileOutput> movie;

    // A running recording session; `videoPreset` empty leaves the connection's options nil.
    void build(bool withSound, const QString &videoPreset)
    {
        session = std::make_shared<CaptureSession>();
        const auto camera = defaultInputDeviceWithMediaType(MediaType::Video);
        ASSERT_NE(camera, nullptr);
        QString error;
        ASSERT_TRUE(session->addInput(std::make_shared<CaptureDeviceInput>(camera), &error));
        if (withSound) {
            const auto mic = defaultInputDeviceWithMediaType(MediaType::Sound);
            ASSERT_NE(mic, nullptr);
            ASSERT_TRUE(session->addInput(std::make_shared<CaptureDeviceInput>(mic), &error));
        }
        movie = std::make_shared<MovieFileOutput>();
        ASSERT_TRUE(session->addOutput(movie, &error));
        movie->setDelegate(&receiver, [this](MovieFileOutput *output, const QUrl &url, const QString &why) {
            EXPECT_EQ(output, movie.get());
            ended.push_back({url, why});
        });
        for (const auto &connection : movie->connections()) {
            if (connection->mediaType() == kMediaTypeVideo && !videoPreset.isEmpty())
                movie->setCompressionOptions(
                    CompressionOptions::compressionOptionsWithIdentifier(videoPreset), connection);
            else if (connection->mediaType() == kMediaTypeSound)
                movie->setCompressionOptions(
                    CompressionOptions::compressionOptionsWithIdentifier(kCompressionOptionsHighQualityAACAudio),
                    connection);
        }
        session->startRunning();
    }

    QString path(const QString &name) const { return dir.filePath(name); }

    // Records for about `ms` and stops; gives the time between the start and the stop.
    double record(const QString &file, int ms)
    {
        movie->recordToOutputFileURL(QUrl::fromLocalFile(file));
        EXPECT_TRUE(movie->isRecording());
        QElapsedTimer clock;
        clock.start();
        waitUntil([&] { return clock.elapsed() >= ms; }, std::chrono::milliseconds(ms + 1000));
        const double seconds = clock.elapsed() / 1000.0;
        movie->recordToOutputFileURL(QUrl());
        return seconds;
    }
};

} // namespace

TEST_F(MovieOutput, PresetsAreKnownByIdentifierOnly)
{
    const auto small = CompressionOptions::compressionOptionsWithIdentifier(kCompressionOptions240SizeH264Video);
    const auto sd = CompressionOptions::compressionOptionsWithIdentifier(kCompressionOptionsSD480SizeH264Video);
    const auto aac = CompressionOptions::compressionOptionsWithIdentifier(kCompressionOptionsHighQualityAACAudio);
    ASSERT_TRUE(small && sd && aac);
    EXPECT_EQ(small->maximumSize(), QSize(320, 240));
    EXPECT_EQ(sd->maximumSize(), QSize(640, 480));
    EXPECT_EQ(aac->mediaType(), kMediaTypeSound);
    EXPECT_GE(aac->bitRate(), 128000);
    EXPECT_TRUE(aac->sampleRate() == 44100 || aac->sampleRate() == 48000);
    EXPECT_EQ(CompressionOptions::compressionOptionsWithIdentifier(
                  QStringLiteral("QTCompressionOptionsLosslessAnimationVideo")),
        nullptr);
}

TEST_F(MovieOutput, OneConnectionPerInputAndTheSmallPresetFitsTheCameraWithSound)
{
    build(true, kCompressionOptions240SizeH264Video);
    ASSERT_EQ(movie->connections().size(), 2u);
    EXPECT_EQ(movie->connections().at(0)->mediaType(), kMediaTypeVideo);
    EXPECT_EQ(movie->connections().at(1)->mediaType(), kMediaTypeSound);

    const QString file = path(QStringLiteral("small.mov"));
    const double seconds = record(file, 1500);
    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }));
    EXPECT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended.front().url, QUrl::fromLocalFile(file));
    EXPECT_EQ(ended.front().error, QString());
    EXPECT_FALSE(movie->isRecording());

    const auto info = test::discoverMovie(file);
    ASSERT_EQ(info.error, QString());
    EXPECT_EQ(info.container, QStringLiteral("video/quicktime"));
    EXPECT_EQ(info.videoCodec, QStringLiteral("video/x-h264"));
    EXPECT_EQ(info.pictureSize, QSize(300, 240)) << "1280x1024 inside 320x240, aspect kept, even sides";
    EXPECT_EQ(info.audioTracks, 1);
    EXPECT_EQ(info.audioCodec, QStringLiteral("audio/mpeg"));
    EXPECT_EQ(info.audioMpegVersion, 4);
    EXPECT_EQ(info.sampleRate, 48000);
    EXPECT_NEAR(info.durationSeconds, seconds, 0.4);

    const auto stats = movie->statistics();
    EXPECT_EQ(stats.pictureSize, QSize(300, 240));
    EXPECT_GT(stats.framesOffered, 30u);
    EXPECT_EQ(stats.framesWritten, stats.framesOffered) << "no frame may be lost on the way";
    EXPECT_GT(stats.soundBuffers, 0u);
}

TEST_F(MovieOutput, WithoutSoundInputOrPresetTheMovieHasOnlyTheDefaultPicture)
{
    build(false, QString());
    ASSERT_EQ(movie->connections().size(), 1u);
    const QString file = path(QStringLiteral("silent.mov"));
    record(file, 800);
    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }));
    const auto info = test::discoverMovie(file);
    ASSERT_EQ(info.error, QString());
    EXPECT_EQ(info.pictureSize, QSize(600, 480));
    EXPECT_EQ(info.audioTracks, 0);
}

TEST_F(MovieOutput, ASecondStopWhileFinishingGivesOneFinish)
{
    build(true, kCompressionOptionsSD480SizeH264Video);
    const QString file = path(QStringLiteral("twice.mov"));
    record(file, 700);
    movie->recordToOutputFileURL(QUrl());
    EXPECT_TRUE(movie->isRecording()) << "still finishing";
    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }));
    waitUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_EQ(ended.size(), 1u);
    EXPECT_EQ(test::decodeMovie(file).error, QString());

    // The same output records again in the same session.
    const QString again = path(QStringLiteral("again.mov"));
    record(again, 600);
    ASSERT_TRUE(waitUntil([&] { return ended.size() == 2; }));
    EXPECT_EQ(ended.back().error, QString());
    const auto info = test::discoverMovie(again);
    EXPECT_EQ(info.error, QString()) << "pictures offered " << movie->statistics().framesOffered << ", written "
                                     << movie->statistics().framesWritten << ", sound "
                                     << movie->statistics().soundBuffers;
    EXPECT_EQ(info.audioTracks, 1);
}

TEST_F(MovieOutput, AStopBeforeTheCameraHasStartedEndsWithNothingRecorded)
{
    build(true, kCompressionOptionsSD480SizeH264Video);
    const QString file = path(QStringLiteral("early.mov"));
    movie->recordToOutputFileURL(QUrl::fromLocalFile(file)); // the session is still starting
    EXPECT_TRUE(movie->isRecording());
    movie->recordToOutputFileURL(QUrl());
    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }));
    EXPECT_FALSE(ended.front().error.isEmpty());
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_FALSE(movie->isRecording());

    // The session itself has come up, and records the next request.
    ended.clear();
    const QString next = path(QStringLiteral("next.mov"));
    record(next, 600);
    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }));
    EXPECT_EQ(ended.front().error, QString());
    EXPECT_EQ(test::discoverMovie(next).error, QString());
}

TEST_F(MovieOutput, AStopWhileTheSessionIsPausedStillCompletesTheMovie)
{
    build(true, kCompressionOptionsSD480SizeH264Video);
    const QString file = path(QStringLiteral("paused.mov"));
    movie->recordToOutputFileURL(QUrl::fromLocalFile(file));
    waitUntil([] { return false; }, std::chrono::milliseconds(1000));
    session->stopRunning(); // a frozen picture
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    movie->recordToOutputFileURL(QUrl());
    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }, std::chrono::seconds(10)));
    EXPECT_EQ(ended.front().error, QString()) << "the file must be completed, not closed as it was";
    const auto decoded = test::decodeMovie(file);
    EXPECT_EQ(decoded.error, QString());
    EXPECT_GT(decoded.videoFrames, 20u);
    EXPECT_GT(decoded.audioBuffers, 0u);
}

TEST_F(MovieOutput, FinishNowCompletesTheFileAndTakesTheFinishFromTheDelegate)
{
    build(true, kCompressionOptionsSD480SizeH264Video);
    const QString file = path(QStringLiteral("now.mov"));
    movie->recordToOutputFileURL(QUrl::fromLocalFile(file));
    waitUntil([] { return false; }, std::chrono::milliseconds(1200));
    QElapsedTimer clock;
    clock.start();
    const auto finish = movie->finishNow(std::chrono::seconds(5));
    EXPECT_LT(clock.elapsed(), 5000);
    ASSERT_TRUE(finish.has_value());
    EXPECT_EQ(finish->url, QUrl::fromLocalFile(file));
    EXPECT_EQ(finish->error, QString());
    EXPECT_FALSE(movie->isRecording());
    EXPECT_FALSE(movie->finishNow(std::chrono::seconds(1)).has_value()) << "nothing left to finish";

    // Read before any event is processed: the file is complete when finishNow returns.
    const auto decoded = test::decodeMovie(file);
    EXPECT_EQ(decoded.error, QString());
    EXPECT_GT(decoded.videoFrames, 25u);
    EXPECT_GT(decoded.audioBuffers, 0u);
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_TRUE(ended.empty()) << "the finish was handed back, not sent";
}

TEST_F(MovieOutput, TearingDownTheSessionFinishesTheMovieAndReportsIt)
{
    build(true, kCompressionOptionsSD480SizeH264Video);
    const QString file = path(QStringLiteral("teardown.mov"));
    movie->recordToOutputFileURL(QUrl::fromLocalFile(file));
    waitUntil([] { return false; }, std::chrono::milliseconds(1000));
    session.reset();
    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }));
    EXPECT_EQ(ended.front().error, QString());
    const auto info = test::discoverMovie(file);
    EXPECT_EQ(info.error, QString());
    EXPECT_EQ(info.audioTracks, 1);
}

TEST_F(MovieOutput, FilesThatCannotBeWrittenEndTheRecordingWithAnError)
{
    build(true, kCompressionOptionsSD480SizeH264Video);

    // A folder that does not exist, and one nobody may create files in (not even root).
    for (const QString &file : {path(QStringLiteral("gone/movie.mov")), QStringLiteral("/proc/quillora-test.mov")}) {
        ended.clear();
        movie->recordToOutputFileURL(QUrl::fromLocalFile(file));
        ASSERT_TRUE(waitUntil([&] { return !ended.empty(); })) << file.toStdString();
        EXPECT_FALSE(ended.front().error.isEmpty()) << file.toStdString();
        EXPECT_FALSE(movie->isRecording());
        EXPECT_FALSE(QFile::exists(file));
    }

    // A full disk: the file is a link to /dev/full, where every write fails.
    ended.clear();
    const QString full = path(QStringLiteral("full.mov"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), full));
    movie->recordToOutputFileURL(QUrl::fromLocalFile(full));
    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }, std::chrono::seconds(15))) << "a full disk must not hang";
    EXPECT_EQ(ended.size(), 1u);
    EXPECT_FALSE(ended.front().error.isEmpty());
    EXPECT_FALSE(movie->isRecording());

    // The output takes the next request as if nothing had happened.
    ended.clear();
    const QString fine = path(QStringLiteral("fine.mov"));
    movie->recordToOutputFileURL(QUrl::fromLocalFile(fine));
    EXPECT_TRUE(waitUntil([&] { return movie->statistics().framesWritten >= 10; })) << "no pictures after a failure";
    movie->recordToOutputFileURL(QUrl());
    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }));
    EXPECT_EQ(ended.front().error, QString());
    EXPECT_EQ(test::discoverMovie(fine).error, QString())
        << "pictures offered " << movie->statistics().framesOffered << ", written " << movie->statistics().framesWritten
        << ", sound " << movie->statistics().soundBuffers;
}

TEST_F(MovieOutput, ARecordingThatReachesTheLongestLengthIsEndedAndPlays)
{
    build(false, kCompressionOptions240SizeH264Video);
    movie->setMaximumDuration(std::chrono::seconds(3));
    const QString file = path(QStringLiteral("longest.mov"));
    movie->recordToOutputFileURL(QUrl::fromLocalFile(file));
    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }, std::chrono::seconds(10)))
        << "the recording ran past the index space it kept";
    EXPECT_TRUE(ended.front().error.contains(QStringLiteral("longest"))) << ended.front().error.toStdString();
    const auto info = test::discoverMovie(file);
    EXPECT_EQ(info.error, QString());
    EXPECT_NEAR(info.durationSeconds, 3.0, 0.5);
}

TEST_F(MovieOutput, ACameraThatFailsEndsTheMovieProperly)
{
    build(true, kCompressionOptionsSD480SizeH264Video);
    const QString file = path(QStringLiteral("unplugged.mov"));
    movie->recordToOutputFileURL(QUrl::fromLocalFile(file));
    waitUntil([] { return false; }, std::chrono::milliseconds(1000));

    // What the session's bus brings when the camera goes away: an error from its source.
    GstElement *camera = gst_element_factory_make("fakesrc", "camera");
    gst_object_ref_sink(camera);
    GError *error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "Could not read from resource.");
    GstMessage *message = gst_message_new_error(GST_OBJECT(camera), error, "device unplugged");
    session->handleBusMessage(message);
    gst_message_unref(message);
    g_error_free(error);
    gst_object_unref(camera);

    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }));
    EXPECT_TRUE(ended.front().error.contains(QStringLiteral("camera"))) << ended.front().error.toStdString();
    const auto decoded = test::decodeMovie(file);
    EXPECT_EQ(decoded.error, QString()) << "what was recorded must be kept playable";
    EXPECT_GT(decoded.videoFrames, 20u);
    EXPECT_GT(decoded.audioBuffers, 0u);
}
