// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The files of one movie. A recording is written under a name of its own beside the name the
// naming rule gives, a name that says it is not finished ("Quillora (unfinished).mov" for
// "Quillora.mov"), and takes the rule's name only once the movie is complete, in one rename. So a
// recording that fails, or a program killed while recording, never touches the movie it was to
// replace, and what it recorded stays a movie that plays, under the unfinished name.
//
// Every name is claimed with an exclusive create. Under the numbering rule the rule's name is
// held from the start by an empty file of ours, so that nobody else's file is ever overwritten:
// a file written there meanwhile stays, and the movie takes the next free number instead.
#include "OutputFile.h"

#include <cstdint>

namespace quillora::output {

// Which file a name stood for when we made it, so that only our own files are ever replaced or
// removed.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

struct ReservedMovie {
    OutputTarget target;
    QString finalPath;     // the name the rule gave
    QString recordingPath; // the unfinished name the recording is written under
    FileIdentity recordingFile;
    bool holdsFinalName = false; // numbering rule: an empty file of ours holds finalPath
    FileIdentity placeholder;
};

struct MovieReservation {
    ReservedMovie movie;
    QString error; // why the names could not be claimed; nothing was claimed then
    WriteFault fault = WriteFault::None;
    bool ok() const { return error.isEmpty(); }
};

// Claims the names for a movie of `target`: the unfinished name the recording is written under
// and, under the numbering rule, the rule's name. Nothing is claimed when it fails.
MovieReservation reserveMovieFiles(const OutputTarget &target);

// The unfinished name for a movie whose finished name is `finalPath` with `extension`: the name
// without its extension, then " (unfinished)" (" (unfinished 2)" and so on for `attempt` 2 and
// later), then the extension.
QString unfinishedMovieName(const QString &finalPath, const QString &extension, int attempt = 1);

// Where a movie is once its recording has ended.
struct PlacedMovie {
    QString path;          // the movie's file; empty when nothing was recorded
    bool finished = false; // under the name the rule gave (or the next free number)
    QString error;         // why a complete movie could not take its name
    WriteFault fault = WriteFault::None;
};

// The recording has ended. A `complete` movie (its end reached the file) takes its name: under
// the replace rule in place of the file there, under the numbering rule in place of our own
// empty file, or the next free number when someone else's file is there now. An incomplete one
// keeps its unfinished name, the old file untouched. One without `pictures` is removed, with the
// names it held.
PlacedMovie placeRecordedMovie(const ReservedMovie &movie, bool complete, bool pictures);

// Gives back the names of a recording that never started: our own empty files are removed.
void releaseMovieFiles(const ReservedMovie &movie);

} // namespace quillora::output
