#include "HelpContentsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>

namespace {

// The name the help file gives, else the help file's own name.
QString contentsFilePath(const QString& helpPath, const QString& named)
{
    const QFileInfo info(helpPath);
    const QDir folder = info.absoluteDir();
    QStringList wanted;
    if (!named.isEmpty())
        wanted.append(QFileInfo(QString(named).replace(QLatin1Char('\\'), QLatin1Char('/'))).fileName());
    wanted.append(info.completeBaseName() + QStringLiteral(".cnt"));
    const QStringList present = folder.entryList(QDir::Files);
    for (const QString& name : wanted) {
        for (const QString& file : present) {
            if (file.compare(name, Qt::CaseInsensitive) == 0)
                return folder.filePath(file);
        }
    }
    return {};
}

} // namespace

QList<HelpContentsItem> readHelpContentsFile(const HelpFile& help)
{
    QList<HelpContentsItem> items;
    const QString path = contentsFilePath(help.path(), help.contentsFileName());
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return items;
    // "LEVEL TITLE" is a heading, "LEVEL TITLE=CONTEXT[>WINDOW]" a topic; lines starting with ':' are commands.
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(':') || !std::isdigit(uchar(line[0])))
            continue;
        const qsizetype blank = line.indexOf(' ');
        const QByteArray rest = blank < 0 ? QByteArray() : line.mid(blank + 1);
        const qsizetype equals = rest.indexOf('=');
        HelpContentsItem item;
        item.level = std::max(1, line.left(blank).toInt());
        item.title = help.decodeText(equals < 0 ? rest : rest.left(equals));
        if (equals >= 0) {
            QByteArray context = rest.mid(equals + 1);
            if (context.contains('@'))
                continue; // a topic of another file
            context = context.left(context.indexOf('>') < 0 ? context.size() : context.indexOf('>'));
            const auto target = help.jumpTarget(
                HelpJump{HelpJump::Kind::ContextHash, HelpFile::contextHash(context.trimmed()), false});
            item.order = target ? help.orderAtOffset(*target).value_or(0) : 0;
            if (item.order == 0)
                continue;
        }
        items.append(item);
    }
    return items;
}
