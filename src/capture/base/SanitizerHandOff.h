// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// GStreamer hands our objects from one thread to the next through GLib's futex-based locks and
// queues, which ThreadSanitizer cannot see into (HandOff.h): a streaming thread taken from GLib's
// pool, a task joined, a buffer passed through a queue element. In a ThreadSanitizer build these
// hand-offs are made where it sees them; in every other build these functions do nothing.
#include <gst/gst.h>

namespace quillora::capture {

// Whether this is a ThreadSanitizer build.
bool sanitizerWatchesThreads();

// For a stream-status message (from a bus sync handler, before the task starts): the task is
// run on a thread of its own, started and joined by the C++ library, instead of one of GLib's
// pool.
void runTaskOnItsOwnThread(GstMessage *streamStatus);

// The same for every task of `pipeline` (one without a bus sync handler of its own); a message
// popped from its bus is to be taken over (HandOff.h) by the thread that pops it.
void runTasksOnTheirOwnThreads(GstElement *pipeline);

// Buffers passing through `queue` (a queue element): what the thread before it did to a buffer
// is ordered before what the thread after it does.
void orderBuffersThrough(GstElement *queue);

} // namespace quillora::capture
