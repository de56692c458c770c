// SPDX-License-Identifier: GPL-3.0-or-later
#include "VirtualCamera.h"

#include "ElementRegistry.h"
#include "TurboJpegHandles.h"

#include <QPainter>
#include <QRandomGenerator>

#include <gst/base/gstpushsrc.h>
#include <gst/video/video.h>
#include <libyuv/convert_from_argb.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <list>
#include <mutex>

namespace quillora::capture {

namespace {

void paintStaticPage(QImage &image)
{
    const int w = image.width();
    const int h = image.height();
    QPainter p(&image);
    const int marker = std::max(2, w / 8);
    const int margin = std::max(1, w / 32);
    p.fillRect(margin, margin, marker, marker, Qt::black);

    // Text lines: word-sized dark blocks whose lengths come from a fixed seed, so every frame
    // shows the same page.
    const int lineHeight = std::max(2, h / 48);
    const int lineGap = lineHeight;
    const QColor ink(0x2b, 0x2b, 0x33);
    QRandomGenerator words(0x5eed);
    const int left = margin * 2 + marker;
    for (int y = margin * 2 + marker; y + lineHeight < h - margin * 3; y += lineHeight + lineGap) {
        int x = (y < margin + marker + lineGap) ? left : margin * 2;
        const int right = w - margin * 2;
        while (x < right) {
            const int word = std::max(2, int(words.bounded(w / 40, w / 10 + 2)));
            const int end = std::min(right, x + word);
            p.fillRect(x, y, end - x, lineHeight, ink);
            x = end + std::max(2, w / 80);
        }
    }
}

// The moving element along the bottom margin: one full sweep every four seconds at 30 fps.
void paintMovingBlock(QImage &image, quint64 frameNumber)
{
    const int w = image.width();
    const int h = image.height();
    const int margin = std::max(1, w / 32);
    const int block = std::max(2, h / 24);
    const int travel = std::max(1, w - 2 * margin - block);
    const int step = int((frameNumber * quint64(travel)) / kVirtualPagePeriod % quint64(travel));
    QPainter p(&image);
    p.fillRect(margin + step, h - margin - block, block, block, QColor(0xc0, 0x30, 0x30));
}

} // namespace

void paintVirtualPage(QImage &image, quint64 frameNumber)
{
    if (image.width() < 8 || image.height() < 8)
        return;
    paintStaticPage(image);
    paintMovingBlock(image, frameNumber);
}

namespace {

// A camera encodes its JPEG frames in hardware; the host pays only for decoding them. So the
// stand-in encodes each of the page's distinct frames once, the first time it is sent, and
// sends the same bytes when the block comes round again: what the session decodes is a
// camera's JPEG stream, at a camera's cost to the host. One frame size at a time.
class JpegFrameCache {
public:
    using Bytes = std::shared_ptr<const std::vector<uint8_t>>;

    // The bytes of frame `frameNumber`; `draw` gives its picture when it is not encoded yet.
    Bytes frame(QSize size, quint64 frameNumber, const std::function<const QImage &()> &draw)
    {
        std::lock_guard lock(m_mutex);
        if (size != m_size) {
            m_size = size;
            m_frames.fill(nullptr);
        }
        Bytes &slot = m_frames[frameNumber % kVirtualPagePeriod];
        if (!slot)
            slot = encode(draw());
        return slot;
    }

private:
    Bytes encode(const QImage &page)
    {
        if (!m_compressor)
            m_compressor.reset(tjInitCompress());
        if (!m_compressor)
            return nullptr;
        unsigned char *raw = nullptr;
        unsigned long length = 0;
        // 4:2:2, as UVC cameras encode what their sensor gives in YUYV.
        const int failed = tjCompress2(m_compressor.get(), page.constBits(), page.width(), int(page.bytesPerLine()),
            page.height(), TJPF_BGRX, &raw, &length, TJSAMP_422, 85, 0);
        TjBufferPtr encoded(raw);
        if (failed || !encoded)
            return nullptr;
        return std::make_shared<const std::vector<uint8_t>>(encoded.get(), encoded.get() + length);
    }

    std::mutex m_mutex; // guards everything below
    QSize m_size;
    std::array<Bytes, kVirtualPagePeriod> m_frames;
    TjHandlePtr m_compressor;
};

JpegFrameCache &jpegFrames()
{
    static JpegFrameCache cache;
    return cache;
}

// What the element does, apart from GObject's bookkeeping.
struct CameraState {
    std::mutex mutex; // guards modes (set from the application's thread, read in negotiation)
    std::vector<CameraMode> modes = documentCameraModes();

