// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded ahead of umockdev's preload in the ThreadSanitizer build. umockdev's preload takes
// every close() and fclose() of the process and passes it to the C library's own function, which
// it looks up itself, so the sanitizer never hears that a descriptor went. Its books of that
// number then still name the descriptor's last owner, and the next thread that is given the
// number by the kernel and closes it where the sanitizer does look (closedir, which umockdev
// leaves alone) was reported as racing that owner, a thread that might long have ended. Each close
// is told to the sanitizer here first, as its own close would tell it, and then goes on to
// umockdev's.
//
// The test's children (the settings probe, GStreamer's plugin scanner) inherit the preload but
// not the sanitizer: this library is built without it and finds the sanitizer's hook only where
// the process has one.
#include <dlfcn.h>

#include <cstdio>

extern "C" {

// The sanitizer runtime's hook for a close it cannot intercept itself.
__attribute__((weak)) void __sanitizer_syscall_pre_impl_close(long fd);

__attribute__((visibility("default"))) int close(int fd)
{
    static const auto next = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "close"));
    if (__sanitizer_syscall_pre_impl_close)
        __sanitizer_syscall_pre_impl_close(fd);
    return next(fd);
}

__attribute__((visibility("default"))) int fclose(FILE *stream)
{
    static const auto next = reinterpret_cast<int (*)(FILE *)>(dlsym(RTLD_NEXT, "fclose"));
    if (__sanitizer_syscall_pre_impl_close && stream)
        __sanitizer_syscall_pre_impl_close(fileno(stream));
    return next(stream);
}

} // extern "C"
