// The listener on the real libusb host, against an emulated camera whose interface no kernel
// driver holds (umockdev; run under umockdev-wrapper): the listener claims the interface and
// queues an interrupt URB on its status endpoint, and the test's usbfs handler completes that
// URB when the test presses the button.
#include "ListenerTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QTest>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>

using namespace quillora;
using listener::WebcamProcessor;
using test::CountingTarget;
using test::waitUntil;
using namespace std::chrono_literals;

namespace {

constexpr const char *kHubDescriptors
    = "12010002090001406b1d020000010302010109021900010100e0000904000001090000000705810304000c";
// Video control (interface 0, with its interrupt endpoint 0x83), then video streaming (interface 1).
constexpr const char *kCameraDescriptors
    = "12010002ef0201400c097a0300010102000109027c0002010080fa080b00020e03000209040000010e0100020d240100014d00808d5b0"
      "001011224020101020000000000000000030000020b240502010000020100001a2406030102030405060708090a0b0c0d0e0f10010102"
      "01030009240304010100030007058303100006052503100009040100000e020000";

// The camera's side of usbfs. The handler runs on umockdev's thread.
struct Camera {
    std::mutex mutex;                              // guards every field below
    std::deque<UMockdevIoctlData *> interruptUrbs; // queued on the status endpoint, not yet reaped
    std::deque<UMockdevIoctlData *> discarded;     // cancelled, to be reaped with -ENOENT
    int presses = 0;                               // reports ready for the next reap
    int claims = 0;
    int releases = 0;
    int submitted = 0;

