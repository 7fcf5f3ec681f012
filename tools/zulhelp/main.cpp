// zulhelp: prints a topic of a help file, its contents, keywords or mapped
// context numbers as UTF-8 text, or writes topics as HTML with their pictures
// as PNG files.
#include "Errors.h"
#include "HelpFile.h"
#include "HelpHtml.h"
#include "HelpMetafile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

namespace {

const char* const Usage =
    "Použití:\n"
    "  zulhelp SOUBOR ČÍSLO                 vypíše název a text tématu s kontextovým číslem ČÍSLO\n"
    "  zulhelp --list SOUBOR                vypíše kontextová čísla souboru s názvy témat\n"
    "  zulhelp --contents SOUBOR            vypíše všechna témata: POŘADÍ<TAB>NÁZEV\n"
    "  zulhelp --topic SOUBOR POŘADÍ        vypíše název a text tématu s pořadím POŘADÍ\n"
    "  zulhelp --keywords SOUBOR            vypíše rejstřík: HESLO<TAB>POŘADÍ,...\n"
    "  zulhelp --html SOUBOR POŘADÍ         vypíše téma jako HTML (obrázky jako PNG do aktuální složky)\n"
    "  zulhelp --html-dir SOUBOR SLOŽKA     zapíše všechna témata jako HTML a obrázky jako PNG do složky\n"
    "                                       (index.html: obsah a rejstřík)\n"
    "  zulhelp --help                       vypíše tento návod\n"
    "Volby před příkazem:\n"
    "  --strict                             téma, které nelze přečíst celé, je chyba\n"
    "  --code-page KÓD                      kódová stránka souborů, které žádnou neuvádějí\n"
    "                                       (výchozí windows-1252, pro ZUL.hlp windows-1250)\n";

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

int number(const QString& text, const QString& what)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        throw Errors::notA(text, what);
    return value;
}

QString topicText(const HelpTopic& topic)
{
    return topic.title + QStringLiteral("\n\n") + topic.plainText() + QStringLiteral("\n");
}

// The file's own pictures are shared by topics; embedded ones belong to their topic.
QString pictureName(int order, const QString& picture)
{
    return picture.startsWith(QLatin1String("bm")) ? picture + QStringLiteral(".png")
                                                   : QStringLiteral("%1-%2.png").arg(order).arg(picture);
}

// Writes the topic's page and its pictures into the folder.
// Pictures shared by topics are written once per folder: written holds the names already there.
void writeHtml(const HelpFile& help, const HelpTopic& topic, const QDir& folder, FILE* page, std::set<QString>& written)
{
    auto picture = [&](const QString& id, const HelpImage& image) {
        const QString name = pictureName(topic.order, id);
        if (image.isNull() || !written.insert(name).second)
            return name;
        const QImage out = helpPictureImage(image);
        const QString path = folder.filePath(name);
        if (!out.save(path, "PNG"))
            throw Errors::pictureNotWritten(path);
        return name;
    };
    const HelpHtmlLinks links{[](int order, bool) { return QStringLiteral("%1.html").arg(order); }, picture};
    const QString html = helpTopicHtml(help, topic, links, true);
    if (page) {
        print(page, html);
        return;
    }
    QFile file(folder.filePath(QStringLiteral("%1.html").arg(topic.order)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(html.toUtf8()) < 0)
        throw Errors::fileNotWritten(file.fileName());
}

} // namespace

