// SPDX-License-Identifier: GPL-3.0-or-later
// A recording's branch of the session's pipeline: made, linked to the camera's tee (and the
// sound input) when a recording starts, and unlinked and closed when it ends.
#include "MovieFileOutput.h"

#include "CaptureLog.h"
#include "JpegDecoder.h"
#include "MovieConverter.h"
#include "MovieFileOutput_p.h"
#include "MovieGate.h"
#include "PixelScale.h"
#include "SanitizerHandOff.h"
#include "SessionGraph.h"

#include <QFile>

namespace quillora::capture {

namespace {

// The index is rewritten this often, so a killed recording loses at most this much.
constexpr GstClockTime kIndexUpdatePeriod = GST_SECOND;
// The picture branch may fall this far behind the camera before it drops frames; enough
// for the encoder's hiccups, small enough that a stalled encoder cannot eat the memory.
constexpr guint64 kVideoQueueTime = GST_SECOND;
constexpr int kAacFrameSamples = 1024;

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
    const ProbeState probe(userData);
    StreamState &s = probe.state;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        s.framesOffered.fetch_add(1, std::memory_order_relaxed);
        notePictureTimes(s, GST_PAD_PROBE_INFO_BUFFER(info));
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
    ProbeState(userData).state.framesWritten.fetch_add(1, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn countSoundProbe(GstPad *, GstPadProbeInfo *, gpointer userData)
{
    ProbeState(userData).state.soundBuffers.fetch_add(1, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

// The end of stream reaching the file sink: everything the muxer wrote, the final index
// included, has been handed to the sink before it, and closing the sink flushes it.
GstPadProbeReturn fileEndProbe(GstPad *, GstPadProbeInfo *info, gpointer userData)
{
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    if (!event || GST_EVENT_TYPE(event) != GST_EVENT_EOS)
        return GST_PAD_PROBE_OK;
    const ProbeState probe(userData);
    StreamState &s = probe.state;
    {
        std::lock_guard lock(s.mutex);
        s.fileComplete = true;
    }
    s.changed.notify_all();
    if (s.context)
        s.context->post(s.onFileComplete);
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

// The elements of one recording's branch, all owned by the branch's bin; the sound's are
// nullptr in a movie without sound.
struct BranchElements {
    GstElement *queue = nullptr;
    GstElement *decoder = nullptr; // only for a camera that sends JPEG frames
    GstElement *convert = nullptr;
    GstElement *sizeCaps = nullptr;
    GstElement *encoder = nullptr;
    GstElement *muxer = nullptr;
    GstElement *sink = nullptr;
    GstElement *soundQueue = nullptr;
    GstElement *soundConvert = nullptr;
    GstElement *soundResample = nullptr;
    GstElement *soundCaps = nullptr;
    GstElement *soundEncoder = nullptr;
};

// Makes the branch's elements inside `b`; the factories that are not installed are added to
// `missing`.
BranchElements makeBranchElements(GstBin *b, bool compressedVideo, bool withSound, QStringList &missing)
{
    BranchElements e;
    e.queue = make("queue", "moviequeue", missing);
    registerMovieConverter();
    e.convert = make(kMovieConverterFactory, "movieconvert", missing);
    e.sizeCaps = make("capsfilter", "moviecaps", missing);
    // A camera's JPEG frames are decoded for the movie at the smallest scale that still
    // covers its box, not at full size.
    e.decoder = compressedVideo && registerJpegDecoder() ? make(kJpegDecoderFactory, "moviedecoder", missing) : nullptr;
    if (compressedVideo && !e.decoder)
        missing << QString::fromLatin1(kJpegDecoderFactory);
    e.encoder = make("x264enc", "movieencoder", missing);
    e.muxer = make("qtmux", "moviemux", missing);
    e.sink = make("filesink", "moviefile", missing);
    if (withSound) {
        e.soundQueue = make("queue", "moviesoundqueue", missing);
        e.soundConvert = make("audioconvert", "moviesoundconvert", missing);
        e.soundResample = make("audioresample", "moviesoundresample", missing);
        e.soundCaps = make("capsfilter", "moviesoundcaps", missing);
        e.soundEncoder = make("avenc_aac", "moviesoundencoder", missing);
    }
    for (GstElement *x : {e.queue, e.decoder, e.convert, e.sizeCaps, e.encoder, e.muxer, e.sink, e.soundQueue,
             e.soundConvert, e.soundResample, e.soundCaps, e.soundEncoder})
        if (x)
            gst_bin_add(b, x);
    for (GstElement *queue : {e.queue, e.soundQueue})
        if (queue)
            orderBuffersThrough(queue);
    return e;
}

// The picture's side: the queue, the size filter (fixed at the first caps), the encoder, the
// muxer's index and the file.
void configureVideo(const BranchElements &e, const CompressionOptions &videoOptions,
    std::chrono::seconds maximumDuration, unsigned indexBytesPerSecond, const QString &path)
{
    // A leaky queue: an encoder that cannot keep up loses frames of the movie rather than
    // stalling the camera and the live picture.
    g_object_set(e.queue, "leaky", 2 /* downstream */, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
        kVideoQueueTime, nullptr);
    CapsPtr initialCaps = videoCapsFor(QSize());
    g_object_set(e.sizeCaps, "caps", initialCaps.get(), nullptr);
    gst_util_set_object_arg(G_OBJECT(e.encoder), "speed-preset", "veryfast");
    gst_util_set_object_arg(G_OBJECT(e.encoder), "tune", "zerolatency");
    g_object_set(e.encoder, "bitrate", guint(videoOptions.bitRate() / 1000), "key-int-max", 60u, nullptr);
    // The index is written into space kept free at the start of the file and rewritten every
    // second, so a crash or a kill leaves a movie that plays up to its last second. The space
    // is sized for the longest movie; a recording that reaches it is ended (checkLimit).
    g_object_set(e.muxer, "reserved-max-duration", guint64(maximumDuration.count()) * GST_SECOND,
        "reserved-moov-update-period", kIndexUpdatePeriod, nullptr);
    if (indexBytesPerSecond)
        g_object_set(e.muxer, "reserved-bytes-per-sec", indexBytesPerSecond, nullptr);
    const QByteArray location = QFile::encodeName(path);
    // Unbuffered: every write reaches the file (or fails) before the next buffer is taken, so
    // the end of stream reaching the sink means all of the movie was written, and a failure
    // (a full disk) is reported before it; a buffer kept back would only be written, or fail,
    // after the end was seen.
    g_object_set(e.sink, "location", location.constData(), "async", FALSE, "sync", FALSE, "buffer-mode",
        2 /* unbuffered */, nullptr);

    if (e.decoder)
        g_object_set(e.decoder, "cover-width", videoOptions.maximumSize().width(), "cover-height",
            videoOptions.maximumSize().height(), nullptr);
}

bool linkVideo(const BranchElements &e)
{
    bool linked = e.decoder ? gst_element_link_many(e.queue, e.decoder, e.convert, nullptr)
                            : gst_element_link(e.queue, e.convert);
    return linked && gst_element_link_many(e.convert, e.sizeCaps, e.encoder, e.muxer, e.sink, nullptr);
}

bool configureAndLinkSound(const BranchElements &e, const CompressionOptions &soundOptions)
{
    CapsPtr rate(gst_caps_new_simple(
        "audio/x-raw", "rate", G_TYPE_INT, soundOptions.sampleRate(), "channels", GST_TYPE_INT_RANGE, 1, 2, nullptr));
    g_object_set(e.soundCaps, "caps", rate.get(), nullptr);
    g_object_set(e.soundEncoder, "bitrate", soundOptions.bitRate(), nullptr);
    // The sound waits for the picture's encoder; a second of it is plenty.
    g_object_set(e.soundQueue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", GST_SECOND, nullptr);
    return gst_element_link_many(
        e.soundQueue, e.soundConvert, e.soundResample, e.soundCaps, e.soundEncoder, e.muxer, nullptr);
}

// The probes that count, fit the picture and see the file's end, and the branch's way in.
void addBranchProbes(GstElement *branch, const BranchElements &e, bool withSound, const StreamStatePtr &shared)
{
    PadPtr entry(gst_element_get_static_pad(e.queue, "sink"));
    addProbe(entry.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        videoEntryProbe, shared);
    PadPtr encoded(gst_element_get_static_pad(e.encoder, "src"));
    addProbe(encoded.get(), GST_PAD_PROBE_TYPE_BUFFER, countVideoProbe, shared);
    if (withSound) {
        PadPtr soundEncoded(gst_element_get_static_pad(e.soundEncoder, "src"));
        addProbe(soundEncoded.get(), GST_PAD_PROBE_TYPE_BUFFER, countSoundProbe, shared);
    }
    PadPtr fileSinkPad(gst_element_get_static_pad(e.sink, "sink"));
    addProbe(fileSinkPad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, fileEndProbe, shared);
    GstPad *ghost = gst_ghost_pad_new("sink", entry.get());
    gst_pad_set_chain_function(ghost, movieEntryChain);
    gst_pad_set_chain_list_function(ghost, movieEntryChainList);
    gst_element_add_pad(branch, ghost);
}

} // namespace

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
    const BranchElements e = makeBranchElements(b, graph->compressedVideo(), withSound, missing);
    if (!missing.isEmpty()) {
        *why = QStringLiteral("GStreamer elements missing: %1").arg(missing.join(QStringLiteral(", ")));
        return false;
    }
    configureVideo(e, *videoOptions, maximumDuration, indexBytesPerSecond, path);
    bool linked = linkVideo(e);
    if (withSound && linked)
        linked = configureAndLinkSound(e, *soundOptions);
    if (!linked) {
        *why = QStringLiteral("cannot link the movie's elements");
        return false;
    }

    auto shared = std::make_shared<StreamState>();
    shared->box = videoOptions->maximumSize();
    shared->soundLead = gint64(gst_util_uint64_scale_int(kAacFrameSamples, GST_SECOND, soundOptions->sampleRate()));
    shared->videoCaps = e.sizeCaps;
    shared->context = &context;
    shared->clock = &clock;
    shared->onFileComplete = [this] { fileCompleted(); };
    addBranchProbes(branch.get(), e, withSound, shared);
    if (withSound && !takeSoundSource(b, e.soundQueue, shared, why))
        return false;
    if (!plugBranchIn(std::move(branch), e.muxer, shared, path, why))
        return false;
    state = State::Recording;
    recordingStarted = clock.now();
    limitPoll.start();
    qCInfo(lcCapture).noquote() << "movie: recording to" << path << (withSound ? "with sound" : "without sound");
    return true;
}

// The session's sound source joins the branch behind the gate that lines it up with the
// picture.
bool MovieFileOutput::Private::takeSoundSource(
    GstBin *b, GstElement *soundQueue, const StreamStatePtr &shared, QString *why)
{
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
    return true;
}

bool MovieFileOutput::Private::plugBranchIn(
    ElementPtr branch, GstElement *muxer, const StreamStatePtr &shared, const QString &path, QString *why)
{
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
    return true;
}

void MovieFileOutput::Private::shutdownBranch()
{
    watchdog->stop();
    limitPoll.stop();
    soundFallback->stop();
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

} // namespace quillora::capture
