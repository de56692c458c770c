// SPDX-License-Identifier: GPL-3.0-or-later
// The texts a location ID is read from: a USB device's `busnum` and `devpath` in sysfs, and the
// camera's unique identifier ("0x" + location + vendor + product) that the controller reads it
// back from. Input: the bus number's text, a line feed, the devpath, a line feed, a unique
// identifier as UTF-8.
#include "FuzzSupport.h"
#include "LocationId.h"

#include <QString>

#include <charconv>
#include <string_view>
#include <vector>

using namespace quillora;

namespace {

std::u16string_view utf16(const QString &text)
{
    return std::u16string_view(QStringView(text).utf16(), std::size_t(text.size()));
}

std::string_view nextLine(std::string_view &rest)
{
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return line;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view rest(reinterpret_cast<const char *>(data), size);
    const std::string_view busText = nextLine(rest);
    const std::string_view devpath = nextLine(rest);
    const std::string_view uniqueId = rest;

    unsigned bus = 0;
    const auto parsed = std::from_chars(busText.data(), busText.data() + busText.size(), bus);
    if (parsed.ec == std::errc()) {
        if (const auto location = devices::locationIdFromDevpath(bus, devpath)) {
            // The chain comes back out of the ID: the bus, then one nibble per port up to the
            // first empty one, and the same ports encode to the same ID again.
            fuzz::check((*location >> 24) == bus, "bus lost in the location ID");
            std::vector<std::uint8_t> ports;
            for (int shift = 20; shift >= 0 && ((*location >> shift) & 0xF); shift -= 4)
                ports.push_back(std::uint8_t((*location >> shift) & 0xF));
            fuzz::check((*location & ((1u << (24 - 4 * ports.size())) - 1)) == 0, "a port after an empty one");
            fuzz::check(devices::encodeLocationId(bus, ports) == location, "ports do not encode to the same ID");
            std::string chain;
            for (std::size_t i = 0; i < ports.size(); ++i)
                chain += (i ? "." : "") + std::to_string(ports[i]);
            if (chain.empty())
                chain = "0";
            fuzz::check(devices::locationIdFromDevpath(bus, chain) == location, "the plain devpath gives another ID");

            // The identifier the camera list makes of it gives the same location back.
            const QString made = QString::asprintf("0x%08x%04x%04x", *location, 0x090cu, 0x037au);
            fuzz::check(
                devices::locationIdFromUniqueId(utf16(made)) == *location, "unique identifier loses the location");
        }
    }

    // Any identifier at all (a virtual camera's is whatever the environment says).
    const QString text = QString::fromUtf8(uniqueId.data(), qsizetype(uniqueId.size()));
    const std::uint32_t location = devices::locationIdFromUniqueId(utf16(text));
    fuzz::check(location == 0 || text.startsWith(QLatin1String("0x")), "a location from an identifier without 0x");
    return 0;
}
