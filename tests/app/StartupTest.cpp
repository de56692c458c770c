// The application as a whole, offscreen with virtual cameras: start-up with zero, one and two
// cameras, the stream's life, About and help, and quitting.
#include "PhotoCapture.h"
#include "TestSupport.h"
#include "VemoViewController.h"
#include "WindowDefinition.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QLoggingCategory>
#include <QMainWindow>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <mutex>

using namespace quillora;
using app::VemoViewController;
using app::WindowDefinition;
using test::ScopedEnv;
using test::waitUntil;

namespace {

// Records what the application asks the desktop to open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    OpenedUrls()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
    }
    ~OpenedUrls() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }
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

class Startup : public ::testing::Test {
protected:
    QTemporaryDir config;
    ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().toUtf8()};
    ScopedEnv noMicrophone{"QUILLORA_VIRTUAL_MICROPHONE", ""};

    std::unique_ptr<WindowDefinition> start(const QByteArray &cameras)
    {
        ScopedEnv env("QUILLORA_VIRTUAL_CAMERAS", cameras);
        auto def = std::make_unique<WindowDefinition>(qApp);
        def->awake();
        return def;
    }
    static QSize currentFrameSize(VemoViewController &c)
    {
        const auto frame = c.currentFrame();
        return {frame.width(), frame.height()};
    }
    static int visibleCameraItems(VemoViewController &c)
    {
        int n = 0;
        for (QAction *item : c.mDevicesMenu->actions())
            n += item->isVisible();
        return n;
    }
};

} // namespace

TEST_F(Startup, WithoutACameraNoSessionIsBuiltAndQuittingWorks)
{
    auto def = start("");
    VemoViewController &c = *def->controller();
    EXPECT_EQ(c.device, nullptr);
    EXPECT_EQ(c.mCaptureSession, nullptr);
    EXPECT_EQ(c.mDevicesMenu->actions().size(), 10);
    EXPECT_EQ(visibleCameraItems(c), 0);
    EXPECT_FALSE(c.quilloraDevice);

    QTimer::singleShot(100, def->mainWindow(), [&] { def->mainWindow()->close(); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.start(10000);
    QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0) << "closing the main window must end the event loop with status 0";
}

TEST_F(Startup, OneCameraShowsItsLivePictureAtTheFirstStartSize)
{
    LogCapture log;
    auto def = start("Desk|Model X|cam-1");
    VemoViewController &c = *def->controller();
    ASSERT_NE(c.device, nullptr);
    EXPECT_EQ(c.device->localizedDisplayName(), QStringLiteral("Desk"));
    ASSERT_NE(c.mCaptureSession, nullptr);
    EXPECT_TRUE(c.mCaptureSession->isRunning());
    EXPECT_NE(c.mCaptureDecompressedVideoOutput, nullptr);
    EXPECT_EQ(c.mCaptureMovieFileOutput, nullptr);
    EXPECT_EQ(c.mCaptureAudioDeviceInput, nullptr);
    EXPECT_EQ(visibleCameraItems(c), 1);
    EXPECT_TRUE(c.mDevicesMenu->actions().at(0)->isChecked());
    EXPECT_EQ(c.mDevicesMenu->actions().at(0)->text(), QStringLiteral("Desk"));

    ASSERT_TRUE(waitUntil([&] { return bool(c.currentFrame()); }));
    EXPECT_EQ(currentFrameSize(c), QSize(640, 480));
    EXPECT_TRUE(waitUntil([&] { return c.mCaptureView->framesShown() >= 3; })) << "the view shows no live picture";

    const QStringList lines = log.lines();
    EXPECT_TRUE(lines.contains(QStringLiteral("quillora.capture: camera chosen: Desk (Model X, cam-1)")))
        << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("quillora.capture: session started: preview 640x480")));
}

