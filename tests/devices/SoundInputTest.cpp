// The sound input against a real sound server: a private PulseAudio daemon with two silent
// sources and one output, whose default source the test sets.
#include "CaptureDevice.h"
#include "Devices.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Failures show the text, not its UTF-16 code units.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

using namespace quillora::capture;
using quillora::test::ScopedEnv;

namespace {

class SoundServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_server = "unix:" + (m_dir.path() + QStringLiteral("/native")).toUtf8();
        m_serverEnv = std::make_unique<ScopedEnv>("PULSE_SERVER", m_server);
        m_noMicrophone = std::make_unique<ScopedEnv>("QUILLORA_VIRTUAL_MICROPHONE", "");

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_dir.path() + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("PULSE_SERVER"), QString::fromUtf8(m_server));
        m_daemon.setProcessEnvironment(env);
        m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_daemon.start(QStringLiteral("pulseaudio"),
            {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                QStringLiteral("--use-pid-file=no"), QStringLiteral("--disable-shm=yes"),
                QStringLiteral("--log-level=error"), QStringLiteral("-L"),
                QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + m_dir.path()
                    + QStringLiteral("/native"),
                QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=speakers"), QStringLiteral("-L"),
                QStringLiteral("module-null-source source_name=first_mic"), QStringLiteral("-L"),
                QStringLiteral("module-null-source source_name=second_mic")});
        ASSERT_TRUE(m_daemon.waitForStarted(5000)) << "pulseaudio (scripts/install-deps) is needed";
        ASSERT_TRUE(
            quillora::test::waitUntil([this] { return pactl({QStringLiteral("info")}); }, std::chrono::seconds(10)));
    }

    void TearDown() override
    {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
    }

    bool pactl(const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PULSE_SERVER"), QString::fromUtf8(m_server));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("pactl"), args);
        return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    static QString defaultSource()
    {
        const auto input = defaultInputDeviceWithMediaType(MediaType::Sound);
        return input ? input->description().devicePath : QString();
    }

    QTemporaryDir m_dir;
    QByteArray m_server;
    std::unique_ptr<ScopedEnv> m_serverEnv;
    std::unique_ptr<ScopedEnv> m_noMicrophone;
    QProcess m_daemon;
};

} // namespace

TEST_F(SoundServer, TheSourceTheServerMarksAsDefaultIsTheSoundInput)
{
    // Whichever of the two the server calls default, never simply the first or the last.
    ASSERT_TRUE(pactl({QStringLiteral("set-default-source"), QStringLiteral("second_mic")}));
    EXPECT_EQ(defaultSource(), QStringLiteral("second_mic"));
    ASSERT_TRUE(pactl({QStringLiteral("set-default-source"), QStringLiteral("first_mic")}));
    EXPECT_EQ(defaultSource(), QStringLiteral("first_mic"));

    // What an output plays is no sound input, unless the user made it the default.
    std::vector<QString> names;
    for (const auto &source : listSoundSources())
        names.push_back(source.devicePath);
    EXPECT_EQ(std::count(names.begin(), names.end(), QStringLiteral("speakers.monitor")), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), QStringLiteral("first_mic")), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), QStringLiteral("second_mic")), 1);
    ASSERT_TRUE(pactl({QStringLiteral("set-default-source"), QStringLiteral("speakers.monitor")}));
    EXPECT_EQ(defaultSource(), QStringLiteral("speakers.monitor"));

    // The chosen source can be recorded from.
    QString error;
    EXPECT_TRUE(makeSoundSource(defaultInputDeviceWithMediaType(MediaType::Sound)->description(), &error))
        << error.toStdString();
}

TEST_F(SoundServer, TheVirtualMicrophoneComesFirstAsTheDefault)
{
    ASSERT_TRUE(pactl({QStringLiteral("set-default-source"), QStringLiteral("second_mic")}));
    ScopedEnv microphone("QUILLORA_VIRTUAL_MICROPHONE", "Test Tone");
    const auto input = defaultInputDeviceWithMediaType(MediaType::Sound);
    ASSERT_TRUE(input);
    EXPECT_EQ(input->localizedDisplayName(), QStringLiteral("Test Tone"));
    // The server's own sources are still listed behind it, none of them marked default.
    const auto sources = listSoundSources();
    ASSERT_GE(sources.size(), 3u);
    EXPECT_EQ(std::count_if(sources.begin(), sources.end(), [](const auto &s) { return s.isDefault; }), 1);
}
