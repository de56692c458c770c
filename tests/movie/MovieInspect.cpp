// SPDX-License-Identifier: GPL-3.0-or-later
#include "MovieInspect.h"

#include "HandOff.h"
#include "SanitizerHandOff.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <gst/app/gstappsink.h>
#include <gst/pbutils/pbutils.h>

#include <mutex>

namespace quillora::test {

namespace {

QString capsName(GstDiscovererStreamInfo *info, int *mpegVersion = nullptr)
{
    g_autoptr(GstCaps) caps = info ? gst_discoverer_stream_info_get_caps(info) : nullptr;
    if (!caps || gst_caps_is_empty(caps))
        return {};
    const GstStructure *s = gst_caps_get_structure(caps, 0);
    if (mpegVersion)
        gst_structure_get_int(s, "mpegversion", mpegVersion);
    return QString::fromUtf8(gst_structure_get_name(s));
}

struct Decoding {
    std::mutex mutex; // guards result, written from the decoders' streaming threads
    DecodedMovie result;
    GstElement *pipeline = nullptr;
};

template <bool Video> GstPadProbeReturn countBuffer(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *d = static_cast<Decoding *>(data);
    GstBuffer *b = GST_PAD_PROBE_INFO_BUFFER(info);
    const double start = GST_BUFFER_PTS_IS_VALID(b) ? double(GST_BUFFER_PTS(b)) / GST_SECOND : -1;
    const double end = start + (GST_BUFFER_DURATION_IS_VALID(b) ? double(GST_BUFFER_DURATION(b)) / GST_SECOND : 0);
    std::lock_guard lock(d->mutex);
    DecodedMovie &r = d->result;
    ++(Video ? r.videoFrames : r.audioBuffers);
    double &first = Video ? r.videoStart : r.audioStart;
    double &last = Video ? r.videoEnd : r.audioEnd;
    if (first < 0 && start >= 0)
        first = start;
    last = std::max(last, end);
    return GST_PAD_PROBE_OK;
}

void padAdded(GstElement *, GstPad *pad, gpointer data)
{
    auto *d = static_cast<Decoding *>(data);
    GstElement *sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add(GST_BIN(d->pipeline), sink);
    gst_element_sync_state_with_parent(sink);
    g_autoptr(GstPad) sinkPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, sinkPad);
    g_autoptr(GstCaps) caps = gst_pad_query_caps(pad, nullptr);
    const bool video = !gst_caps_is_empty(caps)
        && g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
    gst_pad_add_probe(sinkPad, GST_PAD_PROBE_TYPE_BUFFER, video ? countBuffer<true> : countBuffer<false>, d, nullptr);
}

} // namespace

MovieInfo discoverMovie(const QString &path)
{
    gst_init(nullptr, nullptr);
    MovieInfo out;
    g_autoptr(GError) error = nullptr;
    g_autoptr(GstDiscoverer) discoverer = gst_discoverer_new(20 * GST_SECOND, &error);
    const QByteArray uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded();
    g_autoptr(GstDiscovererInfo) info
        = discoverer ? gst_discoverer_discover_uri(discoverer, uri.constData(), &error) : nullptr;
    if (!info || gst_discoverer_info_get_result(info) != GST_DISCOVERER_OK) {
        out.error = QStringLiteral("not readable: %1").arg(error ? error->message : "unknown");
        return out;
    }
    out.durationSeconds = double(gst_discoverer_info_get_duration(info)) / GST_SECOND;
    g_autoptr(GstDiscovererStreamInfo) top = gst_discoverer_info_get_stream_info(info);
    out.container = capsName(top);
    GList *videos = gst_discoverer_info_get_video_streams(info);
    GList *audios = gst_discoverer_info_get_audio_streams(info);
    out.audioTracks = int(g_list_length(audios));
    if (videos) {
        auto *v = GST_DISCOVERER_VIDEO_INFO(videos->data);
        out.videoCodec = capsName(GST_DISCOVERER_STREAM_INFO(v));
        out.pictureSize
            = QSize(int(gst_discoverer_video_info_get_width(v)), int(gst_discoverer_video_info_get_height(v)));
    }
    if (audios) {
        auto *a = GST_DISCOVERER_AUDIO_INFO(audios->data);
        out.audioCodec = capsName(GST_DISCOVERER_STREAM_INFO(a), &out.audioMpegVersion);
        out.sampleRate = int(gst_discoverer_audio_info_get_sample_rate(a));
    }
    gst_discoverer_stream_info_list_free(videos);
    gst_discoverer_stream_info_list_free(audios);
    return out;
}

DecodedMovie decodeMovie(const QString &path, int timeoutSeconds)
{
    gst_init(nullptr, nullptr);
    Decoding d;
    g_autoptr(GstElement) pipeline = gst_parse_launch("filesrc name=src ! decodebin name=decode", nullptr);
    d.pipeline = pipeline;
    g_autoptr(GstElement) src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    g_autoptr(GstElement) decode = gst_bin_get_by_name(GST_BIN(pipeline), "decode");
    g_object_set(src, "location", QFile::encodeName(path).constData(), nullptr);
    g_signal_connect(decode, "pad-added", G_CALLBACK(padAdded), &d);
    capture::runTasksOnTheirOwnThreads(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    g_autoptr(GstBus) bus = gst_element_get_bus(pipeline);
    g_autoptr(GstMessage) message = gst_bus_timed_pop_filtered(
        bus, GstClockTime(timeoutSeconds) * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    takeOver(message);
    g_autoptr(GError) error = nullptr;
    if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
        gst_message_parse_error(message, &error, nullptr);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    std::lock_guard lock(d.mutex);
    if (!message)
        d.result.error = QStringLiteral("decoding did not end within %1 s").arg(timeoutSeconds);
    else if (error)
        d.result.error = QStringLiteral("decoding failed: %1").arg(error->message);
    return d.result;
}

std::vector<QImage> pictures(const QString &path, int most)
{
    gst_init(nullptr, nullptr);
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    const QByteArray description = "uridecodebin caps=video/x-raw uri=\"" + uri
        + "\" ! videoconvert ! video/x-raw,format=BGRx ! appsink name=sink sync=false";
    g_autoptr(GstElement) pipeline = gst_parse_launch(description.constData(), nullptr);
    if (!pipeline)
        return {};
    g_autoptr(GstElement) sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::vector<QImage> decoded;
    while (int(decoded.size()) < most) {
        g_autoptr(GstSample) sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
        GstVideoInfo info;
        GstMapInfo map;
        if (!sample || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample))
            || !gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ))
            break;
        decoded.push_back(QImage(map.data, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
            GST_VIDEO_INFO_PLANE_STRIDE(&info, 0), QImage::Format_RGB32)
                              .copy());
        gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return decoded;
}

QImage firstPicture(const QString &path)
{
    const std::vector<QImage> first = pictures(path, 1);
    return first.empty() ? QImage() : first.front();
}

QString playProblem(const QString &path, quint64 minFrames, bool sound)
{
    const DecodedMovie m = decodeMovie(path);
    if (m.error.isEmpty() && m.videoFrames > minFrames && (!sound || m.audioBuffers > 0))
        return {};
    return QStringLiteral("%1: %2 pictures, %3 sound buffers %4")
        .arg(path)
        .arg(m.videoFrames)
        .arg(m.audioBuffers)
        .arg(m.error);
}

} // namespace quillora::test
