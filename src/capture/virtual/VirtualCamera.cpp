// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in camera as a GStreamer source element (GstPushSrc, live): caps negotiation, pacing
// and frames. Its properties are VirtualCamera_properties.cpp; the registry of elements standing
// for a device, so that one can be pulled out, is VirtualCamera_sources.cpp.
#include "VirtualCamera.h"

#include "ElementRegistry.h"
#include "HandOff.h"
#include "VirtualCamera_p.h"
#include "VirtualControls.h"

#include <gst/base/gstpushsrc.h>
#include <gst/video/video.h>

#include <atomic>
#include <mutex>

namespace quillora::capture {

namespace {

std::atomic<int> gDamageEvery{0};
std::atomic<int> gSentWidth{0};
std::atomic<int> gSentHeight{0};

// The size the camera draws its frames at: the mode's, unless it answers an MJPEG mode with
// frames of another size.
QSize pictureSize(const CameraState &st)
{
    return isMjpeg(st.mode.fourcc) && !st.sentSize.isEmpty() ? st.sentSize : st.mode.size;
}

} // namespace

} // namespace quillora::capture

using quillora::capture::CameraState;

struct QuilloraVirtualCamera {
    GstPushSrc parent;
    CameraState *state;
};

struct QuilloraVirtualCameraClass {
    GstPushSrcClass parentClass;
};

G_DEFINE_TYPE(QuilloraVirtualCamera, quillora_virtual_camera, GST_TYPE_PUSH_SRC)

namespace {

using namespace quillora::capture;

CameraState &stateOf(gpointer object)
{
    return *reinterpret_cast<QuilloraVirtualCamera *>(object)->state;
}

} // namespace

CameraState &quillora::capture::virtualCameraState(gpointer object)
{
    return stateOf(object);
}

namespace {

// Exactly the camera's modes, as v4l2src offers a camera's.
GstCaps *getCaps(GstBaseSrc *src, GstCaps *filter)
{
    CameraState &st = stateOf(src);
    GstCaps *caps = gst_caps_new_empty();
    {
        std::lock_guard lock(st.mutex);
        for (const CameraMode &m : st.modes)
            if (producible(m.fourcc) && !m.size.isEmpty())
                caps = gst_caps_merge_structure(caps, modeStructure(m));
    }
    return quillora::capture::filteredCaps(caps, filter);
}

// A mode the camera does not have is refused, as a camera refuses it.
gboolean setCaps(GstBaseSrc *src, GstCaps *caps)
{
    const quillora::HandOffOnExit leave(src); // to finalize, on whichever thread it runs
    CameraState &st = stateOf(src);
    std::optional<ChosenMode> mode;
    {
        std::lock_guard lock(st.mutex);
        mode = modeOfCaps(st.modes, caps);
    }
    if (!mode)
        return FALSE;
    {
        std::lock_guard lock(st.mutex);
        st.mode = *mode;
    }
    if (!isMjpeg(mode->fourcc) && !gst_video_info_from_caps(&st.info, caps))
        return FALSE;
    st.pageShown = -1; // drawn at the new size with the first frame
    return TRUE;
}

gboolean start(GstBaseSrc *src)
{
    stateOf(src).frames = 0;
    stateOf(src).jpegSent = 0;
    stateOf(src).firstTime = GST_CLOCK_TIME_NONE;
    return TRUE;
}

// Where the pipeline's clock stands now, as running time: a camera that starts in a pipeline
// already playing (a fallback to another mode) stamps its first frame with the moment it is
// taken, as v4l2src does, not with zero, which would leave every frame late and unpaced.
GstClockTime runningTimeNow(GstElement *element)
{
    GstClock *clock = gst_element_get_clock(element);
    if (!clock)
        return 0;
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(element);
    return now > base ? now - base : 0;
}

GstClockTime frameDuration(const CameraState &st)
{
    return gst_util_uint64_scale_int(GST_SECOND, st.mode.rate.den, std::max(1, st.mode.rate.num));
}

// Live: the base class waits on the clock until each frame's time comes.
void getTimes(GstBaseSrc *, GstBuffer *buffer, GstClockTime *start, GstClockTime *end)
{
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts))
        return;
    *start = pts;
    if (GST_BUFFER_DURATION_IS_VALID(buffer))
        *end = pts + GST_BUFFER_DURATION(buffer);
}

