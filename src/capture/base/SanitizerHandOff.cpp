// SPDX-License-Identifier: GPL-3.0-or-later
#include "SanitizerHandOff.h"

#include "HandOff.h"

#if defined(__SANITIZE_THREAD__)
#include <thread>
#include <utility>
#endif

namespace quillora::capture {

#if defined(__SANITIZE_THREAD__)

namespace {

// A task pool of one std::thread per task: its start and its join are what the sanitizer sees.
struct OwnThreadsPool {
    GstTaskPool parent;
};
struct OwnThreadsPoolClass {
    GstTaskPoolClass parent;
};

G_DEFINE_TYPE(OwnThreadsPool, own_threads_pool, GST_TYPE_TASK_POOL)

gpointer pushTask(GstTaskPool *, GstTaskPoolFunction function, gpointer data, GError **)
{
    return new std::thread(function, data);
}

void joinTask(GstTaskPool *, gpointer id)
{
    auto *thread = static_cast<std::thread *>(id);
    thread->join();
    delete thread;
}

void disposeTask(GstTaskPool *, gpointer id)
{
    auto *thread = static_cast<std::thread *>(id);
    if (thread->joinable())
        thread->detach();
    delete thread;
}

void own_threads_pool_class_init(OwnThreadsPoolClass *klass)
{
    GstTaskPoolClass *pool = GST_TASK_POOL_CLASS(klass);
    pool->prepare = [](GstTaskPool *, GError **) {};
    pool->cleanup = [](GstTaskPool *) {};
    pool->push = pushTask;
    pool->join = joinTask;
    pool->dispose_handle = disposeTask;
}

void own_threads_pool_init(OwnThreadsPool *) { }

// A buffer's memory is the token: a buffer made writable on the way is another buffer, but its
// memory is the same.
template <void (*Tell)(const void *)> GstPadProbeReturn tellMemory(GstPad *, GstPadProbeInfo *info, gpointer)
{
    if (GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info))
        for (guint i = 0; i < gst_buffer_n_memory(buffer); ++i)
            Tell(gst_buffer_peek_memory(buffer, i));
    return GST_PAD_PROBE_OK;
}

} // namespace

bool sanitizerWatchesThreads()
{
    return true;
}

void runTaskOnItsOwnThread(GstMessage *streamStatus)
{
    GstStreamStatusType type;
    GstElement *owner = nullptr;
    gst_message_parse_stream_status(streamStatus, &type, &owner);
    const GValue *value = gst_message_get_stream_status_object(streamStatus);
    if (type != GST_STREAM_STATUS_TYPE_CREATE || !value || !G_VALUE_HOLDS(value, GST_TYPE_TASK))
        return;
    static GstTaskPool *const pool
        = GST_TASK_POOL(g_object_ref_sink(g_object_new(own_threads_pool_get_type(), nullptr)));
    gst_task_set_pool(GST_TASK(g_value_get_object(value)), pool);
}

void runTasksOnTheirOwnThreads(GstElement *pipeline)
{
    GstBus *bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus *, GstMessage *message, gpointer) {
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_STREAM_STATUS)
                runTaskOnItsOwnThread(message);
            handOff(message); // to the thread that pops it (the bus's queue is GLib's)
            return GST_BUS_PASS;
        },
        nullptr, nullptr);
    gst_object_unref(bus);
}

void orderBuffersThrough(GstElement *queue)
{
    const std::pair<const char *, GstPadProbeCallback> ends[]
        = {{"sink", tellMemory<handOff>}, {"src", tellMemory<takeOver>}};
    for (const auto &[pad, probe] : ends) {
        GstPad *end = gst_element_get_static_pad(queue, pad);
        gst_pad_add_probe(end, GST_PAD_PROBE_TYPE_BUFFER, probe, nullptr, nullptr);
        gst_object_unref(end);
    }
}

#else

bool sanitizerWatchesThreads()
{
    return false;
}

void runTaskOnItsOwnThread(GstMessage *) { }

void runTasksOnTheirOwnThreads(GstElement *) { }

void orderBuffersThrough(GstElement *) { }

#endif

} // namespace quillora::capture
