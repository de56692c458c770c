// SPDX-License-Identifier: GPL-3.0-or-later
// Video nodes added to and removed from an emulated machine (umockdev-wrapper), whose uevents
// udev's monitor hears: they drive the camera menu and the picture. The nodes' identity comes from
// the emulated sysfs as on a real machine; their picture comes from the mode-faithful virtual
// camera (the built-in document camera's mode list), since an emulated node cannot stream.
// Their picture controls are the real ioctls, answered by an emulated driver (EmulatedControlNode.h).
// Events settle on the program's clock, which the test moves once it has heard them.
#include "AppTest.h"
#include "CameraOnPort42.h"
#include "CameraWatcher.h"
#include "EmulatedControlNode.h"
#include "EmulatedMachine.h"
#include "MovieInspect.h"
#include "PictureControlsPanel.h"
#include "VirtualCamera.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>

#include <linux/videodev2.h>
#include <umockdev.h>

#include <map>
#include <mutex>

using namespace quillora;
using namespace std::chrono_literals;
using test::CameraOnPort42;
using test::waitUntil;

namespace {

constexpr std::uint32_t kPictureCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
constexpr std::uint32_t kMetaCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;

class UdevHotplug : public test::AppTest {
protected:
    test::EmulatedMachine machine;
    // Each plug-in gets new node numbers: umockdev cannot make a device file again under a name
    // it has used.
    CameraOnPort42 camera{0xb371, "Quillora Document Camera", {}, true, {}, -1};
    int nextNode = 0;
    // What each node answers when asked for its capabilities (main thread only); a camera's
    // first node carries its picture, its second metadata, as with the UVC driver.
    std::map<QString, std::uint32_t> nodeCaps;

    void SetUp() override
    {
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
        clock.emplace();
        withMicrophone();
        capture::setV4l2StandIn(capture::V4l2StandIn{
            [this](const devices::VideoNode &node, QString *) -> std::optional<capture::NodeCapabilities> {
                const auto it = nodeCaps.find(QString::fromStdString(node.name));
                const std::uint32_t caps = it != nodeCaps.end() ? it->second
                    : node.index == 0                           ? kPictureCaps
                                                                : kMetaCaps;
                return capture::NodeCapabilities{V4L2_CAP_DEVICE_CAPS, caps};
            },
            capture::documentCameraModes()});
    }
    void TearDown() override
    {
        AppTest::TearDown();
        capture::setV4l2StandIn(std::nullopt);
    }
    // Waits until the watcher has heard `events` more lines of `action` events.
    bool heard(const char *action, int events)
    {
        return log.waitFor(QStringLiteral("quillora.capture: camera watch: ") + action, events);
    }
    void settle() { clock->advance(capture::CameraWatcher::kSettleTime); }
    // The camera at ports 4.2, with its picture node and its metadata node; the first time with
    // its USB device.
    void plugIn()
    {
        const bool first = camera.videoNodes.empty() && nextNode == 0;
        camera.videoNodes = {nextNode, nextNode + 1};
        nextNode += 2;
        ASSERT_TRUE(machine.add(first ? camera.describe() : camera.describeDriverDevices()));
    }
    // Its nodes go, each with its remove event.
    void pullOut()
    {
        for (auto node = camera.videoNodes.rbegin(); node != camera.videoNodes.rend(); ++node)
            machine.remove(std::string(CameraOnPort42::kInterface) + "/video4linux/video" + std::to_string(*node));
    }
    std::string live() const { return "*Quillora Document Camera | Quillora Document Camera | live | "; }
};

// No camera at start; the node's arrival starts the picture once its events have settled, its
// known model's USB interface looked up, the metadata node not listed. A recording across the
// removal decodes to its end and the window says the camera is disconnected; plugged back, the
// picture resumes, marked, and the USB interface is looked up again.
TEST_F(UdevHotplug, TheNodesEventsDriveTheMenuAndThePicture)
{
    start(std::nullopt);
    EXPECT_EQ(state(), " | no camera | - | No camera connected");
    plugIn();
    ASSERT_TRUE(heard("add", 2));
    clock->advance(capture::CameraWatcher::kSettleTime - 1ms);
    EXPECT_EQ(state(), " | no camera | - | No camera connected") << "told before the events settled";
    clock->advance(1ms);
    EXPECT_EQ(state(), live());
    ASSERT_TRUE(pictureMoves());
    EXPECT_EQ(testAccess(*c).device()->uniqueID(), QStringLiteral("0x01420000090cb371"));
    EXPECT_EQ(log.count("quillora.capture: USB location 0x01420000"), 1);

    ASSERT_TRUE(recordPictures(15));
    pullOut();
    ASSERT_TRUE(heard("remove", 2));
    settle();
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording() && c->cameraDisconnected(); }));
    EXPECT_EQ(state(), " | no camera | - | Camera disconnected");
    const QString movie = home.desktopFile(QStringLiteral("Quillora.mov"));
    EXPECT_EQ(desktop.opened(), QStringList{movie});
    EXPECT_EQ(test::playProblem(movie, 10), QString());

    plugIn();
    ASSERT_TRUE(heard("add", 4));
    settle();
    EXPECT_EQ(state(), live());
    ASSERT_TRUE(pictureMoves());
    EXPECT_EQ(log.count("quillora.capture: USB location 0x01420000"), 2);
}

