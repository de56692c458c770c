// SPDX-License-Identifier: GPL-3.0-or-later
#include "FrameMemory.h"

#include <malloc.h>

namespace quillora::app {

void keepLargeBlocksMapped()
{
    constexpr int kThreshold = 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, kThreshold);
}

void returnFreedMemory()
{
    malloc_trim(0);
}

} // namespace quillora::app
