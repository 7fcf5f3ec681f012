// Parsing ODBC connect strings and keeping their passwords out of everything stored.

#include "OdbcConnectString.h"

#include "Errors.h"
#include "Paths.h"

#include <QHash>
#include <QMutex>
#include <QRegularExpression>

namespace {

const QString kPrefix = QStringLiteral("ODBC;");

bool isPasswordKey(const QString& key)
{
    return key.compare(QLatin1String("PWD"), Qt::CaseInsensitive) == 0 ||
           key.compare(QLatin1String("PASSWORD"), Qt::CaseInsensitive) == 0;
}

// Passwords given in connect strings of this process, by the stored form.
QMutex passwordsLock;
QHash<QString, QString>& passwords()
{
    static QHash<QString, QString> byStoredForm;
    return byStoredForm;
}

// A value the driver manager reads back unchanged: braced when it holds a
// separator, a brace or blanks at an end, a closing brace doubled inside.
QString quoted(const QString& value)
{
    const bool plain = !value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{')) &&
                       !value.contains(QLatin1Char('}')) && value.trimmed() == value;
    if (plain)
        return value;
    QString escaped = value;
    escaped.replace(QLatin1String("}"), QLatin1String("}}"));
    return QLatin1Char('{') + escaped + QLatin1Char('}');
}

QString joined(const QList<QPair<QString, QString>>& pairs, const QString& password)
{
    QStringList parts;
    for (const auto& [key, value] : pairs) {
        // A driver's name is braced in the platform's own notation.
        const bool driver = key.compare(QLatin1String("DRIVER"), Qt::CaseInsensitive) == 0;
        parts << key + QLatin1Char('=') +
                     (driver ? QLatin1Char('{') + QString(value).replace(QLatin1String("}"), QLatin1String("}}")) +
                                   QLatin1Char('}')
                             : quoted(value));
    }
    if (!password.isEmpty())
        parts << QStringLiteral("PWD=") + quoted(password);
    return parts.join(QLatin1Char(';'));
}

} // namespace

OdbcConnectString OdbcConnectString::parse(const QString& connect)
{
    if (!isOdbcConnect(connect))
        throw Errors::badConnect(QStringLiteral("nezačíná \"ODBC;\""));
    OdbcConnectString result;
    const QString text = connect.mid(kPrefix.size());
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i] == QLatin1Char(';') || text[i].isSpace()) {
            ++i;
            continue;
        }
        const qsizetype equals = text.indexOf(QLatin1Char('='), i);
        const qsizetype semicolon = text.indexOf(QLatin1Char(';'), i);
        if (equals < 0 || (semicolon >= 0 && semicolon < equals))
            throw Errors::badConnect(QStringLiteral("část \"%1\" nemá tvar KLÍČ=hodnota")
                                         .arg(text.mid(i, semicolon < 0 ? -1 : semicolon - i)));
        const QString key = text.mid(i, equals - i).trimmed();
        if (key.isEmpty() || key.contains(QLatin1Char('{')) || key.contains(QLatin1Char('}')))
            throw Errors::badConnect(QStringLiteral("neplatný klíč \"%1\"").arg(key));
        i = equals + 1;
        QString value;
        while (i < text.size() && text[i] == QLatin1Char(' '))
            ++i;
        if (i < text.size() && text[i] == QLatin1Char('{')) {
            // A braced value ends at a single "}"; "}}" stands for one brace.
            ++i;
            bool closed = false;
            while (i < text.size()) {
                if (text[i] == QLatin1Char('}')) {
                    if (i + 1 < text.size() && text[i + 1] == QLatin1Char('}')) {
                        value += QLatin1Char('}');
                        i += 2;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                throw Errors::badConnect(QStringLiteral("u klíče %1 chybí uzavírací složená závorka").arg(key));
            while (i < text.size() && text[i] == QLatin1Char(' '))
                ++i;
            if (i < text.size() && text[i] != QLatin1Char(';'))
                throw Errors::badConnect(
                    QStringLiteral("za hodnotou klíče %1 ve složených závorkách chybí \";\"").arg(key));
        } else {
            const qsizetype end = text.indexOf(QLatin1Char(';'), i);
            value = text.mid(i, end < 0 ? -1 : end - i).trimmed();
            i = end < 0 ? text.size() : end;
            if (value.contains(QLatin1Char('{')) || value.contains(QLatin1Char('}')))
                throw Errors::badConnect(QStringLiteral("nevyvážené složené závorky u klíče %1").arg(key));
        }
        if (isPasswordKey(key))
            result.m_password = value;
        else
            result.m_pairs.append({key, value});
    }
    if (result.value(QStringLiteral("DRIVER")).isEmpty() && result.value(QStringLiteral("DSN")).isEmpty() &&
        result.value(QStringLiteral("FILEDSN")).isEmpty())
        throw Errors::noDriver();
    if (result.hasPassword()) {
        QMutexLocker lock(&passwordsLock);
        passwords().insert(result.storedForm(), result.m_password);
    }
    return result;
}

QString OdbcConnectString::value(const QString& key) const
{
    for (const auto& [name, value] : m_pairs)
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return value;
    return QString();
}

QString OdbcConnectString::storedForm() const
{
    return kPrefix + joined(m_pairs, QString());
}

QString OdbcConnectString::driverString() const
{
    QString password = m_password;
    if (password.isEmpty()) {
        QMutexLocker lock(&passwordsLock);
        password = passwords().value(storedForm());
    }
    return joined(m_pairs, password);
}

QString OdbcConnectString::target() const
{
    const QString dsn = value(QStringLiteral("DSN"));
    return dsn.isEmpty() ? value(QStringLiteral("DRIVER")) : dsn;
}

bool isOdbcConnect(const QString& connect)
{
    return connect.startsWith(QStringLiteral("ODBC;"), Qt::CaseInsensitive);
}

bool dataPathExists(const QString& path)
{
    return isOdbcConnect(path) || FileExists(path);
}

QString withoutPassword(const QString& connect)
{
    if (!isOdbcConnect(connect))
        return connect;
    try {
        return OdbcConnectString::parse(connect).storedForm();
    } catch (const RunTimeError&) {
        // Unparsable: a password cannot be told from the rest, so none of the text after a password key is kept.
        const qsizetype at = connect.indexOf(QRegularExpression(QStringLiteral("(^|;)\\s*(PWD|PASSWORD)\\s*="),
                                                                QRegularExpression::CaseInsensitiveOption));
        return at < 0 ? connect : connect.left(at);
    }
}
