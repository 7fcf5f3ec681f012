#include "MountTable.h"

#include <QSet>

#include <algorithm>

namespace {

// mountinfo writes a blank, tab, newline and backslash in a path as octal escapes.
QString unescape(const QByteArray& field)
{
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        const QByteArray code = field.mid(i + 1, 3);
        bool octal = field.at(i) == '\\' && code.size() == 3;
        for (char c : code)
            octal = octal && c >= '0' && c <= '7';
        if (octal) {
            out.append(char(code.toInt(nullptr, 8)));
            i += 3;
        } else {
            out.append(field.at(i));
        }
    }
    return QString::fromUtf8(out);
}

// File systems of the kernel, of memory and of packaging, never a drive
// wherever they are mounted (the root excepted: a container's root is one).
bool isVirtual(const QString& type)
{
    static const QSet<QString> types = {
        "proc",       "sysfs",       "devtmpfs",        "devpts",     "tmpfs", "ramfs",      "cgroup",    "cgroup2",
        "securityfs", "debugfs",     "tracefs",         "pstore",     "bpf",   "mqueue",     "hugetlbfs", "configfs",
        "fusectl",    "autofs",      "binfmt_misc",     "efivarfs",   "nsfs",  "rpc_pipefs", "selinuxfs", "squashfs",
        "overlay",    "fuse.portal", "fuse.gvfsd-fuse", "fuse.lxcfs", "shm"};
    return types.contains(type);
}

bool isNetwork(const QString& type)
{
    static const QSet<QString> types = {"nfs",   "nfs4",        "cifs", "smb3",       "smbfs",
                                        "ncpfs", "afs",         "9p",   "fuse.sshfs", "fuse.rclone",
                                        "davfs", "fuse.davfs2", "ceph", "glusterfs",  "fuse.glusterfs"};
    return types.contains(type);
}

} // namespace

bool isInsideFolder(const QString& path, const QString& folder)
{
    return path == folder || folder == QLatin1String("/") || path.startsWith(folder + QLatin1Char('/'));
}

QList<MountEntry> parseMountInfo(const QByteArray& text)
{
    // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue"
    QList<MountEntry> result;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() < 6 || separator < 6 || separator + 1 >= fields.size())
            continue;
        result.append({QString::fromLatin1(fields.at(2)), unescape(fields.at(3)), unescape(fields.at(4)),
                       QString::fromLatin1(fields.at(separator + 1))});
    }
    return result;
}

QStringList driveMountPoints(const QList<MountEntry>& mounts, const QString& home)
{
    // The rule: a drive is the root, the mount that holds the home folder (or
    // one above it, /home), a mount under /mnt, /media or /run/media (where
    // removable media and the administrator's mounts go), or a network file
    // system anywhere. Kernel and memory file systems are no drives, nor is a
    // mount hidden under a later one on the same folder, nor a bind mount that
    // shows again a folder tree of the same device already listed.
    QList<MountEntry> visible;
    for (const MountEntry& mount : mounts) {
        auto same = [&](const MountEntry& m) { return m.mountPoint == mount.mountPoint; };
        visible.erase(std::remove_if(visible.begin(), visible.end(), same), visible.end());
        visible.append(mount);
    }

    QList<MountEntry> drives;
    for (const MountEntry& mount : visible) {
        const QString& point = mount.mountPoint;
        const bool isRoot = point == QLatin1String("/");
        const bool placed = isInsideFolder(home, point) || isInsideFolder(point, QStringLiteral("/home")) ||
                            point.startsWith(QLatin1String("/mnt/")) || point.startsWith(QLatin1String("/media/")) ||
                            point.startsWith(QLatin1String("/run/media/"));
        if (isRoot || (!isVirtual(mount.type) && (placed || isNetwork(mount.type))))
            drives.append(mount);
    }

    // Of two mounts of one device where one's tree lies inside the other's,
    // the wider tree stays, and of equal trees the shorter mount point.
    auto covers = [](const MountEntry& a, const MountEntry& b) {
        if (a.device != b.device || !isInsideFolder(b.root, a.root))
            return false;
        return a.root != b.root || a.mountPoint.size() < b.mountPoint.size() ||
               (a.mountPoint.size() == b.mountPoint.size() && a.mountPoint < b.mountPoint);
    };
    QStringList result;
    for (const MountEntry& mount : drives) {
        const bool duplicate =
            std::any_of(drives.begin(), drives.end(), [&](const MountEntry& other) { return covers(other, mount); });
        if (!duplicate)
            result.append(mount.mountPoint);
    }
    result.sort();
    return result;
}
