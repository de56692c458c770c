// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Output file naming, shared by photos and movies.
#include <QString>

namespace quillora::output {

// The full path for a new photo or movie: the folder text (a "file://localhost" prefix
// dropped, a "/" appended when missing), then the base name, then, under the numbering rule
// (collisionRow 1) when something already exists at the unnumbered name, the first free
// number, then the extension. Only tests names; creates nothing.
// An empty folder text gives an empty result: the caller writes nothing.
QString makeOutputPath(const QString &folderText, const QString &baseName, const QString &extension, int collisionRow);

// The folder part of makeOutputPath's result (steps shared with callers that reserve names
// themselves): the "file://localhost" literal dropped, a trailing "/" ensured; empty when
// nothing is left.
QString prepareOutputFolder(const QString &folderText);

// base name + number + extension; number 0 (or less) gives the unnumbered name.
QString numberedFileName(const QString &baseName, int number, const QString &extension);

} // namespace quillora::output
