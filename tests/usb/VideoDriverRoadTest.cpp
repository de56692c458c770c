// The road through the kernel's video driver: which entity a class request addresses (from the
// camera's own descriptors), what reaches the driver, and finding the camera's video node by
// its location ID in a sysfs tree.
#include "VideoDriverRoad.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <vector>

using namespace quillora::usb;

namespace {

// The class-specific part of a video-control interface: header, camera terminal 1, processing
// unit 2, extension unit 3, output terminal 4.
const std::vector<std::uint8_t> kVideoControlDescriptors
    = {0x0D, 0x24, 0x01, 0x00, 0x01, 0x4D, 0x00, 0x80, 0x8D, 0x5B, 0x00, 0x01, 0x01,                    // header
        0x12, 0x24, 0x02, 0x01, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, // camera
        0x00, 0x02,                                                                                     // terminal
        0x0B, 0x24, 0x05, 0x02, 0x01, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, // processing unit
        0x1A, 0x24, 0x06, 0x03, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
        0x0F, 0x10, 0x01, 0x01, 0x02, 0x01, 0x03, 0x00,        // extension unit
        0x09, 0x24, 0x03, 0x04, 0x01, 0x01, 0x00, 0x03, 0x00}; // output terminal

struct RecordingDriver : VideoDriverControl {
    std::vector<bool> autoFocus;
    struct Query {
        std::uint8_t unit, selector;
        std::vector<std::uint8_t> data;
    };
    std::vector<Query> queries;
    UsbResult result = kUsbSuccess;

    UsbResult setAutoFocus(bool on) override
    {
        autoFocus.push_back(on);
        return result;
    }
    UsbResult setExtensionUnitControl(
        std::uint8_t unit, std::uint8_t selector, std::span<const std::uint8_t> data) override
    {
        queries.push_back({unit, selector, {data.begin(), data.end()}});
        return result;
    }
};

DevRequest setCur(std::uint8_t selector, std::uint8_t entity, std::vector<std::uint8_t> &data)
{
    DevRequest request;
    request.bmRequestType = 0x21;
    request.bRequest = 0x01;
    request.wValue = std::uint16_t(selector << 8);
    request.wIndex = std::uint16_t(entity << 8);
    request.wLength = std::uint16_t(data.size());
    request.pData = data.data();
    return request;
}

TEST(VideoDriverRoad, EntitiesComeFromTheClassSpecificDescriptors)
{
    const UvcEntities entities = parseUvcEntities(kVideoControlDescriptors);
    EXPECT_EQ(entities,
        (UvcEntities{{1, UvcEntityKind::CameraTerminal}, {2, UvcEntityKind::ProcessingUnit},
            {3, UvcEntityKind::ExtensionUnit}, {4, UvcEntityKind::OtherTerminal}}));

    // A descriptor that claims more bytes than there are ends the parse; nothing is read
    // beyond the buffer, and what came before stays.
    std::vector<std::uint8_t> truncated(kVideoControlDescriptors.begin(), kVideoControlDescriptors.begin() + 31 + 5);
    truncated[31] = 0x40;
    EXPECT_EQ(parseUvcEntities(truncated), (UvcEntities{{1, UvcEntityKind::CameraTerminal}}));
    // A zero length would loop for ever if taken at its word.
    EXPECT_TRUE(parseUvcEntities(std::vector<std::uint8_t>{0x00, 0x24, 0x02, 0x01}).empty());
    EXPECT_TRUE(parseUvcEntities({}).empty());
}

TEST(VideoDriverRoad, SetCurReachesTheDriverControlThatSendsIt)
{
    const UvcEntities entities = parseUvcEntities(kVideoControlDescriptors);
    RecordingDriver driver;

    std::vector<std::uint8_t> on{0x01};
    DevRequest focus = setCur(8, 1, on);
    EXPECT_EQ(sendThroughVideoDriver(driver, entities, focus), kUsbSuccess);
    EXPECT_EQ(focus.wLenDone, 1u);
    std::vector<std::uint8_t> off{0x00};
    DevRequest focusOff = setCur(8, 1, off);
    EXPECT_EQ(sendThroughVideoDriver(driver, entities, focusOff), kUsbSuccess);
    EXPECT_EQ(driver.autoFocus, (std::vector<bool>{true, false}));

    std::vector<std::uint8_t> bytes{0xAA, 0xBB};
    DevRequest extension = setCur(2, 3, bytes);
    EXPECT_EQ(sendThroughVideoDriver(driver, entities, extension), kUsbSuccess);
    ASSERT_EQ(driver.queries.size(), 1u);
    EXPECT_EQ(driver.queries[0].unit, 3);
    EXPECT_EQ(driver.queries[0].selector, 2);
    EXPECT_EQ(driver.queries[0].data, bytes);

    driver.result = kUsbErrorPipe;
    DevRequest stalled = setCur(8, 1, on);
    EXPECT_EQ(sendThroughVideoDriver(driver, entities, stalled), kUsbErrorPipe);
    EXPECT_EQ(stalled.wLenDone, 0u);
}

TEST(VideoDriverRoad, RequestsWithoutARoadAreRefusedUnsent)
{
    const UvcEntities entities = parseUvcEntities(kVideoControlDescriptors);
    RecordingDriver driver;
    std::vector<std::uint8_t> one{0x01};

    DevRequest otherCameraControl = setCur(4, 1, one); // not auto-focus
    DevRequest processingUnit = setCur(2, 2, one);
    DevRequest unknownEntity = setCur(8, 9, one);
    DevRequest get = setCur(8, 1, one);
    get.bmRequestType = 0xA1;
    get.bRequest = 0x81;
    DevRequest vendor = setCur(8, 1, one);
    vendor.bmRequestType = 0x41;
    for (DevRequest *request : {&otherCameraControl, &processingUnit, &unknownEntity, &get, &vendor})
        EXPECT_EQ(sendThroughVideoDriver(driver, entities, *request), kUsbErrorNotSupported);

    std::vector<std::uint8_t> two{0x01, 0x00};
    DevRequest wideFocus = setCur(8, 1, two);
    EXPECT_EQ(sendThroughVideoDriver(driver, entities, wideFocus), kUsbErrorInvalidParam);

    EXPECT_TRUE(driver.autoFocus.empty());
    EXPECT_TRUE(driver.queries.empty());
}

// A sysfs tree with one camera at bus 1, ports 4.2, and its two nodes, and another camera.
struct SysfsTree : ::testing::Test {
    QTemporaryDir root;
    QString sys() const { return root.path() + "/sys"; }
    QString dev() const { return root.path() + "/dev"; }

