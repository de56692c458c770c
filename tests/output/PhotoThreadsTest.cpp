// SPDX-License-Identifier: GPL-3.0-or-later
// Photos from several threads at once: every one gets its own complete file.
#include "PhotoCapture.h"
#include "TestPage.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSet>
#include <QTemporaryDir>

#include <mutex>
#include <thread>
#include <vector>

using namespace quillora::output;

TEST(PhotoThreads, SimultaneousPhotosGetDistinctCompleteFiles)
{
    QTemporaryDir dir;
    const QImage frame = quillora::test::documentPage({320, 240});
    std::mutex mutex; // guards written
    QStringList written;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < 3; ++i) {
                    const QString path
                        = writePhoto(frame, t, PhotoSettings{0, 0, dir.path(), QStringLiteral("Quillora"), 1}).path;
                    std::lock_guard lock(mutex);
                    written << path;
                }
            });
    }
    EXPECT_EQ(QSet<QString>(written.begin(), written.end()).size(), 12);
    for (const QString &path : written)
        EXPECT_FALSE(QImage(path).isNull()) << path.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 12);
}
