// SPDX-License-Identifier: GPL-3.0-or-later
// Video nodes added to and removed from an emulated machine (umockdev-wrapper), whose uevents
// udev's monitor hears: they drive the camera menu and the picture. The nodes' identity comes from
// the emulated sysfs as on a real machine; their picture comes from the mode-faithful virtual
// camera (the built-in document camera's mode list), since an emulated node cannot stream. Their
// picture controls are the real ioctls, answered by an emulated driver (EmulatedControlNode.h).
#include "CameraWatcher.h"
#include "EmulatedControlNode.h"
#include "HotplugApp.h"
#include "MovieInspect.h"
#include "PictureControlsPanel.h"
#include "VirtualCamera.h"

#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QPushButton>

#include <linux/videodev2.h>
#include <umockdev.h>

#include <map>
#include <mutex>

using namespace quillora;
using namespace std::chrono_literals;
using test::waitUntil;

namespace {

constexpr const char *kHub = "/devices/pci0000:00/0000:00:14.0/usb1"; // as umockdev adds it; under /sys
const std::string kCamera = std::string(kHub) + "/1-4";
const std::string kInterface = kCamera + "/1-4:1.0";
const QString kName = QStringLiteral("Quillora Document Camera");

constexpr std::uint32_t kPictureCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
constexpr std::uint32_t kMetaCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;

class UdevHotplug : public test::HotplugApp {
protected:
    UMockdevTestbed *testbed = umockdev_testbed_new();
    // What each node answers when asked for its capabilities (main thread only); a camera's
    // first node carries its picture, its second metadata, as with the UVC driver.
    std::map<QString, std::uint32_t> nodeCaps;
    // The camera's nodes while it is plugged in. Each plug-in gets new node numbers: umockdev
    // cannot make a device file again under a name it has used.
    int firstNode = 0, nextNode = 0;

