// SPDX-License-Identifier: GPL-3.0-or-later
#include "Sysfs.h"

#include "UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <memory>
#include <string_view>

namespace quillora::devices {

namespace {
// The one owner of a directory stream.
struct DirCloser {
    void operator()(DIR *stream) const { closedir(stream); }
};

// Attributes are at most a page; anything longer is not one of ours.
constexpr std::size_t kMaxAttributeSize = 4096;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0';
}
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
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

std::optional<unsigned> readSysfsUnsigned(const std::string &path, int base)
{
    const auto text = readSysfsAttribute(path);
    if (!text || text->empty())
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value, base);
    if (error != std::errc() || end != text->data() + text->size())
        return std::nullopt;
    return value;
}

std::string ueventValue(const std::string &ueventPath, const std::string &key)
{
    const auto text = readSysfsAttribute(ueventPath);
    if (!text)
        return {};
    const std::string prefix = key + '=';
    std::size_t at = 0;
    while (at <= text->size()) {
        const std::size_t end = std::min(text->find('\n', at), text->size());
        const std::string_view line(text->data() + at, end - at);
        if (line.substr(0, prefix.size()) == prefix) {
            std::string_view value = line.substr(prefix.size());
            while (!value.empty() && isBlank(value.front()))
                value.remove_prefix(1);
            while (!value.empty() && isBlank(value.back()))
                value.remove_suffix(1);
            return std::string(value);
        }
        at = end + 1;
    }
    return {};
}

std::string canonicalPath(const std::string &path)
{
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    return error ? std::string() : real.string();
}

std::vector<std::string> directoryEntries(const std::string &dir)
{
    std::vector<std::string> names;
    // Opened here with open and handed to fdopendir, not with opendir, which opens it inside the
    // C library: ThreadSanitizer then sees the descriptor made here. The kernel hands out again a
    // number that another thread's library has just closed where the sanitizer does not look
    // (libusb starting up on the listener's thread), and a descriptor it did not see made looked
    // like a race on that number at the closedir. Nothing else is shared.
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return names;
    const std::unique_ptr<DIR, DirCloser> stream(fdopendir(fd)); // the stream's from here
    if (!stream) {
        ::close(fd);
        return names;
    }
    while (const dirent *entry = readdir(stream.get())) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace quillora::devices
