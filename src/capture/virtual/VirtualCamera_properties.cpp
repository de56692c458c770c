// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in camera element's properties: its mode list or one mode, the damage it sends, the
// size of its JPEG frames, and a recording it replays.
#include "VirtualCamera_p.h"

namespace quillora::capture {

namespace {

enum {
    PropModes = 1,
    PropFormat,
    PropWidth,
    PropHeight,
    PropFramerate,
    PropDamage,
    PropSentWidth,
    PropSentHeight,
    PropReplay
};

void useSingleMode(CameraState &st)
{
    std::lock_guard lock(st.mutex);
    st.modes = {CameraMode{st.format, QSize(st.width, st.height), {}, {}, {FrameRate{st.framerate, 1}}, {}, {}}};
}

void setProperty(GObject *object, guint id, const GValue *value, GParamSpec *property)
{
    CameraState &st = virtualCameraState(object);
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
    case PropSentWidth:
        st.sentSize.setWidth(g_value_get_int(value));
        return;
    case PropSentHeight:
        st.sentSize.setHeight(g_value_get_int(value));
        return;
    case PropReplay: {
        const gchar *text = g_value_get_string(value);
        const QString path = text ? QString::fromUtf8(text) : QString();
        std::vector<JpegBytes> frames = path.isEmpty() ? std::vector<JpegBytes>{} : loadReplayFrames(path);
        std::lock_guard lock(st.mutex);
        st.replayPath = path;
        st.replay = std::move(frames);
        return;
    }
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, property);
        return;
    }
    useSingleMode(st);
}

void getProperty(GObject *object, guint id, GValue *value, GParamSpec *property)
{
    CameraState &st = virtualCameraState(object);
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
    case PropSentWidth:
        g_value_set_int(value, st.sentSize.width());
        break;
    case PropSentHeight:
        g_value_set_int(value, st.sentSize.height());
        break;
    case PropReplay: {
        std::lock_guard lock(st.mutex);
        g_value_set_string(value, st.replayPath.toUtf8().constData());
        break;
    }
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, property);
    }
}

} // namespace

void installVirtualCameraProperties(GObjectClass *objectClass)
{
    objectClass->set_property = setProperty;
    objectClass->get_property = getProperty;
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
    g_object_class_install_property(objectClass, PropSentWidth,
        g_param_spec_int(
            "sent-width", "Sent width", "The width of the JPEG frames sent (0: the mode's)", 0, 16384, 0, flags));
    g_object_class_install_property(objectClass, PropSentHeight,
        g_param_spec_int(
            "sent-height", "Sent height", "The height of the JPEG frames sent (0: the mode's)", 0, 16384, 0, flags));
    g_object_class_install_property(objectClass, PropReplay,
        g_param_spec_string("replay", "Replay",
            "A recording to send in the MJPEG mode: a folder of JPEG frames or a file of them one after another", "",
            flags));
}

} // namespace quillora::capture
