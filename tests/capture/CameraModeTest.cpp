// SPDX-License-Identifier: GPL-3.0-or-later
// Which mode a camera is asked for, against the mode lists of real cameras (camera-modes/ of the
// real devices' data, each from a public source noted in its README). The expected modes are
// worked out by hand from each list.
#include "CameraMode.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace quillora::capture;

namespace {

std::vector<CameraMode> fixture(const QString &dir, const QString &name)
{
    QFile file(dir + QLatin1Char('/') + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return parseModeListing(QString::fromUtf8(file.readAll()));
}

// The five photo sizes, smallest first.
const QSize kPhotoSizes[] = {{320, 240}, {640, 480}, {1280, 1024}, {1600, 1200}, {2048, 1536}};

struct CameraCase {
    const char *file; // empty: the built-in document camera
    size_t modeCount; // entries of the list as read
    const char *expected[5];
};

const CameraCase kCameras[] = {
    {"", 11,
        {"YUY2 320x240 @ 30 fps", "YUY2 640x480 @ 30 fps", "MJPEG 1280x1024 @ 30 fps", "MJPEG 1600x1200 @ 30 fps",
            "MJPEG 2048x1536 @ 30 fps"}},
    // A document camera: raw only small at full speed, MJPEG up to 8 MP at 15.
    {"ipevo-ziggi-hd-plus.txt", 16,
        {"YUY2 640x480 @ 30 fps", "YUY2 640x480 @ 30 fps", "MJPEG 1600x1200 @ 30 fps", "MJPEG 1600x1200 @ 30 fps",
            "MJPEG 2048x1536 @ 15 fps"}},
    // H.264 beside MJPEG is never chosen; no size covers 1600x1200 at a live rate, so the
    // largest live one, not a 2 fps raw picture.
    {"logitech-c920.txt", 53,
        {"YUY2 320x240 @ 30 fps", "YUY2 640x480 @ 30 fps", "MJPEG 1920x1080 @ 30 fps", "MJPEG 1920x1080 @ 30 fps",
            "MJPEG 1920x1080 @ 30 fps"}},
    // Raw only, nothing above 640x480.
    {"usb2.0-camera-yuyv-only.txt", 5,
        {"YUY2 320x240 @ 30 fps", "YUY2 640x480 @ 30 fps", "YUY2 640x480 @ 30 fps", "YUY2 640x480 @ 30 fps",
            "YUY2 640x480 @ 30 fps"}},
    // Stepwise sizes without rates: every size is there, in the first raw format.
    {"raspberry-pi-camera-v1-ov5647.txt", 14,
        {"I420 320x240 @ 30 fps", "I420 640x480 @ 30 fps", "I420 1280x1024 @ 30 fps", "I420 1600x1200 @ 30 fps",
            "I420 2048x1536 @ 30 fps"}},
    // MJPEG and raw size sets differ (and the firmware lists some entries twice).
    {"arducam-1080p-0c45-6366.txt", 8,
        {"YUY2 320x240 @ 30 fps", "YUY2 640x480 @ 30 fps", "MJPEG 1920x1080 @ 30 fps", "MJPEG 1920x1080 @ 30 fps",
            "MJPEG 1920x1080 @ 30 fps"}},
    // 16:9 only: the one size covers the small requests in another shape; raw at 30 wins.
    {"sony-ilce-7m4.txt", 2,
        {"NV12 1920x1080 @ 30 fps", "NV12 1920x1080 @ 30 fps", "NV12 1920x1080 @ 30 fps", "NV12 1920x1080 @ 30 fps",
            "NV12 1920x1080 @ 30 fps"}},
    // 60 fps modes run at 30; 4:3 first when a 4:3 size covers the request.
    {"emeet-smartcam-s800.txt", 22,
        {"YUY2 640x480 @ 30 fps", "YUY2 640x480 @ 30 fps", "YUY2 1920x1080 @ 30 fps", "MJPEG 2560x1440 @ 30 fps",
            "MJPEG 3840x2160 @ 30 fps"}},
    // The same sizes in both formats, raw crawling at the large ones.
    {"elp-4k-32e4-0317.txt", 22,
        {"YUY2 320x240 @ 30 fps", "YUY2 640x480 @ 30 fps", "MJPEG 1600x1200 @ 30 fps", "MJPEG 1600x1200 @ 30 fps",
            "MJPEG 2048x1536 @ 30 fps"}},
};

} // namespace

void expectChoices(const CameraCase &c, const std::vector<CameraMode> &modes)
{
    EXPECT_EQ(modes.size(), c.modeCount) << c.file;
    for (int i = 0; i < 5; ++i) {
        const auto mode = chooseCameraMode(modes, kPhotoSizes[i]);
        ASSERT_TRUE(mode) << c.file;
        EXPECT_EQ(describeMode(*mode).toStdString(), c.expected[i])
            << c.file << " at " << kPhotoSizes[i].width() << "x" << kPhotoSizes[i].height();
    }
}

TEST(CameraMode, ChoosesForEveryPhotoSizeOfTheBuiltInCamera)
{
    expectChoices(kCameras[0], documentCameraModes());
}

// Real cameras' lists: the choice for each photo size; H.264 alone is nothing to show; a refused
// size of a stepwise range takes only that size away; every list reads back as it was written.
TEST(CameraMode, RealCamerasListsGiveTheRightModeForEveryPhotoSize)
{
    QUILLORA_REAL_DATA_OR_SKIP(dir, QStringLiteral("camera-modes"));
    for (const CameraCase &c : kCameras) {
        if (!*c.file)
            continue;
        expectChoices(c, fixture(dir, QString::fromLatin1(c.file)));
    }

    std::vector<CameraMode> h264; // the C920's H.264 entries alone
    for (const CameraMode &m : fixture(dir, QStringLiteral("logitech-c920.txt")))
        if (m.fourcc == QLatin1String("H264"))
            h264.push_back(m);
    ASSERT_EQ(h264.size(), 17u);
    EXPECT_FALSE(chooseCameraMode(h264, QSize(640, 480)));

    const auto pi = fixture(dir, QStringLiteral("raspberry-pi-camera-v1-ov5647.txt"));
    const auto piFirst = chooseCameraMode(pi, QSize(640, 480));
    ASSERT_TRUE(piFirst);
    const auto piRest = withoutMode(pi, *piFirst);
    EXPECT_EQ(piRest.size(), pi.size() - 1);
    EXPECT_EQ(describeMode(*chooseCameraMode(piRest, QSize(640, 480))), QStringLiteral("YUY2 640x480 @ 30 fps"));

    for (const QFileInfo &listing : QDir(dir).entryInfoList({QStringLiteral("*.txt")}, QDir::Files)) {
        const auto modes = fixture(dir, listing.fileName());
        EXPECT_FALSE(modes.empty()) << listing.fileName().toStdString();
        EXPECT_EQ(parseModeListing(formatModeListing(modes)), modes) << listing.fileName().toStdString();
    }
}

TEST(CameraMode, AListWithoutSizesOrRatesOffersNoMode)
{
    EXPECT_FALSE(chooseCameraMode({}, QSize(640, 480)));
    // Sizes of nothing and rates of nothing are no modes.
    EXPECT_TRUE(parseModeListing(QStringLiteral("\t[0]: 'YUYV'\n\t\tSize: Discrete 0x480\n")).empty());
    const auto zeroRate = parseModeListing(
        QStringLiteral("[0]: 'YUYV'\nSize: Discrete 640x480\nInterval: Discrete 0.000s (0.000 fps)\n"));
    ASSERT_EQ(zeroRate.size(), 1u);
    EXPECT_TRUE(zeroRate[0].rates.empty());
}

TEST(CameraMode, ARefusedModeGivesTheNextBest)
{
    const auto &modes = documentCameraModes();
    const auto first = chooseCameraMode(modes, QSize(2048, 1536));
    ASSERT_TRUE(first);
    const auto rest = withoutMode(modes, *first);
    EXPECT_EQ(rest.size(), modes.size() - 1);
    const auto second = chooseCameraMode(rest, QSize(2048, 1536));
    ASSERT_TRUE(second);
    EXPECT_EQ(describeMode(*second), QStringLiteral("MJPEG 2592x1944 @ 15 fps"));
}

TEST(CameraMode, ASlowSizeIsNotChosenAndFractionalRatesReachTheCapsExactly)
{
    // Continuous intervals: 30 where the range reaches it, its top where it does not.
    const auto continuous
        = parseModeListing(QStringLiteral("ioctl: VIDIOC_ENUM_FMT\n\tType: Video Capture\n\n"
                                          "\t[0]: 'MJPG' (Motion-JPEG, compressed)\n"
                                          "\t\tSize: Discrete 1280x720\n"
                                          "\t\t\tInterval: Continuous 0.017s - 1.000s (1.000-60.000 fps)\n"
                                          "\t\tSize: Discrete 2592x1944\n"
                                          "\t\t\tInterval: Stepwise 0.133s - 1.000s with step 0.133s "
                                          "(1.000-7.500 fps)\n"));
    ASSERT_EQ(continuous.size(), 2u);
    EXPECT_EQ(describeMode(*chooseCameraMode(continuous, QSize(1280, 720))), QStringLiteral("MJPEG 1280x720 @ 30 fps"));
    const auto slow = chooseCameraMode(continuous, QSize(2592, 1944));
    // 7.5 fps is not live, so the largest live size wins.
    EXPECT_EQ(describeMode(*slow), QStringLiteral("MJPEG 1280x720 @ 30 fps"));
    const auto onlySlow = withoutMode(continuous, *slow);
    const auto fraction = chooseCameraMode(onlySlow, QSize(2592, 1944));
    EXPECT_EQ(describeMode(*fraction), QStringLiteral("MJPEG 2592x1944 @ 7.5 fps"));
    EXPECT_EQ(modeCapsString(*fraction), QStringLiteral("image/jpeg,width=2592,height=1944,framerate=15/2"));
    EXPECT_EQ(modeCapsString(*chooseCameraMode(documentCameraModes(), QSize(640, 480))),
        QStringLiteral("video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"));
}

TEST(CameraMode, OlderListingsAndOutputSectionsAreReadAsACameraOffersThem)
{
    // What the virtual camera is told is what it offers.
    EXPECT_EQ(parseModeListing(formatModeListing(documentCameraModes())), documentCameraModes());
    // The older layout of v4l2-ctl, and an output section that is no capture.
    const auto old = parseModeListing(QStringLiteral("ioctl: VIDIOC_ENUM_FMT\n"
                                                     "\tIndex       : 0\n"
                                                     "\tType        : Video Capture\n"
                                                     "\tPixel Format: 'YUYV'\n"
                                                     "\tName        : YUYV 4:2:2\n"
                                                     "\t\tSize: Discrete 640x480\n"
                                                     "\t\t\tInterval: Discrete 0.033s (30.000 fps)\n"
                                                     "\tIndex       : 0\n"
                                                     "\tType        : Video Output\n"
                                                     "\tPixel Format: 'MJPG'\n"
                                                     "\t\tSize: Discrete 1920x1080\n"));
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0].fourcc, QStringLiteral("YUYV"));
    EXPECT_EQ(old[0].rates, (std::vector<FrameRate>{{30, 1}}));
    // Rates with more digits than v4l2-ctl's three keep them when written out; a rate no int
    // holds is no rate.
    const auto fine = parseModeListing(QStringLiteral("\t[0]: 'YUYV'\n\t\tSize: Discrete 6x2\n"
                                                      "\t\t\tInterval: Discrete 0.2s (5.0001 fps)\n"
                                                      "\t\t\tInterval: Discrete 0s (999999.999999 fps)\n"
                                                      "\t\t\tInterval: Continuous 1s - 2s (0.5-29.970029 fps)\n"));
    ASSERT_EQ(fine.size(), 1u);
    EXPECT_EQ(fine[0].rates, (std::vector<FrameRate>{{50001, 10000}}));
    EXPECT_EQ(parseModeListing(formatModeListing(fine)), fine);
}
