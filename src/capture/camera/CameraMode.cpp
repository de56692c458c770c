// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraMode.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <limits>
#include <numeric>

namespace quillora::capture {

namespace {

// Rates as drivers give them are rarely exact (29.97, 30.0003): a little slack each way.
constexpr double kLiveFps = 15.0 - 0.01;
constexpr double kFullFps = 30.0 - 0.1;
constexpr double kMaxFps = 30.0 + 0.01;

struct RawFormat {
    const char *fourcc;
    const char *gstName;
};
// The uncompressed formats videoconvert takes. Bayer, 10-bit and vendor formats are left out:
// a camera that offers them offers one of these too.
constexpr RawFormat kRawFormats[] = {
    {"YUYV", "YUY2"},
    {"UYVY", "UYVY"},
    {"YVYU", "YVYU"},
    {"NV12", "NV12"},
    {"NV21", "NV21"},
    {"YU12", "I420"},
    {"YV12", "YV12"},
    {"GREY", "GRAY8"},
    {"RGB3", "RGB"},
    {"BGR3", "BGR"},
    {"XR24", "BGRx"},
    {"BGR4", "BGRx"},
};

FrameRate reduced(long long num, long long den)
{
    const long long g = std::gcd(num, den);
    if (g > 1) {
        num /= g;
        den /= g;
    }
    return FrameRate{int(num), int(den)};
}

// The rate a mode runs at when chosen: its highest up to 30 fps, else its slowest. A mode
// whose driver names no rates is taken to run at 30 (it sets the rate itself).
FrameRate runningRate(const CameraMode &mode)
{
    if (!mode.rates.empty()) {
        std::optional<FrameRate> best;
        for (const FrameRate &r : mode.rates)
            if (r.fps() <= kMaxFps && (!best || r.fps() > best->fps()))
                best = r;
        if (best)
            return *best;
        return *std::min_element(mode.rates.begin(), mode.rates.end(),
            [](const FrameRate &a, const FrameRate &b) { return a.fps() < b.fps(); });
    }
    if (mode.maxRate) {
        if (mode.maxRate->fps() <= kMaxFps)
            return *mode.maxRate;
        if (!mode.minRate || mode.minRate->fps() <= kMaxFps)
            return FrameRate{30, 1};
        return *mode.minRate;
    }
    return FrameRate{30, 1};
}

struct Candidate {
    QString fourcc;
    QSize size;
    FrameRate rate;
    bool raw = false;
};

bool fitsRange(const CameraMode &m, QSize s)
{
    if (s.width() < m.minSize.width() || s.height() < m.minSize.height() || s.width() > m.size.width()
        || s.height() > m.size.height())
        return false;
    const int sw = std::max(1, m.step.width());
    const int sh = std::max(1, m.step.height());
    return (s.width() - m.minSize.width()) % sw == 0 && (s.height() - m.minSize.height()) % sh == 0;
}

// The sizes of a mode that matter for `requested`: a discrete mode has one; a range offers the
// requested size itself, the next size up on its grid, and its largest.
std::vector<QSize> candidateSizes(const CameraMode &m, QSize requested)
{
    if (!m.isRange())
        return {m.size};
    std::vector<QSize> sizes;
    if (fitsRange(m, requested))
        sizes.push_back(requested);
    const int sw = std::max(1, m.step.width());
    const int sh = std::max(1, m.step.height());
    auto up = [](int value, int lowest, int step) {
        const int from = std::max(value, lowest) - lowest;
        return lowest + (from + step - 1) / step * step;
    };
    const QSize rounded(up(requested.width(), m.minSize.width(), sw), up(requested.height(), m.minSize.height(), sh));
    if (rounded != requested && fitsRange(m, rounded))
        sizes.push_back(rounded);
    sizes.push_back(m.size);
    return sizes;
}

std::vector<Candidate> candidates(const std::vector<CameraMode> &modes, QSize requested)
{
    std::vector<Candidate> out;
    for (const CameraMode &m : modes) {
        const bool raw = !rawFormatName(m.fourcc).isEmpty();
        if (!raw && !isMjpeg(m.fourcc))
            continue;
        if (m.size.isEmpty())
            continue;
        const FrameRate rate = runningRate(m);
        if (rate.num <= 0 || rate.den <= 0)
            continue;
        for (const QSize s : candidateSizes(m, requested))
            out.push_back(Candidate{m.fourcc, s, rate, raw});
    }
    return out;
}

// At one size: raw when raw reaches 30 fps, else MJPEG at 15 or more, else raw at 15 or more.
// Without `live`, the fastest there is (raw on a tie: it costs no decoding).
const Candidate *pickAtSize(const std::vector<Candidate> &all, QSize size, bool live)
{
    const Candidate *fullRaw = nullptr;
    const Candidate *mjpeg = nullptr;
    const Candidate *slowRaw = nullptr;
    const Candidate *fastest = nullptr;
    auto faster = [](const Candidate *best, const Candidate &c) {
        return !best || c.rate.fps() > best->rate.fps() + 0.01
            || (c.rate.fps() > best->rate.fps() - 0.01 && c.raw && !best->raw);
    };
    for (const Candidate &c : all) {
        if (c.size != size)
            continue;
        if (faster(fastest, c))
            fastest = &c;
        if (c.rate.fps() < kLiveFps)
            continue;
        if (c.raw && c.rate.fps() >= kFullFps && faster(fullRaw, c))
            fullRaw = &c;
        else if (!c.raw && faster(mjpeg, c))
            mjpeg = &c;
        else if (c.raw && faster(slowRaw, c))
            slowRaw = &c;
    }
    if (fullRaw)
        return fullRaw;
    if (mjpeg)
        return mjpeg;
    if (slowRaw)
        return slowRaw;
    return live ? nullptr : fastest;
}

qint64 area(QSize s)
{
    return qint64(s.width()) * s.height();
}

ChosenMode chosen(const Candidate &c)
{
    return ChosenMode{c.fourcc, c.size, c.rate};
}

} // namespace

QString rawFormatName(const QString &fourcc)
{
    for (const RawFormat &f : kRawFormats)
        if (fourcc == QLatin1String(f.fourcc))
            return QString::fromLatin1(f.gstName);
    return {};
}

bool isMjpeg(const QString &fourcc)
{
    return fourcc == QLatin1String("MJPG") || fourcc == QLatin1String("JPEG");
}

std::optional<ChosenMode> chooseCameraMode(const std::vector<CameraMode> &modes, QSize requested)
{
    const std::vector<Candidate> all = candidates(modes, requested);
    if (all.empty())
        return std::nullopt;
    if (const Candidate *c = pickAtSize(all, requested, true))
        return chosen(*c);

    // The smallest size that covers the request, first among those of its shape.
    for (const bool sameAspect : {true, false}) {
        const Candidate *best = nullptr;
        for (const Candidate &c : all) {
            if (c.size.width() < requested.width() || c.size.height() < requested.height())
                continue;
            if (sameAspect
                && area(QSize(c.size.width(), requested.height())) != area(QSize(requested.width(), c.size.height())))
                continue;
            if (best && area(c.size) >= area(best->size))
                continue;
            if (const Candidate *pick = pickAtSize(all, c.size, true))
                best = pick;
        }
        if (best)
            return chosen(*best);
    }

    // Nothing covers it: the largest size the camera shows live, else the largest it has. A
    // preview at two frames a second looks like a frozen window; a smaller live picture
    // does not.
    QSize largestLive;
    QSize largest;
    for (const Candidate &c : all) {
        if (area(c.size) > area(largest))
            largest = c.size;
        if (area(c.size) > area(largestLive) && pickAtSize(all, c.size, true))
            largestLive = c.size;
    }
    if (!largestLive.isEmpty())
        return chosen(*pickAtSize(all, largestLive, true));
    return chosen(*pickAtSize(all, largest, false));
}

std::vector<CameraMode> withoutMode(const std::vector<CameraMode> &modes, const ChosenMode &refused)
{
    std::vector<CameraMode> out;
    for (const CameraMode &m : modes) {
        if (m.fourcc != refused.fourcc) {
            out.push_back(m);
        } else if (m.isRange()) {
            // A range cannot lose one size; it loses itself when that size came from it.
            if (!fitsRange(m, refused.size) && m.size != refused.size)
                out.push_back(m);
        } else if (m.size != refused.size) {
            out.push_back(m);
        }
    }
    return out;
}

QString describeMode(const ChosenMode &mode)
{
    const QString format = isMjpeg(mode.fourcc) ? QStringLiteral("MJPEG") : rawFormatName(mode.fourcc);
    const double fps = mode.rate.fps();
    QString rate = QString::number(fps, 'f', 2);
    while (rate.endsWith(QLatin1Char('0')))
        rate.chop(1);
    if (rate.endsWith(QLatin1Char('.')))
        rate.chop(1);
    return QStringLiteral("%1 %2x%3 @ %4 fps").arg(format).arg(mode.size.width()).arg(mode.size.height()).arg(rate);
}

QString modeCapsString(const ChosenMode &mode)
{
    const QString head = isMjpeg(mode.fourcc) ? QStringLiteral("image/jpeg")
                                              : QStringLiteral("video/x-raw,format=%1").arg(rawFormatName(mode.fourcc));
    return QStringLiteral("%1,width=%2,height=%3,framerate=%4/%5")
        .arg(head)
        .arg(mode.size.width())
        .arg(mode.size.height())
        .arg(mode.rate.num)
        .arg(mode.rate.den);
}

namespace {

// "30.000" -> 30/1, "7.500" -> 15/2.
std::optional<FrameRate> parseFps(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^(\\d{1,6})(?:\\.(\\d{1,6}))?$"));
    const auto m = number.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QString fraction = m.captured(2);
    long long den = 1;
    for (int i = 0; i < fraction.size(); ++i)
        den *= 10;
    const long long num = m.captured(1).toLongLong() * den + (fraction.isEmpty() ? 0 : fraction.toLongLong());
    if (num <= 0)
        return std::nullopt;
    // "999999.999999" reduces to nothing an int holds: no camera runs at such a rate.
    if (num / std::gcd(num, den) > std::numeric_limits<int>::max())
        return std::nullopt;
    return reduced(num, den);
}

// A rate as v4l2-ctl writes it ("30.000"), with as many more digits as the rate has (up to the
// six a listing may carry), so that a listing written out reads back as the same rates.
QString fpsText(const FrameRate &rate)
{
    QString text = QString::number(rate.fps(), 'f', 6);
    while (text.endsWith(QLatin1Char('0')) && text.size() - text.indexOf(QLatin1Char('.')) > 4)
        text.chop(1);
    return text;
}

bool validSize(int w, int h)
{
    return w > 0 && h > 0 && w <= 16384 && h <= 16384;
}

// The mode of a "Size: Stepwise/Continuous" line; nothing for a range that makes no sense.
std::optional<CameraMode> sizeRangeMode(const QRegularExpressionMatch &m, const QString &fourcc)
{
    const QSize low(m.captured(2).toInt(), m.captured(3).toInt());
    const QSize high(m.captured(4).toInt(), m.captured(5).toInt());
    const QSize step = m.captured(6).isEmpty() ? QSize(1, 1) : QSize(m.captured(6).toInt(), m.captured(7).toInt());
    if (!validSize(low.width(), low.height()) || !validSize(high.width(), high.height()) || low.width() > high.width()
        || low.height() > high.height() || step.width() <= 0 || step.height() <= 0)
        return std::nullopt;
    return CameraMode{fourcc, high, low, step, {}, {}, {}};
}

} // namespace

std::vector<CameraMode> parseModeListing(const QString &text)
{
    static const QRegularExpression formatLine(QStringLiteral("^\\[\\d+\\]:\\s*'(.{1,4})'"));
    static const QRegularExpression oldFormatLine(QStringLiteral("^Pixel Format\\s*:\\s*'(.{1,4})'"));
    static const QRegularExpression typeLine(QStringLiteral("^Type\\s*:\\s*(.*)$"));
    static const QRegularExpression discreteSize(QStringLiteral("^Size:\\s*Discrete\\s+(\\d{1,5})x(\\d{1,5})\\s*$"));
    static const QRegularExpression rangeSize(
        QStringLiteral("^Size:\\s*(Stepwise|Continuous)\\s+(\\d{1,5})x(\\d{1,5})\\s*-\\s*(\\d{1,5})x(\\d{1,5})(?:\\s+"
                       "with step (\\d{1,5})/(\\d{1,5}))?"));
    static const QRegularExpression discreteInterval(
        QStringLiteral("^Interval:\\s*Discrete\\s+\\S+\\s+\\(([\\d.]+) fps\\)"));
    static const QRegularExpression rangeInterval(
        QStringLiteral("^Interval:\\s*(?:Stepwise|Continuous)\\s+.*\\(([\\d.]+)-([\\d.]+) fps\\)"));

    std::vector<CameraMode> modes;
    QString fourcc;
    bool capture = true;
    CameraMode *current = nullptr;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (auto m = typeLine.match(line); m.hasMatch()) {
            // Output and overlay formats of the same device are no picture to capture.
            capture = m.captured(1).contains(QLatin1String("Capture"));
            fourcc.clear();
            current = nullptr;
            continue;
        }
        if (auto m = formatLine.match(line); m.hasMatch()) {
            fourcc = m.captured(1).trimmed();
            current = nullptr;
            continue;
        }
        if (auto m = oldFormatLine.match(line); m.hasMatch()) {
            fourcc = m.captured(1).trimmed();
            current = nullptr;
            continue;
        }
        if (!capture || fourcc.isEmpty())
            continue;
        if (auto m = discreteSize.match(line); m.hasMatch()) {
            current = nullptr;
            const int w = m.captured(1).toInt();
            const int h = m.captured(2).toInt();
            if (!validSize(w, h))
                continue;
            modes.push_back(CameraMode{fourcc, QSize(w, h), {}, {}, {}, {}, {}});
            current = &modes.back();
            continue;
        }
        if (auto m = rangeSize.match(line); m.hasMatch()) {
            current = nullptr;
            if (auto mode = sizeRangeMode(m, fourcc)) {
                modes.push_back(*mode);
                current = &modes.back();
            }
            continue;
        }
        if (!current)
            continue;
        if (auto m = discreteInterval.match(line); m.hasMatch()) {
            if (auto rate = parseFps(m.captured(1)))
                current->rates.push_back(*rate);
            continue;
        }
        if (auto m = rangeInterval.match(line); m.hasMatch()) {
            auto low = parseFps(m.captured(1));
            auto high = parseFps(m.captured(2));
            if (low && high && low->fps() <= high->fps()) {
                current->minRate = low;
                current->maxRate = high;
            }
        }
    }
    return modes;
}

