// SPDX-License-Identifier: GPL-3.0-or-later
// Camera ▸ Picture Controls… with virtual cameras: the panel shows the camera's controls by kind,
// a change reaches the picture and is remembered for the camera, refusals are said once, a reset
// forgets the camera's values, and remembered values are written to the camera each time its
// picture starts (start-up, camera switch, rebuild, return after a pull-out) before the camera's
// source exists, so before its first frame.
// Writes of a moving slider and the save of what was set follow the program's clock, which the
// test moves.
#include "AppTest.h"
#include "CameraWatcher.h"
#include "PictureControlsPanel.h"
#include "VirtualCamera.h"
#include "VirtualControls.h"
#include "WindowMessages.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QSignalSpy>
#include <QSlider>

#include <cerrno>

using namespace quillora;
using namespace std::chrono_literals;
using test::waitUntil;

namespace {

constexpr std::uint32_t kBrightness = 0x00980900, kAutoWhiteBalance = 0x0098090c, kPowerLine = 0x00980918,
                        kTemperature = 0x0098091a, kAutoExposure = 0x009a0901, kExposure = 0x009a0902;
constexpr auto kWriteInterval = app::PictureControlsPanel::kWriteInterval;

// One write a virtual camera received: which camera, control and value, and how many of that
// camera's picture sources were in a pipeline at that moment.
struct Write {
    QString camera;
    std::uint32_t id;
    std::int64_t value;
    int sourcesInUse;
};

class PictureControls : public test::AppTest {
protected:
    std::vector<Write> writes;
    std::map<std::uint32_t, int> refusals; // control -> errno the cameras answer

    void SetUp() override
    {
        clock.emplace();
        capture::setVirtualControlObserver([this](const QString &camera, std::uint32_t id, std::int64_t value) {
            writes.push_back({camera, id, value, capture::virtualCameraSourcesInUse(camera)});
            return refusals.count(id) ? refusals[id] : 0;
        });
    }
    void TearDown() override
    {
        AppTest::TearDown();
        capture::setVirtualControlObserver({});
        for (const QString &camera : {QStringLiteral("cam-a"), QStringLiteral("cam-b")}) {
            capture::setVirtualCameraAttached(camera, true);
            capture::forgetVirtualCameraControls(camera);
        }
    }
    QByteArray stored() const { return home.readStore(); }
    void start(const QByteArray &cameras = "A|Generic|cam-a|640x480;B|Generic|cam-b|640x480")
    {
        AppTest::start(cameras); // the list is asked again on every switch
        ASSERT_TRUE(hasFrame());
    }
    // The camera leaves or comes back, and its event settles.
    void attach(const QString &camera, bool attached)
    {
        capture::setVirtualCameraAttached(camera, attached);
        test::flushEvents();
        clock->advance(capture::CameraWatcher::kSettleTime);
    }
    app::PictureControlsPanel &panel() const { return *testAccess(*c).mPictureControls(); }
    void openPanel()
    {
        def->mainWindow()->findChild<QAction *>(QStringLiteral("actionPictureControls"))->trigger();
        ASSERT_TRUE(panel().isVisible());
    }
    template <typename W> W *editor(std::uint32_t id) const { return qobject_cast<W *>(panel().editorOf(id)); }
    // The mean green of the newest picture, once a picture newer than the current one arrived.
    double freshGreen()
    {
        const capture::Frame before = c->currentFrame();
        EXPECT_TRUE(waitUntil([&] { return !c->currentFrame().sameAs(before); }));
        const QImage image = c->currentFrame().image();
        double sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                sum += qGreen(image.pixel(x, y));
        return sum / (image.width() * image.height());
    }
    // Whether the picture's green mean comes to satisfy `holds` within the usual wait.
    bool pictureBecomes(const std::function<bool(double)> &holds)
    {
        return waitUntil([&] { return holds(freshGreen()); });
    }
    std::vector<Write> writesTo(const QString &camera, std::uint32_t id) const
    {
        std::vector<Write> out;
        for (const Write &w : writes)
            if (w.camera == camera && w.id == id)
                out.push_back(w);
        return out;
    }
};

// Picture Controls… in the Camera menu opens a modeless panel with the camera's controls grouped as its
// driver groups them, each by its kind: sliders with their range, check boxes, lists with the
// entries the driver names (none of the holes). Automatic white balance switched off makes the
// temperature changeable at once.
TEST_F(PictureControls, ThePanelShowsTheCamerasControlsByKind)
{
    start();
    QAction *item = def->mainWindow()->findChild<QAction *>(QStringLiteral("actionPictureControls"));
    EXPECT_TRUE(testAccess(*c).mDevicesMenu()->actions().contains(item));
    openPanel();
    EXPECT_FALSE(panel().isModal());
    QStringList groups;
    for (QGroupBox *box : panel().findChildren<QGroupBox *>())
        groups << box->title();
    EXPECT_EQ(groups, (QStringList{"User Controls", "Camera Controls"}));
    QSlider *brightness = editor<QSlider>(kBrightness);
    ASSERT_TRUE(brightness);
    EXPECT_EQ(brightness->maximum() - brightness->minimum(), 128);
    ASSERT_TRUE(editor<QSlider>(kTemperature));
    EXPECT_EQ(editor<QSlider>(kTemperature)->maximum(), (6500 - 2800) / 10);
    EXPECT_FALSE(editor<QSlider>(kTemperature)->isEnabled());
    ASSERT_TRUE(editor<QComboBox>(kAutoExposure));
    QStringList entries;
    for (int i = 0; i < editor<QComboBox>(kAutoExposure)->count(); ++i)
        entries << editor<QComboBox>(kAutoExposure)->itemText(i);
    EXPECT_EQ(entries, (QStringList{"Manual Mode", "Aperture Priority Mode"}));
    EXPECT_EQ(editor<QComboBox>(kPowerLine)->currentText(), QStringLiteral("50 Hz"));
    QCheckBox *automatic = editor<QCheckBox>(kAutoWhiteBalance);
    ASSERT_TRUE(automatic && automatic->isChecked());
    automatic->click();
    EXPECT_TRUE(waitUntil([&] { return editor<QSlider>(kTemperature) && editor<QSlider>(kTemperature)->isEnabled(); }));
}

// A slider dragged through a hundred values writes at once and then at most every interval, the
// last value always; the picture changes; the value is in the settings file under the camera, its
// control ID and the number, beside the ten settings, which stay as they were, even when the
// program ends a moment after the change; and the next run sets it again.
TEST_F(PictureControls, ChangesReachThePictureAndAreRemembered)
{
    home.writeStore("[General]\npic_size=240\npic_filename=Lesson\n");
    start("A|Generic|cam-a|640x480");
    const double normal = freshGreen();
    openPanel();
    QSlider *brightness = editor<QSlider>(kBrightness);
    ASSERT_TRUE(brightness);
    brightness->setSliderDown(true);
    for (int step = 0; step < 100; ++step)
        brightness->setValue(brightness->value() - 1);
    EXPECT_EQ(writesTo("cam-a", kBrightness).size(), 1u) << "one write at once, not one per step";
    clock->advance(kWriteInterval);
    EXPECT_EQ(writesTo("cam-a", kBrightness).size(), 2u);
    EXPECT_EQ(writesTo("cam-a", kBrightness).back().value, -64);
    brightness->setSliderDown(false);
    EXPECT_TRUE(pictureBecomes([&](double green) { return green < normal - 60; }));
    def.reset(); // quitting a moment after the change still saves it
    EXPECT_TRUE(stored().contains("[CameraControls]\ncam-a\\0x00980900=-64\n")) << stored().constData();
    EXPECT_TRUE(stored().contains("pic_size=240\n") && stored().contains("pic_filename=Lesson\n"));
    EXPECT_EQ(stored().count("\n[") + stored().startsWith("["), 2) << stored().constData();

    // The next run writes it to the camera (at its defaults again) before its picture starts.
    capture::forgetVirtualCameraControls(QStringLiteral("cam-a"));
    writes.clear();
    start("A|Generic|cam-a|640x480");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value, -64);
    EXPECT_EQ(writes[0].sourcesInUse, 0);
    EXPECT_TRUE(pictureBecomes([&](double green) { return green < normal - 60; }));
}

