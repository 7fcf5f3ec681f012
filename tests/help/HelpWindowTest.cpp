#include "HelpFileWriter.h"
#include "HelpWindow.h"

#include "HelpFile.h"

#include <QDialog>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QWidget>

using namespace HelpWriter;

class HelpWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

    static Span span(const QString& text, int font = 0) { return Span{text, font, 0, 0}; }

    QString writeHelp(const QByteArray& data, const QString& name = QStringLiteral("ZUL.hlp"))
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        file.write(data);
        return path;
    }

    static QTextCharFormat formatOf(QTextBrowser* browser, const QString& text)
    {
        const QTextCursor found = browser->document()->find(text);
        return found.isNull() ? QTextCharFormat() : found.charFormat();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        HelpContent content;
        content.title = QStringLiteral("Nápověda DIVadedadi");
        content.lz77 = true;
        content.topics = {
            Topic{QStringLiteral("Propojení databází"),
                  {Paragraph{{span(QStringLiteral("Tlačítko ")), span(QStringLiteral("Propojit"), 1),
                              span(QStringLiteral(" propojí ")), span(QStringLiteral("všechny tabulky"), 2),
                              span(QStringLiteral("."))}},
                   Paragraph{{span(QStringLiteral("Viz ")),
                              Span{QStringLiteral("seznam souborů"), 0, 0xE3, HelpFile::contextHash("SOUBORY")}}}}},
            Topic{QStringLiteral("Seznam souborů"), {Paragraph{{span(QStringLiteral("Soubor ZUL_db.accdb."))}}}}};
        content.contextMap = {{805, 0}};
        content.contextIds = {{"SOUBORY", 1}};
        m_path = writeHelp(build(content));
        QVERIFY(!m_path.isEmpty());
    }

    void showsTopic805InANonModalWindowOfTheOwner()
    {
        QWidget owner;
        RecordingDesktop desktop;
        HelpWindowViewer viewer(&owner, desktop);
        viewer.showHelpTopic(m_path, 805);

        QVERIFY(desktop.events.isEmpty());
        QDialog* window = viewer.window();
        QVERIFY(window);
        QCOMPARE(window->parentWidget(), &owner);
        QVERIFY(window->isVisible());
        QVERIFY(!window->isModal());
        QCOMPARE(window->windowTitle(), QStringLiteral("Nápověda DIVadedadi"));
        QCOMPARE(viewer.browser()->toPlainText(), QStringLiteral("Propojení databází\n"
                                                                 "Tlačítko Propojit propojí všechny tabulky.\n"
                                                                 "Viz seznam souborů"));
        QCOMPARE(formatOf(viewer.browser(), QStringLiteral("Propojit")).fontWeight(), int(QFont::Bold));
        QVERIFY(!formatOf(viewer.browser(), QStringLiteral("Propojit")).fontItalic());
        QVERIFY(formatOf(viewer.browser(), QStringLiteral("všechny tabulky")).fontItalic());
        QCOMPARE(formatOf(viewer.browser(), QStringLiteral("Tlačítko")).fontWeight(), int(QFont::Normal));

        // A second call reuses the one window.
        viewer.showHelpTopic(m_path, 805);
        QCOMPARE(owner.findChildren<QDialog*>().size(), 1);
    }

    void followsAJumpToAnotherTopic()
    {
        QWidget owner;
        RecordingDesktop desktop;
        HelpWindowViewer viewer(&owner, desktop);
        viewer.showHelpTopic(m_path, 805);
        QTextBrowser* browser = viewer.browser();
        QVERIFY(browser);
        const QTextCharFormat link = formatOf(browser, QStringLiteral("seznam souborů"));
        QVERIFY(link.isAnchor());
        emit browser->anchorClicked(QUrl(link.anchorHref()));
        QCOMPARE(browser->toPlainText(), QStringLiteral("Seznam souborů\nSoubor ZUL_db.accdb."));
        QVERIFY(desktop.events.isEmpty());
    }

    void titleRepeatedInTheTextIsShownOnce()
    {
        HelpContent content;
        content.topics = {Topic{QStringLiteral("Nápověda"), {Paragraph{{span(QStringLiteral("Nápověda"), 1)}},
                                                           Paragraph{{span(QStringLiteral("Text."))}}}}};
        content.contextMap = {{805, 0}};
        const QString path = writeHelp(build(content), QStringLiteral("titul.hlp"));
        QWidget owner;
        RecordingDesktop desktop;
        HelpWindowViewer viewer(&owner, desktop);
        viewer.showHelpTopic(path, 805);
        QVERIFY(viewer.window());
        // No title in the system data: the topic's title names the window.
        QCOMPARE(viewer.window()->windowTitle(), QStringLiteral("Nápověda"));
        QCOMPARE(viewer.browser()->toPlainText(), QStringLiteral("Nápověda\nText."));
    }

    void failuresShowTheViewersMessageBoxAndNoWindow_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("context");
        QTest::addColumn<QString>("box");
        const QString missing = m_dir.filePath(QStringLiteral("chybi/ZUL.hlp"));
        QTest::newRow("missing") << missing << 805
                                 << QStringLiteral("box !|Nápověda|Soubor nápovědy '%1' nebyl nalezen.").arg(missing);
        const QString other = writeHelp("[MAIN]\n", QStringLiteral("ZUL.ini"));
        QTest::newRow("other format") << other << 805
                                      << QStringLiteral("box !|Nápověda|Soubor '%1' není soubor nápovědy.").arg(other);
        QTest::newRow("unmapped") << m_path << 806
                                  << QStringLiteral("box !|Nápověda|Téma 806 v souboru nápovědy nebylo nalezeno.");
        QFile source(m_path);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QString cut = writeHelp(source.readAll().left(300), QStringLiteral("cut.hlp"));
        QTest::newRow("damaged") << cut << 805
                                 << QStringLiteral("box !|Nápověda|Soubor nápovědy '%1' je poškozen.").arg(cut);
    }

    void failuresShowTheViewersMessageBoxAndNoWindow()
    {
        QFETCH(QString, file);
        QFETCH(int, context);
        QFETCH(QString, box);
        QWidget owner;
        RecordingDesktop desktop;
        HelpWindowViewer viewer(&owner, desktop);
        viewer.showHelpTopic(file, context);
        QCOMPARE(desktop.events, QStringList{box});
        QVERIFY(!viewer.window());
        QVERIFY(owner.findChildren<QDialog*>().isEmpty());
    }
};

QTEST_MAIN(HelpWindowTest)
#include "HelpWindowTest.moc"
