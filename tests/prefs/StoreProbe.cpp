// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the store's text for each key named, joined by " | " ("<nothing>" for none), as a next start sees it.
#include "UserDefaults.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const quillora::prefs::UserDefaults store;
    QStringList values;
    for (const QString &key : QCoreApplication::arguments().mid(1))
        values << store.stringForKey(key).value_or("<nothing>");
    std::fputs(values.join(" | ").toUtf8().constData(), stdout);
}
