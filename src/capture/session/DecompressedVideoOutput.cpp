// SPDX-License-Identifier: GPL-3.0-or-later
#include "DecompressedVideoOutput.h"

#include "CaptureLog.h"
#include "Frame.h"
#include "GstHandles.h"
#include "HandOff.h"
#include "SessionGraph.h"

#include <gst/app/gstappsink.h>

namespace quillora::capture {

namespace {

GstFlowReturn frameSample(GstAppSink *sink, gpointer userData)
{
    auto *output = static_cast<DecompressedVideoOutput *>(userData);
    // The sample's reference goes straight into the frame: nothing is copied.
    const Frame frame = Frame::adopt(gst_app_sink_pull_sample(sink));
    if (frame)
        output->deliver(frame);
    return GST_FLOW_OK;
}

// A camera's JPEG frame is kept as it came and decoded only when its pixels are asked for (a
// photo, a freeze): decoding every frame at full size in case one is wanted would cost more
// than the live picture itself.
GstFlowReturn jpegFrameSample(GstAppSink *sink, gpointer userData)
{
    auto *output = static_cast<DecompressedVideoOutput *>(userData);
    SamplePtr sample(gst_app_sink_pull_sample(sink));
    GstBuffer *buffer = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_FLOW_OK;
    QString why;
    const auto size = output->jpegCheck().frameSize(map.data, map.size, &why);
    gst_buffer_unmap(buffer, &map);
    handOff(map.data); // to whoever frees it
    // A frame that did not arrive whole never becomes the newest frame.
    if (!size)
        return GST_FLOW_OK;
    const QSize wanted = output->frameSize();
    const Frame frame = Frame::adoptJpeg(sample.release(), *size, wanted.isValid() ? wanted : *size);
    if (frame)
        output->deliver(frame);
    return GST_FLOW_OK;
}

} // namespace

DecompressedVideoOutput::DecompressedVideoOutput() = default;
DecompressedVideoOutput::~DecompressedVideoOutput() = default;

QSize DecompressedVideoOutput::frameSize() const
{
    const int w = m_attributes.value(kPixelBufferWidthKey).toInt();
    const int h = m_attributes.value(kPixelBufferHeightKey).toInt();
    return w > 0 && h > 0 ? QSize(w, h) : QSize();
}

void DecompressedVideoOutput::setPixelBufferAttributes(const QVariantMap &attributes)
{
    m_attributes = attributes;
    applyCaps();
}

void DecompressedVideoOutput::applyCaps()
{
    if (!m_capsFilter)
        return;
    const QSize size = frameSize();
    CapsPtr caps(size.isValid()
            ? gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT, size.width(),
                "height", G_TYPE_INT, size.height(), "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr)
            : gst_caps_from_string("video/x-raw,format=BGRx"));
    g_object_set(m_capsFilter, "caps", caps.get(), nullptr);
}

void DecompressedVideoOutput::deliver(const Frame &frame)
{
    if (auto *d = m_delegate.load())
        d->captureOutputDidOutputVideoFrame(this, frame);
    // Once per session, once the frame is the delegate's: what scripts and a reader of the log
    // wait for before using the picture.
    if (!m_delivered.exchange(true))
        qCInfo(lcCapture, "first frame: %dx%d", frame.width(), frame.height());
}

bool DecompressedVideoOutput::attach(SessionGraph &graph, QString *error)
{
    GstBin *bin = GST_BIN(graph.pipeline());
    if (graph.compressedVideo()) {
        GstElement *sink = gst_element_factory_make("appsink", "framesink");
        if (!sink) {
            if (error)
                *error = QStringLiteral("appsink missing");
            return false;
        }
        g_object_set(sink, "max-buffers", 1u, "drop", TRUE, "sync", FALSE, "enable-last-sample", FALSE, nullptr);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = jpegFrameSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
        gst_bin_add(bin, sink);
        if (!graph.linkTeeBranch(sink, "framequeue")) {
            if (error)
                *error = QStringLiteral("cannot link the decoded-frame branch");
            return false;
        }
        return true;
    }
    GstElement *scale = gst_element_factory_make("videoscale", "framescale");
    GstElement *filter = gst_element_factory_make("capsfilter", "framecaps");
    GstElement *sink = gst_element_factory_make("appsink", "framesink");
    if (!scale || !filter || !sink) {
        if (error)
            *error = QStringLiteral("videoscale or appsink missing");
        return false;
    }
    // Frames are stretched to exactly the requested size, as the pixel buffer attributes ask.
    g_object_set(scale, "add-borders", FALSE, nullptr);
    g_object_set(sink, "max-buffers", 1u, "drop", TRUE, "sync", FALSE, "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = frameSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_bin_add_many(bin, scale, filter, sink, nullptr);
    m_capsFilter = filter;
    applyCaps();
    if (!gst_element_link_many(scale, filter, sink, nullptr) || !graph.linkVideoBranch(scale, "framequeue")) {
        if (error)
            *error = QStringLiteral("cannot link the decoded-frame branch");
        return false;
    }
    return true;
}

void DecompressedVideoOutput::detach(SessionGraph &)
{
    m_capsFilter = nullptr;
}

QString DecompressedVideoOutput::describe() const
{
    const QSize size = frameSize();
    return QStringLiteral("preview %1x%2").arg(size.width()).arg(size.height());
}

} // namespace quillora::capture
