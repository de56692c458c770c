// SPDX-License-Identifier: GPL-3.0-or-later
#include "UserDefaults.h"

#include "PrefsLog.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QMap>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <unistd.h>
#include <utility>

namespace quillora::prefs {

namespace {

// Settings files hold ten short texts; anything this large was not written by us, and reading
// it would cost seconds and hundreds of megabytes at every start.
constexpr qint64 kLargestStore = 1 << 20;

// The settings object for reading our file. A fresh one for every use: QSettings shares the
// parsed file between its instances and re-reads it when it changed on disk.
std::unique_ptr<QSettings> openStore(const QString &path)
{
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

bool oversized(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.size() > kLargestStore;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The rename that replaced the file is only durable once the folder's entry is on disk too.
QString flushFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    QString error;
    if (::fsync(fd) != 0 && errno != EINVAL) // EINVAL: a file system that cannot sync folders
        error = QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return error;
}

// QSettings knows a file it has read by its size and time stamp (to the millisecond), and answers
// from what it read for as long as both stay the same. A new file of the same size written within
// the clock tick (a few milliseconds) of the one it replaces would go on being answered with the
// old texts, in this process and in any other that had read it: the new file is dated after the
// old one. Should that fail, the save still goes on: a stale answer is better than no save.
void dateAfterReplaced(const QString &newFile, const QString &replaced)
{
    const QFileInfo old(replaced);
    const QFileInfo made(newFile);
    if (!old.exists() || old.size() != made.size() || made.lastModified() > old.lastModified())
        return;
    QFile file(newFile);
    if (!file.open(QIODevice::ReadOnly)
        || !file.setFileTime(old.lastModified().addMSecs(1), QFileDevice::FileModificationTime))
        qCInfo(lcPrefs).noquote()
            << QStringLiteral("the new settings file could not be dated after the old one: %1").arg(file.errorString());
}

} // namespace

UserDefaults &UserDefaults::standardUserDefaults()
{
    static UserDefaults shared;
    return shared;
}

QString UserDefaults::fileName()
{
    // By path rather than by organisation and application name: QSettings would call an INI
    // file of ours "quillora.ini", and look into /etc/xdg for values we never stored.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Quillora/quillora.conf");
}

void UserDefaults::registerDefaults(const QHash<QString, QString> &defaults)
{
    m_registered.insert(defaults);
}

std::optional<QString> UserDefaults::textOfStoredValue(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return QString::number(value.toLongLong());
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return QString::number(value.toULongLong());
    case QMetaType::Float:
    case QMetaType::Double: {
        const double number = value.toDouble();
        // A whole number reads as plain digits ("1024", not "1024.0" or "1.024e+03").
        if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 9.0e15)
            return QString::number(static_cast<qint64>(number));
        return QString::number(number, 'g', QLocale::FloatingPointShortest);
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> UserDefaults::stringForKey(const QString &key) const
{
    const auto registered = [&]() -> std::optional<QString> {
        if (m_registered.contains(key))
            return m_registered.value(key);
        return std::nullopt;
    };
    for (auto it = m_pending.crbegin(); it != m_pending.crend(); ++it) {
        if (it->first == key)
            return it->second ? it->second : registered();
    }
    const QString path = fileName();
    if (oversized(path)) {
        reportReadProblem(QStringLiteral("settings file %1 is too large to be ours; it is not read").arg(path));
        return registered();
    }
    const auto store = openStore(path);
    if (store->status() != QSettings::NoError) {
        const bool malformed = store->status() == QSettings::FormatError;
        reportReadProblem(QStringLiteral("settings file %1 is %2; what cannot be read falls back")
                              .arg(path, malformed ? QStringLiteral("malformed") : QStringLiteral("unreadable")));
    }
    // A key that holds only a group of keys below it has no value of its own.
    const QVariant stored = store->value(key);
    if (!stored.isValid())
        return registered();
    return textOfStoredValue(stored);
}

void UserDefaults::reportReadProblem(const QString &message) const
{
    if (m_readProblemReported)
        return;
    m_readProblemReported = true;
    qCInfo(lcPrefs).noquote() << message;
}

void UserDefaults::setValue(const QString &value, const QString &key)
{
    m_pending.append({key, value});
}

void UserDefaults::removeValueForKey(const QString &key)
{
    m_pending.append({key, std::nullopt});
}

QList<QPair<QString, std::optional<QString>>> UserDefaults::entriesOfGroup(const QString &group) const
{
    QMap<QString, std::optional<QString>> entries;
    const QString path = fileName();
    if (oversized(path)) {
        reportReadProblem(QStringLiteral("settings file %1 is too large to be ours; it is not read").arg(path));
    } else {
        const auto store = openStore(path);
        store->beginGroup(group);
        const QStringList keys = store->allKeys();
        for (const QString &key : keys)
            entries.insert(key, textOfStoredValue(store->value(key)));
    }
    const QString prefix = group + QLatin1Char('/');
    for (const auto &[key, text] : m_pending) {
        if (!key.startsWith(prefix))
            continue;
        if (text)
            entries.insert(key.mid(prefix.size()), text);
        else
            entries.remove(key.mid(prefix.size()));
    }
    QList<QPair<QString, std::optional<QString>>> out;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        out.append({it.key(), it.value()});
    return out;
}

namespace {

bool isPlainKey(const QString &key)
{
    // '%' for the percent-encoded camera identifiers of the picture controls' keys.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_.%\\-]+(/[A-Za-z0-9_.%\\-]+)*$"));
    return plain.match(key).hasMatch();
}

// Everything the file holds now, with the new texts: no key is ever dropped. Nothing when the
// file cannot be read. A file too large to be ours is not read at all.
std::optional<QMap<QString, QVariant>> intendedContents(
    const QString &path, bool readCurrent, const QList<QPair<QString, std::optional<QString>>> &pending)
{
    QMap<QString, QVariant> intended;
    if (readCurrent) {
        const auto current = openStore(path);
        if (current->status() == QSettings::AccessError)
            return std::nullopt;
        const QStringList keys = current->allKeys();
        for (const QString &key : keys) {
            // Another program's keys are kept. Names that are no keys at all (what QSettings
            // makes of a binary or garbled file) are dropped: they do not come back as written,
            // so the check below could never pass and the settings could never be saved again.
            if (isPlainKey(key))
                intended.insert(key, current->value(key));
        }
    }
    for (const auto &[key, text] : pending) {
        if (text)
            intended.insert(key, *text);
        else
            intended.remove(key);
    }
    return intended;
}

// The file the settings are written to: the settings file itself or, when it is a link (a dotfile
// manager keeps the real file elsewhere), the file the link leads to, which may not exist yet.
// Replacing the link itself would cut the settings off from where the user keeps them. Empty
// for links that lead round in a circle.
QString fileWrittenFor(const QString &path)
{
    QString file = path;
    for (int hops = 0; hops < 40; ++hops) { // the kernel's own limit
        const QFileInfo info(file);
        if (!info.isSymLink())
            return file;
        file = info.symLinkTarget();
    }
    return {};
}

bool renamed(const QString &from, const QString &to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// Puts the new file in place of one too large to be ours, which is kept beside it as `aside`
// (replacing an older one there) rather than lost. At no moment is there no settings file: the
// two are swapped in one step where the file system can, else the old one gets its second name
// first. False, with errno set, when the new file could not be put in place; the old one then
// still is.
bool replaceKeepingOld(const QString &newFile, const QString &file, const QString &aside)
{
    const QByteArray from = QFile::encodeName(newFile);
    const QByteArray to = QFile::encodeName(file);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0) {
        if (!renamed(newFile, aside))
            qCInfo(lcPrefs).noquote()
                << QStringLiteral("settings file too large to be ours, kept as %1: %2").arg(newFile, errnoText());
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return false;
    ::unlink(QFile::encodeName(aside).constData());
    if (::link(to.constData(), QFile::encodeName(aside).constData()) == 0)
        return renamed(newFile, file);
    // Nor hard links: for a moment the old file has only its second name.
    if (!renamed(file, aside))
        return false;
    if (renamed(newFile, file))
        return true;
    const int error = errno;
    renamed(aside, file);
    errno = error;
    return false;
}

// QSettings writes through QSaveFile, which in Qt 6.4 does not notice when the last write of its
// buffer fails (a full disk) and renames the truncated file into place all the same. So the new
// contents go to a file of their own beside `file` first and are read back under a name QSettings
// has never seen (it would answer from its cache otherwise). The name of that file once it holds
// every key; nothing, with the reason in `why`, otherwise.
std::optional<QString> writeCheckedContents(const QString &file, const QMap<QString, QVariant> &intended,
    const QList<QPair<QString, std::optional<QString>>> &pending, QString *why)
{
    const auto failed = [why](const QString &reason) {
        *why = reason;
        return std::nullopt;
    };
    QTemporaryFile scratch(file + QStringLiteral(".XXXXXX"));
    if (!scratch.open())
        return failed(QStringLiteral("cannot write in its folder: %1").arg(scratch.errorString()));
    scratch.close();
    const QString written = scratch.fileName();
    const QString checked = written + QStringLiteral(".checked");
    {
        QSettings out(written, QSettings::IniFormat);
        // Never written in place, always through a new file renamed into place.
        out.setAtomicSyncRequired(true);
        for (auto it = intended.cbegin(); it != intended.cend(); ++it)
            out.setValue(it.key(), it.value());
        out.sync();
        if (out.status() == QSettings::AccessError)
            return failed(QStringLiteral("the new contents could not be written"));
    }
    if (!renamed(written, checked))
        return failed(QStringLiteral("the new contents could not be checked: %1").arg(errnoText()));
    QSettings back(checked, QSettings::IniFormat);
    // Lines lost at the end of a truncated file take their keys with them.
    bool complete = back.status() == QSettings::NoError && back.allKeys().size() == intended.size();
    // Each key given as the last call left it: stored, or gone.
    for (const auto &change : pending) {
        const QString &key = change.first;
        complete = complete && (intended.contains(key) ? back.value(key) == intended.value(key) : !back.contains(key));
    }
    if (!complete) {
        QFile::remove(checked);
        return failed(QStringLiteral("the new contents did not reach the disk whole (is it full?)"));
    }
    return checked;
}

} // namespace

SaveResult UserDefaults::synchronize()
{
    const QList<QPair<QString, std::optional<QString>>> pending = std::exchange(m_pending, {});
    const QString path = fileName();
    const auto failed = [](const QString &why) { return SaveResult{false, why}; };

    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return failed(QStringLiteral("its folder %1 cannot be created").arg(QFileInfo(path).absolutePath()));
    const QString file = fileWrittenFor(path);
    if (file.isEmpty())
        return failed(QStringLiteral("its links lead round in a circle"));
    const QString folder = QFileInfo(file).absolutePath();
    if (!QFileInfo(folder).isDir())
        return failed(QStringLiteral("the folder %1 its link leads to does not exist").arg(folder));
    const QFileInfo existing(file);
    if (existing.exists() && !existing.isFile())
        return failed(QStringLiteral("it is not a regular file"));
    // The lock QSettings itself takes on this file, so that two writers never interleave.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(5000))
        return failed(QStringLiteral("another program holds its lock"));
    // Never read, so it cannot be merged; set aside once the new file is whole.
    const bool tooLarge = oversized(file);

    const auto read = intendedContents(path, !tooLarge, pending);
    if (!read)
        return failed(QStringLiteral("it cannot be read"));
    const QMap<QString, QVariant> &intended = *read;

    QString why;
    const std::optional<QString> checked = writeCheckedContents(file, intended, pending, &why);
    if (!checked)
        return failed(why);
    dateAfterReplaced(*checked, file);
    const QString aside = file + QStringLiteral(".too-large");
    if (tooLarge ? !replaceKeepingOld(*checked, file, aside) : !renamed(*checked, file)) {
        const QString error = errnoText();
        QFile::remove(*checked);
        return failed(QStringLiteral("the new contents could not replace it: %1").arg(error));
    }
    if (tooLarge)
        qCInfo(lcPrefs).noquote() << QStringLiteral("settings file too large to be ours, set aside as %1").arg(aside);
    // QSaveFile flushed the data before its rename; the renames are durable once the folder's
    // entries are on disk too.
    if (const QString error = flushFolder(folder); !error.isEmpty())
        return failed(QStringLiteral("written, but its folder could not be flushed to disk: %1").arg(error));
    return {true, {}};
}

} // namespace quillora::prefs