TEST_F(Startup, TwoUnknownCamerasUseTheFirstAndListBoth)
{
    auto def = start("First|Model A|a;Second|Model B|b");
    VemoViewController &c = *def->controller();
    ASSERT_NE(c.device, nullptr);
    EXPECT_EQ(c.device->uniqueID(), QStringLiteral("a"));
    EXPECT_EQ(visibleCameraItems(c), 2);
    EXPECT_TRUE(c.mDevicesMenu->actions().at(0)->isChecked());
    EXPECT_FALSE(c.mDevicesMenu->actions().at(1)->isChecked());
    EXPECT_NE(c.mCaptureSession, nullptr);
}

TEST_F(Startup, StopAndStartFollowThePhotoSizeAndKeepTheLastFrame)
{
    auto def = start("Desk|Model X|cam-1");
    VemoViewController &c = *def->controller();
    ASSERT_TRUE(waitUntil([&] { return bool(c.currentFrame()); }));

    c.stopStream();
    EXPECT_EQ(c.mCaptureSession, nullptr);
    EXPECT_EQ(c.mCaptureVideoDeviceInput, nullptr);
    EXPECT_EQ(c.mCaptureDecompressedVideoOutput, nullptr);
    const auto last = c.currentFrame();
    EXPECT_TRUE(last) << "the last frame must outlive a stop";
    c.stopStream(); // a second stop changes nothing
    EXPECT_TRUE(c.currentFrame().sameAs(last));

    for (const auto &[index, size] : {std::pair{0, QSize(320, 240)}, std::pair{4, QSize(2048, 1536)},
             std::pair{-1, QSize(2048, 1536)}, std::pair{3, QSize(1600, 1200)}}) {
        c.mPhotoSize->setCurrentIndex(index);
        c.stopStream();
        c.startStream();
        EXPECT_TRUE(waitUntil([&] { return currentFrameSize(c) == size; }))
            << "index " << index << " gave " << currentFrameSize(c).width() << "x" << currentFrameSize(c).height();
    }
    EXPECT_EQ(output::photoSizeForIndex(7, 0), QSize(2048, 1536)); // past the table: the largest

    // With no device, startStream leaves every field as it was.
    c.stopStream();
    c.device.reset();
    c.startStream();
    EXPECT_EQ(c.mCaptureSession, nullptr);
    EXPECT_EQ(c.mCaptureVideoDeviceInput, nullptr);
}

TEST_F(Startup, AboutShowsTheWindowAndHelpOpensTheMakersPage)
{
    OpenedUrls opened;
    auto def = start("");
    VemoViewController &c = *def->controller();
    ASSERT_FALSE(c.mAbout->isVisible());

    c.aboutClick(c.mHelpMenu);
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(QStringLiteral("http://www.quillora.com/"))});
    EXPECT_FALSE(c.mAbout->isVisible()) << "the help item must leave the About window alone";

    c.aboutClick(nullptr);
    EXPECT_TRUE(c.mAbout->isVisible());
    EXPECT_EQ(opened.urls.size(), 1);

    c.helpClick(nullptr);
    EXPECT_EQ(opened.urls.size(), 2);
    EXPECT_EQ(opened.urls.last(), QUrl(QStringLiteral("http://www.quillora.com/")));
}

TEST_F(Startup, EveryActionHasItsShortcut)
{
    auto def = start("");
    const QMap<QString, QString> expected{
        {QStringLiteral("Take Photo"), QStringLiteral("Ctrl+T")},
        {QStringLiteral("Start Capture"), QStringLiteral("Ctrl+Shift+R")},
        {QStringLiteral("Freeze"), QStringLiteral("Ctrl+F")},
        {QStringLiteral("Rotate"), QStringLiteral("Ctrl+R")},
        {QStringLiteral("Focus"), QStringLiteral("Ctrl+Shift+F")},
        {QStringLiteral("Preferences…"), QStringLiteral("Ctrl+,")},
        {QStringLiteral("Quillora Camera Help"), QStringLiteral("F1")},
        {QStringLiteral("Quit"), QStringLiteral("Ctrl+Q")},
    };
    QMap<QString, QString> found;
    for (QAction *action : def->mainWindow()->findChildren<QAction *>())
        if (expected.contains(action->text()))
            found[action->text()] = action->shortcut().toString();
    EXPECT_EQ(found, expected);
}

#include "StartupTest.moc"