    // The streaming thread's alone once caps are set.
    ChosenMode mode;
    GstVideoInfo info{};
    quint64 frames = 0;
    GstClockTime firstTime = GST_CLOCK_TIME_NONE; // the running time of the first frame
    QImage page;                                  // the page without the moving block, at the mode's size
    QImage scratch;                               // the frame being drawn
    // Single-mode properties.
    QString format = QStringLiteral("XR24");
    int width = 1280;
    int height = 1024;
    int framerate = 30;
    int damageEvery = 0; // every this many JPEG frames one arrives damaged; 0: none
    // Set from any thread when the camera is pulled out; the streaming thread then fails.
    std::atomic<bool> unplugged{false};
};

std::atomic<int> gDamageEvery{0};

// Formats the stand-in can send: MJPEG and the raw formats libyuv writes from BGRx.
bool producible(const QString &fourcc)
{
    static const QStringList raw{QStringLiteral("YUYV"), QStringLiteral("UYVY"), QStringLiteral("NV12"),
        QStringLiteral("NV21"), QStringLiteral("YU12"), QStringLiteral("YV12"), QStringLiteral("GREY"),
        QStringLiteral("RGB3"), QStringLiteral("BGR3"), QStringLiteral("XR24"), QStringLiteral("BGR4")};
    return isMjpeg(fourcc) || raw.contains(fourcc);
}

GstStructure *modeStructure(const CameraMode &m)
{
    GstStructure *s = isMjpeg(m.fourcc) ? gst_structure_new_empty("image/jpeg")
                                        : gst_structure_new("video/x-raw", "format", G_TYPE_STRING,
                                            rawFormatName(m.fourcc).toLatin1().constData(), nullptr);
    if (m.isRange()) {
        gst_structure_set(s, "width", GST_TYPE_INT_RANGE, m.minSize.width(), m.size.width(), "height",
            GST_TYPE_INT_RANGE, m.minSize.height(), m.size.height(), nullptr);
    } else {
        gst_structure_set(s, "width", G_TYPE_INT, m.size.width(), "height", G_TYPE_INT, m.size.height(), nullptr);
    }
    if (!m.rates.empty()) {
        GValue list = G_VALUE_INIT;
        gst_value_list_init(&list, guint(m.rates.size()));
        for (const FrameRate &r : m.rates) {
            GValue v = G_VALUE_INIT;
            g_value_init(&v, GST_TYPE_FRACTION);
            gst_value_set_fraction(&v, r.num, r.den);
            gst_value_list_append_and_take_value(&list, &v);
        }
        gst_structure_take_value(s, "framerate", &list);
    } else if (m.minRate && m.maxRate) {
        gst_structure_set(s, "framerate", GST_TYPE_FRACTION_RANGE, m.minRate->num, m.minRate->den, m.maxRate->num,
            m.maxRate->den, nullptr);
    } else {
        gst_structure_set(s, "framerate", GST_TYPE_FRACTION, 30, 1, nullptr);
    }
    gst_structure_set(s, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    return s;
}

// The mode of the list that fixed caps describe, if any.
std::optional<ChosenMode> modeOfCaps(const std::vector<CameraMode> &modes, GstCaps *caps)
{
    const GstStructure *s = gst_caps_get_structure(caps, 0);
    int w = 0;
    int h = 0;
    int num = 0;
    int den = 1;
    if (!s || !gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h)
        || !gst_structure_get_fraction(s, "framerate", &num, &den) || num <= 0 || den <= 0)
        return std::nullopt;
    const bool jpeg = gst_structure_has_name(s, "image/jpeg");
    const char *format = gst_structure_get_string(s, "format");
    for (const CameraMode &m : modes) {
        if (!producible(m.fourcc))
            continue;
        if (jpeg ? !isMjpeg(m.fourcc) : (!format || rawFormatName(m.fourcc) != QLatin1String(format)))
            continue;
        const QSize size(w, h);
        if (m.isRange() ? (w < m.minSize.width() || h < m.minSize.height() || w > m.size.width() || h > m.size.height())
                        : size != m.size)
            continue;
        const FrameRate rate{num, den};
        const double fps = rate.fps();
        bool rateOk = m.rates.empty() && !m.maxRate ? std::abs(fps - 30.0) < 0.01 : false;
        for (const FrameRate &r : m.rates)
            rateOk = rateOk || std::abs(r.fps() - fps) < 0.01;
        if (m.minRate && m.maxRate)
            rateOk = rateOk || (fps >= m.minRate->fps() - 0.01 && fps <= m.maxRate->fps() + 0.01);
        if (rateOk)
            return ChosenMode{m.fourcc, size, rate};
    }
    return std::nullopt;
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

enum { PropModes = 1, PropFormat, PropWidth, PropHeight, PropFramerate, PropDamage };

CameraState &stateOf(gpointer object)
{
    return *reinterpret_cast<QuilloraVirtualCamera *>(object)->state;
}

void useSingleMode(CameraState &st)
{
    std::lock_guard lock(st.mutex);
    st.modes = {CameraMode{st.format, QSize(st.width, st.height), {}, {}, {FrameRate{st.framerate, 1}}, {}, {}}};
}

void setProperty(GObject *object, guint id, const GValue *value, GParamSpec *property)
{
    CameraState &st = stateOf(object);
    switch (id) {
    case PropModes: {
        const gchar *text = g_value_get_string(value);
        std::lock_guard lock(st.mutex);
        st.modes = text && *text ? parseModeListing(QString::fromUtf8(text)) : documentCameraModes();
        return;
    }
    case PropFormat: {
        const gchar *text = g_value_get_string(value);
        st.format = text ? QString::fromLatin1(text) : QStringLiteral("XR24");
        break;
    }
    case PropWidth:
        st.width = g_value_get_int(value);
        break;
    case PropHeight:
        st.height = g_value_get_int(value);
        break;
    case PropFramerate:
        st.framerate = g_value_get_int(value);
        break;
    case PropDamage:
        st.damageEvery = g_value_get_int(value);
        return;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, property);
        return;
    }
    useSingleMode(st);
}

void getProperty(GObject *object, guint id, GValue *value, GParamSpec *property)
{
    CameraState &st = stateOf(object);
    switch (id) {
    case PropModes: {
        std::lock_guard lock(st.mutex);
        g_value_set_string(value, formatModeListing(st.modes).toUtf8().constData());
        break;
    }
    case PropFormat:
        g_value_set_string(value, st.format.toLatin1().constData());
        break;
    case PropWidth:
        g_value_set_int(value, st.width);
        break;
    case PropHeight:
        g_value_set_int(value, st.height);
        break;
    case PropFramerate:
        g_value_set_int(value, st.framerate);
        break;
    case PropDamage:
        g_value_set_int(value, st.damageEvery);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, property);
    }
}

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
    CameraState &st = stateOf(src);
    std::optional<ChosenMode> mode;
    {
        std::lock_guard lock(st.mutex);
        mode = modeOfCaps(st.modes, caps);
    }
    if (!mode)
        return FALSE;
    st.mode = *mode;
    if (!isMjpeg(mode->fourcc) && !gst_video_info_from_caps(&st.info, caps))
        return FALSE;
    // The page underneath is drawn once; each frame adds the moving block to a copy.
    st.page = QImage(mode->size, QImage::Format_RGB32);
    st.page.fill(kVirtualPaper);
    if (st.page.width() >= 8 && st.page.height() >= 8)
        paintStaticPage(st.page);
    return TRUE;
}

