// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the capture layer: the GStreamer elements of this program (picture conversion, JPEG
// decoding, the stand-in camera) are registered for this process alone, once each, the first
// time a session needs them.
#include <gst/gst.h>

#include <mutex>

namespace quillora::capture {

// Registers the element type that `typeOf` gives under `factory`. False when it cannot.
template <GType (*typeOf)()> bool registerElementOnce(const char *factory)
{
    static std::once_flag once;
    static bool registered = false;
    std::call_once(once, [factory] { registered = gst_element_register(nullptr, factory, GST_RANK_NONE, typeOf()); });
    return registered;
}

// What an element of ours answers a caps query with: `caps` (taken over) narrowed to the
// asker's `filter`, when there is one.
inline GstCaps *filteredCaps(GstCaps *caps, GstCaps *filter)
{
    if (!filter)
        return caps;
    GstCaps *both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    return both;
}

} // namespace quillora::capture
