// Freeze, rotation, photos and the camera button, through the controller of a real window
// definition. Frames come from a virtual camera or are handed in directly.
#include "Frame.h"
#include "ImageView.h"
#include "MatrixControl.h"
#include "PathControl.h"
#include "PhotoTestSupport.h"
#include "TestSupport.h"
#include "VemoViewController.h"
#include "WindowDefinition.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QImageReader>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <mutex>

using namespace quillora;
using app::VemoViewController;
using app::WindowDefinition;
using test::cornerProbe;
using test::makeDocumentPage;
using test::ScopedEnv;
using test::waitUntil;

namespace {

// Records what the application asks the desktop to open. Photos open on whichever thread
// took them, so the list has a lock.
class OpenedFiles : public QObject {
    Q_OBJECT
public:
    OpenedFiles() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenedFiles() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QStringList paths()
    {
        std::lock_guard lock(m_mutex);
        return m_paths;
    }
public Q_SLOTS:
    void open(const QUrl &url)
    {
        std::lock_guard lock(m_mutex);
        m_paths << url.toLocalFile();
    }

private:
    std::mutex m_mutex; // guards m_paths
    QStringList m_paths;
};

// Collects the info lines of quillora.output.
class OutputLines {
public:
    OutputLines()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("quillora.output.info=true"));
        s_self = this;
        m_previous = qInstallMessageHandler(&OutputLines::handler);
    }
    ~OutputLines()
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

private:
    static void handler(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (s_self && context.category && qstrcmp(context.category, "quillora.output") == 0) {
            std::lock_guard lock(s_self->m_mutex);
            s_self->m_lines << message;
        }
    }
    static inline OutputLines *s_self = nullptr;
    QtMessageHandler m_previous = nullptr;
    std::mutex m_mutex; // guards m_lines
    QStringList m_lines;
};

class PhotoController : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(out.isValid()); }
    void TearDown() override { VemoViewController::setSnapshotHoldIntervalForTesting(2000); }

    // A window definition; with `cameras` it starts up as the application does.
    std::unique_ptr<WindowDefinition> make(const QByteArray &cameras = {})
    {
        auto def = std::make_unique<WindowDefinition>(qApp);
        if (!cameras.isEmpty()) {
            ScopedEnv env("QUILLORA_VIRTUAL_CAMERAS", cameras);
            def->awake();
        }
        VemoViewController &c = *def->controller();
        c.mPhotoPath->setURL(QUrl::fromLocalFile(out.path() + QLatin1Char('/')));
        c.mPhotoFilename->setText(QStringLiteral("Quillora"));
        c.mOverwrite->selectCellAtRow(1);
        c.mPhotoFormat->setCurrentIndex(0);
        c.mPhotoSize->setCurrentIndex(1);
        return def;
    }
    static void handIn(VemoViewController &c, const QImage &image)
    {
        c.captureOutputDidOutputVideoFrame(nullptr, capture::Frame::fromImage(image));
    }
    QStringList files() const { return QDir(out.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    QString outPath(const char *name) const { return out.filePath(QLatin1String(name)); }

    QTemporaryDir config;
    ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().toUtf8()};
    ScopedEnv noMicrophone{"QUILLORA_VIRTUAL_MICROPHONE", ""};
    QTemporaryDir out;
    OpenedFiles opened;
};

// A thread with its own event loop, as the button's listener has.
class ListenerThread {
public:
    ListenerThread()
    {
        m_thread.start();
        m_context.moveToThread(&m_thread);
    }
    ~ListenerThread()
    {
        m_thread.quit();
        m_thread.wait();
    }
    template <typename F> void post(F f) { QMetaObject::invokeMethod(&m_context, f, Qt::QueuedConnection); }

private:
    QThread m_thread;
    QObject m_context;
};

} // namespace

