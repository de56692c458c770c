// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The user-defaults store: short texts under keys, kept between runs in the INI file
// $XDG_CONFIG_HOME/Quillora/quillora.conf, keys at top level. Defaults registered in a run
// answer for keys that hold no stored value, in that run only; they are never written.
//
// Main thread only, like everything that reads or writes the settings.
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include <optional>

namespace quillora::prefs {

// The outcome of writing the store to disk.
struct SaveResult {
    bool saved = false;
    QString error; // why not, when not saved
};

class UserDefaults {
public:
    UserDefaults() = default;

    // The application's one store, shared by everything in the process.
    static UserDefaults &standardUserDefaults();

    // Adds to the defaults of this run; a key registered again takes the new text.
    void registerDefaults(const QHash<QString, QString> &defaults);

    // The stored text of a key, else its registered default, else nothing. A stored number
    // gives its decimal text; any other kind of stored value (a list, a group of keys, bytes)
    // gives nothing, not the default.
    std::optional<QString> stringForKey(const QString &key) const;

    // Stores a text under a key. It reaches the file at the next synchronize().
    void setValue(const QString &value, const QString &key);
    // Takes a key out of the store. The file loses it at the next synchronize().
    void removeValueForKey(const QString &key);

    // The keys below `group` (relative to it) with their texts as stringForKey gives them, what
    // setValue and removeValueForKey were given since the last synchronize() included. A key
    // whose stored value is no text nor number comes with nothing.
    QList<QPair<QString, std::optional<QString>>> entriesOfGroup(const QString &group) const;

    // Writes what setValue was given since the last call and makes sure it reached the disk:
    // the file is replaced atomically (a new file renamed over the old, so the old one is
    // never left half-written), its data and the folder entry flushed. On failure the
    // previous file stays as it was. A settings file that is a symbolic link is written
    // through: the file it leads to is replaced and the link stays. A file too large to be
    // ours is kept beside the new one as "quillora.conf.too-large" once the new one is whole.
    SaveResult synchronize();

    // Where the store lives: $XDG_CONFIG_HOME (else ~/.config) + "/Quillora/quillora.conf",
    // looked up at every use.
    static QString fileName();

    // The text that stringForKey gives for a stored value.
    static std::optional<QString> textOfStoredValue(const QVariant &value);

private:
    void reportReadProblem(const QString &message) const;

    QHash<QString, QString> m_registered;
    // (key, text; nothing: the key is removed), in the order they were given
    QList<QPair<QString, std::optional<QString>>> m_pending;
    mutable bool m_readProblemReported = false;
};

} // namespace quillora::prefs
