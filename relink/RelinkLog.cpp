#include "RelinkLog.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

const QString kLogName = QStringLiteral("DIVadedadi.log");
const QChar kTab = QLatin1Char('\t');

QString field(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[\t\r\n]+"));
    return QString(text).replace(separators, QStringLiteral(" "));
}

QString outcomeWord(RelinkReport::Outcome outcome)
{
    switch (outcome) {
    case RelinkReport::Outcome::Skipped:
        return QStringLiteral("přeskočena");
    case RelinkReport::Outcome::Repointed:
        return QStringLiteral("přepojena");
    case RelinkReport::Outcome::Created:
        return QStringLiteral("vytvořena");
    case RelinkReport::Outcome::Failed:
        break;
    }
    return QStringLiteral("chyba");
}

} // namespace

QString relinkLogText(const RelinkReport& report, const QDateTime& time, const QString& programPath,
                      const QString& dataPath)
{
    QStringList lines;
    // The offset from UTC is written out, so the time reads the same anywhere.
    const QDateTime stamp = time.toOffsetFromUtc(time.offsetFromUtc());
    lines.append(QStringList{stamp.toString(Qt::ISODate), field(programPath), field(dataPath),
                             report.failed ? QStringLiteral("ERROR") : QStringLiteral("OK")}
                     .join(kTab));
    for (qsizetype index = 0; index < report.tables.size(); ++index) {
        const RelinkReport::Table& table = report.tables.at(index);
        QStringList fields{field(table.name), outcomeWord(table.outcome)};
        for (const RelinkReport::Failure& failure : report.failures) {
            if (failure.tableIndex == index)
                fields.append(field(failure.description));
        }
        lines.append(fields.join(kTab));
    }
    for (const RelinkReport::Failure& failure : report.failures) {
        if (failure.tableIndex < 0)
            lines.append(
                QStringList{QString(), outcomeWord(RelinkReport::Outcome::Failed), field(failure.description)}.join(
                    kTab));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void WriteRelinkLog(const QString& iniPath, const RelinkReport& report, const QString& programPath,
                    const QString& dataPath)
{
    const QFileInfo folder(QFileInfo(iniPath).absolutePath());
    if (iniPath.isEmpty() || !folder.isDir())
        return;
    QSaveFile file(folder.absoluteFilePath() + QLatin1Char('/') + kLogName);
    // A folder the user may not write still takes a log file the user may write.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(relinkLogText(report, QDateTime::currentDateTime(), programPath, dataPath).toUtf8());
    file.commit();
}
