// SPDX-License-Identifier: GPL-3.0-or-later
// A real camera's stream sent again by the stand-in: a recording's JPEG frames, split and kept
// as they were recorded (damaged ones and stale tails included), with the one MJPEG mode they
// were recorded in.
#include "VirtualCamera_p.h"

#include "CaptureLog.h"
#include "JpegStructure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace quillora::capture {

namespace {

constexpr int kDefaultReplayRate = 30;
constexpr int kMaxReplayRate = 240; // the stand-in's highest frame rate
constexpr std::uint8_t kFrameStart[] = {0xFF, 0xD8, 0xFF};
constexpr qint64 kFirstFrameBytes = 16 * 1024 * 1024; // more than any camera's frame

// Where the next frame starts at or after `from`: a start-of-image marker followed by a marker.
std::size_t nextFrameStart(std::span<const std::uint8_t> bytes, std::size_t from)
{
    if (from >= bytes.size())
        return bytes.size();
    const auto found = std::search(
        bytes.begin() + std::ptrdiff_t(from), bytes.end(), std::begin(kFrameStart), std::end(kFrameStart));
    return std::size_t(found - bytes.begin());
}

bool startsAsJpeg(const QByteArray &bytes)
{
    return bytes.size() >= 3 && std::memcmp(bytes.constData(), kFrameStart, 3) == 0;
}

// Whether `a` comes before `b` with the numbers in them compared as numbers (frame9.jpg before
// frame10.jpg), whatever the locale: recordings are numbered, rarely with enough leading zeros.
bool beforeInNameOrder(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a[endA].isDigit())
                ++endA;
            while (endB < b.size() && b[endB].isDigit())
                ++endB;
            const QString numberA = a.mid(i, endA - i).remove(QRegularExpression(QStringLiteral("^0+")));
            const QString numberB = b.mid(j, endB - j).remove(QRegularExpression(QStringLiteral("^0+")));
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size();
            if (numberA != numberB)
                return numberA < numberB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// The folder's JPEG files in the order of their names.
QStringList frameFiles(const QString &folder)
{
    QStringList files = QDir(folder).entryList(
        {QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.JPG"), QStringLiteral("*.JPEG")},
        QDir::Files | QDir::Readable);
    std::sort(files.begin(), files.end(), beforeInNameOrder);
    return files;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

std::vector<JpegBytes> splitJpegStream(std::span<const std::uint8_t> bytes)
{
    std::vector<JpegBytes> frames;
    std::size_t at = nextFrameStart(bytes, 0);
    while (at < bytes.size()) {
        // A frame runs to the next one: after its end-of-image marker when it has one (a marker
        // inside one of its segments starts nothing), else after its own start.
        const auto layout = jpegLayout(bytes.subspan(at));
        const std::size_t next = nextFrameStart(bytes, at + (layout ? layout->end : 2));
        frames.push_back(std::make_shared<const std::vector<std::uint8_t>>(
            bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(next)));
        at = next;
    }
    return frames;
}

std::vector<JpegBytes> loadReplayFrames(const QString &path)
{
    if (QFileInfo(path).isDir()) {
        std::vector<JpegBytes> frames;
        for (const QString &name : frameFiles(path)) {
            const QByteArray bytes = readFile(QDir(path).filePath(name));
            if (!bytes.isEmpty())
                frames.push_back(std::make_shared<const std::vector<std::uint8_t>>(bytes.begin(), bytes.end()));
        }
        return frames;
    }
    const QByteArray bytes = readFile(path);
    return splitJpegStream(
        std::span(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size())));
}

std::optional<VirtualReplay> virtualReplay(const QString &field)
{
    QString path = field;
    int rate = kDefaultReplayRate;
    static const QRegularExpression rated(QStringLiteral("^(.+)@(\\d{1,3})$"));
    if (const auto m = rated.match(field); m.hasMatch() && !QFileInfo::exists(field)) {
        path = m.captured(1);
        rate = m.captured(2).toInt();
    }
    const QFileInfo info(path);
    if (!info.exists() || rate < 1 || rate > kMaxReplayRate)
        return std::nullopt;
    // A file is a recording when it starts as a JPEG frame; any other file is a mode list.
    QByteArray first;
    if (info.isDir()) {
        const QStringList files = frameFiles(path);
        if (files.isEmpty())
            return std::nullopt;
        first = readFile(QDir(path).filePath(files.front()));
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || !startsAsJpeg(file.peek(3)))
            return std::nullopt;
        // The first frame is all that is read here (cameras are listed often); a recording is
        // read whole when its camera starts.
        first = file.read(kFirstFrameBytes);
    }
    auto layout
        = jpegLayout(std::span(reinterpret_cast<const std::uint8_t *>(first.constData()), std::size_t(first.size())));
    if (!layout || layout->width <= 0 || layout->height <= 0) {
        qCWarning(lcCapture) << "the first frame of the recording cannot be read:" << path;
        return std::nullopt;
    }
    const CameraMode mode{
        QStringLiteral("MJPG"), QSize(layout->width, layout->height), {}, {}, {FrameRate{rate, 1}}, {}, {}};
    return VirtualReplay{info.absoluteFilePath(), mode};
}

} // namespace quillora::capture
