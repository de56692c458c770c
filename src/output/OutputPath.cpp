// SPDX-License-Identifier: GPL-3.0-or-later
#include "OutputPath.h"

#include <QFile>

#include <sys/stat.h>

namespace quillora::output {

namespace {

const QString kLocalhostPrefix = QStringLiteral("file://localhost");

// "Taken" means anything at all at that path: a file, a folder, a device node, or a symbolic
// link, even one that points nowhere. lstat, not stat, so a dangling link counts too: writing
// through it would create a file somewhere else entirely.
bool somethingExistsAt(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace

QString prepareOutputFolder(const QString &folderText)
{
    QString folder = folderText;
    // Folders stored by older versions may still carry the URL form. The literal itself is
    // removed where it first appears: cutting its length off the front of the text instead
    // would turn "/x/file://localhost/y" into the relative "ost/y".
    const qsizetype at = folder.indexOf(kLocalhostPrefix);
    if (at >= 0)
        folder.remove(at, kLocalhostPrefix.size());
    // Nothing to append a separator to: a request without a folder is refused rather than
    // being written relative to whatever directory the process happens to run in.
    if (folder.isEmpty())
        return {};
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString numberedFileName(const QString &baseName, int number, const QString &extension)
{
    if (number <= 0)
        return baseName + extension;
    return baseName + QString::number(number) + extension;
}

QString makeOutputPath(const QString &folderText, const QString &baseName, const QString &extension, int collisionRow)
{
    const QString folder = prepareOutputFolder(folderText);
    if (folder.isEmpty())
        return {};
    const QString unnumbered = folder + numberedFileName(baseName, 0, extension);
    if (collisionRow != 1 || !somethingExistsAt(unnumbered))
        return unnumbered;
    // The search starts at 1 every time, so a gap left by a deleted file is filled first.
    for (int counter = 1; counter > 0; ++counter) {
        const QString candidate = folder + numberedFileName(baseName, counter, extension);
        if (!somethingExistsAt(candidate))
            return candidate;
    }
    return {}; // every number up to the counter's limit is taken
}

} // namespace quillora::output
