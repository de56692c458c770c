#pragma once
// A settings home of its own for each test, in a temporary folder; HOME has a space and a
// non-ASCII letter, as real homes may have.
#include "SettingsMapping.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quillora::test {

class SettingsHome {
public:
    QString configHome() const { return m_dir.filePath("config"); }
    QString home() const { return m_dir.filePath("home of Zoë"); }
    QString storeFile() const { return configHome() + "/Quillora/quillora.conf"; }
    void writeStore(const QByteArray &contents) const
    {
        QDir().mkpath(configHome() + "/Quillora");
        QFile file(storeFile());
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    }
    QByteArray readStore() const
    {
        QFile file(storeFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // What the store gives for these keys (all ten by default) in a fresh process, joined by " | ".
    std::string fresh(QStringList keys = {}) const
    {
        if (keys.isEmpty())
            for (QLatin1StringView key : prefs::kSettingsKeys)
                keys << QString(key);
        QProcess probe;
        probe.start(QUILLORA_STORE_PROBE, keys);
        EXPECT_TRUE(probe.waitForFinished(20000) && probe.exitCode() == 0);
        return probe.readAllStandardOutput().toStdString();
    }

private:
    QTemporaryDir m_dir;
    ScopedEnv m_xdg{"XDG_CONFIG_HOME", QFile::encodeName(configHome())};
    ScopedEnv m_home{"HOME", QFile::encodeName(home())};
};

} // namespace quillora::test
