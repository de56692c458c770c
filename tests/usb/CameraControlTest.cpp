// The controller's camera control through a fake USB host: which device and interface the
// search binds to, what the focus button puts on the wire, and the one log line each failure
// costs.
#include "FakeUsbHost.h"
#include "UsbTestSupport.h"
#include "VemoViewController.h"

#include <gtest/gtest.h>

#include <QLoggingCategory>

using quillora::app::VemoViewController;
using namespace quillora::usb;
using namespace quillora::usb::fake;
using quillora::test::LogCapture;

namespace {

constexpr std::uint32_t kCameraLocation = 0x01420000;

struct CameraControl : ::testing::Test {
    std::shared_ptr<FakeUsbHost> host = std::make_shared<FakeUsbHost>();
    VemoViewController controller;
    std::shared_ptr<FakeUsbDevice> camera;
    std::shared_ptr<FakeUsbInterface> videoControl;

    void SetUp() override { controller.setUsbHost(host); }

    // A camera as it enumerates: video control, then video streaming.
    void attachCamera(std::uint32_t location = kCameraLocation)
    {
        camera = host->addDevice(0x090C, 0x037A, "Quillora Camera", location);
        videoControl = camera->addInterface(0, kVideoInterfaceClass, kVideoControlSubClass);
        camera->addInterface(1, kVideoInterfaceClass, 0x02);
    }

