#include "VirtualCamera.h"

#include <QPainter>
#include <QRandomGenerator>

#include <gst/video/video.h>

namespace quillora::capture {

void paintVirtualPage(QImage &image, quint64 frameNumber)
{
    const int w = image.width();
    const int h = image.height();
    if (w < 8 || h < 8)
        return;
    QPainter p(&image);
    const int marker = std::max(2, w / 8);
    const int margin = std::max(1, w / 32);
    p.fillRect(margin, margin, marker, marker, Qt::black);

    // Text lines: word-sized dark blocks whose lengths come from a fixed seed, so every frame
    // shows the same page.
    const int lineHeight = std::max(2, h / 48);
    const int lineGap = lineHeight;
    const QColor ink(0x2b, 0x2b, 0x33);
    QRandomGenerator words(0x5eed);
    const int left = margin * 2 + marker;
    for (int y = margin * 2 + marker; y + lineHeight < h - margin * 3; y += lineHeight + lineGap) {
        int x = (y < margin + marker + lineGap) ? left : margin * 2;
        const int right = w - margin * 2;
        while (x < right) {
            const int word = std::max(2, int(words.bounded(w / 40, w / 10 + 2)));
            const int end = std::min(right, x + word);
            p.fillRect(x, y, end - x, lineHeight, ink);
            x = end + std::max(2, w / 80);
        }
    }

    // The moving element along the bottom margin: one full sweep every four seconds.
    const int block = std::max(2, h / 24);
    const int travel = std::max(1, w - 2 * margin - block);
    const int step = int((frameNumber * quint64(travel)) / 120u % quint64(travel));
    p.fillRect(margin + step, h - margin - block, block, block, QColor(0xc0, 0x30, 0x30));
}

namespace {

struct ProbeState {
    quint64 frames = 0;
};

GstPadProbeReturn paintProbe(GstPad *pad, GstPadProbeInfo *info, gpointer userData)
{
    auto *state = static_cast<ProbeState *>(userData);
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    CapsPtr caps(gst_pad_get_current_caps(pad));
    GstVideoInfo vinfo;
    if (!buffer || !caps || !gst_video_info_from_caps(&vinfo, caps.get()))
        return GST_PAD_PROBE_OK;
    buffer = gst_buffer_make_writable(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &vinfo, buffer, GST_MAP_WRITE))
        return GST_PAD_PROBE_OK;
    QImage image(static_cast<uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)), GST_VIDEO_FRAME_WIDTH(&frame),
        GST_VIDEO_FRAME_HEIGHT(&frame), GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32);
    paintVirtualPage(image, state->frames++);
    gst_video_frame_unmap(&frame);
    return GST_PAD_PROBE_OK;
}

} // namespace

CapsPtr virtualCameraCaps(QSize size)
{
    return CapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT,
        size.width(), "height", G_TYPE_INT, size.height(), "framerate", GST_TYPE_FRACTION, 30, 1, "pixel-aspect-ratio",
        GST_TYPE_FRACTION, 1, 1, nullptr));
}

ElementPtr makeVirtualCameraSource(QSize size, QString *error)
{
    if (!size.isValid() || size.width() < 8 || size.height() < 8) {
        if (error)
            *error = QStringLiteral("virtual camera: bad size");
        return {};
    }
    ElementPtr bin(GST_ELEMENT(gst_object_ref_sink(gst_bin_new("virtualcamera"))));
    GstElement *src = gst_element_factory_make("videotestsrc", "camera");
    GstElement *filter = gst_element_factory_make("capsfilter", "camerafilter");
    if (!src || !filter) {
        if (error)
            *error = QStringLiteral("videotestsrc is missing (gstreamer1.0-plugins-base)");
        if (src)
            gst_object_unref(gst_object_ref_sink(src));
        if (filter)
            gst_object_unref(gst_object_ref_sink(filter));
        return {};
    }
    // The test source paints the paper and paces the frames by the clock; the probe draws
    // the page on top, in place.
    g_object_set(src, "is-live", TRUE, "foreground-color", guint(kVirtualPaper), nullptr);
    gst_util_set_object_arg(G_OBJECT(src), "pattern", "solid-color");
    g_object_set(filter, "caps", virtualCameraCaps(size).get(), nullptr);
    gst_bin_add_many(GST_BIN(bin.get()), src, filter, nullptr);
    gst_element_link(src, filter);
    PadPtr filterSrc(gst_element_get_static_pad(filter, "src"));
    gst_pad_add_probe(filterSrc.get(), GST_PAD_PROBE_TYPE_BUFFER, paintProbe, new ProbeState,
        [](gpointer p) { delete static_cast<ProbeState *>(p); });
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", filterSrc.get()));
    return bin;
}

} // namespace quillora::capture
