// The table of font faces that help files name and the Debian faces that stand in for them.
#include "HelpFonts.h"

#include <QHash>

#include <array>

namespace {

struct Substitute {
    const char* face;
    const char* family;
    const char* generic;
};

constexpr std::array<Substitute, 20> Table = {{
    {"arial", "Liberation Sans", "sans-serif"},       {"helv", "Liberation Sans", "sans-serif"},
    {"helvetica", "Liberation Sans", "sans-serif"},   {"ms sans serif", "Liberation Sans", "sans-serif"},
    {"swiss", "Liberation Sans", "sans-serif"},       {"tahoma", "Liberation Sans", "sans-serif"},
    {"verdana", "Liberation Sans", "sans-serif"},     {"arial narrow", "Liberation Sans Narrow", "sans-serif"},
    {"times new roman", "Liberation Serif", "serif"}, {"tms rmn", "Liberation Serif", "serif"},
    {"times", "Liberation Serif", "serif"},           {"ms serif", "Liberation Serif", "serif"},
    {"roman", "Liberation Serif", "serif"},           {"courier new", "Liberation Mono", "monospace"},
    {"courier", "Liberation Mono", "monospace"},      {"fixedsys", "Liberation Mono", "monospace"},
    {"terminal", "Liberation Mono", "monospace"},     {"modern", "Liberation Mono", "monospace"},
    {"system", "Liberation Mono", "monospace"},       {"symbol", "Standard Symbols PS", "serif"},
}};

} // namespace

QStringList helpFontFamilies(const QString& face)
{
    // The national variants of a face ("Arial Cyr", "Times New Roman CE") share its metrics.
    QString key = face.trimmed().toLower();
    for (const char* suffix : {" cyr", " ce", " greek", " tur", " baltic"}) {
        if (key.endsWith(QLatin1String(suffix)))
            key.chop(qsizetype(qstrlen(suffix)));
    }
    for (const Substitute& s : Table) {
        if (key == QLatin1String(s.face))
            return {QLatin1String(s.family), face.trimmed(), QLatin1String(s.generic)};
    }
    // An unknown face: its own name, then the help text's usual look.
    if (key.isEmpty())
        return {QStringLiteral("Liberation Sans"), QStringLiteral("sans-serif")};
    return {face.trimmed(), QStringLiteral("Liberation Sans"), QStringLiteral("sans-serif")};
}

QString helpFontFamilyCss(const QString& face)
{
    // A file names a few faces on thousands of runs: each is worked out once per thread. A damaged
    // file may name thousands of faces; the table then starts afresh rather than grow without end.
    thread_local QHash<QString, QString> known;
    if (const auto found = known.constFind(face); found != known.constEnd())
        return *found;
    if (known.size() >= 256)
        known.clear();
    QStringList quoted;
    for (const QString& family : helpFontFamilies(face)) {
        const bool generic = family == QLatin1String("sans-serif") || family == QLatin1String("serif") ||
                             family == QLatin1String("monospace");
        QString name = family;
        name.remove(QLatin1Char('\'')).remove(QLatin1Char('"')).remove(QLatin1Char(';')).remove(QLatin1Char('<'));
        quoted.append(generic ? name : QLatin1Char('\'') + name + QLatin1Char('\''));
    }
    return known[face] = quoted.join(QStringLiteral(", "));
}
