#include "Drives.h"

#include "MountTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

namespace {

QStringList mountInfoDrives()
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return driveMountPoints(parseMountInfo(file.readAll()), QDir::homePath());
}

class SystemVolumes : public VolumeSource {
public:
    QList<DriveVolume> volumes() const override
    {
        QList<DriveVolume> result;
        QStringList roots = mountInfoDrives();
        if (roots.isEmpty()) {
            // No mount table to read (another system): whatever Qt lists.
            for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
                roots.append(volume.rootPath());
        }
        for (const QString& root : roots) {
            // Containers bind-mount single files (/etc/hosts); only folders are drives.
            const QStorageInfo volume(root);
            if (!volume.isValid() || !QFileInfo(root).isDir())
                continue;
            result.append({root, volume.name(), volume.isReady()});
        }
        return result;
    }

    // The drive of a path is the deepest drive that holds it; a mount that is
    // not a drive belongs to the drive it lies on.
    QString driveOf(const QString& path) const override
    {
        QString existing = DirListBox::normalized(path);
        while (!existing.isEmpty() && !QFileInfo::exists(existing) && existing != QLatin1String("/"))
            existing = QFileInfo(existing).path();
        if (existing.isEmpty())
            return QString();
        const QString canonical = QFileInfo(existing).canonicalFilePath();
        QString best;
        for (const DriveVolume& volume : volumes()) {
            const bool holds = isInsideFolder(existing, volume.root) ||
                               (!canonical.isEmpty() && isInsideFolder(canonical, volume.root));
            if (holds && volume.root.size() > best.size())
                best = volume.root;
        }
        return best;
    }
};

} // namespace

const VolumeSource& systemVolumes()
{
    static const SystemVolumes system;
    return system;
}
