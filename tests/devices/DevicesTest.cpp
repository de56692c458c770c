// SPDX-License-Identifier: GPL-3.0-or-later
// The camera list from sysfs (fixtures under tests/data/sysfs) and the sound input. Choosing and
// marking the camera in the running application is tested with the controller (tests/app).
#include "Devices.h"
#include "CaptureDevice.h"
#include "SysfsCamera.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <map>

using namespace quillora::capture;
using quillora::devices::resolveCamera;
using quillora::devices::VideoNode;
using quillora::test::ScopedEnv;

namespace {

const QString kNoDev = "/nonexistent-quillora-dev"; // no device files: only sysfs speaks

// The cameras of a fixture tree, a line "<parent of the node's folder>/<node>: name | model | identifier" each.
std::string list(const char *tree, const CapabilityProbe &probe = queryNodeCapabilities)
{
    QStringList out;
    for (const auto &c : listSysfsCameras(quillora::test::testDataDir() + "/sysfs/" + tree, kNoDev, probe))
        out << c.sysfsPath.section('/', -3, -3) + "/" + c.devicePath.section('/', -1) + ": " + c.displayName + " | "
                + c.modelUniqueID + " | " + c.uniqueID;
    return out.join('\n').toStdString();
}

// Root-hub port, a camera behind two hubs and a platform camera, in numeric node order;
// the node's folder is its place in the device tree (USB parents above it), not its class link.
TEST(SysfsCameras, DeskTreeListsEachCameraOnceWithItsIdentityAndNoMetadataNodes)
{
    EXPECT_EQ(list("desk"),
        "1-4:1.0/video0: Quillora Document Camera | UVC Camera VendorID_2316 ProductID_45937 | 0x01400000090cb371\n"
        "vivid.0/video4: vivid-000-vid-cap | vivid-000-vid-cap | /nonexistent-quillora-dev/video4\n"
        "1-3.2.1:1.0/video10: UVC Camera (046d:0825) | UVC Camera VendorID_1133 ProductID_2085 | 0x01321000046d0825");
    // The node's own capabilities decide over its index: metadata nodes and codecs are skipped.
    const std::map<QString, NodeCapabilities> answers{
        {"video0", {V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_CAPTURE}},
        {"video1", {V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS, V4L2_CAP_META_CAPTURE}},
        {"video4", {V4L2_CAP_VIDEO_M2M_MPLANE | V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_M2M_MPLANE}},
        {"video11", {V4L2_CAP_VIDEO_CAPTURE_MPLANE | V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_CAPTURE_MPLANE}}};
    const std::string cameras = list("desk", [&](const VideoNode &node, QString *) -> std::optional<NodeCapabilities> {
        const auto it = answers.find(QString::fromStdString(node.name));
        return it == answers.end() ? std::nullopt : std::optional(it->second); // video10: its index 0 keeps it
    });
    EXPECT_EQ(cameras,
        "1-4:1.0/video0: Quillora Document Camera | UVC Camera VendorID_2316 ProductID_45937 | 0x01400000090cb371\n"
        "1-3.2.1:1.0/video10: UVC Camera (046d:0825) | UVC Camera VendorID_1133 ProductID_2085 | 0x01321000046d0825\n"
        "1-3.2.1:1.0/video11: UVC Camera (046d:0825) | UVC Camera VendorID_1133 ProductID_2085 | 0x01321000046d0825");
    // A device file that is not the character device sysfs names is never asked.
    QString error;
    EXPECT_FALSE(queryNodeCapabilities({"video0", 0, {}, "/dev/null", "81:0", 0}, &error));
    EXPECT_TRUE(error.contains("not the device")) << error.toStdString();
}

// Listed from what can be read: video5 dangles, radio0 is no video node, video0 has no idVendor (not
// on USB then), video2 no name and its USB device no busnum or devpath, video3 no parent device.
TEST(SysfsCameras, IncompleteTreeStillListsWhatItCan)
{
    EXPECT_EQ(list("broken"),
        "2-1:1.0/video0: Quillora 890 | Quillora 890 | /nonexistent-quillora-dev/video0\n"
        "2-2:1.0/video2: Quillora Q14096 | UVC Camera VendorID_2316 ProductID_14096 | 0x02200000090c3710\n"
        "virtual/video3: Loose Node | Loose Node | /nonexistent-quillora-dev/video3");
    EXPECT_TRUE(listSysfsCameras("/nonexistent-quillora-sys", kNoDev, queryNodeCapabilities).empty());
}

// One nibble per port, outermost first, up to six; deeper chains or ports above 15 get no location
// and an identifier that is never read as one.
TEST(SysfsCameras, HubChainsTooDeepOrPortsTooHighGetNoLocation)
{
    const std::pair<QString, std::string> cases[] = {{"4", "0x03400000090c037a 0x03400000"},
        {"4.2.7.1.15", "0x034271f0090c037a 0x034271f0"}, {"4.2.7.1.15.3", "0x034271f3090c037a 0x034271f3"},
        {"1.2.3.4.5.6.7", "usb:3-1.2.3.4.5.6.7:090c:037a none"}, {"3.16.1", "usb:3-3.16.1:090c:037a none"}};
    for (const auto &[ports, expected] : cases) {
        QTemporaryDir root;
        QString dir = root.path() + "/devices/pci0000:00/0000:00:14.0/usb3";
        for (qsizetype depth = 1; depth <= ports.count('.') + 1; ++depth)
            dir += "/3-" + ports.section('.', 0, depth - 1);
        QDir().mkpath(dir);
        for (const auto &[file, text] : {std::pair<QString, QString>{"busnum", "3"}, {"devpath", ports},
                 {"idVendor", "090c"}, {"idProduct", "037a"}}) {
            QFile f(dir + '/' + file);
            EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text.toUtf8() + '\n') > 0);
        }
        const QString nodeDir = dir + "/3-" + ports + ":1.0/video4linux/video0";
        const VideoNode node{"video0", 0, nodeDir.toStdString(), "/dev/video0", {}, -1};
        QDir().mkpath(nodeDir);
        QFile::link("../../../3-" + ports + ":1.0", nodeDir + "/device");
        const CameraIdentity id = identifyCamera(resolveCamera({root.path().toStdString(), "/dev"}, node, {node}));
        const QString location = id.locationId ? QString::asprintf("0x%08x", *id.locationId) : "none";
        EXPECT_EQ((id.uniqueID + " " + location).toStdString(), expected);
        EXPECT_TRUE(id.usb && id.modelUniqueID == "UVC Camera VendorID_2316 ProductID_890");
    }
}

