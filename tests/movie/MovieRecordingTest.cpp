// SPDX-License-Identifier: GPL-3.0-or-later
// Recording in the whole application, offscreen, with a virtual camera and a virtual
// microphone; every movie is read back with GStreamer.
#include "DesktopSpy.h"
#include "MatrixControl.h"
#include "MovieFileOutput.h"
#include "MovieInspect.h"
#include "PathControl.h"
#include "TestSupport.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"
#include "WindowDefinition.h"
#include "WindowMessages.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <optional>

using namespace quillora;
using namespace std::chrono_literals;
using test::waitUntil;

namespace {

// A movie lasts the time it was recorded for to within this: its first picture and its finish
// come a little after the clicks, later in a slower build.
constexpr double kDurationSlack = 0.4 * test::kSlowdown;

class Recording : public ::testing::Test {
protected:
    QTemporaryDir home;
    test::ScopedEnv homeEnv{"HOME", home.path().toUtf8()}; // movies go to its Desktop
    test::ScopedEnv configHome{"XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8()};
    test::ScopedEnv microphone{"QUILLORA_VIRTUAL_MICROPHONE", "Test Tone"};
    std::optional<test::ScopedEnv> cameraList{
        std::in_place, "QUILLORA_VIRTUAL_CAMERAS", "Desk|Model X|cam-1|1280x1024"};
    test::DesktopSpy spy;
    std::unique_ptr<app::WindowDefinition> def;
    app::VemoViewController *c = nullptr;

    // The application with its default settings: numbered 640x480 movies with sound.
    void start(const QByteArray &cameras = "Desk|Model X|cam-1|1280x1024")
    {
        QDir(home.path()).mkpath(QStringLiteral("Desktop"));
        cameraList.emplace("QUILLORA_VIRTUAL_CAMERAS", cameras);
        def = std::make_unique<app::WindowDefinition>(qApp);
        def->awake();
        c = def->controller();
    }
    QString moviePath(const QString &name) const { return home.filePath(QStringLiteral("Desktop/") + name); }
    // Start, `time` of recording, stop; waits for the finish and gives the seconds recorded.
    double recordFor(std::chrono::milliseconds time)
    {
        c->recordingClick(testAccess(*c).mRecordingButton());
        EXPECT_TRUE(testAccess(*c).recording());
        QElapsedTimer clock;
        clock.start();
        test::runEventsFor(test::stretched(time));
        c->recordingClick(testAccess(*c).mVideoMenu());
        const double seconds = clock.elapsed() / 1000.0;
        EXPECT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }, test::stretched(15s)))
            << "the finish never came";
        return seconds;
    }
    qreal buttonAlpha() const
    {
        auto *effect = qobject_cast<QGraphicsOpacityEffect *>(testAccess(*c).mRecordingButton()->graphicsEffect());
        return effect ? effect->opacity() : 1.0;
    }
    void expectIdle()
    {
        EXPECT_FALSE(testAccess(*c).recording());
        EXPECT_EQ(testAccess(*c).mVideoMenu()->text(), QStringLiteral("Start Capture"));
        EXPECT_DOUBLE_EQ(buttonAlpha(), 1.0);
        EXPECT_EQ(testAccess(*c).mCaptureMovieFileOutput(), nullptr);
    }
};

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size()) << path.toStdString();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

} // namespace

