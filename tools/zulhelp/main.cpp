// zulhelp: prints a topic of a help file, or the list of its mapped context
// numbers, as UTF-8 text.
#include "HelpFile.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

const char* const Usage = "Použití:\n"
                          "  zulhelp SOUBOR ČÍSLO      vypíše název a text tématu s kontextovým číslem ČÍSLO\n"
                          "  zulhelp --list SOUBOR     vypíše kontextová čísla souboru s názvy témat\n"
                          "  zulhelp --help            vypíše tento návod\n";

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

int fail(const RunTimeError& error)
{
    print(stderr, QStringLiteral("%1  %2\n").arg(error.number()).arg(error.description()));
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    try {
        if (args.size() == 1 && args[0] == QLatin1String("--help")) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (args.size() == 2 && args[0] == QLatin1String("--list")) {
            const HelpFile help(args[1]);
            for (const HelpContextEntry& entry : help.contextMap())
                print(stdout, QStringLiteral("%1\t%2\n").arg(entry.context).arg(entry.title));
            return 0;
        }
        if (args.size() == 2 && !args[0].startsWith(QLatin1String("--"))) {
            bool ok = false;
            const int context = args[1].toInt(&ok);
            if (!ok)
                throw RunTimeError(HelpError::TopicNotFound,
                                   QStringLiteral("'%1' není kontextové číslo.").arg(args[1]));
            const HelpFile help(args[0]);
            const HelpTopic topic = help.topicByContext(context);
            print(stdout, topic.title + QStringLiteral("\n\n") + topic.plainText() + QStringLiteral("\n"));
            return 0;
        }
        std::fputs(Usage, stderr);
        return 1;
    } catch (const RunTimeError& error) {
        return fail(error);
    }
}