int main(int argc, char* argv[])
{
    // Drawing metafile pictures needs fonts, hence a GUI application; it runs without a display.
    bool drawing = false;
    for (int i = 1; i < argc; ++i)
        drawing = drawing || std::strcmp(argv[i], "--html") == 0 || std::strcmp(argv[i], "--html-dir") == 0;
    if (drawing && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> app =
        drawing ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QStringList args = app->arguments().mid(1);
    HelpDecoding decoding = HelpDecoding::Lenient;
    QString codePage;
    while (!args.isEmpty()) {
        if (args[0] == QLatin1String("--strict")) {
            decoding = HelpDecoding::Strict;
            args.removeFirst();
        } else if (args[0] == QLatin1String("--code-page") && args.size() > 1) {
            codePage = args[1];
            args.remove(0, 2);
        } else {
            break;
        }
    }
    const QString command = args.value(0);
    // The program's own help file is Czech, whatever else declares nothing is taken as Western.
    const QString helpFile = command.startsWith(QLatin1String("--")) ? args.value(1) : command;
    if (codePage.isEmpty())
        codePage = QFileInfo(helpFile).fileName().compare(QLatin1String("ZUL.hlp"), Qt::CaseInsensitive) == 0
                       ? HelpFile::CzechCodePage
                       : HelpFile::WesternCodePage;
    try {
        if (args.size() == 1 && command == QLatin1String("--help")) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (args.size() == 2 && command == QLatin1String("--list")) {
            const HelpFile help(args[1], codePage);
            for (const HelpContextEntry& entry : help.contextMap())
                print(stdout, QStringLiteral("%1\t%2\n").arg(entry.context).arg(entry.title));
            return 0;
        }
        if (args.size() == 2 && command == QLatin1String("--contents")) {
            const HelpFile help(args[1], codePage);
            for (const HelpContentsEntry& entry : help.contents())
                print(stdout, QStringLiteral("%1\t%2\n").arg(entry.order).arg(entry.title));
            return 0;
        }
        if (args.size() == 2 && command == QLatin1String("--keywords")) {
            const HelpFile help(args[1], codePage);
            for (const HelpKeyword& keyword : help.keywords()) {
                QStringList orders;
                for (const int order : keyword.orders)
                    orders.append(QString::number(order));
                print(stdout, keyword.keyword + QLatin1Char('\t') + orders.join(QLatin1Char(',')) + QLatin1Char('\n'));
            }
            return 0;
        }
        if (args.size() == 3 && command == QLatin1String("--topic")) {
            const int order = number(args[2], QStringLiteral("pořadí tématu"));
            const HelpFile help(args[1], codePage);
            print(stdout, topicText(help.topicByOrder(order, decoding)));
            return 0;
        }
        if (args.size() == 3 && command == QLatin1String("--html")) {
            const int order = number(args[2], QStringLiteral("pořadí tématu"));
            const HelpFile help(args[1], codePage);
            std::set<QString> written;
            writeHtml(help, help.topicByOrder(order, decoding), QDir::current(), stdout, written);
            return 0;
        }
        if (args.size() == 3 && command == QLatin1String("--html-dir")) {
            const HelpFile help(args[1], codePage);
            const QDir folder(args[2]);
            if (!folder.exists() && !QDir().mkpath(args[2]))
                throw Errors::folderNotCreated(args[2]);
            std::set<QString> written;
            for (int order = 1; order <= help.topicCount(); ++order)
                writeHtml(help, help.topicByOrder(order, decoding), folder, nullptr, written);
            QFile index(folder.filePath(QStringLiteral("index.html")));
            const QByteArray page =
                helpIndexHtml(help, [](int order) { return QStringLiteral("%1.html").arg(order); }).toUtf8();
            if (!index.open(QIODevice::WriteOnly | QIODevice::Truncate) || index.write(page) != page.size())
                throw Errors::fileNotWritten(index.fileName());
            return 0;
        }
        if (args.size() == 2 && !command.startsWith(QLatin1String("--"))) {
            const int context = number(args[1], QStringLiteral("kontextové číslo"));
            const HelpFile help(args[0], codePage);
            print(stdout, topicText(help.topicByContext(context, decoding)));
            return 0;
        }
        std::fputs(Usage, stderr);
        return 1;
    } catch (const RunTimeError& error) {
        return fail(error);
    }
}
