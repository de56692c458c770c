// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in camera's modes as caps: what it offers, and which of its modes fixed caps ask for.
#include "VirtualCamera_p.h"

#include <QStringList>

#include <cmath>

namespace quillora::capture {

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

} // namespace quillora::capture
