// SPDX-License-Identifier: GPL-3.0-or-later
#include "MovieConverter.h"

#include "ElementRegistry.h"
#include "HandOff.h"

#include "PixelScale.h"

#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>
#include <libyuv/convert_from_argb.h>

using quillora::capture::HalvingScratch;

struct QuilloraMovieConverter {
    GstVideoFilter parent;
    HalvingScratch *scratch;       // the streaming thread's alone
    std::vector<uint8_t> *resized; // the picture at the movie's size, before conversion
};

struct QuilloraMovieConverterClass {
    GstVideoFilterClass parentClass;
};

G_DEFINE_TYPE(QuilloraMovieConverter, quillora_movie_converter, GST_TYPE_VIDEO_FILTER)

namespace {

// Either side with the other side's format, any size and pixel shape, the same frame rate.
GstCaps *transformCaps(GstBaseTransform *, GstPadDirection direction, GstCaps *caps, GstCaps *filter)
{
    const char *format = direction == GST_PAD_SINK ? "I420" : "BGRx";
    GstCaps *result = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        GstStructure *s = gst_structure_copy(gst_caps_get_structure(caps, i));
        gst_structure_set(s, "format", G_TYPE_STRING, format, "width", GST_TYPE_INT_RANGE, 1, G_MAXINT, "height",
            GST_TYPE_INT_RANGE, 1, G_MAXINT, "pixel-aspect-ratio", GST_TYPE_FRACTION_RANGE, 1, G_MAXINT, G_MAXINT, 1,
            nullptr);
        gst_structure_remove_fields(s, "colorimetry", "chroma-site", nullptr);
        result = gst_caps_merge_structure(result, s);
    }
    return quillora::capture::filteredCaps(result, filter);
}

// Where the other side leaves a choice: the input's own size, square pixels. The I420 side
// says BT.601 studio range, which is what libyuv writes (left unsaid, a picture of 720 rows
// or more would be taken as BT.709).
GstCaps *fixateCaps(GstBaseTransform *, GstPadDirection direction, GstCaps *caps, GstCaps *othercaps)
{
    othercaps = gst_caps_make_writable(gst_caps_truncate(othercaps));
    GstStructure *in = gst_caps_get_structure(caps, 0);
    GstStructure *out = gst_caps_get_structure(othercaps, 0);
    int w = 0;
    int h = 0;
    if (gst_structure_get_int(in, "width", &w))
        gst_structure_fixate_field_nearest_int(out, "width", w);
    if (gst_structure_get_int(in, "height", &h))
        gst_structure_fixate_field_nearest_int(out, "height", h);
    gst_structure_fixate_field_nearest_fraction(out, "pixel-aspect-ratio", 1, 1);
    if (direction == GST_PAD_SINK)
        gst_structure_set(out, "colorimetry", G_TYPE_STRING, "bt601", nullptr);
    return gst_caps_fixate(othercaps);
}

GstFlowReturn transformFrame(GstVideoFilter *filter, GstVideoFrame *in, GstVideoFrame *out)
{
    const quillora::HandOffOnExit leave(filter); // to finalize, on whichever thread it runs
    auto *self = reinterpret_cast<QuilloraMovieConverter *>(filter);
    const QSize source(GST_VIDEO_FRAME_WIDTH(in), GST_VIDEO_FRAME_HEIGHT(in));
    const QSize target(GST_VIDEO_FRAME_WIDTH(out), GST_VIDEO_FRAME_HEIGHT(out));
    const auto *from = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(in, 0));
    int fromStride = GST_VIDEO_FRAME_PLANE_STRIDE(in, 0);
    if (source != target) {
        self->resized->resize(size_t(target.width()) * size_t(target.height()) * 4);
        if (!quillora::capture::scaleBgrx(
                from, fromStride, source, self->resized->data(), target.width() * 4, target, *self->scratch)) {
            GST_ELEMENT_ERROR(filter, STREAM, FAILED, ("the picture could not be scaled for the movie"), (nullptr));
            return GST_FLOW_ERROR;
        }
        from = self->resized->data();
        fromStride = target.width() * 4;
    }
    // libyuv's ARGB is BGRA in memory, our BGRx; its I420 is BT.601 studio range.
    const int failed = libyuv::ARGBToI420(from, fromStride, static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(out, 0)),
        GST_VIDEO_FRAME_PLANE_STRIDE(out, 0), static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(out, 1)),
        GST_VIDEO_FRAME_PLANE_STRIDE(out, 1), static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(out, 2)),
        GST_VIDEO_FRAME_PLANE_STRIDE(out, 2), target.width(), target.height());
    if (failed) {
        GST_ELEMENT_ERROR(filter, STREAM, FAILED, ("the picture could not be converted for the movie"), (nullptr));
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

void finalize(GObject *object)
{
    quillora::takeOver(object); // after the last frame, converted on another thread
    auto *self = reinterpret_cast<QuilloraMovieConverter *>(object);
    delete self->scratch;
    delete self->resized;
    G_OBJECT_CLASS(quillora_movie_converter_parent_class)->finalize(object);
}

} // namespace

static void quillora_movie_converter_class_init(QuilloraMovieConverterClass *klass)
{
    G_OBJECT_CLASS(klass)->finalize = finalize;
    auto *element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(element, "Quillora movie picture converter", "Filter/Converter/Video/Scaler",
        "Scales BGRx pictures and converts them to I420 in one pass", "Quillora");
    static GstStaticPadTemplate sinkTemplate
        = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("BGRx")));
    static GstStaticPadTemplate srcTemplate
        = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("I420")));
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    auto *transform = GST_BASE_TRANSFORM_CLASS(klass);
    transform->transform_caps = transformCaps;
    transform->fixate_caps = fixateCaps;
    transform->passthrough_on_same_caps = FALSE;
    GST_VIDEO_FILTER_CLASS(klass)->transform_frame = transformFrame;
}

static void quillora_movie_converter_init(QuilloraMovieConverter *self)
{
    self->scratch = new HalvingScratch;
    self->resized = new std::vector<uint8_t>;
}

namespace quillora::capture {

bool registerMovieConverter()
{
    return registerElementOnce<quillora_movie_converter_get_type>(kMovieConverterFactory);
}

} // namespace quillora::capture
