// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How the process gets memory for camera frames.

namespace quillora::app {

// Frames are large (12 MB at 2048x1536) and come and go with every session. glibc's malloc
// raises its mmap threshold to the size of the largest block freed, after which such frames
// come from the heap, and a freed frame there is rarely handed back: the resident size climbs
// with every rebuilt session and stays up. Fixing the threshold keeps every block of a megabyte
// or more in its own mapping, returned to the system when it is freed. Call once, first thing.
void keepLargeBlocksMapped();

// What a session's streaming threads freed (the encoder's and the branches' working memory)
// stays resident in glibc's per-thread arenas, kept for reuse by threads that have ended with
// the session; the next session's threads fall on other arenas in another order, so it piles
// up by a few megabytes per session. Handed back to the system once a session is gone. Main
// thread; takes a few milliseconds.
void returnFreedMemory();

} // namespace quillora::app
