// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the movie output: its state, shared by its parts: starting a recording
// (MovieFileOutput.cpp), building and unlinking its branch (MovieFileOutput_branch.cpp) and
// finishing the file (MovieFileOutput_finish.cpp).
#include "GstHandles.h"
#include "HandOff.h"
#include "MovieFileOutput.h"
#include "MovieStream.h"
#include "ProgramClock.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

namespace quillora::capture {

constexpr std::chrono::seconds kDefaultMaximumDuration{3600};
constexpr std::chrono::milliseconds kDefaultFinishTimeout{5000};
// How often a recording looks whether it reached the longest length.
constexpr std::chrono::milliseconds kLimitPollInterval{250};

struct MovieFileOutput::Private {
    enum class State {
        Idle,      // no recording
        Starting,  // asked for, waiting for the session to be playing
        Recording, // writing the file
        Finishing, // the end of stream is on its way to the file
        Reporting, // the file is closed; the finish waits in the delegate's queue
    };

    explicit Private(MovieFileOutput *owner);

    ~Private()
    {
        if (pending)
            pending->owner = nullptr;
    }

    MovieFileOutput *q;
    Clock &clock = programClock(); // every time of a recording: its timers, its length, the sound's silence
    Mailbox context;               // news from the streaming threads land here, on the main thread
    // The times a recording keeps: how long a finish may take, how long the sound may be quiet.
    std::unique_ptr<ClockTimer> watchdog;
    std::unique_ptr<ClockTimer> soundFallback;
    // Polls of what others do (whether the session plays yet, how far the file's index is
    // filled): they only look, so they run on Qt's own timers; how long is measured on `clock`.
    QTimer limitPoll{&context};
    QTimer startPoll{&context};
    std::chrono::microseconds startRequested{}; // on `clock`: when a start began waiting for the session

    QPointer<QObject> delegateReceiver;
    FinishHandler handler;

    std::vector<CaptureConnectionPtr> connections;
    std::vector<std::pair<CaptureConnectionPtr, CompressionOptionsPtr>> options;

    SessionGraph *graph = nullptr; // while attached
    State state = State::Idle;
    QUrl url;
    QString error;                                // the first failure of the recording under way
    MovieFault fault = MovieFault::None;          // its kind
    std::chrono::microseconds recordingStarted{}; // on `clock`

    ElementPtr bin;                        // the movie branch, in the pipeline while recording
    PadPtr teePad;                         // the camera tee's pad that feeds the branch
    GstElement *soundSource = nullptr;     // the session's sound source, in `bin` while recording
    GstElement *usedSoundSource = nullptr; // the same, kept for its late messages while attached
    gulong soundGate = 0;                  // the probe that lines the sound up with the picture
    GstElement *mux = nullptr;             // owned by `bin`
    StreamStatePtr stream;
    std::vector<ElementPtr> retired; // branches of earlier recordings, for late messages

    std::chrono::seconds maximumDuration = kDefaultMaximumDuration;
    unsigned indexBytesPerSecond = 0; // 0: the muxer's own
    std::chrono::milliseconds finishTimeout = kDefaultFinishTimeout;
    MovieStatistics lastStatistics;

    // The finish waiting in the delegate's queue; cancelled when finishNow takes it.
    struct Delivery {
        bool cancelled = false;
        Private *owner = nullptr; // cleared when the output goes first
        Finish finish;
    };
    std::shared_ptr<Delivery> pending;

    CompressionOptionsPtr optionsFor(const QString &mediaType) const
    {
        for (const auto &[connection, opts] : options)
            if (connection->mediaType() == mediaType)
                return opts;
        return nullptr;
    }
    bool hasConnection(const QString &mediaType) const
    {
        for (const auto &c : connections)
            if (c->mediaType() == mediaType)
                return true;
        return false;
    }

    bool checkTarget(const QUrl &target, QString *why);
    bool sessionPlaying() const;
    void continueStart();
    // Building the branch and taking it out again (MovieFileOutput_branch.cpp).
    bool startRecording(QString *why);
    bool takeSoundSource(GstBin *branchBin, GstElement *soundQueue, const StreamStatePtr &shared, QString *why);
    bool plugBranchIn(
        ElementPtr branch, GstElement *muxer, const StreamStatePtr &shared, const QString &path, QString *why);
    void shutdownBranch();
    // The finish (MovieFileOutput_finish.cpp).
    void beginEnding(const QString &why, MovieFault whyFault = MovieFault::None);
    // Ends the sound once its input has sent nothing for kSoundEndFallback; checks again
    // later while it still sends. True when it was ended.
    bool forceSoundEnd();
    void fileCompleted();
    void finishTimedOut();
    void checkLimit();
    Finish completeNow();
    void report(const Finish &finish);
    MovieStatistics currentStatistics() const;
};

} // namespace quillora::capture
