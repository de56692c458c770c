// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads a movie back with GStreamer as a player would: what its container holds (discoverer)
// and whether every sample of it decodes to the end.
#include <QImage>
#include <QSize>
#include <QString>

#include <ostream>
#include <vector>

// Readable QStrings in test failures.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace quillora::test {

struct MovieInfo {
    QString error;                             // empty when the movie could be read
    QString container, videoCodec, audioCodec; // caps names: "video/quicktime", "video/x-h264", "audio/mpeg"
    int audioTracks = 0, audioMpegVersion = 0, sampleRate = 0;
    QSize pictureSize;
    double durationSeconds = 0;
};
MovieInfo discoverMovie(const QString &path);

struct DecodedMovie {
    QString error; // empty when decoding reached the end without an error
    quint64 videoFrames = 0, audioBuffers = 0;
    double videoStart = -1, videoEnd = -1; // seconds, first picture's start and last one's end
    double audioStart = -1, audioEnd = -1;
};
DecodedMovie decodeMovie(const QString &path, int timeoutSeconds = 60);

// Empty when the movie decodes to its end with more than `minFrames` pictures and, with
// `sound`, some sound; otherwise what is wrong.
QString playProblem(const QString &path, quint64 minFrames, bool sound = true);

// The movie's first picture as decoded (RGB32); null when it cannot be decoded.
QImage firstPicture(const QString &path);
// Its first `most` pictures as decoded (RGB32), fewer when it ends or stops decoding before.
std::vector<QImage> pictures(const QString &path, int most);

} // namespace quillora::test
