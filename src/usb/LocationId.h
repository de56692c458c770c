#pragma once
// The USB location ID of a device: the bus number in the top byte, then one nibble per hub
// port, outermost first, at most six ports (bus 1, ports 4.2 gives 0x01420000). The camera side
// (from sysfs) and the USB side (from libusb) both form it here, so the two always meet.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace quillora::usb {

constexpr std::size_t kMaxLocationPorts = 6;

// Nothing when the chain cannot be encoded: a bus above 255, a port of 0 or above 15, or more
// than six ports.
inline std::optional<std::uint32_t> encodeLocationId(unsigned bus, std::span<const std::uint8_t> ports)
{
    if (bus > 0xFF || ports.size() > kMaxLocationPorts)
        return std::nullopt;
    std::uint32_t id = std::uint32_t(bus) << 24;
    int shift = 20;
    for (std::uint8_t port : ports) {
        if (port == 0 || port > 0xF)
            return std::nullopt;
        id |= std::uint32_t(port) << shift;
        shift -= 4;
    }
    return id;
}

// The same from sysfs: `busnum` and `devpath` ("4.2"; "0" is the root hub itself).
inline std::optional<std::uint32_t> locationIdFromDevpath(unsigned bus, std::string_view devpath)
{
    std::vector<std::uint8_t> ports;
    if (devpath != "0") {
        unsigned value = 0;
        bool digits = false;
        for (std::size_t i = 0; i <= devpath.size(); ++i) {
            if (i == devpath.size() || devpath[i] == '.') {
                if (!digits || value > 0xFF)
                    return std::nullopt;
                ports.push_back(std::uint8_t(value));
                value = 0;
                digits = false;
            } else if (devpath[i] >= '0' && devpath[i] <= '9') {
                value = value * 10 + unsigned(devpath[i] - '0');
                digits = true;
                if (value > 0xFF)
                    return std::nullopt;
            } else {
                return std::nullopt;
            }
        }
    }
    return encodeLocationId(bus, ports);
}

} // namespace quillora::usb
