// SPDX-License-Identifier: GPL-3.0-or-later
// Control lists as `v4l2-ctl --list-ctrls-menus` prints them: how real cameras' controls are
// published, and how a virtual camera is given the controls of one.
#include "CameraControls.h"

#include "CaptureLog.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace quillora::capture {

namespace {

// The class names the kernel gives its control classes, which v4l2-ctl prints as headers.
const std::pair<const char *, std::uint32_t> kClassHeaders[] = {
    {"User Controls", 0x00980001},
    {"Codec Controls", 0x00990001},
    {"Camera Controls", 0x009a0001},
    {"FM Radio Modulator Controls", 0x009b0001},
    {"Flash Controls", 0x009c0001},
    {"JPEG Compression Controls", 0x009d0001},
    {"Image Source Controls", 0x009e0001},
    {"Image Processing Controls", 0x009f0001},
    {"Digital Video Controls", 0x00a00001},
    {"FM Radio Receiver Controls", 0x00a10001},
    {"RF Tuner Controls", 0x00a20001},
    {"Detection Controls", 0x00a30001},
    {"Stateless Codec Controls", 0x00a40001},
    {"Colorimetry Controls", 0x00a50001},
};

std::uint32_t classOfHeader(const QString &header, std::uint32_t id)
{
    for (const auto &[name, classId] : kClassHeaders)
        if (header == QLatin1String(name))
            return classId;
    return controlClassOf(id);
}

// A name for a control the kernel does not name, from the short name v4l2-ctl made of the
// driver's: "led1_mode" -> "Led1 Mode".
QString nameFromShortName(const QString &shortName)
{
    QStringList words;
    QString word;
    for (const QChar c : shortName + QLatin1Char('_')) {
        if (c.isLetterOrNumber()) {
            // Lower case, each word's first letter upper case where that is the same letter
            // lowered again: the name then gives this short name back.
            const QChar lower = c.toLower();
            word += word.isEmpty() && lower.toUpper().toLower() == lower ? lower.toUpper() : lower;
        } else if (!word.isEmpty()) {
            words << word;
            word.clear();
        }
    }
    return words.isEmpty() ? QStringLiteral("Control") : words.join(QLatin1Char(' '));
}

// v4l2-ctl's short name of a driver's name: lower case, anything but letters and digits one '_'.
QString shortNameOf(const QString &name)
{
    QString out;
    for (const QChar c : name) {
        if (c.isLetterOrNumber())
            out += c.toLower();
        else if (!out.isEmpty() && !out.endsWith(QLatin1Char('_')))
            out += QLatin1Char('_');
    }
    while (out.endsWith(QLatin1Char('_')))
        out.chop(1);
    return out.isEmpty() ? QStringLiteral("control") : out;
}

std::optional<ControlKind> kindOfType(const QString &type)
{
    if (type == QLatin1String("int"))
        return ControlKind::Integer;
    if (type == QLatin1String("bool"))
        return ControlKind::Boolean;
    if (type == QLatin1String("menu"))
        return ControlKind::Menu;
    if (type == QLatin1String("intmenu"))
        return ControlKind::IntegerMenu;
    if (type == QLatin1String("button"))
        return ControlKind::Button;
    return std::nullopt; // int64, bitmask, str, compound types: nothing a panel sets
}

const char *typeOfKind(ControlKind kind)
{
    switch (kind) {
    case ControlKind::Integer:
        return "int";
    case ControlKind::Boolean:
        return "bool";
    case ControlKind::Menu:
        return "menu";
    case ControlKind::IntegerMenu:
        return "intmenu";
    case ControlKind::Button:
        return "button";
    }
    return "int";
}

enum class Field { Min, Max, Step, Default, Value };

std::optional<std::int64_t> numberAfter(const QString &fields, Field field)
{
    static const QRegularExpression patterns[] = {
        QRegularExpression(QStringLiteral("(?:^|\\s)min=(-?\\d{1,19})(?=\\s|$)")),
        QRegularExpression(QStringLiteral("(?:^|\\s)max=(-?\\d{1,19})(?=\\s|$)")),
        QRegularExpression(QStringLiteral("(?:^|\\s)step=(-?\\d{1,19})(?=\\s|$)")),
        QRegularExpression(QStringLiteral("(?:^|\\s)default=(-?\\d{1,19})(?=\\s|$)")),
        QRegularExpression(QStringLiteral("(?:^|\\s)value=(-?\\d{1,19})(?=\\s|$)")),
    };
    const auto m = patterns[int(field)].match(fields);
    if (!m.hasMatch())
        return std::nullopt;
    bool ok = false;
    const qlonglong n = m.captured(1).toLongLong(&ok);
    return ok ? std::optional<std::int64_t>(n) : std::nullopt;
}

struct ParsedLine {
    CameraControl control;
    bool usable = false; // a control a panel shows
};

// One control line: "<short name> 0x<id> (<type>) : key=value ... [flags=a, b]".
std::optional<ParsedLine> parseControlLine(const QString &line, const QString &header)
{
    static const QRegularExpression controlLine(
        QStringLiteral("^(\\S+)\\s+0x([0-9a-fA-F]{1,8})\\s+\\((\\w+)\\)\\s*:(.*)$"));
    const auto m = controlLine.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    ParsedLine out;
    CameraControl &c = out.control;
    c.id = m.captured(2).toUInt(nullptr, 16);
    const KnownControl *known = knownControl(c.id);
    c.name = known ? QString::fromLatin1(known->name) : nameFromShortName(m.captured(1));
    c.group = classOfHeader(header, c.id);
    c.groupName = header;
    QString fields = m.captured(4);
    QStringList flags;
    if (const qsizetype at = fields.indexOf(QLatin1String("flags=")); at >= 0) {
        for (const QString &flag : fields.mid(at + 6).split(QLatin1Char(',')))
            flags << flag.trimmed();
        fields.truncate(at);
    }
    const auto kind = kindOfType(m.captured(3));
    // A control the driver does not let be set is no control of the panel's.
    const bool settable = !flags.contains(QLatin1String("read-only")) && !flags.contains(QLatin1String("disabled"))
        && !flags.contains(QLatin1String("has-payload"));
    if (!kind || !settable)
        return out;
    c.kind = *kind;
    c.inactive = flags.contains(QLatin1String("inactive")) || flags.contains(QLatin1String("grabbed"));
    if (c.kind == ControlKind::Boolean) {
        c.maximum = 1;
    } else if (c.kind != ControlKind::Button) {
        const auto minimum = numberAfter(fields, Field::Min);
        const auto maximum = numberAfter(fields, Field::Max);
        if (!minimum || !maximum || *minimum > *maximum)
            return out;
        c.minimum = *minimum;
        c.maximum = *maximum;
        c.step = c.kind == ControlKind::Integer
            ? std::max<std::int64_t>(1, numberAfter(fields, Field::Step).value_or(1))
            : 1;
    }
    if (c.holdsValue()) {
        c.defaultValue = numberAfter(fields, Field::Default).value_or(c.minimum);
        c.value = numberAfter(fields, Field::Value).value_or(c.defaultValue);
    }
    out.usable = true;
    return out;
}

// "Camera Controls": a class header of newer v4l2-ctl.
bool isClassHeader(const QString &line)
{
    static const QRegularExpression header(QStringLiteral("^[A-Z][A-Za-z0-9 ./&-]* Controls$"));
    return header.match(line).hasMatch();
}

} // namespace