// Fifty events while a movie is recorded, settling in between now and then: no crash or hang, the
// movie is finished and plays, and the application ends with the camera's state as the cable
// leaves it, twice over.
TEST_F(UdevHotplug, AFlakyCableEndsWithThePictureAsTheCableIsLeft)
{
    plugIn();
    start(std::nullopt);
    ASSERT_TRUE(pictureMoves());
    ASSERT_TRUE(recordPictures(15));
    int adds = 0, removes = 0;
    for (int i = 0; i < 25; ++i) {
        pullOut();
        ASSERT_TRUE(heard("remove", removes += 2));
        clock->advance(capture::CameraWatcher::kSettleTime / 3);
        plugIn();
        ASSERT_TRUE(heard("add", adds += 2));
        clock->advance(capture::CameraWatcher::kSettleTime / 3);
    }
    settle();
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording() && testAccess(*c).device(); }));
    EXPECT_TRUE(pictureMoves());
    EXPECT_EQ(state(), live());
    ASSERT_EQ(desktop.opened().size(), 1);
    EXPECT_EQ(test::playProblem(desktop.opened().front(), 10), QString());

    pullOut();
    ASSERT_TRUE(heard("remove", removes += 2));
    for (int i = 0; i < 25; ++i) {
        clock->advance(capture::CameraWatcher::kSettleTime / 3);
        plugIn();
        ASSERT_TRUE(heard("add", adds += 2));
        clock->advance(capture::CameraWatcher::kSettleTime / 3);
        pullOut();
        ASSERT_TRUE(heard("remove", removes += 2));
    }
    settle();
    EXPECT_TRUE(c->cameraDisconnected());
    EXPECT_EQ(state(), " | no camera | - | Camera disconnected");
}

