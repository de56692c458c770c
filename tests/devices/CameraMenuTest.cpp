// Choosing and marking the camera through the running controller: start-up with virtual cameras
// (and with a fixture sysfs tree), the camera menu, and the sound input.
#include "TestSupport.h"
#include "VemoViewController.h"
#include "WindowDefinition.h"

#include <QAction>
#include <QApplication>
#include <QLoggingCategory>
#include <QMenu>
#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>

#include <gst/gst.h>
#include <gtest/gtest.h>

// Failures show the text, not its UTF-16 code units.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

using quillora::app::VemoViewController;
using quillora::app::WindowDefinition;
using quillora::test::ScopedEnv;

namespace {

const QByteArray k45937 = "UVC Camera VendorID_2316 ProductID_45937";
const QByteArray k890 = "UVC Camera VendorID_2316 ProductID_890";
const QByteArray k14096 = "UVC Camera VendorID_2316 ProductID_14096";

// Collects the lines of quillora.capture while alive.
class CaptureLines {
public:
    CaptureLines()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("quillora.capture.info=true"));
        s_current = this;
        m_previous = qInstallMessageHandler(&CaptureLines::handler);
    }
    ~CaptureLines()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
        QLoggingCategory::setFilterRules(QString());
    }
    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    QStringList matching(const QString &prefix) const
    {
        QStringList out;
        for (const QString &line : lines())
            if (line.startsWith(prefix))
                out << line;
        return out;
    }
    bool contains(const QString &fragment) const
    {
        for (const QString &line : lines())
            if (line.contains(fragment))
                return true;
        return false;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (s_current && context.category && QByteArrayView(context.category) == "quillora.capture") {
            QMutexLocker lock(&s_current->m_mutex);
            s_current->m_lines << message;
        }
    }
    static inline CaptureLines *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex; // guards m_lines: GStreamer threads log too
    QStringList m_lines;
};

// Each start-up reads its settings from a fresh, empty configuration folder.
class CameraMenu : public ::testing::Test {
protected:
    QTemporaryDir m_config;
    ScopedEnv m_xdg{"XDG_CONFIG_HOME", m_config.path().toUtf8()};
    ScopedEnv m_microphone{"QUILLORA_VIRTUAL_MICROPHONE", "Test Tone"};

    static QList<QAction *> items(WindowDefinition &def) { return def.controller()->mDevicesMenu->actions(); }
    static std::vector<int> checkedItems(WindowDefinition &def)
    {
        std::vector<int> out;
        const auto all = items(def);
        for (int i = 0; i < all.size(); ++i)
            if (all.at(i)->isChecked())
                out.push_back(i);
        return out;
    }
    static int visibleItems(WindowDefinition &def)
    {
        int n = 0;
        for (QAction *item : items(def))
            n += item->isVisible() ? 1 : 0;
        return n;
    }
};

} // namespace

TEST_F(CameraMenu, DefaultCameraAndA14096CameraChoosesTheKnownModel)
{
    ScopedEnv cameras("QUILLORA_VIRTUAL_CAMERAS",
        "Desk Webcam|Generic UVC|0x01100000aaaabbbb;Document Camera|" + k14096 + "|0x01420000090c3710");
    CaptureLines log;
    WindowDefinition def(qApp);
    def.awake();
    VemoViewController &c = *def.controller();

    ASSERT_TRUE(c.device);
    EXPECT_EQ(c.device->localizedDisplayName(), QStringLiteral("Document Camera"));
    EXPECT_FALSE(c.quilloraDevice);
    EXPECT_TRUE(c.mCaptureSession);
    EXPECT_EQ(visibleItems(def), 2);
    EXPECT_EQ(items(def).at(0)->text(), QStringLiteral("Desk Webcam"));
    EXPECT_EQ(items(def).at(1)->text(), QStringLiteral("Document Camera"));
    EXPECT_EQ(checkedItems(def), std::vector<int>{1});
    EXPECT_EQ(log.matching(QStringLiteral("camera chosen:")),
        QStringList{
            QStringLiteral("camera chosen: Document Camera (%1, 0x01420000090c3710)").arg(QString::fromUtf8(k14096))});
    EXPECT_EQ(log.matching(QStringLiteral("USB location")), QStringList{QStringLiteral("USB location 0x01420000")});
}

