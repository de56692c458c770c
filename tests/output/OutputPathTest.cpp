// The naming rule, in real temporary folders.
#include "OutputPath.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

using quillora::output::makeOutputPath;

namespace {

class OutputPathTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString folder() const { return dir.path(); } // no trailing "/"
    void touch(const QString &name)
    {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QTemporaryDir dir;
};

TEST_F(OutputPathTest, FolderTextGetsExactlyOneSeparatorAndLosesTheLocalhostLiteral)
{
    EXPECT_EQ(makeOutputPath(QStringLiteral("/Users/u/Desktop"), QStringLiteral("Quillora"), QStringLiteral(".jpg"), 0),
        QStringLiteral("/Users/u/Desktop/Quillora.jpg"));
    EXPECT_EQ(
        makeOutputPath(QStringLiteral("/Users/u/Desktop/"), QStringLiteral("Quillora"), QStringLiteral(".jpg"), 0),
        QStringLiteral("/Users/u/Desktop/Quillora.jpg"));
    EXPECT_EQ(makeOutputPath(QStringLiteral("file://localhost/Users/u/Pictures"), QStringLiteral("Quillora"),
                  QStringLiteral(".png"), 1),
        QStringLiteral("/Users/u/Pictures/Quillora.png"));
    // Elsewhere in the text only the literal goes, never the characters before it.
    EXPECT_EQ(makeOutputPath(QStringLiteral("/x/file://localhost/y"), QStringLiteral("a"), QStringLiteral(".mov"), 0),
        QStringLiteral("/x//y/a.mov"));
    // Nothing left of the folder: refused, so nothing is written relative to the working directory.
    EXPECT_TRUE(makeOutputPath(QString(), QStringLiteral("Quillora"), QStringLiteral(".jpg"), 1).isEmpty());
    EXPECT_TRUE(
        makeOutputPath(QStringLiteral("file://localhost"), QStringLiteral("Q"), QStringLiteral(".jpg"), 0).isEmpty());
    // The base name is used as typed, "/" included.
    EXPECT_EQ(makeOutputPath(QStringLiteral("/a"), QStringLiteral("b/c"), QStringLiteral(".gif"), 0),
        QStringLiteral("/a/b/c.gif"));
}

TEST_F(OutputPathTest, NumberingFillsGapsAndPrefersTheUnnumberedName)
{
    const QString base = folder() + QLatin1Char('/');
    auto name = [&](int row) {
        return makeOutputPath(folder(), QStringLiteral("Quillora"), QStringLiteral(".jpg"), row).mid(base.size());
    };
    touch(QStringLiteral("Quillora1.jpg"));
    EXPECT_EQ(name(1), QStringLiteral("Quillora.jpg")); // free, even with Quillora1.jpg present
    touch(QStringLiteral("Quillora.jpg"));
    touch(QStringLiteral("Quillora2.jpg"));
    touch(QStringLiteral("Quillora3.jpg"));
    EXPECT_EQ(name(1), QStringLiteral("Quillora4.jpg"));
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("Quillora2.jpg"))));
    EXPECT_EQ(name(1), QStringLiteral("Quillora2.jpg")); // the gap comes first
    // Replace, and every row but 1 (no selection included), keeps the unnumbered name.
    EXPECT_EQ(name(0), QStringLiteral("Quillora.jpg"));
    EXPECT_EQ(name(-1), QStringLiteral("Quillora.jpg"));
    EXPECT_EQ(name(2), QStringLiteral("Quillora.jpg"));
    // Numbers go on past 9 without leading zeros.
    for (int i = 2; i <= 10; ++i)
        touch(QStringLiteral("Quillora%1.jpg").arg(i));
    EXPECT_EQ(name(1), QStringLiteral("Quillora11.jpg"));
}

TEST_F(OutputPathTest, AnythingAtThePathIsTaken)
{
    const QString base = folder() + QLatin1Char('/');
    ASSERT_TRUE(QDir(folder()).mkdir(QStringLiteral("Quillora.mov")));
    EXPECT_EQ(makeOutputPath(folder(), QStringLiteral("Quillora"), QStringLiteral(".mov"), 1),
        base + QStringLiteral("Quillora1.mov"));
    // A link that points nowhere is still something at that path.
    ASSERT_EQ(
        ::symlink("/nonexistent/target", QFile::encodeName(base + QStringLiteral("Quillora1.mov")).constData()), 0);
    EXPECT_EQ(makeOutputPath(folder(), QStringLiteral("Quillora"), QStringLiteral(".mov"), 1),
        base + QStringLiteral("Quillora2.mov"));
    // A photo and a movie of the same base name never meet.
    EXPECT_EQ(makeOutputPath(folder(), QStringLiteral("Quillora"), QStringLiteral(".jpg"), 1),
        base + QStringLiteral("Quillora.jpg"));
}

TEST_F(OutputPathTest, EmptyBaseNameIsNumberedLikeAnyOther)
{
    const QString base = folder() + QLatin1Char('/');
    EXPECT_EQ(makeOutputPath(folder(), QString(), QStringLiteral(".jpg"), 1), base + QStringLiteral(".jpg"));
    touch(QStringLiteral(".jpg"));
    EXPECT_EQ(makeOutputPath(folder(), QString(), QStringLiteral(".jpg"), 1), base + QStringLiteral("1.jpg"));
    touch(QStringLiteral("1.jpg"));
    EXPECT_EQ(makeOutputPath(folder(), QString(), QStringLiteral(".jpg"), 1), base + QStringLiteral("2.jpg"));
}

TEST_F(OutputPathTest, OnlyTestsNames)
{
    makeOutputPath(folder(), QStringLiteral("Quillora"), QStringLiteral(".jpg"), 1);
    makeOutputPath(folder(), QStringLiteral("Quillora"), QStringLiteral(".jpg"), 0);
    EXPECT_TRUE(
        QDir(folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).isEmpty());
}

} // namespace
