// SPDX-License-Identifier: GPL-3.0-or-later
// How a recording ends: a stop request, the longest length, the watchdog, the sound input's
// fallback, and the session's bus messages (a failing file, a camera or sound input that stops)
// all lead to one finish, reported once.
#include "MovieFileOutput.h"

#include "CaptureLog.h"
#include "MovieFileOutput_p.h"
#include "MovieGate.h"
#include "SessionGraph.h"

#include <QMetaObject>

namespace quillora::capture {

namespace {

constexpr std::chrono::seconds kIndexEstimateSettles{5};
// How long the sound may take to reach the picture's cut before it is ended regardless.
constexpr std::chrono::milliseconds kSoundEndFallback{1000};

bool isInside(GstObject *object, GstElement *bin)
{
    return object && bin && (object == GST_OBJECT(bin) || gst_object_has_as_ancestor(object, GST_OBJECT(bin)));
}

QString errorText(GstMessage *message)
{
    GError *raw = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(message, &raw, &debug);
    GErrorPtr err(raw);
    GCharPtr dbg(debug);
    return QStringLiteral("%1: %2").arg(QString::fromUtf8(GST_OBJECT_NAME(GST_MESSAGE_SRC(message))),
        err ? QString::fromUtf8(err->message) : QStringLiteral("unknown error"));
}

// The kind of a failure of the movie's own elements: the file sink says why it cannot write.
MovieFault writeFault(GstMessage *message)
{
    GError *raw = nullptr;
    gst_message_parse_error(message, &raw, nullptr);
    GErrorPtr err(raw);
    if (!err || err->domain != GST_RESOURCE_ERROR)
        return MovieFault::WriteFailed;
    switch (err->code) {
    case GST_RESOURCE_ERROR_NO_SPACE_LEFT:
        return MovieFault::DiskFull;
    case GST_RESOURCE_ERROR_NOT_FOUND:
        return MovieFault::FolderMissing;
    case GST_RESOURCE_ERROR_OPEN_WRITE:
    case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
    case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
        return MovieFault::FolderNotWritable;
    default:
        return MovieFault::WriteFailed;
    }
}

} // namespace

void MovieFileOutput::Private::beginEnding(const QString &why, MovieFault whyFault)
{
    if (state != State::Recording)
        return;
    state = State::Finishing;
    if (error.isEmpty()) {
        error = why;
        fault = whyFault;
    }
    limitPoll.stop();
    // A paused session (a frozen picture) holds the file sink before its end: the branch alone
    // runs on until the file is complete; the rest of the session stays paused.
    if (bin && graph && !graph->session().isRunning())
        gst_element_set_state(bin.get(), GST_STATE_PLAYING);
    // Each input is cut off at an idle moment and its side of the movie gets its end of
    // stream; the muxer then writes the final index and the file sink sees the end.
    if (teePad && stream)
        addProbe(teePad.get(), GST_PAD_PROBE_TYPE_IDLE, endVideoProbe, stream);
    else if (stream)
        stream->videoStop.store(0);
    // The sound normally ends itself at the picture's cut (soundGateProbe); a sound input
    // that has stopped sending is ended a little later regardless.
    if (soundSource)
        soundFallback->start(kSoundEndFallback);
    watchdog->start(finishTimeout);
}

bool MovieFileOutput::Private::forceSoundEnd()
{
    if (state != State::Finishing || !soundSource || !stream)
        return true;
    // A sound input that still sends is only late (a loaded machine): its buffers reach the
    // picture's cut and end the sound there. Cutting it now would end the sound track early.
    const std::chrono::microseconds last{stream->lastSoundArrival.load()};
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
        last.count() < 0 ? kSoundEndFallback : clock.now() - last);
    if (quiet < kSoundEndFallback) {
        soundFallback->start(kSoundEndFallback - quiet);
        return false;
    }
    if (PadPtr src{gst_element_get_static_pad(soundSource, "src")})
        addProbe(src.get(), GST_PAD_PROBE_TYPE_IDLE, endSoundProbe, stream);
    return true;
}

void MovieFileOutput::Private::fileCompleted()
{
    if (state != State::Recording && state != State::Finishing)
        return;
    // The muxer ended by itself (an end of stream it did not get from us): still a
    // complete file.
    report(completeNow());
}

void MovieFileOutput::Private::finishTimedOut()
{
    if (state != State::Finishing)
        return;
    if (error.isEmpty()) {
        error = QStringLiteral("the movie could not be finished in time; the file was closed as it was");
        fault = MovieFault::WriteFailed;
    }
    report(completeNow());
}

void MovieFileOutput::Private::checkLimit()
{
    if (state != State::Recording || !mux)
        return;
    const auto elapsed = clock.now() - recordingStarted;
    // The muxer keeps index space for the longest movie at its own conservative rate per
    // second (several times what this program's streams use), so ending at the longest
    // length keeps well inside it. Its own estimate of the space left is the safety net for
    // a stream that fills the index faster; it settles only after the first seconds.
    guint64 remaining = GST_CLOCK_TIME_NONE;
    g_object_get(mux, "reserved-duration-remaining", &remaining, nullptr);
    const auto margin = std::min<std::chrono::seconds>(std::chrono::seconds(15), maximumDuration / 4);
    const bool indexNearlyFull = elapsed > kIndexEstimateSettles && remaining != GST_CLOCK_TIME_NONE
        && remaining < guint64(margin.count()) * GST_SECOND;
    if (elapsed >= maximumDuration || indexNearlyFull) {
        qCInfo(lcCapture) << "movie: the longest movie length is reached; ending the recording";
        beginEnding(QStringLiteral("the movie reached its longest length (%1 s)").arg(maximumDuration.count()),
            MovieFault::TooLong);
    }
}

