#include "FileSystem.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/statfs.h>

bool hasWalHeader(const QString& absolutePath)
{
    QFile file(absolutePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(20);
    return header.size() == 20 && header.at(18) == 2 && header.at(19) == 2;
}

bool isWriteProtected(const QString& absolutePath)
{
    struct stat status {};
    if (::stat(QFile::encodeName(absolutePath).constData(), &status) != 0)
        return false;
    return S_ISREG(status.st_mode) && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool hasPendingWal(const QString& absolutePath)
{
    return QFileInfo(absolutePath + QStringLiteral("-wal")).size() > 0;
}

QString networkFileSystemOf(const QString& path)
{
    // statfs of the file, or of its folder when the file is not there yet.
    QString probe = QFileInfo(path).absoluteFilePath();
    struct statfs info {};
    if (::statfs(QFile::encodeName(probe).constData(), &info) != 0) {
        probe = QFileInfo(probe).absolutePath();
        if (::statfs(QFile::encodeName(probe).constData(), &info) != 0)
            return QString();
    }
    // The magic numbers of <linux/magic.h> and of the file systems' own sources.
    struct Kind {
        unsigned long magic;
        const char* name;
    };
    static constexpr Kind kinds[] = {
        {0x6969, "NFS"},       {0x517B, "SMB"},        {0xFF534D42, "SMB/CIFS"}, {0xFE534D42, "SMB2"},
        {0x65735546, "FUSE"},  {0x01021997, "9p"},     {0x00C36400, "Ceph"},     {0x5346414F, "AFS"},
        {0x6B414653, "AFS"},   {0x73757245, "Coda"},   {0x564C, "NCP"},          {0x01161970, "GFS2"},
        {0x7461636F, "OCFS2"}, {0x0BD00BD0, "Lustre"}, {0x20030528, "OrangeFS"}, {0x47504653, "GPFS"},
        {0x013111A8, "IBRIX"}, {0x19830326, "FhGFS"},
    };
    const auto magic = static_cast<unsigned long>(static_cast<unsigned int>(info.f_type));
    for (const Kind& kind : kinds)
        if (kind.magic == magic)
            return QString::fromLatin1(kind.name);
    return QString();
}
