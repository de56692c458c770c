// SPDX-License-Identifier: GPL-3.0-or-later
// Camera control through the fake USB host: the interface the search binds and what focus puts on the wire.
#include "FakeUsbHost.h"
#include "LogSpy.h"
#include "UsbTestSupport.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"

#include <gtest/gtest.h>

using namespace quillora::usb;
using namespace quillora::test;
using quillora::usb::fake::FakeUsbHost;

namespace {

constexpr std::uint32_t kCameraLocation = 0x01420000;

// Among several cameras, focus goes to the one at the location asked for: three transfers in order, each
// once, the interface opened for them and given back.
TEST(Focus, SendsTheThreeTransfersToTheCameraAtTheLocationOnly)
{
    auto host = std::make_shared<FakeUsbHost>();
    quillora::app::VemoViewController controller;
    controller.setUsbHost(host);
    host->addDevice(0x090C, 0x037A, "Other", 0x01430000)->addInterface(0, kVideoInterfaceClass, kVideoControlSubClass);
    auto camera = host->addDevice(0x090C, 0x037A, "Quillora Camera", kCameraLocation);
    camera->addInterface(0, 0xFF, 0x01);
    auto videoControl = camera->addInterface(1, kVideoInterfaceClass, kVideoControlSubClass);
    camera->addInterface(2, kVideoInterfaceClass, kVideoControlSubClass);
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    ASSERT_EQ(testAccess(controller).interface(), videoControl);
    EXPECT_EQ(videoControl->openCount(), 0) << "the search must not open the interface";

    LogSpy log;
    controller.focusClick(nullptr);
    const auto wire = host->wire();
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_EQ(wire[0].setup, kRegisterWrite8);
    EXPECT_EQ(wire[1].setup, kRegisterWrite3);
    EXPECT_EQ(wire[2].setup, kAutoFocusOn);
    EXPECT_TRUE(wire[0].data.empty() && wire[1].data.empty());
    EXPECT_EQ(wire[2].data, std::vector<std::uint8_t>{0x01});
    for (const auto &transfer : wire)
        EXPECT_EQ(transfer.locationId, kCameraLocation);
    EXPECT_EQ(videoControl->openCount(), 1);
    EXPECT_FALSE(videoControl->isOpen());
    EXPECT_TRUE(log.lines("default").isEmpty()) << log.lines().join('\n').toStdString();

    controller.initCameraInterfaceWithLocationID(0x01500000);
    EXPECT_EQ(testAccess(controller).interface(), nullptr) << "a search that finds nothing forgets the previous camera";
}

} // namespace
