// SPDX-License-Identifier: GPL-3.0-or-later
// The whole application started against the emulated camera with descriptors it must not trust:
// seven real webcams' configurations (usb-descriptors/ of the real devices' data) and broken ones made from the
// Quillora camera's. Every start must end cleanly; focus either works or costs its one line.
#include "AppTest.h"
#include "EmulatedCamera.h"
#include "UsbTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QTimer>

#include <gtest/gtest.h>

using namespace quillora;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kDevice{
    0x12, 0x01, 0x00, 0x02, 0xEF, 0x02, 0x01, 0x40, 0x0C, 0x09, 0x7A, 0x03, 0x00, 0x01, 0x01, 0x02, 0x00, 0x01};
// The Quillora camera's video-control interface: its standard descriptor (one endpoint), the
// class-specific header, camera terminal 1, processing unit 2, extension unit 3 and output
// terminal 4, then the interrupt endpoint with its class-specific part.
const Bytes kControlInterface{0x09, 0x04, 0x00, 0x00, 0x01, 0x0E, 0x01, 0x00, 0x00};
const Bytes kHeader{0x0D, 0x24, 0x01, 0x00, 0x01, 0x4D, 0x00, 0x80, 0x8D, 0x5B, 0x00, 0x01, 0x01};
const Bytes kCameraTerminal{
    0x12, 0x24, 0x02, 0x01, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x02};
const Bytes kProcessingUnit{0x0B, 0x24, 0x05, 0x02, 0x01, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00};
const Bytes kExtensionUnit{0x1A, 0x24, 0x06, 0x03, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
    0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x01, 0x01, 0x02, 0x01, 0x03, 0x00};
const Bytes kOutputTerminal{0x09, 0x24, 0x03, 0x04, 0x01, 0x01, 0x00, 0x03, 0x00};
const Bytes kEndpoint{0x07, 0x05, 0x83, 0x03, 0x10, 0x00, 0x06, 0x05, 0x25, 0x03, 0x10, 0x00};
const Bytes kStreamingInterface{0x09, 0x04, 0x01, 0x00, 0x00, 0x0E, 0x02, 0x00, 0x00};

// Device descriptor, then a configuration of `parts` whose wTotalLength is the bytes given
// plus `lengthError` and whose interface count is `interfaces`.
std::string describe(std::initializer_list<Bytes> parts, int lengthError = 0, std::uint8_t interfaces = 2)
{
    Bytes body;
    for (const Bytes &part : parts)
        body.insert(body.end(), part.begin(), part.end());
    const auto total = std::uint16_t(9 + body.size() + lengthError);
    Bytes all = kDevice;
    all.insert(
        all.end(), {0x09, 0x02, std::uint8_t(total), std::uint8_t(total >> 8), interfaces, 0x01, 0x00, 0x80, 0xFA});
    all.insert(all.end(), body.begin(), body.end());
    return QByteArray(reinterpret_cast<const char *>(all.data()), qsizetype(all.size())).toHex().toStdString();
}

Bytes with(Bytes bytes, std::size_t at, std::uint8_t value)
{
    bytes.at(at) = value;
    return bytes;
}

