// The camera list from sysfs: which nodes are cameras, in which order, and the identity of each
// (display name, model string, unique identifier, location ID), against fixture trees.
#include "SysfsCamera.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <linux/videodev2.h>

// Failures show the text, not its UTF-16 code units.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

#include <map>

using namespace quillora::capture;

namespace {

QString fixture(const char *tree)
{
    return quillora::test::testDataDir() + QStringLiteral("/sysfs/") + QLatin1String(tree);
}

// Device files are looked for where none exist, so only sysfs speaks.
const QString kNoDev = QStringLiteral("/nonexistent-quillora-dev");

std::vector<DeviceDescription> listWithoutAsking(const QString &root)
{
    return listSysfsCameras(root, kNoDev, [](const V4l2Node &, QString *error) -> std::optional<NodeCapabilities> {
        *error = QStringLiteral("not asked");
        return std::nullopt;
    });
}

} // namespace

TEST(SysfsCameras, DeskTreeListsEachCameraOnceInNodeOrderWithItsIdentity)
{
    // The real probe finds no device files here and falls back to the nodes' index files.
    const auto cameras = listSysfsCameras(fixture("desk"), kNoDev, queryNodeCapabilities);
    ASSERT_EQ(cameras.size(), 3u);

    // Root-hub port 4 of bus 1: 0x01400000; vendor 0x090c = 2316, product 0xb371 = 45937.
    EXPECT_EQ(cameras[0].displayName, QStringLiteral("Quillora Document Camera"));
    EXPECT_EQ(cameras[0].modelUniqueID, QStringLiteral("UVC Camera VendorID_2316 ProductID_45937"));
    EXPECT_EQ(cameras[0].uniqueID, QStringLiteral("0x01400000090cb371"));
    EXPECT_EQ(cameras[0].devicePath, kNoDev + QStringLiteral("/video0"));
    EXPECT_EQ(cameras[0].kind, DeviceKind::V4l2Camera);
    // The node's place in the device tree, not its class link: its USB parents are above it.
    EXPECT_TRUE(cameras[0].sysfsPath.endsWith(QStringLiteral("/usb1/1-4/1-4:1.0/video4linux/video0")))
        << cameras[0].sysfsPath.toStdString();

    // video4 before video10: numeric, not alphabetical. A platform device: card name and path.
    EXPECT_EQ(cameras[1].displayName, QStringLiteral("vivid-000-vid-cap"));
    EXPECT_EQ(cameras[1].modelUniqueID, QStringLiteral("vivid-000-vid-cap"));
    EXPECT_EQ(cameras[1].uniqueID, kNoDev + QStringLiteral("/video4"));

    // Behind two hubs, ports 3.2.1 of bus 1: 0x01321000; 046d:0825 is 1133:2085.
    EXPECT_EQ(cameras[2].displayName, QStringLiteral("UVC Camera (046d:0825)"));
    EXPECT_EQ(cameras[2].modelUniqueID, QStringLiteral("UVC Camera VendorID_1133 ProductID_2085"));
    EXPECT_EQ(cameras[2].uniqueID, QStringLiteral("0x01321000046d0825"));

    // Every call gives the same list in the same order.
    const auto again = listSysfsCameras(fixture("desk"), kNoDev, queryNodeCapabilities);
    ASSERT_EQ(again.size(), cameras.size());
    for (size_t i = 0; i < again.size(); ++i)
        EXPECT_EQ(again[i].devicePath, cameras[i].devicePath);
}

TEST(SysfsCameras, TheNodesOwnAnswerDecidesOverItsIndex)
{
    const std::map<QString, NodeCapabilities> answers{
        // A UVC picture node and its metadata node, as the driver describes them.
        {QStringLiteral("video0"),
            {V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS,
                V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING}},
        {QStringLiteral("video1"),
            {V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS,
                V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING}},
        // A memory-to-memory codec is no camera, whatever its index says.
        {QStringLiteral("video4"), {V4L2_CAP_VIDEO_M2M_MPLANE | V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_M2M_MPLANE}},
        // A second picture node of one camera (index 1) is still a camera when it says so.
        {QStringLiteral("video11"),
            {V4L2_CAP_VIDEO_CAPTURE_MPLANE | V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_CAPTURE_MPLANE}},
        // video10 does not answer: its index 0 keeps it.
    };
    const auto cameras = listSysfsCameras(
        fixture("desk"), kNoDev, [&](const V4l2Node &node, QString *) -> std::optional<NodeCapabilities> {
            const auto it = answers.find(node.name);
            if (it == answers.end())
                return std::nullopt;
            return it->second;
        });
    std::vector<QString> paths;
    for (const auto &c : cameras)
        paths.push_back(c.devicePath.section(QLatin1Char('/'), -1));
    EXPECT_EQ(
        paths, (std::vector<QString>{QStringLiteral("video0"), QStringLiteral("video10"), QStringLiteral("video11")}));
}

