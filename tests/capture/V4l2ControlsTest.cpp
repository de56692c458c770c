// SPDX-License-Identifier: GPL-3.0-or-later
// A camera's controls through the kernel's interface, against an emulated video node (runs under
// umockdev-wrapper): the real enumeration, menu queries, reads and writes reach a driver that
// answers as uvcvideo does (EmulatedControlNode.h).
#include "V4l2Controls.h"
#include "CameraControls.h"
#include "ControlsText.h"
#include "EmulatedControlNode.h"
#include "EmulatedMachine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

using namespace quillora;
using capture::ControlWriteStatus;
using test::EmulatedControlNode;
using ::testing::ElementsAre;

namespace {

constexpr std::uint32_t kBrightness = 0x00980900, kAutoWhiteBalance = 0x0098090c, kTemperature = 0x0098091a,
                        kAutoExposure = 0x009a0901, kExposure = 0x009a0902, kPanReset = 0x009a0906;

class EmulatedNode : public ::testing::Test {
protected:
    test::EmulatedMachine machine;
    std::string devnode;
    std::unique_ptr<EmulatedControlNode> driver;

    void SetUp() override { ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper"; }
    void TearDown() override { driver.reset(); }
    // A video node with a driver offering `controls`; a new node number for every node, since
    // umockdev does not make a device file twice under one name.
    std::unique_ptr<capture::V4l2Controls> open(
        std::vector<EmulatedControlNode::Control> controls = EmulatedControlNode::documentCamera(),
        bool extendedQuery = true)
    {
        static int number = 0;
        const std::string n = std::to_string(number++);
        devnode = "/dev/video" + n;
        const std::string node = "P: /devices/virtual/video4linux/video" + n + "\nN: video" + n
            + "\nE: SUBSYSTEM=video4linux\nE: DEVNAME=" + devnode + "\nA: dev=81:" + n + "\n";
        EXPECT_TRUE(machine.add(node));
        driver = std::make_unique<EmulatedControlNode>(machine.testbed(), devnode, std::move(controls), extendedQuery);
        QString error;
        auto opened = capture::V4l2Controls::open(QString::fromStdString(devnode), &error);
        EXPECT_TRUE(opened) << error.toStdString();
        return opened;
    }
    static std::vector<std::string> listed(capture::CameraControls &controls)
    {
        QString error;
        const auto list = controls.list(&error);
        EXPECT_EQ(error, QString());
        return test::controlLines(list);
    }
};

const std::vector<std::string> kDocumentCamera = {
    "User Controls/Brightness int -64..64 step 1 default 0 = 0",
    "User Controls/Contrast int 0..95 step 1 default 32 = 32",
    "User Controls/White Balance, Automatic bool default 1 = 1",
    "User Controls/Power Line Frequency menu 0:Disabled 1:50 Hz 2:60 Hz default 1 = 1",
    "User Controls/White Balance Temperature int 2800..6500 step 10 default 4600 = 4600 inactive",
    "Camera Controls/Auto Exposure menu 1:Manual Mode 3:Aperture Priority Mode default 3 = 3",
    "Camera Controls/Exposure Time, Absolute int 3..2047 step 1 default 250 = 250 inactive",
    "Camera Controls/Pan, Reset button",
    "Camera Controls/Focus, Absolute int 0..250 step 5 default 0 = 0 inactive",
    "Camera Controls/Focus, Automatic Continuous bool default 1 = 1",
    "Camera Controls/Zoom Preset intmenu 0:100 2:400 default 0 = 0",
};

// Every type a panel shows, in the driver's order and grouped by its class controls; menus list only
// the entries the driver names (1 and 3 of 0..3); read-only, disabled and 64-bit controls are left
// out; automatic modes make their numbers inactive. A driver older than the extended query is
// listed the same through the plain one.
TEST_F(EmulatedNode, ListsWhatTheDriverOffersAsItGroupsIt)
{
    auto controls = open();
    ASSERT_TRUE(controls);
    EXPECT_EQ(listed(*controls), kDocumentCamera);

    auto older = open(EmulatedControlNode::documentCamera(), false);
    ASSERT_TRUE(older);
    EXPECT_EQ(listed(*older), kDocumentCamera);
}

// A write reaches the driver and the next reading shows its effect on the others: automatic white
// balance off makes the temperature active, manual exposure the exposure time. A button is pressed.
TEST_F(EmulatedNode, WritesTakeEffectAndInactiveFlagsFollow)
{
    auto controls = open();
    ASSERT_TRUE(controls);
    EXPECT_EQ(controls->write(kAutoWhiteBalance, 0).status, ControlWriteStatus::Written);
    EXPECT_EQ(controls->write(kTemperature, 3200).status, ControlWriteStatus::Written);
    EXPECT_EQ(controls->write(kAutoExposure, 1).status, ControlWriteStatus::Written);
    EXPECT_EQ(controls->write(kExposure, 900).status, ControlWriteStatus::Written);
    EXPECT_EQ(controls->write(kPanReset, 1).status, ControlWriteStatus::Written);
    const auto now = listed(*controls);
    EXPECT_EQ(now[2], "User Controls/White Balance, Automatic bool default 1 = 0");
    EXPECT_EQ(now[4], "User Controls/White Balance Temperature int 2800..6500 step 10 default 4600 = 3200");
    EXPECT_EQ(now[6], "Camera Controls/Exposure Time, Absolute int 3..2047 step 1 default 250 = 900");
    EXPECT_THAT(driver->writes(),
        ElementsAre(std::pair(kAutoWhiteBalance, 0), std::pair(kTemperature, 3200), std::pair(kAutoExposure, 1),
            std::pair(kExposure, 900), std::pair(kPanReset, 1)));
}

// What a driver refuses (busy, a failed transfer, an inactive control, a menu entry it does not
// have) comes back refused with its reason, and the control keeps the driver's value. A camera
// pulled out is gone, for writes and readings alike.
TEST_F(EmulatedNode, RefusalsLeaveTheDriversValueAndAGoneCameraIsGone)
{
    auto controls = open();
    ASSERT_TRUE(controls);
    driver->refuse(kBrightness, EBUSY);
    const auto busy = controls->write(kBrightness, 30);
    EXPECT_EQ(busy.status, ControlWriteStatus::Refused);
    EXPECT_EQ(busy.reason, QString::fromLocal8Bit(std::strerror(EBUSY)));
    driver->refuse(kBrightness, EIO);
    EXPECT_EQ(controls->write(kBrightness, 31).status, ControlWriteStatus::Refused);
    EXPECT_EQ(controls->write(kTemperature, 3000).reason, QString::fromLocal8Bit(std::strerror(EACCES)));
    EXPECT_EQ(controls->write(kAutoExposure, 2).reason, QString::fromLocal8Bit(std::strerror(EINVAL)));
    EXPECT_EQ(listed(*controls), kDocumentCamera);

    driver->unplug();
    EXPECT_EQ(controls->write(kBrightness, 10).status, ControlWriteStatus::Gone);
    QString error;
    EXPECT_TRUE(controls->list(&error).empty());
    EXPECT_THAT(error.toStdString(), ::testing::HasSubstr(devnode));
}

// Stored values go to the camera switches first (manual exposure before its exposure time), each
// as the nearest value it takes now; a control it does not offer is passed over, a number whose
// automatic mode stays on is left alone, a refusal does not stop the rest.
TEST_F(EmulatedNode, StoredValuesAreWrittenSwitchesFirstAndClamped)
{
    auto controls = open();
    ASSERT_TRUE(controls);
    driver->refuse(0x00980901, EIO);
    const auto applied = capture::applyControlValues(*controls,
        {{kBrightness, 40}, {0x00980901, 20}, {kTemperature, 3000}, {kAutoExposure, 1}, {kExposure, 5000},
            {0x00980918, 7}, {0x12345678, 3}},
        QStringLiteral("Desk"));
    EXPECT_THAT(driver->writes(),
        ElementsAre(std::pair(0x00980918u, 2), std::pair(kAutoExposure, 1), std::pair(kBrightness, 40),
            std::pair(0x00980901u, 20), std::pair(kExposure, 2047)));
    EXPECT_EQ(applied.written, 4);
    EXPECT_EQ(applied.clamped, 2);
    EXPECT_EQ(applied.refused, 1);
    EXPECT_EQ(applied.notOffered, 1);
    EXPECT_FALSE(applied.gone);
    EXPECT_EQ(driver->value(kTemperature), 4600);
}

} // namespace
