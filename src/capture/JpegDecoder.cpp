#include "JpegDecoder.h"

#include "ElementRegistry.h"

#include "CaptureLog.h"
#include "JpegFrameCheck.h"
#include "TurboJpegHandles.h"

#include <gst/base/gstbasetransform.h>
#include <gst/video/video.h>

#include <QByteArray>

#include <utility>

using quillora::capture::OncePerSecond;

struct QuilloraJpegDecoder {
    GstBaseTransform parent;
    void *decompressor;   // tjhandle, the streaming thread's alone
    GstVideoInfo *output; // the negotiated picture
    OncePerSecond *log;   // skipped frames
};

struct QuilloraJpegDecoderClass {
    GstBaseTransformClass parentClass;
};

G_DEFINE_TYPE(QuilloraJpegDecoder, quillora_jpeg_decoder, GST_TYPE_BASE_TRANSFORM)

namespace {

QuilloraJpegDecoder *self(gpointer object)
{
    return reinterpret_cast<QuilloraJpegDecoder *>(object);
}

// A JPEG frame of a size is a BGRx picture of that size, at the same rate and pixel shape.
GstCaps *transformCaps(GstBaseTransform *, GstPadDirection direction, GstCaps *caps, GstCaps *filter)
{
    GstCaps *result = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure *in = gst_caps_get_structure(caps, i);
        GstStructure *out = direction == GST_PAD_SINK
            ? gst_structure_new("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr)
            : gst_structure_new_empty("image/jpeg");
        for (const char *field : {"width", "height", "framerate", "pixel-aspect-ratio"})
            if (const GValue *v = gst_structure_get_value(in, field))
                gst_structure_set_value(out, field, v);
        result = gst_caps_merge_structure(result, out);
    }
    if (filter) {
        GstCaps *both = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(result);
        result = both;
    }
    return result;
}

gboolean setCaps(GstBaseTransform *transform, GstCaps *, GstCaps *outcaps)
{
    return gst_video_info_from_caps(self(transform)->output, outcaps);
}

gboolean transformSize(
    GstBaseTransform *transform, GstPadDirection direction, GstCaps *, gsize, GstCaps *, gsize *othersize)
{
    if (direction != GST_PAD_SINK)
        return FALSE;
    *othersize = GST_VIDEO_INFO_SIZE(self(transform)->output);
    return *othersize > 0;
}

// A frame that cannot be decoded whole is dropped; the picture goes on with the next. The
// decoder is made anew after a failure: TurboJPEG leaves a handle that failed unusable for the
// frames after.
GstFlowReturn skip(QuilloraJpegDecoder *decoder, const char *why, gsize size)
{
    quillora::TjHandlePtr failed(std::exchange(decoder->decompressor, nullptr));
    int passedOver = 0;
    if (decoder->log->ready(&passedOver))
        qCInfo(lcCapture) << "camera frame skipped:" << why << "(" << size << "bytes;" << passedOver
                          << "more since the last line)";
    return GST_BASE_TRANSFORM_FLOW_DROPPED;
}

GstFlowReturn transform(GstBaseTransform *transform, GstBuffer *in, GstBuffer *out)
{
    QuilloraJpegDecoder *decoder = self(transform);
    GstMapInfo jpeg;
    if (!gst_buffer_map(in, &jpeg, GST_MAP_READ))
        return skip(decoder, "unreadable", 0);
    struct Unmap {
        GstBuffer *buffer;
        GstMapInfo *map;
        ~Unmap() { gst_buffer_unmap(buffer, map); }
    } unmapIn{in, &jpeg};
    if (!quillora::capture::jpegFrameLooksWhole(jpeg.data, jpeg.size))
        return skip(decoder, "not a whole JPEG picture", jpeg.size);
    if (!decoder->decompressor)
        decoder->decompressor = tjInitDecompress();
    if (!decoder->decompressor)
        return skip(decoder, "no decoder", jpeg.size);
    const GstVideoInfo &info = *decoder->output;
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(decoder->decompressor, jpeg.data, static_cast<unsigned long>(jpeg.size), &width, &height,
            &subsampling, &colorspace)
        != 0) {
        const QByteArray why = QByteArray("unreadable JPEG headers: ") + tjGetErrorStr2(decoder->decompressor);
        return skip(decoder, why.constData(), jpeg.size);
    }
    // A frame of another size than the mode's would not fit the picture it is decoded into.
    if (width != GST_VIDEO_INFO_WIDTH(&info) || height != GST_VIDEO_INFO_HEIGHT(&info))
        return skip(decoder, "JPEG picture of another size than the mode's", jpeg.size);
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, out, GST_MAP_WRITE))
        return skip(decoder, "no picture to decode into", jpeg.size);
    // The fast integer IDCT, as GStreamer's jpegdec uses by default.
    const int result = tjDecompress2(decoder->decompressor, jpeg.data, static_cast<unsigned long>(jpeg.size),
        static_cast<unsigned char *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)), width,
        GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), height, TJPF_BGRX, TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE);
    gst_video_frame_unmap(&frame);
    // A warning (damaged data the decoder read past) still leaves a whole picture.
    if (result != 0 && tjGetErrorCode(decoder->decompressor) != TJERR_WARNING) {
        const QByteArray why = tjGetErrorStr2(decoder->decompressor);
        return skip(decoder, why.constData(), jpeg.size);
    }
    return GST_FLOW_OK;
}

void finalize(GObject *object)
{
    QuilloraJpegDecoder *decoder = self(object);
    quillora::TjHandlePtr owned(decoder->decompressor);
    delete decoder->output;
    delete decoder->log;
    G_OBJECT_CLASS(quillora_jpeg_decoder_parent_class)->finalize(object);
}

} // namespace

static void quillora_jpeg_decoder_class_init(QuilloraJpegDecoderClass *klass)
{
    G_OBJECT_CLASS(klass)->finalize = finalize;
    auto *element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(element, "Quillora camera JPEG decoder", "Codec/Decoder/Image",
        "Decodes a camera's JPEG frames to BGRx with libjpeg-turbo", "Quillora");
    static GstStaticPadTemplate sinkTemplate
        = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("image/jpeg"));
    static GstStaticPadTemplate srcTemplate
        = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("BGRx")));
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    auto *base = GST_BASE_TRANSFORM_CLASS(klass);
    base->transform_caps = transformCaps;
    base->set_caps = setCaps;
    base->transform_size = transformSize;
    base->transform = transform;
    base->passthrough_on_same_caps = FALSE;
}

static void quillora_jpeg_decoder_init(QuilloraJpegDecoder *decoder)
{
    decoder->decompressor = nullptr;
    decoder->output = new GstVideoInfo;
    gst_video_info_init(decoder->output);
    decoder->log = new OncePerSecond;
}

namespace quillora::capture {

bool registerJpegDecoder()
{
    return registerElementOnce<quillora_jpeg_decoder_get_type>(kJpegDecoderFactory);
}

} // namespace quillora::capture