TEST(SysfsCameras, CaptureNodeDecisionFollowsTheNodesOwnCapabilities)
{
    // Without V4L2_CAP_DEVICE_CAPS the device-wide capabilities are all there is.
    EXPECT_TRUE(isVideoCaptureNode({V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING, 0}));
    // With it, only the node's own capabilities count.
    EXPECT_FALSE(isVideoCaptureNode({V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_DEVICE_CAPS, V4L2_CAP_META_CAPTURE}));
    EXPECT_TRUE(isVideoCaptureNode({V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_CAPTURE_MPLANE}));
    EXPECT_FALSE(isVideoCaptureNode({V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_OUTPUT}));
    // Old-style codecs that claim both capture and output.
    EXPECT_FALSE(isVideoCaptureNode({V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_OUTPUT, 0}));
    EXPECT_FALSE(isVideoCaptureNode({0, 0}));
}

TEST(SysfsCameras, IncompleteTreeStillListsWhatItCanWithoutFailing)
{
    const auto cameras = listWithoutAsking(fixture("broken"));
    // video5 is a link to a node that no longer exists, radio0 is no video node.
    ASSERT_EQ(cameras.size(), 3u);

    // USB device whose idVendor is missing: no model string can be formed, so it is described
    // like a camera that is not on USB.
    EXPECT_EQ(cameras[0].displayName, QStringLiteral("Quillora 890"));
    EXPECT_EQ(cameras[0].modelUniqueID, QStringLiteral("Quillora 890"));
    EXPECT_EQ(cameras[0].uniqueID, kNoDev + QStringLiteral("/video0"));

    // No name, index, dev or uevent for the node and no busnum/devpath for the USB device: the
    // product string names it, and the directory name 2-2 gives bus 2, port 2.
    EXPECT_EQ(cameras[1].displayName, QStringLiteral("Quillora Q14096"));
    EXPECT_EQ(cameras[1].modelUniqueID, QStringLiteral("UVC Camera VendorID_2316 ProductID_14096"));
    EXPECT_EQ(cameras[1].uniqueID, QStringLiteral("0x02200000090c3710"));
    EXPECT_EQ(cameras[1].devicePath, kNoDev + QStringLiteral("/video2"));

    // No parent device at all.
    EXPECT_EQ(cameras[2].displayName, QStringLiteral("Loose Node"));
    EXPECT_EQ(cameras[2].uniqueID, kNoDev + QStringLiteral("/video3"));

    // A sysfs root without any video4linux class.
    EXPECT_TRUE(listWithoutAsking(QStringLiteral("/nonexistent-quillora-sys")).empty());
}

namespace {

// Builds, under `root`, a camera at the end of the given hub chain with sysfs's own layout.
V4l2Node makeUsbCamera(const QString &root, unsigned bus, const std::vector<unsigned> &ports)
{
    auto write = [](const QString &path, const QByteArray &text) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        f.write(text + '\n');
    };
    QString rel = QStringLiteral("devices/pci0000:00/0000:00:14.0/usb%1").arg(bus);
    QString devpath;
    for (size_t level = 0; level < ports.size(); ++level) {
        const unsigned port = ports[level];
        // The hubs on the way have their own identity; only the innermost device is the camera.
        const bool camera = level + 1 == ports.size();
        devpath += (devpath.isEmpty() ? QString() : QStringLiteral(".")) + QString::number(port);
        rel += QStringLiteral("/%1-%2").arg(bus).arg(devpath);
        QDir(root).mkpath(rel);
        write(root + QLatin1Char('/') + rel + QStringLiteral("/busnum"), QByteArray::number(bus));
        write(root + QLatin1Char('/') + rel + QStringLiteral("/devpath"), devpath.toUtf8());
        write(root + QLatin1Char('/') + rel + QStringLiteral("/idVendor"), camera ? "090c" : "05e3");
        write(root + QLatin1Char('/') + rel + QStringLiteral("/idProduct"), camera ? "037a" : "0610");
    }
    const QString iface = QStringLiteral("%1-%2:1.0").arg(bus).arg(devpath);
    const QString nodeRel = rel + QLatin1Char('/') + iface + QStringLiteral("/video4linux/video0");
    QDir(root).mkpath(nodeRel);
    write(root + QLatin1Char('/') + nodeRel + QStringLiteral("/name"), "Chained");
    QFile::link(QStringLiteral("../../../") + iface, root + QLatin1Char('/') + nodeRel + QStringLiteral("/device"));
    V4l2Node node;
    node.name = QStringLiteral("video0");
    node.number = 0;
    node.sysfsDir = root + QLatin1Char('/') + nodeRel;
    node.devicePath = QStringLiteral("/dev/video0");
    return node;
}

} // namespace

