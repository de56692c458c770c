// Photos from several threads at once: every one gets its own complete file.
#include "PhotoCapture.h"
#include "PhotoTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <set>
#include <thread>
#include <vector>

using namespace quillora::output;

TEST(PhotoThreads, SimultaneousPhotosGetDistinctCompleteFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage frame = quillora::test::makeDocumentPage({320, 240});
    constexpr int kThreads = 4;
    constexpr int kPhotosEach = 3;
    std::vector<std::vector<QString>> written(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPhotosEach; ++i) {
                const OutputResult r
                    = writePhoto(frame, t % 4, PhotoSettings{0, 0, dir.path(), QStringLiteral("Quillora"), 1});
                if (r.ok())
                    written[size_t(t)].push_back(r.path);
            }
        });
    for (std::thread &t : threads)
        t.join();
    std::set<QString> paths;
    for (const auto &list : written) {
        EXPECT_EQ(list.size(), size_t(kPhotosEach));
        for (const QString &p : list) {
            paths.insert(p);
            EXPECT_FALSE(QImage(p).isNull()) << p.toStdString();
        }
    }
    EXPECT_EQ(paths.size(), size_t(kThreads * kPhotosEach));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), kThreads * kPhotosEach);
}
