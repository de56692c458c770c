// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writing one output file safely: the content goes to a temporary file in the target folder,
// which is then moved into place under the name the naming rule gives. A failed write leaves
// neither a partial file nor a damaged older one, and under the numbering rule a name taken
// by someone else in the meantime is never overwritten.
#include <QString>

#include <functional>

class QIODevice;

namespace quillora::output {

struct OutputTarget {
    QString folderText;   // as the folder control gives it
    QString baseName;     // as typed
    QString extension;    // dot included
    int collisionRow = 0; // 1 numbers, anything else replaces
};

// Why a file was not written, as a value the window can put in plain words (the error text
// carries the details for the log).
enum class WriteFault {
    None,
    NoFolder,      // no folder is set
    FolderMissing, // the folder does not exist
    NotWritable,   // the folder (or the file's name) cannot be written
    DiskFull,      // no space left
    NoFreeName,    // every numbered name is taken
    BadSettings,   // no such format
    NoPicture,     // the camera's picture cannot be read (it arrived damaged)
    Other,
};

// The kind of an errno from creating, writing or placing a file.
WriteFault writeFaultForErrno(int error);

struct OutputResult {
    QString path;  // the file written, when it was
    QString error; // why nothing was written
    WriteFault fault = WriteFault::None;
    bool ok() const { return error.isEmpty() && !path.isEmpty(); }
};

// Writes the content into the device; false (with *error set) when it could not.
using ContentWriter = std::function<bool(QIODevice &device, QString *error)>;
// Says, once the content is on the disk and before it is put in place, whether it is to be
// kept after all; false (with *error set) when not. A check that runs beside the writing (it
// may wait for it here) costs no time of its own.
using Confirmation = std::function<bool(QString *error)>;

OutputResult writeOutputFile(
    const OutputTarget &target, const ContentWriter &writeContent, const Confirmation &confirm = {});

// Moving a finished file to its name without ever replacing what is there: done, the name was
// taken (nothing moved), or failed (with the errno in *error).
enum class Placed { Done, Taken, Failed };
Placed placeWithoutReplacing(const QString &from, const QString &to, int *error);

// For tests only: called with the chosen name just before the file is moved there, so a test
// can take the name in between as another program might. Production code never sets it.
void setBeforePlacingHookForTesting(void (*hook)(const QString &path));

} // namespace quillora::output