// Events that change nothing for the camera in use: a metadata node's add, a remove of a node never
// listed, and an add whose USB device is only half there (listed by what could be read).
TEST_F(UdevHotplug, EventsOfOtherNodesLeaveTheCameraInUseAlone)
{
    plugIn();
    start(std::nullopt);
    ASSERT_TRUE(pictureMoves());
    const auto session = testAccess(*c).mCaptureSession();
    const std::string other = std::string(CameraOnPort42::kRootHub) + "/1-5/1-5:1.0";
    nodeCaps["video95"] = kMetaCaps;
    ASSERT_TRUE(machine.add(CameraOnPort42::videoNode(other, 95, 0, "Metadata Only")));
    ASSERT_TRUE(log.waitFor("quillora.capture: camera watch: add /dev/video95"));
    settle();
    machine.remove(other + "/video4linux/video95");
    ASSERT_TRUE(log.waitFor("quillora.capture: camera watch: remove /dev/video95"));
    settle();
    EXPECT_EQ(state(), live());

    // A USB device directory without its identity files yet, and a node without a name or index.
    const std::string half = std::string(CameraOnPort42::kRootHub) + "/1-6";
    nodeCaps["video97"] = kPictureCaps;
    ASSERT_TRUE(machine.add("P: " + half + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: busnum=1\n\nP: " + half
        + "/video4linux/video97\nN: video97\nE: SUBSYSTEM=video4linux\nE: DEVNAME=/dev/video97\n"));
    ASSERT_TRUE(log.waitFor("quillora.capture: camera watch: add /dev/video97"));
    settle();
    EXPECT_EQ(state(), "*Quillora Document Camera, video97 | Quillora Document Camera | live | ");
    machine.remove(half + "/video4linux/video97");
    ASSERT_TRUE(log.waitFor("quillora.capture: camera watch: remove /dev/video97"));
    settle();
    EXPECT_EQ(state(), live());
    EXPECT_EQ(testAccess(*c).mCaptureSession(), session) << "the picture of the camera in use was restarted";
    EXPECT_TRUE(pictureMoves());
}

// Values remembered for the camera reach its node through the kernel's interface before its picture
// source exists, at start-up and when it comes back after a pull-out (on a new node, its controls at
// their defaults again); the panel lists and sets the node's controls.
TEST_F(UdevHotplug, RememberedControlsReachTheNodeBeforeEachPicture)
{
    home.writeStore("[CameraControls]\n0x01420000090cb371\\0x00980900=40\n0x01420000090cb371\\0x009a0901=1\n"
                    "0x01420000090cb371\\0x009a0902=700\n");
    std::mutex mutex; // guards seen: the driver answers on umockdev's thread
    std::vector<std::string> seen;
    std::unique_ptr<test::EmulatedControlNode> driver;
    const auto attach = [&] {
        const std::string devnode = "/dev/video" + std::to_string(camera.videoNodes.front());
        driver = std::make_unique<test::EmulatedControlNode>(
            machine.testbed(), devnode, test::EmulatedControlNode::documentCamera());
        driver->setWriteObserver([&, identity = QString::fromStdString(devnode)](std::uint32_t id, std::int32_t value) {
            std::lock_guard lock(mutex);
            seen.push_back(QStringLiteral("%1=%2 in use %3")
                               .arg(id, 8, 16, QLatin1Char('0'))
                               .arg(value)
                               .arg(capture::virtualCameraSourcesInUse(identity))
                               .toStdString());
        });
    };
    const auto written = [&] {
        std::lock_guard lock(mutex);
        return std::exchange(seen, {});
    };
    plugIn();
    attach();
    start(std::nullopt);
    ASSERT_TRUE(pictureMoves());
    EXPECT_EQ(
        written(), (std::vector<std::string>{"009a0901=1 in use 0", "00980900=40 in use 0", "009a0902=700 in use 0"}));

    def->mainWindow()->findChild<QAction *>(QStringLiteral("actionPictureControls"))->trigger();
    app::PictureControlsPanel &panel = *testAccess(*c).mPictureControls();
    ASSERT_TRUE(panel.editorOf(0x00980900) && panel.editorOf(0x009a0906)) << panel.notice().toStdString();
    panel.userChanged(0x00980900, -12);
    EXPECT_EQ(driver->value(0x00980900), -12);
    written();

    driver->unplug();
    pullOut();
    ASSERT_TRUE(heard("remove", 2));
    settle();
    ASSERT_TRUE(waitUntil([&] { return c->cameraDisconnected(); }));
    EXPECT_EQ(panel.notice(), QStringLiteral("No camera"));
    plugIn();
    attach();
    ASSERT_TRUE(heard("add", 2)); // the first plug-in came before the application
    settle();
    ASSERT_TRUE(pictureMoves());
    EXPECT_EQ(
        written(), (std::vector<std::string>{"009a0901=1 in use 0", "00980900=-12 in use 0", "009a0902=700 in use 0"}));
    EXPECT_TRUE(waitUntil([&] { return panel.editorOf(0x00980900) != nullptr; }));
}

} // namespace