// A change the camera refuses is said once in the status line however often the slider tries, and
// logged; the control shows the camera's value again. A reset writes every default and forgets
// what was remembered for this camera alone.
TEST_F(PictureControls, RefusalsAreSaidOnceAndAResetForgetsTheCamera)
{
    home.writeStore("[CameraControls]\ncam-b\\0x00980900=20\n");
    start("A|Generic|cam-a|640x480");
    openPanel();
    QSignalSpy said(&panel(), &app::PictureControlsPanel::statusMessage);
    refusals[kBrightness] = EBUSY;
    for (const int value : {-20, -30, -40}) {
        panel().userChanged(kBrightness, value);
        ASSERT_EQ(writesTo("cam-a", kBrightness).back().value, value);
        clock->advance(kWriteInterval);
    }
    EXPECT_EQ(said.size(), 1);
    EXPECT_EQ(testAccess(*c).mMessages()->statusMessage(), QStringLiteral("Brightness: the camera refused -20"));
    EXPECT_EQ(log.count("quillora.capture: Brightness: the camera refused "), 3);
    EXPECT_TRUE(waitUntil([&] { return editor<QSlider>(kBrightness)->value() == 64; })) << "the camera's 0";
    refusals.clear();

    panel().userChanged(kAutoExposure, 1);
    ASSERT_TRUE(waitUntil([&] { return editor<QSlider>(kExposure) && editor<QSlider>(kExposure)->isEnabled(); }));
    panel().userChanged(kExposure, 100);
    panel().userChanged(kBrightness, 30);
    clock->advance(app::VemoViewController::kControlsSaveDelay - 1ms);
    EXPECT_FALSE(stored().contains("cam-a")) << "saved before the slider could rest";
    clock->advance(1ms);
    ASSERT_TRUE(stored().contains("cam-a\\0x009a0902=100")) << stored().constData();
    test::flushEvents(); // the panel has read the camera again after the changes
    writes.clear();
    panel().resetToDefaults();
    std::vector<std::pair<std::uint32_t, std::int64_t>> reset;
    for (const Write &w : writes)
        reset.emplace_back(w.id, w.value);
    EXPECT_EQ(reset,
        (std::vector<std::pair<std::uint32_t, std::int64_t>>{{kBrightness, 0}, {kExposure, 250}, {kAutoExposure, 3}}));
    clock->advance(app::VemoViewController::kControlsSaveDelay);
    EXPECT_FALSE(stored().contains("cam-a")) << stored().constData();
    EXPECT_TRUE(stored().contains("cam-b\\0x00980900=20"));
    EXPECT_EQ(editor<QComboBox>(kAutoExposure)->currentText(), QStringLiteral("Aperture Priority Mode"));
}

