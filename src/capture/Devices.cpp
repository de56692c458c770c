#include "Devices.h"

#include "CaptureLog.h"
#include "VirtualCamera.h"

#include <QCollator>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <algorithm>
#include <mutex>

namespace quillora::capture {

void ensureGstreamer()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
    });
}

namespace {

QString stringProperty(GstStructure *props, const char *name)
{
    const gchar *value = props ? gst_structure_get_string(props, name) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

std::vector<DevicePtr> devicesOfProvider(const char *providerName)
{
    std::vector<DevicePtr> out;
    DeviceProviderPtr provider(gst_device_provider_factory_get_by_name(providerName));
    if (!provider) {
        qCInfo(lcCapture) << "no device provider" << providerName;
        return out;
    }
    GList *devices = gst_device_provider_get_devices(provider.get());
    for (GList *l = devices; l; l = l->next)
        out.emplace_back(GST_DEVICE(l->data)); // takes the list's reference
    g_list_free(devices);
    return out;
}

} // namespace

std::vector<DeviceDescription> listCameras()
{
    ensureGstreamer();
    const auto env = QProcessEnvironment::systemEnvironment();
    if (env.contains(QStringLiteral("QUILLORA_VIRTUAL_CAMERAS")))
        return parseVirtualCameras(env.value(QStringLiteral("QUILLORA_VIRTUAL_CAMERAS")));

    std::vector<DeviceDescription> out;
    for (const auto &device : devicesOfProvider("v4l2deviceprovider")) {
        StructurePtr props(gst_device_get_properties(device.get()));
        DeviceDescription d;
        d.kind = DeviceKind::V4l2Camera;
        d.devicePath = stringProperty(props.get(), "device.path");
        d.sysfsPath = stringProperty(props.get(), "sysfs.path");
        GCharPtr name(gst_device_get_display_name(device.get()));
        d.displayName = name ? QString::fromUtf8(name.get()) : d.devicePath;
        d.modelUniqueID = stringProperty(props.get(), "v4l2.device.card");
        d.uniqueID = d.devicePath;
        if (d.devicePath.isEmpty())
            continue;
        out.push_back(std::move(d));
    }
    // The camera menu maps item i to device i, so the order must not depend on the order
    // in which the kernel or the provider happened to report the nodes.
    QCollator collator;
    collator.setNumericMode(true);
    std::sort(out.begin(), out.end(), [&](const DeviceDescription &a, const DeviceDescription &b) {
        return collator.compare(a.devicePath, b.devicePath) < 0;
    });
    return out;
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
    for (const auto &device : devicesOfProvider("pulsedeviceprovider")) {
        GCharPtr klass(gst_device_get_device_class(device.get()));
        if (!klass || !g_str_has_prefix(klass.get(), "Audio/Source"))
            continue;
        StructurePtr props(gst_device_get_properties(device.get()));
        DeviceDescription d;
        d.kind = DeviceKind::SoundSource;
        GCharPtr name(gst_device_get_display_name(device.get()));
        d.displayName = name ? QString::fromUtf8(name.get()) : QString();
        d.devicePath = stringProperty(props.get(), "device.name");
        if (d.devicePath.isEmpty())
            d.devicePath = stringProperty(props.get(), "node.name");
        d.modelUniqueID = stringProperty(props.get(), "device.description");
        d.uniqueID = d.devicePath;
        gboolean isDefault = FALSE;
        if (props && gst_structure_get_boolean(props.get(), "is-default", &isDefault))
            d.isDefault = isDefault && virtualName.isEmpty();
        out.push_back(std::move(d));
    }
    return out;
}

int defaultSoundSourceIndex(const std::vector<DeviceDescription> &sources)
{
    for (size_t i = 0; i < sources.size(); ++i)
        if (sources[i].isDefault)
            return int(i);
    return sources.empty() ? -1 : 0;
}

namespace {

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

QByteArray quoted(const QString &value)
{
    QByteArray bytes = value.toUtf8();
    bytes.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + bytes + '"';
}

} // namespace

ElementPtr makeVideoSource(const DeviceDescription &device, QSize hint, QString *error)
{
    ensureGstreamer();
    switch (device.kind) {
    case DeviceKind::VirtualCamera: {
        const QSize size = device.nativeSize.isValid() ? device.nativeSize : hint;
        return makeVirtualCameraSource(size, error);
    }
    case DeviceKind::V4l2Camera:
        // Cameras send MJPEG at their large sizes and raw YUV at small ones; decodebin takes
        // whichever the negotiation settles on.
        return parseBin("v4l2src name=camera device=" + quoted(device.devicePath) + " ! decodebin", error);
    default:
        if (error)
            *error = QStringLiteral("not a camera");
        return {};
    }
}

ElementPtr makeSoundSource(const DeviceDescription &device, QString *error)
{
    ensureGstreamer();
    switch (device.kind) {
    case DeviceKind::VirtualSound:
        return parseBin("audiotestsrc is-live=true wave=sine freq=440 volume=0.2", error);
    case DeviceKind::SoundSource:
        return parseBin("pulsesrc device=" + quoted(device.devicePath), error);
    default:
        if (error)
            *error = QStringLiteral("not a sound input");
        return {};
    }
}

} // namespace quillora::capture
