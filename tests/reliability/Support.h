#pragma once

// Helpers of the reliability tests: program folders with a copy of the real
// binary, data and program files made through the engine, starting the binary
// and reading back what it left.

#include "../db/EngineTestSupport.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>

// A temporary program folder: the divadedadi binary, the folder INI, and
// room for the program, data and list files.
class ProgramFolder {
public:
    ProgramFolder();
    bool isValid() const { return m_valid; }
    QString path(const QString& name = QString()) const; // a path inside the folder
    QString exe() const { return path(QStringLiteral("divadedadi")); }
    QString iniPath() const { return path(QStringLiteral("INI/ZUL.ini")); }
    QByteArray iniBytes() const { return fileBytes(iniPath()); }
    void writeIni(const QByteArray& bytes) const { writeBytes(iniPath(), bytes); }

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};

// The argument that has a run report its outcome, on standard error without a window.
inline const QString kShowMessage = QStringLiteral("zobrazZpravu=TRUE");
// That report of a clean run.
inline const QString kCleanReport = QStringLiteral("Vindo-ZUL: Propojení databází proběhlo v pořádku.\n");
// The command line of a run relinking program to data that reports its outcome.
QStringList relinkArguments(const QString& program, const QString& data);

// Runs the binary of the folder in the folder (environment: changes as in ProcessOptions).
ProcessResult runBinary(const ProgramFolder& folder, const QStringList& arguments, const QStringList& environment,
                        std::chrono::milliseconds bound = std::chrono::seconds(60));

// A data file of tableCount local tables T0000.. with the fields ID and Jmeno
// (and Novy when extraField is set) and one row each.
void createDataFile(const QString& path, int tableCount, bool extraField = false);
// A program file linking every table of the data file under its own name.
void createProgramFile(const QString& path, const QString& dataPath);

// Every table definition that is not a system object: name -> connect and
// the recorded field names, "connect|ID,Jmeno".
QMap<QString, QString> linkState(const QString& path);
// "ok" or SQLite's complaint, asked through the engine.
QString integrityCheck(const QString& path);
// Value of a key in an INI file as the program reads it.
QString iniValue(const QString& iniPath, const QString& section, const QString& key);
// Files of a folder, hidden ones included.
QStringList filesIn(const QString& folder);
