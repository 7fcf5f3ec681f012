#include "frmMain.h"

#include "Controls.h"
#include "DBEngine.h"
#include "Globals.h"
#include "ListFile.h"
#include "OnTop.h"
#include "Paths.h"
#include "ProgressBarColor.h"
#include "QtDesktopServices.h"
#include "TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

class RecordingHelp : public HelpViewer {
public:
    void showHelpTopic(const QString& helpFile, int context) override
    {
        calls.append(helpFile + QLatin1Char('|') + QString::number(context));
    }
    QStringList calls;
};

QRgb pixel(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFF;
}

} // namespace

class FrmMainTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layoutFollowsTheDesign();
    void designTextsAndSettings();
    void buttonsStandEitherSideOfTheMiddle_data();
    void buttonsStandEitherSideOfTheMiddle();
    void linkButtonFollowsBothPaths();
    void keystrokeCompletingAPathEnablesTheButton();
    void linkButtonStaysOffDuringARun();
    void enterMovesTheFocusWithoutStartingTheRun();
    void f1ShowsHelpFromAnyControl_data();
    void f1ShowsHelpFromAnyControl();
    void ctrlDeleteRemovesThePathFromTheList();
    void gradientRunsFromBlackToBlue();
    void shortenedWindowKeepsTheGradient();
    void setOnTopValues_data();
    void setOnTopValues();
    void barColourIsTheRedOfThePanel();
    void focusOnAHiddenOrDisabledButtonFails();
    void exitButtonEndsTheProcess();
    void closingIsRefusedDuringARun();
    void comboViewKeepsTheEditText();
    void cleanRunRestoresTheWindow();
    void failedUnattendedRunLeavesTheShortWindowOpen();
    void runAfterAnAutomaticBrowseEndsTheProcess();
    void pointerIsAPropertyNotAStack();
    void messageBoxHasIconTitleAndOneButton();
    void messageBoxIsCentred_data();
    void messageBoxIsCentred();
    void statusLineCutsLongPathsInTheMiddle();
    void focusRectangleShowsOnButtonsAndPanel();

private:
    QTemporaryDir* m_dir = nullptr;
    RecordingDesktop m_desktop;
    RecordingHelp m_help;
    frmMain* m_window = nullptr;

    // A program file and a data file with Osoby and Obce; the program file
    // holds a local Obce when localNamesake is set.
    void makeFiles(bool localNamesake);
    template <typename T> T* control(const char* name) { return m_window->findChild<T*>(QLatin1String(name)); }
    QString file(const QString& name) const { return m_dir->filePath(name); }
};

void FrmMainTest::init()
{
    resetGlobals();
    clearProcessEndRequest();
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    setProgramDirOverride(m_dir->path());
    gIniPath = file(QStringLiteral("INI/ZUL.ini"));
    gListDbPath = file(QStringLiteral("ZUL_db.accdb"));
    m_desktop.clear();
    m_help.calls.clear();
    m_window = new frmMain(m_desktop, m_help);
}

void FrmMainTest::cleanup()
{
    delete m_window;
    m_window = nullptr;
    setProgramDirOverride(QString());
    delete m_dir;
    m_dir = nullptr;
}

void FrmMainTest::layoutFollowsTheDesign()
{
    QCOMPARE(m_window->size(), QSize(663, 180));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    QCOMPARE(control<QWidget>("Picture1")->geometry(), QRect(0, 0, 663, 180));
    QCOMPARE(control<QLabel>("Label1")->geometry(), QRect(5, 16, 211, 18));
    QCOMPARE(control<QLineEdit>("Text1")->geometry(), QRect(212, 11, 415, 23));
    QCOMPARE(control<QPushButton>("btnBrowse0")->geometry(), QRect(633, 11, 23, 23));
    QCOMPARE(control<QComboBox>("cboDB")->geometry(), QRect(212, 35, 415, 23));
    QCOMPARE(control<QPushButton>("btnBrowse1")->geometry(), QRect(633, 37, 23, 23));
    QCOMPARE(control<QWidget>("Picture2")->geometry(), QRect(6, 71, 647, 25));
    QCOMPARE(control<QLabel>("lblDB")->geometry(), QRect(2, 2, 323, 17));
    QCOMPARE(control<QLabel>("lblTabulka")->geometry(), QRect(412, 2, 222, 17));
    QCOMPARE(control<QProgressBar>("ProgressBar1")->geometry(), QRect(6, 102, 647, 17));
    // Lefts moved at load: 3272 and 5472 twips.
    QCOMPARE(control<QPushButton>("btnPropoj")->geometry(), QRect(218, 127, 80, 27));
    QCOMPARE(control<QPushButton>("btnStorno")->geometry(), QRect(365, 127, 80, 27));
    QCOMPARE(control<QPushButton>("btnHelp")->geometry(), QRect(626, 127, 28, 26));

    // Tab order: Text1, btnPropoj, btnStorno, Picture1, btnHelp, cboDB.
    QWidget* expected[] = {control<QWidget>("Text1"),    control<QWidget>("btnPropoj"), control<QWidget>("btnStorno"),
                           control<QWidget>("Picture1"), control<QWidget>("btnHelp"),   control<QWidget>("cboDB")};
    for (int k = 0; k + 1 < 6; ++k)
        QCOMPARE(expected[k]->nextInFocusChain(), expected[k + 1]);
    QCOMPARE(control<QWidget>("btnBrowse0")->focusPolicy(), Qt::ClickFocus);
    QCOMPARE(control<QWidget>("btnBrowse1")->focusPolicy(), Qt::ClickFocus);
}

void FrmMainTest::designTextsAndSettings()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Vindo-ZUL - propojení programu s databázemi"));
    QVERIFY(!m_window->windowIcon().isNull());
    QCOMPARE(control<QLabel>("Label1")->text(), QStringLiteral("Cesta k programu ZUL.ACCDR"));
    QCOMPARE(control<QLabel>("Label2")->text(), QStringLiteral("Cesta k databázi ZUL_data.ACCDB"));
    QCOMPARE(control<QLabel>("Label1")->palette().color(QPalette::WindowText), QColor(Qt::white));
    QVERIFY(control<QLabel>("Label1")->font().bold());
    QCOMPARE(control<QLineEdit>("Text1")->text(), QString());

    auto* cbo = control<QComboBox>("cboDB");
    QCOMPARE(cbo->currentText(), QStringLiteral("cboDB"));
    QVERIFY(cbo->isEditable());
    QCOMPARE(cbo->insertPolicy(), QComboBox::NoInsert);
    QCOMPARE(cbo->lineEdit()->palette().color(QPalette::Base), QColor(255, 254, 234));
    QCOMPARE(cbo->font().pointSizeF(), 9.0);

    for (int index = 0; index < 2; ++index) {
        auto* browse = m_window->findChild<QPushButton*>(QStringLiteral("btnBrowse%1").arg(index));
        QCOMPARE(browse->text(), QStringLiteral("..."));
        QCOMPARE(browse->toolTip(), QStringLiteral("Procházet..."));
    }
    QCOMPARE(m_window->browseTag(0), QStringLiteral("ZUL.accdr"));
    QCOMPARE(m_window->browseTag(1), QStringLiteral("ZUL_data.accdb"));

    auto* propoj = control<QPushButton>("btnPropoj");
    auto* storno = control<QPushButton>("btnStorno");
    QCOMPARE(propoj->text(), QStringLiteral("&Propojit"));
    QCOMPARE(storno->text(), QStringLiteral("&Konec"));
    QCOMPARE(propoj->shortcut(), QKeySequence(QStringLiteral("Alt+P")));
    QCOMPARE(storno->shortcut(), QKeySequence(QStringLiteral("Alt+K")));
    QVERIFY(!propoj->isEnabled());
    QVERIFY(storno->font().bold());
    QVERIFY(!control<QPushButton>("btnHelp")->icon().isNull());

    auto* status = control<QWidget>("Picture2");
    QVERIFY(status->isHidden());
    QCOMPARE(status->palette().color(QPalette::Window), QColor(192, 0, 0));
    QCOMPARE(control<QLabel>("lblDB")->text(), QStringLiteral("db1 -> db2"));
    QCOMPARE(control<QLabel>("lblTabulka")->text(), QStringLiteral("tabulka"));
    QVERIFY(control<QProgressBar>("ProgressBar1")->isHidden());
    QCOMPARE(HelpFilePath(), file(QStringLiteral("ZUL.hlp")));
}

