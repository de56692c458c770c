// SPDX-License-Identifier: GPL-3.0-or-later
// Picture controls without a camera: real cameras' `v4l2-ctl` control listings (read from the real
// devices' data), the values a control takes, and the virtual camera's controls and what they do
// to its page.
#include "CameraControls.h"
#include "CaptureDevice.h"
#include "ControlsText.h"
#include "Devices.h"
#include "TestSupport.h"
#include "VirtualCamera.h"
#include "VirtualControls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <climits>

using namespace quillora;
using capture::CameraControl;
using capture::ControlKind;
using capture::ControlWriteStatus;
using ::testing::Contains;

namespace {

struct Listing {
    const char *file;
    std::size_t controls;
    std::vector<std::string> lines; // among the controls read
};

void PrintTo(const Listing &listing, std::ostream *out)
{
    *out << listing.file;
}

class RealListing : public ::testing::TestWithParam<Listing> { };

// Each real camera's listing gives its controls, whatever v4l2-ctl and kernel printed it: class
// headers or none, old names or new, tabs or spaces, a mail's "> " quotes, flags printed by name
// or as a number. Compound, bit-mask, read-only controls and menus without entries are left out;
// a menu lists only the entries it names, whatever its current value. Written out, the controls
// read back the same.
TEST_P(RealListing, GivesTheCamerasControls)
{
    QUILLORA_REAL_DATA_OR_SKIP(path, QStringLiteral("camera-controls/") + GetParam().file);
    const auto controls = capture::readControlListing(path);
    ASSERT_TRUE(controls);
    const auto lines = test::controlLines(*controls);
    EXPECT_EQ(controls->size(), GetParam().controls) << ::testing::PrintToString(lines);
    for (const std::string &line : GetParam().lines)
        EXPECT_THAT(lines, Contains(line));
    EXPECT_EQ(capture::parseControlListing(capture::formatControlListing(*controls)), *controls);
}

const std::string kC270Exposure
    = "Camera Controls/Auto Exposure menu 1:Manual Mode 3:Aperture Priority Mode default 3 = 3";

INSTANTIATE_TEST_SUITE_P(CameraControls, RealListing,
    ::testing::Values(
        Listing{"logitech-c270.txt", 12,
            {"User Controls/Brightness int 0..255 step 1 default 128 = 128",
                "User Controls/Power Line Frequency menu 0:Disabled 1:50 Hz 2:60 Hz default 2 = 2",
                "User Controls/White Balance Temperature int 0..10000 step 10 default 4000 = 4000 inactive",
                kC270Exposure}},
        Listing{"microsoft-lifecam-hd-6000.txt", 15,
            {"0x00980001/White Balance, Automatic bool default 1 = 1",
                "0x009a0001/Auto Exposure menu 1:Manual Mode 3:Aperture Priority Mode default 1 = 3",
                "0x009a0001/Exposure Time, Absolute int 5..20000 step 1 default 156 = 156 inactive",
                "0x009a0001/Pan, Absolute int -201600..201600 step 3600 default 0 = -201600",
                "0x009a0001/Focus, Automatic Continuous bool default 0 = 0"}},
        Listing{"logitech-c922-email-quoted.txt", 19,
            {"User Controls/Brightness int 0..255 step 1 default 128 = 128",
                "Camera Controls/Led1 Mode menu 4: default 0 = 0",
                "Camera Controls/Led1 Frequency int 0..255 step 1 default 0 = 255"}},
        Listing{"logitech-c920.txt", 17,
            {"User Controls/White Balance Temperature int 2000..6500 step 1 default 4000 = 3222",
                "Camera Controls/Focus, Absolute int 0..250 step 5 default 0 = 0 inactive"}},
        Listing{"microdia-usb-live-camera-0c45-636b.txt", 18,
            {"0x009a0001/Iris, Absolute int 0..0 step 1 default 0 = 0",
                "0x009a0001/Exposure, Dynamic Framerate bool default 0 = 1"}},
        Listing{"sunplus-fhd-camera-1bcf-28c4.txt", 14,
            {"0x009a0001/Focus, Absolute int 0..1023 step 1 default 0 = 292 inactive"}},
        Listing{"sunplus-fhd-camera-1bcf-28c4-list-ctrls.txt", 12,
            {"0x009a0001/Focus, Absolute int 0..1023 step 1 default 0 = 300 inactive"}},
        Listing{"ipevo-ziggi-hd-plus-document-camera.txt", 12,
            {"User Controls/White Balance Temperature int 2200..7500 step 10 default 4600 = 3400",
                "Camera Controls/Focus, Absolute int 35..190 step 1 default 120 = 95 inactive"}},
        Listing{"emeet-smartcam-s800-4k.txt", 13,
            {"Camera Controls/Auto Exposure menu 1:Manual Mode 2:Shutter Priority Mode default 0 = 0",
                "Camera Controls/Zoom, Absolute int 100..400 step 1 default 100 = 125"}},
        Listing{"arducam-b0589-4k-hdr.txt", 6,
            {"Camera Controls/Auto Exposure menu 0:Auto Mode 1:Manual Mode default 0 = 0"}},
        Listing{"lenovo-thinkpad-x1-carbon-gen13-integrated-list-ctrls.txt", 11,
            {"User Controls/White Balance Temperature int 2800..6500 step 10 default 4600 = 4600 inactive",
                "User Controls/Hue int -180..180 step 1 default 0 = 0"}},
        Listing{"dell-latitude-7420-integrated-1bcf-2ba0-rgb-list-ctrls.txt", 12,
            {"User Controls/Brightness int -64..64 step 1 default 0 = 0",
                "Camera Controls/Exposure Time, Absolute int 10..626 step 1 default 156 = 156 inactive"}},
        Listing{"dell-latitude-7420-integrated-1bcf-2ba0-ir-list-ctrls.txt", 0, {}},
        Listing{"sony-ilce-7m4-webcam-mode-no-controls.txt", 0, {}}),
    [](const auto &param) {
        std::string name = param.param.file;
        name = name.substr(0, name.find('.'));
        std::erase_if(name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); });
        return name;
    });