std::vector<CameraControl> parseControlListing(const QString &text)
{
    static const QRegularExpression menuEntry(QStringLiteral("^(-?\\d{1,19}):\\s?(.*)$"));
    static const QRegularExpression quote(QStringLiteral("^(?:>\\s?)+"));
    std::vector<CameraControl> controls;
    QString header;
    CameraControl *menu = nullptr; // the menu whose entries follow
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        QString line = raw;
        line.remove(quote);
        line = line.trimmed();
        if (menu) {
            if (const auto m = menuEntry.match(line); m.hasMatch()) {
                bool ok = false;
                const std::int64_t index = m.captured(1).toLongLong(&ok);
                QString name = m.captured(2).trimmed();
                // An integer menu's entry: "0: 1000000 (0x000f4240)".
                if (menu->kind == ControlKind::IntegerMenu)
                    name = name.section(QLatin1Char(' '), 0, 0);
                if (ok && index >= menu->minimum && index <= menu->maximum && menu->menu.size() < 256)
                    menu->menu.push_back({index, name});
                continue;
            }
            menu = nullptr;
        }
        if (isClassHeader(line)) {
            header = line;
            continue;
        }
        const auto parsed = parseControlLine(line, header);
        // A control ID is one control: a second line for it is no second control.
        if (!parsed || !parsed->usable
            || std::any_of(controls.begin(), controls.end(), [&](const auto &c) { return c.id == parsed->control.id; }))
            continue;
        controls.push_back(parsed->control);
        const ControlKind kind = controls.back().kind;
        if (kind == ControlKind::Menu || kind == ControlKind::IntegerMenu)
            menu = &controls.back();
    }
    // `v4l2-ctl -l` prints no menu entries: such a menu has nothing that could be chosen.
    std::erase_if(controls, [](const CameraControl &c) {
        return (c.kind == ControlKind::Menu || c.kind == ControlKind::IntegerMenu) && c.menu.empty();
    });
    return controls;
}

