// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureSession.h"

#include "CaptureLog.h"
#include "Devices.h"
#include "Frame.h"
#include "JpegDecoder.h"
#include "SanitizerHandOff.h"
#include "SessionGraph.h"

#include <gst/app/gstappsink.h>

#include <QMetaObject>
#include <QPointer>

#include <algorithm>

namespace quillora::capture {

CaptureDeviceInput::CaptureDeviceInput(CaptureDevicePtr device)
    : m_device(std::move(device))
{
}

CaptureOutput::~CaptureOutput() = default;
void CaptureOutput::addedToSession(const std::vector<std::shared_ptr<CaptureDeviceInput>> &) { }
void CaptureOutput::detach(SessionGraph &) { }
bool CaptureOutput::busMessage(SessionGraph &, void *)
{
    return false;
}
QSize CaptureOutput::preferredSourceSize() const
{
    return {};
}

SessionGraph::SessionGraph(CaptureSession &session)
    : m_session(session)
{
}

SessionGraph::~SessionGraph()
{
    if (m_pipeline)
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
}

bool SessionGraph::linkTeeBranch(GstElement *first, const char *queueName)
{
    GstElement *queue = gst_element_factory_make("queue", queueName);
    if (!queue)
        return false;
    // A branch that falls behind drops its oldest frame instead of stalling the camera.
    g_object_set(queue, "leaky", 2 /* downstream */, "max-size-buffers", 2u, "max-size-bytes", 0u, "max-size-time",
        guint64(0), nullptr);
    gst_bin_add(GST_BIN(m_pipeline.get()), queue);
    orderBuffersThrough(queue);
    return gst_element_link(m_videoTee, queue) && gst_element_link(queue, first);
}

bool SessionGraph::linkVideoBranch(GstElement *first, const char *queueName, QSize cover)
{
    if (!m_compressed)
        return linkTeeBranch(first, queueName);
    GstElement *decoder = registerJpegDecoder() ? gst_element_factory_make(kJpegDecoderFactory, nullptr) : nullptr;
    if (!decoder)
        return false;
    g_object_set(
        decoder, "cover-width", std::max(0, cover.width()), "cover-height", std::max(0, cover.height()), nullptr);
    gst_bin_add(GST_BIN(m_pipeline.get()), decoder);
    return gst_element_link(decoder, first) && linkTeeBranch(decoder, queueName);
}

namespace {

GstFlowReturn viewSample(GstAppSink *sink, gpointer userData)
{
    auto *graph = static_cast<SessionGraph *>(userData);
    CaptureSession &session = graph->session();
    // Scaled once, here, to the size the view shows the picture at, so the window only copies
    // it: a 2048x1536 camera is neither painted full size 30 times a second nor scaled twice.
    GstSample *sample = gst_app_sink_pull_sample(sink);
    const DisplayRequest request = session.displayRequest();
    const ViewPicture picture = graph->compressedVideo() ? graph->viewScaler().showJpeg(sample, request)
                                                         : graph->viewScaler().show(sample, request);
    if (picture.frame)
        session.deliverToDisplay(picture);
    else if (graph->compressedVideo())
        session.countSkippedFrame();
    return GST_FLOW_OK;
}

GstBusSyncReply busSync(GstBus *, GstMessage *message, gpointer userData)
{
    // A sync handler that answers GST_BUS_DROP owns the message and must release it. Kept, it
    // would keep the element that sent it, and through a message from the pipeline itself the
    // whole session: its elements, pools, threads and the bus's descriptors.
    std::shared_ptr<GstMessage> held(message, gst_message_unref);
    auto *session = static_cast<CaptureSession *>(userData);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_STREAM_STATUS:
        runTaskOnItsOwnThread(message);
        break;
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_WARNING:
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ELEMENT:
        // Bus messages are handled on the main thread; the session may be gone by then, and
        // the message with it.
        session->handleBusMessageLater(held);
        break;
    default:
        break;
    }
    return GST_BUS_DROP;
}

QString noModeReason(const std::vector<CameraMode> &modes, const QString &error)
{
    return modes.empty()
        ? QStringLiteral("the camera lists no mode%1")
              .arg(error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(error))
        : QStringLiteral("the camera offers no format that can be shown (only compressed ones such as H.264)");
}

// The camera's side is linked without a caps check, as inside its bin: a mode it refuses
// is found out when the stream starts.
bool linkUnchecked(GstElement *from, GstElement *to)
{
    return gst_element_link_pads_full(from, "src", to, "sink", GST_PAD_LINK_CHECK_HIERARCHY);
}

// Raw video from `src` to `tee`, converted to BGRx on the way.
bool linkAsBgrx(GstBin *bin, GstElement *src, GstElement *tee)
{
    GstElement *convert = gst_element_factory_make("videoconvert", "convert");
    GstElement *format = gst_element_factory_make("capsfilter", "rawformat");
    CapsPtr bgrx(gst_caps_from_string("video/x-raw,format=BGRx"));
    g_object_set(format, "caps", bgrx.get(), nullptr);
    gst_bin_add_many(bin, convert, format, nullptr);
    return linkUnchecked(src, convert) && linkUnchecked(convert, format) && linkUnchecked(format, tee);
}

// The capture view's branch: the camera's picture, scaled to the view as it arrives.
void addViewBranch(SessionGraph &g)
{
    GstElement *viewSink = gst_element_factory_make("appsink", "viewsink");
    g_object_set(viewSink, "max-buffers", 1u, "drop", TRUE, "sync", TRUE, "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = viewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(viewSink), &callbacks, &g, nullptr);
    gst_bin_add(GST_BIN(g.pipeline()), viewSink);
    if (!g.linkTeeBranch(viewSink, "viewqueue"))
        qCWarning(lcCapture) << "cannot link the capture view's branch";
}

} // namespace

CaptureSession::CaptureSession(QObject *parent)
    : QObject(parent)
{
    ensureGstreamer();
}

CaptureSession::~CaptureSession()
{
    teardown();
}

bool CaptureSession::addInput(const std::shared_ptr<CaptureDeviceInput> &input, QString *error)
{
    if (!input || !input->device()) {
        if (error)
            *error = QStringLiteral("no device");
        return false;
    }
    if (m_graph) {
        if (error)
            *error = QStringLiteral("session already running");
        return false;
    }
    for (const auto &existing : m_inputs) {
        if (existing->mediaType() == input->mediaType()) {
            if (error)
                *error = QStringLiteral("the session already has an input of that kind");
            return false;
        }
    }
    m_inputs.push_back(input);
    return true;
}

bool CaptureSession::addOutput(const std::shared_ptr<CaptureOutput> &output, QString *error)
{
    if (!output || m_graph) {
        if (error)
            *error = output ? QStringLiteral("session already running") : QStringLiteral("no output");
        return false;
    }
    m_outputs.push_back(output);
    output->addedToSession(m_inputs);
    return true;
}

QSize CaptureSession::largestWantedSize() const
{
    QSize hint;
    for (const auto &output : m_outputs) {
        const QSize wanted = output->preferredSourceSize();
        if (wanted.isValid() && (!hint.isValid() || wanted.width() * wanted.height() > hint.width() * hint.height()))
            hint = wanted;
    }
    if (!hint.isValid())
        hint = QSize(640, 480);
    return hint;
}

// Links the camera's source to the video tee, decoding or converting on the way as the
// branches need.
bool CaptureSession::linkCamera(SessionGraph &g)
{
    GstBin *bin = GST_BIN(g.m_pipeline.get());
    GstElement *src = g.m_source;
    // JPEG frames go to the branches as they came, each decoding at the size it needs; raw
    // video is converted to BGRx once, here. While a movie is recorded, the view and the movie
    // want the picture at about the same size, and reading a frame's entropy-coded data is most
    // of what decoding it costs at any scale: one decode here, at the smallest scale covering
    // both, instead of one in each branch.
    const bool recording = std::any_of(
        m_outputs.begin(), m_outputs.end(), [](const auto &output) { return output->takesViewSizedPicture(); });
    g.m_compressed = isMjpeg(m_mode->fourcc) && !recording;
    bool linked = true;
    if (isMjpeg(m_mode->fourcc) && recording) {
        GstElement *decoder
            = registerJpegDecoder() ? gst_element_factory_make(kJpegDecoderFactory, "decoder") : nullptr;
        const QSize cover = sharedDecodeCover(displayRequest());
        if (decoder) {
            g_object_set(decoder, "cover-width", cover.width(), "cover-height", cover.height(), nullptr);
            gst_bin_add(bin, decoder);
            g.m_sharedDecoder = decoder;
            g.m_sharedCover = cover;
        }
        linked = decoder && linkUnchecked(src, decoder) && linkUnchecked(decoder, g.m_videoTee);
    } else if (g.m_compressed) {
        linked = linkUnchecked(src, g.m_videoTee);
    } else {
        linked = linkAsBgrx(bin, src, g.m_videoTee);
    }
    return linked;
}

void CaptureSession::build()
{
    m_graph = std::make_unique<SessionGraph>(*this);
    SessionGraph &g = *m_graph;
    g.m_pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("capture-session"))));
    GstBin *bin = GST_BIN(g.m_pipeline.get());

    BusPtr bus(gst_element_get_bus(g.m_pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), busSync, this, nullptr);

    std::shared_ptr<CaptureDeviceInput> video;
    std::shared_ptr<CaptureDeviceInput> sound;
    for (const auto &input : m_inputs)
        (input->mediaType() == MediaType::Video ? video : sound) = input;

    const QSize hint = largestWantedSize();
    m_requestedSize = hint;
    m_sawPicture.store(false);

    if (!video) {
        qCWarning(lcCapture) << "no picture: the session has no camera";
        m_failed = true;
        return;
    }
    const DeviceDescription &camera = video->device()->description();
    QString error;
    if (!m_modesRead) {
        m_modes = cameraModes(camera, &error);
        m_modesRead = true;
    }
    m_mode = chooseCameraMode(m_modes, hint);
    if (!m_mode) {
        m_failed = true;
        reportLater(QStringLiteral("no picture: ") + noModeReason(m_modes, error));
        return;
    }
    qCInfo(lcCapture).noquote() << "camera mode:" << describeMode(*m_mode);
    ElementPtr source = makeVideoSource(camera, *m_mode, &error);
    if (!source) {
        qCWarning(lcCapture) << "no picture:" << error;
        m_failed = true;
        return;
    }
    GstElement *src = source.get();
    gst_bin_add(bin, src); // the bin takes a reference of its own; ours goes with `source`
    g.m_source = src;
    g.m_videoTee = gst_element_factory_make("tee", "videotee");
    gst_bin_add(bin, g.m_videoTee);
    const bool linked = linkCamera(g);
    if (!linked) {
        m_failed = true;
        reportLater(QStringLiteral("no picture: the camera's source cannot be linked"));
        return;
    }

    addViewBranch(g);

    if (sound) {
        g.m_soundSource = makeSoundSource(sound->device()->description(), &error);
        if (!g.m_soundSource)
            qCWarning(lcCapture) << "no sound:" << error;
    }

    for (const auto &output : m_outputs) {
        if (!output->attach(g, &error))
            qCWarning(lcCapture) << "output not attached:" << error;
    }
}

