#pragma once

// The text collations of the engine's files, in one place for the engine and
// for the SQLite loadable extension that lets other SQLite programs (the stock
// sqlite3 shell) check, sort and write those files as the engine does.
// Plain C++ over SQLite's and ICU's C interfaces: no Qt.

struct sqlite3;

// Collation names written into the schema of text columns.
inline constexpr const char* zulCzechCollationName = "ZUL_CZ";
inline constexpr const char* zulGeneralCollationName = "ZUL_GEN";

// Registers ZUL_CZ (Czech) and ZUL_GEN (ICU's root order) on db: UTF-8 text
// compared case-insensitively and accent-sensitively. Each collation owns its
// collator until SQLite drops it. Returns SQLITE_OK or the failing code; when
// ICU cannot open a locale, *failedLocale (if given) names it.
int registerZulCollations(sqlite3* db, const char** failedLocale = nullptr);
