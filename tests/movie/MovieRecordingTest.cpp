// Recording in the whole application, offscreen, with a virtual camera and a virtual
// microphone: the recording button's start and stop, the finish and what it opens, naming,
// the settings that shape the movie, and every way a recording can be cut short (no camera,
// no folder, a rebuild, quitting, a kill). Every movie is read back with GStreamer.
#include "MatrixControl.h"
#include "MovieFileOutput.h"
#include "MovieInspect.h"
#include "PathControl.h"
#include "TestSupport.h"
#include "VemoViewController.h"
#include "WindowDefinition.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsOpacityEffect>
#include <QImage>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMainWindow>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <mutex>
#include <optional>

using namespace quillora;
using app::VemoViewController;
using app::WindowDefinition;
using test::ScopedEnv;
using test::waitUntil;

namespace {

// Records what the application asks the desktop to open, instead of opening it.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

// Collects the lines of the quillora.* categories.
class LogCapture {
public:
    LogCapture()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("quillora.*.info=true"));
        s_self = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_self = nullptr;
        QLoggingCategory::setFilterRules(QString());
    }
    QStringList lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    bool has(const QString &line) { return lines().contains(line); }
    bool hasPrefix(const QString &prefix)
    {
        for (const QString &line : lines())
            if (line.startsWith(prefix))
                return true;
        return false;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (!s_self)
            return;
        std::lock_guard lock(s_self->m_mutex);
        s_self->m_lines << QString::fromUtf8(context.category ? context.category : "") + QStringLiteral(": ") + message;
    }
    static inline LogCapture *s_self = nullptr;
    QtMessageHandler m_previous = nullptr;
    std::mutex m_mutex; // guards m_lines, appended from any thread
    QStringList m_lines;
};

void pause(int ms)
{
    waitUntil([] { return false; }, std::chrono::milliseconds(ms));
}

class Recording : public ::testing::Test {
protected:
    QTemporaryDir config;
    ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().toUtf8()};
    ScopedEnv microphone{"QUILLORA_VIRTUAL_MICROPHONE", "Test Tone"};
    QTemporaryDir movies;
    OpenedUrls opened;
    LogCapture log;
    std::optional<ScopedEnv> cameraList; // for the whole test: the camera menu lists again
    std::unique_ptr<WindowDefinition> def;
    VemoViewController *c = nullptr;

    void start(const QByteArray &cameras = "Desk|Model X|cam-1|1280x1024")
    {
        cameraList.emplace("QUILLORA_VIRTUAL_CAMERAS", cameras);
        def = std::make_unique<WindowDefinition>(qApp);
        def->awake();
        c = def->controller();
        c->mVideoPath->setURL(QUrl::fromLocalFile(movies.path()));
        c->mVideoFilename->setText(QStringLiteral("Quillora"));
        c->mVideoOverwrite->selectCellAtRow(1);
        c->mVideoSize->setCurrentIndex(1);
        c->mVideoCaptureAudio->setCheckState(Qt::Checked);
    }

    QString moviePath(const QString &name) const { return QDir(movies.path()).filePath(name); }
    QStringList movieFiles() const
    {
        return QDir(movies.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    }

    qreal buttonAlpha() const
    {
        auto *effect = qobject_cast<QGraphicsOpacityEffect *>(c->mRecordingButton->graphicsEffect());
        return effect ? effect->opacity() : 1.0;
    }

    // Start, about `ms` of recording, stop; waits for the finish. Gives the seconds recorded.
    double recordFor(int ms)
    {
        c->recordingClick(c->mRecordingButton);
        EXPECT_TRUE(c->recording);
        QElapsedTimer clock;
        clock.start();
        pause(ms);
        const double seconds = clock.elapsed() / 1000.0;
        c->recordingClick(c->mVideoMenu);
        EXPECT_TRUE(waitUntil([&] { return !c->recording; }, std::chrono::seconds(15))) << "the finish never came";
        return seconds;
    }

    void expectIdle()
    {
        EXPECT_FALSE(c->recording);
        EXPECT_EQ(c->mVideoMenu->text(), QStringLiteral("Start Capture"));
        EXPECT_DOUBLE_EQ(buttonAlpha(), 1.0);
        EXPECT_EQ(c->mCaptureMovieFileOutput, nullptr);
        EXPECT_NE(c->mCaptureDecompressedVideoOutput, nullptr) << "the preview must come back";
    }
};

} // namespace