// With a private PulseAudio daemon the server's default source is the input (not the first or last),
// an output monitor is taken when made the default, and the virtual microphone comes first.
TEST(SoundServer, TheSourceTheServerMarksAsDefaultIsTheSoundInput)
{
    ScopedEnv noMicrophone("QUILLORA_VIRTUAL_MICROPHONE", "");
    const quillora::test::SoundServer server({"module-null-sink sink_name=speakers",
        "module-null-source source_name=first_mic", "module-null-source source_name=second_mic"});
    ASSERT_TRUE(server.ready()) << "pulseaudio (scripts/install-deps) is needed";
    const auto input = [] { return defaultInputDeviceWithMediaType(MediaType::Sound); };
    for (const char *source : {"second_mic", "first_mic"}) {
        ASSERT_TRUE(server.pactl({"set-default-source", source}));
        EXPECT_EQ(input()->description().devicePath.toStdString(), source);
    }
    ASSERT_TRUE(server.pactl({"set-default-source", "speakers.monitor"}));
    EXPECT_EQ(input()->description().devicePath.toStdString(), "speakers.monitor");
    QString error;
    EXPECT_TRUE(makeSoundSource(input()->description(), &error)) << error.toStdString();
    ScopedEnv microphone("QUILLORA_VIRTUAL_MICROPHONE", "Test Tone");
    EXPECT_EQ(input()->localizedDisplayName().toStdString(), "Test Tone");
}

} // namespace
