// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one owner of TurboJPEG's handles (compressor or decompressor) and of the buffers it
// allocates.
#include <turbojpeg.h>

#include <memory>

namespace quillora {

struct TjHandleDeleter {
    void operator()(void *handle) const
    {
        if (handle)
            tjDestroy(handle);
    }
};
struct TjBufferDeleter {
    void operator()(unsigned char *buffer) const { tjFree(buffer); }
};
using TjHandlePtr = std::unique_ptr<void, TjHandleDeleter>;
using TjBufferPtr = std::unique_ptr<unsigned char, TjBufferDeleter>;

} // namespace quillora
