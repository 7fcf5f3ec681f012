#pragma once

#include <QString>

// Reading and writing one value of an INI file with the rules of the original
// platform's private-profile calls: case-insensitive section and key names,
// trimmed values, one pair of enclosing quotes removed, at most 254 characters
// read, empty text for anything missing; code page 1250 on disk, UTF-8 in a
// file that starts with the UTF-8 byte-order mark (which stays). A write keeps
// every other byte of the file and replaces it atomically, keeping its owner,
// group and mode. Where that cannot be done or would lose something (a
// folder the writer may not change, another user's file, a link, hard links,
// an ACL or extended attributes, no room or no temporary file) the file is
// rewritten in place and flushed; its owner never changes. One lock on the
// file, waited for at most 4 s, covers reading, changing and writing, so
// writers in several processes take turns and none undoes another's value.
// Symbolic links are followed by the rules of SharedFiles.h.
namespace IniFile {
constexpr int MaxValueLength = 254;

QString read(const QString& filePath, const QString& section, const QString& key);
// Returns whether the write reached the disk; failure, where given, receives
// the Czech reason of a failed write.
bool write(const QString& filePath, const QString& section, const QString& key, const QString& value);
bool write(const QString& filePath, const QString& section, const QString& key, const QString& value, QString* failure);
} // namespace IniFile