TEST(SysfsCameras, LocationIdForHubChainsOfEveryDepth)
{
    // Bus 3, ports 4.2.7.1.15.3: one nibble per port, outermost first.
    const std::vector<unsigned> ports{4, 2, 7, 1, 15, 3};
    const std::uint32_t expected[] = {0x03400000, 0x03420000, 0x03427000, 0x03427100, 0x034271f0, 0x034271f3};
    for (size_t depth = 1; depth <= ports.size(); ++depth) {
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        const V4l2Node node = makeUsbCamera(root.path(), 3, {ports.begin(), ports.begin() + depth});
        const CameraIdentity id = identifyNode(root.path(), node);
        ASSERT_TRUE(id.usb) << "depth " << depth;
        ASSERT_TRUE(id.locationId.has_value()) << "depth " << depth;
        EXPECT_EQ(*id.locationId, expected[depth - 1]) << "depth " << depth;
        EXPECT_EQ(id.uniqueID, QString::asprintf("0x%08x090c037a", expected[depth - 1]));
        EXPECT_EQ(id.modelUniqueID, QStringLiteral("UVC Camera VendorID_2316 ProductID_890"));
        EXPECT_EQ(id.displayName, QStringLiteral("Chained"));
    }
}

TEST(SysfsCameras, ChainsALocationIdCannotExpressClaimNoLocation)
{
    struct Case {
        unsigned bus;
        std::vector<unsigned> ports;
        const char *uniqueId;
    };
    const Case cases[] = {
        {1, {1, 2, 3, 4, 5, 6, 7}, "usb:1-1.2.3.4.5.6.7:090c:037a"}, // seven ports deep
        {2, {16}, "usb:2-16:090c:037a"},                             // a port beyond one nibble
        {2, {3, 16, 1}, "usb:2-3.16.1:090c:037a"},
    };
    for (const Case &c : cases) {
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        const CameraIdentity id = identifyNode(root.path(), makeUsbCamera(root.path(), c.bus, c.ports));
        EXPECT_TRUE(id.usb);
        EXPECT_FALSE(id.locationId.has_value()) << c.uniqueId;
        // Still recognised by its model; the identifier does not begin with "0x", so it is
        // never read as (a cut-short, foreign) location.
        EXPECT_EQ(id.modelUniqueID, QStringLiteral("UVC Camera VendorID_2316 ProductID_890"));
        EXPECT_EQ(id.uniqueID, QLatin1String(c.uniqueId));
    }
}

TEST(SysfsCameras, ProbeAsksOnlyTheDeviceFileSysfsNames)
{
    // /dev/null is a character device, but not 81:0: a stale or foreign entry is not asked.
    V4l2Node node;
    node.name = QStringLiteral("video0");
    node.devicePath = QStringLiteral("/dev/null");
    node.devNumbers = QStringLiteral("81:0");
    QString error;
    EXPECT_FALSE(queryNodeCapabilities(node, &error).has_value());
    EXPECT_TRUE(error.contains(QStringLiteral("not the device"))) << error.toStdString();

    node.devicePath = kNoDev + QStringLiteral("/video0");
    error.clear();
    EXPECT_FALSE(queryNodeCapabilities(node, &error).has_value());
    EXPECT_FALSE(error.isEmpty());
}