TEST_F(Recording, StartAndStopRecordAMovieThatOpensOnceAndTheNextIsNumbered)
{
    start();
    ASSERT_TRUE(waitUntil([&] { return bool(c->currentFrame()); }));
    c->rotation = 2;
    const auto before = c->currentFrame();

    c->recordingClick(c->mRecordingButton);
    ASSERT_TRUE(c->recording);
    EXPECT_EQ(c->rotation.load(), 0);
    EXPECT_DOUBLE_EQ(buttonAlpha(), 0.0);
    EXPECT_EQ(c->mVideoMenu->text(), QStringLiteral("Stop Capture"));
    ASSERT_NE(c->mCaptureMovieFileOutput, nullptr);
    EXPECT_TRUE(c->mCaptureMovieFileOutput->isRecording());
    EXPECT_EQ(c->mCaptureDecompressedVideoOutput, nullptr);
    EXPECT_NE(c->mCaptureAudioDeviceInput, nullptr);
    EXPECT_EQ(c->mCaptureSession->outputs().size(), 1u);
    QElapsedTimer clock;
    clock.start();

    // The live picture goes on; the photo frame stays the one from before the recording.
    const quint64 shown = c->mCaptureView->framesShown();
    pause(1500);
    EXPECT_GT(c->mCaptureView->framesShown(), shown + 10);
    EXPECT_TRUE(c->currentFrame().sameAs(before)) << "a frame reached the controller while recording";

    // A photo now is the picture from just before the recording (the page's marker has moved
    // on since, so any later frame would differ).
    QTemporaryDir photos;
    c->mPhotoPath->setURL(QUrl::fromLocalFile(photos.path()));
    c->mPhotoFormat->setCurrentIndex(1); // PNG: lossless, so the pixels can be compared
    c->photoClick(nullptr);
    ASSERT_EQ(opened.urls.size(), 1) << "no photo was written";
    const QImage photo(opened.urls.takeFirst().toLocalFile());
    EXPECT_EQ(photo.convertToFormat(QImage::Format_RGB32), before.image().convertToFormat(QImage::Format_RGB32));

    const double seconds = clock.elapsed() / 1000.0;
    c->recordingClick(c->mVideoMenu);
    c->recordingClick(c->mRecordingButton); // a second stop while the file is being finished
    EXPECT_TRUE(c->recording) << "recording stays on until the finish";
    EXPECT_EQ(c->mVideoMenu->text(), QStringLiteral("Stop Capture"));
    ASSERT_TRUE(waitUntil([&] { return !c->recording; }, std::chrono::seconds(15)));
    expectIdle();
    EXPECT_EQ(c->rotation.load(), 0) << "the turn from before the recording is not restored";

    const QString path = moviePath(QStringLiteral("Quillora.mov"));
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl::fromLocalFile(path)});
    EXPECT_EQ(movieFiles(), QStringList{QStringLiteral("Quillora.mov")});
    const auto info = test::discoverMovie(path);
    ASSERT_EQ(info.error, QString());
    EXPECT_EQ(info.container, QStringLiteral("video/quicktime"));
    EXPECT_EQ(info.videoCodec, QStringLiteral("video/x-h264"));
    EXPECT_EQ(info.pictureSize, QSize(600, 480));
    EXPECT_EQ(info.audioTracks, 1);
    EXPECT_EQ(info.audioMpegVersion, 4);
    EXPECT_NEAR(info.durationSeconds, seconds, 0.4);
    EXPECT_TRUE(log.has(QStringLiteral("quillora.capture: session started: recording")));
    EXPECT_TRUE(log.has(QStringLiteral("quillora.output: movie written: ") + path))
        << log.lines().join('\n').toStdString();

    EXPECT_TRUE(waitUntil([&] { return !c->currentFrame().sameAs(before); })) << "frames must reach photos again";

    recordFor(600);
    EXPECT_EQ(opened.urls.size(), 2);
    EXPECT_EQ(opened.urls.last(), QUrl::fromLocalFile(moviePath(QStringLiteral("Quillora1.mov"))));
    EXPECT_EQ(test::discoverMovie(moviePath(QStringLiteral("Quillora1.mov"))).error, QString());
}

