#include "IniFile.h"
// Being written.
namespace IniFile {
QString read(const QString&, const QString&, const QString&) { return QString(); }
bool write(const QString&, const QString&, const QString&, const QString&) { return false; }
}