void FrmMainTest::buttonsStandEitherSideOfTheMiddle_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("propoj");
    QTest::addColumn<int>("storno");
    QTest::newRow("design 9945, half 4972.5 to 4972") << 9945 << 3272 << 5472;
    QTest::newRow("9946, half 4973") << 9946 << 3273 << 5473;
    QTest::newRow("9947, half 4973.5 to 4974") << 9947 << 3274 << 5474;
}

void FrmMainTest::buttonsStandEitherSideOfTheMiddle()
{
    QFETCH(int, width);
    QFETCH(int, propoj);
    QFETCH(int, storno);
    const LinkButtonLefts lefts = linkButtonLefts(width);
    QCOMPARE(lefts.propoj, propoj);
    QCOMPARE(lefts.storno, storno);
}

void FrmMainTest::linkButtonFollowsBothPaths()
{
    const QString program = file(QStringLiteral("ZUL.accdr"));
    const QString data = file(QStringLiteral("ZUL_data.accdb"));
    QVERIFY(writeBytes(program, "x"));
    QVERIFY(writeBytes(data, "x"));
    auto* propoj = control<QPushButton>("btnPropoj");

    m_window->setProgramPathText(program);
    QVERIFY(!propoj->isEnabled()); // cboDB still reads "cboDB"
    m_window->setDataPathText(data);
    QVERIFY(propoj->isEnabled());
    m_window->setDataPathText(file(QStringLiteral("missing.accdb")));
    QVERIFY(!propoj->isEnabled());
    m_window->setDataPathText(data);
    m_window->setProgramPathText(QString());
    QVERIFY(!propoj->isEnabled());
    m_window->setProgramPathText(m_dir->path()); // a folder is no file
    QVERIFY(!propoj->isEnabled());
    m_window->setProgramPathText(program);
    QVERIFY(propoj->isEnabled());
    m_window->setDataPathText(QString());
    QVERIFY(!propoj->isEnabled());

    // A choice from the list counts like typing.
    auto* cbo = control<QComboBox>("cboDB");
    cbo->addItem(data);
    cbo->setCurrentIndex(0);
    QVERIFY(propoj->isEnabled());
}

void FrmMainTest::keystrokeCompletingAPathEnablesTheButton()
{
    const QString program = file(QStringLiteral("ZUL.accdr"));
    const QString data = file(QStringLiteral("ZUL_data.accdb"));
    QVERIFY(writeBytes(program, "x"));
    QVERIFY(writeBytes(data, "x"));
    m_window->setProgramPathText(program);
    m_window->setDataPathText(QString());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));

    auto* cbo = control<QComboBox>("cboDB");
    auto* propoj = control<QPushButton>("btnPropoj");
    cbo->setFocus();
    QTest::keyClicks(cbo, data.chopped(1));
    QCOMPARE(cbo->currentText(), data.chopped(1));
    QVERIFY(!propoj->isEnabled());
    QTest::keyClicks(cbo, data.right(1));
    QCOMPARE(cbo->currentText(), data);
    QVERIFY(propoj->isEnabled());
    // Delete without Ctrl only edits the text.
    QTest::keyClick(cbo, Qt::Key_Backspace);
    QVERIFY(!propoj->isEnabled());
}

void FrmMainTest::linkButtonStaysOffDuringARun()
{
    const QString program = file(QStringLiteral("ZUL.accdr"));
    QVERIFY(writeBytes(program, "x"));
    m_window->setProgramPathText(program);
    m_window->setRunInProgress(true);
    m_window->setLinkButtonEnabled(false);
    m_window->setDataPathText(program);
    QVERIFY(!control<QPushButton>("btnPropoj")->isEnabled());
    // No chooser can be opened in the middle of a run.
    QVERIFY(!control<QPushButton>("btnBrowse0")->isEnabled());
    QVERIFY(!control<QPushButton>("btnBrowse1")->isEnabled());
    m_window->setRunInProgress(false);
    QVERIFY(control<QPushButton>("btnBrowse0")->isEnabled());
    QVERIFY(control<QPushButton>("btnBrowse1")->isEnabled());
    m_window->setDataPathText(program);
    QVERIFY(!control<QPushButton>("btnPropoj")->isEnabled()); // same text, no change
    m_window->setDataPathText(QString());
    m_window->setDataPathText(program);
    QVERIFY(control<QPushButton>("btnPropoj")->isEnabled());
}

