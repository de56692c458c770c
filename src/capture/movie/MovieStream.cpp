// SPDX-License-Identifier: GPL-3.0-or-later
#include "MovieStream.h"

namespace quillora::capture {

namespace {

void deleteStreamRef(gpointer p)
{
    delete static_cast<StreamStatePtr *>(p);
}

} // namespace

gulong addProbe(GstPad *pad, GstPadProbeType type, GstPadProbeCallback callback, const StreamStatePtr &state)
{
    return gst_pad_add_probe(pad, type, callback, new StreamStatePtr(state), deleteStreamRef);
}

} // namespace quillora::capture
