// Prints what the store gives for each key named on the command line, joined by " | "
// ("<nothing>" for nothing), without registering any default: the next start's view.
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
    return 0;
}
