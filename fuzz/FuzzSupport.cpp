#include "FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

const QString& scratchFolder()
{
    static QTemporaryDir folder(QDir(QStringLiteral("/dev/shm")).exists()
                                    ? QStringLiteral("/dev/shm/divadedadi-fuzz-XXXXXX")
                                    : QDir::tempPath() + QStringLiteral("/divadedadi-fuzz-XXXXXX"));
    static const QString path = folder.path();
    if (path.isEmpty())
        fail("scratch folder", QStringLiteral("no temporary folder could be made"));
    return path;
}

QString scratchPath(const QString& name)
{
    return scratchFolder() + QLatin1Char('/') + name;
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail("write input file", path);
}

void fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n  %s\n", what, detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz
