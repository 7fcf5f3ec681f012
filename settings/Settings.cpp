#include "Settings.h"
#include "Globals.h"
#include "IniFile.h"

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
