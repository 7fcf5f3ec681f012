#include "Support.h"

#include "DBEngine.h"
#include "IniFile.h"

#include <QDir>
#include <QFile>

ProgramFolder::ProgramFolder()
{
    m_valid = m_dir.isValid() && QDir(m_dir.path()).mkdir(QStringLiteral("INI")) &&
              QFile::copy(QStringLiteral(DIVADEDADI_EXE), exe());
}

QString ProgramFolder::path(const QString& name) const
{
    return name.isEmpty() ? m_dir.path() : m_dir.path() + QLatin1Char('/') + name;
}

ProcessResult runBinary(const ProgramFolder& folder, const QStringList& arguments, const QStringList& environment,
                        std::chrono::milliseconds bound)
{
    return runProcess(folder.exe(), arguments, {.folder = folder.path(), .environment = environment, .timeout = bound});
}

void createDataFile(const QString& path, int tableCount, bool extraField)
{
    std::unique_ptr<Database> db = DbEngine().CreateDatabase(path, dao::dbLangCzech, dao::dbVersion120);
    // One transaction for all tables keeps a large file quick to make.
    db->Execute(QStringLiteral("begin"));
    for (int i = 0; i < tableCount; ++i) {
        const QString name = QStringLiteral("T%1").arg(i, 4, 10, QLatin1Char('0'));
        db->Execute(QStringLiteral("create table [%1] (ID long, Jmeno text(50)%2)")
                        .arg(name, extraField ? QStringLiteral(", Novy long") : QString()));
        db->Execute(QStringLiteral("insert into [%1] (ID, Jmeno) values (?, ?)").arg(name), {i, name});
    }
    db->Execute(QStringLiteral("commit"));
    db->Close();
}

void createProgramFile(const QString& path, const QString& dataPath)
{
    std::unique_ptr<Database> program = DbEngine().CreateDatabase(path, dao::dbLangCzech, dao::dbVersion120);
    QStringList names;
    {
        std::unique_ptr<Database> data = DbEngine().OpenDatabase(dataPath);
        TableDefCollection& defs = data->TableDefs();
        for (int i = 0; i < defs.Count(); ++i) {
            std::shared_ptr<TableDef> def = defs.Item(i);
            if ((def->Attributes() & dao::dbSkipMask) == 0)
                names.append(def->Name());
        }
        data->Close();
    }
    program->BeginTrans();
    for (const QString& name : names) {
        std::shared_ptr<TableDef> def = program->CreateTableDef();
        def->setConnect(dao::dbConnectPrefix + dataPath);
        def->setSourceTableName(name);
        def->setName(name);
        program->TableDefs().Append(def);
    }
    program->CommitTrans();
    program->Close();
}

QMap<QString, QString> linkState(const QString& path)
{
    QMap<QString, QString> state;
    std::unique_ptr<Database> db = DbEngine().OpenDatabase(path);
    TableDefCollection& defs = db->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        std::shared_ptr<TableDef> def = defs.Item(i);
        if ((def->Attributes() & dao::dbSystemObject) == dao::dbSystemObject)
            continue;
        QStringList fields;
        for (const auto& field : def->fields())
            fields.append(field->Name);
        state.insert(def->Name(), def->Connect() + QLatin1Char('|') + fields.join(QLatin1Char(',')));
    }
    db->Close();
    return state;
}

QString integrityCheck(const QString& path)
{
    std::unique_ptr<Database> db = DbEngine().OpenDatabase(path);
    std::unique_ptr<Recordset> rows = db->OpenRecordset(QStringLiteral("pragma integrity_check"));
    QStringList lines;
    while (!rows->EOF()) {
        lines.append(rows->value(QStringLiteral("integrity_check")).toString());
        rows->MoveNext();
    }
    rows->Close();
    db->Close();
    return lines.join(QLatin1Char('\n'));
}

QString iniValue(const QString& iniPath, const QString& section, const QString& key)
{
    return IniFile::read(iniPath, section, key);
}

QStringList relinkArguments(const QString& program, const QString& data)
{
    return {QStringLiteral("ZULprog=") + program, QStringLiteral("ZULdata=") + data, kShowMessage};
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}