gboolean start(GstBaseSrc *src)
{
    stateOf(src).frames = 0;
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

gboolean query(GstBaseSrc *src, GstQuery *q)
{
    CameraState &st = stateOf(src);
    if (GST_QUERY_TYPE(q) == GST_QUERY_LATENCY && st.mode.rate.num > 0) {
        // A frame is a frame's time old when it is sent.
        gst_query_set_latency(q, TRUE, frameDuration(st), frameDuration(st));
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(quillora_virtual_camera_parent_class)->query(src, q);
}

void drawFrame(CameraState &st, quint64 number)
{
    if (st.scratch.size() != st.mode.size)
        st.scratch = QImage(st.mode.size, QImage::Format_RGB32);
    std::memcpy(st.scratch.bits(), st.page.constBits(), size_t(st.page.sizeInBytes()));
    if (st.scratch.width() >= 8 && st.scratch.height() >= 8)
        paintMovingBlock(st.scratch, number);
}

bool convertFrame(const CameraState &st, GstVideoFrame &frame)
{
    const uint8_t *src = st.scratch.constBits();
    const int stride = int(st.scratch.bytesPerLine());
    const int w = st.mode.size.width();
    const int h = st.mode.size.height();
    auto plane = [&frame](int i) { return static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, i)); };
    auto pstride = [&frame](int i) { return GST_VIDEO_FRAME_PLANE_STRIDE(&frame, i); };
    auto comp = [&frame](int c) { return static_cast<uint8_t *>(GST_VIDEO_FRAME_COMP_DATA(&frame, c)); };
    auto cstride = [&frame](int c) { return GST_VIDEO_FRAME_COMP_STRIDE(&frame, c); };
    switch (GST_VIDEO_FRAME_FORMAT(&frame)) {
    case GST_VIDEO_FORMAT_BGRx:
        for (int y = 0; y < h; ++y)
            std::memcpy(plane(0) + y * pstride(0), src + y * stride, size_t(w) * 4);
        return true;
    case GST_VIDEO_FORMAT_YUY2:
        return libyuv::ARGBToYUY2(src, stride, plane(0), pstride(0), w, h) == 0;
    case GST_VIDEO_FORMAT_UYVY:
        return libyuv::ARGBToUYVY(src, stride, plane(0), pstride(0), w, h) == 0;
    case GST_VIDEO_FORMAT_NV12:
        return libyuv::ARGBToNV12(src, stride, plane(0), pstride(0), plane(1), pstride(1), w, h) == 0;
    case GST_VIDEO_FORMAT_NV21:
        return libyuv::ARGBToNV21(src, stride, plane(0), pstride(0), plane(1), pstride(1), w, h) == 0;
    case GST_VIDEO_FORMAT_I420:
    case GST_VIDEO_FORMAT_YV12:
        return libyuv::ARGBToI420(src, stride, comp(GST_VIDEO_COMP_Y), cstride(GST_VIDEO_COMP_Y),
                   comp(GST_VIDEO_COMP_U), cstride(GST_VIDEO_COMP_U), comp(GST_VIDEO_COMP_V), cstride(GST_VIDEO_COMP_V),
                   w, h)
            == 0;
    case GST_VIDEO_FORMAT_GRAY8:
        return libyuv::ARGBToI400(src, stride, plane(0), pstride(0), w, h) == 0;
    case GST_VIDEO_FORMAT_RGB:
        return libyuv::ARGBToRAW(src, stride, plane(0), pstride(0), w, h) == 0;
    case GST_VIDEO_FORMAT_BGR:
        return libyuv::ARGBToRGB24(src, stride, plane(0), pstride(0), w, h) == 0;
    default:
        return false;
    }
}

