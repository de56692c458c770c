// SPDX-License-Identifier: GPL-3.0-or-later
#include "Devices.h"
#include "Devices_p.h"

#include "CameraControls.h"
#include "CameraWatcher.h"
#include "CaptureLog.h"
#include "SysfsCamera.h"
#include "V4l2Modes.h"
#include "VirtualCamera.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <mutex>

namespace quillora::capture {

void ensureGstreamer()
{
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

namespace {

QString stringProperty(GstStructure *props, const char *name)
{
    const gchar *value = props ? gst_structure_get_string(props, name) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

// The name under which the sound server knows a source: the pulse provider keeps it in the
// device object itself, a PipeWire node (reached through its pulse service) in its properties.
QString soundServerSourceName(GstDevice *device, GstStructure *props)
{
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(device), "internal-name")) {
        gchar *raw = nullptr;
        g_object_get(device, "internal-name", &raw, nullptr);
        GCharPtr name(raw);
        if (name && *name)
            return QString::fromUtf8(name.get());
    }
    for (const char *key : {"node.name", "device.name"}) {
        const QString value = stringProperty(props, key);
        if (!value.isEmpty())
            return value;
    }
    return {};
}

} // namespace

std::vector<DeviceDescription> listCameras()
{
    ensureGstreamer();
    const auto env = QProcessEnvironment::systemEnvironment();
    if (env.contains(QStringLiteral("QUILLORA_VIRTUAL_CAMERAS"))) {
        auto cameras = parseVirtualCameras(env.value(QStringLiteral("QUILLORA_VIRTUAL_CAMERAS")));
        // A virtual camera pulled out is not attached, as a real one is not.
        std::erase_if(cameras, [](const DeviceDescription &d) { return !isVirtualCameraAttached(d.uniqueID); });
        return cameras;
    }

    // Straight from sysfs rather than through the V4L2 device provider: the provider opens every
    // node and probes all its formats at each call (slow, and a camera that answers no format
    // would silently vanish from the menu), and its sysfs path depends on how GStreamer was
    // built. Here the node order is the kernel's numbering, the same at every call, and the
    // kernel itself tells picture nodes from metadata nodes.
    const QString sysfsRoot = env.value(QStringLiteral("QUILLORA_SYSFS_ROOT"), QStringLiteral("/sys"));
    const QString devRoot = env.value(QStringLiteral("QUILLORA_DEV_ROOT"), QStringLiteral("/dev"));
    const auto standIn = v4l2StandIn();
    return listSysfsCameras(sysfsRoot, devRoot, standIn ? standIn->probe : CapabilityProbe(queryNodeCapabilities));
}

std::vector<DeviceDescription> listSoundSources()
{
    ensureGstreamer();
    std::vector<DeviceDescription> out;
    const auto env = QProcessEnvironment::systemEnvironment();
    const QString virtualName = env.value(QStringLiteral("QUILLORA_VIRTUAL_MICROPHONE"));
    if (!virtualName.isEmpty()) {
        DeviceDescription d;
        d.kind = DeviceKind::VirtualSound;
        d.displayName = virtualName;
        d.modelUniqueID = QStringLiteral("Virtual Microphone");
        d.uniqueID = QStringLiteral("virtual-microphone");
        d.isDefault = true;
        out.push_back(std::move(d));
    }
    DeviceMonitorPtr monitor(gst_device_monitor_new());
    if (gst_device_monitor_add_filter(monitor.get(), "Audio/Source", nullptr) == 0) {
        qCInfo(lcCapture) << "no sound server to ask for sound inputs";
        return out;
    }
    // Started, not merely probed: only a running provider asks the sound server which source
    // is its default (a probe leaves is-default false on every source). Where no provider
    // starts, a probe still finds what it can, with no default among it.
    const bool started = gst_device_monitor_start(monitor.get());
    if (!started)
        qCInfo(lcCapture) << "sound server not reachable; probing for sound inputs";
    GList *devices = gst_device_monitor_get_devices(monitor.get());
    if (started)
        gst_device_monitor_stop(monitor.get());
    for (GList *l = devices; l; l = l->next) {
        DevicePtr device(GST_DEVICE(l->data)); // takes the list's reference
        StructurePtr props(gst_device_get_properties(device.get()));
        DeviceDescription d;
        d.kind = DeviceKind::SoundSource;
        d.devicePath = soundServerSourceName(device.get(), props.get());
        if (d.devicePath.isEmpty()) {
            qCInfo(lcCapture) << "sound input without a sound server name skipped";
            continue;
        }
        GCharPtr name(gst_device_get_display_name(device.get()));
        d.displayName = name ? QString::fromUtf8(name.get()) : d.devicePath;
        d.modelUniqueID = stringProperty(props.get(), "device.description");
        d.uniqueID = d.devicePath;
        gboolean isDefault = FALSE;
        if (props && gst_structure_get_boolean(props.get(), "is-default", &isDefault))
            d.isDefault = isDefault && virtualName.isEmpty();
        // The sound server also offers what each output plays as a source. That is no sound
        // input for a movie unless the user made it the default on purpose.
        if (stringProperty(props.get(), "device.class") == QLatin1String("monitor") && !isDefault)
            continue;
        out.push_back(std::move(d));
    }
    g_list_free(devices);
    return out;
}

int defaultSoundSourceIndex(const std::vector<DeviceDescription> &sources)
{
    for (size_t i = 0; i < sources.size(); ++i)
        if (sources[i].isDefault)
            return int(i);
    return sources.empty() ? -1 : 0;
}

ElementPtr parseBin(const QByteArray &description, QString *error)
{
    GError *raw = nullptr;
    GstElement *bin = gst_parse_bin_from_description(description.constData(), TRUE, &raw);
    GErrorPtr parseError(raw);
    if (!bin || parseError) {
        if (error)
            *error = parseError ? QString::fromUtf8(parseError->message) : QStringLiteral("cannot build source");
        if (bin)
            gst_object_unref(gst_object_ref_sink(bin));
        return {};
    }
    return ElementPtr(GST_ELEMENT(gst_object_ref_sink(bin)));
}

namespace {

QByteArray quoted(const QString &value)
{
    QByteArray bytes = value.toUtf8();
    bytes.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + bytes + '"';
}

} // namespace

std::vector<CameraMode> cameraModes(const DeviceDescription &device, QString *error)
{
    switch (device.kind) {
    case DeviceKind::V4l2Camera:
        if (const auto standIn = v4l2StandIn())
            return standIn->modes;
        return queryCameraModes(device.devicePath, error);
    case DeviceKind::VirtualCamera:
        return device.modes;
    default:
        if (error)
            *error = QStringLiteral("not a camera");
        return {};
    }
}

namespace {

// What the virtual camera offers when its picture starts: its mode list file as it is now.
std::vector<CameraMode> virtualModesNow(const DeviceDescription &device)
{
    if (device.modeListPath.isEmpty())
        return device.modes;
    return readModeListing(device.modeListPath).value_or(std::vector<CameraMode>{});
}

ElementPtr makeCamera(const DeviceDescription &device, QString *error)
{
    if (device.kind == DeviceKind::VirtualCamera) {
        // Pulled out: it cannot be opened, as a V4L2 node that is gone cannot.
        if (!isVirtualCameraAttached(device.uniqueID)) {
            if (error)
                *error = QStringLiteral("the virtual camera %1 is not attached").arg(device.uniqueID);
            return {};
        }
        return makeVirtualCameraSource(virtualModesNow(device), error, device.uniqueID, device.replayPath);
    }
    if (const auto standIn = v4l2StandIn()) {
        if (!QFile::exists(device.devicePath)) {
            if (error)
                *error = QStringLiteral("Cannot identify device '%1'.").arg(device.devicePath);
            return {};
        }
        return makeVirtualCameraSource(standIn->modes, error, device.devicePath);
    }
    GstElement *camera = gst_element_factory_make("v4l2src", "camera");
    if (!camera) {
        if (error)
            *error = QStringLiteral("v4l2src is missing (gstreamer1.0-plugins-good)");
        return {};
    }
    ElementPtr owned(GST_ELEMENT(gst_object_ref_sink(camera)));
    g_object_set(camera, "device", QFile::encodeName(device.devicePath).constData(), nullptr);
    return owned;
}

} // namespace

ElementPtr makeVideoSource(const DeviceDescription &device, const ChosenMode &mode, QString *error)
{
    ensureGstreamer();
    if (device.kind != DeviceKind::VirtualCamera && device.kind != DeviceKind::V4l2Camera) {
        if (error)
            *error = QStringLiteral("not a camera");
        return {};
    }
    ElementPtr camera = makeCamera(device, error);
    if (!camera)
        return {};
    ElementPtr bin(GST_ELEMENT(gst_object_ref_sink(gst_bin_new("camerasource"))));
    // The mode goes on the source as caps: the camera delivers that, or refuses.
    GstElement *modeFilter = gst_element_factory_make("capsfilter", "cameramode");
    CapsPtr modeCaps(gst_caps_from_string(modeCapsString(mode).toUtf8().constData()));
    if (!modeFilter || !modeCaps) {
        if (modeFilter)
            gst_object_unref(gst_object_ref_sink(modeFilter));
        if (error)
            *error = QStringLiteral("no caps for %1").arg(describeMode(mode));
        return {};
    }
    g_object_set(modeFilter, "caps", modeCaps.get(), nullptr);
    // The bin takes a reference of its own; ours goes with `camera`.
    gst_bin_add_many(GST_BIN(bin.get()), camera.get(), modeFilter, nullptr);
    GstElement *last = modeFilter;
    // Linked without a caps check: a camera that no longer has the mode is to refuse it when
    // the stream starts, where the session can fall back, not here.
    bool linked = gst_element_link_pads_full(camera.get(), "src", modeFilter, "sink", GST_PAD_LINK_CHECK_HIERARCHY);
    if (!linked) {
        if (error)
            *error = QStringLiteral("cannot link the camera's source");
        return {};
    }
    PadPtr src(gst_element_get_static_pad(last, "src"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", src.get()));
    return bin;
}

ElementPtr makeSoundSource(const DeviceDescription &device, QString *error)
{
    ensureGstreamer();
    switch (device.kind) {
    case DeviceKind::VirtualSound:
        return makeVirtualMicrophone(error);
    case DeviceKind::SoundSource:
        return parseBin("pulsesrc device=" + quoted(device.devicePath), error);
    default:
        if (error)
            *error = QStringLiteral("not a sound input");
        return {};
    }
}

namespace {

// The fifth field of a virtual camera's entry: its controls as a real camera's listing. False
// when the entry is to be skipped.
bool readVirtualControlList(const QString &path, DeviceDescription &d, const QString &entry)
{
    if (path.isEmpty())
        return true;
    if (!readControlListing(path)) {
        qCWarning(lcCapture) << "virtual camera entry skipped (control list unreadable):" << entry;
        return false;
    }
    d.controlListPath = path;
    return true;
}

} // namespace

std::vector<DeviceDescription> parseVirtualCameras(const QString &text)
{
    std::vector<DeviceDescription> out;
    const QStringList entries = text.split(QLatin1Char(';'));
    int index = 0;
    for (const QString &raw : entries) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        const QStringList fields = entry.split(QLatin1Char('|'));
        if (fields.size() > 5 || fields.at(0).trimmed().isEmpty()) {
            qCWarning(lcCapture) << "virtual camera entry skipped (want name|model|id[|modes[|controls]]):" << entry;
            continue;
        }
        DeviceDescription d;
        d.kind = DeviceKind::VirtualCamera;
        d.displayName = fields.at(0).trimmed();
        d.modelUniqueID
            = fields.size() > 1 && !fields.at(1).isEmpty() ? fields.at(1) : QStringLiteral("Virtual Camera");
        d.uniqueID
            = fields.size() > 2 && !fields.at(2).isEmpty() ? fields.at(2) : QStringLiteral("virtual-%1").arg(index);
        d.modes = documentCameraModes();
        if (fields.size() > 4 && !readVirtualControlList(fields.at(4).trimmed(), d, entry))
            continue;
        if (fields.size() > 3 && !fields.at(3).trimmed().isEmpty()) {
            const QString modes = fields.at(3).trimmed();
            static const QRegularExpression sizeRe(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
            const auto m = sizeRe.match(modes);
            if (m.hasMatch()) {
                const int w = m.captured(1).toInt();
                const int h = m.captured(2).toInt();
                if (w < 16 || h < 16 || w > 8192 || h > 8192 || w % 2 || h % 2) {
                    qCWarning(lcCapture) << "virtual camera entry skipped (bad size):" << entry;
                    continue;
                }
                d.modes = {CameraMode{QStringLiteral("XR24"), QSize(w, h), {}, {}, {FrameRate{30, 1}}, {}, {}}};
            } else if (auto replay = virtualReplay(modes)) {
                d.modes = {replay->mode};
                d.replayPath = replay->path;
            } else {
                auto listed = readModeListing(modes);
                if (!listed) {
                    qCWarning(lcCapture) << "virtual camera entry skipped (mode list unreadable):" << entry;
                    continue;
                }
                d.modes = std::move(*listed);
                d.modeListPath = modes;
            }
        }
        out.push_back(std::move(d));
        ++index;
    }
    return out;
}

} // namespace quillora::capture
