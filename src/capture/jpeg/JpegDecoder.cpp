// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegDecoder.h"

#include "CaptureLog.h"
#include "ElementRegistry.h"
#include "HandOff.h"
#include "JpegPicture.h"
#include "PixelScale.h"

#include <gst/base/gstbasetransform.h>
#include <gst/video/video.h>

#include <atomic>
#include <mutex>

using quillora::capture::HalvingScratch;
using quillora::capture::JpegPicture;
using quillora::capture::OncePerSecond;

// Frames of another size than the camera's mode, and what it takes to stretch them to it; the
// streaming thread's alone.
struct OtherSizeFrames {
    QSize sent; // the size the camera sends instead, once seen; empty while it sends the mode's
    std::vector<uint8_t> decoded;
    HalvingScratch scratch;
};

struct QuilloraJpegDecoder {
    GstBaseTransform parent;
    JpegPicture *picture; // the streaming thread's alone
    GstVideoInfo *output; // the negotiated picture
    OncePerSecond *log;   // skipped frames
    OtherSizeFrames *otherSize;
    std::atomic<guint64> *skipped; // frames dropped, for the session to count
    // Guards coverWidth and coverHeight: set from the program's thread while the streaming thread
    // negotiates. A lock of the C++ library rather than the object's own, which is GLib's and
    // locks with a futex that ThreadSanitizer cannot follow.
    std::mutex *coverLock;
    gint coverWidth; // 0: full size
    gint coverHeight;
};

struct QuilloraJpegDecoderClass {
    GstBaseTransformClass parentClass;
};

G_DEFINE_TYPE(QuilloraJpegDecoder, quillora_jpeg_decoder, GST_TYPE_BASE_TRANSFORM)

namespace {

enum { PropCoverWidth = 1, PropCoverHeight, PropSkippedFrames };

QuilloraJpegDecoder *self(gpointer object)
{
    return reinterpret_cast<QuilloraJpegDecoder *>(object);
}

// A JPEG frame of a size is a BGRx picture of that size or of its scale that covers the cover
// size, at the same rate and pixel shape; any JPEG size may give a picture.
GstCaps *transformCaps(GstBaseTransform *transform, GstPadDirection direction, GstCaps *caps, GstCaps *filter)
{
    QSize cover;
    {
        std::lock_guard lock(*self(transform)->coverLock);
        cover = QSize(self(transform)->coverWidth, self(transform)->coverHeight);
    }
    GstCaps *result = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure *in = gst_caps_get_structure(caps, i);
        GstStructure *out = direction == GST_PAD_SINK
            ? gst_structure_new("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr)
            : gst_structure_new_empty("image/jpeg");
        for (const char *field : {"framerate", "pixel-aspect-ratio"})
            if (const GValue *v = gst_structure_get_value(in, field))
                gst_structure_set_value(out, field, v);
        int w = 0;
        int h = 0;
        if (direction == GST_PAD_SINK && gst_structure_get_int(in, "width", &w)
            && gst_structure_get_int(in, "height", &h)) {
            const QSize size = quillora::capture::jpegScaledSize(QSize(w, h), cover);
            gst_structure_set(out, "width", G_TYPE_INT, size.width(), "height", G_TYPE_INT, size.height(), nullptr);
        } else if (direction == GST_PAD_SINK && cover.isEmpty()) {
            for (const char *field : {"width", "height"})
                if (const GValue *v = gst_structure_get_value(in, field))
                    gst_structure_set_value(out, field, v);
        } else {
            gst_structure_set(
                out, "width", GST_TYPE_INT_RANGE, 1, G_MAXINT, "height", GST_TYPE_INT_RANGE, 1, G_MAXINT, nullptr);
        }
        result = gst_caps_merge_structure(result, out);
    }
    return quillora::capture::filteredCaps(result, filter);
}

gboolean setCaps(GstBaseTransform *transform, GstCaps *, GstCaps *outcaps)
{
    const quillora::HandOffOnExit leave(transform); // to finalize, on whichever thread it runs
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

// Decodes the frame into `to` at `target`, the picture size negotiated for the camera's mode. Some
// cameras answer a mode with frames of another size; each of those is decoded at its scale nearest
// above the target and stretched to it, as every frame of the mode is stretched to the size
// asked for, rather than dropped, which would stop the picture for good.
bool decodeFrame(
    QuilloraJpegDecoder *decoder, const GstMapInfo &jpeg, uint8_t *to, int stride, QSize target, QString *why)
{
    JpegPicture &picture = *decoder->picture;
    OtherSizeFrames &other = *decoder->otherSize;
    if (other.sent.isEmpty()) {
        if (picture.decode(jpeg.data, jpeg.size, to, stride, target, why))
            return true;
        if (picture.lastWarning() == quillora::capture::JpegWarning::Damage)
            return false; // damaged inside, at whatever size: not decoded a second time
    }
    const auto full = picture.frameSize(jpeg.data, jpeg.size, why);
    if (!full)
        return false;
    const QSize at = quillora::capture::jpegScaledSize(*full, target);
    if (at == target) {
        other.sent = QSize(); // the mode's size again
        return picture.decode(jpeg.data, jpeg.size, to, stride, target, why);
    }
    if (*full != other.sent) {
        other.sent = *full;
        qCInfo(lcCapture).noquote() << QStringLiteral(
            "the camera sends %1x%2 frames in its mode; each is stretched to %3x%4")
                                           .arg(full->width())
                                           .arg(full->height())
                                           .arg(target.width())
                                           .arg(target.height());
    }
    other.decoded.resize(size_t(at.width()) * size_t(at.height()) * 4);
    return picture.decode(jpeg.data, jpeg.size, other.decoded.data(), at.width() * 4, at, why)
        && quillora::capture::scaleBgrx(other.decoded.data(), at.width() * 4, at, to, stride, target, other.scratch);
}

// A frame that cannot be decoded whole is dropped; the picture goes on with the next.
GstFlowReturn transform(GstBaseTransform *transform, GstBuffer *in, GstBuffer *out)
{
    const quillora::HandOffOnExit leave(transform);
    QuilloraJpegDecoder *decoder = self(transform);
    GstMapInfo jpeg;
    if (!gst_buffer_map(in, &jpeg, GST_MAP_READ))
        return GST_BASE_TRANSFORM_FLOW_DROPPED;
    const GstVideoInfo &info = *decoder->output;
    GstVideoFrame frame;
    QString why = QStringLiteral("no picture to decode into");
    bool decoded = false;
    if (gst_video_frame_map(&frame, decoder->output, out, GST_MAP_WRITE)) {
        decoded = decodeFrame(decoder, jpeg, static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
            GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QSize(GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info)),
            &why);
        gst_video_frame_unmap(&frame);
    }
    const gsize size = jpeg.size;
    gst_buffer_unmap(in, &jpeg);
    quillora::handOff(jpeg.data); // to whoever frees it
    if (decoded)
        return GST_FLOW_OK;
    decoder->skipped->fetch_add(1);
    int passedOver = 0;
    if (decoder->log->ready(&passedOver))
        qCInfo(lcCapture).noquote()
            << "camera frame skipped:" << why
            << QStringLiteral("(%1 bytes; %2 more since the last line)").arg(size).arg(passedOver);
    return GST_BASE_TRANSFORM_FLOW_DROPPED;
}

// The cover may change while frames flow (a view zoomed in while a movie is recorded): the next
// frame then negotiates the picture's new size.
void setProperty(GObject *object, guint id, const GValue *value, GParamSpec *property)
{
    gint *cover = id == PropCoverWidth ? &self(object)->coverWidth
        : id == PropCoverHeight        ? &self(object)->coverHeight
                                       : nullptr;
    if (!cover) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, property);
        return;
    }
    bool changed = false;
    {
        std::lock_guard lock(*self(object)->coverLock);
        changed = *cover != g_value_get_int(value);
        *cover = g_value_get_int(value);
    }
    if (changed)
        gst_base_transform_reconfigure_src(GST_BASE_TRANSFORM(object));
}