std::optional<std::vector<CameraControl>> readControlListing(const QString &path)
{
    constexpr qint64 kMaxBytes = 1 << 20;
    QFile file(path);
    if (file.size() > kMaxBytes || !file.open(QIODevice::ReadOnly)) {
        qCInfo(lcCapture).noquote() << QStringLiteral("control list %1 cannot be read").arg(path);
        return std::nullopt;
    }
    return parseControlListing(QString::fromUtf8(file.read(kMaxBytes)));
}

QString formatControlListing(const std::vector<CameraControl> &controls)
{
    QString out;
    std::optional<std::pair<std::uint32_t, QString>> group;
    for (const CameraControl &c : controls) {
        if (!c.groupName.isEmpty() && group != std::pair(c.group, c.groupName))
            out += QStringLiteral("\n%1\n\n").arg(c.groupName);
        group = std::pair(c.group, c.groupName);
        const KnownControl *known = knownControl(c.id);
        const QString shortName = known ? QString::fromLatin1(known->shortName) : shortNameOf(c.name);
        out += QStringLiteral("%1 0x%2 (%3) :")
                   .arg(shortName, 31)
                   .arg(c.id, 8, 16, QLatin1Char('0'))
                   .arg(QString::fromLatin1(typeOfKind(c.kind)));
        if (c.kind == ControlKind::Integer)
            out += QStringLiteral(" min=%1 max=%2 step=%3").arg(c.minimum).arg(c.maximum).arg(c.step);
        else if (c.kind == ControlKind::Menu || c.kind == ControlKind::IntegerMenu)
            out += QStringLiteral(" min=%1 max=%2").arg(c.minimum).arg(c.maximum);
        if (c.holdsValue())
            out += QStringLiteral(" default=%1 value=%2").arg(c.defaultValue).arg(c.value);
        if (c.inactive)
            out += QStringLiteral(" flags=inactive");
        out += QLatin1Char('\n');
        for (const ControlMenuEntry &entry : c.menu)
            out += QStringLiteral("\t\t\t\t%1: %2\n").arg(entry.index).arg(entry.name);
    }
    return out;
}

} // namespace quillora::capture