TEST_F(Recording, PictureSizeAndSoundTrackFollowTheSettings)
{
    start();
    c->mVideoOverwrite->selectCellAtRow(0);
    struct Case {
        int videoSize;
        Qt::CheckState sound;
        bool microphone;
        QSize picture;
        int audioTracks;
    };
    const Case cases[] = {
        {0, Qt::Checked, true, QSize(300, 240), 1},
        {2, Qt::Unchecked, true, QSize(600, 480), 0},
        {-1, Qt::PartiallyChecked, true, QSize(600, 480), 0},
        {1, Qt::Checked, false, QSize(600, 480), 0},
    };
    const auto microphoneDevice = c->audioDevice;
    ASSERT_NE(microphoneDevice, nullptr);
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::Message() << "video size " << k.videoSize << ", sound " << int(k.sound)
                                        << (k.microphone ? ", microphone" : ", no microphone"));
        c->mVideoSize->setCurrentIndex(k.videoSize);
        c->mVideoCaptureAudio->setCheckState(k.sound);
        c->audioDevice = k.microphone ? microphoneDevice : nullptr;
        const QString name = QStringLiteral("case%1").arg(n++);
        c->mVideoFilename->setText(name);
        const double seconds = recordFor(900);
        const auto info = test::discoverMovie(moviePath(name + QStringLiteral(".mov")));
        ASSERT_EQ(info.error, QString());
        EXPECT_EQ(info.videoCodec, QStringLiteral("video/x-h264"));
        EXPECT_EQ(info.pictureSize, k.picture);
        EXPECT_EQ(info.audioTracks, k.audioTracks);
        EXPECT_NEAR(info.durationSeconds, seconds, 0.4);
    }
}

TEST_F(Recording, MoviesAreNumberedOrReplacedByTheirOwnRule)
{
    start();
    // Numbering: the plain name and number 1 are taken (a folder counts as taken too).
    QFile existing(moviePath(QStringLiteral("Quillora.mov")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("not a movie");
    existing.close();
    ASSERT_TRUE(QDir(movies.path()).mkdir(QStringLiteral("Quillora1.mov")));
    c->mOverwrite->selectCellAtRow(0); // photos replace; movies still number
    recordFor(500);
    EXPECT_EQ(opened.urls.last(), QUrl::fromLocalFile(moviePath(QStringLiteral("Quillora2.mov"))));
    EXPECT_EQ(QFileInfo(existing).size(), qint64(strlen("not a movie"))) << "an existing file stays untouched";

    // Replacing: the new movie takes the plain name.
    c->mVideoOverwrite->selectCellAtRow(0);
    recordFor(500);
    EXPECT_EQ(opened.urls.last(), QUrl::fromLocalFile(moviePath(QStringLiteral("Quillora.mov"))));
    EXPECT_EQ(test::discoverMovie(moviePath(QStringLiteral("Quillora.mov"))).error, QString());
    EXPECT_EQ(movieFiles().size(), 3);
}

TEST_F(Recording, AStartWithoutACameraIsRefused)
{
    start("");
    ASSERT_EQ(c->device, nullptr);
    c->recordingClick(c->mRecordingButton);
    EXPECT_FALSE(c->recording);
    EXPECT_EQ(c->mVideoMenu->text(), QStringLiteral("Start Capture"));
    EXPECT_DOUBLE_EQ(buttonAlpha(), 1.0);
    EXPECT_EQ(c->mCaptureSession, nullptr);
    pause(200);
    EXPECT_TRUE(opened.urls.isEmpty());
    EXPECT_TRUE(movieFiles().isEmpty());
    EXPECT_TRUE(log.hasPrefix(QStringLiteral("quillora.output: movie not started")));
}

TEST_F(Recording, AMissingFolderEndsTheRecordingWithNothingToOpen)
{
    start();
    c->mVideoPath->setURL(QUrl::fromLocalFile(moviePath(QStringLiteral("gone"))));
    c->recordingClick(c->mRecordingButton);
    ASSERT_TRUE(waitUntil([&] { return !c->recording; }, std::chrono::seconds(10)));
    expectIdle();
    EXPECT_TRUE(opened.urls.isEmpty());
    EXPECT_TRUE(
        log.hasPrefix(QStringLiteral("quillora.output: movie not written: ") + moviePath(QStringLiteral("gone"))))
        << log.lines().join('\n').toStdString();
}

TEST_F(Recording, ARebuildForAnotherReasonEndsTheMovieFirst)
{
    start("Desk|Model X|cam-1|1280x1024;Side|Model Y|cam-2|640x480");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "preferences change" : "camera menu");
        c->recordingClick(c->mRecordingButton);
        ASSERT_TRUE(c->recording);
        pause(1000);
        if (round == 0)
            c->preferencesChange(c->mVideoSize);
        else
            c->deviceMenuClick(c->mDevicesMenu->actions().at(1));
        // Already over when the rebuild returns: the movie was finished and opened first.
        expectIdle();
        ASSERT_EQ(opened.urls.size(), round + 1);
        const auto decoded = test::decodeMovie(opened.urls.last().toLocalFile());
        EXPECT_EQ(decoded.error, QString());
        EXPECT_GT(decoded.videoFrames, 20u);
        EXPECT_GT(decoded.audioBuffers, 0u);
    }
    ASSERT_NE(c->device, nullptr);
    EXPECT_EQ(c->device->uniqueID(), QStringLiteral("cam-2"));
    pause(300);
    EXPECT_EQ(opened.urls.size(), 2) << "no second finish may follow";
}

