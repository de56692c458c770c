// SPDX-License-Identifier: GPL-3.0-or-later
// What the camera's input device sends while the video driver holds the camera: a stream of
// input events, read by the listener's button interface, where a KEY_CAMERA press completes the
// pending read. The input is that stream, written into a FIFO that stands in for the event node
// of an emulated camera (bus 1, port 4, bound to its driver, with its button's input device).
#include "FuzzSupport.h"

#include "CameraButtonInterface.h"

#include <linux/input.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

using namespace quillora;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kLocation = 0x01400000;

class Device final : public usb::UsbDevice {
public:
    std::uint16_t vendorId() const override { return 0x090c; }
    std::uint16_t productId() const override { return 0x037a; }
    usb::UsbResult name(std::string &out) const override
    {
        out = "camera";
        return usb::kUsbSuccess;
    }
    usb::UsbResult locationId(std::uint32_t &out) const override
    {
        out = kLocation;
        return usb::kUsbSuccess;
    }
    usb::UsbResult findInterfaces(
        const usb::FindInterfaceRequest &, std::vector<std::shared_ptr<usb::UsbInterface>> &) override
    {
        return usb::kUsbErrorNotSupported;
    }
    usb::UsbResult addRemovalNotification(std::function<void()>, std::unique_ptr<usb::UsbNotification> &) override
    {
        return usb::kUsbErrorNotSupported;
    }
};

// The interface itself, which the driver holds.
class HeldInterface final : public usb::UsbInterface {
public:
    std::uint8_t interfaceNumber() const override { return 0; }
    std::uint8_t alternateSetting() const override { return 0; }
    std::uint8_t interfaceClass() const override { return usb::kVideoInterfaceClass; }
    std::uint8_t interfaceSubClass() const override { return usb::kVideoControlSubClass; }
    std::uint8_t interfaceProtocol() const override { return 0; }
    std::shared_ptr<usb::UsbDevice> device() const override { return m_device; }
    usb::UsbResult open() override { return usb::kUsbErrorBusy; }
    usb::UsbResult close() override { return usb::kUsbSuccess; }
    bool isOpen() const override { return false; }
    usb::UsbResult controlRequest(usb::DevRequest &) override { return usb::kUsbErrorBusy; }
    usb::UsbResult readPipeAsync(std::uint8_t, std::span<std::uint8_t>, usb::ReadCompletion) override
    {
        return usb::kUsbErrorBusy;
    }

private:
    std::shared_ptr<usb::UsbDevice> m_device = std::make_shared<Device>();
};

void writeText(const fs::path &path, const char *text)
{
    std::ofstream(path) << text;
}

// The emulated machine, made once.
listener::DeviceRoots makeMachine()
{
    const fs::path scratch = fuzz::scratchDir("input");
    const fs::path root = scratch / "sys";
    const fs::path usbDevice = root / "devices/pci0000:00/0000:00:14.0/usb1/1-4";
    const fs::path interface = usbDevice / "1-4:1.0";
    const fs::path input = interface / "input/input7";
    fs::create_directories(input / "capabilities");
    fs::create_directories(input / "event7");
    fs::create_directories(root / "bus/usb/drivers/uvcvideo");
    fs::create_directories(root / "bus/usb/devices");
    fs::create_directories(root / "class/input");
    fs::create_directories(scratch / "dev/input");
    writeText(usbDevice / "busnum", "1\n");
    writeText(usbDevice / "devpath", "4\n");
    writeText(usbDevice / "idVendor", "090c\n");
    writeText(usbDevice / "idProduct", "037a\n");
    writeText(interface / "bInterfaceNumber", "00\n");
    writeText(input / "phys", "usb-0000:00:14.0-4/button\n");
    writeText(input / "capabilities/key", "100000 0 0 0\n");
    fs::create_directory_symlink("../../../../../../bus/usb/drivers/uvcvideo", interface / "driver");
    fs::create_directory_symlink(
        "../../devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/input/input7", root / "class/input/input7");
    fs::create_directory_symlink("../../../devices/pci0000:00/0000:00:14.0/usb1/1-4", root / "bus/usb/devices/1-4");
    fs::create_directory_symlink("../../../devices/pci0000:00/0000:00:14.0/usb1", root / "bus/usb/devices/usb1");
    const fs::path node = scratch / "dev/input/event7";
    if (::mkfifo(node.c_str(), 0600) != 0)
        fuzz::fail("cannot make the event FIFO");
    return {root.string(), (scratch / "dev").string()};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietQt();
    fuzz::application();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const listener::DeviceRoots roots = makeMachine();
    // A pipe holds 64 KiB; more would block the writer.
    if (size > 60000)
        return 0;

    // The writer's end first, read-write so that opening it never waits and the reader never
    // sees the end of the stream.
    const std::string node = roots.dev + "/input/event7";
    UniqueFd writer(::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    fuzz::check(bool(writer), "cannot open the event FIFO");

    listener::CameraButtonInterface button(std::make_shared<HeldInterface>(), roots);
    fuzz::check(
        button.open() == usb::kUsbSuccess && button.readsInputDevice(), "the button's input device is not opened");
    std::uint8_t buffer[8] = {};
    int completions = 0;
    usb::UsbResult result = 1;
    std::uint32_t length = 0;
    fuzz::check(button.readPipeAsync(1, buffer,
                    [&](usb::UsbResult r, std::uint32_t n) {
                        ++completions;
                        result = r;
                        length = n;
                    })
            == usb::kUsbSuccess,
        "the read is not queued");

    fuzz::check(size == 0 || ::write(writer.get(), data, size) == ssize_t(size), "cannot write the events");
    for (int i = 0; i < 8 && completions == 0; ++i)
        QCoreApplication::processEvents();

    // What the stream must do: the first press completes the read with the press report; without
    // one, a torn event at the end means the device broke off; otherwise the read stays pending.
    bool pressed = false;
    std::size_t at = 0;
    for (; at + sizeof(input_event) <= size; at += sizeof(input_event)) {
        input_event event;
        std::memcpy(&event, data + at, sizeof event);
        if (event.type == EV_KEY && event.code == KEY_CAMERA && event.value == 1) {
            pressed = true;
            break;
        }
    }
    if (pressed) {
        fuzz::check(completions == 1 && result == usb::kUsbSuccess && length == 4, "a press did not complete the read");
    } else if (at != size) {
        fuzz::check(completions == 1 && result == usb::kUsbErrorNoDevice && length == 0, "a torn event went unnoticed");
    } else {
        fuzz::check(completions == 0, "a read completed without a press");
    }
    button.close();
    QCoreApplication::processEvents();
    return 0;
}
