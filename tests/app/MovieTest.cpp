// SPDX-License-Identifier: GPL-3.0-or-later
// Recording in the whole application, offscreen, with a virtual camera and a virtual
// microphone; every movie is read back with GStreamer. Recordings are measured in pictures
// written, never in seconds of a clock.
#include "AppTest.h"
#include "MatrixControl.h"
#include "MovieFileOutput.h"
#include "MovieInspect.h"
#include "PathControl.h"
#include "WindowMessages.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

using namespace quillora;
using test::waitUntil;

namespace {

const QByteArray kCamera = "Desk|Model X|cam-1|1280x1024"; // 30 pictures a second

class Recording : public test::AppTest {
protected:
    void SetUp() override { withMicrophone(); }
    const std::shared_ptr<capture::MovieFileOutput> &movie() const { return testAccess(*c).mCaptureMovieFileOutput(); }
    bool written(quint64 pictures) const
    {
        return waitUntil([&] { return movie() && movie()->statistics().framesWritten >= pictures; });
    }
    // Start, `pictures` pictures written, stop; true once the finish has come.
    bool record(quint64 pictures)
    {
        c->recordingClick(testAccess(*c).mRecordingButton());
        EXPECT_TRUE(testAccess(*c).recording());
        EXPECT_TRUE(written(pictures));
        c->recordingClick(testAccess(*c).mVideoMenu());
        return waitUntil([&] { return !testAccess(*c).recording(); });
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
        EXPECT_EQ(movie(), nullptr);
    }
};

// A movie of at least `pictures` pictures at 30 a second lasts at least as long as they do.
void expectLasts(const QString &path, quint64 pictures)
{
    EXPECT_GE(test::discoverMovie(path).durationSeconds, (double(pictures) - 1) / 30) << path.toStdString();
}

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

// Start: rotation 0, recording controls, the movie output alone, the live picture goes on but
// no frame reaches the controller, so a photo is the frame from before. A second stop while
// finishing changes nothing; the finish opens the movie once, logs it, brings the preview back.
// The next movie is numbered by the movie rule (not the photo rule), and the movie rule's
// replace takes the plain name again.
TEST_F(Recording, StartAndStopRecordAMovieThatOpensOnceAndTheNextIsNumbered)
{
    start(kCamera);
    ASSERT_TRUE(hasFrame());
    c->rotateClick(nullptr);
    c->rotateClick(nullptr);
    const auto before = c->currentFrame();
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(testAccess(*c).recording());
    EXPECT_EQ(testAccess(*c).rotation(), 0);
    EXPECT_DOUBLE_EQ(buttonAlpha(), 0.0);
    EXPECT_EQ(testAccess(*c).mVideoMenu()->text(), QStringLiteral("Stop Capture"));
    EXPECT_EQ(testAccess(*c).mCaptureDecompressedVideoOutput(), nullptr);
    EXPECT_EQ(testAccess(*c).mCaptureSession()->outputs().size(), 1u);
    EXPECT_TRUE(pictureMoves(10)) << "the live picture stopped while recording";
    ASSERT_TRUE(written(30));
    QTemporaryDir photos;
    testAccess(*c).mPhotoPath()->setURL(QUrl::fromLocalFile(photos.path()));
    testAccess(*c).mPhotoFormat()->setCurrentIndex(1); // PNG: lossless
    c->photoClick(nullptr);
    ASSERT_EQ(desktop.opened().size(), 1) << "no photo was written";
    EXPECT_EQ(QImage(desktop.opened().front()).convertToFormat(QImage::Format_RGB32),
        before.image().convertToFormat(QImage::Format_RGB32));

    c->recordingClick(testAccess(*c).mVideoMenu());
    c->recordingClick(testAccess(*c).mRecordingButton());
    EXPECT_TRUE(testAccess(*c).recording()) << "recording stays on until the finish";
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }));
    EXPECT_EQ(testAccess(*c).mVideoMenu()->text(), QStringLiteral("Start Capture"));
    EXPECT_DOUBLE_EQ(buttonAlpha(), 1.0);
    EXPECT_EQ(movie(), nullptr);
    EXPECT_NE(testAccess(*c).mCaptureDecompressedVideoOutput(), nullptr) << "the preview must come back";
    const QString path = home.desktopFile(QStringLiteral("Quillora.mov"));
    EXPECT_EQ(desktop.opened().mid(1), QStringList{path});
    expectLasts(path, 30);
    EXPECT_TRUE(log.logged(QStringLiteral("quillora.capture: session started: recording")));
    EXPECT_TRUE(log.logged(QStringLiteral("quillora.output: movie written: ") + path));
    EXPECT_TRUE(waitUntil([&] { return !c->currentFrame().sameAs(before); })) << "frames must reach photos again";

    testAccess(*c).mOverwrite()->selectCellAtRow(0);
    ASSERT_TRUE(record(10));
    testAccess(*c).mOverwrite()->selectCellAtRow(1);
    testAccess(*c).mVideoOverwrite()->selectCellAtRow(0);
    ASSERT_TRUE(record(10));
    EXPECT_EQ(desktop.opened().mid(2), (QStringList{home.desktopFile(QStringLiteral("Quillora1.mov")), path}));
    EXPECT_EQ(test::playProblem(path, 9), QString());
    EXPECT_EQ(QDir(home.desktopFile({})).entryList(QDir::Files).size(), 2);
}