TEST_F(Recording, ClosingTheWindowFinishesTheMovieThenQuits)
{
    start();
    c->recordingClick(c->mRecordingButton);
    ASSERT_TRUE(c->recording);
    QTimer::singleShot(1500, def->mainWindow(), [&] { def->mainWindow()->close(); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    watchdog.start(15000);
    EXPECT_EQ(QApplication::exec(), 0);

    // Complete before the controller is gone: the close itself finished it.
    const QString path = moviePath(QStringLiteral("Quillora.mov"));
    const auto decoded = test::decodeMovie(path);
    EXPECT_EQ(decoded.error, QString());
    EXPECT_GT(decoded.videoFrames, 35u);
    EXPECT_GT(decoded.audioBuffers, 0u);
    EXPECT_NEAR(test::discoverMovie(path).durationSeconds, 1.5, 0.4);
    EXPECT_FALSE(c->recording);
    EXPECT_TRUE(opened.urls.isEmpty()) << "nothing is opened on the way out";
    EXPECT_TRUE(log.has(QStringLiteral("quillora.output: movie written: ") + path));
}

TEST_F(Recording, AKilledRecordingLeavesAMovieThatPlays)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUILLORA_VIRTUAL_CAMERAS"), QStringLiteral("Desk|Model X|cam-1|1280x1024"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QStringLiteral(MOVIE_RECORD_CHILD), {movies.path()});
    ASSERT_TRUE(child.waitForStarted());
    ASSERT_TRUE(
        waitUntil([&] { return child.canReadLine() || child.state() != QProcess::Running; }, std::chrono::seconds(20)));
    const QString line = QString::fromUtf8(child.readLine()).trimmed();
    ASSERT_TRUE(line.startsWith(QStringLiteral("recording "))) << line.toStdString();
    const QString path = line.mid(int(strlen("recording ")));
    pause(3500);
    child.kill(); // SIGKILL: no chance to finish anything
    ASSERT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);

    const auto decoded = test::decodeMovie(path);
    EXPECT_EQ(decoded.error, QString());
    EXPECT_GT(decoded.videoFrames, 50u) << "the index must reach to within a second or so of the kill";
    EXPECT_GT(decoded.audioBuffers, 0u);
    const auto info = test::discoverMovie(path);
    EXPECT_EQ(info.error, QString());
    EXPECT_EQ(info.audioTracks, 1);
    EXPECT_GT(info.durationSeconds, 2.0);
}

#include "MovieRecordingTest.moc"
