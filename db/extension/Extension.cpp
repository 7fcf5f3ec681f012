// The engine's collations as an SQLite loadable extension, for example
//   sqlite3 -cmd ".load /usr/lib/divadedadi/sqlite/zulcollation" ZUL_db.accdb
// SQLite derives the entry point's name from the file name zulcollation.so.
// It also gives length() the engine's count in 16-bit units, so that the size
// rules of text fields refuse in another program what the engine refuses.

#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include "Collation.h"
#include "TextLength.h"

extern "C" __attribute__((visibility("default"))) int
sqlite3_zulcollation_init(sqlite3* db, char** errorMessage, const sqlite3_api_routines* api)
{
    SQLITE_EXTENSION_INIT2(api);
    const char* failedLocale = nullptr;
    int rc = registerZulCollations(db, &failedLocale);
    if (rc == SQLITE_OK)
        rc = textlength::registerUtf16Length(db);
    if (rc != SQLITE_OK && errorMessage) {
        *errorMessage = failedLocale ? sqlite3_mprintf("Nelze připravit porovnávání textu pro národní prostředí '%s'.", failedLocale)
                                     : sqlite3_mprintf("%s", sqlite3_errmsg(db));
    }
    return rc;
}