void getProperty(GObject *object, guint id, GValue *value, GParamSpec *property)
{
    std::lock_guard lock(*self(object)->coverLock);
    switch (id) {
    case PropCoverWidth:
        g_value_set_int(value, self(object)->coverWidth);
        break;
    case PropCoverHeight:
        g_value_set_int(value, self(object)->coverHeight);
        break;
    case PropSkippedFrames:
        g_value_set_uint64(value, self(object)->skipped->load());
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, property);
    }
}

void finalize(GObject *object)
{
    quillora::takeOver(object); // after the last frame, decoded on another thread
    QuilloraJpegDecoder *decoder = self(object);
    delete decoder->picture;
    delete decoder->output;
    delete decoder->log;
    delete decoder->otherSize;
    delete decoder->skipped;
    delete decoder->coverLock;
    G_OBJECT_CLASS(quillora_jpeg_decoder_parent_class)->finalize(object);
}

} // namespace

static void quillora_jpeg_decoder_class_init(QuilloraJpegDecoderClass *klass)
{
    auto *objectClass = G_OBJECT_CLASS(klass);
    objectClass->finalize = finalize;
    objectClass->set_property = setProperty;
    objectClass->get_property = getProperty;
    const auto flags = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(objectClass, PropCoverWidth,
        g_param_spec_int("cover-width", "Cover width", "Decode at the smallest scale at least this wide (0: full size)",
            0, G_MAXINT, 0, flags));
    g_object_class_install_property(objectClass, PropCoverHeight,
        g_param_spec_int("cover-height", "Cover height",
            "Decode at the smallest scale at least this high (0: full size)", 0, G_MAXINT, 0, flags));
    g_object_class_install_property(objectClass, PropSkippedFrames,
        g_param_spec_uint64("skipped-frames", "Skipped frames",
            "Frames passed over: cut short, unreadable or damaged inside", 0, G_MAXUINT64, 0,
            GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    auto *element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(element, "Quillora camera JPEG decoder", "Codec/Decoder/Image",
        "Decodes a camera's JPEG frames to BGRx with libjpeg-turbo, scaled in the DCT where asked", "Quillora");
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
    decoder->picture = new JpegPicture;
    decoder->output = new GstVideoInfo;
    gst_video_info_init(decoder->output);
    decoder->log = new OncePerSecond;
    decoder->otherSize = new OtherSizeFrames;
    decoder->skipped = new std::atomic<guint64>(0);
    decoder->coverLock = new std::mutex;
    decoder->coverWidth = 0;
    decoder->coverHeight = 0;
}

namespace quillora::capture {

bool registerJpegDecoder()
{
    return registerElementOnce<quillora_jpeg_decoder_get_type>(kJpegDecoderFactory);
}

} // namespace quillora::capture