// Remembered values are written to each camera whenever its picture starts, before its picture
// source exists: at start-up, on a switch to it, on a rebuild for new settings and when it comes
// back after a pull-out (which made it forget them). A value out of the control's present range is
// clamped and logged; one for a control the camera lacks is kept in the file and passed over;
// garbage in the group is passed over with one line and the ten settings load as they are.
TEST_F(PictureControls, RememberedValuesAreWrittenBeforeEachPictureStarts)
{
    home.writeStore("[General]\npic_filename=Lesson\n[CameraControls]\ncam-a\\0x00980900=-40\ncam-a\\0x0a046d05=3\n"
                    "cam-b\\0x00980900=500\ncam-b\\0x0098090c=0\ncam-b\\0x0098091a=2800\ncam-a\\0x00980901=soft\n"
                    "cam-a\\brightness=3\nloose=1\n");
    start();
    const auto firstWrites = [&](const QString &camera) {
        std::vector<std::string> out;
        for (const Write &w : writes)
            if (w.camera == camera)
                out.push_back(QStringLiteral("%1=%2 in use %3")
                                  .arg(w.id, 8, 16, QLatin1Char('0'))
                                  .arg(w.value)
                                  .arg(w.sourcesInUse)
                                  .toStdString());
        return out;
    };
    EXPECT_EQ(firstWrites("cam-a"), std::vector<std::string>{"00980900=-40 in use 0"});
    const double darker = freshGreen();
    EXPECT_EQ(log.count("quillora.prefs: 3 entries of [CameraControls] ignored"), 1);
    EXPECT_TRUE(log.logged("quillora.capture: picture control 0x0a046d05 of A kept, not set"));
    EXPECT_EQ(testAccess(*c).mPhotoFilename()->text(), QStringLiteral("Lesson"));

    writes.clear();
    c->deviceMenuClick(testAccess(*c).mDevicesMenu()->actions().at(1));
    const std::vector<std::string> cameraB = {"0098090c=0 in use 0", "00980900=64 in use 0", "0098091a=2800 in use 0"};
    EXPECT_EQ(firstWrites("cam-b"), cameraB);
    EXPECT_TRUE(log.logged(
        "quillora.capture: picture control Brightness of B: stored 500 is outside what it takes now; set to 64"));
    EXPECT_TRUE(pictureBecomes([&](double green) { return green > darker + 60; }));

    writes.clear();
    c->preferencesChange(nullptr);
    EXPECT_EQ(firstWrites("cam-b"), cameraB);

    writes.clear();
    attach(QStringLiteral("cam-b"), false);
    ASSERT_TRUE(c->cameraDisconnected());
    attach(QStringLiteral("cam-b"), true);
    ASSERT_NE(testAccess(*c).device(), nullptr);
    EXPECT_EQ(firstWrites("cam-b"), cameraB);
    EXPECT_EQ(log.count("quillora.prefs: 3 entries of [CameraControls] ignored"), 1);

    // Saving leaves the value for the control the camera lacks where it was.
    openPanel();
    panel().userChanged(kPowerLine, 2);
    clock->advance(app::VemoViewController::kControlsSaveDelay);
    ASSERT_TRUE(stored().contains("cam-b\\0x00980918=2")) << stored().constData();
    EXPECT_TRUE(stored().contains("cam-a\\0x0a046d05=3"));
}

// A camera pulled out while a slider moves: the writes end without a word in the status line and
// the panel says there is no camera.
TEST_F(PictureControls, ACameraPulledOutWhileASliderMovesEndsTheWritesQuietly)
{
    start("A|Generic|cam-a|640x480");
    openPanel();
    QSignalSpy said(&panel(), &app::PictureControlsPanel::statusMessage);
    panel().userChanged(kBrightness, -10);
    panel().userChanged(kBrightness, -20); // due after the interval
    attach(QStringLiteral("cam-a"), false);
    ASSERT_TRUE(c->cameraDisconnected());
    EXPECT_EQ(panel().notice(), QStringLiteral("No camera"));
    clock->advance(2 * kWriteInterval);
    EXPECT_EQ(writesTo("cam-a", kBrightness).size(), 1u);
    EXPECT_EQ(said.size(), 0);
}

} // namespace
