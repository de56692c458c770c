// SPDX-License-Identifier: GPL-3.0-or-later
#include "MovieFile.h"

#include "OutputPath.h"
#include "UniqueFd.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace quillora::output {

namespace {

// Names tried before giving up: someone creating names as fast as we try them.
constexpr int kMostAttempts = 1000;

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString errnoText(const char *what, int error)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(error)));
}

// An empty file at `path`, made only if nothing at all is there (O_EXCL also refuses a link);
// mode 0666 so the umask decides, as for any new file. Its identity, or nothing with the errno.
std::optional<FileIdentity> createExclusive(const QString &path, int *error)
{
    UniqueFd fd(::open(encoded(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd) {
        *error = errno;
        return std::nullopt;
    }
    struct stat st { };
    if (::fstat(fd.get(), &st) != 0) {
        *error = errno;
        ::unlink(encoded(path).constData());
        return std::nullopt;
    }
    return FileIdentity{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

// Whether `path` is still the file we made (and, when asked, still empty): a file someone else
// put there, or wrote into, is theirs.
bool isOurs(const QString &path, const FileIdentity &id, bool empty)
{
    struct stat st { };
    return !path.isEmpty() && ::lstat(encoded(path).constData(), &st) == 0 && S_ISREG(st.st_mode)
        && FileIdentity{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)} == id && (!empty || st.st_size == 0);
}

void removeIfOurs(const QString &path, const FileIdentity &id, bool empty)
{
    if (isOurs(path, id, empty))
        ::unlink(encoded(path).constData());
}

// The movie's data on the disk before a name points at it: a crash right after the rename must
// not leave, in place of the old movie, one whose blocks never got there. 0 or the errno.
int syncToDisk(const QString &path)
{
    UniqueFd fd(::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return errno;
    return ::fdatasync(fd.get()) == 0 ? 0 : errno;
}

// Under the numbering rule: the name the rule gives now, held by an empty file of ours.
bool holdFinalName(ReservedMovie &movie, int *error)
{
    const OutputTarget &t = movie.target;
    for (int attempt = 0; attempt < kMostAttempts; ++attempt) {
        const QString path = makeOutputPath(t.folderText, t.baseName, t.extension, 1);
        if (path.isEmpty())
            break;
        if (const auto id = createExclusive(path, error)) {
            movie.finalPath = path;
            movie.placeholder = *id;
            movie.holdsFinalName = true;
            return true;
        }
        if (*error != EEXIST)
            return false;
    }
    *error = 0;
    return false;
}

// A complete movie under the numbering rule: the name held for it when that is still ours, else
// the next free number; never in place of anyone else's file.
void placeNumbered(const ReservedMovie &movie, bool nameFreed, PlacedMovie &placed)
{
    const OutputTarget &t = movie.target;
    for (int attempt = 0; attempt < kMostAttempts; ++attempt) {
        const QString path
            = attempt == 0 && nameFreed ? movie.finalPath : makeOutputPath(t.folderText, t.baseName, t.extension, 1);
        if (path.isEmpty())
            break;
        int error = 0;
        switch (placeWithoutReplacing(movie.recordingPath, path, &error)) {
        case Placed::Done:
            placed.path = path;
            placed.finished = true;
            return;
        case Placed::Taken:
            continue;
        case Placed::Failed:
            placed.fault = writeFaultForErrno(error);
            placed.error = errnoText("cannot give the movie its name", error);
            return;
        }
    }
    placed.fault = WriteFault::NoFreeName;
    placed.error = QStringLiteral("no free name for the movie");
}

} // namespace

QString unfinishedMovieName(const QString &finalPath, const QString &extension, int attempt)
{
    const QString stem = finalPath.endsWith(extension) ? finalPath.chopped(extension.size()) : finalPath;
    const QString mark = attempt <= 1 ? QStringLiteral("(unfinished)") : QStringLiteral("(unfinished %1)").arg(attempt);
    // An empty base name leaves the mark alone, without a blank before it.
    return stem + (stem.endsWith(QLatin1Char('/')) ? mark : QLatin1Char(' ') + mark) + extension;
}

MovieReservation reserveMovieFiles(const OutputTarget &target)
{
    MovieReservation result;
    result.movie.target = target;
    const auto fail = [&result](WriteFault fault, const QString &error) {
        releaseMovieFiles(result.movie);
        result.movie = ReservedMovie{};
        result.fault = fault;
        result.error = error;
        return result;
    };
    if (prepareOutputFolder(target.folderText).isEmpty())
        return fail(WriteFault::NoFolder, QStringLiteral("no movie folder is set"));
    ReservedMovie &movie = result.movie;
    int error = 0;
    if (target.collisionRow == 1) {
        if (!holdFinalName(movie, &error))
            return error ? fail(writeFaultForErrno(error), errnoText("cannot create the movie", error))
                         : fail(WriteFault::NoFreeName, QStringLiteral("no free name for the movie"));
    } else {
        movie.finalPath = makeOutputPath(target.folderText, target.baseName, target.extension, target.collisionRow);
        // Found out now rather than after the whole recording: a folder cannot be replaced.
        struct stat st { };
        if (::stat(encoded(movie.finalPath).constData(), &st) == 0 && S_ISDIR(st.st_mode))
            return fail(WriteFault::NotWritable, QStringLiteral("a folder has the movie's name"));
    }
    for (int attempt = 1; attempt <= kMostAttempts; ++attempt) {
        const QString path = unfinishedMovieName(movie.finalPath, target.extension, attempt);
        if (const auto id = createExclusive(path, &error)) {
            movie.recordingPath = path;
            movie.recordingFile = *id;
            return result;
        }
        if (error != EEXIST)
            return fail(writeFaultForErrno(error), errnoText("cannot create the movie", error));
    }
    return fail(WriteFault::NoFreeName, QStringLiteral("no free name for the unfinished movie"));
}

PlacedMovie placeRecordedMovie(const ReservedMovie &movie, bool complete, bool pictures)
{
    PlacedMovie placed;
    struct stat st { };
    if (!pictures || ::stat(encoded(movie.recordingPath).constData(), &st) != 0 || st.st_size == 0) {
        // Nothing worth keeping: the names go back; a file written into the held name stays.
        removeIfOurs(movie.recordingPath, movie.recordingFile, false);
        releaseMovieFiles(movie);
        return placed;
    }
    // The name held under the numbering rule: still our empty file, it is ours to take now or
    // to give back.
    const bool nameFreed = movie.holdsFinalName && isOurs(movie.finalPath, movie.placeholder, true)
        && ::unlink(encoded(movie.finalPath).constData()) == 0;
    placed.path = movie.recordingPath;
    if (!complete)
        return placed;
    if (const int error = syncToDisk(movie.recordingPath)) {
        placed.fault = writeFaultForErrno(error);
        placed.error = errnoText("the movie did not reach the disk whole", error);
        return placed;
    }
    if (movie.holdsFinalName) {
        placeNumbered(movie, nameFreed, placed);
        return placed;
    }
    // The replace rule: the old file gives way only now, in one step.
    if (::rename(encoded(movie.recordingPath).constData(), encoded(movie.finalPath).constData()) == 0) {
        placed.path = movie.finalPath;
        placed.finished = true;
    } else {
        const int error = errno;
        placed.fault = writeFaultForErrno(error);
        placed.error = errnoText("cannot give the movie its name", error);
    }
    return placed;
}

void releaseMovieFiles(const ReservedMovie &movie)
{
    removeIfOurs(movie.recordingPath, movie.recordingFile, true);
    if (movie.holdsFinalName)
        removeIfOurs(movie.finalPath, movie.placeholder, true);
}

} // namespace quillora::output