// Every kind of line a listing may hold, among them those no real listing here has: a button, an
// integer menu, a 64-bit integer, a text, a grabbed control with a step of 0.
TEST(CameraControls, EveryKindOfLine)
{
    const auto controls = capture::readControlListing(
        test::testDataDir() + QStringLiteral("/fuzz/camera_controls/made-every-kind.txt"));
    ASSERT_TRUE(controls);
    EXPECT_EQ(test::controlLines(*controls),
        (std::vector<std::string>{"User Controls/Brightness int -64..64 step 1 default 0 = 12",
            "User Controls/White Balance, Automatic bool default 1 = 0",
            "User Controls/Power Line Frequency menu 0:Disabled 1:50 Hz 3:Auto default 1 = 3",
            "User Controls/White Balance Temperature int 2800..6500 step 10 default 4600 = 4600 inactive",
            "Camera Controls/Auto Exposure menu 1:Manual Mode 3:Aperture Priority Mode default 3 = 1",
            "Camera Controls/Exposure Time, Absolute int 3..2047 step 1 default 250 = 700",
            "Camera Controls/Pan, Reset button",
            "Camera Controls/Focus, Absolute int 0..250 step 1 default 0 = 0 inactive",
            "Camera Controls/Zoom Preset intmenu 0:100 2:400 default 0 = 2",
            "Camera Controls/Led1 Mode menu 4: default 0 = 0"}));
}

// Kernels renamed controls but kept their IDs: the older and the newer names are the same control.
TEST(CameraControls, OlderAndNewerNamesAreTheSameControl)
{
    const auto older = capture::parseControlListing(
        "                  exposure_auto 0x009a0901 (menu)   : min=0 max=3 default=3 value=3\n"
        "\t\t\t\t1: Manual Mode\n"
        " white_balance_temperature_auto 0x0098090c (bool)   : default=1 value=1\n"
        "                     focus_auto 0x009a090c (bool)   : default=0 value=1\n");
    const auto newer = capture::parseControlListing(
        "                  auto_exposure 0x009a0901 (menu)   : min=0 max=3 default=3 value=3 (Aperture Priority Mode)\n"
        "                                1: Manual Mode\n"
        "        white_balance_automatic 0x0098090c (bool)   : default=1 value=1\n"
        "     focus_automatic_continuous 0x009a090c (bool)   : default=0 value=1\n");
    EXPECT_EQ(older, newer);
    EXPECT_EQ(test::controlLines(older),
        (std::vector<std::string>{"0x009a0001/Auto Exposure menu 1:Manual Mode default 3 = 3",
            "0x00980001/White Balance, Automatic bool default 1 = 1",
            "0x009a0001/Focus, Automatic Continuous bool default 0 = 1"}));
}

// The value a control takes nearest to a wanted one: within its range, on its steps (the lower on a
// tie), a menu's named entries only, whatever the numbers.
TEST(CameraControls, NearestAllowedValue)
{
    CameraControl focus;
    focus.minimum = 0;
    focus.maximum = 250;
    focus.step = 5;
    CameraControl exposure;
    exposure.kind = ControlKind::Menu;
    exposure.minimum = 0;
    exposure.maximum = 3;
    exposure.menu = {{1, QStringLiteral("Manual Mode")}, {3, QStringLiteral("Aperture Priority Mode")}};
    CameraControl wide;
    wide.minimum = LLONG_MIN;
    wide.maximum = LLONG_MAX;
    wide.step = 3;
    const std::vector<std::pair<const CameraControl *, std::int64_t>> cases
        = {{&focus, 12}, {&focus, 13}, {&focus, -40}, {&focus, 251}, {&focus, 249}, {&exposure, 0}, {&exposure, 2},
            {&exposure, 99}, {&wide, LLONG_MAX}, {&wide, LLONG_MIN + 4}};
    std::vector<std::int64_t> got;
    for (const auto &[control, wanted] : cases)
        got.push_back(capture::nearestAllowedValue(*control, wanted).value_or(-1));
    EXPECT_EQ(got, (std::vector<std::int64_t>{10, 15, 0, 250, 250, 1, 1, 3, LLONG_MAX, LLONG_MIN + 3}));
    CameraControl empty = exposure;
    empty.menu.clear();
    CameraControl button;
    button.kind = ControlKind::Button;
    EXPECT_FALSE(capture::nearestAllowedValue(empty, 1));
    EXPECT_FALSE(capture::nearestAllowedValue(button, 1));
}