TEST_F(PhotoController, WindowPhotosAreNumberedOpenedOnceAndTurnedWithThePreview)
{
    OutputLines log;
    auto def = make("Page|Virtual Camera|virtual-0");
    VemoViewController &c = *def->controller();
    ASSERT_TRUE(waitUntil([&] { return bool(c.currentFrame()); }));

    c.photoClick(nullptr);
    c.photoClick(nullptr);
    EXPECT_EQ(files(), (QStringList{QStringLiteral("Quillora.jpg"), QStringLiteral("Quillora1.jpg")}));
    EXPECT_EQ(opened.paths(), (QStringList{outPath("Quillora.jpg"), outPath("Quillora1.jpg")}));
    EXPECT_TRUE(log.lines().contains(QStringLiteral("photo written: ") + outPath("Quillora.jpg")));
    EXPECT_TRUE(log.lines().contains(QStringLiteral("photo written: ") + outPath("Quillora1.jpg")));

    c.rotateClick(nullptr);
    c.photoClick(nullptr);
    const QImage turned(outPath("Quillora2.jpg"));
    ASSERT_EQ(turned.size(), QSize(480, 640));
    const auto probe = cornerProbe({640, 480}, 1);
    EXPECT_LT(qGray(turned.pixel(probe.marker)), 60); // the marker went to the top-right corner
    EXPECT_GT(qGray(turned.pixel(probe.paper)), 190);

    // Under the replace rule the next photo takes the unnumbered name again.
    c.mOverwrite->selectCellAtRow(0);
    c.mPhotoFormat->setCurrentIndex(3);
    c.photoClick(nullptr);
    EXPECT_EQ(QImageReader(outPath("Quillora.tiff")).size(), QSize(480, 640));
    c.photoClick(nullptr);
    EXPECT_EQ(files().size(), 4);
    EXPECT_EQ(opened.paths().size(), 5);
}

TEST_F(PhotoController, FreezeShowsTheFrameUnturnedAndResumeGoesLiveAgain)
{
    auto def = make("Page|Virtual Camera|virtual-0");
    VemoViewController &c = *def->controller();
    auto *stack = qobject_cast<QStackedWidget *>(c.mPreviewImage->parentWidget());
    ASSERT_NE(stack, nullptr);
    ASSERT_TRUE(waitUntil([&] { return bool(c.currentFrame()); }));
    c.rotateClick(nullptr);

    c.previewClick(nullptr);
    EXPECT_FALSE(c.mCaptureSession->isRunning());
    EXPECT_EQ(stack->currentWidget(), c.mPreviewImage);
    const QImage still = c.mPreviewImage->image();
    EXPECT_EQ(still.size(), QSize(640, 480)); // not turned
    EXPECT_EQ(still, c.currentFrame().image());
    const auto probe = cornerProbe({640, 480}, 0);
    EXPECT_LT(qGray(still.pixel(probe.marker)), 40);

    // Turning while frozen changes nothing shown.
    c.rotateClick(nullptr);
    EXPECT_EQ(c.mPreviewImage->image(), still);

    c.previewClick(nullptr);
    EXPECT_TRUE(c.mCaptureSession->isRunning());
    EXPECT_EQ(stack->currentWidget(), c.mCaptureView);
    EXPECT_TRUE(c.mCaptureSession != nullptr);
}

TEST_F(PhotoController, RotationTurnsTheShownPictureClockwiseAndComesBackAfterFour)
{
    auto def = make();
    VemoViewController &c = *def->controller();
    const QImage page = makeDocumentPage({64, 48});
    for (int press = 1; press <= 4; ++press) {
        c.rotateClick(nullptr);
        const int turns = press % 4;
        EXPECT_EQ(c.rotation.load(), turns);
        const QImage shown = c.viewWillDisplayImage(c.mCaptureView, page);
        EXPECT_EQ(shown.size(), turns % 2 ? QSize(48, 64) : QSize(64, 48));
        EXPECT_LT(qGray(shown.pixel(cornerProbe({64, 48}, turns).marker)), 40) << "press " << press;
    }
}