// QuickTime, H.264 at the size of each size index, an AAC-LC track at 48 kHz only when sound
// is on and a microphone exists (none for the mixed state), as long as the pictures recorded.
TEST_F(Recording, PictureSizeAndSoundTrackFollowTheSettings)
{
    start(kCamera);
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
        ASSERT_TRUE(record(20));
        const auto info = test::discoverMovie(desktop.opened().last());
        ASSERT_EQ(info.error, QString());
        EXPECT_EQ(info.container, QStringLiteral("video/quicktime"));
        EXPECT_EQ(info.videoCodec, QStringLiteral("video/x-h264"));
        EXPECT_EQ(info.pictureSize, k.picture);
        EXPECT_EQ(info.audioTracks, k.audioTracks);
        if (k.audioTracks) {
            EXPECT_EQ(std::tuple(info.audioCodec, info.audioMpegVersion, info.sampleRate),
                std::tuple(QStringLiteral("audio/mpeg"), 4, 48000));
        }
        expectLasts(desktop.opened().last(), 20);
    }
}

// A recording process killed with SIGKILL after 90 pictures (3 s), under the replace rule, leaves
// the movie it was to replace byte for byte, and its own pictures beside it, under a name that
// says it was not finished, in a movie that plays to within its last index update (a second).
TEST_F(Recording, AKilledRecordingLeavesTheOldMovieAndAnUnfinishedOneThatPlays)
{
    home.writeStore("[General]\nvid_overwrite=yes\n");
    QDir(home.path()).mkpath(QStringLiteral("Desktop"));
    const QByteArray old = "an older movie, to be replaced";
    writeFile(home.desktopFile(QStringLiteral("Quillora.mov")), old);
    const test::ScopedEnv offscreen("QT_QPA_PLATFORM", "offscreen");
    const test::ScopedEnv cameras("QUILLORA_VIRTUAL_CAMERAS", kCamera);
    QProcess child; // the camera, the microphone and HOME are this test's
    child.start(QStringLiteral(MOVIE_RECORD_CHILD), {QStringLiteral("90")});
    ASSERT_TRUE(child.waitForStarted());
    const auto line = [&] {
        EXPECT_TRUE(waitUntil([&] { return child.canReadLine() || child.state() != QProcess::Running; }));
        return QString::fromUtf8(child.readLine()).trimmed();
    };
    const QString path = line().remove(QStringLiteral("recording "));
    ASSERT_EQ(path, home.desktopFile(QStringLiteral("Quillora (unfinished).mov")));
    ASSERT_EQ(line(), QStringLiteral("written 90"));
    child.kill();
    ASSERT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(readFile(home.desktopFile(QStringLiteral("Quillora.mov"))), old);
    EXPECT_EQ(test::playProblem(path, 30), QString());
    EXPECT_GT(test::discoverMovie(path).durationSeconds, 1.0);
}

// Under the replace rule the old movie stays until the new one is finished. A recording that
// fails (the disk full) leaves it byte for byte and keeps what it recorded beside it, playable,
// under a name that says it was not finished; the next, complete one takes the old name.
TEST_F(Recording, AFailedRecordingLeavesTheOldMovieAndItsOwnUnfinishedBesideIt)
{
    clock.emplace(); // the status line stays while the clock stands
    start(kCamera);
    testAccess(*c).mVideoOverwrite()->selectCellAtRow(0);
    const QString path = home.desktopFile(QStringLiteral("Quillora.mov"));
    const QString unfinished = home.desktopFile(QStringLiteral("Quillora (unfinished).mov"));
    const QByteArray old = "an older movie, to be replaced";
    writeFile(path, old);
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(written(60));
    EXPECT_EQ(readFile(path), old) << "the old movie must stay while the new one is recorded";
    {
        const test::FileSizeLimit full(quint64(QFileInfo(unfinished).size()));
        ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }));
    }
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(test::playProblem(unfinished, 20), QString());
    EXPECT_EQ(testAccess(*c).mMessages()->statusMessage(),
        QStringLiteral("Movie ended early: the file could not be written; it is saved as Quillora (unfinished).mov"));
    EXPECT_EQ(desktop.opened(), QStringList{unfinished});

    ASSERT_TRUE(record(18));
    EXPECT_EQ(desktop.opened().mid(1), QStringList{path});
    EXPECT_EQ(test::playProblem(path, 10), QString());
    EXPECT_EQ(testAccess(*c).mMessages()->statusMessage(), QStringLiteral("Movie saved: Quillora.mov"));
    EXPECT_EQ(QDir(home.desktopFile({})).entryList(QDir::Files | QDir::Hidden, QDir::Name),
        (QStringList{QStringLiteral("Quillora (unfinished).mov"), QStringLiteral("Quillora.mov")}));
}