// Start: rotation 0, recording controls, the movie output alone, the live picture goes on
// but no frame reaches the controller, so a photo is the frame from before. A second stop
// while finishing changes nothing; the finish opens the movie once, logs it, brings the
// preview back. The next movie is numbered by the movie rule (not the photo rule), and the
// movie rule's replace takes the plain name again.
TEST_F(Recording, StartAndStopRecordAMovieThatOpensOnceAndTheNextIsNumbered)
{
    start();
    ASSERT_TRUE(waitUntil([&] { return bool(c->currentFrame()); }));
    c->rotateClick(nullptr);
    c->rotateClick(nullptr);
    const auto before = c->currentFrame();
    c->recordingClick(testAccess(*c).mRecordingButton());
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(testAccess(*c).recording());
    EXPECT_EQ(testAccess(*c).rotation(), 0);
    EXPECT_DOUBLE_EQ(buttonAlpha(), 0.0);
    EXPECT_EQ(testAccess(*c).mVideoMenu()->text(), QStringLiteral("Stop Capture"));
    EXPECT_EQ(testAccess(*c).mCaptureDecompressedVideoOutput(), nullptr);
    EXPECT_EQ(testAccess(*c).mCaptureSession()->outputs().size(), 1u);
    const quint64 shown = testAccess(*c).mCaptureView()->framesShown();
    test::runEventsFor(test::stretched(1500ms));
    EXPECT_GT(testAccess(*c).mCaptureView()->framesShown(), shown + 10);
    QTemporaryDir photos;
    testAccess(*c).mPhotoPath()->setURL(QUrl::fromLocalFile(photos.path()));
    testAccess(*c).mPhotoFormat()->setCurrentIndex(1); // PNG: lossless
    c->photoClick(nullptr);
    ASSERT_EQ(spy.opened().size(), 1) << "no photo was written";
    EXPECT_EQ(QImage(spy.opened().front()).convertToFormat(QImage::Format_RGB32),
        before.image().convertToFormat(QImage::Format_RGB32));

    c->recordingClick(testAccess(*c).mVideoMenu());
    const double seconds = clock.elapsed() / 1000.0;
    c->recordingClick(testAccess(*c).mRecordingButton());
    EXPECT_TRUE(testAccess(*c).recording()) << "recording stays on until the finish";
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }, test::stretched(15s)));
    EXPECT_EQ(testAccess(*c).mVideoMenu()->text(), QStringLiteral("Start Capture"));
    EXPECT_DOUBLE_EQ(buttonAlpha(), 1.0);
    EXPECT_EQ(testAccess(*c).mCaptureMovieFileOutput(), nullptr);
    EXPECT_NE(testAccess(*c).mCaptureDecompressedVideoOutput(), nullptr) << "the preview must come back";
    const QString path = moviePath(QStringLiteral("Quillora.mov"));
    EXPECT_EQ(spy.opened().mid(1), QStringList{path});
    EXPECT_NEAR(test::discoverMovie(path).durationSeconds, seconds, kDurationSlack);
    EXPECT_TRUE(spy.logged(QStringLiteral("quillora.capture: session started: recording")));
    EXPECT_TRUE(spy.logged(QStringLiteral("quillora.output: movie written: ") + path));
    EXPECT_TRUE(waitUntil([&] { return !c->currentFrame().sameAs(before); })) << "frames must reach photos again";

    testAccess(*c).mOverwrite()->selectCellAtRow(0);
    recordFor(600ms);
    testAccess(*c).mOverwrite()->selectCellAtRow(1);
    testAccess(*c).mVideoOverwrite()->selectCellAtRow(0);
    recordFor(600ms);
    EXPECT_EQ(spy.opened().mid(2), (QStringList{moviePath(QStringLiteral("Quillora1.mov")), path}));
    EXPECT_EQ(test::playProblem(path, 10), QString());
    EXPECT_EQ(QDir(moviePath({})).entryList(QDir::Files).size(), 2);
}

// QuickTime, H.264 at the size of each size index, an AAC-LC track at 48 kHz only when sound
// is on and a microphone exists (none for the mixed state), the duration of the time recorded.
TEST_F(Recording, PictureSizeAndSoundTrackFollowTheSettings)
{
    start();
    const auto microphoneDevice = testAccess(*c).audioDevice();
    ASSERT_NE(microphoneDevice, nullptr);
    const struct {
        int videoSize;
        Qt::CheckState sound;
        bool microphone;
        QSize picture;
        int audioTracks;
    } cases[] = {
        {0, Qt::Checked, true, QSize(300, 240), 1},
        {2, Qt::Unchecked, true, QSize(600, 480), 0},
        {-1, Qt::PartiallyChecked, true, QSize(600, 480), 0},
        {1, Qt::Checked, false, QSize(600, 480), 0},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(testing::Message() << "size " << k.videoSize << ", sound " << int(k.sound) << ", microphone "
                                        << k.microphone);
        testAccess(*c).mVideoSize()->setCurrentIndex(k.videoSize);
        testAccess(*c).mVideoCaptureAudio()->setCheckState(k.sound);
        testAccess(*c).setAudioDevice(k.microphone ? microphoneDevice : nullptr);
        const double seconds = recordFor(900ms);
        const auto info = test::discoverMovie(spy.opened().last());
        ASSERT_EQ(info.error, QString());
        EXPECT_EQ(info.container, QStringLiteral("video/quicktime"));
        EXPECT_EQ(info.videoCodec, QStringLiteral("video/x-h264"));
        EXPECT_EQ(info.pictureSize, k.picture);
        EXPECT_EQ(info.audioTracks, k.audioTracks);
        if (k.audioTracks) {
            EXPECT_EQ(std::tuple(info.audioCodec, info.audioMpegVersion, info.sampleRate),
                std::tuple(QStringLiteral("audio/mpeg"), 4, 48000));
        }
        EXPECT_NEAR(info.durationSeconds, seconds, kDurationSlack);
    }
}

