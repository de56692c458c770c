// SPDX-License-Identifier: GPL-3.0-or-later
// The application's stand-in camera as a GStreamer plugin, so that the benchmarks' reference
// gst-launch-1.0 pipelines take the very picture the application takes (a page of text with a
// moving block), in the same modes and encoding, not an easier one.
// Load it with GST_PLUGIN_PATH=<build>/bench/virtualcamera. Element "quilloravirtualcamera";
// properties: format (V4L2 code: XR24, YUYV, MJPG, ...), width, height, framerate, or modes.
#include "VirtualCamera.h"

#include <gst/gst.h>

#define PACKAGE "quillora-bench" // GST_PLUGIN_DEFINE names the package from this

namespace {

gboolean pluginInit(GstPlugin *plugin)
{
    return quillora::capture::registerVirtualCamera(plugin);
}

} // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quilloravirtualcamera, "Quillora's stand-in camera", pluginInit,
    "1.0", "LGPL", "quillora", "https://www.quillora.com/")
