#include "RuntimeFolder.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

void providePrivateRuntimeFolder(const QString& base)
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const QByteArray folder = QFile::encodeName(base) + "/runtime-" + QByteArray::number(getuid());
    if (mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return;
    struct stat info {};
    if (lstat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
        return;
    if ((info.st_mode & 07777) != 0700 && chmod(folder.constData(), 0700) != 0)
        return;
    qputenv("XDG_RUNTIME_DIR", folder);
}
