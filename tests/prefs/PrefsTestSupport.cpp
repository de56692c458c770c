#include "PrefsTestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>

#include <gtest/gtest.h>

namespace quillora::test {

SettingsHome::SettingsHome()
{
    EXPECT_TRUE(m_dir.isValid());
    m_configHome = m_dir.filePath(QStringLiteral("config"));
    m_home = m_dir.filePath(QStringLiteral("home of Zoë"));
    QDir().mkpath(m_configHome);
    QDir().mkpath(m_home);
    m_xdg = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", QFile::encodeName(m_configHome));
    m_homeEnv = std::make_unique<ScopedEnv>("HOME", QFile::encodeName(m_home));
}

QString SettingsHome::storeFile() const
{
    return m_configHome + QStringLiteral("/Quillora/quillora.conf");
}

void SettingsHome::writeStore(const QByteArray &contents) const
{
    QDir().mkpath(m_configHome + QStringLiteral("/Quillora"));
    QFile file(storeFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(contents), contents.size());
}

QByteArray SettingsHome::readStore() const
{
    QFile file(storeFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QJsonObject SettingsHome::readInFreshProcess(const QStringList &keys) const
{
    QProcess probe;
    probe.start(QStringLiteral(QUILLORA_STORE_PROBE), keys);
    EXPECT_TRUE(probe.waitForFinished(20000));
    EXPECT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().constData();
    return QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
}

namespace {

QList<PrefsLogCapture::Entry> *gEntries = nullptr; // main thread only, like the settings
QtMessageHandler gPrevious = nullptr;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (gEntries && context.category && QByteArray(context.category) == "quillora.prefs")
        gEntries->append({type, message});
    if (gPrevious)
        gPrevious(type, context, message);
}

} // namespace

PrefsLogCapture::PrefsLogCapture()
{
    gEntries = new QList<Entry>;
    gPrevious = qInstallMessageHandler(capture);
}

PrefsLogCapture::~PrefsLogCapture()
{
    qInstallMessageHandler(gPrevious);
    delete gEntries;
    gEntries = nullptr;
}

QList<PrefsLogCapture::Entry> PrefsLogCapture::entries() const
{
    return *gEntries;
}

bool PrefsLogCapture::hasWarningContaining(const QString &text) const
{
    for (const Entry &entry : *gEntries) {
        if (entry.type == QtWarningMsg && entry.text.contains(text))
            return true;
    }
    return false;
}

} // namespace quillora::test
