// SPDX-License-Identifier: GPL-3.0-or-later
#include "Sysfs.h"

#include "UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace quillora::usb {

namespace {
// Attributes are at most a page; anything longer is not one of ours.
constexpr std::size_t kMaxAttributeSize = 4096;
} // namespace

std::optional<std::string> readSysfsAttribute(const std::string &path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return std::nullopt;
    std::string text;
    char buffer[256];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            break;
        text.append(buffer, std::size_t(got));
        if (text.size() > kMaxAttributeSize)
            return std::nullopt;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

std::optional<unsigned> readSysfsUnsigned(const std::string &path)
{
    const auto text = readSysfsAttribute(path);
    if (!text || text->empty())
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size())
        return std::nullopt;
    return value;
}

} // namespace quillora::usb
