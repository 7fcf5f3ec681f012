#pragma once

#include <QString>

// Reading and writing one value of an INI file with the rules of the original
// platform's private-profile calls: case-insensitive section and key names,
// trimmed values, one pair of enclosing quotes removed, at most 254 characters
// read, empty text for anything missing; code page 1250 on disk. A write keeps
// every other byte of the file and replaces it atomically, keeping its owner,
// group and mode. Where that cannot be done (a folder the writer may not
// change, another user's file) a file the writer may change is rewritten in
// place and flushed; its owner never changes.
namespace IniFile {
constexpr int MaxValueLength = 254;

QString read(const QString& filePath, const QString& section, const QString& key);
// Returns whether the write reached the disk; callers of the program ignore it.
bool write(const QString& filePath, const QString& section, const QString& key, const QString& value);
} // namespace IniFile
