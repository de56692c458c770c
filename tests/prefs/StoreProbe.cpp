// Prints what the store gives for each key named on the command line, as one JSON object
// (null for nothing), without registering any default.
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QJsonObject result;
    quillora::prefs::UserDefaults store;
    const QStringList keys = QCoreApplication::arguments().mid(1);
    for (const QString &key : keys) {
        const auto text = store.stringForKey(key);
        result.insert(key, text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null));
    }
    std::fputs(QJsonDocument(result).toJson(QJsonDocument::Compact).constData(), stdout);
    return 0;
}