// Asked from any thread (the pipeline's latency from a thread of GLib's pool): what it reads and
// what it leaves is handed over with the element (HandOff.h).
gboolean query(GstBaseSrc *src, GstQuery *q)
{
    quillora::takeOver(src);
    CameraState &st = stateOf(src);
    std::optional<GstClockTime> latency;
    if (GST_QUERY_TYPE(q) == GST_QUERY_LATENCY) {
        std::lock_guard lock(st.mutex);
        if (st.mode.rate.num > 0)
            latency = frameDuration(st); // a frame is a frame's time old when it is sent
    }
    quillora::handOff(src);
    if (latency) {
        gst_query_set_latency(q, TRUE, *latency, *latency);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(quillora_virtual_camera_parent_class)->query(src, q);
}

// The page underneath is drawn once per page turned under the camera, and again when its picture
// controls change; each frame adds the moving block to a copy.
void followPage(CameraState &st, int page, const LookNow &look)
{
    const QSize size = pictureSize(st);
    if (page == st.pageShown && look.generation == st.lookShown && st.page.size() == size)
        return;
    st.page = QImage(size, QImage::Format_RGB32);
    st.page.fill(kVirtualPaper);
    if (st.page.width() >= 8 && st.page.height() >= 8)
        paintStaticPage(st.page, page);
    applyPictureLook(st.page, look.look);
    st.lookShown = look.generation;
    // A sensor's noise is what makes a camera's JPEG frames as large as they are (about 215 KB
    // at 2048x1536 this way, within what cameras send), and reading their entropy-coded data
    // is most of what decoding them costs. Raw frames stay clean, as the raw benchmarks have
    // always measured them.
    if (isMjpeg(st.mode.fourcc))
        addSensorNoise(st.page, quint32(page));
    st.pageShown = page;
}

void drawFrame(CameraState &st, quint64 number)
{
    if (st.scratch.size() != pictureSize(st))
        st.scratch = QImage(pictureSize(st), QImage::Format_RGB32);
    std::memcpy(st.scratch.bits(), st.page.constBits(), size_t(st.page.sizeInBytes()));
    if (st.scratch.width() >= 8 && st.scratch.height() >= 8)
        paintMovingBlock(st.scratch, number);
}

// Frame `number` of the recording replayed; null when there is none.
JpegBytes replayedFrame(CameraState &st, quint64 number)
{
    std::lock_guard lock(st.mutex);
    return st.replay.empty() ? nullptr : st.replay[number % st.replay.size()];
}

// Frame `number` as a camera sends it in an MJPEG mode; null (the error posted) when it cannot.
GstBuffer *jpegBuffer(GstPushSrc *src, CameraState &st, quint64 number, int page)
{
    const quint64 slot = number % kVirtualPagePeriod;
    JpegBytes bytes = replayedFrame(st, number);
    if (!bytes)
        bytes = virtualJpegFrames().frame(pictureSize(st), page, st.lookShown, slot, [&]() -> const QImage & {
            drawFrame(st, slot);
            return st.scratch;
        });
    if (!bytes) {
        GST_ELEMENT_ERROR(src, RESOURCE, FAILED, ("the virtual camera could not encode its frame"), (nullptr));
        return nullptr;
    }
    // Counted in frames sent, not by the frame's number: a camera that falls behind the clock skips
    // numbers, and one that skipped every third would never send a damaged frame.
    const quint64 sent = st.jpegSent++;
    if (st.damageEvery > 0 && sent % quint64(st.damageEvery) == quint64(st.damageEvery - 1))
        bytes = damagedJpeg(*bytes, sent / quint64(st.damageEvery));
    // The buffer shares the cached bytes; they outlive it however long downstream keeps it.
    // The buffer's last owner lets go of the bytes on whichever thread it is (HandOff.h).
    auto *holder = new JpegBytes(bytes);
    quillora::handOff(holder);
    return gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<uint8_t *>(bytes->data()), bytes->size(), 0,
        bytes->size(), holder, [](gpointer p) {
            quillora::takeOver(p);
            delete static_cast<JpegBytes *>(p);
        });
}

// Frame `number` in the raw mode's pixel format; null when it cannot be made.
GstBuffer *rawBuffer(GstPushSrc *src, CameraState &st, quint64 number)
{
    drawFrame(st, number);
    GstBuffer *buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&st.info), nullptr);
    GstVideoFrame frame;
    if (!buffer || !gst_video_frame_map(&frame, &st.info, buffer, GST_MAP_WRITE)) {
        if (buffer)
            gst_buffer_unref(buffer);
        return nullptr;
    }
    const bool converted = convertPicture(st.scratch, frame);
    gst_video_frame_unmap(&frame);
    if (!converted) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(src, STREAM, FORMAT, ("the virtual camera cannot send this format"), (nullptr));
        return nullptr;
    }
    return buffer;
}