// A recorded camera's descriptors with the Quillora camera's vendor and product, so that the
// application and its listener both take it for theirs.
std::string recorded(const char *name)
{
    QFile file(test::realDataDir() + QStringLiteral("/usb-descriptors/%1.hex").arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = QByteArray::fromHex(file.readAll().trimmed());
    if (bytes.size() < 18)
        return "unreadable";
    bytes.replace(8, 4, QByteArray::fromHex("0c097a03"));
    return bytes.toHex().toStdString();
}

enum class Focus { Works, LogsItsLine };
struct DescriptorCase {
    const char *name;
    std::string descriptors; // empty: a real camera's, not at hand
    Focus focus;
    bool interfaceSkipped = false; // the half-parsed interface is named in quillora.usb
};

std::vector<DescriptorCase> cases()
{
    std::vector<DescriptorCase> all;
    for (const char *camera : {"anker_powerconf_c200", "canyon_cne_cwc2", "elp_h264", "elp_h265", "logitech_c270",
             "logitech_streamcam", "trust_webcam"})
        all.push_back({camera, recorded(camera), Focus::Works});
    const auto &I = kControlInterface;
    all.push_back({"quillora",
        describe({I, kHeader, kCameraTerminal, kProcessingUnit, kExtensionUnit, kOutputTerminal, kEndpoint,
            kStreamingInterface}),
        Focus::Works});
    // The output terminal claims more bytes than the configuration has: libusb keeps the
    // interface's endpoint count but gives it no endpoints.
    all.push_back({"classSpecificPastTheEnd",
        describe({I, kHeader, kCameraTerminal, kProcessingUnit, kExtensionUnit, with(kOutputTerminal, 0, 0x40)}, 0, 1),
        Focus::LogsItsLine, true});
    // One endpoint declared, none described: the next interface follows at once. libusb
    // skips the missing endpoint; the controls need none.
    all.push_back({"endpointMissing",
        describe({I, kHeader, kCameraTerminal, kProcessingUnit, kExtensionUnit, kOutputTerminal, kStreamingInterface}),
        Focus::Works});
    all.push_back({"totalLengthTooLong",
        describe({I, kHeader, kCameraTerminal, kProcessingUnit, kExtensionUnit, kOutputTerminal, kEndpoint,
                     kStreamingInterface},
            200),
        Focus::Works});
    // The configuration ends inside the extension unit: half-parsed like the first.
    all.push_back({"totalLengthTooShort",
        describe({I, kHeader, kCameraTerminal, kProcessingUnit, kExtensionUnit, kOutputTerminal, kEndpoint,
                     kStreamingInterface},
            -40),
        Focus::LogsItsLine, true});
    // libusb gives up on the whole configuration.
    all.push_back({"zeroLengthDescriptor",
        describe({I, kHeader, kCameraTerminal, Bytes{0x00, 0x24, 0x05, 0x02}, kProcessingUnit, kExtensionUnit,
            kOutputTerminal, kEndpoint, kStreamingInterface}),
        Focus::LogsItsLine});
    all.push_back({"moreInterfacesThanGiven",
        describe({I, kHeader, kCameraTerminal, kProcessingUnit, kExtensionUnit, kOutputTerminal, kEndpoint,
                     kStreamingInterface},
            0, 4),
        Focus::Works});
    return all;
}

struct HostileDescriptors : test::AppTest, ::testing::WithParamInterface<DescriptorCase> { };

TEST_P(HostileDescriptors, TheApplicationStartsFocusesAndQuitsCleanly)
{
    const DescriptorCase &k = GetParam();
    if (k.descriptors.empty())
        GTEST_SKIP()
            << "skipped: no real devices' data at "
            << (test::realDataDir() + QStringLiteral("/usb-descriptors/") + QLatin1String(k.name)).toStdString()
            << ".hex";
    test::EmulatedCameraBed bed(k.descriptors);
    ASSERT_EQ(bed.error(), "");
    start("Desk|UVC Camera VendorID_2316 ProductID_890|0x01420000090c037a");
    ASSERT_TRUE(testAccess(*c).quilloraDevice());
    c->focusClick(nullptr);
    QTimer::singleShot(0, def->mainWindow(), [this] { def->mainWindow()->close(); });
    QTimer::singleShot(test::stretched(std::chrono::seconds(20)), def->mainWindow(), [] {
        QCoreApplication::exit(99); // a hung quit fails
    });
    EXPECT_EQ(QApplication::exec(), 0);
    def.reset();

    const QStringList errors = log.lines("default").filter(QStringLiteral("CameraControl Error"));
    std::vector<Bytes> urbs;
    {
        std::lock_guard lock(bed.wire.mutex);
        urbs = bed.wire.controlUrbs;
    }
    if (k.focus == Focus::Works) {
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        EXPECT_EQ(urbs, test::focusUrbs());
    } else {
        EXPECT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
        EXPECT_TRUE(urbs.empty());
    }
    const QStringList skipped = log.lines("quillora.usb").filter(QStringLiteral("incomplete"));
    EXPECT_EQ(!skipped.isEmpty(), k.interfaceSkipped) << log.lines().join('\n').toStdString();
}
INSTANTIATE_TEST_SUITE_P(EmulatedCamera, HostileDescriptors, ::testing::ValuesIn(cases()),
    [](const ::testing::TestParamInfo<DescriptorCase> &p) { return std::string(p.param.name); });

} // namespace