TEST_F(CameraMenu, An890CameraSetsTheFlagEvenWhenA45937CameraAfterItIsChosen)
{
    ScopedEnv cameras(
        "QUILLORA_VIRTUAL_CAMERAS", "Q890|" + k890 + "|0x01100000090c037a;Q45937|" + k45937 + "|0x01200000090cb371");
    CaptureLines log;
    WindowDefinition def(qApp);
    def.awake();
    VemoViewController &c = *def.controller();
    ASSERT_TRUE(c.device);
    EXPECT_EQ(c.device->localizedDisplayName(), QStringLiteral("Q45937"));
    EXPECT_TRUE(c.quilloraDevice);
    EXPECT_EQ(checkedItems(def), std::vector<int>{1});
    EXPECT_EQ(log.matching(QStringLiteral("USB location")), QStringList{QStringLiteral("USB location 0x01200000")});

    // Switching to the 890 camera and back leaves the flag as start-up set it.
    items(def).at(0)->trigger();
    EXPECT_EQ(c.device->localizedDisplayName(), QStringLiteral("Q890"));
    EXPECT_TRUE(c.quilloraDevice);
    // The menu does not look up any USB interface.
    EXPECT_EQ(log.matching(QStringLiteral("USB location")).size(), 1);
}

TEST_F(CameraMenu, LocationIdIsTheFirstEightHexDigitsOrZero)
{
    const std::pair<QByteArray, QString> cases[] = {
        {"0x1234abcdef99887766", QStringLiteral("USB location 0x1234abcd")}, // more than eight digits
        {"0x1A2b", QStringLiteral("USB location 0x00001a2b")},               // fewer, mixed case
        {"usb:1-1.2.3.4.5.6.7:090c:b371", QStringLiteral("USB location 0x00000000")},
        {"0x-1234567", QStringLiteral("USB location 0x00000000")}, // no sign is a digit
        {"0x 1234567", QStringLiteral("USB location 0x00000000")},
        {"0x0x123456", QStringLiteral("USB location 0x00000000")}, // one "0x" only
    };
    for (const auto &[uid, expected] : cases) {
        ScopedEnv cameras("QUILLORA_VIRTUAL_CAMERAS", "Known|" + k45937 + "|" + uid);
        CaptureLines log;
        WindowDefinition def(qApp);
        def.awake();
        ASSERT_TRUE(def.controller()->device) << uid.constData();
        EXPECT_EQ(log.matching(QStringLiteral("USB location")), QStringList{expected}) << uid.constData();
    }
}

TEST_F(CameraMenu, AnUnknownSingleCameraIsChosenWithoutUsbLookUp)
{
    ScopedEnv cameras("QUILLORA_VIRTUAL_CAMERAS", "Webcam|Some Other Camera|0x01400000046d0825");
    CaptureLines log;
    WindowDefinition def(qApp);
    def.awake();
    VemoViewController &c = *def.controller();
    ASSERT_TRUE(c.device);
    EXPECT_EQ(c.device->localizedDisplayName(), QStringLiteral("Webcam"));
    EXPECT_EQ(checkedItems(def), std::vector<int>{0});
    EXPECT_EQ(visibleItems(def), 1);
    EXPECT_FALSE(c.quilloraDevice);
    EXPECT_TRUE(log.matching(QStringLiteral("USB location")).isEmpty());
    EXPECT_TRUE(c.mCaptureSession);
}

TEST_F(CameraMenu, NoCameraShowsNoItemAndBuildsNoSession)
{
    ScopedEnv cameras("QUILLORA_VIRTUAL_CAMERAS", "");
    WindowDefinition def(qApp);
    def.awake();
    EXPECT_FALSE(def.controller()->device);
    EXPECT_FALSE(def.controller()->mCaptureSession);
    EXPECT_EQ(visibleItems(def), 0);
    EXPECT_TRUE(checkedItems(def).empty());
}

