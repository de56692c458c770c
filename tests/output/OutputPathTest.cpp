// SPDX-License-Identifier: GPL-3.0-or-later
// The naming rule, in real temporary folders.
#include "OutputPath.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

using quillora::output::makeOutputPath;

// The folder text: one separator, the "file://localhost" literal dropped (only it), an empty
// folder refused; the base name used as typed, "/" included.
TEST(OutputPath, AFolderTextIsReadOnceAndTheBaseNameAsTyped)
{
    const struct {
        const char *folder, *base;
        const char *expected;
    } cases[] = {
        {"/Users/u/Desktop", "Quillora", "/Users/u/Desktop/Quillora.jpg"},
        {"/Users/u/Desktop/", "Quillora", "/Users/u/Desktop/Quillora.jpg"},
        {"file://localhost/Users/u/Pictures", "Quillora", "/Users/u/Pictures/Quillora.jpg"},
        {"/x/file://localhost/y", "a", "/x//y/a.jpg"},
        {"/a", "b/c", "/a/b/c.jpg"},
        {"", "Quillora", ""},
        {"file://localhost", "Q", ""},
    };
    for (const auto &k : cases)
        EXPECT_EQ(makeOutputPath(QString::fromUtf8(k.folder), QString::fromUtf8(k.base), QStringLiteral(".jpg"), 1),
            QString::fromUtf8(k.expected))
            << k.folder;
}

// Numbering (row 1 only) prefers the plain name, fills gaps, goes past 9 without zeros; only
// names are given, nothing is created. Anything at the path is taken (a folder, a dangling
// link); photos and movies of one base name never meet.
TEST(OutputPath, NumberingFillsGapsAndSkipsAnythingAtThePath)
{
    QTemporaryDir dir;
    const auto name = [&](const QString &base, const char *extension = ".jpg", int row = 1) {
        return makeOutputPath(dir.path(), base, QString::fromUtf8(extension), row).mid(dir.path().size() + 1);
    };
    const auto touch = [&](const QString &file) { EXPECT_TRUE(QFile(dir.filePath(file)).open(QIODevice::WriteOnly)); };
    const QString q = QStringLiteral("Quillora");
    touch(QStringLiteral("Quillora1.jpg"));
    EXPECT_EQ(name(q), QStringLiteral("Quillora.jpg"));
    for (const char *file : {"Quillora.jpg", "Quillora2.jpg", "Quillora3.jpg"})
        touch(QString::fromUtf8(file));
    EXPECT_EQ(name(q), QStringLiteral("Quillora4.jpg"));
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("Quillora2.jpg"))));
    EXPECT_EQ(name(q), QStringLiteral("Quillora2.jpg"));
    for (int row : {0, -1, 2})
        EXPECT_EQ(name(q, ".jpg", row), QStringLiteral("Quillora.jpg")) << row;
    for (int i = 2; i <= 10; ++i)
        touch(QStringLiteral("Quillora%1.jpg").arg(i));
    EXPECT_EQ(name(q), QStringLiteral("Quillora11.jpg"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 11);

    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Quillora.mov")));
    EXPECT_EQ(name(q, ".mov"), QStringLiteral("Quillora1.mov"));
    ASSERT_EQ(
        ::symlink("/nonexistent", QFile::encodeName(dir.filePath(QStringLiteral("Quillora1.mov"))).constData()), 0);
    EXPECT_EQ(name(q, ".mov"), QStringLiteral("Quillora2.mov"));
}