MovieFileOutput::Finish MovieFileOutput::Private::completeNow()
{
    bool complete = false;
    if (stream) {
        std::lock_guard lock(stream->mutex);
        complete = stream->fileComplete;
    }
    shutdownBranch();
    return Finish{url, error, fault, complete};
}

void MovieFileOutput::Private::report(const Finish &finish)
{
    startPoll.stop();
    state = State::Reporting;
    auto delivery = std::make_shared<Delivery>();
    delivery->finish = finish;
    delivery->owner = this;
    pending = delivery;
    MovieFileOutput *output = q;
    if (!delegateReceiver) {
        state = State::Idle;
        pending.reset();
        return;
    }
    // Queued even when already on the main thread: the delegate rebuilds the session, which
    // must not happen inside the session's own message handling.
    QMetaObject::invokeMethod(
        delegateReceiver.data(),
        [delivery, output, handler = handler] {
            if (delivery->cancelled)
                return;
            if (Private *owner = delivery->owner) {
                owner->state = State::Idle;
                owner->pending.reset();
            }
            if (handler)
                handler(output, delivery->finish.url, delivery->finish.error, delivery->finish.fault,
                    delivery->finish.complete);
        },
        Qt::QueuedConnection);
}

std::optional<MovieFileOutput::Finish> MovieFileOutput::finishNow(std::chrono::milliseconds timeout)
{
    using State = Private::State;
    switch (d->state) {
    case State::Idle:
        return std::nullopt;
    case State::Reporting: {
        Finish finish = d->pending ? d->pending->finish : Finish{d->url, d->error, d->fault};
        if (d->pending)
            d->pending->cancelled = true;
        d->pending.reset();
        d->state = State::Idle;
        return finish;
    }
    case State::Starting:
        d->startPoll.stop();
        d->state = State::Idle;
        return Finish{d->url, QStringLiteral("stopped before the camera had started; nothing was recorded"),
            MovieFault::NotStarted};
    case State::Recording:
        d->beginEnding(QString());
        [[fallthrough]];
    case State::Finishing:
        break;
    }
    if (d->stream) {
        StreamStatePtr s = d->stream;
        const auto complete = [&] { return s->fileComplete; };
        std::unique_lock lock(s->mutex);
        // The main thread waits here, so the sound's fallback cannot come from its timer: it
        // is checked between slices of the wait.
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        bool done = false;
        bool soundEnded = !d->soundSource;
        while (!done) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= left.zero())
                break;
            const auto slice
                = soundEnded ? left : std::min<std::chrono::steady_clock::duration>(left, kSoundEndFallback / 4);
            done = s->changed.wait_for(lock, slice, complete);
            if (!done && !soundEnded) {
                lock.unlock();
                soundEnded = d->forceSoundEnd();
                lock.lock();
            }
        }
        if (!done && d->error.isEmpty()) {
            d->error = QStringLiteral("the movie could not be finished in time; the file was closed as it was");
            d->fault = MovieFault::WriteFailed;
        }
    }
    Finish finish = d->completeNow();
    d->state = State::Idle;
    return finish;
}

bool MovieFileOutput::busMessage(SessionGraph &, void *raw)
{
    auto *message = static_cast<GstMessage *>(raw);
    GstObject *src = GST_MESSAGE_SRC(message);
    const bool ours = isInside(src, d->bin.get());
    bool retiredOurs = !ours && d->usedSoundSource && !d->soundSource && isInside(src, d->usedSoundSource);
    for (const auto &old : d->retired)
        retiredOurs = retiredOurs || isInside(src, old.get());
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_WARNING && (ours || retiredOurs)) {
        GError *rawError = nullptr;
        gst_message_parse_warning(message, &rawError, nullptr);
        GErrorPtr err(rawError);
        qCInfo(lcCapture) << "movie warning:" << (err ? err->message : "");
        return true;
    }
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR)
        return ours || retiredOurs;
    if (retiredOurs && !ours)
        return true; // a late word from a branch that is already closed
    if (d->state == Private::State::Starting && !ours) {
        d->report(Finish{
            d->url, QStringLiteral("the camera stopped: %1").arg(errorText(message)), MovieFault::CameraStopped});
        return false;
    }
    const bool active = d->state == Private::State::Recording || d->state == Private::State::Finishing;
    if (!active)
        return ours;
    const QString text = errorText(message);
    if (!ours) {
        // The camera stopped (unplugged, say): what was recorded is finished properly. The
        // session reports the failure itself as well.
        qCWarning(lcCapture).noquote() << "movie: the picture stopped:" << text;
        if (d->state == Private::State::Recording)
            d->beginEnding(QStringLiteral("the camera stopped: %1").arg(text), MovieFault::CameraStopped);
        return false;
    }
    if (d->soundSource && isInside(src, d->soundSource)) {
        // The microphone went away: the movie is ended properly with the sound it has.
        qCWarning(lcCapture).noquote() << "movie: the sound input stopped:" << text;
        if (d->state == Private::State::Recording)
            d->beginEnding(QStringLiteral("the sound input stopped: %1").arg(text), MovieFault::SoundStopped);
        return true;
    }
    // The encoder, the muxer or the file failed (a full disk): nothing more can be written,
    // so the file is closed as the muxer last left it. It is not a whole movie, even when the
    // muxer, stopped by the failure, still sent its end of stream on to the file.
    qCWarning(lcCapture).noquote() << "movie: writing failed:" << text;
    if (d->error.isEmpty()) {
        d->error = text;
        d->fault = writeFault(message);
    }
    Finish finish = d->completeNow();
    finish.complete = false;
    d->report(finish);
    return true;
}

} // namespace quillora::capture
