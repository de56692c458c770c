// SPDX-License-Identifier: GPL-3.0-or-later
#include "MovieFileOutput.h"

#include "CaptureLog.h"
#include "JpegDecoder.h"
#include "MovieConverter.h"
#include "SessionGraph.h"

#include <gst/audio/audio.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace quillora::capture {

namespace {

constexpr std::chrono::seconds kDefaultMaximumDuration{3600};
constexpr std::chrono::milliseconds kDefaultFinishTimeout{5000};
// The index is rewritten this often, so a killed recording loses at most this much.
constexpr GstClockTime kIndexUpdatePeriod = GST_SECOND;
// The picture branch may fall this far behind the camera before it drops frames; enough
// for the encoder's hiccups, small enough that a stalled encoder cannot eat the memory.
constexpr guint64 kVideoQueueTime = GST_SECOND;
constexpr std::chrono::milliseconds kLimitPollInterval{250};
constexpr std::chrono::seconds kIndexEstimateSettles{5};
constexpr int kAacFrameSamples = 1024;
// A recording asked for while the session is still starting waits for its first pictures.
constexpr std::chrono::milliseconds kStartPollInterval{20};
constexpr std::chrono::seconds kStartTimeout{10};
// How long the sound may take to reach the picture's cut before it is ended regardless.
constexpr std::chrono::milliseconds kSoundEndFallback{1000};

// What the streaming threads of one recording share with the main thread. Held by the
// probes (through their own reference), so it outlives whichever side ends first.
struct StreamState {
    std::mutex mutex; // guards fileComplete; `changed` waits on it
    std::condition_variable changed;
    bool fileComplete = false;

    std::atomic<quint64> framesOffered{0};
    std::atomic<quint64> framesWritten{0};
    std::atomic<quint64> soundBuffers{0};
    std::atomic<int> width{0};
    std::atomic<int> height{0};
    std::atomic<bool> fitted{false};
    std::atomic<bool> soundEnded{false};
    // Running times where the movie's first picture starts, where its last picture so far
    // ends, and where the picture was cut off (-1 until known): the sound is started and
    // ended at the same moments, so the two tracks line up.
    std::atomic<gint64> videoStart{-1};
    // The AAC encoder puts one frame of silence (1024 samples) before the first sound; the
    // sound is started that much after the picture, so what is heard lines up with what is
    // seen. Set before the branch is linked.
    gint64 soundLead = 0;
    std::atomic<gint64> lastVideoEnd{-1};
    std::atomic<gint64> videoStop{-1};

