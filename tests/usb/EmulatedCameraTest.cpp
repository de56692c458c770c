// The libusb host against an emulated camera: umockdev gives the program a sysfs with a root
// hub, a hub and a Quillora camera at bus 1, ports 4.2, and answers the camera's usbfs and video
// node ioctls here, recording every URB and every video driver control.
//
// Runs under umockdev-wrapper (see CMakeLists.txt); without it every test fails at once rather
// than talk to the machine's real USB.
#include "LibusbHost.h"
#include "LocationId.h"
#include "UsbTestSupport.h"
#include "VemoViewController.h"

#include <TestSupport.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <linux/usb/video.h>
#include <linux/usbdevice_fs.h>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

using namespace quillora::usb;
using quillora::test::LogCapture;

namespace {

constexpr std::uint32_t kCameraLocation = 0x01420000;
constexpr const char *kCameraDevpath = "/sys/devices/usb1/1-4/1-4.2";
constexpr const char *kVideoNodeDevpath = "/sys/devices/usb1/1-4/1-4.2/1-4.2:1.0/video4linux/video0";

constexpr const char *kHubDescriptors
    = "12010002090001406b1d020000010302010109021900010100e0000904000001090000000705810304000c";
// Video control (interface 0: header, camera terminal 1, processing unit 2, extension unit 3,
// output terminal 4, interrupt endpoint 0x83), then video streaming (interface 1).
constexpr const char *kCameraDescriptors
    = "12010002ef0201400c097a0300010102000109027c0002010080fa080b00020e03000209040000010e0100020d240100014d00808d5b0"
      "001011224020101020000000000000000030000020b240502010000020100001a2406030102030405060708090a0b0c0d0e0f10010102"
      "01030009240304010100030007058303100006052503100009040100000e020000";

// What the emulated kernel saw, and how it answers. The handlers run on umockdev's thread.
struct Wire {
    std::mutex mutex; // guards every field below

    std::vector<std::vector<std::uint8_t>> controlUrbs; // SETUP packet and data stage of each
    std::vector<int> claims;
    std::vector<int> releases;
    int claimErrno = 0;           // what a claim answers (EBUSY: the video driver holds it)
    int controlStatus = 0;        // the status of a reaped control URB (-EPIPE: a stall)
    bool controlsAnswered = true; // false: the camera never answers a control request

    struct Flying {
        UMockdevIoctlData *urb;
        bool control;
    };
    std::deque<Flying> flying;
    std::deque<UMockdevIoctlData *> discarded;
    int presses = 0; // interrupt reports the camera has ready