// A recording process killed with SIGKILL, under the replace rule, leaves the movie it was to
// replace byte for byte, and its own pictures beside it, under a name that says it was not
// finished, in a movie that plays to within a second or so.
TEST_F(Recording, AKilledRecordingLeavesTheOldMovieAndAnUnfinishedOneThatPlays)
{
    QDir(home.path()).mkpath(QStringLiteral("Desktop"));
    QDir(home.path()).mkpath(QStringLiteral("config/Quillora"));
    writeFile(home.filePath(QStringLiteral("config/Quillora/quillora.conf")), "[General]\nvid_overwrite=yes\n");
    const QByteArray old = "an older movie, to be replaced";
    writeFile(moviePath(QStringLiteral("Quillora.mov")), old);
    const test::ScopedEnv offscreen("QT_QPA_PLATFORM", "offscreen");
    QProcess child; // the camera, the microphone and HOME are this test's
    child.start(QStringLiteral(MOVIE_RECORD_CHILD));
    ASSERT_TRUE(child.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return child.canReadLine() || child.state() != QProcess::Running; }, 20s));
    const QString path = QString::fromUtf8(child.readLine()).trimmed().remove(QStringLiteral("recording "));
    ASSERT_EQ(path, moviePath(QStringLiteral("Quillora (unfinished).mov")));
    test::runEventsFor(test::stretched(3500ms));
    child.kill();
    ASSERT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(readFile(moviePath(QStringLiteral("Quillora.mov"))), old);
    EXPECT_EQ(test::playProblem(path, 50), QString());
    EXPECT_GT(test::discoverMovie(path).durationSeconds, 2.0);
}

// Under the replace rule the old movie stays until the new one is finished. A recording that
// fails (the disk full) leaves it byte for byte and keeps what it recorded beside it, playable,
// under a name that says it was not finished; the next, complete one takes the old name.
TEST_F(Recording, AFailedRecordingLeavesTheOldMovieAndItsOwnUnfinishedBesideIt)
{
    start();
    testAccess(*c).mMessages()->setStatusDuration(600000);
    testAccess(*c).mVideoOverwrite()->selectCellAtRow(0);
    const QString path = moviePath(QStringLiteral("Quillora.mov"));
    const QString unfinished = moviePath(QStringLiteral("Quillora (unfinished).mov"));
    const QByteArray old = "an older movie, to be replaced";
    writeFile(path, old);
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(waitUntil([&] { return testAccess(*c).mCaptureMovieFileOutput()->statistics().framesWritten >= 60; }));
    EXPECT_EQ(readFile(path), old) << "the old movie must stay while the new one is recorded";
    {
        const test::FileSizeLimit full(quint64(QFileInfo(unfinished).size()));
        ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }, test::stretched(15s)));
    }
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(test::playProblem(unfinished, 20), QString());
    EXPECT_EQ(testAccess(*c).mMessages()->statusMessage(),
        QStringLiteral("Movie ended early: the file could not be written; it is saved as Quillora (unfinished).mov"));
    EXPECT_EQ(spy.opened(), QStringList{unfinished});

    recordFor(600ms);
    EXPECT_EQ(spy.opened().mid(1), QStringList{path});
    EXPECT_EQ(test::playProblem(path, 10), QString());
    EXPECT_EQ(testAccess(*c).mMessages()->statusMessage(), QStringLiteral("Movie saved: Quillora.mov"));
    EXPECT_EQ(QDir(moviePath({})).entryList(QDir::Files | QDir::Hidden, QDir::Name),
        (QStringList{QStringLiteral("Quillora (unfinished).mov"), QStringLiteral("Quillora.mov")}));
}