void FrmMainTest::enterMovesTheFocusWithoutStartingTheRun()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    auto* text1 = control<QLineEdit>("Text1");
    auto* cbo = control<QComboBox>("cboDB");
    auto* propoj = control<QPushButton>("btnPropoj");
    QTRY_COMPARE(QApplication::focusWidget(), text1);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), cbo);
    QCOMPARE(text1->text(), QString());

    // The link button is disabled: Enter stays in cboDB.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), cbo);
    QCOMPARE(cbo->count(), 0);

    const QString program = file(QStringLiteral("ZUL.accdr"));
    QVERIFY(writeBytes(program, "x"));
    m_window->setProgramPathText(program);
    m_window->setDataPathText(program);
    QVERIFY(propoj->isEnabled());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    QCOMPARE(QApplication::focusWidget(), propoj);
    QCOMPARE(m_desktop.events, QStringList()); // no run: no hourglass, no beep
    QCOMPARE(cbo->count(), 0);                 // Enter inserted nothing
    // Enter presses the button that has the focus (the run fails: the files are no databases).
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(m_desktop.events.contains(QStringLiteral("beep")));
    QVERIFY(gLinkFailed);
    // Escape does nothing to the window.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(m_window->isVisible());
}

void FrmMainTest::f1ShowsHelpFromAnyControl_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Text1") << QStringLiteral("Text1") << int(Qt::NoModifier);
    QTest::newRow("cboDB, Shift") << QStringLiteral("cboDB") << int(Qt::ShiftModifier);
    QTest::newRow("btnStorno, Ctrl") << QStringLiteral("btnStorno") << int(Qt::ControlModifier);
    QTest::newRow("Picture1, Alt") << QStringLiteral("Picture1") << int(Qt::AltModifier);
}

void FrmMainTest::f1ShowsHelpFromAnyControl()
{
    QFETCH(QString, focus);
    QFETCH(int, modifiers);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QWidget* target = m_window->findChild<QWidget*>(focus);
    target->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), target);
    QTest::keyClick(target, Qt::Key_F1, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(m_help.calls, QStringList{file(QStringLiteral("ZUL.hlp")) + QStringLiteral("|805")});

    control<QPushButton>("btnHelp")->click();
    QCOMPARE(m_help.calls.size(), 2);
    QCOMPARE(m_help.calls.at(1), m_help.calls.at(0));
}

