#pragma once
// Output file naming, shared by photos and movies.
#include <QString>

namespace quillora::output {

// The full path for a new photo or movie: the folder text (a "file://localhost" prefix
// dropped, a "/" appended when missing), then the base name, then, under the numbering rule
// (collisionRow 1) when something already exists at the unnumbered name, the first free
// number, then the extension. Only tests names; creates nothing.
QString makeOutputPath(const QString &folderText, const QString &baseName, const QString &extension,
                       int collisionRow);

} // namespace quillora::output
