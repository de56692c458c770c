#pragma once
// A settings home of its own for each test: XDG_CONFIG_HOME and HOME point into a temporary
// folder (HOME with a space and a non-ASCII letter in it, as real homes may have).
#include "TestSupport.h"

#include <QJsonObject>
#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace quillora::test {

class SettingsHome {
public:
    SettingsHome();

    QString configHome() const { return m_configHome; }
    QString home() const { return m_home; }
    // $XDG_CONFIG_HOME/Quillora/quillora.conf
    QString storeFile() const;

    void writeStore(const QByteArray &contents) const;
    QByteArray readStore() const;

    // What the store gives for these keys in a fresh process (null for nothing).
    QJsonObject readInFreshProcess(const QStringList &keys) const;

private:
    QTemporaryDir m_dir;
    QString m_configHome;
    QString m_home;
    std::unique_ptr<ScopedEnv> m_xdg;
    std::unique_ptr<ScopedEnv> m_homeEnv;
};

// Collects the messages of the "quillora.prefs" category while it exists.
class PrefsLogCapture {
public:
    PrefsLogCapture();
    ~PrefsLogCapture();
    struct Entry {
        QtMsgType type;
        QString text;
    };
    QList<Entry> entries() const;
    bool hasWarningContaining(const QString &text) const;
};

} // namespace quillora::test