void FrmMainTest::ctrlDeleteRemovesThePathFromTheList()
{
    const QString first = file(QStringLiteral("a/ZUL_data.accdb"));
    const QString second = file(QStringLiteral("b/ZUL_data.accdb"));
    CreateListFile(m_desktop);
    QVERIFY(QFile::exists(gListDbPath));
    AddListPath(m_desktop, first);
    AddListPath(m_desktop, second);
    FillDataFileList(m_desktop, m_window->dataCombo(), first);
    auto* cbo = control<QComboBox>("cboDB");
    QCOMPARE(cbo->count(), 2);
    QCOMPARE(cbo->currentText(), first);

    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    cbo->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), cbo);
    cbo->lineEdit()->setCursorPosition(0);

    // Delete alone edits the text and leaves the list.
    QTest::keyClick(cbo, Qt::Key_Delete);
    QCOMPARE(cbo->currentText(), first.mid(1));
    QCOMPARE(cbo->count(), 2);
    cbo->setEditText(first);

    m_desktop.clear();
    QTest::keyClick(cbo, Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(m_desktop.boxes(), QStringList());
    QCOMPARE(cbo->count(), 1);
    QCOMPARE(cbo->itemText(0), second);

    // What is on disk: a fresh fill shows only the remaining path.
    m_window->dataCombo().clear();
    FillDataFileList(m_desktop, m_window->dataCombo(), QStringLiteral("x"));
    QCOMPARE(cbo->count(), 1);
    QCOMPARE(cbo->itemText(0), second);

    // A text that is not in the list deletes nothing; the list is refilled all the same.
    cbo->setEditText(QStringLiteral("/nowhere/ZUL_data.accdb"));
    QTest::keyClick(cbo, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(cbo->count(), 1);
    QCOMPARE(cbo->itemText(0), second);
}

void FrmMainTest::gradientRunsFromBlackToBlue()
{
    for (int height : {1, 50, 180, 256, 700}) {
        QImage image(20, height, QImage::Format_RGB32);
        image.fill(Qt::red);
        {
            QPainter painter(&image);
            PaintGradient(painter, image.size());
        }
        const QString where = QStringLiteral("height %1").arg(height);
        QVERIFY2(pixel(image, 10, 0) == 0x000000, qPrintable(where));
        if (height > 1)
            QVERIFY2(pixel(image, 19, height - 1) == 0x0000FF, qPrintable(where));
        int previous = -1;
        QSet<int> bands;
        for (int y = 0; y < height; ++y) {
            const QRgb rgb = pixel(image, 5, y);
            QVERIFY2(qRed(rgb) == 0 && qGreen(rgb) == 0, qPrintable(where));
            QVERIFY2(qBlue(rgb) >= previous, qPrintable(where));
            previous = qBlue(rgb);
            bands.insert(previous);
        }
        if (height >= 256)
            QCOMPARE(bands.size(), 256);
    }
    // The middle of the design height is half way.
    const QImage grab = control<QWidget>("Picture1")->grab().toImage();
    QCOMPARE(grab.size(), QSize(663, 180));
    QCOMPARE(pixel(grab, 1, 0), QRgb(0x000000));
    QCOMPARE(pixel(grab, 661, 179), QRgb(0x0000FF));
    QVERIFY(qAbs(qBlue(grab.pixel(1, 90)) - 128) <= 2);
}

void FrmMainTest::shortenedWindowKeepsTheGradient()
{
    m_window->hideButtonsAndShorten();
    QVERIFY(control<QWidget>("btnPropoj")->isHidden());
    QVERIFY(control<QWidget>("btnStorno")->isHidden());
    QVERIFY(control<QWidget>("btnHelp")->isHidden());
    QCOMPARE(m_window->size(), QSize(663, 153));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    auto* picture = control<QWidget>("Picture1");
    QCOMPARE(picture->size(), QSize(663, 153));
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    const QImage grab = picture->grab().toImage();
    QCOMPARE(pixel(grab, 300, 0), QRgb(0x000000));
    QCOMPARE(pixel(grab, 300, 152), QRgb(0x0000FF));
}

void FrmMainTest::setOnTopValues_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("onTop");
    QTest::newRow("left out") << QVariant() << true;
    QTest::newRow("true") << QVariant(true) << true;
    QTest::newRow("-1") << QVariant(-1) << true;
    QTest::newRow("false") << QVariant(false) << false;
    QTest::newRow("1") << QVariant(1) << false;
    QTest::newRow("0") << QVariant(0) << false;
    QTest::newRow("text True") << QVariant(QStringLiteral("True")) << false;
}

