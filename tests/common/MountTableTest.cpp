#include "MountTable.h"

#include <gtest/gtest.h>

TEST(MountTable, drivesAreWhatAPersonCallsDrives)
{
    // One mountinfo line: device, root of the mount, mount point, type.
    const auto m = [](const char* device, const char* root, const char* point, const char* type) {
        static int id = 20;
        ++id;
        return QByteArray::number(id) + " 1 " + device + ' ' + root + ' ' + point + " rw,relatime shared:1 - " + type +
               " /dev/x rw\n";
    };
    const QByteArray kernel = m("0:5", "/", "/proc", "proc") + m("0:6", "/", "/sys", "sysfs") +
                              m("0:7", "/", "/dev", "devtmpfs") + m("0:8", "/", "/sys/fs/cgroup", "cgroup2") +
                              m("0:9", "/", "/run", "tmpfs") + m("0:10", "/", "/dev/shm", "tmpfs");
    const struct {
        const char* name;
        QByteArray mountInfo;
        QString home;
        QStringList drives;
    } rows[] = {
        {"desktop",
         m("8:1", "/", "/", "ext4") + kernel + m("8:2", "/", "/home", "ext4") + m("0:40", "/", "/tmp", "tmpfs") +
             m("8:17", "/", "/media/jana/USB\\040DISK", "vfat") + m("7:1", "/", "/snap/core/1", "squashfs") +
             m("0:50", "/", "/mnt/nas", "nfs4") + m("0:51", "/", "/srv/share", "cifs"),
         "/home/jana", QStringList{"/", "/home", "/media/jana/USB DISK", "/mnt/nas", "/srv/share"}},
        {"tmpfs and bind mounts",
         m("8:1", "/", "/", "ext4") + kernel + m("8:2", "/", "/home", "ext4") +
             m("8:2", "/jana/data", "/mnt/data", "ext4") + m("8:1", "/var", "/mnt/var", "ext4") +
             m("8:3", "/", "/mnt/disk", "ext4") + m("8:3", "/", "/mnt/disk2", "ext4") +
             m("0:60", "/", "/mnt/ram", "tmpfs") + m("0:60", "/", "/media/ram", "tmpfs"),
         "/home/jana", QStringList{"/", "/home", "/mnt/disk"}},
        {"container",
         m("0:30", "/", "/", "overlay") + kernel + m("8:1", "/srv/ci/work", "/work", "ext4") +
             m("8:1", "/srv/ci/hosts", "/etc/hosts", "ext4") + m("8:1", "/srv/ci/home", "/root/data", "ext4"),
         "/root", QStringList{"/"}},
        {"btrfs subvolumes and a later mount over an earlier one",
         m("0:33", "/@", "/", "btrfs") + m("0:33", "/@home", "/home", "btrfs") + m("8:5", "/", "/mnt/x", "ext4") +
             m("8:6", "/", "/mnt/x", "xfs") + m("0:33", "/@home/jana", "/mnt/j", "btrfs") +
             "garbage line\n36 35 98:0\n",
         "/home/jana", QStringList{"/", "/home", "/mnt/x"}},
    };
    for (const auto& row : rows) {
        const QStringList drives = driveMountPoints(parseMountInfo(row.mountInfo), row.home);
        EXPECT_EQ(drives, row.drives) << row.name << ": " << drives.join(QLatin1Char(' ')).toStdString();
    }
}