    int pending()
    {
        std::lock_guard lock(mutex);
        return int(interruptUrbs.size());
    }
};

const std::uint8_t kReport[8] = {0x02, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};

void completeIoctl(UMockdevIoctlClient *client, int result, int error = 0)
{
    umockdev_ioctl_client_complete(client, result, error);
}

gboolean handleUsbfs(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer userData)
{
    auto *camera = static_cast<Camera *>(userData);
    std::lock_guard lock(camera->mutex);
    UMockdevIoctlData *argument = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *caps = umockdev_ioctl_data_resolve(argument, 0, sizeof(guint32), nullptr);
        *reinterpret_cast<guint32 *>(caps->data) = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        g_object_unref(caps);
        completeIoctl(client, 0);
        return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE:
        ++camera->claims;
        completeIoctl(client, 0);
        return TRUE;
    case USBDEVFS_RELEASEINTERFACE:
        ++camera->releases;
        completeIoctl(client, 0);
        return TRUE;
    case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData *urb = umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
        const auto *fields = reinterpret_cast<usbdevfs_urb *>(urb->data);
        if (fields->type != USBDEVFS_URB_TYPE_INTERRUPT || fields->endpoint != 0x83) {
            g_object_unref(urb);
            completeIoctl(client, -1, EINVAL);
            return TRUE;
        }
        ++camera->submitted;
        camera->interruptUrbs.push_back(urb);
        completeIoctl(client, 0);
        return TRUE;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
        UMockdevIoctlData *reaped = nullptr;
        int status = 0;
        if (!camera->discarded.empty()) {
            reaped = camera->discarded.front();
            camera->discarded.pop_front();
            status = -ENOENT;
        } else if (camera->presses > 0 && !camera->interruptUrbs.empty()) {
            --camera->presses;
            reaped = camera->interruptUrbs.front();
            camera->interruptUrbs.pop_front();
        }
        if (!reaped) {
            completeIoctl(client, -1, EAGAIN);
            return TRUE;
        }
        auto *urb = reinterpret_cast<usbdevfs_urb *>(reaped->data);
        urb->status = status;
        urb->actual_length = status == 0 ? int(sizeof kReport) : 0;
        if (status == 0) // one address space: the report goes straight into the reader's buffer
            std::memcpy(urb->buffer, kReport, sizeof kReport);
        UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(argument, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, reaped);
        g_object_unref(slot);
        g_object_unref(reaped);
        completeIoctl(client, 0);
        return TRUE;
    }
    case USBDEVFS_DISCARDURB: {
        const auto address = gulong(*reinterpret_cast<void **>(argument->data));
        for (auto it = camera->interruptUrbs.begin(); it != camera->interruptUrbs.end(); ++it) {
            if ((*it)->client_addr == address) {
                camera->discarded.push_back(*it);
                camera->interruptUrbs.erase(it);
                completeIoctl(client, 0);
                return TRUE;
            }
        }
        completeIoctl(client, -1, EINVAL);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

class ListenerOnLibusb : public ::testing::Test {
protected:
    Camera camera;
    CountingTarget target;
    std::unique_ptr<listener::ListenerThread> thread;
    test::QtMessages qtMessages;

    void SetUp() override
    {
        ASSERT_NE(qgetenv("LD_PRELOAD").indexOf("libumockdev-preload"), -1) << "run under umockdev-wrapper";
        m_testbed = umockdev_testbed_new();
        m_usbfs = umockdev_ioctl_base_new();
        g_signal_connect(m_usbfs, "handle-ioctl", G_CALLBACK(handleUsbfs), &camera);
        ASSERT_TRUE(umockdev_testbed_attach_ioctl(m_testbed, "/dev/bus/usb/001/003", m_usbfs, nullptr));
        addUsbDevice("/devices/usb1", "001", "0", kHubDescriptors);
        addUsbDevice("/devices/usb1/1-4", "002", "4", kHubDescriptors);
        addUsbDevice("/devices/usb1/1-4/1-4.2", "003", "4.2", kCameraDescriptors);
        add("P: /devices/usb1/1-4/1-4.2/1-4.2:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
            "A: bInterfaceNumber=00\\n\nA: bInterfaceClass=0e\\n\nA: bInterfaceSubClass=01\\n\n");
    }
    void TearDown() override
    {
        thread.reset();
        if (!m_testbed)
            return;
        {
            std::lock_guard lock(camera.mutex);
            for (auto *urb : camera.interruptUrbs)
                g_object_unref(urb);
            for (auto *urb : camera.discarded)
                g_object_unref(urb);
        }
        g_object_unref(m_usbfs);
        g_object_unref(m_testbed);
    }

    void add(const std::string &description)
    {
        GError *error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(m_testbed, description.c_str(), &error))
            << (error ? error->message : "?");
    }
    void addUsbDevice(
        const std::string &path, const std::string &devnum, const std::string &devpath, const std::string &descriptors)
    {
        add("P: " + path + "\nN: bus/usb/001/" + devnum + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
            + "E: BUSNUM=001\nE: DEVNUM=" + devnum + "\nE: DEVNAME=/dev/bus/usb/001/" + devnum + "\n"
            + "A: busnum=1\\n\nA: devnum=" + std::to_string(std::stoi(devnum)) + "\\n\nA: devpath=" + devpath
            + "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\nA: product=Quillora Document Camera\\n\n"
            + "H: descriptors=" + descriptors + "\n");
    }
    void press()
    {
        std::lock_guard lock(camera.mutex);
        ++camera.presses;
    }

private:
    UMockdevTestbed *m_testbed = nullptr;
    UMockdevIoctlBase *m_usbfs = nullptr;
};

TEST_F(ListenerOnLibusb, APressCompletesTheInterruptReadOnTheListenerThread)
{
    thread = test::startListener(test::Variant::Quillora, &target, {}, 0ms, "/sys", "/dev");
    ASSERT_TRUE(waitUntil([&] { return camera.pending() == 1; }, 10s)) << "an interrupt URB on endpoint 0x83";
    press();
    ASSERT_TRUE(waitUntil([&] { return target.count() == 1; }, 10s));
    EXPECT_TRUE(target.allOnThread(thread->listenerThread()));
    ASSERT_TRUE(waitUntil([&] { return camera.pending() == 1; }, 10s)) << "the next read is queued";
    press();
    ASSERT_TRUE(waitUntil([&] { return target.count() == 2; }, 10s));

    // Suspended: the URB is discarded, the interface released, and a press goes unheard.
    ASSERT_TRUE(waitUntil([&] { return camera.pending() == 1; }, 10s));
    WebcamProcessor::killListener();
    ASSERT_TRUE(waitUntil(
        [&] {
            std::lock_guard lock(camera.mutex);
            return camera.releases >= 1 && camera.interruptUrbs.empty() && camera.discarded.empty();
        },
        10s));
    EXPECT_EQ(target.count(), 2) << "the discarded read is no press";
    WebcamProcessor::unkillListener();
    ASSERT_TRUE(waitUntil([&] { return camera.pending() == 1; }, 10s));
    press();
    ASSERT_TRUE(waitUntil([&] { return target.count() == 3; }, 10s));
    std::lock_guard lock(camera.mutex);
    EXPECT_GE(camera.claims, 2) << "claimed again after the unkill";
}

} // namespace
