#include "SqlDialect.h"

#include "DBEngine.h"
#include "Errors.h"

#include <QSet>

namespace {

bool isWordStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_') || c.unicode() > 127;
}

bool isWordChar(QChar c)
{
    return isWordStart(c) || c.isDigit() || c == QLatin1Char('$');
}

// Reads a quoted run starting at i (the opening character) up to the closing
// one; a doubled closing character stands for itself.
int quotedEnd(const QString& sql, int i, QChar close, bool doubling)
{
    int j = i + 1;
    while (j < sql.size()) {
        if (sql.at(j) == close) {
            if (doubling && j + 1 < sql.size() && sql.at(j + 1) == close) {
                j += 2;
                continue;
            }
            return j + 1;
        }
        ++j;
    }
    return int(sql.size());
}

QString upper(const SqlToken& token)
{
    return token.kind == SqlToken::Word ? token.text.toUpper() : QString();
}

struct ColumnType {
    QString declType;
    int textSize = -1; // -1 not text, 0 text without a limit
};

ColumnType mapColumnType(const QString& words, const QString& arguments)
{
    static const QSet<QString> textTypes = {QStringLiteral("TEXT"),
                                            QStringLiteral("VARCHAR"),
                                            QStringLiteral("CHAR"),
                                            QStringLiteral("CHARACTER"),
                                            QStringLiteral("NVARCHAR"),
                                            QStringLiteral("NCHAR"),
                                            QStringLiteral("STRING"),
                                            QStringLiteral("ALPHANUMERIC"),
                                            QStringLiteral("CHARACTER VARYING"),
                                            QStringLiteral("VARYING"),
                                            QStringLiteral("NATIONAL CHARACTER"),
                                            QStringLiteral("NATIONAL CHAR")};
    static const QSet<QString> memoTypes = {QStringLiteral("MEMO"),     QStringLiteral("LONGTEXT"),
                                            QStringLiteral("LONGCHAR"), QStringLiteral("NOTE"),
                                            QStringLiteral("NTEXT"),    QStringLiteral("CLOB")};
    static const QSet<QString> yesNoTypes = {QStringLiteral("YESNO"),   QStringLiteral("BIT"),
                                             QStringLiteral("LOGICAL"), QStringLiteral("LOGICAL1"),
                                             QStringLiteral("BOOLEAN"), QStringLiteral("BOOL")};
    static const QSet<QString> integerTypes = {
        QStringLiteral("LONG"),     QStringLiteral("INTEGER"),  QStringLiteral("INT"),
        QStringLiteral("INT4"),     QStringLiteral("COUNTER"),  QStringLiteral("AUTOINCREMENT"),
        QStringLiteral("IDENTITY"), QStringLiteral("SHORT"),    QStringLiteral("SMALLINT"),
        QStringLiteral("INT2"),     QStringLiteral("BYTE"),     QStringLiteral("TINYINT"),
        QStringLiteral("INTEGER1"), QStringLiteral("INTEGER2"), QStringLiteral("INTEGER4"),
        QStringLiteral("BIGINT")};
    static const QSet<QString> doubleTypes = {QStringLiteral("DOUBLE"),     QStringLiteral("FLOAT"),
                                              QStringLiteral("FLOAT8"),     QStringLiteral("NUMBER"),
                                              QStringLiteral("REAL"),       QStringLiteral("SINGLE"),
                                              QStringLiteral("FLOAT4"),     QStringLiteral("IEEEDOUBLE"),
                                              QStringLiteral("IEEESINGLE"), QStringLiteral("MONEY"),
                                              QStringLiteral("CURRENCY"),   QStringLiteral("DECIMAL"),
                                              QStringLiteral("NUMERIC"),    QStringLiteral("DOUBLE PRECISION")};
    static const QSet<QString> dateTypes = {QStringLiteral("DATE"), QStringLiteral("DATETIME"), QStringLiteral("TIME"),
                                            QStringLiteral("TIMESTAMP")};
    if (textTypes.contains(words)) {
        const int size = arguments.section(QLatin1Char(','), 0, 0).trimmed().toInt();
        const int limit = size > 0 ? size : 255; // the dialect's text without a size holds 255 characters
        return {QStringLiteral("TEXT(%1)").arg(limit), limit};
    }
    if (memoTypes.contains(words))
        return {QStringLiteral("LONGTEXT"), 0};
    if (yesNoTypes.contains(words))
        return {QStringLiteral("YESNO"), -1};
    if (integerTypes.contains(words))
        return {QStringLiteral("INTEGER"), -1};
    if (doubleTypes.contains(words))
        return {QStringLiteral("DOUBLE"), -1};
    if (dateTypes.contains(words))
        return {QStringLiteral("DATETIME"), -1};
    QString kept = words;
    if (!arguments.isNull())
        kept += QLatin1Char('(') + arguments + QLatin1Char(')');
    return {kept, -1};
}

