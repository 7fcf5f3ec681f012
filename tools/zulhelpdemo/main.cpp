// zulhelpdemo: writes the help file of the demo program folder, ZUL.hlp, in
// Czech: topic 805 (the main window's F1) and the folder chooser it jumps to.
#include "HelpFileWriter.h"

#include <QCoreApplication>
#include <QSaveFile>

#include <cstdio>

namespace {

using namespace HelpWriter;

constexpr int Plain = 0, Bold = 1;

Paragraph text(const QString& line)
{
    return Paragraph{{Span{line}}};
}

HelpContent demoHelp()
{
    HelpContent content;
    content.title = QStringLiteral("Vindo-ZUL");
    content.charset = 238;
    content.lcid = 0x0405;
    content.fonts = {Font{false, false, false, 18}, Font{true, false, false, 24}};

    Topic window{QStringLiteral("Propojení programu s databázemi"), {}};
    window.paragraphs = {
        Paragraph{{Span{QStringLiteral("Propojení programu s databázemi"), Bold}}},
        text(QStringLiteral("Okno připojí tabulky programu ZUL.accdr k datovému souboru ZUL_data.accdb. "
                            "Do horního pole napište cestu k programu, do dolního cestu k datovému souboru; "
                            "tlačítko „...“ vedle pole otevře výběr složky.")),
        text(QStringLiteral("Tlačítko Propojit je dostupné, jen když obě pole ukazují na existující soubory. "
                            "Během propojování ukazuje červený pruh, který datový soubor a která tabulka se právě "
                            "připojuje, okno zůstává nad ostatními a tlačítka čekají na konec.")),
        text(QStringLiteral("Dolní pole si pamatuje dříve použité datové soubory; Ctrl+Delete odstraní zobrazenou "
                            "cestu ze seznamu. Konec zavře program.")),
        Paragraph{{Span{QStringLiteral("Ovládání z klávesnice"), Bold}}},
        text(QStringLiteral("Ctrl+O v poli cesty k programu nebo k databázi otevře výběr složky pro to pole; "
                            "totéž nabízí položka Procházet... (O) v místní nabídce pole (pravé tlačítko myši nebo "
                            "klávesa Menu).")),
        text(QStringLiteral("Alt+Šipka dolů nebo F4 v poli databáze otevře seznam dříve použitých databází. "
                            "Enter v poli programu přejde do pole databáze, Enter v poli databáze na tlačítko "
                            "Propojit. Alt+P propojí, Alt+K ukončí program, F1 otevře tuto nápovědu.")),
        text(QStringLiteral("Čtečka obrazovky ohlásí u každého ovládacího prvku jeho název a popis, během "
                            "propojování průběh jako hodnotu ukazatele a právě propojovanou tabulku.")),
        Paragraph{{Span{QStringLiteral("Jak najít složku se souborem, popisuje téma "), Plain},
                   jump(QStringLiteral("Výběr složky"), "VYBER_SLOZKY"), Span{QStringLiteral(".")}}},
    };
    Topic chooser{QStringLiteral("Výběr složky"), {}};
    chooser.paragraphs = {
        Paragraph{{Span{QStringLiteral("Výběr složky"), Bold}}},
        text(QStringLiteral("Nahoře vyberte jednotku, v levém seznamu otevřete dvojklikem složku. Pravý seznam "
                            "ukazuje hledaný soubor, leží-li ve složce; jen tehdy je dostupné tlačítko OK. "
                            "Storno nebo Esc výběr zruší.")),
        text(QStringLiteral("Soubor se hledá bez ohledu na velká a malá písmena: pro ZUL_data.accdb se najde "
                            "i ZUL_DATA.ACCDB a do pole se vloží jeho skutečný název. Tabulátor přechází mezi "
                            "seznamem složek, tlačítky, seznamem souborů a jednotkou.")),
    };
    content.topics = {window, chooser};
    content.contextMap = {{805, 0}};
    content.contextIds = {{"PROPOJENI", 0}, {"VYBER_SLOZKY", 1}};
    return content;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        std::fputs("Použití: zulhelpdemo SOUBOR   zapíše nápovědu ukázkové složky (ZUL.hlp)\n", stderr);
        return 2;
    }
    QSaveFile file(arguments.at(1));
    if (!file.open(QIODevice::WriteOnly) || file.write(build(demoHelp())) < 0 || !file.commit()) {
        std::fprintf(stderr, "Soubor %s nelze zapsat: %s\n", qPrintable(arguments.at(1)),
                     qPrintable(file.errorString()));
        return 1;
    }
    return 0;
}
