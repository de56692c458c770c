// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The movie file output: compresses the camera's picture (H.264) and, when the session has a
// sound input, its sound (AAC) into a QuickTime movie. Adding it to a session prepares the
// recording configuration; the file itself is started and ended by recordToOutputFileURL.
// The end of every recording, also one that failed, reaches the delegate once, on the main
// thread, after the file is complete and closed.
#include "CaptureSession.h"
#include "CompressionOptions.h"

#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QObject;

namespace quillora::capture {

// The way one input of the session reaches the movie: one connection per media type.
class CaptureConnection {
public:
    explicit CaptureConnection(QString mediaType)
        : m_mediaType(std::move(mediaType))
    {
    }
    QString mediaType() const { return m_mediaType; }

private:
    QString m_mediaType;
};
using CaptureConnectionPtr = std::shared_ptr<CaptureConnection>;

// What went into the movie so far.
struct MovieStatistics {
    quint64 framesOffered = 0; // pictures the camera handed to the movie
    quint64 framesWritten = 0; // compressed pictures that reached the file
    quint64 soundBuffers = 0;  // compressed sound packets that reached the file
    QSize pictureSize;         // size of the movie's picture, once known
    // How much sound went into the movie past the end of its last picture: sound that was
    // already on its way when the picture was cut off (a camera that lags behind the sound).
    std::chrono::microseconds soundPastPicture{0};
};

// Why a movie ended other than as asked, as a value the window can put in plain words (the
// error text carries the details for the log).
enum class MovieFault {
    None,              // completed as asked
    FolderMissing,     // the movie folder does not exist
    FolderNotWritable, // the folder or the file cannot be written
    DiskFull,          // no space left while writing
    WriteFailed,       // writing or encoding failed otherwise
    CameraStopped,     // the camera stopped sending pictures (unplugged, say)
    SoundStopped,      // the sound input went away; the movie was ended with what it had
    NotStarted,        // no picture was ever recorded (the camera had not started)
    TooLong,           // the longest movie length was reached; the movie is complete
};

class MovieFileOutput : public CaptureOutput {
public:
    // The finish callback: the output, the movie's file URL, an empty error when the movie
    // was completed as asked, the kind of fault otherwise, and whether the file was completed
    // (its end, the final index included, reached the file) whatever ended the recording.
    using FinishHandler = std::function<void(
        MovieFileOutput *output, const QUrl &url, const QString &error, MovieFault fault, bool complete)>;

    MovieFileOutput();
    ~MovieFileOutput() override;
    MovieFileOutput(const MovieFileOutput &) = delete;
    MovieFileOutput &operator=(const MovieFileOutput &) = delete;

    // The finish is delivered through `receiver`'s event queue (so on its thread, the main
    // thread), and never once `receiver` is gone.
    void setDelegate(QObject *receiver, FinishHandler handler);

    // One connection per media type of the session's inputs, video first; empty until the
    // output is added to a session.
    std::vector<CaptureConnectionPtr> connections() const;
    // nullptr options leave the connection with this program's default for its media type
    // (the 640x480 picture, AAC sound).
    void setCompressionOptions(const CompressionOptionsPtr &options, const CaptureConnectionPtr &connection);
    CompressionOptionsPtr compressionOptionsForConnection(const CaptureConnectionPtr &connection) const;

    // A file URL starts writing the movie to that file, replacing what is there; an empty
    // URL ends the recording, and the finish callback follows once the file is complete.
    // Main thread. A request that cannot start (no session running, an unwritable file)
    // is reported through the finish callback like any other end.
    void recordToOutputFileURL(const QUrl &url);
    QUrl outputFileURL() const;
    // From a start request until its finish has been delivered (or taken by finishNow).
    bool isRecording() const;

    struct Finish {
        QUrl url;
        QString error;
        MovieFault fault = MovieFault::None;
        bool complete = false; // the file's end reached it: a whole movie
    };
    // Ends the recording now and waits, at most `timeout`, for the file to be complete.
    // The finish is handed back here instead of to the delegate. Nothing when no recording
    // was under way. Main thread.
    std::optional<Finish> finishNow(std::chrono::milliseconds timeout);

    // The longest movie, for which the file keeps its index space; a recording that reaches
    // it is ended like a stop request. One hour unless set.
    void setMaximumDuration(std::chrono::seconds duration);
    // The index space kept per track and second of the longest movie, in bytes; 0 (the default)
    // leaves the muxer's own estimate. A recording whose index fills it faster is ended before
    // the space runs out, as one that reaches the longest length.
    void setIndexBytesPerSecond(unsigned bytes);
    // How long a stop request may take before the file is closed as it is.
    void setFinishTimeout(std::chrono::milliseconds timeout);

    MovieStatistics statistics() const;

protected:
    void addedToSession(const std::vector<std::shared_ptr<CaptureDeviceInput>> &inputs) override;
    bool attach(SessionGraph &graph, QString *error) override;
    void detach(SessionGraph &graph) override;
    bool busMessage(SessionGraph &graph, void *gstMessage) override;
    QSize preferredSourceSize() const override;
    bool takesViewSizedPicture() const override { return true; }
    QString describe() const override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace quillora::capture