// A frame as a noisy link delivers it: the first half only, or with its headers overwritten.
JpegFrameCache::Bytes damaged(const std::vector<uint8_t> &whole, quint64 which)
{
    std::vector<uint8_t> bytes = whole;
    if (which % 2 == 0) {
        bytes.resize(bytes.size() / 2);
    } else {
        for (size_t i = 2; i < std::min<size_t>(bytes.size(), 600); ++i)
            bytes[i] = uint8_t(i * 37);
    }
    return std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
}

GstFlowReturn create(GstPushSrc *src, GstBuffer **out)
{
    CameraState &st = stateOf(src);
    if (st.unplugged.load()) {
        // What v4l2src says when its device goes away under it.
        GST_ELEMENT_ERROR(
            src, RESOURCE, READ, ("Could not read from resource."), ("poll error 1: No such device (19)"));
        return GST_FLOW_ERROR;
    }
    if (st.mode.size.isEmpty())
        return GST_FLOW_NOT_NEGOTIATED;
    const quint64 number = st.frames++;
    GstBuffer *buffer = nullptr;
    if (isMjpeg(st.mode.fourcc)) {
        const quint64 slot = number % kVirtualPagePeriod;
        auto bytes = jpegFrames().frame(st.mode.size, slot, [&]() -> const QImage & {
            drawFrame(st, slot);
            return st.scratch;
        });
        if (!bytes) {
            GST_ELEMENT_ERROR(src, RESOURCE, FAILED, ("the virtual camera could not encode its frame"), (nullptr));
            return GST_FLOW_ERROR;
        }
        if (st.damageEvery > 0 && number % quint64(st.damageEvery) == quint64(st.damageEvery - 1))
            bytes = damaged(*bytes, number / quint64(st.damageEvery));
        // The buffer shares the cached bytes; they outlive it however long downstream keeps it.
        auto *holder = new JpegFrameCache::Bytes(bytes);
        buffer
            = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<uint8_t *>(bytes->data()), bytes->size(),
                0, bytes->size(), holder, [](gpointer p) { delete static_cast<JpegFrameCache::Bytes *>(p); });
    } else {
        drawFrame(st, number);
        buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&st.info), nullptr);
        GstVideoFrame frame;
        if (!buffer || !gst_video_frame_map(&frame, &st.info, buffer, GST_MAP_WRITE)) {
            if (buffer)
                gst_buffer_unref(buffer);
            return GST_FLOW_ERROR;
        }
        const bool converted = convertFrame(st, frame);
        gst_video_frame_unmap(&frame);
        if (!converted) {
            gst_buffer_unref(buffer);
            GST_ELEMENT_ERROR(src, STREAM, FORMAT, ("the virtual camera cannot send this format"), (nullptr));
            return GST_FLOW_ERROR;
        }
    }
    const GstClockTime duration = frameDuration(st);
    if (!GST_CLOCK_TIME_IS_VALID(st.firstTime))
        st.firstTime = runningTimeNow(GST_ELEMENT(src));
    GST_BUFFER_PTS(buffer) = st.firstTime + number * duration;
    GST_BUFFER_DURATION(buffer) = duration;
    GST_BUFFER_OFFSET(buffer) = number;
    GST_BUFFER_OFFSET_END(buffer) = number + 1;
    *out = buffer;
    return GST_FLOW_OK;
}