    void SetUp() override
    {
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
        qunsetenv("QUILLORA_VIRTUAL_CAMERAS");
        capture::setV4l2StandIn(capture::V4l2StandIn{
            [this](const devices::VideoNode &node, QString *) -> std::optional<capture::NodeCapabilities> {
                const auto it = nodeCaps.find(QString::fromStdString(node.name));
                if (it == nodeCaps.end())
                    return capture::NodeCapabilities{V4L2_CAP_DEVICE_CAPS, node.index == 0 ? kPictureCaps : kMetaCaps};
                return capture::NodeCapabilities{V4L2_CAP_DEVICE_CAPS, it->second};
            },
            capture::documentCameraModes()});
        add(std::string("P: ") + kHub + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: busnum=1\nA: devpath=0\n");
    }
    void TearDown() override
    {
        HotplugApp::TearDown();
        capture::setV4l2StandIn(std::nullopt);
        g_object_unref(testbed);
    }
    void add(const std::string &text)
    {
        GError *error = nullptr;
        const bool added = umockdev_testbed_add_from_string(testbed, text.c_str(), &error);
        EXPECT_TRUE(added) << (error ? error->message : "");
        if (error)
            g_error_free(error);
    }
    // The device's remove event (umockdev builds it from the device's sysfs entry, so it goes
    // first), then the device and its tree.
    void remove(const std::string &devicePath)
    {
        const std::string sysPath = "/sys" + devicePath;
        umockdev_testbed_uevent(testbed, sysPath.c_str(), "remove");
        umockdev_testbed_remove_device(testbed, sysPath.c_str());
    }
    static std::string node(
        const std::string &parent, int number, int index, const char *name = "Quillora Document Camera")
    {
        const std::string n = std::to_string(number);
        return "P: " + parent + "/video4linux/video" + n + "\nN: video" + n
            + "\nE: SUBSYSTEM=video4linux\nE: DEVNAME=/dev/video" + n + "\nA: name=" + name
            + "\nA: index=" + std::to_string(index) + "\nA: dev=81:" + n + "\nL: device=../..\n";
    }
    // The camera at bus 1, port 4 (location 0x01400000), with its picture node and its metadata node.
    void plugIn()
    {
        add("P: " + kCamera
            + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: busnum=1\nA: devpath=4\nA: idVendor=090c\nA: "
              "idProduct=b371\n"
              "A: product=Quillora Document Camera\n\nP: "
            + kInterface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=00\n\n"
            + node(kInterface, nextNode, 0) + "\n" + node(kInterface, nextNode + 1, 1));
        firstNode = nextNode;
        nextNode += 2;
    }
    // Its nodes go (each with its remove event), then the USB device.
    void pullOut()
    {
        for (int n : {firstNode + 1, firstNode})
            remove(kInterface + "/video4linux/video" + std::to_string(n));
        remove(kInterface);
        remove(kCamera);
    }
    std::string live() const { return "*Quillora Document Camera | Quillora Document Camera | live | "; }
};

// No camera at start; the node's arrival starts the picture within a second, its known model's USB
// interface looked up, the metadata node not listed. A recording across the removal decodes to its
// end and the window says the camera is disconnected; plugged back, the picture resumes, marked,
// and the USB interface is looked up again.
TEST_F(UdevHotplug, TheNodesEventsDriveTheMenuAndThePicture)
{
    startApp();
    EXPECT_EQ(state(), " | no camera | - | No camera connected");
    QElapsedTimer clock;
    clock.start();
    plugIn();
    ASSERT_TRUE(pictureMoves(3s));
    EXPECT_LT(clock.elapsed(), 1000) << "the picture of a camera plugged in must start within a second";
    EXPECT_EQ(state(), live());
    EXPECT_EQ(testAccess(*c).device()->uniqueID(), QStringLiteral("0x01400000090cb371"));
    EXPECT_EQ(loggedCount("quillora.capture: USB location 0x01400000"), 1);

    ASSERT_TRUE(recordPictures(15));
    pullOut();
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording() && c->cameraDisconnected(); }, 15s));
    EXPECT_EQ(state(), " | no camera | - | Camera disconnected");
    const QString movie = desktopFile(QStringLiteral("Quillora.mov"));
    EXPECT_EQ(spy.opened(), QStringList{movie});
    EXPECT_EQ(test::playProblem(movie, 10), QString());

    plugIn();
    ASSERT_TRUE(pictureMoves(3s));
    EXPECT_EQ(state(), live());
    EXPECT_EQ(loggedCount("quillora.capture: USB location 0x01400000"), 2);
}

// Fifty events in a second while a movie is recorded: no crash or hang, the movie is finished and
// plays, and the application ends with the camera's state as the cable leaves it, twice over.
TEST_F(UdevHotplug, AFlakyCableEndsWithThePictureAsTheCableIsLeft)
{
    plugIn();
    startApp();
    ASSERT_TRUE(pictureMoves());
    ASSERT_TRUE(recordPictures(15));
    for (int i = 0; i < 25; ++i) {
        pullOut();
        test::runEventsFor(20ms);
        plugIn();
        test::runEventsFor(20ms);
    }
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).recording() && testAccess(*c).device(); }, 15s));
    EXPECT_TRUE(pictureMoves());
    EXPECT_EQ(state(), live());
    ASSERT_EQ(spy.opened().size(), 1);
    EXPECT_EQ(test::playProblem(spy.opened().front(), 10), QString());

    pullOut();
    for (int i = 0; i < 25; ++i) {
        test::runEventsFor(20ms);
        plugIn();
        test::runEventsFor(20ms);
        pullOut();
    }
    ASSERT_TRUE(waitUntil([&] { return c->cameraDisconnected(); }, 2s));
    test::runEventsFor(300ms);
    EXPECT_EQ(state(), " | no camera | - | Camera disconnected");
}

