// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one place where GStreamer's reference-counted handles get an owner. Everything in the
// capture layer holds GStreamer objects through these, never as bare pointers it must unref.
#include <gst/gst.h>

#include <memory>

namespace quillora::capture {

struct GstObjectUnref {
    void operator()(gpointer object) const
    {
        if (object)
            gst_object_unref(object);
    }
};
struct GstCapsUnref {
    void operator()(GstCaps *caps) const
    {
        if (caps)
            gst_caps_unref(caps);
    }
};
struct GstMessageUnref {
    void operator()(GstMessage *message) const
    {
        if (message)
            gst_message_unref(message);
    }
};
struct GstSampleUnref {
    void operator()(GstSample *sample) const
    {
        if (sample)
            gst_sample_unref(sample);
    }
};
struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
struct GErrorFree {
    void operator()(GError *error) const
    {
        if (error)
            g_error_free(error);
    }
};
struct GstStructureFree {
    void operator()(GstStructure *s) const
    {
        if (s)
            gst_structure_free(s);
    }
};

using ElementPtr = std::unique_ptr<GstElement, GstObjectUnref>;
using BufferPoolPtr = std::unique_ptr<GstBufferPool, GstObjectUnref>;
using BusPtr = std::unique_ptr<GstBus, GstObjectUnref>;
using PadPtr = std::unique_ptr<GstPad, GstObjectUnref>;
using DevicePtr = std::unique_ptr<GstDevice, GstObjectUnref>;
using DeviceProviderPtr = std::unique_ptr<GstDeviceProvider, GstObjectUnref>;
using DeviceMonitorPtr = std::unique_ptr<GstDeviceMonitor, GstObjectUnref>;
using CapsPtr = std::unique_ptr<GstCaps, GstCapsUnref>;
using MessagePtr = std::unique_ptr<GstMessage, GstMessageUnref>;
using SamplePtr = std::unique_ptr<GstSample, GstSampleUnref>;
using GCharPtr = std::unique_ptr<gchar, GFree>;
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;
using StructurePtr = std::unique_ptr<GstStructure, GstStructureFree>;

// Takes an extra reference on a floating or owned object and wraps it; for elements that a
// bin will own, the wrapper keeps them alive independently of the bin.
inline ElementPtr refElement(GstElement *element)
{
    return ElementPtr(element ? GST_ELEMENT(gst_object_ref(element)) : nullptr);
}

} // namespace quillora::capture
