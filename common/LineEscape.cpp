#include "LineEscape.h"

namespace {

bool needsHexEscape(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

} // namespace

QString escapeLine(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        switch (c) {
        case u'\\':
            result += QLatin1String("\\\\");
            break;
        case u'\t':
            result += QLatin1String("\\t");
            break;
        case u'\n':
            result += QLatin1String("\\n");
            break;
        case u'\r':
            result += QLatin1String("\\r");
            break;
        case u'\v':
            result += QLatin1String("\\v");
            break;
        case u'\f':
            result += QLatin1String("\\f");
            break;
        default:
            if (needsHexEscape(c))
                result += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
            else
                result += qc;
        }
    }
    return result;
}

QString unescapeLine(const QString& line)
{
    QString result;
    result.reserve(line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= line.size()) {
            result += c;
            continue;
        }
        const QChar next = line.at(++i);
        switch (next.unicode()) {
        case u't':
            result += QLatin1Char('\t');
            break;
        case u'n':
            result += QLatin1Char('\n');
            break;
        case u'r':
            result += QLatin1Char('\r');
            break;
        case u'v':
            result += QLatin1Char('\v');
            break;
        case u'f':
            result += QLatin1Char('\f');
            break;
        case u'u': {
            bool ok = false;
            const uint code = line.mid(i + 1, 4).toUInt(&ok, 16);
            if (ok && i + 4 < line.size()) {
                result += QChar(char16_t(code));
                i += 4;
            } else {
                result += QLatin1String("\\u");
            }
            break;
        }
        default:
            result += next; // "\\" and anything unknown: the character itself
        }
    }
    return result;
}