    // Set before the branch is linked, read-only afterwards.
    QSize box;
    GstElement *videoCaps = nullptr; // the picture size filter, owned by the branch's bin
    QObject *context = nullptr;      // main-thread receiver of the news below
    std::function<void()> onFileComplete;
};

using StreamStatePtr = std::shared_ptr<StreamState>;

void deleteStreamRef(gpointer p)
{
    delete static_cast<StreamStatePtr *>(p);
}

StreamState &stateOf(gpointer userData)
{
    return **static_cast<StreamStatePtr *>(userData);
}

gulong addProbe(GstPad *pad, GstPadProbeType type, GstPadProbeCallback callback, const StreamStatePtr &state)
{
    return gst_pad_add_probe(pad, type, callback, new StreamStatePtr(state), deleteStreamRef);
}

CapsPtr videoCapsFor(QSize size)
{
    if (size.isValid())
        return CapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT,
            size.width(), "height", G_TYPE_INT, size.height(), "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
    return CapsPtr(gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, "I420", "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
}

// The camera's frames entering the movie: counted, and the first caps fix the movie's
// picture size (the camera's aspect inside the preset's box). The size is fixed once: a
// QuickTime track cannot change its picture size half-way.
GstPadProbeReturn videoEntryProbe(GstPad *, GstPadProbeInfo *info, gpointer userData)
{
    StreamState &s = stateOf(userData);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        s.framesOffered.fetch_add(1, std::memory_order_relaxed);
        GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (buffer && GST_BUFFER_PTS_IS_VALID(buffer)) {
            gint64 unknown = -1;
            s.videoStart.compare_exchange_strong(unknown, gint64(GST_BUFFER_PTS(buffer)));
        }
        if (buffer && GST_BUFFER_PTS_IS_VALID(buffer))
            s.lastVideoEnd.store(gint64(GST_BUFFER_PTS(buffer))
                + (GST_BUFFER_DURATION_IS_VALID(buffer) ? gint64(GST_BUFFER_DURATION(buffer)) : 0));
        return GST_PAD_PROBE_OK;
    }
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    if (event && GST_EVENT_TYPE(event) == GST_EVENT_CAPS && !s.fitted.load()) {
        GstCaps *caps = nullptr;
        gst_event_parse_caps(event, &caps);
        const GstStructure *st = caps ? gst_caps_get_structure(caps, 0) : nullptr;
        int w = 0;
        int h = 0;
        if (st && gst_structure_get_int(st, "width", &w) && gst_structure_get_int(st, "height", &h) && w > 0 && h > 0) {
            const QSize fitted = fitInside(QSize(w, h), s.box);
            CapsPtr wanted = videoCapsFor(fitted);
            g_object_set(s.videoCaps, "caps", wanted.get(), nullptr);
            s.width.store(fitted.width());
            s.height.store(fitted.height());
            s.fitted.store(true);
        }
    }
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn countVideoProbe(GstPad *, GstPadProbeInfo *, gpointer userData)
{
    stateOf(userData).framesWritten.fetch_add(1, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn countSoundProbe(GstPad *, GstPadProbeInfo *, gpointer userData)
{
    stateOf(userData).soundBuffers.fetch_add(1, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

// The end of stream reaching the file sink: everything the muxer wrote, the final index
// included, has been handed to the sink before it, and closing the sink flushes it.
GstPadProbeReturn fileEndProbe(GstPad *, GstPadProbeInfo *info, gpointer userData)
{
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    if (!event || GST_EVENT_TYPE(event) != GST_EVENT_EOS)
        return GST_PAD_PROBE_OK;
    StreamState &s = stateOf(userData);
    {
        std::lock_guard lock(s.mutex);
        s.fileComplete = true;
    }
    s.changed.notify_all();
    if (s.context)
        QMetaObject::invokeMethod(s.context, s.onFileComplete, Qt::QueuedConnection);
    return GST_PAD_PROBE_OK;
}

// The camera's way into the movie. Whatever becomes of the movie (ended, failed, shutting
// down) is the movie's business: the tee is told all went well, because a failure returned to
// it would stop the camera and with it the live picture.
GstFlowReturn movieEntryChain(GstPad *pad, GstObject *parent, GstBuffer *buffer)
{
    gst_proxy_pad_chain_default(pad, parent, buffer);
    return GST_FLOW_OK;
}

GstFlowReturn movieEntryChainList(GstPad *pad, GstObject *parent, GstBufferList *list)
{
    gst_proxy_pad_chain_list_default(pad, parent, list);
    return GST_FLOW_OK;
}

void endSound(GstPad *pad, StreamState &s)
{
    if (s.soundEnded.exchange(true))
        return;
    if (PadPtr peer{gst_pad_get_peer(pad)})
        gst_pad_send_event(peer.get(), gst_event_new_eos());
}

// The sound source's way into the movie. The muxer starts every track at zero, so sound from
// before the first picture would play early against the picture: it is dropped. Once the
// picture has been cut off, the sound ends at the first buffer that starts at or after the
// cut, so both tracks end together. After its end the source runs on until the branch is shut
// down; what it sends is dropped, since a live source that meets an ended pad stops with an
// error.
GstPadProbeReturn soundGateProbe(GstPad *pad, GstPadProbeInfo *info, gpointer userData)
{
    StreamState &s = stateOf(userData);
    if (s.soundEnded.load())
        return GST_PAD_PROBE_DROP;
    GstBuffer *buffer = (info->type & GST_PAD_PROBE_TYPE_BUFFER) ? GST_PAD_PROBE_INFO_BUFFER(info) : nullptr;
    if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer))
        return GST_PAD_PROBE_OK;
    const gint64 start = gint64(GST_BUFFER_PTS(buffer));
    const gint64 end = start + (GST_BUFFER_DURATION_IS_VALID(buffer) ? gint64(GST_BUFFER_DURATION(buffer)) : 0);
    const gint64 stop = s.videoStop.load();
    if (stop >= 0 && start >= stop) {
        endSound(pad, s);
        return GST_PAD_PROBE_DROP;
    }
    const gint64 videoStart = s.videoStart.load();
    const gint64 first = videoStart + s.soundLead;
    if (videoStart < 0 || end <= first)
        return GST_PAD_PROBE_DROP;
    // A buffer across the picture's start or cut is cut there to the sample, so the tracks
    // start and end together to within an AAC frame, not a whole sound buffer more.
    if (start >= first && (stop < 0 || end <= stop))
        return GST_PAD_PROBE_OK;
    CapsPtr caps(gst_pad_get_current_caps(pad));
    GstAudioInfo audio;
    if (!caps || !gst_audio_info_from_caps(&audio, caps.get()))
        return GST_PAD_PROBE_OK;
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    segment.start = guint64(std::max(start, first));
    segment.stop = stop >= 0 ? guint64(stop) : GST_CLOCK_TIME_NONE;
    GstBuffer *clipped = gst_audio_buffer_clip(
        gst_buffer_ref(buffer), &segment, GST_AUDIO_INFO_RATE(&audio), GST_AUDIO_INFO_BPF(&audio));
    if (!clipped)
        return GST_PAD_PROBE_DROP;
    gst_buffer_unref(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = clipped;
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn dropProbe(GstPad *, GstPadProbeInfo *, gpointer)
{
    return GST_PAD_PROBE_DROP;
}

// Ends the picture's side of the movie at a moment when no frame is on its way. The tee's
// later frames are dropped before they reach the ended pad, which would answer them with an
// end of stream that the tee hands back to the camera.
GstPadProbeReturn endVideoProbe(GstPad *pad, GstPadProbeInfo *, gpointer userData)
{
    StreamState &s = stateOf(userData);
    s.videoStop.store(std::max<gint64>(0, s.lastVideoEnd.load()));
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM, dropProbe, nullptr, nullptr);
    if (PadPtr peer{gst_pad_get_peer(pad)})
        gst_pad_send_event(peer.get(), gst_event_new_eos());
    return GST_PAD_PROBE_REMOVE;
}

// Ends the sound's side between two buffers whatever their time: for a microphone that
// sends nothing more (gone, or stalled), so the movie can still be finished.
GstPadProbeReturn endSoundProbe(GstPad *pad, GstPadProbeInfo *, gpointer userData)
{
    endSound(pad, stateOf(userData));
    return GST_PAD_PROBE_REMOVE;
}

// Unlinks the tee's pad from the movie between two frames and says so. Unlinked at any
// other moment, a frame on its way could meet the movie's pads flushing, and the tee would
// hand that back to the camera, which would stop.
struct UnlinkWait {
    std::mutex mutex; // guards done
    std::condition_variable changed;
    bool done = false;
};

GstPadProbeReturn unlinkProbe(GstPad *pad, GstPadProbeInfo *, gpointer userData)
{
    auto &wait = **static_cast<std::shared_ptr<UnlinkWait> *>(userData);
    if (PadPtr peer{gst_pad_get_peer(pad)})
        gst_pad_unlink(pad, peer.get());
    {
        std::lock_guard lock(wait.mutex);
        wait.done = true;
    }
    wait.changed.notify_all();
    return GST_PAD_PROBE_REMOVE;
}

void unlinkWhenIdle(GstPad *pad)
{
    auto wait = std::make_shared<UnlinkWait>();
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_IDLE, unlinkProbe, new std::shared_ptr<UnlinkWait>(wait),
        [](gpointer p) { delete static_cast<std::shared_ptr<UnlinkWait> *>(p); });
    std::unique_lock lock(wait->mutex);
    if (wait->changed.wait_for(lock, std::chrono::seconds(3), [&] { return wait->done; }))
        return;
    // The camera's thread is stuck somewhere upstream: nothing is moving, so unlinking now
    // cannot cut a frame in half.
    lock.unlock();
    if (PadPtr peer{gst_pad_get_peer(pad)})
        gst_pad_unlink(pad, peer.get());
}

GstElement *make(const char *factory, const char *name, QStringList &missing)
{
    GstElement *e = gst_element_factory_make(factory, name);
    if (!e)
        missing << QString::fromUtf8(factory);
    return e;
}

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

CompressionOptionsPtr CompressionOptions::compressionOptionsWithIdentifier(const QString &identifier)
{
    auto options = std::make_shared<CompressionOptions>();
    options->m_identifier = identifier;
    if (identifier == kCompressionOptions240SizeH264Video) {
        options->m_mediaType = kMediaTypeVideo;
        options->m_box = QSize(320, 240);
        options->m_bitRate = 800'000;
    } else if (identifier == kCompressionOptionsSD480SizeH264Video) {
        options->m_mediaType = kMediaTypeVideo;
        options->m_box = QSize(640, 480);
        options->m_bitRate = 2'000'000;
    } else if (identifier == kCompressionOptionsHighQualityAACAudio) {
        options->m_mediaType = kMediaTypeSound;
        options->m_sampleRate = 48'000;
        options->m_bitRate = 160'000;
    } else {
        return nullptr;
    }
    return options;
}

struct MovieFileOutput::Private {
    enum class State {
        Idle,      // no recording
        Starting,  // asked for, waiting for the session to be playing
        Recording, // writing the file
        Finishing, // the end of stream is on its way to the file
        Reporting, // the file is closed; the finish waits in the delegate's queue
    };

    explicit Private(MovieFileOutput *owner)
        : q(owner)
    {
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, &context, [this] { finishTimedOut(); });
        soundFallback.setSingleShot(true);
        QObject::connect(&soundFallback, &QTimer::timeout, &context, [this] { forceSoundEnd(); });
        startPoll.setInterval(kStartPollInterval);
        QObject::connect(&startPoll, &QTimer::timeout, &context, [this] { continueStart(); });
        limitPoll.setInterval(kLimitPollInterval);
        QObject::connect(&limitPoll, &QTimer::timeout, &context, [this] { checkLimit(); });
    }

    ~Private()
    {
        if (pending)
            pending->owner = nullptr;
    }

    MovieFileOutput *q;
    QObject context; // queued news from the streaming threads land here, on the main thread
    QTimer watchdog{&context};
    QTimer limitPoll{&context};
    QTimer soundFallback{&context};
    QTimer startPoll{&context};
    QElapsedTimer startClock;

    QPointer<QObject> delegateReceiver;
    FinishHandler handler;

    std::vector<CaptureConnectionPtr> connections;
    std::vector<std::pair<CaptureConnectionPtr, CompressionOptionsPtr>> options;

    SessionGraph *graph = nullptr; // while attached
    State state = State::Idle;
    QUrl url;
    QString error;                       // the first failure of the recording under way
    MovieFault fault = MovieFault::None; // its kind
    QElapsedTimer recordingClock;

    ElementPtr bin;                        // the movie branch, in the pipeline while recording
    PadPtr teePad;                         // the camera tee's pad that feeds the branch
    GstElement *soundSource = nullptr;     // the session's sound source, in `bin` while recording
    GstElement *usedSoundSource = nullptr; // the same, kept for its late messages while attached
    gulong soundGate = 0;                  // the probe that lines the sound up with the picture
    GstElement *mux = nullptr;             // owned by `bin`
    StreamStatePtr stream;
    std::vector<ElementPtr> retired; // branches of earlier recordings, for late messages

    std::chrono::seconds maximumDuration = kDefaultMaximumDuration;
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
    bool startRecording(QString *why);
    void beginEnding(const QString &why, MovieFault whyFault = MovieFault::None);
    void forceSoundEnd();
    void fileCompleted();
    void finishTimedOut();
    void checkLimit();
    void shutdownBranch();
    Finish completeNow();
    void report(const Finish &finish);
    MovieStatistics currentStatistics() const;
};

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
        d->startClock.start();
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
        if (std::chrono::milliseconds(startClock.elapsed()) > kStartTimeout)
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

bool MovieFileOutput::Private::startRecording(QString *why)
{
    const QString path = url.toLocalFile();
    auto videoOptions = optionsFor(kMediaTypeVideo);
    if (!videoOptions)
        videoOptions = CompressionOptions::compressionOptionsWithIdentifier(kCompressionOptionsSD480SizeH264Video);
    auto soundOptions = optionsFor(kMediaTypeSound);
    if (!soundOptions)
        soundOptions = CompressionOptions::compressionOptionsWithIdentifier(kCompressionOptionsHighQualityAACAudio);
    const bool withSound = hasConnection(kMediaTypeSound) && graph->soundSource();

    QStringList missing;
    ElementPtr branch(GST_ELEMENT(gst_object_ref_sink(gst_bin_new("moviebranch"))));
    GstBin *b = GST_BIN(branch.get());
    GstElement *queue = make("queue", "moviequeue", missing);
    registerMovieConverter();
    GstElement *convert = make(kMovieConverterFactory, "movieconvert", missing);
    GstElement *sizeCaps = make("capsfilter", "moviecaps", missing);
    // A camera's JPEG frames are decoded for the movie at the smallest scale that still
    // covers its box, not at full size.
    GstElement *decoder = graph->compressedVideo() && registerJpegDecoder()
        ? make(kJpegDecoderFactory, "moviedecoder", missing)
        : nullptr;
    if (graph->compressedVideo() && !decoder)
        missing << QString::fromLatin1(kJpegDecoderFactory);
    GstElement *encoder = make("x264enc", "movieencoder", missing);
    GstElement *muxer = make("qtmux", "moviemux", missing);
    GstElement *sink = make("filesink", "moviefile", missing);
    GstElement *soundQueue = nullptr;
    GstElement *soundConvert = nullptr;
    GstElement *soundResample = nullptr;
    GstElement *soundCaps = nullptr;
    GstElement *soundEncoder = nullptr;
    if (withSound) {
        soundQueue = make("queue", "moviesoundqueue", missing);
        soundConvert = make("audioconvert", "moviesoundconvert", missing);
        soundResample = make("audioresample", "moviesoundresample", missing);
        soundCaps = make("capsfilter", "moviesoundcaps", missing);
        soundEncoder = make("avenc_aac", "moviesoundencoder", missing);
    }
    for (GstElement *e : {queue, decoder, convert, sizeCaps, encoder, muxer, sink, soundQueue, soundConvert,
             soundResample, soundCaps, soundEncoder})
        if (e)
            gst_bin_add(b, e);
    if (!missing.isEmpty()) {
        *why = QStringLiteral("GStreamer elements missing: %1").arg(missing.join(QStringLiteral(", ")));
        return false;
    }

    // A leaky queue: an encoder that cannot keep up loses frames of the movie rather than
    // stalling the camera and the live picture.
    g_object_set(queue, "leaky", 2 /* downstream */, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
        kVideoQueueTime, nullptr);
    CapsPtr initialCaps = videoCapsFor(QSize());
    g_object_set(sizeCaps, "caps", initialCaps.get(), nullptr);
    gst_util_set_object_arg(G_OBJECT(encoder), "speed-preset", "veryfast");
    gst_util_set_object_arg(G_OBJECT(encoder), "tune", "zerolatency");
    g_object_set(encoder, "bitrate", guint(videoOptions->bitRate() / 1000), "key-int-max", 60u, nullptr);
    // The index is written into space kept free at the start of the file and rewritten every
    // second, so a crash or a kill leaves a movie that plays up to its last second. The space
    // is sized for the longest movie; a recording that reaches it is ended (checkLimit).
    g_object_set(muxer, "reserved-max-duration", guint64(maximumDuration.count()) * GST_SECOND,
        "reserved-moov-update-period", kIndexUpdatePeriod, nullptr);
    const QByteArray location = QFile::encodeName(path);
    g_object_set(sink, "location", location.constData(), "async", FALSE, "sync", FALSE, nullptr);

    if (decoder)
        g_object_set(decoder, "cover-width", videoOptions->maximumSize().width(), "cover-height",
            videoOptions->maximumSize().height(), nullptr);
    bool linked = decoder ? gst_element_link_many(queue, decoder, convert, nullptr) : gst_element_link(queue, convert);
    linked = linked && gst_element_link_many(convert, sizeCaps, encoder, muxer, sink, nullptr);
    if (withSound && linked) {
        CapsPtr rate(gst_caps_new_simple("audio/x-raw", "rate", G_TYPE_INT, soundOptions->sampleRate(), "channels",
            GST_TYPE_INT_RANGE, 1, 2, nullptr));
        g_object_set(soundCaps, "caps", rate.get(), nullptr);
        g_object_set(soundEncoder, "bitrate", soundOptions->bitRate(), nullptr);
        // The sound waits for the picture's encoder; a second of it is plenty.
        g_object_set(soundQueue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", GST_SECOND, nullptr);
        linked
            = gst_element_link_many(soundQueue, soundConvert, soundResample, soundCaps, soundEncoder, muxer, nullptr);
    }
    if (!linked) {
        *why = QStringLiteral("cannot link the movie's elements");
        return false;
    }

    auto shared = std::make_shared<StreamState>();
    shared->box = videoOptions->maximumSize();
    shared->soundLead = gint64(gst_util_uint64_scale_int(kAacFrameSamples, GST_SECOND, soundOptions->sampleRate()));
    shared->videoCaps = sizeCaps;
    shared->context = &context;
    shared->onFileComplete = [this] { fileCompleted(); };
    {
        PadPtr entry(gst_element_get_static_pad(queue, "sink"));
        addProbe(entry.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            videoEntryProbe, shared);
        PadPtr encoded(gst_element_get_static_pad(encoder, "src"));
        addProbe(encoded.get(), GST_PAD_PROBE_TYPE_BUFFER, countVideoProbe, shared);
        if (withSound) {
            PadPtr soundEncoded(gst_element_get_static_pad(soundEncoder, "src"));
            addProbe(soundEncoded.get(), GST_PAD_PROBE_TYPE_BUFFER, countSoundProbe, shared);
        }
        PadPtr fileSinkPad(gst_element_get_static_pad(sink, "sink"));
        addProbe(fileSinkPad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, fileEndProbe, shared);
        GstPad *ghost = gst_ghost_pad_new("sink", entry.get());
        gst_pad_set_chain_function(ghost, movieEntryChain);
        gst_pad_set_chain_list_function(ghost, movieEntryChainList);
        gst_element_add_pad(branch.get(), ghost);
    }

    if (withSound) {
        soundSource = graph->soundSource();
        usedSoundSource = soundSource;
        PadPtr soundOut(gst_element_get_static_pad(soundSource, "src"));
        soundGate = addProbe(soundOut.get(), GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM, soundGateProbe, shared);
        gst_bin_add(b, soundSource); // the bin takes a reference of its own
        if (!gst_element_link(soundSource, soundQueue)) {
            gst_bin_remove(b, soundSource);
            soundSource = nullptr;
            *why = QStringLiteral("cannot link the sound input to the movie");
            return false;
        }
    }

    // Running before it is linked: the camera's tee must never push into a branch that is
    // not yet ready to take data, or the camera itself would stop.
    gst_bin_add(GST_BIN(graph->pipeline()), branch.get()); // the pipeline takes a reference of its own
    bin = std::move(branch);
    mux = muxer;
    stream = shared;
    if (!gst_element_sync_state_with_parent(bin.get())) {
        *why = QStringLiteral("cannot open %1 for writing").arg(path);
        fault = MovieFault::FolderNotWritable;
        shutdownBranch();
        return false;
    }
    teePad.reset(gst_element_request_pad_simple(graph->videoTee(), "src_%u"));
    PadPtr binSink(gst_element_get_static_pad(bin.get(), "sink"));
    if (!teePad || gst_pad_link(teePad.get(), binSink.get()) != GST_PAD_LINK_OK) {
        *why = QStringLiteral("cannot link the camera to the movie");
        shutdownBranch();
        return false;
    }
    state = State::Recording;
    recordingClock.start();
    limitPoll.start();
    qCInfo(lcCapture).noquote() << "movie: recording to" << path << (withSound ? "with sound" : "without sound");
    return true;
}

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
        soundFallback.start(kSoundEndFallback);
    watchdog.start(finishTimeout);
}

void MovieFileOutput::Private::forceSoundEnd()
{
    if (state != State::Finishing || !soundSource || !stream)
        return;
    if (PadPtr src{gst_element_get_static_pad(soundSource, "src")})
        addProbe(src.get(), GST_PAD_PROBE_TYPE_IDLE, endSoundProbe, stream);
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
    const auto elapsed = std::chrono::milliseconds(recordingClock.elapsed());
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
    shutdownBranch();
    return Finish{url, error, fault};
}

void MovieFileOutput::Private::shutdownBranch()
{
    watchdog.stop();
    limitPoll.stop();
    soundFallback.stop();
    if (stream) {
        lastStatistics = currentStatistics();
        stream.reset();
    }
    if (!bin)
        return;
    GstElement *tee = graph ? graph->videoTee() : nullptr;
    // The camera first lets go of the branch; then the branch stops, which closes the file.
    if (teePad)
        unlinkWhenIdle(teePad.get());
    gst_element_set_state(bin.get(), GST_STATE_NULL);
    if (teePad) {
        if (tee)
            gst_element_release_request_pad(tee, teePad.get());
        teePad.reset();
    }
    if (soundSource) {
        // The sound source belongs to the session; it leaves the branch so that another
        // recording of the same session can take it again.
        gst_element_set_state(soundSource, GST_STATE_NULL);
        if (PadPtr src{gst_element_get_static_pad(soundSource, "src")}; src && soundGate)
            gst_pad_remove_probe(src.get(), soundGate);
        soundGate = 0;
        gst_bin_remove(GST_BIN(bin.get()), soundSource);
        soundSource = nullptr;
    }
    if (graph && graph->pipeline() && GST_OBJECT_PARENT(bin.get()) == GST_OBJECT(graph->pipeline()))
        gst_bin_remove(GST_BIN(graph->pipeline()), bin.get());
    mux = nullptr;
    retired.push_back(std::move(bin));
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
                handler(output, delivery->finish.url, delivery->finish.error, delivery->finish.fault);
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
        // The main thread waits here, so the sound's fallback cannot come from its timer.
        const auto first = std::min<std::chrono::milliseconds>(timeout, kSoundEndFallback);
        bool done = s->changed.wait_for(lock, first, complete);
        if (!done) {
            lock.unlock();
            d->forceSoundEnd();
            lock.lock();
            done = s->changed.wait_for(lock, timeout - first, complete);
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
    // so the file is closed as the muxer last left it.
    qCWarning(lcCapture).noquote() << "movie: writing failed:" << text;
    if (d->error.isEmpty()) {
        d->error = text;
        d->fault = writeFault(message);
    }
    d->report(d->completeNow());
    return true;
}

} // namespace quillora::capture