// Under the numbering rule the name the rule gave is held for the movie from its start: a program
// that writes a file of that name meanwhile keeps it whole, and the movie takes the next free
// number. Nothing is left of the movie's own names.
TEST_F(Recording, TheNumberedNameIsHeldFromTheStartAndAFileWrittenThereMeanwhileIsKept)
{
    start(kCamera);
    c->recordingClick(testAccess(*c).mRecordingButton());
    const QString path = home.desktopFile(QStringLiteral("Quillora.mov"));
    const QString numbered = home.desktopFile(QStringLiteral("Quillora1.mov"));
    writeFile(path, "written by another program while the movie was being recorded");
    ASSERT_TRUE(written(15));
    c->recordingClick(testAccess(*c).mVideoMenu());
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }));
    EXPECT_EQ(readFile(path), "written by another program while the movie was being recorded");
    EXPECT_EQ(desktop.opened(), QStringList{numbered});
    EXPECT_EQ(test::playProblem(numbered, 10), QString());
    EXPECT_EQ(QDir(home.desktopFile({})).entryList(QDir::Files | QDir::Hidden, QDir::Name),
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
    EXPECT_TRUE(log.logged(QStringLiteral("quillora.output: movie not started")));
    start(kCamera);
    const QString gone = home.desktopFile(QStringLiteral("gone"));
    testAccess(*c).mVideoPath()->setURL(QUrl::fromLocalFile(gone));
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording(); }));
    expectIdle();
    test::flushEvents();
    EXPECT_TRUE(desktop.opened().isEmpty());
    EXPECT_TRUE(QDir(home.desktopFile({})).isEmpty());
    EXPECT_EQ(log.count(QStringLiteral("quillora.output: movie not started:")), 2);
}

// A rebuild for another reason (preferences, the camera menu) ends the movie first: by the
// time it returns the movie is finished, opened once and plays.
TEST_F(Recording, ARebuildForAnotherReasonEndsTheMovieFirst)
{
    start(kCamera + ";Side|Model Y|cam-2|640x480");
    for (int round = 0; round < 2; ++round) {
        c->recordingClick(testAccess(*c).mRecordingButton());
        ASSERT_TRUE(testAccess(*c).recording());
        ASSERT_TRUE(written(30));
        if (round == 0)
            c->preferencesChange(testAccess(*c).mVideoSize());
        else
            c->deviceMenuClick(testAccess(*c).mDevicesMenu()->actions().at(1));
        expectIdle();
        ASSERT_EQ(desktop.opened().size(), round + 1);
        EXPECT_EQ(test::playProblem(desktop.opened().last(), 20), QString()) << round;
    }
    EXPECT_EQ(testAccess(*c).device()->uniqueID(), QStringLiteral("cam-2"));
    test::flushEvents();
    EXPECT_EQ(desktop.opened().size(), 2) << "a second finish followed";
}

// Closing the window mid-recording finishes the movie, complete and logged, opens nothing,
// then quits. Last: once the application has quit, later event loops return at once.
TEST_F(Recording, ClosingTheWindowFinishesTheMovieThenQuits)
{
    start(kCamera);
    c->recordingClick(testAccess(*c).mRecordingButton());
    ASSERT_TRUE(testAccess(*c).recording());
    QTimer closeAfterPictures;
    QObject::connect(&closeAfterPictures, &QTimer::timeout, def->mainWindow(), [&] {
        if (movie() && movie()->statistics().framesWritten >= 45) {
            closeAfterPictures.stop();
            def->mainWindow()->close();
        }
    });
    closeAfterPictures.start(10);
    QTimer::singleShot(test::stretched(std::chrono::seconds(60)), qApp, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
    const QString path = home.desktopFile(QStringLiteral("Quillora.mov"));
    EXPECT_EQ(test::playProblem(path, 35), QString());
    expectLasts(path, 45);
    EXPECT_FALSE(testAccess(*c).recording());
    EXPECT_TRUE(desktop.opened().isEmpty());
    EXPECT_TRUE(log.logged(QStringLiteral("quillora.output: movie written: ") + path));
}

} // namespace