void FrmMainTest::setOnTopValues()
{
    QFETCH(QVariant, value);
    QFETCH(bool, onTop);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    const QPoint position = m_window->pos();
    // From both starting states, so every value really changes something.
    for (bool start : {false, true}) {
        SetOnTop(m_window, start);
        SetOnTop(m_window, value);
        QCOMPARE(m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint), onTop);
        QVERIFY(m_window->isVisible());
        QCOMPARE(m_window->pos(), position);
        QCOMPARE(m_window->size(), QSize(663, 180));
    }
    m_window->setOnTop(false);
    QVERIFY(!m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

void FrmMainTest::barColourIsTheRedOfThePanel()
{
    QCOMPARE(colorFromBgr(192), QColor(192, 0, 0));
    QCOMPARE(colorFromBgr(0x00FF8040), QColor(0x40, 0x80, 0xFF));
    auto* bar = control<QProgressBar>("ProgressBar1");
    QCOMPARE(bar->palette().color(QPalette::Highlight), QColor(192, 0, 0));
    m_window->setProgressMax(4);
    m_window->setProgressValue(4);
    m_window->setProgressVisible(true);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    const QImage grab = bar->grab().toImage();
    QCOMPARE(pixel(grab, bar->width() / 2, bar->height() / 2), QRgb(0xC00000));
    // No busy indicator for an empty data file.
    m_window->setProgressMax(0);
    QVERIFY(bar->maximum() > bar->minimum());
}

void FrmMainTest::focusOnAHiddenOrDisabledButtonFails()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_window->focusExitButton();
    QCOMPARE(QApplication::focusWidget(), control<QWidget>("btnStorno"));
    m_window->focusMainPanel();
    QCOMPARE(QApplication::focusWidget(), control<QWidget>("Picture1"));

    const QString invalid = QStringLiteral("5|Neplatné volání procedury nebo argument");
    m_window->setExitButtonEnabled(false);
    QCOMPARE(errorOf([&] { m_window->focusExitButton(); }), invalid);
    m_window->setExitButtonEnabled(true);
    m_window->hideButtonsAndShorten();
    QCOMPARE(errorOf([&] { m_window->focusExitButton(); }), invalid);
    QCOMPARE(QApplication::focusWidget(), control<QWidget>("Picture1"));
}

void FrmMainTest::exitButtonEndsTheProcess()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QVERIFY(!ProcessEndRequested());
    // The access key, typed in Text1; a mnemonic clicks with a short animation.
    QTest::keyClick(control<QWidget>("Text1"), Qt::Key_K, Qt::AltModifier);
    QTRY_VERIFY(ProcessEndRequested());
    QVERIFY(!m_window->isVisible());
}

void FrmMainTest::closingIsRefusedDuringARun()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_window->setRunInProgress(true);
    QVERIFY(!m_window->close());
    QVERIFY(m_window->isVisible());
    // The run itself may still end the process.
    m_window->unloadAndEndProcess();
    QVERIFY(!m_window->isVisible());
    QVERIFY(ProcessEndRequested());
}

void FrmMainTest::comboViewKeepsTheEditText()
{
    const QString program = file(QStringLiteral("ZUL.accdr"));
    QVERIFY(writeBytes(program, "x"));
    m_window->setProgramPathText(program);
    ComboBoxView& view = m_window->dataCombo();
    view.clear();
    QCOMPARE(view.text(), QString());
    view.addItem(program);
    view.addItem(QStringLiteral("/b"));
    QCOMPARE(view.text(), QString());
    QVERIFY(!control<QPushButton>("btnPropoj")->isEnabled());
    view.setText(program);
    QCOMPARE(control<QComboBox>("cboDB")->currentText(), program);
    QVERIFY(control<QPushButton>("btnPropoj")->isEnabled());
    view.addItem(QStringLiteral("/c"));
    QCOMPARE(view.text(), program);
    QCOMPARE(control<QComboBox>("cboDB")->count(), 3);
}

void FrmMainTest::makeFiles(bool localNamesake)
{
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("data")));
    auto data = DbEngine().CreateDatabase(file(QStringLiteral("data/ZUL_data.accdb")), dao::dbLangCzech);
    data->Execute(QStringLiteral("create table Osoby (ID integer, Jmeno text(50))"));
    data->Execute(QStringLiteral("create table Obce (Nazev text(40))"));
    data->Close();
    auto program = DbEngine().CreateDatabase(file(QStringLiteral("ZUL.accdr")), dao::dbLangCzech);
    if (localNamesake)
        program->Execute(QStringLiteral("create table Obce (Nazev text(40))"));
    program->Close();
    CreateListFile(m_desktop);
    m_window->setProgramPathText(file(QStringLiteral("ZUL.accdr")));
    m_window->setDataPathText(file(QStringLiteral("data/ZUL_data.accdb")));
    m_desktop.clear();
}

