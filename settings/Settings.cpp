#include "Settings.h"
#include "Globals.h"
#include "IniFile.h"

#include <cstdio>

namespace {
bool outcomeUnrecorded = false;
}

QString ReadSetting(const QString& section, const QString& key)
{
    return IniFile::read(gIniPath, section, key);
}

void WriteSetting(const QString& section, const QString& key, const QString& value)
{
    IniFile::write(gIniPath, section, key, value);
}

void SaveDataPath()
{
    WriteSetting(QStringLiteral("MAIN"), QStringLiteral("ZULdata"), gDataPath);
}

QString outcomeUnrecordedText(const QString& value, const QString& iniPath, const QString& reason)
{
    return QStringLiteral("DIVadedadi: výsledek běhu %1 nelze zapsat do \u201E%2\u201C (%3); volající program by "
                          "četl výsledek dřívějšího běhu.")
        .arg(value, iniPath, reason);
}

void WriteOutcome(const QString& value)
{
    QString failure;
    outcomeUnrecorded =
        !IniFile::write(gIniPath, QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"), value, &failure);
    if (!outcomeUnrecorded)
        return;
    const QByteArray line = outcomeUnrecordedText(value, gIniPath, failure).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

bool OutcomeUnrecorded()
{
    return outcomeUnrecorded;
}