    std::vector<v4l2_control> videoControls;
    struct ExtensionQuery {
        std::uint8_t unit, selector, query;
        std::vector<std::uint8_t> data;
    };
    std::vector<ExtensionQuery> extensionQueries;
};

const std::uint8_t kReport[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

gboolean handleUsbfs(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer userData)
{
    auto *wire = static_cast<Wire *>(userData);
    std::lock_guard lock(wire->mutex);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *argument = umockdev_ioctl_client_get_arg(client);

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *caps = umockdev_ioctl_data_resolve(argument, 0, sizeof(guint32), nullptr);
        *reinterpret_cast<guint32 *>(caps->data)
            = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(caps);
        return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE: {
        UMockdevIoctlData *number = umockdev_ioctl_data_resolve(argument, 0, sizeof(unsigned), nullptr);
        wire->claims.push_back(int(*reinterpret_cast<unsigned *>(number->data)));
        g_object_unref(number);
        if (wire->claimErrno)
            umockdev_ioctl_client_complete(client, -1, wire->claimErrno);
        else
            umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData *number = umockdev_ioctl_data_resolve(argument, 0, sizeof(unsigned), nullptr);
        wire->releases.push_back(int(*reinterpret_cast<unsigned *>(number->data)));
        g_object_unref(number);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData *urbData = umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
        auto *urb = reinterpret_cast<usbdevfs_urb *>(urbData->data);
        UMockdevIoctlData *buffer
            = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer), gsize(urb->buffer_length), nullptr);
        const bool control = urb->type == USBDEVFS_URB_TYPE_CONTROL;
        if (control)
            wire->controlUrbs.emplace_back(buffer->data, buffer->data + buffer->data_len);
        g_object_unref(buffer);
        wire->flying.push_back({urbData, control});
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
        UMockdevIoctlData *reaped = nullptr;
        int status = 0;
        if (!wire->discarded.empty()) {
            reaped = wire->discarded.front();
            wire->discarded.pop_front();
            status = -ENOENT;
        } else {
            for (auto it = wire->flying.begin(); it != wire->flying.end(); ++it) {
                if (it->control ? wire->controlsAnswered : wire->presses > 0) {
                    reaped = it->urb;
                    status = it->control ? wire->controlStatus : 0;
                    if (!it->control) {
                        --wire->presses;
                        auto *urb = reinterpret_cast<usbdevfs_urb *>(reaped->data);
                        // Same address space: the report goes straight into the caller's buffer.
                        std::memcpy(urb->buffer, kReport, sizeof kReport);
                    }
                    wire->flying.erase(it);
                    break;
                }
            }
        }
        if (!reaped) {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
            return TRUE;
        }
        auto *urb = reinterpret_cast<usbdevfs_urb *>(reaped->data);
        urb->status = status;
        if (status != 0)
            urb->actual_length = 0;
        else if (urb->type == USBDEVFS_URB_TYPE_CONTROL)
            urb->actual_length = urb->buffer_length - 8;
        else
            urb->actual_length = urb->buffer_length;
        UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(argument, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, reaped);
        g_object_unref(slot);
        g_object_unref(reaped);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_DISCARDURB: {
        const auto address = gulong(*reinterpret_cast<void **>(argument->data));
        for (auto it = wire->flying.begin(); it != wire->flying.end(); ++it) {
            if (it->urb->client_addr == address) {
                wire->discarded.push_back(it->urb);
                wire->flying.erase(it);
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

gboolean handleVideoNode(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer userData)
{
    auto *wire = static_cast<Wire *>(userData);
    std::lock_guard lock(wire->mutex);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *argument = umockdev_ioctl_client_get_arg(client);
    if (request == VIDIOC_S_CTRL) {
        UMockdevIoctlData *control = umockdev_ioctl_data_resolve(argument, 0, sizeof(v4l2_control), nullptr);
        wire->videoControls.push_back(*reinterpret_cast<v4l2_control *>(control->data));
        g_object_unref(control);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    if (request == UVCIOC_CTRL_QUERY) {
        UMockdevIoctlData *queryData = umockdev_ioctl_data_resolve(argument, 0, sizeof(uvc_xu_control_query), nullptr);
        const auto query = *reinterpret_cast<uvc_xu_control_query *>(queryData->data);
        UMockdevIoctlData *bytes
            = umockdev_ioctl_data_resolve(queryData, offsetof(uvc_xu_control_query, data), query.size, nullptr);
        wire->extensionQueries.push_back(
            {query.unit, query.selector, query.query, {bytes->data, bytes->data + bytes->data_len}});
        g_object_unref(bytes);
        g_object_unref(queryData);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
}

class EmulatedCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Without the preload nothing would be emulated and the real machine would be asked.
        ASSERT_NE(qgetenv("LD_PRELOAD").indexOf("libumockdev-preload"), -1)
            << "run under umockdev-wrapper (LD_PRELOAD=libumockdev-preload.so.0), as ctest does";
        m_testbed = umockdev_testbed_new();
        m_usbfs = umockdev_ioctl_base_new();
        m_video = umockdev_ioctl_base_new();
        g_signal_connect(m_usbfs, "handle-ioctl", G_CALLBACK(handleUsbfs), &wire);
        g_signal_connect(m_video, "handle-ioctl", G_CALLBACK(handleVideoNode), &wire);
        // The handlers first, so that the nodes are emulated from the moment they exist.
        ASSERT_TRUE(umockdev_testbed_attach_ioctl(m_testbed, "/dev/bus/usb/001/003", m_usbfs, nullptr));
        ASSERT_TRUE(umockdev_testbed_attach_ioctl(m_testbed, "/dev/video0", m_video, nullptr));
        addUsbDevice("/devices/usb1", "001", "0", kHubDescriptors, "xHCI Host Controller");
        addUsbDevice("/devices/usb1/1-4", "002", "4", kHubDescriptors, "USB2.0 Hub");
        addUsbDevice("/devices/usb1/1-4/1-4.2", "003", "4.2", kCameraDescriptors, "Quillora Document Camera");
        add("P: /devices/usb1/1-4/1-4.2/1-4.2:1.0\n"
            "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=uvcvideo\n"
            "A: bInterfaceNumber=00\\n\nA: bInterfaceClass=0e\\n\nA: bInterfaceSubClass=01\\n\n");
        add("P: /devices/usb1/1-4/1-4.2/1-4.2:1.0/video4linux/video0\n"
            "N: video0\n"
            "E: SUBSYSTEM=video4linux\nE: DEVNAME=/dev/video0\n"
            "A: index=0\\n\nA: name=Quillora Document Camera\\n\n");
        // Like the kernel's: a video node's device is the USB interface above it.
        const std::filesystem::path node = sysDir() + "/devices/usb1/1-4/1-4.2/1-4.2:1.0/video4linux/video0";
        if (!std::filesystem::exists(node / "device", m_ignored))
            std::filesystem::create_directory_symlink("../..", node / "device");
    }

    void TearDown() override
    {
        if (m_testbed) {
            {
                std::lock_guard lock(wire.mutex);
                for (auto &flying : wire.flying)
                    g_object_unref(flying.urb);
                for (auto *urb : wire.discarded)
                    g_object_unref(urb);
                wire.flying.clear();
                wire.discarded.clear();
            }
            g_object_unref(m_usbfs);
            g_object_unref(m_video);
            g_object_unref(m_testbed);
        }
    }

    std::string sysDir() const
    {
        gchar *dir = umockdev_testbed_get_sys_dir(m_testbed);
        std::string result = dir;
        g_free(dir);
        return result;
    }

    void add(const std::string &description)
    {
        GError *error = nullptr;
        const bool added = umockdev_testbed_add_from_string(m_testbed, description.c_str(), &error);
        ASSERT_TRUE(added) << (error ? error->message : "?");
    }

    void addUsbDevice(const std::string &path, const std::string &devnum, const std::string &devpath,
        const std::string &descriptors, const std::string &product)
    {
        add("P: " + path + "\nN: bus/usb/001/" + devnum + "\n" + "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
            + "E: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=" + devnum + "\nE: DEVNAME=/dev/bus/usb/001/" + devnum + "\n"
            + "A: busnum=1\\n\nA: devnum=" + std::to_string(std::stoi(devnum)) + "\\n\nA: devpath=" + devpath
            + "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\nA: product=" + product + "\\n\n"
            + "H: descriptors=" + descriptors + "\n");
    }

    void removeVideoNode() { umockdev_testbed_remove_device(m_testbed, kVideoNodeDevpath); }

    std::shared_ptr<UsbDevice> findCamera(UsbHost &host)
    {
        for (const auto &entry : host.devices())
            if (entry.device && entry.device->vendorId() == 0x090C && entry.device->productId() == 0x037A)
                return entry.device;
        return nullptr;
    }

    std::shared_ptr<UsbInterface> videoControlOf(UsbDevice &device)
    {
        std::vector<std::shared_ptr<UsbInterface>> found;
        EXPECT_EQ(device.findInterfaces({kVideoInterfaceClass, kVideoControlSubClass, kAnyValue, kAnyValue}, found),
            kUsbSuccess);
        return found.empty() ? nullptr : found.front();
    }

    Wire wire;

private:
    UMockdevTestbed *m_testbed = nullptr;
    UMockdevIoctlBase *m_usbfs = nullptr;
    UMockdevIoctlBase *m_video = nullptr;
    std::error_code m_ignored;
};

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

TEST_F(EmulatedCamera, LocationIdsFromLibusbAndFromSysfsAgree)
{
    const auto host = makeLibusbHost(LibusbHostOptions{});
    ASSERT_TRUE(host);
    const auto entries = host->devices();
    ASSERT_EQ(entries.size(), 3u);
    std::map<std::uint16_t, std::uint32_t> byProduct;
    for (const auto &entry : entries) {
        ASSERT_EQ(entry.result, kUsbSuccess);
        std::uint32_t location = 0;
        ASSERT_EQ(entry.device->locationId(location), kUsbSuccess);
        byProduct[entry.device->productId()] = location;
    }
    EXPECT_EQ(byProduct.at(0x037A), kCameraLocation);

    // The camera side's rule, from the same emulated sysfs (busnum and devpath).
    const std::string dir = sysDir() + "/devices/usb1/1-4/1-4.2";
    const auto fromSysfs
        = locationIdFromDevpath(unsigned(std::stoul(readFile(dir + "/busnum"))), readFile(dir + "/devpath"));
    ASSERT_TRUE(fromSysfs);
    EXPECT_EQ(*fromSysfs, kCameraLocation);
    const std::string hubDir = sysDir() + "/devices/usb1/1-4";
    EXPECT_EQ(locationIdFromDevpath(1, readFile(hubDir + "/devpath")), std::optional<std::uint32_t>(0x01400000));

    std::string name;
    EXPECT_EQ(findCamera(*host)->name(name), kUsbSuccess);
    EXPECT_EQ(name, "Quillora Document Camera");
}

TEST_F(EmulatedCamera, TheVideoControlInterfaceIsTheFirstOfClass0eSubclass01)
{
    const auto host = makeLibusbHost(LibusbHostOptions{});
    const auto camera = findCamera(*host);
    ASSERT_TRUE(camera);
    const auto control = videoControlOf(*camera);
    ASSERT_TRUE(control);
    EXPECT_EQ(control->interfaceNumber(), 0);
    EXPECT_EQ(control->interfaceClass(), 0x0E);
    EXPECT_EQ(control->interfaceSubClass(), 0x01);
    EXPECT_FALSE(control->isOpen());

    std::vector<std::shared_ptr<UsbInterface>> all;
    ASSERT_EQ(camera->findInterfaces({}, all), kUsbSuccess);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1]->interfaceSubClass(), 0x02);

    std::lock_guard lock(wire.mutex);
    EXPECT_TRUE(wire.claims.empty()) << "finding an interface claims nothing";
}

TEST_F(EmulatedCamera, FocusPutsTheThreeSetupPacketsOnTheWire)
{
    quillora::app::VemoViewController controller;
    controller.setUsbHost(makeLibusbHost(LibusbHostOptions{}));
    LogCapture log;

    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    ASSERT_TRUE(controller.interface);
    controller.focusClick(nullptr);

    std::lock_guard lock(wire.mutex);
    using Bytes = std::vector<std::uint8_t>;
    ASSERT_EQ(wire.controlUrbs.size(), 3u);
    EXPECT_EQ(wire.controlUrbs[0], (Bytes{0x41, 0x00, 0x08, 0x00, 0x00, 0x3F, 0x00, 0x00}));
    EXPECT_EQ(wire.controlUrbs[1], (Bytes{0x41, 0x00, 0x03, 0x00, 0x00, 0x3F, 0x00, 0x00}));
    EXPECT_EQ(wire.controlUrbs[2], (Bytes{0x21, 0x01, 0x00, 0x08, 0x00, 0x01, 0x01, 0x00, 0x01}));
    EXPECT_EQ(wire.claims, std::vector<int>{0});
    EXPECT_EQ(wire.releases, std::vector<int>{0});
    EXPECT_TRUE(wire.videoControls.empty());
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
}

TEST_F(EmulatedCamera, ABusyClaimTakesTheVideoDriverRoad)
{
    wire.claimErrno = EBUSY; // uvcvideo holds the interface
    quillora::app::VemoViewController controller;
    controller.setUsbHost(makeLibusbHost(LibusbHostOptions{}));
    LogCapture log;

    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    controller.focusClick(nullptr);

    std::lock_guard lock(wire.mutex);
    // The register writes still go through usbfs; SET_CUR goes through the video driver.
    ASSERT_EQ(wire.controlUrbs.size(), 2u);
    EXPECT_EQ(wire.controlUrbs[0][0], 0x41);
    EXPECT_EQ(wire.controlUrbs[1][0], 0x41);
    EXPECT_EQ(wire.claims, std::vector<int>{0});
    EXPECT_TRUE(wire.releases.empty());
    ASSERT_EQ(wire.videoControls.size(), 1u);
    EXPECT_EQ(wire.videoControls[0].id, unsigned(V4L2_CID_FOCUS_AUTO));
    EXPECT_EQ(wire.videoControls[0].value, 1);
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
}

TEST_F(EmulatedCamera, ExtensionUnitRequestsGoThroughTheDriverQuery)
{
    wire.claimErrno = EBUSY;
    const auto host = makeLibusbHost(LibusbHostOptions{});
    const auto control = videoControlOf(*findCamera(*host));
    ASSERT_EQ(control->open(), kUsbSuccess);
    std::uint8_t data[2] = {0xAA, 0xBB};
    DevRequest request{0x21, 0x01, 0x0200, 0x0300, 2, data, 0};
    EXPECT_EQ(control->controlRequest(request), kUsbSuccess);
    EXPECT_EQ(request.wLenDone, 2u);
    // A processing unit has no road through the driver: refused, not sent anywhere.
    DevRequest brightness{0x21, 0x01, 0x0200, 0x0200, 2, data, 0};
    EXPECT_EQ(control->controlRequest(brightness), kUsbErrorNotSupported);
    control->close();

    std::lock_guard lock(wire.mutex);
    ASSERT_EQ(wire.extensionQueries.size(), 1u);
    EXPECT_EQ(wire.extensionQueries[0].unit, 3);
    EXPECT_EQ(wire.extensionQueries[0].selector, 2);
    EXPECT_EQ(wire.extensionQueries[0].query, UVC_SET_CUR);
    EXPECT_EQ(wire.extensionQueries[0].data, (std::vector<std::uint8_t>{0xAA, 0xBB}));
    EXPECT_TRUE(wire.controlUrbs.empty());
}

TEST_F(EmulatedCamera, WithNoRoadLeftABusyClaimIsTheOpenFailure)
{
    wire.claimErrno = EBUSY;
    removeVideoNode();
    quillora::app::VemoViewController controller;
    controller.setUsbHost(makeLibusbHost(LibusbHostOptions{}));
    LogCapture log;

    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    controller.focusClick(nullptr);

    EXPECT_EQ(log.lines(), QStringList{"CameraControl Error: Unable to open interface (fffffffa)"});
    std::lock_guard lock(wire.mutex);
    EXPECT_EQ(wire.controlUrbs.size(), 2u);
}

TEST_F(EmulatedCamera, AStallIsReportedWithItsResult)
{
    quillora::app::VemoViewController controller;
    controller.setUsbHost(makeLibusbHost(LibusbHostOptions{}));
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    {
        std::lock_guard lock(wire.mutex);
        wire.controlStatus = -EPIPE;
    }
    LogCapture log;

    EXPECT_FALSE(controller.setData(1, 1, 8, 1));

    EXPECT_EQ(log.lines(), QStringList{"CameraControl Error: Control request failed: fffffff7"});
    std::lock_guard lock(wire.mutex);
    EXPECT_EQ(wire.releases, std::vector<int>{0}) << "the interface is given back after a failure";
}

TEST_F(EmulatedCamera, ACameraThatNeverAnswersCostsAtMostTheTimeout)
{
    quillora::app::VemoViewController controller;
    controller.setUsbHost(makeLibusbHost(LibusbHostOptions{}));
    controller.initCameraInterfaceWithLocationID(kCameraLocation);
    {
        std::lock_guard lock(wire.mutex);
        wire.controlsAnswered = false;
    }
    LogCapture log;
    QElapsedTimer timer;
    timer.start();

    EXPECT_FALSE(controller.setData(1, 1, 8, 1));

    EXPECT_GE(timer.elapsed(), qint64(kControlTimeoutMs) - 100);
    EXPECT_LT(timer.elapsed(), qint64(kControlTimeoutMs) + 2000);
    EXPECT_EQ(log.lines(), QStringList{"CameraControl Error: Control request failed: fffffff9"});
}

TEST_F(EmulatedCamera, ReadCompletionsArriveOnTheThreadThatServesTheEventSource)
{
    const auto host = makeLibusbHost(LibusbHostOptions{});
    std::vector<std::shared_ptr<UsbInterface>> all;
    ASSERT_EQ(findCamera(*host)->findInterfaces({}, all), kUsbSuccess);
    const std::shared_ptr<UsbInterface> control = all.front();

    QThread listener;
    listener.start();
    QObject anchor;
    anchor.moveToThread(&listener);
    const auto onListener = [&](auto work) { QMetaObject::invokeMethod(&anchor, work, Qt::BlockingQueuedConnection); };

    std::unique_ptr<UsbEventSource> source;
    std::array<std::uint8_t, 8> report{};
    std::mutex mutex; // guards the completions
    struct Completion {
        UsbResult result;
        std::uint32_t length;
        QThread *thread;
    };
    std::vector<Completion> completions;
    const auto record = [&](UsbResult result, std::uint32_t length) {
        std::lock_guard lock(mutex);
        completions.push_back({result, length, QThread::currentThread()});
    };
    const auto completed = [&] {
        std::lock_guard lock(mutex);
        return completions.size();
    };

    UsbResult queued = kUsbErrorOther;
    onListener([&] {
        ASSERT_EQ(host->createEventSource(source), kUsbSuccess);
        ASSERT_EQ(control->open(), kUsbSuccess);
        queued = control->readPipeAsync(1, report, record);
    });
    ASSERT_EQ(queued, kUsbSuccess);
    QThread::msleep(100);
    EXPECT_EQ(completed(), 0u) << "nothing completes before the camera has something to say";

    {
        std::lock_guard lock(wire.mutex);
        ++wire.presses;
    }
    ASSERT_TRUE(quillora::test::waitUntil([&] { return completed() == 1; }, std::chrono::seconds(5)));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(completions[0].result, kUsbSuccess);
        EXPECT_EQ(completions[0].length, 8u);
        EXPECT_EQ(completions[0].thread, &listener);
    }
    EXPECT_EQ(report, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));

    // A read still pending when the interface is closed completes, cancelled, on the same thread.
    onListener([&] { queued = control->readPipeAsync(1, report, record); });
    ASSERT_EQ(queued, kUsbSuccess);
    onListener([&] { control->close(); });
    ASSERT_TRUE(quillora::test::waitUntil([&] { return completed() == 2; }, std::chrono::seconds(5)));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(completions[1].result, kUsbErrorInterrupted);
        EXPECT_EQ(completions[1].thread, &listener);
    }

    onListener([&] { source.reset(); });
    listener.quit();
    listener.wait();
    std::lock_guard lock(wire.mutex);
    EXPECT_EQ(wire.releases, std::vector<int>{0});
}

} // namespace