void FrmMainTest::cleanRunRestoresTheWindow()
{
    makeFiles(false);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    auto* propoj = control<QPushButton>("btnPropoj");
    QVERIFY(propoj->isEnabled());
    QTest::keyClick(control<QWidget>("cboDB"), Qt::Key_P, Qt::AltModifier);
    QTRY_VERIFY(m_desktop.events.contains(QStringLiteral("beep")));

    QVERIFY(!gLinkFailed);
    QStringList created;
    for (const auto& table : m_window->lastRelinkReport().tables)
        if (table.outcome == RelinkReport::Outcome::Created)
            created.append(table.name);
    created.sort();
    QCOMPARE(created, QStringList({QStringLiteral("Obce"), QStringLiteral("Osoby")}));
    QCOMPARE(m_desktop.boxes(), QStringList());
    QVERIFY(m_desktop.events.contains(QStringLiteral("beep")));
    QCOMPARE(m_desktop.pointer(), DesktopServices::Pointer::Default);
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(propoj->isEnabled());
    QVERIFY(control<QPushButton>("btnStorno")->isEnabled());
    // Leaving the topmost state re-creates the window; the focus it keeps is the exit button.
    QCOMPARE(m_window->focusWidget(), control<QWidget>("btnStorno"));
    QVERIFY(control<QWidget>("Picture2")->isHidden());
    QVERIFY(control<QWidget>("ProgressBar1")->isHidden());
    QCOMPARE(control<QLabel>("lblDB")->text(),
             m_dir->path() + QStringLiteral("/ -> ") + m_dir->path() + QStringLiteral("/data/"));
    QCOMPARE(control<QProgressBar>("ProgressBar1")->value(), control<QProgressBar>("ProgressBar1")->maximum());
    QVERIFY(!ProcessEndRequested());
}

void FrmMainTest::failedUnattendedRunLeavesTheShortWindowOpen()
{
    makeFiles(true);
    m_window->hideButtonsAndShorten();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_window->btnPropoj_Click();

    QVERIFY(gLinkFailed);
    QVERIFY(m_window->lastRelinkReport().failed);
    QCOMPARE(m_desktop.boxes().last(),
             QStringLiteral("box !|Vindo-ZUL|V průběhu propojování databází se vyskytly chyby."));
    // The hidden exit button cannot take the focus; that is not reported.
    for (const auto& failure : m_window->lastRelinkReport().failures)
        QCOMPARE(failure.table, QStringLiteral("Obce"));
    QVERIFY(m_window->isVisible());
    QCOMPARE(m_window->size(), QSize(663, 153));
    QVERIFY(control<QWidget>("btnPropoj")->isHidden());
    QVERIFY(control<QWidget>("btnStorno")->isHidden());
    QVERIFY(control<QWidget>("btnHelp")->isHidden());
    QVERIFY(!m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!ProcessEndRequested());
    // Not running any more: the frame closes the window.
    QVERIFY(m_window->close());
}

void FrmMainTest::runAfterAnAutomaticBrowseEndsTheProcess()
{
    makeFiles(false);
    gAutoBrowse = true;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_window->startRelink();
    QVERIFY(m_window->lastRelinkReport().endedProcess);
    QVERIFY(ProcessEndRequested());
    QVERIFY(!m_window->isVisible());
}

