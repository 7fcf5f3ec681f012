// Child process of the settings kill test: writes [MAIN] Counter = 1, 2, 3 ...
// into the settings file named by its argument until it is killed.

#include "IniFile.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    for (qint64 n = 1;; ++n) {
        if (!IniFile::write(path, QStringLiteral("MAIN"), QStringLiteral("Counter"), QString::number(n))) {
            std::fprintf(stderr, "write %lld failed\n", static_cast<long long>(n));
            return 1;
        }
    }
}