namespace {

// What the decoder before the tee (while a movie is recorded from an MJPEG camera) passed over.
quint64 recordingDecoderSkips(GstElement *pipeline)
{
    guint64 skipped = 0;
    if (ElementPtr decoder{pipeline ? gst_bin_get_by_name(GST_BIN(pipeline), "decoder") : nullptr})
        g_object_get(decoder.get(), "skipped-frames", &skipped, nullptr);
    return skipped;
}

} // namespace

quint64 CaptureSession::skippedFrames() const
{
    return m_skippedFrames.load() + m_skippedBefore.load()
        + (m_graph ? recordingDecoderSkips(m_graph->m_pipeline.get()) : 0);
}

void CaptureSession::teardown()
{
    if (!m_graph)
        return;
    m_skippedBefore.fetch_add(recordingDecoderSkips(m_graph->m_pipeline.get()));
    if (const quint64 skipped = m_skippedFrames.load() + m_skippedBefore.load())
        qCInfo(lcCapture) << "camera frames skipped so far in this session:" << skipped;
    for (const auto &output : m_outputs)
        output->detach(*m_graph);
    if (m_graph->m_pipeline) {
        gst_element_set_state(m_graph->m_pipeline.get(), GST_STATE_NULL);
        BusPtr bus(gst_element_get_bus(m_graph->m_pipeline.get()));
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    }
    m_graph.reset();
    m_running = false;
}