QString columnSql(const QString& name, const ColumnType& type, bool allowZeroLength, const QString& collation,
                  const QString& rest)
{
    const QString quoted = quoteName(name);
    QString sql = quoted;
    if (!type.declType.isEmpty())
        sql += QLatin1Char(' ') + type.declType;
    if (type.textSize >= 0 && !rest.toUpper().contains(QLatin1String("COLLATE")))
        sql += QStringLiteral(" COLLATE ") + collation;
    sql += rest;
    if (type.textSize > 0)
        // One pass: a name holding "%2" stays as it is.
        sql += QStringLiteral(" CONSTRAINT %1 CHECK(length(%2)<=%3)")
                   .arg(quoteName(QStringLiteral("size:%1:").arg(type.textSize) + name), quoted,
                        QString::number(type.textSize));
    if (type.textSize >= 0 && !allowZeroLength)
        sql += QStringLiteral(" CONSTRAINT %1 CHECK(length(%2)>0)")
                   .arg(quoteName(QStringLiteral("nonempty:") + name), quoted);
    return sql;
}

const QSet<QString>& constraintWords()
{
    static const QSet<QString> words = {
        QStringLiteral("CONSTRAINT"), QStringLiteral("PRIMARY"), QStringLiteral("NOT"),
        QStringLiteral("NULL"),       QStringLiteral("UNIQUE"),  QStringLiteral("CHECK"),
        QStringLiteral("DEFAULT"),    QStringLiteral("COLLATE"), QStringLiteral("REFERENCES"),
        QStringLiteral("GENERATED"),  QStringLiteral("AS"),      QStringLiteral("FOREIGN")};
    return words;
}

QString joined(const std::vector<SqlToken>& tokens, size_t from, size_t to)
{
    QString text;
    for (size_t i = from; i < to && i < tokens.size(); ++i)
        text += tokens[i].text;
    return text;
}

// One column definition of CREATE TABLE or ALTER TABLE ADD, in the dialect's
// words, rewritten for SQLite; table constraints come back unchanged.
QString rewriteColumn(const std::vector<SqlToken>& tokens, size_t from, size_t to, const QString& collation)
{
    size_t i = from;
    while (i < to && tokens[i].kind == SqlToken::Space)
        ++i;
    if (i >= to || constraintWords().contains(upper(tokens[i])) ||
        (tokens[i].kind != SqlToken::Word && tokens[i].kind != SqlToken::QuotedName))
        return joined(tokens, from, to);
    const QString leading = joined(tokens, from, i);
    const QString name = tokenName(tokens[i]);
    ++i;
    QStringList words;
    size_t next = i;
    while (next < to) {
        if (tokens[next].kind == SqlToken::Space) {
            ++next;
            continue;
        }
        if (tokens[next].kind != SqlToken::Word || constraintWords().contains(upper(tokens[next])))
            break;
        words << upper(tokens[next]);
        ++next;
        i = next;
    }
    QString arguments;
    size_t k = i;
    while (k < to && tokens[k].kind == SqlToken::Space)
        ++k;
    if (!words.isEmpty() && k < to && tokens[k].text == QLatin1String("(")) {
        size_t close = k + 1;
        while (close < to && tokens[close].text != QLatin1String(")"))
            ++close;
        arguments = joined(tokens, k + 1, close).trimmed();
        if (arguments.isNull())
            arguments = QLatin1String("");
        i = close + 1;
    }
    const ColumnType type = mapColumnType(words.join(QLatin1Char(' ')), arguments);
    // Text columns made through SQL accept the empty text.
    return leading + columnSql(name, type, true, collation, joined(tokens, i, to));
}

} // namespace

