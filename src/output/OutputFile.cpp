// SPDX-License-Identifier: GPL-3.0-or-later
#include "OutputFile.h"

#include "OutputPath.h"
#include "UniqueFd.h"

#include <QFile>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quillora::output {

namespace {

QString errnoText(const char *what, int error)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(error)));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// A fresh file beside the final one, so the final step is a rename within one folder. Created
// with O_EXCL under a random name; mode 0666 so the umask decides, as for any new file.
UniqueFd createTemporary(const QString &folder, QString *tempPath, QString *error, WriteFault *fault)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        const QString candidate = folder
            + QStringLiteral(".quillora-%1.part")
                  .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        UniqueFd fd(::open(encoded(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd) {
            *tempPath = candidate;
            return fd;
        }
        if (errno != EEXIST) {
            *fault = writeFaultForErrno(errno);
            *error = errnoText("cannot create a file in the folder", errno);
            return {};
        }
    }
    *error = QStringLiteral("cannot create a file in the folder: no free temporary name");
    *fault = WriteFault::NoFreeName;
    return {};
}

// Why writing the content failed. Qt reports a failed write on a full disk as a resource
// error; a write the kernel only took part of (the disk filled up in the middle) sets no
// error at all, so then the space left on the file's disk decides.
WriteFault failedWriteFault(const QFile &file, int fd)
{
    if (file.error() == QFileDevice::ResourceError)
        return WriteFault::DiskFull;
    struct statvfs disk { };
    constexpr unsigned long long kNearlyFull = 1024 * 1024;
    if (::fstatvfs(fd, &disk) == 0 && (unsigned long long)disk.f_bavail * disk.f_frsize < kNearlyFull)
        return WriteFault::DiskFull;
    return WriteFault::Other;
}

std::atomic<void (*)(const QString &)> gBeforePlacingHook{nullptr};

void beforePlacing(const QString &path)
{
    if (auto hook = gBeforePlacingHook.load())
        hook(path);
}

} // namespace

// Moves the finished file to `path` unless something is there already.
Placed placeWithoutReplacing(const QString &tempPath, const QString &path, int *error)
{
    const QByteArray from = encoded(tempPath);
    const QByteArray to = encoded(path);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return Placed::Done;
    if (errno == EEXIST)
        return Placed::Taken;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        *error = errno;
        return Placed::Failed;
    }
    // File systems without the no-replace rename: a hard link never replaces either.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return Placed::Done;
    }
    if (errno == EEXIST)
        return Placed::Taken;
    if (errno != EPERM && errno != EOPNOTSUPP) {
        *error = errno;
        return Placed::Failed;
    }
    // Nor hard links (FAT, some FUSE file systems): claim the name exclusively, then move the
    // content over the claim.
    UniqueFd claim(::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!claim) {
        if (errno == EEXIST)
            return Placed::Taken;
        *error = errno;
        return Placed::Failed;
    }
    claim.close();
    if (::rename(from.constData(), to.constData()) == 0)
        return Placed::Done;
    *error = errno;
    ::unlink(to.constData());
    return Placed::Failed;
}

namespace {

// Writes the content into the open temporary file and puts it on the disk; on failure says
// why in `result`.
bool writeAndSync(UniqueFd &fd, const ContentWriter &writeContent, OutputResult &result)
{
    {
        QFile file;
        if (!file.open(fd.get(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            result.error = file.errorString();
            result.fault = WriteFault::Other;
            return false;
        }
        QString writeError;
        const bool written = writeContent(file, &writeError);
        const bool flushed = file.flush();
        if (!written || !flushed || file.error() != QFileDevice::NoError) {
            result.error = !writeError.isEmpty() ? writeError : file.errorString();
            if (result.error.isEmpty())
                result.error = QStringLiteral("write failed");
            result.fault = failedWriteFault(file, fd.get());
            return false;
        }
    }
    // The content must be on the disk before the name points at it, or a crash right after
    // the rename could leave an empty file where the old one was.
    if (::fdatasync(fd.get()) != 0) {
        result.fault = writeFaultForErrno(errno);
        result.error = errnoText("cannot write the file", errno);
        return false;
    }
    if (fd.close() != 0) {
        result.fault = writeFaultForErrno(errno);
        result.error = errnoText("cannot write the file", errno);
        return false;
    }
    return true;
}

} // namespace

WriteFault writeFaultForErrno(int error)
{
    switch (error) {
    case 0:
        return WriteFault::None;
    case ENOENT:
    case ENOTDIR:
        return WriteFault::FolderMissing;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return WriteFault::NotWritable;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return WriteFault::DiskFull;
    default:
        return WriteFault::Other;
    }
}

void setBeforePlacingHookForTesting(void (*hook)(const QString &path))
{
    gBeforePlacingHook = hook;
}

OutputResult writeOutputFile(const OutputTarget &target, const ContentWriter &writeContent, const Confirmation &confirm)
{
    OutputResult result;
    const QString folder = prepareOutputFolder(target.folderText);
    if (folder.isEmpty()) {
        result.error = QStringLiteral("no folder");
        result.fault = WriteFault::NoFolder;
        return result;
    }
    QString tempPath;
    UniqueFd fd = createTemporary(folder, &tempPath, &result.error, &result.fault);
    if (!fd)
        return result;
    // From here on every way out but success removes the temporary file.
    struct TempGuard {
        QByteArray path;
        bool keep = false;
        ~TempGuard()
        {
            if (!keep)
                ::unlink(path.constData());
        }
    } guard{encoded(tempPath)};

    if (!writeAndSync(fd, writeContent, result))
        return result;
    if (confirm && !confirm(&result.error)) {
        result.fault = WriteFault::Other;
        return result;
    }

    if (target.collisionRow != 1) {
        const QString path = makeOutputPath(target.folderText, target.baseName, target.extension, target.collisionRow);
        beforePlacing(path);
        if (::rename(guard.path.constData(), encoded(path).constData()) != 0) {
            result.fault = writeFaultForErrno(errno);
            result.error = errnoText("cannot put the file in place", errno);
            return result;
        }
        guard.keep = true;
        result.path = path;
        return result;
    }

    // Numbering: the name found free may be taken before the file gets there. The move never
    // replaces, and a name that turns out to be taken sends the search on to the next number.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString path = makeOutputPath(target.folderText, target.baseName, target.extension, 1);
        if (path.isEmpty())
            break;
        beforePlacing(path);
        int error = 0;
        switch (placeWithoutReplacing(tempPath, path, &error)) {
        case Placed::Done:
            guard.keep = true;
            result.path = path;
            return result;
        case Placed::Taken:
            continue;
        case Placed::Failed:
            result.fault = writeFaultForErrno(error);
            result.error = errnoText("cannot put the file in place", error);
            return result;
        }
    }
    result.error = QStringLiteral("no free name");
    result.fault = WriteFault::NoFreeName;
    return result;
}

} // namespace quillora::output
