// Camera control through the fake USB host: the interface the search binds, what focus and
// setData put on the wire, and the one log line each failure costs.
#include "FakeUsbHost.h"
#include "UsbTestSupport.h"
#include "VemoViewController.h"

#include <gtest/gtest.h>

using namespace quillora::usb;
using namespace quillora::test;
using quillora::usb::fake::FakeUsbHost;

namespace {

constexpr std::uint32_t kCameraLocation = 0x01420000;
using Bytes = std::vector<std::uint8_t>;

struct CameraControl : ::testing::Test {
    std::shared_ptr<FakeUsbHost> host = std::make_shared<FakeUsbHost>();
    quillora::app::VemoViewController controller;
    std::shared_ptr<fake::FakeUsbDevice> camera;
    std::shared_ptr<fake::FakeUsbInterface> videoControl;

    // A camera as it enumerates (video control, then video streaming), found by the search.
    void SetUp() override
    {
        controller.setUsbHost(host);
        camera = host->addDevice(0x090C, 0x037A, "Quillora Camera", kCameraLocation);
        videoControl = camera->addInterface(0, kVideoInterfaceClass, kVideoControlSubClass);
        camera->addInterface(1, kVideoInterfaceClass, 0x02);
        controller.initCameraInterfaceWithLocationID(kCameraLocation);
    }
};

// Focus sends the three transfers in order, each once, opening the interface for the class request only.
TEST_F(CameraControl, FocusSendsTheThreeTransfersInOrderEachOnce)
{
    ASSERT_EQ(controller.interface, videoControl);
    EXPECT_EQ(videoControl->openCount(), 0) << "the search must not open the interface";
    LogCapture log;
    controller.focusClick(nullptr);

    const auto wire = host->wire();
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_EQ(wire[0].setup, kRegisterWrite8);
    EXPECT_EQ(wire[1].setup, kRegisterWrite3);
    EXPECT_EQ(wire[2].setup, kAutoFocusOn);
    EXPECT_EQ(wire[0].data, Bytes{});
    EXPECT_EQ(wire[1].data, Bytes{});
    EXPECT_EQ(wire[2].data, Bytes{0x01});
    EXPECT_EQ(wire[2].locationId, kCameraLocation);
    EXPECT_EQ(videoControl->openCount(), 1);
    EXPECT_FALSE(videoControl->isOpen()) << "given back after the request";
    EXPECT_TRUE(log.lines("*").isEmpty()) << log.lines("*").join('\n').toStdString();
}

// The search passes over devices it cannot read or that are not the camera, and binds the first
// video-control interface; a search that finds nothing forgets the previous one, silently.
TEST_F(CameraControl, SearchBindsTheCamerasFirstVideoControlAndWithoutOneFocusLogsOneLine)
{
    host->addDevice(0x1234, 0x5678, "Deep", 0)->setLocationResult(kUsbErrorOverflow); // reads as 0
    host->addDevice(0x090C, 0xB371, "No video", 0x01500000)->addInterface(0, 0x03, 0x01);
    LogCapture silent;
    for (const std::uint32_t nothingThere : {0x01430000u, 0u, 0x01500000u}) {
        controller.initCameraInterfaceWithLocationID(kCameraLocation);
        ASSERT_EQ(controller.interface, videoControl);
        controller.initCameraInterfaceWithLocationID(nothingThere);
        EXPECT_EQ(controller.interface, nullptr) << std::hex << nothingThere;
    }
    camera->setFindResult(kUsbErrorIo);
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    EXPECT_EQ(controller.interface, nullptr);
    EXPECT_TRUE(silent.lines().isEmpty()) << silent.lines().join('\n').toStdString();
    // Without an interface, focus and a bare request cost the one line each and send nothing.
    controller.focusClick(nullptr);
    EXPECT_FALSE(controller.sendControlRequest(DevRequest{}));
    EXPECT_EQ(silent.lines(), QStringList(2, "CameraControl Error: No interface to send request"));
    EXPECT_TRUE(host->wire().empty());

    host = std::make_shared<FakeUsbHost>();
    controller.setUsbHost(host);
    host->addBrokenEntry(kUsbErrorAccess);
    host->addDevice(0x046D, 0xC52B, "Receiver", 0x01300000)->addInterface(0, 0x03, 0x01);
    camera = host->addDevice(0x090C, 0x037A, "Quillora Camera", kCameraLocation);
    camera->addInterface(0, 0xFF, 0x01);
    videoControl = camera->addInterface(1, kVideoInterfaceClass, kVideoControlSubClass);
    camera->addInterface(2, kVideoInterfaceClass, kVideoControlSubClass);
    QLoggingCategory::setFilterRules(QStringLiteral("quillora.usb.info=true"));
    LogCapture log;
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    QLoggingCategory::setFilterRules(QString());
    EXPECT_EQ(controller.interface, videoControl);
    EXPECT_EQ(log.lines(), QStringList{"CameraControl Error: IOCreatePlugInInterfaceForService returned 0xfffffffd."});
    EXPECT_EQ(log.lines("quillora.usb"), QStringList{"control interface found at location 0x01420000"});
    EXPECT_TRUE(host->wire().empty()) << "the search sends nothing";
}

// The data stage is the value's first bytes, least significant first; selector and unit keep their low byte.
TEST_F(CameraControl, SetDataPutsTheValueAndAddressOnTheWire)
{
    struct Case {
        long long value;
        int length, selector, unit;
        SetupPacket setup;
        Bytes data;
    };
    const Case cases[] = {
        {1, 1, 8, 1, kAutoFocusOn, {0x01}},
        {-2, 4, 3, 2, {0x21, 0x01, 0x00, 0x03, 0x00, 0x02, 0x04, 0x00}, {0xFE, 0xFF, 0xFF, 0xFF}},
        {0x0807060504030201, 8, 1, 1, {0x21, 0x01, 0x00, 0x01, 0x00, 0x01, 0x08, 0x00}, {1, 2, 3, 4, 5, 6, 7, 8}},
        {0x55, 0, 1, 1, {0x21, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00}, {}},
        {1, 1, -1, 0x10001, {0x21, 0x01, 0x00, 0xFF, 0x00, 0x01, 0x01, 0x00}, {0x01}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " length " << c.length << " selector " << c.selector);
        const std::size_t before = host->wire().size();
        EXPECT_TRUE(controller.setData(c.value, c.length, c.selector, c.unit));
        const auto wire = host->wire();
        ASSERT_EQ(wire.size(), before + 1);
        EXPECT_EQ(wire.back().setup, c.setup);
        EXPECT_EQ(wire.back().data, c.data);
    }
    // A length beyond the value's 8 bytes is refused with one line each, unsent.
    const std::size_t sent = host->wire().size();
    LogCapture log;
    EXPECT_FALSE(controller.setData(1, 9, 8, 1));
    EXPECT_FALSE(controller.setData(1, -1, 8, 1));
    EXPECT_EQ(host->wire().size(), sent);
    EXPECT_EQ(videoControl->openCount(), int(std::size(cases)));
    ASSERT_EQ(log.lines().size(), 2);
    EXPECT_TRUE(log.lines()[0].startsWith("CameraControl Error: Data length 9 ")) << log.lines()[0].toStdString();
}

// Each failure of the focus sequence costs its one line, and the interface is never left open.
TEST_F(CameraControl, FocusFailuresCostOneLineEach)
{
    struct Case {
        const char *what;
        std::function<void(CameraControl &)> fault;
        std::vector<SetupPacket> wire;
        QString line;
    };
    const std::vector<SetupPacket> all{kRegisterWrite8, kRegisterWrite3, kAutoFocusOn};
    const Case cases[] = {
        {"open refused", [](auto &t) { t.videoControl->setOpenResult(kUsbErrorBusy); },
            {kRegisterWrite8, kRegisterWrite3}, "CameraControl Error: Unable to open interface (fffffffa)"},
        {"stall", [](auto &t) { t.videoControl->setControlResult(kUsbErrorPipe); }, all,
            "CameraControl Error: Control request failed: fffffff7"},
        {"unplugged after the search", [](auto &t) { t.camera->unplug(); }, {},
            "CameraControl Error: Unable to open interface (fffffffc)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        host = std::make_shared<FakeUsbHost>();
        SetUp();
        c.fault(*this);
        LogCapture log;
        controller.focusClick(nullptr);
        controller.focusClick(nullptr);
        std::vector<SetupPacket> setups;
        for (const auto &transfer : host->wire())
            setups.push_back(transfer.setup);
        std::vector<SetupPacket> twice = c.wire;
        twice.insert(twice.end(), c.wire.begin(), c.wire.end());
        EXPECT_EQ(setups, twice);
        EXPECT_EQ(log.lines(), QStringList(2, c.line));
        EXPECT_FALSE(videoControl->isOpen());
    }
}

} // namespace
