// SPDX-License-Identifier: GPL-3.0-or-later
// The libusb host against an emulated camera (EmulatedCamera.h; fails at once without umockdev-wrapper).
#include "EmulatedCamera.h"
#include "CameraOnPort42.h"
#include "LibusbHost.h"
#include "LogSpy.h"
#include "UsbTestSupport.h"
#include "VemoViewController.h"
#include "VemoViewControllerTestAccess.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace quillora::usb;
using quillora::test::LogSpy;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint32_t kCameraLocation = quillora::test::kCameraLocation;

class EmulatedCamera : public ::testing::Test {
protected:
    quillora::test::EmulatedCameraBed bed;
    quillora::test::EmulatedWire &wire = bed.wire;
    std::shared_ptr<UsbHost> host = makeLibusbHost(LibusbHostOptions{});
    quillora::app::VemoViewController controller;

    void SetUp() override
    {
        ASSERT_EQ(bed.error(), "");
        ASSERT_TRUE(host);
        controller.setUsbHost(host);
    }
};

struct FocusCase {
    const char *road;
    int claimErrno;
    bool videoNode;
    std::vector<Bytes> urbs;
    std::vector<int> releases;
    std::size_t videoControls;
    QStringList lines;
};
const FocusCase kFocusCases[] = {
    {"usbfs", 0, true, quillora::test::focusUrbs(), {0}, 0, {}},
    {"videoDriver", EBUSY, true, quillora::test::focusUrbs(false), {}, 1, {}},
    {"none", EBUSY, false, quillora::test::focusUrbs(false), {}, 0,
        {"CameraControl Error: Unable to open interface (fffffffa)"}},
};
struct FocusRoad : EmulatedCamera, ::testing::WithParamInterface<FocusCase> { };

// Focus goes through usbfs byte for byte, through the video driver when it holds the interface, else costs one line.
TEST_P(FocusRoad, FocusTakesTheRoadThatIsOpen)
{
    const FocusCase &c = GetParam();
    wire.claimErrno = c.claimErrno;
    if (!c.videoNode)
        bed.removeVideoNode();
    LogSpy log;
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    controller.focusClick(nullptr);
    EXPECT_EQ(log.lines("default"), c.lines);
    std::lock_guard lock(wire.mutex);
    EXPECT_EQ(wire.controlUrbs, c.urbs);
    EXPECT_EQ(wire.claims, std::vector<int>{0});
    EXPECT_EQ(wire.releases, c.releases);
    ASSERT_EQ(wire.videoControls.size(), c.videoControls);
    for (const auto &control : wire.videoControls)
        EXPECT_TRUE(control.id == V4L2_CID_FOCUS_AUTO && control.value == 1);
}
INSTANTIATE_TEST_SUITE_P(EmulatedCamera, FocusRoad, ::testing::ValuesIn(kFocusCases),
    [](const ::testing::TestParamInfo<FocusCase> &p) { return std::string(p.param.road); });

// A permission failure is logged once, with the fix; the video driver still takes SET_CUR. Needs a
// process that file modes apply to: an ordinary user, or root without its capabilities (ctest
// runs it so through setpriv).
TEST_F(EmulatedCamera, APermissionFailureIsLoggedOnceWithTheFix)
{
    bed.denyCameraNode();
    ASSERT_FALSE(bed.cameraNodeOpens()) << "run as an ordinary user or without capabilities";
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    ASSERT_TRUE(testAccess(controller).interface()) << "finding the camera needs no access to its node";
    LogSpy log;
    controller.focusClick(nullptr);
    controller.focusClick(nullptr);
    const QStringList hints = log.lines("quillora.usb").filter("no permission");
    ASSERT_EQ(hints.size(), 1) << hints.join('\n').toStdString();
    EXPECT_TRUE(hints[0].contains("/dev/bus/usb/001/003") && hints[0].contains("70-quillora.rules"))
        << hints[0].toStdString();
    EXPECT_TRUE(log.lines("default").isEmpty()) << log.lines().join('\n').toStdString();
    std::lock_guard lock(wire.mutex);
    EXPECT_TRUE(wire.controlUrbs.empty());
    EXPECT_EQ(wire.videoControls.size(), 2u);
}

} // namespace