GstFlowReturn create(GstPushSrc *src, GstBuffer **out)
{
    const quillora::HandOffOnExit leave(src);
    CameraState &st = stateOf(src);
    if (st.unplugged.load()) {
        // What v4l2src says when its device goes away under it.
        GST_ELEMENT_ERROR(
            src, RESOURCE, READ, ("Could not read from resource."), ("poll error 1: No such device (19)"));
        return GST_FLOW_ERROR;
    }
    if (st.mode.size.isEmpty())
        return GST_FLOW_NOT_NEGOTIATED;
    // A page turned under the camera, and a control set, show from the next frame on, as with a
    // real camera.
    const int page = currentVirtualPage();
    if (!replayedFrame(st, 0))
        followPage(st, page, virtualCameraLook(st.identity));
    const GstClockTime duration = frameDuration(st);
    const GstClockTime now = runningTimeNow(GST_ELEMENT(src));
    if (!GST_CLOCK_TIME_IS_VALID(st.firstTime))
        st.firstTime = now;
    // A camera that is not read in time loses the frames its sensor made meanwhile (its driver
    // keeps the newest): one that falls behind the clock (a machine too busy to draw) skips to
    // the frame due now, so that its pictures keep the clock's time, as the sound does.
    if (now > st.firstTime + (st.frames + 1) * duration)
        st.frames = (now - st.firstTime) / duration;
    const quint64 number = st.frames++;
    GstBuffer *buffer = isMjpeg(st.mode.fourcc) ? jpegBuffer(src, st, number, page) : rawBuffer(src, st, number);
    if (!buffer)
        return GST_FLOW_ERROR;
    GST_BUFFER_PTS(buffer) = st.firstTime + number * duration;
    GST_BUFFER_DURATION(buffer) = duration;
    GST_BUFFER_OFFSET(buffer) = number;
    GST_BUFFER_OFFSET_END(buffer) = number + 1;
    *out = buffer;
    return GST_FLOW_OK;
}

void finalize(GObject *object)
{
    quillora::takeOver(object); // after the last frame and query, made on other threads
    delete reinterpret_cast<QuilloraVirtualCamera *>(object)->state;
    G_OBJECT_CLASS(quillora_virtual_camera_parent_class)->finalize(object);
}

} // namespace

static void quillora_virtual_camera_class_init(QuilloraVirtualCameraClass *klass)
{
    auto *objectClass = G_OBJECT_CLASS(klass);
    objectClass->finalize = finalize;
    installVirtualCameraProperties(objectClass);
    auto *element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(element, "Quillora virtual camera", "Source/Video",
        "A live document page, sent as a camera sends it", "Quillora");
    static GstStaticPadTemplate srcTemplate
        = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("image/jpeg; video/x-raw"));
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    auto *base = GST_BASE_SRC_CLASS(klass);
    base->get_caps = getCaps;
    base->set_caps = setCaps;
    base->start = start;
    base->get_times = getTimes;
    base->query = query;
    GST_PUSH_SRC_CLASS(klass)->create = create;
}

static void quillora_virtual_camera_init(QuilloraVirtualCamera *self)
{
    self->state = new CameraState;
    quillora::handOff(self); // queries come from any thread
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

namespace quillora::capture {

void setVirtualCameraDamage(int every)
{
    gDamageEvery.store(std::max(0, every));
}

void setVirtualCameraSentSize(QSize size)
{
    gSentWidth.store(std::max(0, size.width()));
    gSentHeight.store(std::max(0, size.height()));
}

bool registerVirtualCamera(GstPlugin *plugin)
{
    if (plugin)
        return gst_element_register(plugin, kVirtualCameraFactory, GST_RANK_NONE, quillora_virtual_camera_get_type());
    return registerElementOnce<quillora_virtual_camera_get_type>(kVirtualCameraFactory);
}

void markVirtualCameraUnplugged(GstElement *element)
{
    stateOf(element).unplugged.store(true);
}

ElementPtr makeVirtualCameraSource(
    const std::vector<CameraMode> &modes, QString *error, const QString &identity, const QString &replay)
{
    if (!registerVirtualCamera(nullptr)) {
        if (error)
            *error = QStringLiteral("the virtual camera element cannot be registered");
        return {};
    }
    GstElement *element = gst_element_factory_make(kVirtualCameraFactory, "camera");
    if (!element) {
        if (error)
            *error = QStringLiteral("the virtual camera element cannot be made");
        return {};
    }
    ElementPtr camera(GST_ELEMENT(gst_object_ref_sink(element)));
    stateOf(camera.get()).identity = identity; // before it streams: its controls' look is asked by it
    g_object_set(camera.get(), "modes", formatModeListing(modes).toUtf8().constData(), "damage", gDamageEvery.load(),
        "sent-width", gSentWidth.load(), "sent-height", gSentHeight.load(), "replay", replay.toUtf8().constData(),
        nullptr);
    if (!identity.isEmpty())
        rememberVirtualCameraSource(identity, camera.get());
    return camera;
}

} // namespace quillora::capture
