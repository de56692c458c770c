#include "JpegFrameCheck.h"

#include "CaptureLog.h"

namespace quillora::capture {

namespace {
// How much padding after the end-of-image marker is taken for padding, not for a broken frame.
constexpr std::size_t kMaxPadding = 4096;
} // namespace

bool jpegFrameLooksWhole(const std::uint8_t *data, std::size_t size)
{
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    std::size_t end = size;
    while (end > 2 && size - end < kMaxPadding && (data[end - 1] == 0x00 || data[end - 1] == 0xFF))
        --end;
    return end >= 4 && data[end - 1] == 0xD9 && data[end - 2] == 0xFF;
}

namespace {

struct GuardState {
    OncePerSecond log;
};

GstPadProbeReturn checkFrame(GstPad *, GstPadProbeInfo *info, gpointer userData)
{
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer)
        return GST_PAD_PROBE_OK;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_PAD_PROBE_DROP;
    const bool whole = jpegFrameLooksWhole(map.data, map.size);
    const std::size_t size = map.size;
    gst_buffer_unmap(buffer, &map);
    if (whole)
        return GST_PAD_PROBE_OK;
    int passedOver = 0;
    if (static_cast<GuardState *>(userData)->log.ready(&passedOver))
        qCInfo(lcCapture) << "camera frame skipped: not a whole JPEG picture (" << size << "bytes;" << passedOver
                          << "more since the last line)";
    return GST_PAD_PROBE_DROP;
}

} // namespace

void guardJpegDecoder(GstElement *decoder)
{
    // -1: a frame the decoder cannot read is passed over, never the end of the stream.
    g_object_set(decoder, "max-errors", -1, nullptr);
    GstPad *sink = gst_element_get_static_pad(decoder, "sink");
    if (!sink)
        return;
    gst_pad_add_probe(sink, GST_PAD_PROBE_TYPE_BUFFER, checkFrame, new GuardState,
        [](gpointer p) { delete static_cast<GuardState *>(p); });
    gst_object_unref(sink);
}

} // namespace quillora::capture