QString quoteName(const QString& name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString tokenName(const SqlToken& token)
{
    if (token.kind != SqlToken::QuotedName)
        return token.text;
    const QString inner = token.text.mid(1, token.text.size() - 2);
    const QChar open = token.text.at(0);
    if (open == QLatin1Char('['))
        return inner;
    QString name = inner;
    name.replace(QString(2, open), QString(open));
    return name;
}

std::vector<SqlToken> tokenizeSql(const QString& sql)
{
    std::vector<SqlToken> tokens;
    int i = 0;
    const int n = int(sql.size());
    while (i < n) {
        const QChar c = sql.at(i);
        int end = i + 1;
        SqlToken::Kind kind = SqlToken::Punct;
        if (c.isSpace()) {
            kind = SqlToken::Space;
            while (end < n && sql.at(end).isSpace())
                ++end;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql.at(i + 1) == QLatin1Char('-')) {
            kind = SqlToken::Space;
            while (end < n && sql.at(end) != QLatin1Char('\n'))
                ++end;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql.at(i + 1) == QLatin1Char('*')) {
            kind = SqlToken::Space;
            const int close = sql.indexOf(QStringLiteral("*/"), i + 2);
            end = close < 0 ? n : close + 2;
        } else if (c == QLatin1Char('\'')) {
            kind = SqlToken::String;
            end = quotedEnd(sql, i, c, true);
        } else if (c == QLatin1Char('"') || c == QLatin1Char('`')) {
            kind = SqlToken::QuotedName;
            end = quotedEnd(sql, i, c, true);
        } else if (c == QLatin1Char('[')) {
            kind = SqlToken::QuotedName;
            end = quotedEnd(sql, i, QLatin1Char(']'), false);
        } else if (c.isDigit() || (c == QLatin1Char('.') && i + 1 < n && sql.at(i + 1).isDigit())) {
            kind = SqlToken::Number;
            while (end < n && (sql.at(end).isLetterOrNumber() || sql.at(end) == QLatin1Char('.')))
                ++end;
        } else if (isWordStart(c)) {
            kind = SqlToken::Word;
            while (end < n && isWordChar(sql.at(end)))
                ++end;
        } else if (c == QLatin1Char('?') || c == QLatin1Char(':') || c == QLatin1Char('@') || c == QLatin1Char('$')) {
            kind = SqlToken::Parameter;
            while (end < n && isWordChar(sql.at(end)))
                ++end;
        } else {
            static const QStringList pairs = {QStringLiteral("<="), QStringLiteral(">="), QStringLiteral("<>"),
                                              QStringLiteral("!="), QStringLiteral("=="), QStringLiteral("||"),
                                              QStringLiteral("<<"), QStringLiteral(">>")};
            if (i + 1 < n && pairs.contains(sql.mid(i, 2)))
                end = i + 2;
        }
        tokens.push_back({kind, sql.mid(i, end - i)});
        i = end;
    }
    return tokens;
}

RewrittenSql rewriteSql(const QString& sql, const QString& collation)
{
    std::vector<SqlToken> tokens = tokenizeSql(sql);
    std::vector<size_t> significant;
    for (size_t i = 0; i < tokens.size(); ++i)
        if (tokens[i].kind != SqlToken::Space)
            significant.push_back(i);
    RewrittenSql result;
    if (significant.empty()) {
        result.sql = sql;
        return result;
    }
    const auto word = [&](size_t position) {
        return position < significant.size() ? upper(tokens[significant[position]]) : QString();
    };
    // The dialect's True is -1.
    for (const size_t i : significant) {
        const QString keyword = upper(tokens[i]);
        if (keyword == QLatin1String("TRUE") || keyword == QLatin1String("FALSE"))
            tokens[i] = {SqlToken::Number,
                         keyword == QLatin1String("TRUE") ? QStringLiteral("-1") : QStringLiteral("0")};
    }
    const QString verb = word(0);
    if (verb == QLatin1String("DELETE")) {
        // "delete * from T" and "delete T.* from T": SQLite takes no column list.
        size_t from = 1;
        while (from < significant.size() && word(from) != QLatin1String("FROM"))
            ++from;
        if (from < significant.size() && from > 1) {
            for (size_t k = 1; k < from; ++k)
                tokens[significant[k]].text.clear();
        }
    } else if (verb == QLatin1String("CREATE")) {
        size_t p = 1;
        if (word(p) == QLatin1String("TEMP") || word(p) == QLatin1String("TEMPORARY"))
            ++p;
        if (word(p) == QLatin1String("TABLE")) {
            ++p;
            if (word(p) == QLatin1String("IF"))
                p += 3;
            ++p; // the table name
            if (p < significant.size() && tokens[significant[p]].text == QLatin1String("."))
                p += 2;
            if (p < significant.size() && tokens[significant[p]].text == QLatin1String("(")) {
                const size_t open = significant[p];
                int depth = 0;
                size_t start = open + 1;
                std::vector<std::pair<size_t, size_t>> parts;
                size_t close = tokens.size();
                for (size_t i = open; i < tokens.size(); ++i) {
                    const QString& t = tokens[i].text;
                    if (tokens[i].kind != SqlToken::Punct)
                        continue;
                    if (t == QLatin1String("(")) {
                        ++depth;
                    } else if (t == QLatin1String(")")) {
                        if (--depth == 0) {
                            close = i;
                            break;
                        }
                    } else if (t == QLatin1String(",") && depth == 1) {
                        parts.emplace_back(start, i);
                        start = i + 1;
                    }
                }
                parts.emplace_back(start, close);
                QStringList columns;
                for (const auto& [from, to] : parts)
                    columns << rewriteColumn(tokens, from, to, collation);
                QString rebuilt =
                    joined(tokens, 0, open + 1) + columns.join(QLatin1Char(',')) + joined(tokens, close, tokens.size());
                result.sql = rebuilt;
                return result;
            }
        }
    } else if (verb == QLatin1String("ALTER") && word(1) == QLatin1String("TABLE")) {
        size_t p = 3;
        if (p < significant.size() && tokens[significant[p]].text == QLatin1String("."))
            p += 2;
        if (word(p) == QLatin1String("ADD")) {
            ++p;
            if (word(p) == QLatin1String("COLUMN"))
                ++p;
            if (p < significant.size()) {
                size_t end = tokens.size();
                while (end > 0 &&
                       (tokens[end - 1].kind == SqlToken::Space || tokens[end - 1].text == QLatin1String(";")))
                    --end;
                result.sql = joined(tokens, 0, significant[p]) + rewriteColumn(tokens, significant[p], end, collation) +
                             joined(tokens, end, tokens.size());
                return result;
            }
        }
    }
    QSet<QString> seen;
    for (size_t k = 0; k < significant.size(); ++k) {
        SqlToken& token = tokens[significant[k]];
        const QString keyword = upper(token);
        if (token.kind != SqlToken::Word && token.kind != SqlToken::QuotedName)
            continue;
        if (keyword == QLatin1String("FROM") && result.fromTable.isEmpty() && k + 1 < significant.size()) {
            const SqlToken& table = tokens[significant[k + 1]];
            if (table.kind == SqlToken::Word || table.kind == SqlToken::QuotedName)
                result.fromTable = tokenName(table);
        }
        // A name after a dot is a column of a qualified name, never a table.
        if (k > 0 && tokens[significant[k - 1]].text == QLatin1String("."))
            continue;
        const QString name = tokenName(token);
        if (!seen.contains(name.toCaseFolded())) {
            seen.insert(name.toCaseFolded());
            result.names << name;
        }
    }
    // The table an INSERT, UPDATE or DELETE changes, when the statement names it without a schema.
    size_t target = 0;
    if (verb == QLatin1String("INSERT") || verb == QLatin1String("REPLACE") || verb == QLatin1String("UPDATE")) {
        target = 1;
        if (word(target) == QLatin1String("OR"))
            target += 2;
        if (verb != QLatin1String("UPDATE"))
            target = word(target) == QLatin1String("INTO") ? target + 1 : 0;
    } else if (verb == QLatin1String("DELETE")) {
        for (size_t k = 1; k < significant.size() && target == 0; ++k)
            if (word(k) == QLatin1String("FROM"))
                target = k + 1;
    }
    if (target > 0 && target < significant.size() &&
        (tokens[significant[target]].kind == SqlToken::Word ||
         tokens[significant[target]].kind == SqlToken::QuotedName) &&
        (target + 1 >= significant.size() || tokens[significant[target + 1]].text != QLatin1String("."))) {
        result.target = tokenName(tokens[significant[target]]);
        result.targetStart = int(joined(tokens, 0, significant[target]).size());
        result.targetLength = int(tokens[significant[target]].text.size());
    }
    result.sql = joined(tokens, 0, tokens.size());
    return result;
}

QString fieldColumnSql(const QString& name, int type, int size, bool allowZeroLength, const QString& collation)
{
    ColumnType column;
    switch (type) {
    case dao::dbText:
        column = {QStringLiteral("TEXT(%1)").arg(size > 0 ? size : 255), size > 0 ? size : 255};
        break;
    case dao::dbMemo:
        column = {QStringLiteral("LONGTEXT"), 0};
        break;
    case dao::dbBoolean:
        column = {QStringLiteral("YESNO"), -1};
        break;
    case 2: // byte
    case 3: // integer
    case dao::dbLong:
        column = {QStringLiteral("INTEGER"), -1};
        break;
    case 5: // currency
    case 6: // single
    case dao::dbDouble:
        column = {QStringLiteral("DOUBLE"), -1};
        break;
    case dao::dbDate:
        column = {QStringLiteral("DATETIME"), -1};
        break;
    default:
        throw Errors::invalidFieldType(name, type);
    }
    return columnSql(name, column, allowZeroLength, collation, QString());
}

namespace {

// The statement's tokens without the blanks between them.
std::vector<SqlToken> significantTokens(const QString& sql)
{
    std::vector<SqlToken> significant;
    for (const SqlToken& token : tokenizeSql(sql))
        if (token.kind != SqlToken::Space)
            significant.push_back(token);
    return significant;
}

// The table named at position p; empty when there is none or when it is
// schema-qualified (no table of this file's catalog).
QString tableNameAt(const std::vector<SqlToken>& significant, size_t p)
{
    if (p >= significant.size() || (p + 1 < significant.size() && significant[p + 1].text == QLatin1String(".")))
        return QString();
    const SqlToken& name = significant[p];
    return name.kind == SqlToken::Word || name.kind == SqlToken::QuotedName ? tokenName(name) : QString();
}

} // namespace

QString droppedTable(const QString& sql)
{
    const std::vector<SqlToken> significant = significantTokens(sql);
    if (significant.size() < 3 || upper(significant[0]) != QLatin1String("DROP") ||
        upper(significant[1]) != QLatin1String("TABLE"))
        return QString();
    size_t p = 2;
    if (upper(significant[p]) == QLatin1String("IF"))
        p += 2;
    return tableNameAt(significant, p);
}

QString createdTable(const QString& sql, bool* ifNotExists)
{
    const std::vector<SqlToken> significant = significantTokens(sql);
    const auto word = [&](size_t i) { return i < significant.size() ? upper(significant[i]) : QString(); };
    if (ifNotExists)
        *ifNotExists = false;
    if (word(0) == QLatin1String("ALTER") && word(1) == QLatin1String("TABLE")) {
        size_t p = 2;
        while (p < significant.size() && word(p) != QLatin1String("RENAME"))
            ++p;
        if (word(p + 1) == QLatin1String("TO"))
            return tableNameAt(significant, p + 2);
        // "rename column a to b" names no table.
        return QString();
    }
    if (word(0) != QLatin1String("CREATE"))
        return QString();
    size_t p = 1;
    if (word(p) == QLatin1String("TEMP") || word(p) == QLatin1String("TEMPORARY"))
        ++p;
    if (word(p) != QLatin1String("TABLE"))
        return QString();
    ++p;
    if (word(p) == QLatin1String("IF") && word(p + 1) == QLatin1String("NOT") &&
        word(p + 2) == QLatin1String("EXISTS")) {
        p += 3;
        if (ifNotExists)
            *ifNotExists = true;
    }
    return tableNameAt(significant, p);
}

QString redefinedTable(const QString& sql)
{
    const std::vector<SqlToken> significant = significantTokens(sql);
    const auto word = [&](size_t i) { return i < significant.size() ? upper(significant[i]) : QString(); };
    size_t p = 0;
    if (word(0) == QLatin1String("ALTER") && word(1) == QLatin1String("TABLE")) {
        p = 2;
    } else if (word(0) == QLatin1String("CREATE")) {
        p = word(1) == QLatin1String("UNIQUE") ? 2 : 1;
        if (word(p) != QLatin1String("INDEX"))
            return QString();
        while (p < significant.size() && word(p) != QLatin1String("ON"))
            ++p;
        ++p;
    } else {
        return QString();
    }
    return tableNameAt(significant, p);
}
