// The application's stand-in camera as a GStreamer element, "quilloravirtualcamera", so that
// the benchmarks' reference gst-launch-1.0 pipelines take the very picture the application
// takes (a page of text with a moving block), not an easier one.
// Load it with GST_PLUGIN_PATH=<build>/bench/virtualcamera; properties: width, height.
#include "VirtualCamera.h"

#include <gst/gst.h>

#define PACKAGE "quillora-bench" // GST_PLUGIN_DEFINE names the package from this

using quillora::capture::makeVirtualCameraSource;

struct QuilloraVirtualCamera {
    GstBin parent;
    GstElement *inner; // the camera bin (owned by this bin as its child)
    gint width;
    gint height;
};

struct QuilloraVirtualCameraClass {
    GstBinClass parentClass;
};

G_DEFINE_TYPE(QuilloraVirtualCamera, quillora_virtual_camera, GST_TYPE_BIN)

namespace {

enum { PropWidth = 1, PropHeight };

void applySize(QuilloraVirtualCamera *self)
{
    GstElement *filter = gst_bin_get_by_name(GST_BIN(self->inner), "camerafilter");
    if (!filter)
        return;
    g_object_set(filter, "caps", quillora::capture::virtualCameraCaps(QSize(self->width, self->height)).get(), nullptr);
    gst_object_unref(filter);
}

void setProperty(GObject *object, guint id, const GValue *value, GParamSpec *property)
{
    auto *self = reinterpret_cast<QuilloraVirtualCamera *>(object);
    switch (id) {
    case PropWidth:
        self->width = g_value_get_int(value);
        break;
    case PropHeight:
        self->height = g_value_get_int(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, property);
        return;
    }
    applySize(self);
}

void getProperty(GObject *object, guint id, GValue *value, GParamSpec *property)
{
    auto *self = reinterpret_cast<QuilloraVirtualCamera *>(object);
    switch (id) {
    case PropWidth:
        g_value_set_int(value, self->width);
        break;
    case PropHeight:
        g_value_set_int(value, self->height);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, property);
    }
}

gboolean pluginInit(GstPlugin *plugin)
{
    return gst_element_register(plugin, "quilloravirtualcamera", GST_RANK_NONE, quillora_virtual_camera_get_type());
}

} // namespace

static void quillora_virtual_camera_class_init(QuilloraVirtualCameraClass *klass)
{
    auto *objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = setProperty;
    objectClass->get_property = getProperty;
    const auto flags = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        objectClass, PropWidth, g_param_spec_int("width", "Width", "Picture width", 8, 8192, 1280, flags));
    g_object_class_install_property(
        objectClass, PropHeight, g_param_spec_int("height", "Height", "Picture height", 8, 8192, 1024, flags));
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Quillora virtual camera", "Source/Video",
        "A live document page for benchmarks", "Quillora");
    static GstStaticPadTemplate srcTemplate
        = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-raw"));
    gst_element_class_add_static_pad_template(GST_ELEMENT_CLASS(klass), &srcTemplate);
}

static void quillora_virtual_camera_init(QuilloraVirtualCamera *self)
{
    self->width = 1280;
    self->height = 1024;
    QString error;
    self->inner = makeVirtualCameraSource(QSize(self->width, self->height), &error).release();
    if (!self->inner) {
        g_warning("quilloravirtualcamera: %s", qPrintable(error));
        return;
    }
    gst_bin_add(GST_BIN(self), self->inner);
    gst_object_unref(self->inner); // the bin holds it now
    GstPad *target = gst_element_get_static_pad(self->inner, "src");
    gst_element_add_pad(GST_ELEMENT(self), gst_ghost_pad_new("src", target));
    gst_object_unref(target);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quilloravirtualcamera, "Quillora's stand-in camera", pluginInit,
    "1.0", "LGPL", "quillora", "https://www.quillora.com/")