std::optional<std::vector<CameraMode>> readModeListing(const QString &path)
{
    constexpr qint64 kMaxBytes = 1 << 20;
    QFile file(path);
    if (file.size() > kMaxBytes || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseModeListing(QString::fromUtf8(file.read(kMaxBytes)));
}

QString formatModeListing(const std::vector<CameraMode> &modes)
{
    QString out = QStringLiteral("ioctl: VIDIOC_ENUM_FMT\n\tType: Video Capture\n");
    QString lastFourcc;
    int index = -1;
    for (const CameraMode &m : modes) {
        if (m.fourcc != lastFourcc || index < 0) {
            lastFourcc = m.fourcc;
            out += QStringLiteral("\n\t[%1]: '%2' (%3)\n").arg(++index).arg(m.fourcc, m.fourcc);
        }
        if (m.isRange())
            out += QStringLiteral("\t\tSize: Stepwise %1x%2 - %3x%4 with step %5/%6\n")
                       .arg(m.minSize.width())
                       .arg(m.minSize.height())
                       .arg(m.size.width())
                       .arg(m.size.height())
                       .arg(m.step.width())
                       .arg(m.step.height());
        else
            out += QStringLiteral("\t\tSize: Discrete %1x%2\n").arg(m.size.width()).arg(m.size.height());
        for (const FrameRate &r : m.rates)
            out += QStringLiteral("\t\t\tInterval: Discrete %1s (%2 fps)\n")
                       .arg(1.0 / r.fps(), 0, 'f', 3)
                       .arg(fpsText(r));
        if (m.minRate && m.maxRate)
            out += QStringLiteral("\t\t\tInterval: Continuous %1s - %2s (%3-%4 fps)\n")
                       .arg(1.0 / m.maxRate->fps(), 0, 'f', 3)
                       .arg(1.0 / m.minRate->fps(), 0, 'f', 3)
                       .arg(fpsText(*m.minRate), fpsText(*m.maxRate));
    }
    return out;
}

const std::vector<CameraMode> &documentCameraModes()
{
    static const std::vector<CameraMode> modes = [] {
        auto mode = [](const char *fourcc, int w, int h, std::vector<FrameRate> rates) {
            return CameraMode{QString::fromLatin1(fourcc), QSize(w, h), {}, {}, std::move(rates), {}, {}};
        };
        const std::vector<FrameRate> full{{30, 1}, {15, 1}};
        return std::vector<CameraMode>{
            mode("MJPG", 2592, 1944, {{15, 1}}),
            mode("MJPG", 2048, 1536, full),
            mode("MJPG", 1600, 1200, full),
            mode("MJPG", 1280, 1024, full),
            mode("MJPG", 1280, 720, full),
            mode("MJPG", 640, 480, full),
            mode("MJPG", 320, 240, full),
            mode("YUYV", 640, 480, full),
            mode("YUYV", 320, 240, full),
            mode("YUYV", 1280, 1024, {{5, 1}}),
            mode("YUYV", 2592, 1944, {{2, 1}}),
        };
    }();
    return modes;
}

} // namespace quillora::capture
