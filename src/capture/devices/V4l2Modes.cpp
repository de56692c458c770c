// SPDX-License-Identifier: GPL-3.0-or-later
#include "V4l2Modes.h"

#include "UniqueFd.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>

namespace quillora::capture {

namespace {

int xioctl(int fd, unsigned long request, void *arg)
{
    int rc;
    do {
        rc = ::ioctl(fd, request, arg);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

QString fourccText(std::uint32_t code)
{
    QString out;
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (8 * i)) & 0xff);
        out += QLatin1Char(c >= 0x20 && c < 0x7f ? c : '?');
    }
    return out.trimmed();
}

// Drivers give intervals in seconds (num/den); a rate is the inverse.
std::optional<FrameRate> rateOf(const v4l2_fract &interval)
{
    if (interval.numerator == 0 || interval.denominator == 0 || interval.numerator > 1000000
        || interval.denominator > 100000000)
        return std::nullopt;
    return FrameRate{int(interval.denominator), int(interval.numerator)};
}

void readIntervals(int fd, std::uint32_t pixelformat, CameraMode &mode)
{
    // A driver that lists endless intervals must not keep us here: a camera has a handful.
    for (std::uint32_t index = 0; index < 64; ++index) {
        v4l2_frmivalenum ival{};
        ival.index = index;
        ival.pixel_format = pixelformat;
        ival.width = std::uint32_t(mode.size.width());
        ival.height = std::uint32_t(mode.size.height());
        if (xioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &ival) != 0)
            return;
        if (ival.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (auto rate = rateOf(ival.discrete))
                mode.rates.push_back(*rate);
            continue;
        }
        // Stepwise or continuous: the shortest interval is the highest rate.
        mode.maxRate = rateOf(ival.stepwise.min);
        mode.minRate = rateOf(ival.stepwise.max);
        if (!mode.maxRate || !mode.minRate)
            mode.maxRate = mode.minRate = std::nullopt;
        return;
    }
}

void readSizes(int fd, const v4l2_fmtdesc &format, std::vector<CameraMode> &out)
{
    const QString fourcc = fourccText(format.pixelformat);
    for (std::uint32_t index = 0; index < 256; ++index) {
        v4l2_frmsizeenum size{};
        size.index = index;
        size.pixel_format = format.pixelformat;
        if (xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0)
            return;
        CameraMode mode;
        mode.fourcc = fourcc;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            mode.size = QSize(int(size.discrete.width), int(size.discrete.height));
            if (mode.size.isEmpty() || mode.size.width() > 16384 || mode.size.height() > 16384)
                continue;
            readIntervals(fd, format.pixelformat, mode);
            out.push_back(std::move(mode));
            continue;
        }
        const auto &s = size.stepwise;
        mode.minSize = QSize(int(s.min_width), int(s.min_height));
        mode.size = QSize(int(s.max_width), int(s.max_height));
        mode.step = size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS
            ? QSize(1, 1)
            : QSize(int(std::max<std::uint32_t>(1, s.step_width)), int(std::max<std::uint32_t>(1, s.step_height)));
        if (!mode.minSize.isEmpty() && mode.size.width() <= 16384 && mode.size.height() <= 16384
            && mode.minSize.width() <= mode.size.width() && mode.minSize.height() <= mode.size.height())
            out.push_back(std::move(mode));
        return;
    }
}

} // namespace

std::vector<CameraMode> queryCameraModes(const QString &devicePath, QString *error)
{
    std::vector<CameraMode> out;
    const QByteArray path = QFile::encodeName(devicePath);
    // Non-blocking: listing modes must not wait for a camera that streams elsewhere.
    UniqueFd fd(::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(devicePath, QString::fromLocal8Bit(std::strerror(errno)));
        return out;
    }
    for (const std::uint32_t type :
        {std::uint32_t(V4L2_BUF_TYPE_VIDEO_CAPTURE), std::uint32_t(V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE)}) {
        for (std::uint32_t index = 0; index < 64; ++index) {
            v4l2_fmtdesc format{};
            format.index = index;
            format.type = type;
            if (xioctl(fd.get(), VIDIOC_ENUM_FMT, &format) != 0)
                break;
            readSizes(fd.get(), format, out);
        }
    }
    return out;
}

} // namespace quillora::capture