    static void write(const QString &path, const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    void addNode(const QString &usbDevice, const QString &bus, const QString &devpath, const QString &node, int index)
    {
        const QString deviceDir = sys() + "/devices/pci0000:00/" + usbDevice;
        write(deviceDir + "/busnum", bus.toUtf8() + "\n");
        write(deviceDir + "/devpath", devpath.toUtf8() + "\n");
        const QString nodeDir = deviceDir + "/" + usbDevice + ":1.0/video4linux/" + node;
        write(nodeDir + "/index", QByteArray::number(index) + "\n");
        // Like the kernel's: the node's device is the USB interface.
        ASSERT_TRUE(QFile::link("../..", nodeDir + "/device"));
        QDir().mkpath(sys() + "/class/video4linux");
        ASSERT_TRUE(QFile::link(nodeDir, sys() + "/class/video4linux/" + node));
        write(dev() + "/" + node, {});
    }
};

TEST_F(SysfsTree, TheVideoNodeIsFoundByTheLocationOfItsUsbDevice)
{
    addNode("1-3", "1", "3", "video0", 0);
    addNode("1-4.2", "1", "4.2", "video2", 1);
    addNode("1-4.2", "1", "4.2", "video3", 0);

    std::unique_ptr<VideoDriverControl> driver;
    EXPECT_EQ(openVideoDriverControl(0x01420000, driver, sys().toStdString(), dev().toStdString()), kUsbSuccess);
    ASSERT_TRUE(driver);
    // Not a V4L2 device here: the control's ioctl reaches the file and fails honestly.
    EXPECT_NE(driver->setAutoFocus(true), kUsbSuccess);

    std::unique_ptr<VideoDriverControl> none;
    EXPECT_EQ(openVideoDriverControl(0x01430000, none, sys().toStdString(), dev().toStdString()), kUsbErrorNotFound);
    EXPECT_FALSE(none);
    EXPECT_EQ(openVideoDriverControl(0x01420000, none, root.path().toStdString() + "/nothing", dev().toStdString()),
        kUsbErrorNotFound);
}

TEST_F(SysfsTree, ThePictureNodeIsPreferredAndAnUnopenableNodeIsPassedOver)
{
    addNode("1-4.2", "1", "4.2", "video2", 1);
    addNode("1-4.2", "1", "4.2", "video3", 0);
    // The picture node (index 0) cannot be opened: the metadata node is the only way left.
    QFile::remove(dev() + "/video3");
    std::unique_ptr<VideoDriverControl> driver;
    EXPECT_EQ(openVideoDriverControl(0x01420000, driver, sys().toStdString(), dev().toStdString()), kUsbSuccess);

    QFile::remove(dev() + "/video2");
    std::unique_ptr<VideoDriverControl> none;
    EXPECT_EQ(openVideoDriverControl(0x01420000, none, sys().toStdString(), dev().toStdString()), kUsbErrorNotFound);
}

} // namespace