void FrmMainTest::pointerIsAPropertyNotAStack()
{
    QtDesktopServices desktop(m_window);
    desktop.setPointer(DesktopServices::Pointer::Hourglass);
    desktop.setPointer(DesktopServices::Pointer::Hourglass);
    QCOMPARE(desktop.pointer(), DesktopServices::Pointer::Hourglass);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    desktop.setPointer(DesktopServices::Pointer::Default);
    QCOMPARE(desktop.pointer(), DesktopServices::Pointer::Default);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    // A stack somebody else left is unwound too.
    QApplication::setOverrideCursor(Qt::IBeamCursor);
    QApplication::setOverrideCursor(Qt::IBeamCursor);
    desktop.setPointer(DesktopServices::Pointer::Default);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void FrmMainTest::messageBoxHasIconTitleAndOneButton()
{
    QtDesktopServices desktop(m_window);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    struct Seen {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title, text;
        QMessageBox::StandardButtons buttons;
        QWidget* parent = nullptr;
    };
    const auto closeNextBox = [](Seen& seen) {
        QTimer::singleShot(0, [&seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            seen = {box->icon(), box->windowTitle(), box->text(), box->standardButtons(), box->parentWidget()};
            box->button(QMessageBox::Ok)->click();
        });
    };
    const struct {
        DesktopServices::Icon icon;
        QMessageBox::Icon expected;
    } cases[] = {{DesktopServices::Icon::Exclamation, QMessageBox::Warning},
                 {DesktopServices::Icon::Information, QMessageBox::Information},
                 {DesktopServices::Icon::None, QMessageBox::NoIcon}};
    for (const auto& c : cases) {
        Seen seen;
        closeNextBox(seen);
        desktop.messageBox(c.icon, QStringLiteral("Vindo-ZUL"),
                           QStringLiteral("Propojení databází proběhlo v pořádku."));
        QCOMPARE(seen.icon, c.expected);
        QCOMPARE(seen.title, QStringLiteral("Vindo-ZUL"));
        QCOMPARE(seen.text, QStringLiteral("Propojení databází proběhlo v pořádku."));
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(seen.parent, static_cast<QWidget*>(m_window));
    }
}

void FrmMainTest::messageBoxIsCentred_data()
{
    QTest::addColumn<int>("owner"); // 0 none, 1 loaded but not shown, 2 shown
    QTest::newRow("start without a window") << 0;
    QTest::newRow("owner not shown yet") << 1;
    QTest::newRow("owner shown") << 2;
}

void FrmMainTest::messageBoxIsCentred()
{
    QFETCH(int, owner);
    QtDesktopServices desktop(owner == 0 ? nullptr : m_window);
    QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    if (owner == 2) {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        m_window->move(area.topLeft() + QPoint(20, 30));
        area = m_window->frameGeometry();
    }
    QRect box;
    QTimer::singleShot(0, [&box] {
        QWidget* shown = QApplication::activeModalWidget();
        QVERIFY(shown);
        box = shown->frameGeometry();
        shown->close();
    });
    desktop.messageBox(DesktopServices::Icon::Exclamation, QStringLiteral("DIVadedadi"),
                       QStringLiteral("Soubor nastavení nelze přečíst."));
    QVERIFY((box.center() - area.center()).manhattanLength() <= 2);
}

void FrmMainTest::statusLineCutsLongPathsInTheMiddle()
{
    auto* label = m_window->findChild<ElidedLabel*>(QStringLiteral("lblDB"));
    const QString caption = QStringLiteral("/home/účetní/Dokumenty/ZUL/build/app/program -> "
                                           "/srv/sdílená složka/účetnictví/2024/data/leden/");
    m_window->setDbCaption(caption);
    const QString shown = label->shownText();
    QVERIFY2(shown.startsWith(QStringLiteral("/home/")) && shown.endsWith(QStringLiteral("/leden/")) &&
                 shown.contains(QChar(0x2026)),
             qPrintable(shown));
    QVERIFY(label->fontMetrics().horizontalAdvance(shown) <= label->contentsRect().width());
    QCOMPARE(label->toolTip(), caption);
    m_window->setDbCaption(QStringLiteral("/data/ -> /data/"));
    QCOMPARE(label->shownText(), QStringLiteral("/data/ -> /data/"));
    QCOMPARE(label->toolTip(), QString());
}

void FrmMainTest::focusRectangleShowsOnButtonsAndPanel()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    // The dotted line: neighbouring pixels along its top edge differ, where
    // the unfocused control is even along any row.
    const auto dots = [](QWidget* widget, int inset) {
        const QImage image = widget->grab().toImage();
        int changes = 0;
        for (int x = inset + 2; x < image.width() - inset - 2; ++x)
            changes += image.pixel(x, inset) != image.pixel(x + 1, inset) ? 1 : 0;
        return changes;
    };
    const struct {
        const char* name;
        int inset;
    } controls[] = {{"btnStorno", 4}, {"btnHelp", 4}, {"Picture1", 1}};
    for (const auto& c : controls) {
        QWidget* widget = control<QWidget>(c.name);
        control<QWidget>("Text1")->setFocus();
        QTRY_VERIFY(!widget->hasFocus());
        QVERIFY2(dots(widget, c.inset) < 4, c.name);
        widget->setFocus();
        QTRY_VERIFY(widget->hasFocus());
        QVERIFY2(dots(widget, c.inset) > (widget->width() - 2 * c.inset) / 3, c.name);
    }
}

QTEST_MAIN(FrmMainTest)
#include "frmMainTest.moc"
