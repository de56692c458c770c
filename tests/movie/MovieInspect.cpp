#include "MovieInspect.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <memory>
#include <mutex>

namespace quillora::test {

namespace {

template <typename T> struct Unref {
    void operator()(T *p) const
    {
        if (p)
            gst_object_unref(p);
    }
};
template <typename T> using Owned = std::unique_ptr<T, Unref<T>>;

struct StreamListFree {
    void operator()(GList *list) const { gst_discoverer_stream_info_list_free(list); }
};
using StreamList = std::unique_ptr<GList, StreamListFree>;

QString capsName(GstDiscovererStreamInfo *info, int *mpegVersion = nullptr)
{
    GstCaps *caps = gst_discoverer_stream_info_get_caps(info);
    if (!caps)
        return {};
    const GstStructure *s = gst_caps_get_structure(caps, 0);
    const QString name = QString::fromUtf8(gst_structure_get_name(s));
    if (mpegVersion)
        gst_structure_get_int(s, "mpegversion", mpegVersion);
    gst_caps_unref(caps);
    return name;
}

} // namespace

MovieInfo discoverMovie(const QString &path)
{
    gst_init(nullptr, nullptr);
    MovieInfo out;
    GError *error = nullptr;
    Owned<GstDiscoverer> discoverer(gst_discoverer_new(20 * GST_SECOND, &error));
    if (!discoverer) {
        out.error = QStringLiteral("no discoverer: %1").arg(error ? error->message : "");
        g_clear_error(&error);
        return out;
    }
    const QByteArray uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded();
    Owned<GstDiscovererInfo> info(gst_discoverer_discover_uri(discoverer.get(), uri.constData(), &error));
    if (!info || gst_discoverer_info_get_result(info.get()) != GST_DISCOVERER_OK) {
        out.error = QStringLiteral("not readable: %1").arg(error ? error->message : "unknown");
        g_clear_error(&error);
        return out;
    }
    g_clear_error(&error);
    out.durationSeconds = double(gst_discoverer_info_get_duration(info.get())) / GST_SECOND;
    if (Owned<GstDiscovererStreamInfo> top{gst_discoverer_info_get_stream_info(info.get())})
        out.container = capsName(top.get());

    StreamList videos(gst_discoverer_info_get_video_streams(info.get()));
    out.videoTracks = int(g_list_length(videos.get()));
    if (videos) {
        auto *v = GST_DISCOVERER_VIDEO_INFO(videos->data);
        out.videoCodec = capsName(GST_DISCOVERER_STREAM_INFO(v));
        out.pictureSize
            = QSize(int(gst_discoverer_video_info_get_width(v)), int(gst_discoverer_video_info_get_height(v)));
    }
    StreamList audios(gst_discoverer_info_get_audio_streams(info.get()));
    out.audioTracks = int(g_list_length(audios.get()));
    if (audios) {
        auto *a = GST_DISCOVERER_AUDIO_INFO(audios->data);
        out.audioCodec = capsName(GST_DISCOVERER_STREAM_INFO(a), &out.audioMpegVersion);
        out.sampleRate = int(gst_discoverer_audio_info_get_sample_rate(a));
    }
    return out;
}

namespace {

struct DecodeState {
    std::mutex mutex; // guards result, written by the decoders' streaming threads
    DecodedMovie result;
    GstElement *pipeline = nullptr;
};

GstPadProbeReturn countBuffer(GstPad *pad, GstPadProbeInfo *info, gpointer userData)
{
    auto *state = static_cast<DecodeState *>(userData);
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstCaps *caps = gst_pad_get_current_caps(pad);
    const bool video = caps && g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
    if (caps)
        gst_caps_unref(caps);
    std::lock_guard lock(state->mutex);
    DecodedMovie &r = state->result;
    const double start = GST_BUFFER_PTS_IS_VALID(buffer) ? double(GST_BUFFER_PTS(buffer)) / GST_SECOND : -1;
    const double end
        = start + (GST_BUFFER_DURATION_IS_VALID(buffer) ? double(GST_BUFFER_DURATION(buffer)) / GST_SECOND : 0);
    if (video) {
        ++r.videoFrames;
        if (r.videoStart < 0 && start >= 0)
            r.videoStart = start;
        r.videoEnd = std::max(r.videoEnd, end);
    } else {
        ++r.audioBuffers;
        if (r.audioStart < 0 && start >= 0)
            r.audioStart = start;
        r.audioEnd = std::max(r.audioEnd, end);
    }
    return GST_PAD_PROBE_OK;
}

void padAdded(GstElement *, GstPad *pad, gpointer userData)
{
    auto *state = static_cast<DecodeState *>(userData);
    GstElement *sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add(GST_BIN(state->pipeline), sink);
    gst_element_sync_state_with_parent(sink);
    GstPad *sinkPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, sinkPad);
    gst_pad_add_probe(sinkPad, GST_PAD_PROBE_TYPE_BUFFER, countBuffer, state, nullptr);
    gst_object_unref(sinkPad);
}

} // namespace

DecodedMovie decodeMovie(const QString &path, int timeoutSeconds)
{
    gst_init(nullptr, nullptr);
    DecodeState state;
    Owned<GstElement> pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("decode"))));
    state.pipeline = pipeline.get();
    GstElement *src = gst_element_factory_make("filesrc", nullptr);
    GstElement *decode = gst_element_factory_make("decodebin", nullptr);
    const QByteArray location = QFile::encodeName(path);
    g_object_set(src, "location", location.constData(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), src, decode, nullptr);
    gst_element_link(src, decode);
    g_signal_connect(decode, "pad-added", G_CALLBACK(padAdded), &state);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    Owned<GstBus> bus(gst_element_get_bus(pipeline.get()));
    GstMessage *message = gst_bus_timed_pop_filtered(
        bus.get(), GstClockTime(timeoutSeconds) * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    QString error;
    if (!message) {
        error = QStringLiteral("decoding did not end within %1 s").arg(timeoutSeconds);
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError *e = nullptr;
        gst_message_parse_error(message, &e, nullptr);
        error = QStringLiteral("decoding failed: %1").arg(e ? e->message : "");
        g_clear_error(&e);
    }
    if (message)
        gst_message_unref(message);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    std::lock_guard lock(state.mutex);
    DecodedMovie result = state.result;
    result.error = error;
    return result;
}

} // namespace quillora::test