void CaptureSession::startRunning()
{
    if (!m_graph)
        build();
    m_running = true;
    QStringList what;
    for (const auto &output : m_outputs)
        what << output->describe();
    qCInfo(lcCapture).noquote() << "session started:"
                                << (what.isEmpty() ? QStringLiteral("view only") : what.join(QStringLiteral(", ")));
    if (m_failed || !m_graph->m_pipeline)
        return;
    if (gst_element_set_state(m_graph->m_pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        qCWarning(lcCapture) << "the session could not start; the camera may be gone or busy";
}

void CaptureSession::stopRunning()
{
    m_running = false;
    // Paused, not torn down: the device stays open, so the camera keeps reporting its button
    // and the picture comes back at once.
    if (m_graph && m_graph->m_pipeline)
        gst_element_set_state(m_graph->m_pipeline.get(), GST_STATE_PAUSED);
}

void CaptureSession::reportLater(const QString &message)
{
    qCWarning(lcCapture).noquote() << "capture error:" << message;
    // Said after startRunning has returned, so a listener may rebuild the session at once.
    QMetaObject::invokeMethod(
        this, [this, message] { Q_EMIT runtimeError(message); }, Qt::QueuedConnection);
}

// A camera may refuse the mode it listed (a mode list that changed since it was read, a
// firmware that lists more than it does). Before the first picture, the next best mode is
// tried once; a second refusal is reported.
bool CaptureSession::fallBackToNextMode()
{
    if (m_modeRetried || !m_mode || m_sawPicture.load())
        return false;
    m_modeRetried = true;
    const ChosenMode refused = *m_mode;
    const auto rest = withoutMode(m_modes, refused);
    if (!chooseCameraMode(rest, m_requestedSize))
        return false;
    qCInfo(lcCapture).noquote() << "camera refused" << describeMode(refused) << "- trying the next best mode";
    // The refusing camera ended its stream on the way out, and every branch saw that end: the
    // session is built again around the next mode rather than patched.
    const bool running = m_running;
    teardown();
    m_modes = rest;
    build();
    m_running = running;
    if (running && !m_failed && m_graph && m_graph->m_pipeline)
        gst_element_set_state(m_graph->m_pipeline.get(), GST_STATE_PLAYING);
    return true;
}

void CaptureSession::handleBusMessageLater(std::shared_ptr<void> message)
{
    m_mailbox->post([this, message] { handleBusMessage(message.get()); });
}

void CaptureSession::handleBusMessage(void *raw)
{
    auto *message = static_cast<GstMessage *>(raw);
    if (!m_graph)
        return;
    for (const auto &output : m_outputs)
        if (output->busMessage(*m_graph, message))
            return;
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        // A message from an element that has since left the pipeline (the camera's bin a
        // fallback replaced) says nothing about the session now.
        if (!gst_object_has_as_ancestor(GST_MESSAGE_SRC(message), GST_OBJECT(m_graph->m_pipeline.get())))
            return;
        if (m_graph->m_source
            && (GST_MESSAGE_SRC(message) == GST_OBJECT(m_graph->m_source)
                || gst_object_has_as_ancestor(GST_MESSAGE_SRC(message), GST_OBJECT(m_graph->m_source)))
            && fallBackToNextMode())
            return;
        GError *raw_error = nullptr;
        gchar *debug = nullptr;
        gst_message_parse_error(message, &raw_error, &debug);
        GErrorPtr err(raw_error);
        GCharPtr dbg(debug);
        const QString text = QStringLiteral("%1: %2").arg(QString::fromUtf8(GST_OBJECT_NAME(GST_MESSAGE_SRC(message))),
            err ? QString::fromUtf8(err->message) : QString());
        qCWarning(lcCapture).noquote() << "capture error:" << text << (dbg ? dbg.get() : "");
        Q_EMIT runtimeError(text);
        break;
    }
    case GST_MESSAGE_WARNING: {
        GError *raw_error = nullptr;
        gst_message_parse_warning(message, &raw_error, nullptr);
        GErrorPtr err(raw_error);
        // A decoder passing over corrupt frames warns for each one.
        int passedOver = 0;
        if (m_warningLog.ready(&passedOver))
            qCInfo(lcCapture) << "capture warning:" << (err ? err->message : "") << "(" << passedOver
                              << "more since the last line)";
        break;
    }
    default:
        break;
    }
}

} // namespace quillora::capture