// Under the numbering rule the name the rule gave is held for the movie from its start: a program
// that writes a file of that name meanwhile keeps it whole, and the movie takes the next free
// number. Nothing is left of the movie's own names.
TEST_F(Recording, TheNumberedNameIsHeldFromTheStartAndAFileWrittenThereMeanwhileIsKept)
{
    start();
    c->recordingClick(testAccess(*c).mRecordingButton());
    const QString path = moviePath(QStringLiteral("Quillora.mov"));
    writeFile(path, "written by another program while the movie was being recorded");
    ASSERT_TRUE(waitUntil([&] { return testAccess(*c).mCaptureMovieFileOutput()->statistics().framesWritten >= 15; }));
    c->recordingClick(testAccess(*c).mVideoMenu());
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }, test::stretched(15s)));
    EXPECT_EQ(readFile(path), "written by another program while the movie was being recorded");
    EXPECT_EQ(spy.opened(), QStringList{moviePath(QStringLiteral("Quillora1.mov"))});
    EXPECT_EQ(test::playProblem(moviePath(QStringLiteral("Quillora1.mov")), 10), QString());
    EXPECT_EQ(QDir(moviePath({})).entryList(QDir::Files | QDir::Hidden, QDir::Name),
        (QStringList{QStringLiteral("Quillora.mov"), QStringLiteral("Quillora1.mov")}));
}

// Without a camera a start is refused and nothing changes; a missing folder ends the
// recording at once with nothing to open; both logged.
TEST_F(Recording, AStartWithoutACameraOrAFolderEndsAtOnceWithNothingOpened)
{
    start("");
    c->recordingClick(testAccess(*c).mRecordingButton());
    expectIdle();
    EXPECT_EQ(testAccess(*c).mCaptureSession(), nullptr);
    EXPECT_TRUE(spy.logged(QStringLiteral("quillora.output: movie not started")));
    start();
    testAccess(*c).mVideoPath()->setURL(QUrl::fromLocalFile(moviePath(QStringLiteral("gone"))));
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }));
    expectIdle();
    test::runEventsFor(200ms);
    EXPECT_TRUE(spy.opened().isEmpty());
    EXPECT_TRUE(QDir(moviePath({})).isEmpty());
    EXPECT_EQ(spy.count(QStringLiteral("quillora.output: movie not started:")), 2);
}

// A rebuild for another reason (preferences, the camera menu) ends the movie first: by the
// time it returns the movie is finished, opened once and plays.
TEST_F(Recording, ARebuildForAnotherReasonEndsTheMovieFirst)
{
    start("Desk|Model X|cam-1|1280x1024;Side|Model Y|cam-2|640x480");
    for (int round = 0; round < 2; ++round) {
        c->recordingClick(testAccess(*c).mRecordingButton());
        ASSERT_TRUE(testAccess(*c).recording());
        test::runEventsFor(test::stretched(1000ms));
        if (round == 0)
            c->preferencesChange(testAccess(*c).mVideoSize());
        else
            c->deviceMenuClick(testAccess(*c).mDevicesMenu()->actions().at(1));
        expectIdle();
        ASSERT_EQ(spy.opened().size(), round + 1);
        EXPECT_EQ(test::playProblem(spy.opened().last(), 20), QString()) << round;
    }
    EXPECT_EQ(testAccess(*c).device()->uniqueID(), QStringLiteral("cam-2"));
    test::runEventsFor(300ms);
    EXPECT_EQ(spy.opened().size(), 2) << "no second finish may follow";
}

// Closing the window mid-recording finishes the movie, complete and logged, opens nothing,
// then quits. Last: once the application has quit, later event loops return at once.
TEST_F(Recording, ClosingTheWindowFinishesTheMovieThenQuits)
{
    start();
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(testAccess(*c).recording());
    QTimer::singleShot(test::stretched(1500ms), def->mainWindow(), [&] { def->mainWindow()->close(); });
    QTimer::singleShot(test::stretched(15000ms), qApp, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
    const QString path = moviePath(QStringLiteral("Quillora.mov"));
    EXPECT_EQ(test::playProblem(path, 35), QString());
    EXPECT_NEAR(test::discoverMovie(path).durationSeconds, 1.5 * test::kSlowdown, kDurationSlack);
    EXPECT_FALSE(testAccess(*c).recording());
    EXPECT_TRUE(spy.opened().isEmpty());
    EXPECT_TRUE(spy.logged(QStringLiteral("quillora.output: movie written: ") + path));
}
