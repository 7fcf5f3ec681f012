#include "Collation.h"

// Built twice: into the engine against SQLite's library, and into the loadable
// extension, where every SQLite call goes through the loading program's table.
#ifdef DIVADEDADI_SQLITE_EXTENSION
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT3
#else
#include <sqlite3.h>
#endif

#include <unicode/ucol.h>

#include <algorithm>
#include <cstring>

namespace {

int collate(void* context, int leftLength, const void* left, int rightLength, const void* right)
{
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = ucol_strcollUTF8(static_cast<UCollator*>(context), static_cast<const char*>(left),
                                                     leftLength, static_cast<const char*>(right), rightLength, &status);
    if (U_FAILURE(status)) {
        const int common = std::memcmp(left, right, size_t(std::min(leftLength, rightLength)));
        return common != 0 ? common : leftLength - rightLength;
    }
    return int(result);
}

void closeCollator(void* collator)
{
    ucol_close(static_cast<UCollator*>(collator));
}

int registerOne(sqlite3* db, const char* name, const char* locale, const char** failedLocale)
{
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open(locale, &status);
    if (U_FAILURE(status) || !collator) {
        ucol_close(collator);
        if (failedLocale)
            *failedLocale = locale;
        return SQLITE_ERROR;
    }
    // Case-insensitive, accent-sensitive.
    ucol_setStrength(collator, UCOL_SECONDARY);
    const int rc = sqlite3_create_collation_v2(db, name, SQLITE_UTF8, collator, collate, closeCollator);
    // SQLite does not call the destructor when the registration fails.
    if (rc != SQLITE_OK)
        ucol_close(collator);
    return rc;
}

} // namespace

int registerZulCollations(sqlite3* db, const char** failedLocale)
{
    const int rc = registerOne(db, zulCzechCollationName, "cs", failedLocale);
    return rc != SQLITE_OK ? rc : registerOne(db, zulGeneralCollationName, "", failedLocale);
}