TEST_F(CameraMenu, ChoosingAnItemRestartsTheStreamEvenWhenItIsAlreadyChecked)
{
    ScopedEnv cameras("QUILLORA_VIRTUAL_CAMERAS", "First|Generic|virtual-a;Second|Generic|virtual-b");
    CaptureLines log;
    WindowDefinition def(qApp);
    def.awake();
    VemoViewController &c = *def.controller();
    ASSERT_TRUE(c.mCaptureSession);
    const auto firstSession = c.mCaptureSession;
    const auto firstDevice = c.device;

    items(def).at(0)->trigger(); // the checked item: a checkable action unchecks itself first
    ASSERT_TRUE(c.mCaptureSession);
    EXPECT_NE(c.mCaptureSession, firstSession);
    EXPECT_TRUE(c.mCaptureSession->isRunning());
    EXPECT_EQ(c.device, firstDevice);
    EXPECT_EQ(checkedItems(def), std::vector<int>{0});

    items(def).at(1)->trigger();
    EXPECT_EQ(c.device->localizedDisplayName(), QStringLiteral("Second"));
    EXPECT_EQ(checkedItems(def), std::vector<int>{1});
    EXPECT_EQ(log.matching(QStringLiteral("camera chosen:")).size(), 3);
    EXPECT_EQ(log.matching(QStringLiteral("camera chosen:")).last(),
        QStringLiteral("camera chosen: Second (Generic, virtual-b)"));
    // Frames of the new camera reach the controller.
    EXPECT_TRUE(quillora::test::waitUntil([&] { return static_cast<bool>(c.currentFrame()); }));
}

TEST_F(CameraMenu, AChoiceWhosePositionIsGoneKeepsAPicture)
{
    // One at a time: each restores what it found when it goes.
    std::unique_ptr<ScopedEnv> cameras;
    auto attached = [&cameras](const QByteArray &list) {
        cameras.reset();
        cameras = std::make_unique<ScopedEnv>("QUILLORA_VIRTUAL_CAMERAS", list);
    };
    attached("A|Generic|virtual-a;B|Generic|virtual-b;C|Generic|virtual-c");
    CaptureLines log;
    WindowDefinition def(qApp);
    def.awake();
    VemoViewController &c = *def.controller();
    ASSERT_EQ(c.device->localizedDisplayName(), QStringLiteral("A"));

    // C unplugged: item 3 has no camera; A, still attached, stays in use and marked.
    attached("A|Generic|virtual-a;B|Generic|virtual-b");
    items(def).at(2)->trigger();
    ASSERT_TRUE(c.device);
    EXPECT_EQ(c.device->localizedDisplayName(), QStringLiteral("A"));
    EXPECT_EQ(checkedItems(def), std::vector<int>{0});
    ASSERT_TRUE(c.mCaptureSession);
    EXPECT_TRUE(c.mCaptureSession->isRunning());
    EXPECT_TRUE(log.contains(QStringLiteral("camera menu item 3 has no camera any more")));

    // A and C gone: the camera in use is gone too, so the remaining one takes over.
    attached("B|Generic|virtual-b");
    items(def).at(2)->trigger();
    ASSERT_TRUE(c.device);
    EXPECT_EQ(c.device->localizedDisplayName(), QStringLiteral("B"));
    EXPECT_EQ(checkedItems(def), std::vector<int>{0});
    EXPECT_TRUE(c.mCaptureSession);

    // Nothing left: no camera, no session, nothing marked, and no crash.
    attached("");
    items(def).at(1)->trigger();
    EXPECT_FALSE(c.device);
    EXPECT_FALSE(c.mCaptureSession);
    EXPECT_TRUE(checkedItems(def).empty());
}

TEST_F(CameraMenu, CamerasAfterTheTenthAreNeitherListedNorChosen)
{
    QByteArray list;
    for (int i = 1; i <= 10; ++i)
        list += "Cam " + QByteArray::number(i) + "|Generic|virtual-" + QByteArray::number(i) + ";";
    list += "Eleven|" + k890 + "|0x01b00000090c037a;Twelve|" + k45937 + "|0x01c00000090cb371";
    ScopedEnv cameras("QUILLORA_VIRTUAL_CAMERAS", list);
    CaptureLines log;
    WindowDefinition def(qApp);
    def.awake();
    VemoViewController &c = *def.controller();
    EXPECT_EQ(visibleItems(def), 10);
    EXPECT_EQ(items(def).at(9)->text(), QStringLiteral("Cam 10"));
    ASSERT_TRUE(c.device);
    EXPECT_EQ(c.device->localizedDisplayName(), QStringLiteral("Cam 1"));
    EXPECT_EQ(checkedItems(def), std::vector<int>{0});
    // The 890 camera is attached, so the listener still waits for it.
    EXPECT_TRUE(c.quilloraDevice);
    EXPECT_TRUE(log.matching(QStringLiteral("USB location")).isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("camera menu full: 2")));
}

