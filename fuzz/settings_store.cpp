// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file, as a user or another program may have left it: the bytes of
// $XDG_CONFIG_HOME/Quillora/quillora.conf. Every input goes through what start-up does with it
// (every key read, every text mapped to its control's state, the picture controls' values of a
// camera read), then through what confirming the preferences and setting a picture control do
// (the texts and a value stored, the file rewritten and checked).
//
// Writes, renames and flushes a file per input: run it on a memory file system (the scratch
// folder is under /dev/shm).
#include "FuzzSupport.h"

#include "CameraControlStore.h"
#include "SettingsMapping.h"
#include "UserDefaults.h"

#include <QFile>
#include <QSettings>

using namespace quillora;

namespace {

std::string gScratch;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietQt();
    gScratch = fuzz::scratchDir("settings");
    fuzz::application();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A folder of its own for every input: QSettings keeps parsed files by name, and a file
    // replaced within the same instant with the same size would be answered from that cache.
    static unsigned long long run = 0;
    const QString home = QString::fromStdString(gScratch) + QStringLiteral("/%1").arg(++run);
    qputenv("XDG_CONFIG_HOME", home.toUtf8());
    const QString path = prefs::UserDefaults::fileName();
    fuzz::check(path.startsWith(home), "the store is not where XDG_CONFIG_HOME says");
    QDir().mkpath(home + QStringLiteral("/Quillora"));
    {
        QFile file(path);
        fuzz::check(file.open(QIODevice::WriteOnly), "cannot write the settings file");
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }

    prefs::UserDefaults store;
    store.registerDefaults(prefs::registeredDefaults());
    std::optional<QString> text[prefs::kSettingsKeys.size()];
    for (std::size_t i = 0; i < prefs::kSettingsKeys.size(); ++i)
        text[i] = store.stringForKey(prefs::kSettingsKeys[i]);

    // Start-up: every text gives a state the control has.
    const int videoSize = prefs::videoSizeIndexForText(text[0]);
    const bool sound = prefs::captureAudioForText(text[1]);
    const auto videoFolder = prefs::locationForText(text[2]);
    const QString videoName = prefs::fileNameForText(text[3]);
    const int videoOverwrite = prefs::overwriteRowForText(text[4]);
    const int photoSize = prefs::photoSizeIndexForText(text[5]);
    const int photoFormat = prefs::photoFormatIndexForText(text[6]);
    const auto photoFolder = prefs::locationForText(text[7]);
    const QString photoName = prefs::fileNameForText(text[8]);
    const int photoOverwrite = prefs::overwriteRowForText(text[9]);
    fuzz::check(videoSize >= 0 && videoSize <= 2 && photoSize >= 0 && photoSize <= 4 && photoFormat >= 0
            && photoFormat <= 3 && (videoOverwrite == 0 || videoOverwrite == 1)
            && (photoOverwrite == 0 || photoOverwrite == 1),
        "a stored text maps to no state of its control");
    // A folder is absolute, and its stored text reads back as the same folder.
    for (const auto &folder : {videoFolder, photoFolder}) {
        if (!folder)
            continue;
        fuzz::check(folder->path().startsWith(QLatin1Char('/')), "a relative folder");
        fuzz::check(
            prefs::locationForText(prefs::textForLocation(*folder)) == folder, "a folder that does not read back");
    }

    // Confirming the panel: the controls' texts are stored, and a save that reports success holds
    // exactly them.
    const QUrl desktop = prefs::locationForBarePath(QStringLiteral("/home/user/Desktop/"));
    const QString written[] = {prefs::textForVideoSizeIndex(videoSize), prefs::textForCaptureAudio(sound),
        prefs::textForLocation(videoFolder.value_or(desktop)), videoName, prefs::textForOverwriteRow(videoOverwrite),
        prefs::textForPhotoSizeIndex(photoSize), prefs::textForPhotoFormatIndex(photoFormat),
        prefs::textForLocation(photoFolder.value_or(desktop)), photoName, prefs::textForOverwriteRow(photoOverwrite)};
    for (std::size_t i = 0; i < prefs::kSettingsKeys.size(); ++i)
        store.setValue(written[i], prefs::kSettingsKeys[i]);
    // A camera's remembered picture controls: whatever the group holds, what is read is a 32-bit
    // value, and a value set is saved beside the ten settings.
    const QString camera = QStringLiteral("/dev/video0 (Desk) %");
    prefs::CameraControlStore controls(store);
    for (const auto &[id, value] : controls.valuesFor(QStringLiteral("virtual-0")))
        fuzz::check(value >= INT32_MIN && value <= INT32_MAX, "a remembered value beyond 32 bits");
    controls.setValue(camera, 0x00980900, -40);
    // Whatever the file held, the settings can be saved over it: a file that could never be
    // saved again would lose every later change.
    fuzz::check(store.synchronize().saved, "the settings cannot be saved over this file");
    prefs::UserDefaults reread;
    fuzz::check(prefs::CameraControlStore(reread).valuesFor(camera).count(0x00980900)
            && prefs::CameraControlStore(reread).valuesFor(camera).at(0x00980900) == -40,
        "a remembered picture control reads back changed");
    for (std::size_t i = 0; i < prefs::kSettingsKeys.size(); ++i) {
        const auto back = reread.stringForKey(prefs::kSettingsKeys[i]);
        if (back != written[i]) {
            std::fprintf(stderr, "%s: wrote \"%s\", read back %s%s%s\n", qPrintable(QString(prefs::kSettingsKeys[i])),
                qPrintable(written[i]), back ? "\"" : "", back ? qPrintable(*back) : "nothing", back ? "\"" : "");
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                std::fprintf(stderr, "the file:\n%s\n", file.readAll().constData());
            fuzz::fail("a saved text reads back changed");
        }
    }
    QDir(home).removeRecursively();
    return 0;
}