TEST_F(PhotoController, NothingHappensWithoutACameraOrAFrame)
{
    auto def = make(); // no start-up: no session, no frame
    VemoViewController &c = *def->controller();
    auto *stack = qobject_cast<QStackedWidget *>(c.mPreviewImage->parentWidget());
    c.previewClick(nullptr);
    c.photoClick(nullptr);
    EXPECT_EQ(stack->currentWidget(), c.mCaptureView);
    EXPECT_TRUE(files().isEmpty());
    EXPECT_TRUE(opened.paths().isEmpty());
}

TEST_F(PhotoController, BadSettingsWriteAndOpenNothingAndTheNextPhotoWorks)
{
    auto def = make();
    VemoViewController &c = *def->controller();
    handIn(c, makeDocumentPage({640, 480}));
    c.mPhotoFormat->setCurrentIndex(-1);
    c.photoClick(nullptr);
    c.mPhotoFormat->setCurrentIndex(0);
    c.mPhotoPath->setURL(QUrl::fromLocalFile(out.filePath(QStringLiteral("missing/"))));
    c.photoClick(nullptr);
    c.mPhotoPath->setURL(QUrl());
    c.photoClick(nullptr);
    c.mPhotoPath->setURL(QUrl::fromLocalFile(out.path()));
    c.mPhotoFilename->setText(QStringLiteral("a/b"));
    c.photoClick(nullptr);
    EXPECT_TRUE(files().isEmpty());
    EXPECT_TRUE(opened.paths().isEmpty());

    c.mPhotoFilename->setText(QStringLiteral("Quillora"));
    c.photoClick(nullptr);
    EXPECT_EQ(opened.paths(), QStringList{outPath("Quillora.jpg")});
}

TEST_F(PhotoController, TheButtonIsHeldOffForTheIntervalButTheWindowIsNot)
{
    // 2 s scaled to 0.8 s: presses at 0, 1.5 s and 2.5 s become 0, 0.6 s and 1.0 s.
    constexpr int kHold = 800;
    VemoViewController::setSnapshotHoldIntervalForTesting(kHold);
    auto def = make();
    VemoViewController &c = *def->controller();
    handIn(c, makeDocumentPage({640, 480}));
    {
        ListenerThread listener;
        auto press = [&] { listener.post([&c] { c.snapshotByKey(); }); };
        press();
        QTimer::singleShot(kHold * 3 / 4, [&] { press(); });
        QTimer::singleShot(kHold * 5 / 4, [&] { press(); });
        waitUntil([] { return false; }, std::chrono::milliseconds(kHold * 5 / 4 + 400));
        EXPECT_EQ(files(), (QStringList{QStringLiteral("Quillora.jpg"), QStringLiteral("Quillora1.jpg")}));
        EXPECT_EQ(opened.paths().size(), 2);

        // A window photo a quarter of the hold after a button photo is taken all the same.
        waitUntil([] { return false; }, std::chrono::milliseconds(kHold));
        press();
        ASSERT_TRUE(waitUntil([&] { return files().size() == 3; }));
        QTimer::singleShot(kHold / 4, [&] { c.photoClick(nullptr); });
        EXPECT_TRUE(waitUntil([&] { return files().size() == 4; }, std::chrono::milliseconds(kHold / 2)));
        waitUntil([] { return false; }, std::chrono::milliseconds(kHold + 200)); // let the hold end
    }
    EXPECT_EQ(opened.paths().size(), 4);
}

TEST_F(PhotoController, AWindowPhotoAndAButtonPhotoAtOnceWriteTwoFiles)
{
    auto def = make();
    VemoViewController &c = *def->controller();
    handIn(c, makeDocumentPage({640, 480}));
    {
        ListenerThread listener;
        for (int round = 0; round < 3; ++round) {
            listener.post([&c] { c.photoClick(nullptr); });
            c.photoClick(nullptr);
        }
        ASSERT_TRUE(waitUntil([&] { return files().size() == 6; }));
    }
    const QStringList paths = opened.paths();
    EXPECT_EQ(paths.size(), 6);
    EXPECT_EQ(QSet<QString>(paths.begin(), paths.end()).size(), 6);
    for (const QString &p : paths)
        EXPECT_EQ(QImageReader(p).size(), QSize(640, 480)) << p.toStdString();
}

#include "PhotoControllerTest.moc"
