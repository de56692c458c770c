#pragma once
// Reads a movie back with GStreamer, the way a player would: what its container holds
// (discoverer) and whether every sample of it decodes to the end.
#include <QSize>
#include <QString>

#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace quillora::test {

struct MovieInfo {
    QString error;     // empty when the movie could be read
    QString container; // caps name of the container, "video/quicktime" for a .mov
    int videoTracks = 0;
    QString videoCodec; // caps name, "video/x-h264"
    QSize pictureSize;
    int audioTracks = 0;
    QString audioCodec; // caps name, "audio/mpeg" (with mpegversion 4 for AAC)
    int audioMpegVersion = 0;
    int sampleRate = 0;
    double durationSeconds = 0;
};

// Reads the container and its tracks (GstDiscoverer).
MovieInfo discoverMovie(const QString &path);

struct DecodedMovie {
    QString error;                         // empty when decoding reached the end without an error
    quint64 videoFrames = 0;               // decoded pictures
    quint64 audioBuffers = 0;              // decoded sound buffers
    double videoStart = -1, videoEnd = -1; // seconds, first picture's start and last one's end
    double audioStart = -1, audioEnd = -1;
};

// Decodes every track to its end (demuxer and decoders, no clock).
DecodedMovie decodeMovie(const QString &path, int timeoutSeconds = 60);

} // namespace quillora::test
