#include "CommandLine.h"

QString ArgumentText(const QStringList& arguments)
{
    QStringList parts;
    parts.reserve(arguments.size());
    for (const QString& argument : arguments) {
        QString part = argument;
        for (const QString& key : {CommandKey::ZulProg, CommandKey::ZulData}) {
            if (argument.startsWith(key) && !argument.mid(key.size()).startsWith(QLatin1Char('"'))) {
                part = key + QLatin1Char('"') + argument.mid(key.size()) + QLatin1Char('"');
                break;
            }
        }
        parts.append(part);
    }
    return parts.join(QLatin1Char(' '));
}

bool HasKey(const QString& argumentText, const QString& key)
{
    return argumentText.contains(key, Qt::CaseSensitive);
}

QString KeyValue(const QString& argumentText, const QString& key)
{
    const qsizetype p = argumentText.indexOf(key, 0, Qt::CaseSensitive);
    if (p < 0)
        return QString();
    // The key has 8 characters; the one after it (normally the opening quote)
    // is skipped whatever it is.
    const QString rest = argumentText.mid(p + key.size() + 1);
    const qsizetype quote = rest.indexOf(QLatin1Char('"'));
    return quote < 0 ? QString() : rest.left(quote);
}