void finalize(GObject *object)
{
    delete reinterpret_cast<QuilloraVirtualCamera *>(object)->state;
    G_OBJECT_CLASS(quillora_virtual_camera_parent_class)->finalize(object);
}

} // namespace

static void quillora_virtual_camera_class_init(QuilloraVirtualCameraClass *klass)
{
    auto *objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = setProperty;
    objectClass->get_property = getProperty;
    objectClass->finalize = finalize;
    const auto flags = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(objectClass, PropModes,
        g_param_spec_string("modes", "Modes", "The mode list, as v4l2-ctl --list-formats-ext prints it", "", flags));
    g_object_class_install_property(objectClass, PropFormat,
        g_param_spec_string(
            "format", "Format", "The one mode's V4L2 pixel format (MJPG, YUYV, XR24, ...)", "XR24", flags));
    g_object_class_install_property(
        objectClass, PropWidth, g_param_spec_int("width", "Width", "The one mode's width", 8, 16384, 1280, flags));
    g_object_class_install_property(
        objectClass, PropHeight, g_param_spec_int("height", "Height", "The one mode's height", 8, 16384, 1024, flags));
    g_object_class_install_property(objectClass, PropFramerate,
        g_param_spec_int("framerate", "Frame rate", "The one mode's frames per second", 1, 240, 30, flags));
    g_object_class_install_property(objectClass, PropDamage,
        g_param_spec_int(
            "damage", "Damage", "Every this many JPEG frames one arrives damaged (0: none)", 0, 1000, 0, flags));
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
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

namespace quillora::capture {

void setVirtualCameraDamage(int every)
{
    gDamageEvery.store(std::max(0, every));
}

bool registerVirtualCamera(GstPlugin *plugin)
{
    if (plugin)
        return gst_element_register(plugin, kVirtualCameraFactory, GST_RANK_NONE, quillora_virtual_camera_get_type());
    return registerElementOnce<quillora_virtual_camera_get_type>(kVirtualCameraFactory);
}

namespace {

// A weak reference to a virtual camera element that stands for a device; it does not keep the
// element alive.
struct LiveSource {
    explicit LiveSource(QString id, GstElement *element)
        : identity(std::move(id))
    {
        g_weak_ref_init(&ref, element);
    }
    ~LiveSource() { g_weak_ref_clear(&ref); }
    LiveSource(const LiveSource &) = delete;
    LiveSource &operator=(const LiveSource &) = delete;
    QString identity;
    GWeakRef ref;
};

std::mutex gLiveMutex;              // guards gLiveSources
std::list<LiveSource> gLiveSources; // a list: a GWeakRef must not move

// Calls `f` with each live element standing for `identity`, and forgets the elements that are
// gone. The caller holds gLiveMutex.
template <typename F> void forEachLiveSource(const QString &identity, F f)
{
    for (auto it = gLiveSources.begin(); it != gLiveSources.end();) {
        auto *element = static_cast<GstElement *>(g_weak_ref_get(&it->ref));
        if (!element) {
            it = gLiveSources.erase(it);
            continue;
        }
        if (it->identity == identity)
            f(element);
        gst_object_unref(element);
        ++it;
    }
}

} // namespace

void unplugVirtualCameraSources(const QString &identity)
{
    std::lock_guard lock(gLiveMutex);
    forEachLiveSource(identity, [](GstElement *element) { stateOf(element).unplugged.store(true); });
}

ElementPtr makeVirtualCameraSource(const std::vector<CameraMode> &modes, QString *error, const QString &identity)
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
    g_object_set(
        camera.get(), "modes", formatModeListing(modes).toUtf8().constData(), "damage", gDamageEvery.load(), nullptr);
    if (!identity.isEmpty()) {
        std::lock_guard lock(gLiveMutex);
        forEachLiveSource(QString(), [](GstElement *) {}); // forget the ones that are gone
        gLiveSources.emplace_back(identity, camera.get());
    }
    return camera;
}

} // namespace quillora::capture