// The mean of a channel (0 blue, 1 green, 2 red) over a picture.
double channelMean(const QImage &image, int channel)
{
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += image.constScanLine(y)[x * 4 + channel];
    return sum / (image.width() * image.height());
}

// A picture of one colour as the camera shows it now: the paper, or mid grey.
QImage under(const QString &camera, QRgb colour = capture::kVirtualPaper)
{
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(colour);
    capture::applyPictureLook(picture, capture::virtualCameraLook(camera).look);
    return picture;
}

// Values written to a virtual camera stay with it and change its page (brighter, bluer under a
// lower white-balance temperature, darker under a short manual exposure); a menu entry it does not
// have is refused; pulled out, it forgets them, and its old handle says the camera is gone.
TEST(VirtualCameraControls, ValuesChangeThePageUntilTheCameraIsPulledOut)
{
    const QString camera = QStringLiteral("controls-test");
    QString error;
    auto controls = capture::openVirtualCameraControls(camera, QString(), &error);
    ASSERT_TRUE(controls) << error.toStdString();
    const QRgb grey = qRgb(128, 128, 128);
    EXPECT_EQ(channelMean(under(camera, grey), 1), 128);
    EXPECT_EQ(controls->write(0x00980900, 40).status, ControlWriteStatus::Written);
    EXPECT_GT(channelMean(under(camera, grey), 1), 128 + 60);
    EXPECT_EQ(controls->write(0x00980900, -40).status, ControlWriteStatus::Written);
    EXPECT_LT(channelMean(under(camera, grey), 1), 128 - 60);
    EXPECT_EQ(controls->write(0x00980900, 0).status, ControlWriteStatus::Written);

    EXPECT_EQ(controls->write(0x0098090c, 0).status, ControlWriteStatus::Written);
    EXPECT_EQ(controls->write(0x0098091a, 2800).status, ControlWriteStatus::Written);
    const QImage blue = under(camera);
    EXPECT_GT(channelMean(blue, 0), channelMean(blue, 2) + 40);
    EXPECT_EQ(test::controlLine(controls->list(&error)[5]),
        "User Controls/White Balance Temperature int 2800..6500 step 10 default 4600 = 2800");

    EXPECT_EQ(controls->write(0x009a0901, 2).status, ControlWriteStatus::Refused);
    EXPECT_EQ(controls->write(0x009a0901, 1).status, ControlWriteStatus::Written);
    EXPECT_EQ(controls->write(0x009a0902, 60).status, ControlWriteStatus::Written);
    EXPECT_LT(channelMean(under(camera, grey), 1), 60);

    capture::forgetVirtualCameraControls(camera);
    EXPECT_EQ(controls->write(0x00980900, 10).status, ControlWriteStatus::Gone);
    EXPECT_EQ(channelMean(under(camera), 1), channelMean(under(QStringLiteral("never-opened")), 1));
    auto again = capture::openVirtualCameraControls(camera, QString(), &error);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->list(&error), capture::virtualCameraControls());
    capture::forgetVirtualCameraControls(camera);
}

// A virtual camera given a real camera's listing (the fifth field of QUILLORA_VIRTUAL_CAMERAS, the
// modes' field left empty for the default modes) offers exactly its controls; an entry whose
// listing cannot be read is passed over, as one with too many fields.
TEST(VirtualCameraControls, ARealCamerasListing)
{
    QUILLORA_REAL_DATA_OR_SKIP(path, QStringLiteral("camera-controls/microsoft-lifecam-hd-6000.txt"));
    const auto listed = capture::parseVirtualCameras(QStringLiteral("LifeCam|Model|lifecam||%1;Gone|M|gone||%1.gone;"
                                                                    "Six|a|b||%1|f")
                                                         .arg(path));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].modes, capture::documentCameraModes());
    const capture::CaptureDevice camera(listed[0]);
    QString error;
    auto controls = camera.openControls(&error);
    ASSERT_TRUE(controls) << error.toStdString();
    EXPECT_EQ(controls->list(&error), *capture::readControlListing(path));
    capture::forgetVirtualCameraControls(QStringLiteral("lifecam"));
    EXPECT_FALSE(capture::openVirtualCameraControls(QStringLiteral("nothing"), path + QStringLiteral(".gone"), &error));
    EXPECT_THAT(error.toStdString(), ::testing::HasSubstr(".gone"));
}

} // namespace