// Events that change nothing for the camera in use: a metadata node's add, a remove of a node never
// listed, and an add whose USB device is only half there (listed by what could be read).
TEST_F(UdevHotplug, BadEventsLeaveTheCameraInUseAlone)
{
    plugIn();
    startApp();
    ASSERT_TRUE(pictureMoves());
    const auto session = testAccess(*c).mCaptureSession();
    const std::string other = std::string(kHub) + "/1-5/1-5:1.0";
    nodeCaps["video95"] = kMetaCaps;
    add(node(other, 95, 0, "Metadata Only"));
    ASSERT_TRUE(waitUntil([&] { return loggedCount("quillora.capture: camera watch: add /dev/video95") == 1; }, 2s));
    test::runEventsFor(300ms);
    remove(other + "/video4linux/video95");
    ASSERT_TRUE(waitUntil([&] { return loggedCount("quillora.capture: camera watch: remove /dev/video95") == 1; }, 2s));
    test::runEventsFor(300ms);
    EXPECT_EQ(state(), live());

    // A USB device directory without its identity files yet, and a node without a name or index.
    const std::string half = std::string(kHub) + "/1-6";
    nodeCaps["video97"] = kPictureCaps;
    add("P: " + half + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: busnum=1\n\nP: " + half
        + "/video4linux/video97\nN: video97\nE: SUBSYSTEM=video4linux\nE: DEVNAME=/dev/video97\n");
    ASSERT_TRUE(waitUntil([&] { return testAccess(*c).mDevicesMenu()->actions().at(1)->isVisible(); }, 2s));
    EXPECT_EQ(state(), "*Quillora Document Camera, video97 | Quillora Document Camera | live | ");
    remove(half + "/video4linux/video97");
    ASSERT_TRUE(waitUntil([&] { return !testAccess(*c).mDevicesMenu()->actions().at(1)->isVisible(); }, 2s));
    EXPECT_EQ(state(), live());
    EXPECT_EQ(testAccess(*c).mCaptureSession(), session) << "the picture of the camera in use was restarted";
    EXPECT_TRUE(pictureMoves());
}

// Values remembered for the camera reach its node through the kernel's interface before its picture
// source exists, at start-up and when it comes back after a pull-out (on a new node, its controls at
// their defaults again); the panel lists and sets the node's controls.
TEST_F(UdevHotplug, RememberedControlsReachTheNodeBeforeEachPicture)
{
    QDir().mkpath(home.filePath(QStringLiteral("config/Quillora")));
    QFile conf(home.filePath(QStringLiteral("config/Quillora/quillora.conf")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[CameraControls]\n0x01400000090cb371\\0x00980900=40\n0x01400000090cb371\\0x009a0901=1\n"
               "0x01400000090cb371\\0x009a0902=700\n");
    conf.close();
    std::mutex mutex; // guards seen: the driver answers on umockdev's thread
    std::vector<std::string> seen;
    std::unique_ptr<test::EmulatedControlNode> driver;
    const auto attach = [&] {
        const std::string devnode = "/dev/video" + std::to_string(firstNode);
        driver = std::make_unique<test::EmulatedControlNode>(
            testbed, devnode, test::EmulatedControlNode::documentCamera());
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
    const std::vector<std::string> remembered
        = {"009a0901=1 in use 0", "00980900=40 in use 0", "009a0902=700 in use 0"};
    plugIn();
    attach();
    startApp();
    ASSERT_TRUE(pictureMoves());
    EXPECT_EQ(written(), remembered);

    def->mainWindow()->findChild<QAction *>(QStringLiteral("actionPictureControls"))->trigger();
    app::PictureControlsPanel &panel = *testAccess(*c).mPictureControls();
    ASSERT_TRUE(panel.editorOf(0x00980900) && panel.editorOf(0x009a0906)) << panel.notice().toStdString();
    panel.userChanged(0x00980900, -12);
    EXPECT_EQ(driver->value(0x00980900), -12);
    written();

    driver->unplug();
    pullOut();
    ASSERT_TRUE(waitUntil([&] { return c->cameraDisconnected(); }, 15s));
    EXPECT_EQ(panel.notice(), QStringLiteral("No camera"));
    plugIn();
    attach();
    ASSERT_TRUE(pictureMoves(3s));
    EXPECT_EQ(
        written(), (std::vector<std::string>{"009a0901=1 in use 0", "00980900=-12 in use 0", "009a0902=700 in use 0"}));
    EXPECT_TRUE(waitUntil([&] { return panel.editorOf(0x00980900) != nullptr; }));
}

} // namespace
