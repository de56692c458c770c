#include "JpegFrameCheck.h"

#include "CaptureLog.h"
#include "TurboJpegHandles.h"

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

bool jpegHeaderDecodable(const std::uint8_t *data, std::size_t size)
{
    // A decompressor of its own for every frame: after a header it could not read, TurboJPEG's
    // decompressor refuses every later one (its state is left mid-header).
    const TjHandlePtr decompressor(tjInitDecompress());
    if (!decompressor || !data || size == 0)
        return false;
    int width = 0;
    int height = 0;
    int subsampling = -1;
    int colorspace = -1;
    // Fails when the header does not read whole or names no standard subsampling.
    if (tjDecompressHeader3(
            decompressor.get(), data, static_cast<unsigned long>(size), &width, &height, &subsampling, &colorspace)
        != 0)
        return false;
    if (width < 1 || height < 1)
        return false;
    switch (colorspace) {
    case TJCS_YCbCr:
        return subsampling != TJSAMP_GRAY;
    case TJCS_GRAY:
        return subsampling == TJSAMP_GRAY;
    case TJCS_RGB:
        return subsampling == TJSAMP_444;
    default:
        return false; // CMYK, YCCK
    }
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
    const bool decodable = whole && jpegHeaderDecodable(map.data, map.size);
    const std::size_t size = map.size;
    gst_buffer_unmap(buffer, &map);
    if (decodable)
        return GST_PAD_PROBE_OK;
    int passedOver = 0;
    if (static_cast<GuardState *>(userData)->log.ready(&passedOver))
        qCInfo(lcCapture) << (whole ? "camera frame skipped: a JPEG header the decoder cannot start on ("
                                    : "camera frame skipped: not a whole JPEG picture (")
                          << size << "bytes;" << passedOver << "more since the last line)";
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
