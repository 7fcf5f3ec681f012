#pragma once

#include <sqlite3.h>

// Text lengths in the program's 16-bit text units. SQLite's length() counts
// code points, so a character outside the Basic Multilingual Plane (an emoji)
// would count once where the program, its list file's field sizes and the
// original engine count two. The engine replaces length() on every connection
// it opens; the size rules of its tables (CHECK(length(x)<=n)) then count as
// the program does. Blobs still count bytes, NULL stays NULL.
namespace textlength {

inline void utf16Length(sqlite3_context* context, int, sqlite3_value** values)
{
    sqlite3_value* value = values[0];
    switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
        return; // the result stays NULL
    case SQLITE_BLOB:
        sqlite3_result_int64(context, sqlite3_value_bytes(value));
        return;
    default:
        break;
    }
    const auto* text = sqlite3_value_text(value);
    const int bytes = sqlite3_value_bytes(value);
    sqlite3_int64 units = 0;
    for (int i = 0; i < bytes; ++i) {
        const unsigned char byte = text[i];
        if (byte == 0)
            break; // as SQLite's own length(): up to the first NUL
        // Every lead byte starts a character; one of four bytes needs a surrogate pair.
        if ((byte & 0xC0) != 0x80)
            units += byte >= 0xF0 ? 2 : 1;
    }
    sqlite3_result_int64(context, units);
}

inline int registerUtf16Length(sqlite3* db)
{
    return sqlite3_create_function(db, "length", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   utf16Length, nullptr, nullptr);
}

} // namespace textlength
