// SPDX-License-Identifier: GPL-3.0-or-later
// The movie output's face: its settings, the session's calls, and a recording's start. Building
// the branch is in MovieFileOutput_branch.cpp, the finish in MovieFileOutput_finish.cpp.
#include "MovieFileOutput.h"

#include "CaptureLog.h"
#include "MovieFileOutput_p.h"
#include "SessionGraph.h"

#include <QFileInfo>

namespace quillora::capture {

namespace {

// A recording asked for while the session is still starting waits for its first pictures.
constexpr std::chrono::milliseconds kStartPollInterval{20};
constexpr std::chrono::seconds kStartTimeout{10};

} // namespace

MovieFileOutput::Private::Private(MovieFileOutput *owner)
    : q(owner)
{
    using Repeat = Clock::Repeat;
    watchdog = clock.makeTimer(
        &context, [this] { finishTimedOut(); }, Repeat::Once);
    soundFallback = clock.makeTimer(
        &context, [this] { forceSoundEnd(); }, Repeat::Once);
    startPoll.setInterval(kStartPollInterval);
    QObject::connect(&startPoll, &QTimer::timeout, &context, [this] { continueStart(); });
    limitPoll.setInterval(kLimitPollInterval);
    QObject::connect(&limitPoll, &QTimer::timeout, &context, [this] { checkLimit(); });
}

MovieFileOutput::MovieFileOutput()
    : d(std::make_unique<Private>(this))
{
}

MovieFileOutput::~MovieFileOutput()
{
    // The session detaches its outputs before it goes; a branch still here means the session
    // was never torn down properly, so the file is at least closed.
    if (d->bin)
        d->shutdownBranch();
}

void MovieFileOutput::setDelegate(QObject *receiver, FinishHandler handler)
{
    d->delegateReceiver = receiver;
    d->handler = std::move(handler);
}

std::vector<CaptureConnectionPtr> MovieFileOutput::connections() const
{
    return d->connections;
}

void MovieFileOutput::setCompressionOptions(
    const CompressionOptionsPtr &options, const CaptureConnectionPtr &connection)
{
    if (!connection)
        return;
    for (auto &[c, opts] : d->options) {
        if (c == connection) {
            opts = options;
            return;
        }
    }
    d->options.emplace_back(connection, options);
}

CompressionOptionsPtr MovieFileOutput::compressionOptionsForConnection(const CaptureConnectionPtr &connection) const
{
    for (const auto &[c, opts] : d->options)
        if (c == connection)
            return opts;
    return nullptr;
}

void MovieFileOutput::addedToSession(const std::vector<std::shared_ptr<CaptureDeviceInput>> &inputs)
{
    d->connections.clear();
    bool video = false;
    bool sound = false;
    for (const auto &input : inputs)
        (input->mediaType() == MediaType::Video ? video : sound) = true;
    if (video)
        d->connections.push_back(std::make_shared<CaptureConnection>(kMediaTypeVideo));
    if (sound)
        d->connections.push_back(std::make_shared<CaptureConnection>(kMediaTypeSound));
}

bool MovieFileOutput::attach(SessionGraph &graph, QString *)
{
    // The branch is added when a file is asked for; until then the session only shows the
    // picture.
    d->graph = &graph;
    return true;
}

void MovieFileOutput::detach(SessionGraph &)
{
    // The pipeline is about to go: a movie still being written is finished first, and its
    // end still reaches the delegate.
    if (d->state == Private::State::Starting || d->state == Private::State::Recording
        || d->state == Private::State::Finishing) {
        if (auto finish = finishNow(d->finishTimeout))
            d->report(*finish);
    }
    if (d->bin)
        d->shutdownBranch();
    d->retired.clear();
    d->usedSoundSource = nullptr;
    d->graph = nullptr;
}

QSize MovieFileOutput::preferredSourceSize() const
{
    const auto opts = d->optionsFor(kMediaTypeVideo);
    return opts ? opts->maximumSize() : QSize(640, 480);
}

QString MovieFileOutput::describe() const
{
    return QStringLiteral("recording");
}

QUrl MovieFileOutput::outputFileURL() const
{
    return d->url;
}

bool MovieFileOutput::isRecording() const
{
    return d->state != Private::State::Idle;
}

void MovieFileOutput::setMaximumDuration(std::chrono::seconds duration)
{
    d->maximumDuration = std::max(duration, std::chrono::seconds(2));
}

void MovieFileOutput::setIndexBytesPerSecond(unsigned bytes)
{
    d->indexBytesPerSecond = bytes;
}

void MovieFileOutput::setFinishTimeout(std::chrono::milliseconds timeout)
{
    d->finishTimeout = timeout;
}

MovieStatistics MovieFileOutput::statistics() const
{
    return d->stream ? d->currentStatistics() : d->lastStatistics;
}

MovieStatistics MovieFileOutput::Private::currentStatistics() const
{
    MovieStatistics s;
    s.framesOffered = stream->framesOffered.load();
    s.framesWritten = stream->framesWritten.load();
    s.soundBuffers = stream->soundBuffers.load();
    if (stream->fitted.load())
        s.pictureSize = QSize(stream->width.load(), stream->height.load());
    const gint64 stop = stream->videoStop.load();
    const gint64 soundEnd = stream->soundPassedEnd.load();
    if (stop >= 0 && soundEnd > stop)
        s.soundPastPicture = std::chrono::microseconds((soundEnd - stop) / 1000);
    return s;
}

void MovieFileOutput::recordToOutputFileURL(const QUrl &url)
{
    using State = Private::State;
    if (url.isEmpty()) {
        // A second stop while the file is being finished changes nothing.
        if (d->state == State::Recording)
            d->beginEnding(QString());
        else if (d->state == State::Starting)
            d->report(Finish{d->url, QStringLiteral("stopped before the camera had started; nothing was recorded"),
                MovieFault::NotStarted});
        return;
    }
    if (d->state != State::Idle) {
        qCWarning(lcCapture) << "movie: already recording to" << d->url.toLocalFile() << "; request for"
                             << url.toLocalFile() << "ignored";
        return;
    }
    QString why;
    if (!d->checkTarget(url, &why)) {
        d->report(Finish{url, why, d->fault});
        return;
    }
    // Branches are added to a playing session only: a branch added or removed while the
    // session still waits for its first picture can leave it waiting for ever.
    if (!d->sessionPlaying()) {
        d->state = State::Starting;
        d->startRequested = d->clock.now();
        d->startPoll.start();
        return;
    }
    if (!d->startRecording(&why))
        d->report(Finish{url, why, d->fault != MovieFault::None ? d->fault : MovieFault::WriteFailed});
}

bool MovieFileOutput::Private::sessionPlaying() const
{
    GstState current = GST_STATE_NULL;
    GstState next = GST_STATE_VOID_PENDING;
    gst_element_get_state(graph->pipeline(), &current, &next, 0);
    return current == GST_STATE_PLAYING;
}

void MovieFileOutput::Private::continueStart()
{
    if (state != State::Starting) {
        startPoll.stop();
        return;
    }
    if (!graph || !graph->pipeline()) {
        report(Finish{url, QStringLiteral("no picture to record: the session is gone"), MovieFault::NotStarted});
        return;
    }
    if (!sessionPlaying()) {
        if (clock.now() - startRequested > kStartTimeout)
            report(
                Finish{url, QStringLiteral("the camera did not start; nothing was recorded"), MovieFault::NotStarted});
        return;
    }
    startPoll.stop();
    QString why;
    if (!startRecording(&why))
        report(Finish{url, why, fault != MovieFault::None ? fault : MovieFault::WriteFailed});
}

bool MovieFileOutput::Private::checkTarget(const QUrl &target, QString *why)
{
    url = target;
    error.clear();
    fault = MovieFault::None;
    const QString path = target.isLocalFile() ? target.toLocalFile() : QString();
    if (path.isEmpty()) {
        *why = QStringLiteral("not a file: %1").arg(target.toString());
        fault = MovieFault::FolderMissing;
        return false;
    }
    if (!graph || !graph->pipeline() || !graph->videoTee()) {
        *why = QStringLiteral("no picture to record: the session is not running");
        fault = MovieFault::NotStarted;
        return false;
    }
    // Checked here so the common mistakes get a plain answer; the sink's own open below
    // catches the rest (a full disk, a vanished mount).
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.isDir()) {
        *why = QStringLiteral("the folder %1 does not exist").arg(folder.filePath());
        fault = MovieFault::FolderMissing;
        return false;
    }
    if (!folder.isWritable()) {
        *why = QStringLiteral("the folder %1 is not writable").arg(folder.filePath());
        fault = MovieFault::FolderNotWritable;
        return false;
    }
    return true;
}

} // namespace quillora::capture
