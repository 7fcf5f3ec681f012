#pragma once

#include <QString>

// Qt wants a private runtime folder (XDG_RUNTIME_DIR) and warns on stderr at
// every start where the session gives none, as for root or a cron job. When
// the variable is unset this makes base/runtime-<uid> (mode 0700, owned by the
// user) and sets the variable to it. A path there that is not such a folder
// (another user's, a link) is left alone and the variable stays unset.
void providePrivateRuntimeFolder(const QString& base = QStringLiteral("/tmp"));