TEST_F(CameraMenu, MenuTitlesShowTheNameAsItIs)
{
    ScopedEnv cameras("QUILLORA_VIRTUAL_CAMERAS", "Scan & Show|Generic|virtual-a");
    WindowDefinition def(qApp);
    def.awake();
    // Doubled, so that the menu shows one '&' instead of taking it for a shortcut marker.
    EXPECT_EQ(items(def).at(0)->text(), QStringLiteral("Scan && Show"));
    EXPECT_EQ(items(def).at(0)->iconText(), QStringLiteral("Scan & Show"));
}

TEST_F(CameraMenu, SysfsCamerasThatAreGoneWhenOpenedDoNotStopTheApplication)
{
    // Cameras listed from a fixture tree whose device files do not exist: unplugged between
    // the listing and the opening.
    qunsetenv("QUILLORA_VIRTUAL_CAMERAS");
    ScopedEnv sysfs("QUILLORA_SYSFS_ROOT", (quillora::test::testDataDir() + QStringLiteral("/sysfs/desk")).toUtf8());
    ScopedEnv dev("QUILLORA_DEV_ROOT", "/nonexistent-quillora-dev");
    CaptureLines log;
    WindowDefinition def(qApp);
    def.awake();
    VemoViewController &c = *def.controller();
    EXPECT_EQ(visibleItems(def), 3);
    EXPECT_EQ(items(def).at(0)->text(), QStringLiteral("Quillora Document Camera"));
    EXPECT_EQ(items(def).at(1)->text(), QStringLiteral("vivid-000-vid-cap"));
    EXPECT_EQ(items(def).at(2)->text(), QStringLiteral("UVC Camera (046d:0825)"));
    ASSERT_TRUE(c.device);
    EXPECT_EQ(c.device->modelUniqueID(), QString::fromUtf8(k45937));
    EXPECT_EQ(log.matching(QStringLiteral("USB location")), QStringList{QStringLiteral("USB location 0x01400000")});
    EXPECT_TRUE(log.contains(QStringLiteral("cannot be opened")));
    EXPECT_TRUE(quillora::test::waitUntil([&] { return log.contains(QStringLiteral("capture error")); }));

    items(def).at(1)->trigger();
    EXPECT_EQ(c.device->localizedDisplayName(), QStringLiteral("vivid-000-vid-cap"));
    EXPECT_EQ(checkedItems(def), std::vector<int>{1});
}

namespace {

// Makes this process see no sound server and no sound card: every device provider is taken
// out of the device monitor's choice.
void hideAllDeviceProviders()
{
    gst_init(nullptr, nullptr);
    GList *factories = gst_device_provider_factory_list_get_device_providers(GST_RANK_NONE);
    for (GList *l = factories; l; l = l->next)
        gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(l->data), GST_RANK_NONE);
    gst_plugin_feature_list_free(factories);
}

} // namespace

TEST_F(CameraMenu, SoundInputIsTheVirtualMicrophoneOrNothing)
{
    ScopedEnv cameras("QUILLORA_VIRTUAL_CAMERAS", "Cam|Generic|virtual-a");
    hideAllDeviceProviders();
    {
        WindowDefinition def(qApp);
        def.awake();
        ASSERT_TRUE(def.controller()->audioDevice);
        EXPECT_EQ(def.controller()->audioDevice->localizedDisplayName(), QStringLiteral("Test Tone"));
        EXPECT_EQ(def.controller()->audioDevice->mediaType(), quillora::capture::MediaType::Sound);
    }
    {
        ScopedEnv noMicrophone("QUILLORA_VIRTUAL_MICROPHONE", "");
        WindowDefinition def(qApp);
        def.awake();
        EXPECT_FALSE(def.controller()->audioDevice);
        EXPECT_TRUE(def.controller()->device); // the picture does not depend on sound
    }
}
