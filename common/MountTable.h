#pragma once

// The mount table of Linux (/proc/self/mountinfo) read as text, and the rule
// that picks from it the mount points a person calls drives.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One line of /proc/self/mountinfo: a file system (or part of one) mounted on a folder.
struct MountEntry {
    QString device;     // "major:minor" of the file system
    QString root;       // the folder of that file system shown at the mount point ("/" for all of it)
    QString mountPoint; // where it is mounted
    QString type;       // file system type: "ext4", "tmpfs", "nfs4", "fuse.sshfs", ...
};

// The entries of a mountinfo text, in mount order; lines that do not parse are skipped.
QList<MountEntry> parseMountInfo(const QByteArray& text);

// The mount points a person calls drives, sorted. home is the user's home folder.
QStringList driveMountPoints(const QList<MountEntry>& mounts, const QString& home);

// path is folder or lies below it; every absolute path lies in "/".
bool isInsideFolder(const QString& path, const QString& folder);
