#pragma once
// The owner of a file descriptor of the USB layer (a video node kept open for the driver road):
// closed exactly once, when the owner goes away.
#include <unistd.h>

#include <utility>

namespace quillora::usb {

class FdOwner {
public:
    FdOwner() = default;
    explicit FdOwner(int fd)
        : m_fd(fd)
    {
    }
    ~FdOwner() { reset(); }
    FdOwner(FdOwner &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    FdOwner &operator=(FdOwner &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    FdOwner(const FdOwner &) = delete;
    FdOwner &operator=(const FdOwner &) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

} // namespace quillora::usb
