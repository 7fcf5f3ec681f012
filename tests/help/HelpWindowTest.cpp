#include "HelpWindow.h"
#include "HelpFileWriter.h"

#include "HelpFile.h"
#include "HelpHtml.h"
#include "HelpPicture.h"

#include <QAbstractTextDocumentLayout>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextTable>
#include <QTreeWidget>
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
        content.topics = {
            Topic{QStringLiteral("Nápověda"),
                  {Paragraph{{span(QStringLiteral("Nápověda"), 1)}}, Paragraph{{span(QStringLiteral("Text."))}}}}};
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

    // A real file: its first topic with a picture, a followed jump, Back, the
    // contents and the index; the picture is drawn where the text puts it.
    void realFileBrowsesLikeAHelpViewer()
    {
        const QString path = QStringLiteral(DIVADEDADI_CORPUS "/fr_xgui40.hlp");
        if (!QFileInfo::exists(path))
            QSKIP("skipped: corpus not present");
        QWidget owner;
        RecordingDesktop desktop;
        HelpWindowViewer viewer(&owner, desktop);
        QElapsedTimer timer;
        timer.start();
        viewer.showHelpTopic(path, 9999);
        qInfo("help window opened topic 1 of fr_xgui40.hlp in %lld ms", timer.elapsed());
        QVERIFY(desktop.events.isEmpty());
        QTextBrowser* browser = viewer.browser();
        QCOMPARE(viewer.currentTopic(), 1);
        // The title stands in the region that does not scroll, the text below it.
        QCOMPARE(viewer.nonScrolling()->toPlainText(), QStringLiteral("x-GUI DLL v0.2 Beta"));
        QVERIFY(viewer.nonScrolling()->isVisible());
        QVERIFY(browser->toPlainText().contains(QStringLiteral("How to use the DLL")));
        QCOMPARE(formatOf(browser, QStringLiteral("Commands")).fontWeight(), int(QFont::Bold));
        QCOMPARE(formatOf(browser, QStringLiteral("Commands")).font().pointSize(), 8);
        auto* back = viewer.window()->findChild<QPushButton*>(QStringLiteral("helpBackButton"));
        QCOMPARE(back->text(), QStringLiteral("&Zpět"));
        QVERIFY(!back->isEnabled());

        // The picture |bm0: a pixel of the bitmap's colour where the text puts it.
        viewer.window()->resize(700, 900);
        QTextCursor image(browser->document());
        while (!image.atEnd() && !image.charFormat().isImageFormat())
            image.movePosition(QTextCursor::NextCharacter);
        QVERIFY(image.charFormat().isImageFormat());
        browser->setTextCursor(image);
        browser->ensureCursorVisible();
        const QImage drawn = browser->viewport()->grab().toImage();
        const HelpFile file(path);
        const HelpImage bitmap = file.picture(QStringLiteral("bm0"), file.topicByOrder(1));
        // Where the bitmap's pixels stand in the window: they must lie in the picture's own line.
        const QList<QPoint> samples = {{10, 25}, {0, 0}, {44, 15}, {87, 30}, {60, 5}};
        QPoint found(-1, -1);
        for (int y = 0; y + bitmap.height <= drawn.height() && found.x() < 0; ++y) {
            for (int x = 0; x + bitmap.width <= drawn.width() && found.x() < 0; ++x) {
                bool all = true;
                for (const QPoint& p : samples)
                    all = all && drawn.pixel(x + p.x(), y + p.y()) == bitmap.pixels[p.y() * bitmap.width + p.x()];
                if (all)
                    found = QPoint(x, y);
            }
        }
        QVERIFY2(found.x() >= 0, "the picture is not drawn");
        // The picture stands at the left margin (bml) and floats beside its own line.
        QRectF line = browser->document()->documentLayout()->blockBoundingRect(image.block());
        line.translate(0, -browser->verticalScrollBar()->value());
        line.adjust(0, -2, 0, bitmap.height + 2);
        QVERIFY2(line.contains(QPointF(found) + QPointF(1, 1)) && found.x() <= 16,
                 qPrintable(QStringLiteral("drawn at %1,%2, line %3,%4 %5x%6")
                                .arg(found.x())
                                .arg(found.y())
                                .arg(line.x())
                                .arg(line.y())
                                .arg(line.width())
                                .arg(line.height())));

        // A jump, then Back.
        const QTextCharFormat link = formatOf(browser, QStringLiteral("Editbox control"));
        QVERIFY(link.isAnchor());
        emit browser->anchorClicked(QUrl(link.anchorHref()));
        QCOMPARE(viewer.currentTopic(), 3);
        QVERIFY(viewer.nonScrolling()->toPlainText().startsWith(QStringLiteral("Editbox control")));
        QVERIFY(back->isEnabled());
        back->click();
        QCOMPARE(viewer.currentTopic(), 1);
        QVERIFY(!back->isEnabled());

        // The contents: every topic in file order.
        viewer.window()->findChild<QPushButton*>(QStringLiteral("helpContentsButton"))->click();
        auto* contents = viewer.window()->findChild<QTreeWidget*>(QStringLiteral("helpContents"));
        QVERIFY(contents->isVisible());
        QCOMPARE(contents->topLevelItemCount(), 19);
        QCOMPARE(contents->topLevelItem(1)->text(0), QStringLiteral("How to use the DLL"));
        emit contents->itemActivated(contents->topLevelItem(1), 0);
        QCOMPARE(viewer.currentTopic(), 2);
        QVERIFY(browser->isVisible());

        // The index with its filter.
        viewer.window()->findChild<QPushButton*>(QStringLiteral("helpIndexButton"))->click();
        auto* filter = viewer.window()->findChild<QLineEdit*>(QStringLiteral("helpIndexFilter"));
        QTest::keyClicks(filter, QStringLiteral("creat"));
        QTest::keyClick(filter, Qt::Key_Return);
        QCOMPARE(viewer.currentTopic(), 13);
        QVERIFY(browser->toPlainText().contains(QStringLiteral("Create")));
        back->click();
        QCOMPARE(viewer.currentTopic(), 2);
    }

    // Every keyword of real files reaches each of its topics from the index: one topic opens at once,
    // several are listed under "Nalezená témata" in file order and each opens from there.
    void everyKeywordLeadsToEachOfItsTopics_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("keywords");
        QTest::addColumn<int>("severalTopics"); // keywords with more than one topic, counted from the raw index
        QTest::newRow("calculator") << QStringLiteral("de_calc31u.hlp") << 41 << 12;
        QTest::newRow("setup") << QStringLiteral("en_sierrasetup31.hlp") << 75 << 5;
        QTest::newRow("file manager") << QStringLiteral("en_winfile31.hlp") << 113 << 7;
        QTest::newRow("component library") << QStringLiteral("ru_rxlib40h.hlp") << 3366 << 55;
    }
    void everyKeywordLeadsToEachOfItsTopics()
    {
        QFETCH(QString, name);
        QFETCH(int, keywords);
        QFETCH(int, severalTopics);
        const QString path = QStringLiteral(DIVADEDADI_CORPUS "/") + name;
        if (!QFileInfo::exists(path))
            QSKIP("skipped: corpus not present");
        const HelpFile file(path);
        const QList<HelpKeyword> index = file.keywords();
        QWidget owner;
        RecordingDesktop desktop;
        HelpWindowViewer viewer(&owner, desktop);
        viewer.showHelpContents(path);
        QCOMPARE(viewer.currentTopic(), 1);
        viewer.showIndex();
        auto* list = viewer.window()->findChild<QListWidget*>(QStringLiteral("helpIndex"));
        QListWidget* topics = viewer.indexTopics();
        QCOMPARE(list->count(), keywords);
        QCOMPARE(
            int(std::count_if(index.begin(), index.end(), [](const HelpKeyword& k) { return k.orders.size() > 1; })),
            severalTopics);
        const QStringList titles = file.topicTitles();
        int opened = 0;
        for (int row = 0; row < list->count(); ++row) {
            QListWidgetItem* item = list->item(row);
            QCOMPARE(item->text(), index[row].keyword);
            list->setCurrentItem(item);
            QCOMPARE(topics->count(), index[row].orders.size());
            for (int i = 0; i < topics->count(); ++i)
                QCOMPARE(topics->item(i)->text(), titles.value(index[row].orders[i] - 1));
            if (index[row].orders.size() == 1) {
                // Opening every topic of the large file would only repeat the same path.
                if (row % 50 == 0 || list->count() < 200) {
                    viewer.showIndex();
                    emit list->itemActivated(item);
                    QCOMPARE(viewer.currentTopic(), index[row].orders.first());
                    ++opened;
                }
                continue;
            }
            viewer.showIndex();
            emit list->itemActivated(item);
            QCOMPARE(topics->currentRow(), 0); // the choice is offered, nothing opened yet
            for (int i = 0; i < topics->count(); ++i) {
                viewer.showIndex();
                list->setCurrentItem(item);
                emit topics->itemActivated(topics->item(i));
                QCOMPARE(viewer.currentTopic(), index[row].orders[i]);
                ++opened;
            }
        }
        QVERIFY(opened >= severalTopics * 2);
        QVERIFY(desktop.events.isEmpty());
    }

    // Real topics laid out as their records say: a hanging indent whose wrapped lines start where the
    // text after the tab starts (not at the left margin), a table without borders and with the
    // file's column widths, and the region that does not scroll shown apart.
    void realTopicsKeepTheirParagraphLayout()
    {
        const QString winfile = QStringLiteral(DIVADEDADI_CORPUS "/en_winfile31.hlp");
        const QString rxlib = QStringLiteral(DIVADEDADI_CORPUS "/ru_rxlib40h.hlp");
        if (!QFileInfo::exists(winfile) || !QFileInfo::exists(rxlib))
            QSKIP("skipped: corpus not present");
        QWidget owner;
        RecordingDesktop desktop;
        HelpWindowViewer viewer(&owner, desktop);
        viewer.showHelpContents(winfile);
        viewer.window()->resize(420, 600);
        viewer.openTopic(11);
        QTextBrowser* browser = viewer.browser();
        const QTextCursor found =
            browser->document()->find(QStringLiteral("Or select the directory you want to expand in"));
        QVERIFY(!found.isNull());
        const QTextBlock block = found.block();
        QTextLayout* layout = block.layout();
        QVERIFY2(layout->lineCount() >= 2, "the paragraph wraps");
        const int afterTab = int(block.text().indexOf(QLatin1Char('\t'))) + 1;
        QVERIFY(afterTab > 0);
        const qreal textStart = layout->lineAt(0).cursorToX(afterTab);
        const qreal secondLine = layout->lineAt(1).x();
        // Left indent 40 half points (27 px), first line 27 half points (18 px) further left.
        QVERIFY2(std::abs(textStart - secondLine) <= 1,
                 qPrintable(QStringLiteral("%1 %2").arg(textStart).arg(secondLine)));
        QCOMPARE(qRound(block.blockFormat().leftMargin()), 26);
        QCOMPARE(qRound(block.blockFormat().textIndent()), -18);
        QCOMPARE(block.blockFormat().tabPositions().size(), 1);
        // Spacing below the paragraph (6 half points) and above the heading (12).
        QCOMPARE(qRound(block.blockFormat().bottomMargin()), 4);
        QVERIFY(!viewer.nonScrolling()->isVisible()); // this file has no region that does not scroll

        // A table of the component library: no borders, the first column 295 half points wide.
        viewer.showHelpContents(rxlib);
        viewer.openTopic(10);
        QTextCursor cell = viewer.browser()->document()->find(QStringLiteral("Properties"));
        QTextTable* table = nullptr;
        for (QTextCursor c(viewer.browser()->document()); !c.atEnd() && !table;
             c.movePosition(QTextCursor::NextBlock)) {
            table = c.currentTable();
            if (c.block().next() == c.block())
                break;
        }
        QVERIFY(table);
        QCOMPARE(table->format().border(), 0.0);
        const QList<QTextLength> widths = table->format().columnWidthConstraints();
        if (!widths.isEmpty())
            QCOMPARE(qRound(widths.first().rawValue()), (295 + 1) * 10 / 15);
        QVERIFY(!viewer.nonScrolling()->isVisible());
        Q_UNUSED(cell);

        // A class's topic: its heading and the line of jumps below it stand still, the text scrolls.
        viewer.openTopic(7);
        QVERIFY(viewer.nonScrolling()->isVisible());
        QVERIFY(viewer.nonScrolling()->toPlainText().contains(QStringLiteral("TAnimatedCursorImage Class")));
        QVERIFY(viewer.nonScrolling()->toPlainText().contains(QStringLiteral("Hierarchy")));
        QVERIFY(!viewer.browser()->toPlainText().contains(QStringLiteral("TAnimatedCursorImage Class")));
        QVERIFY(!viewer.browser()->toPlainText().isEmpty());
        QCOMPARE(viewer.nonScrolling()->palette().color(QPalette::Base).name(), QStringLiteral("#ffffe8"));
    }

    // Links of real topics look as the platform's viewer draws them, and their pop-ups fit their
    // text: no wider than two thirds of the screen, tall enough to show it all, closed by a click or Esc.
    void popupsFitTheirTextAndLinksAreStyled_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("order");
        QTest::addColumn<QString>("popupLink");
        QTest::addColumn<QString>("popupText");
        QTest::addColumn<bool>("escape"); // closed by Esc, else by a click on its text
        QTest::newRow("setup glossary") << QStringLiteral("en_sierrasetup31.hlp") << 3 << QStringLiteral("WAVE")
                                        << QStringLiteral("WAVE") << false;
        QTest::newRow("class hierarchy") << QStringLiteral("ru_rxlib40h.hlp") << 7 << QStringLiteral("Hierarchy")
                                         << QStringLiteral("TObject") << true;
        QTest::newRow("file manager") << QStringLiteral("en_winfile31.hlp") << 52 << QStringLiteral(" From")
                                      << QString() << true;
    }
    void popupsFitTheirTextAndLinksAreStyled()
    {
        QFETCH(QString, name);
        QFETCH(int, order);
        QFETCH(QString, popupLink);
        QFETCH(QString, popupText);
        QFETCH(bool, escape);
        const QString path = QStringLiteral(DIVADEDADI_CORPUS "/") + name;
        if (!QFileInfo::exists(path))
            QSKIP("skipped: corpus not present");
        QWidget owner;
        RecordingDesktop desktop;
        HelpWindowViewer viewer(&owner, desktop);
        viewer.showHelpContents(path);
        viewer.openTopic(order);
        QTextBrowser* where =
            viewer.nonScrolling()->document()->find(popupLink).isNull() ? viewer.browser() : viewer.nonScrolling();
        const QTextCharFormat popupFormat = formatOf(where, popupLink);
        QVERIFY(popupFormat.isAnchor());
        QVERIFY(popupFormat.anchorHref().startsWith(QStringLiteral("popup:")));
        QCOMPARE(popupFormat.underlineStyle(), QTextCharFormat::DotLine);
        QCOMPARE(popupFormat.foreground().color().name(), QStringLiteral("#008000"));
        // Every jump of the topic: green, a solid underline.
        int jumps = 0;
        for (QTextBrowser* browser : {viewer.browser(), viewer.nonScrolling()}) {
            for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
                for (auto it = block.begin(); !it.atEnd(); ++it) {
                    const QTextCharFormat format = it.fragment().charFormat();
                    if (!format.isAnchor() || !format.anchorHref().startsWith(QStringLiteral("topic:")))
                        continue;
                    QCOMPARE(format.underlineStyle(), QTextCharFormat::SingleUnderline);
                    QCOMPARE(format.foreground().color().name(), QStringLiteral("#008000"));
                    ++jumps;
                }
            }
        }
        Q_UNUSED(jumps);

        emit where->anchorClicked(QUrl(popupFormat.anchorHref()));
        QTextBrowser* popup = viewer.popup();
        QVERIFY(popup && popup->isVisible());
        if (!popupText.isEmpty())
            QVERIFY(popup->toPlainText().contains(popupText));
        const QRect screen = viewer.window()->screen()->availableGeometry();
        QVERIFY(popup->window()->width() <= screen.width() * 2 / 3 + 8);
        // All of the text shows: the document fits the viewport, no scroll bar.
        QVERIFY2(
            popup->document()->size().height() <= popup->viewport()->height() + 1,
            qPrintable(
                QStringLiteral("%1 > %2").arg(popup->document()->size().height()).arg(popup->viewport()->height())));
        QVERIFY(popup->document()->size().width() <= popup->viewport()->width() + 1);
        QVERIFY(!popup->verticalScrollBar()->isVisible());
        // A short text makes a narrow pop-up, not a fixed-size box.
        if (popup->toPlainText().size() < 40)
            QVERIFY(popup->window()->width() < 380);
        if (escape)
            QTest::keyClick(popup, Qt::Key_Escape);
        else
            QTest::mouseClick(popup->viewport(), Qt::LeftButton, {},
                              QPoint(popup->viewport()->width() - 2, popup->viewport()->height() - 2));
        QVERIFY(!popup->isVisible());
        QCOMPARE(viewer.currentTopic(), order);
    }

    // A segmented picture's hot spots: read from the picture file, an image map in the page whose
    // areas lead where text links do, and in the window a hand over a spot and a click that jumps or
    // pops up; a macro spot leads nowhere. The spot is found on the screen by its colour.
    void pictureHotspotsJumpOrPopUp_data()
    {
        QTest::addColumn<int>("placement");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("packing");
        QTest::addColumn<int>("target"); // order of the topic the spot leads to
        QTest::newRow("jump in the text") << 0x86 << 0xE3 << 0 << 2;
        QTest::newRow("pop-up at the left margin") << 0x87 << 0xE2 << 2 << 3;
        QTest::newRow("jump at the right margin") << 0x88 << 0xE3 << 3 << 3;
    }
    void pictureHotspotsJumpOrPopUp()
    {
        QFETCH(int, placement);
        QFETCH(int, type);
        QFETCH(int, packing);
        QFETCH(int, target);
        const QByteArray context = target == 2 ? "SOUBORY" : "POJEM";
        // Blue, the spot red, the macro's spot green.
        const QRect spot(10, 8, 20, 12), macro(32, 2, 6, 6);
        QList<QList<quint32>> rows(30, QList<quint32>(40, 0x0000FF));
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 40; ++x)
                rows[y][x] = spot.contains(x, y) ? 0xFF0000 : macro.contains(x, y) ? 0x00FF00 : 0x0000FF;
        }
        const QByteArray picture =
            bitmapFile(40, 30, 24, {}, rows, packing,
                       {Hotspot{quint8(type), spot.x(), spot.y(), spot.width(), spot.height(), context, "spot"},
                        Hotspot{0xC8, macro.x(), macro.y(), macro.width(), macro.height(), "About()"}});
        const HelpImage image = decodeHelpPicture(picture);
        QCOMPARE(image.hotspots.size(), 2);
        const HelpHotspot& read = image.hotspots[0];
        QCOMPARE(QRect(read.x, read.y, read.width, read.height), spot);
        QCOMPARE(read.kind, type == 0xE2 ? HelpHotspot::Kind::Popup : HelpHotspot::Kind::Jump);
        QCOMPARE(read.contextHash, HelpFile::contextHash(context));
        QCOMPARE(read.name, QStringLiteral("spot"));
        QCOMPARE(image.hotspots[1].kind, HelpHotspot::Kind::Macro);

        HelpContent content;
        content.topics = {
            Topic{QStringLiteral("Obrázek"),
                  {Paragraph{{span(QStringLiteral("Text před obrázkem. ")),
                              Span{QStringLiteral(" a za ním."), 0, 0, 0, pictureCommand(0, quint8(placement))}}},
                   Paragraph{{span(QStringLiteral("Další odstavec."))}}}},
            Topic{QStringLiteral("Soubory"), {Paragraph{{span(QStringLiteral("Seznam souborů."))}}}},
            Topic{QStringLiteral("Pojem"), {Paragraph{{span(QStringLiteral("Vysvětlení pojmu."))}}}}};
        content.contextMap = {{805, 0}};
        content.contextIds = {{"SOUBORY", 1}, {"POJEM", 2}};
        content.files = {{"|bm0", picture}};
        const QString path = writeHelp(build(content), QStringLiteral("obrazek.hlp"));

        // The page: one area (the macro has none) with the link's address, the picture using the map.
        const HelpFile file(path);
        const HelpHtmlLinks links{[](int order, bool) { return QStringLiteral("%1.html").arg(order); },
                                  [](const QString& id, const HelpImage&) { return id + QStringLiteral(".png"); }};
        const QString page = helpTopicHtml(file, file.topicByOrder(1), links, true);
        QCOMPARE(page.count(QStringLiteral("<area ")), 1);
        QVERIFY2(
            page.contains(QStringLiteral("<area shape=\"rect\" coords=\"10,8,30,20\" href=\"%1.html\"").arg(target)),
            qPrintable(page));
        QVERIFY(page.contains(QStringLiteral("usemap=\"#map-bm0\"")) &&
                page.contains(QStringLiteral("<map name=\"map-bm0\">")));

        QWidget owner;
        RecordingDesktop desktop;
        HelpWindowViewer viewer(&owner, desktop);
        viewer.showHelpTopic(path, 805);
        QVERIFY(QTest::qWaitForWindowExposed(viewer.window()));
        QWidget* viewport = viewer.browser()->viewport();
        const QImage shown = viewport->grab().toImage();
        QRect red, blue;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb pixel = shown.pixel(x, y) & 0xFFFFFF;
                red |= pixel == 0xFF0000 ? QRect(x, y, 1, 1) : QRect();
                blue |= pixel == 0x0000FF ? QRect(x, y, 1, 1) : QRect();
            }
        }
        QCOMPARE(red.size(), spot.size());
        QCOMPARE(blue.size(), QSize(40, 30));
        QTest::mouseMove(viewport, blue.topLeft() + QPoint(2, 2));
        QVERIFY(viewport->cursor().shape() != Qt::PointingHandCursor);
        QTest::mouseMove(viewport, red.center());
        QCOMPARE(viewport->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseMove(viewport, blue.topLeft() + QPoint(2, 2));
        QVERIFY(viewport->cursor().shape() != Qt::PointingHandCursor);
        // The macro's spot, the rest of the picture and a press that leaves the spot do nothing.
        QTest::mouseClick(viewport, Qt::LeftButton, {}, blue.topLeft() + macro.center());
        QTest::mouseClick(viewport, Qt::LeftButton, {}, blue.topLeft() + QPoint(2, 2));
        QTest::mousePress(viewport, Qt::LeftButton, {}, red.center());
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, blue.topLeft() + QPoint(2, 2));
        QCOMPARE(viewer.currentTopic(), 1);
        QVERIFY(!viewer.popup());
        QTest::mouseClick(viewport, Qt::LeftButton, {}, red.center());
        if (type == 0xE2) {
            QVERIFY(viewer.popup() && viewer.popup()->isVisible());
            QCOMPARE(viewer.popup()->toPlainText(), QStringLiteral("Pojem\nVysvětlení pojmu."));
            QCOMPARE(viewer.currentTopic(), 1);
        } else {
            QCOMPARE(viewer.currentTopic(), target);
            QVERIFY(viewport->cursor().shape() != Qt::PointingHandCursor); // the new topic has no spot there
        }
        QVERIFY(desktop.events.isEmpty());
    }

    // The .cnt file beside the help file makes the contents; a pop-up jump
    // shows its topic in the small window and leaves the topic shown.
    void contentsFileBesideAndPopups()
    {
        HelpContent content;
        content.charset = 238;
        content.topics = {
            Topic{QStringLiteral("Propojení"),
                  {Paragraph{{span(QStringLiteral("Viz ")), jump(QStringLiteral("pojem"), "POJEM", 0, true)}}}},
            Topic{QStringLiteral("Pojem"), {Paragraph{{span(QStringLiteral("Vysvětlení pojmu."))}}}},
            Topic{QStringLiteral("Soubory"), {Paragraph{{span(QStringLiteral("Seznam."))}}}}};
        content.contextMap = {{805, 0}};
        content.contextIds = {{"PROPOJENI", 0}, {"POJEM", 1}, {"SOUBORY", 2}};
        const QString path = writeHelp(build(content), QStringLiteral("obsah.hlp"));
        writeHelp(encode(QStringLiteral(":Base obsah.hlp\r\n:Title Nápověda\r\n1 Začínáme\r\n2 Propojení=PROPOJENI\r\n"
                                        "2 Cizí=CIZI@jiny.hlp\r\n1 Soubory=SOUBORY\r\n")),
                  QStringLiteral("OBSAH.CNT"));
        QWidget owner;
        RecordingDesktop desktop;
        HelpWindowViewer viewer(&owner, desktop);
        viewer.showHelpTopic(path, 805);
        auto* tree = viewer.window()->findChild<QTreeWidget*>(QStringLiteral("helpContents"));
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("Začínáme"));
        QCOMPARE(tree->topLevelItem(0)->childCount(), 1);
        QCOMPARE(tree->topLevelItem(1)->text(0), QStringLiteral("Soubory"));
        emit tree->itemActivated(tree->topLevelItem(1), 0);
        QCOMPARE(viewer.currentTopic(), 3);
        emit tree->itemActivated(tree->topLevelItem(0)->child(0), 0);
        QCOMPARE(viewer.currentTopic(), 1);

        const QTextCharFormat link = formatOf(viewer.browser(), QStringLiteral("pojem"));
        QVERIFY(link.isAnchor());
        emit viewer.browser()->anchorClicked(QUrl(link.anchorHref()));
        QVERIFY(viewer.popup());
        QVERIFY(viewer.popup()->isVisible());
        QCOMPARE(viewer.popup()->toPlainText(), QStringLiteral("Pojem\nVysvětlení pojmu."));
        QCOMPARE(viewer.currentTopic(), 1);
        QVERIFY(desktop.events.isEmpty());
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
