// The command-line value rules on arbitrary arguments: a value never holds a
// double quote and is a piece of the argument text, a missing key gives
// nothing, and a path a shell handed over without its quotes comes back
// whole.
//
// Input: the arguments in UTF-8, separated by NUL bytes.

#include "CommandLine.h"
#include "FuzzSupport.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringList arguments;
    for (const QByteArray& part : input.split('\0'))
        arguments.append(QString::fromUtf8(part));
    const QString text = ArgumentText(arguments);

    for (const QString& key : {CommandKey::ZulProg, CommandKey::ZulData}) {
        const QString value = KeyValue(text, key);
        FUZZ_CHECK(!value.contains(QLatin1Char('"')), value);
        if (!HasKey(text, key)) {
            FUZZ_CHECK(value.isEmpty(), value);
            continue;
        }
        FUZZ_CHECK(value.isEmpty() || text.contains(value), value);

        // The argument in which the key is found first; each argument's part
        // of the text is what ArgumentText makes of it alone.
        const qsizetype found = text.indexOf(key);
        qsizetype start = 0;
        for (const QString& argument : arguments) {
            const qsizetype partSize = ArgumentText({argument}).size();
            if (found < start + partSize) {
                const QString path = argument.mid(key.size());
                if (found == start && argument.startsWith(key) && !path.isEmpty() && !path.contains(QLatin1Char('"')))
                    FUZZ_CHECK(value == path, QStringLiteral("[%1] gave [%2]").arg(path, value));
                break;
            }
            start += partSize + 1;
        }
    }
    return 0;
}