    std::vector<std::array<std::uint8_t, 8>> setups() const
    {
        std::vector<std::array<std::uint8_t, 8>> result;
        for (const auto &transfer : host->wire())
            result.push_back(transfer.setup);
        return result;
    }
};

TEST_F(CameraControl, FocusSendsTheThreeTransfersInOrderEachOnce)
{
    attachCamera();
    LogCapture log;
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    ASSERT_EQ(controller.interface, videoControl);
    EXPECT_FALSE(videoControl->isOpen()) << "the search must not open the interface";
    EXPECT_EQ(videoControl->openCount(), 0);

    controller.focusClick(nullptr);

    const auto wire = host->wire();
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_EQ(wire[0].setup, quillora::test::kRegisterWrite8);
    EXPECT_TRUE(wire[0].data.empty());
    EXPECT_EQ(wire[1].setup, quillora::test::kRegisterWrite3);
    EXPECT_TRUE(wire[1].data.empty());
    EXPECT_EQ(wire[2].setup, quillora::test::kAutoFocusOn);
    EXPECT_EQ(wire[2].data, std::vector<std::uint8_t>{0x01});
    for (const auto &transfer : wire)
        EXPECT_EQ(transfer.locationId, kCameraLocation);
    // Opened for the class request only, and given back.
    EXPECT_EQ(videoControl->openCount(), 1);
    EXPECT_EQ(videoControl->closeCount(), 1);
    EXPECT_FALSE(videoControl->isOpen());
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
}

TEST_F(CameraControl, SearchSkipsOtherDevicesAndUsesTheFirstVideoControlInterface)
{
    host->addBrokenEntry(kUsbErrorAccess);
    host->addDevice(0x046D, 0xC52B, "Receiver", 0x01300000)->addInterface(0, 0x03, 0x01);
    // A location that cannot be formed reads as 0 and matches nothing.
    host->addDevice(0x1234, 0x5678, "Deep", 0)->setLocationResult(kUsbErrorOverflow);
    camera = host->addDevice(0x090C, 0x037A, "Quillora Camera", kCameraLocation);
    camera->addInterface(0, 0xFF, 0x01); // vendor-specific first: not a video interface
    videoControl = camera->addInterface(1, kVideoInterfaceClass, kVideoControlSubClass);
    auto secondVideoControl = camera->addInterface(2, kVideoInterfaceClass, kVideoControlSubClass);

    QLoggingCategory::setFilterRules(QStringLiteral("quillora.usb.info=true"));
    LogCapture log;
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    QLoggingCategory::setFilterRules(QString());

    EXPECT_EQ(controller.interface, videoControl);
    EXPECT_EQ(log.lines(), QStringList{"CameraControl Error: IOCreatePlugInInterfaceForService returned 0xfffffffd."});
    EXPECT_EQ(log.lines("quillora.usb"), QStringList{"control interface found at location 0x01420000"});
    EXPECT_TRUE(host->wire().empty()) << "the search sends nothing";
}

TEST_F(CameraControl, NoMatchingInterfaceLeavesItNullAndSilent)
{
    attachCamera();
    LogCapture log;

    controller.initCameraInterfaceWithLocationID(0x01430000); // nothing there
    EXPECT_EQ(controller.interface, nullptr);

    // A camera whose location is unknown (0) is not matched with a device whose location
    // could not be read.
    host->addDevice(0x1234, 0x5678, "Deep", 0)->setLocationResult(kUsbErrorOverflow);
    controller.initCameraInterfaceWithLocationID(0);
    EXPECT_EQ(controller.interface, nullptr);

    // The device is there but its configuration cannot be read / has no video control.
    auto bare = host->addDevice(0x090C, 0xB371, "No video", 0x01500000);
    bare->addInterface(0, 0x03, 0x01);
    controller.initCameraInterfaceWithLocationID(0x01500000);
    EXPECT_EQ(controller.interface, nullptr);
    camera->setFindResult(kUsbErrorIo);
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    EXPECT_EQ(controller.interface, nullptr);

    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
}

TEST_F(CameraControl, SearchAgainForgetsThePreviousInterface)
{
    attachCamera();
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    ASSERT_EQ(controller.interface, videoControl);
    controller.initCameraInterfaceWithLocationID(0x01430000);
    EXPECT_EQ(controller.interface, nullptr);
}

TEST_F(CameraControl, WithoutAnInterfaceFocusLogsOneLineAndSendsNothing)
{
    host->addDevice(0x046D, 0xC52B, "Receiver", 0x01300000)->addInterface(0, 0x03, 0x01);
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    ASSERT_EQ(controller.interface, nullptr);

    LogCapture log;
    controller.focusClick(nullptr);
    EXPECT_EQ(log.lines(), QStringList{"CameraControl Error: No interface to send request"});
    EXPECT_TRUE(host->wire().empty());

    LogCapture direct;
    EXPECT_FALSE(controller.sendControlRequest(DevRequest{}));
    EXPECT_EQ(direct.lines(), QStringList{"CameraControl Error: No interface to send request"});
}

TEST_F(CameraControl, DataStageIsTheValueLeastSignificantByteFirst)
{
    attachCamera();
    controller.initCameraInterfaceWithLocationID(kCameraLocation);

    EXPECT_TRUE(controller.setData(1, 1, 8, 1));
    EXPECT_TRUE(controller.setData(0x0102, 2, 8, 1));
    EXPECT_TRUE(controller.setData(-2, 4, 3, 2));
    EXPECT_TRUE(controller.setData(0x0807060504030201, 8, 1, 1));
    EXPECT_TRUE(controller.setData(0x55, 0, 1, 1));

    const auto wire = host->wire();
    ASSERT_EQ(wire.size(), 5u);
    EXPECT_EQ(wire[0].setup, quillora::test::kAutoFocusOn);
    EXPECT_EQ(wire[0].data, (std::vector<std::uint8_t>{0x01}));
    EXPECT_EQ(wire[1].setup, (std::array<std::uint8_t, 8>{0x21, 0x01, 0x00, 0x08, 0x00, 0x01, 0x02, 0x00}));
    EXPECT_EQ(wire[1].data, (std::vector<std::uint8_t>{0x02, 0x01}));
    EXPECT_EQ(wire[2].data, (std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(wire[3].data, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(wire[4].setup[6], 0);
    EXPECT_TRUE(wire[4].data.empty());
}

TEST_F(CameraControl, SelectorAndUnitAbove255LoseTheirHighBits)
{
    attachCamera();
    controller.initCameraInterfaceWithLocationID(kCameraLocation);

    EXPECT_TRUE(controller.setData(1, 1, 0x1FF, 0x302));
    EXPECT_TRUE(controller.setData(1, 1, -1, 0x10001));

    const auto wire = host->wire();
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(wire[0].setup, (std::array<std::uint8_t, 8>{0x21, 0x01, 0x00, 0xFF, 0x00, 0x02, 0x01, 0x00}));
    EXPECT_EQ(wire[1].setup, (std::array<std::uint8_t, 8>{0x21, 0x01, 0x00, 0xFF, 0x00, 0x01, 0x01, 0x00}));
}

TEST_F(CameraControl, DataLengthBeyondTheValueIsRefusedWithOneLine)
{
    attachCamera();
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    LogCapture log;

    EXPECT_FALSE(controller.setData(1, 9, 8, 1));
    EXPECT_FALSE(controller.setData(1, -1, 8, 1));

    EXPECT_TRUE(host->wire().empty());
    EXPECT_EQ(videoControl->openCount(), 0);
    ASSERT_EQ(log.lines().size(), 2);
    EXPECT_TRUE(log.lines()[0].startsWith("CameraControl Error: Data length 9 ")) << log.lines()[0].toStdString();
}

TEST_F(CameraControl, OpenFailureSkipsTheClassRequestWithOneLine)
{
    attachCamera();
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    videoControl->setOpenResult(kUsbErrorBusy);
    LogCapture log;

    controller.focusClick(nullptr);

    // Register writes need no open and still go out; the class request does not.
    EXPECT_EQ(setups(), (std::vector{quillora::test::kRegisterWrite8, quillora::test::kRegisterWrite3}));
    EXPECT_EQ(log.lines(), QStringList{"CameraControl Error: Unable to open interface (fffffffa)"});
}

TEST_F(CameraControl, ControlFailuresAreLoggedWithTheResultAndTheInterfaceIsClosed)
{
    attachCamera();
    controller.initCameraInterfaceWithLocationID(kCameraLocation);

    struct Case {
        UsbResult result;
        const char *line;
    };
    for (const Case &c : {Case{kUsbErrorPipe, "CameraControl Error: Control request failed: fffffff7"},
             Case{kUsbErrorTimeout, "CameraControl Error: Control request failed: fffffff9"},
             Case{kUsbErrorIo, "CameraControl Error: Control request failed: ffffffff"}}) {
        SCOPED_TRACE(c.line);
        videoControl->setControlResult(c.result);
        host->clearWire();
        LogCapture log;
        controller.focusClick(nullptr);
        // Register write failures are silent; only the class request's is logged.
        EXPECT_EQ(log.lines(), QStringList{QString::fromUtf8(c.line)});
        EXPECT_EQ(host->wire().size(), 3u);
        EXPECT_FALSE(videoControl->isOpen());
        EXPECT_EQ(videoControl->openCount(), videoControl->closeCount());
    }
}

TEST_F(CameraControl, CameraUnpluggedAfterTheSearchCostsOneLine)
{
    attachCamera();
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    camera->unplug();
    LogCapture log;

    controller.focusClick(nullptr);
    controller.focusClick(nullptr);

    EXPECT_TRUE(host->wire().empty());
    EXPECT_EQ(log.lines(),
        (QStringList{"CameraControl Error: Unable to open interface (fffffffc)",
            "CameraControl Error: Unable to open interface (fffffffc)"}));
}

} // namespace
