#include "frmMain.h"

#include "Accessibility.h"
#include "Controls.h"
#include "Errors.h"
#include "Icons.h"
#include "IgnoringFailures.h"
#include "ListFile.h"
#include "OdbcConnectString.h"
#include "OnTop.h"
#include "Paths.h"
#include "ProgressBarColor.h"
#include "RunTimeError.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>

#include <memory>

namespace {

bool g_processEndRequested = false;

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

// Arial, or "MS Sans Serif" where the window asks for it: that face is not
// there on Linux, and the Arial metrics come closest.
QFont windowFont(double points, bool bold, bool msSansSerif = false)
{
    QStringList families{QStringLiteral("Arial"), QStringLiteral("Liberation Sans")};
    if (msSansSerif)
        families.prepend(QStringLiteral("MS Sans Serif"));
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void setColor(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

bool isEnter(const QKeyEvent* event)
{
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
           !event->modifiers().testFlag(Qt::ControlModifier);
}

// A box named for a screen reader after the label in front of it.
void nameAfterLabel(QLabel* label, QWidget* box, const QString& description)
{
    label->setBuddy(box);
    box->setAccessibleName(label->text());
    box->setAccessibleDescription(description);
}

bool isBrowseShortcut(const QKeyEvent* event)
{
    return event->key() == Qt::Key_O && (event->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

void failFocus()
{
    throw Errors::invalidArgument();
}

} // namespace

int twipsToPixels(int twips)
{
    return qRound(twips / double(TwipsPerPixel));
}

QString HelpFilePath()
{
    return ProgramDir() + QStringLiteral("ZUL.hlp");
}

void RequestProcessEnd()
{
    g_processEndRequested = true;
    // Before the event loop has been entered there is nothing to leave (and
    // an exit then would make every later modal loop return at once); start-up
    // reads the mark instead.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

bool ProcessEndRequested()
{
    return g_processEndRequested;
}

void clearProcessEndRequest()
{
    g_processEndRequested = false;
}

LinkButtonLefts linkButtonLefts(int panelWidthTwips, int propojWidthTwips)
{
    // Half the width to the nearest whole number, an exact half to the even one.
    int half = panelWidthTwips / 2;
    if (panelWidthTwips % 2 != 0 && half % 2 != 0)
        ++half;
    return {half - 500 - propojWidthTwips, half + 500};
}

void PaintGradient(QPainter& painter, const QSize& size)
{
    const int height = size.height();
    // Row y shows band y * 255 / (height - 1), rounded: the top row is black
    // and the bottom row full blue on any height, with 256 bands where the
    // height allows them.
    const auto band = [height](int y) { return height == 1 ? 0 : (y * 255 + (height - 1) / 2) / (height - 1); };
    int y = 0;
    while (y < height) {
        const int g = band(y);
        int end = y + 1;
        while (end < height && band(end) == g)
            ++end;
        painter.fillRect(QRect(0, y, size.width(), end - y), QColor(0, 0, g));
        y = end;
    }
}

void GradientPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintGradient(painter, size());
    if (hasFocus())
        drawFocusRect(painter, rect().adjusted(1, 1, -1, -1));
}

void QComboBoxView::clear()
{
    m_combo->clear();
    m_combo->setEditText(QString());
}

void QComboBoxView::addItem(const QString& item)
{
    const QString text = m_combo->currentText();
    m_combo->addItem(item);
    // QComboBox makes the first item current; the edit text stays as it was.
    if (m_combo->currentText() != text) {
        m_combo->setCurrentIndex(-1);
        m_combo->setEditText(text);
    }
}

QString QComboBoxView::text() const
{
    return m_combo->currentText();
}

void QComboBoxView::setText(const QString& text)
{
    m_combo->setEditText(text);
}

frmMain::frmMain(DesktopServices& desktop, HelpViewer& help, QWidget* parent)
    : QWidget(parent, FixedWindowFlags), m_desktop(desktop), m_help(help), m_cboView(nullptr)
{
    createControls();
    Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::createControls()
{
    // Before any control exists: Qt keeps the interface it first made for a widget.
    installNamedComboBoxAccessibility();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vindo-ZUL - propojení programu s databázemi"));
    setWindowIcon(WindowIcon());
    setFixedSize(twipsToPixels(9945), twipsToPixels(2700));
    setAutoFillBackground(true);
    setColor(this, QPalette::Window, QColor(0, 128, 128));

    Picture1 = new GradientPanel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(twipsRect(0, 0, 9945, 2700));
    Picture1->setFocusPolicy(Qt::StrongFocus);

    const QFont arial9 = windowFont(9, false);
    const QFont arial9Bold = windowFont(9, true);
    const QFont label = windowFont(8.25, true, true);
    const QFont status = windowFont(9.75, true);

    Label1 = new QLabel(QStringLiteral("Cesta k programu ZUL.ACCDR"), Picture1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twipsRect(75, 240, 3165, 270));
    Label1->setFont(label);
    setColor(Label1, QPalette::WindowText, Qt::white);

    Text1 = new QLineEdit(Picture1);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twipsRect(3180, 165, 6225, 345));
    Text1->setFont(arial9);

    const char* tags[2] = {"ZUL.accdr", "ZUL_data.accdb"};
    const int browseTops[2] = {165, 555};
    for (int index = 0; index < 2; ++index) {
        QPushButton* button = new FocusButton(QStringLiteral("..."), Picture1);
        button->setObjectName(QStringLiteral("btnBrowse%1").arg(index));
        button->setGeometry(twipsRect(9495, browseTops[index], 345, 345));
        button->setFont(arial9);
        button->setToolTip(QStringLiteral("Procházet..."));
        button->setProperty("Tag", QString::fromLatin1(tags[index]));
        button->setFocusPolicy(Qt::ClickFocus);
        connect(button, &QPushButton::clicked, this, [this, index] { btnBrowse_Click(index); });
        btnBrowse[index] = button;
    }

    Label2 = new QLabel(QStringLiteral("Cesta k databázi ZUL_data.ACCDB"), Picture1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(twipsRect(75, 600, 3165, 270));
    Label2->setFont(label);
    setColor(Label2, QPalette::WindowText, Qt::white);

    cboDB = new QComboBox(Picture1);
    cboDB->setObjectName(QStringLiteral("cboDB"));
    cboDB->setEditable(true);
    cboDB->setInsertPolicy(QComboBox::NoInsert);
    cboDB->setGeometry(twipsRect(3180, 525, 6225, 345));
    cboDB->setFont(arial9);
    setColor(cboDB, QPalette::Base, QColor(255, 254, 234));
    setColor(cboDB->lineEdit(), QPalette::Base, QColor(255, 254, 234));
    cboDB->setEditText(QStringLiteral("cboDB"));
    m_cboView = QComboBoxView(cboDB);

    Picture2 = new QWidget(Picture1);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(twipsRect(90, 1065, 9705, 375));
    Picture2->setAutoFillBackground(true);
    setColor(Picture2, QPalette::Window, QColor(192, 0, 0));
    Picture2->hide();

    lblDB = new ElidedLabel(QStringLiteral("db1 -> db2"), Picture2);
    lblDB->setObjectName(QStringLiteral("lblDB"));
    lblDB->setGeometry(twipsRect(30, 30, 4845, 255));
    lblDB->setFont(status);
    setColor(lblDB, QPalette::WindowText, Qt::white);

    lblTabulka = new ElidedLabel(QStringLiteral("tabulka"), Picture2);
    lblTabulka->setObjectName(QStringLiteral("lblTabulka"));
    lblTabulka->setGeometry(twipsRect(6180, 30, 3330, 255));
    lblTabulka->setFont(status);
    setColor(lblTabulka, QPalette::WindowText, Qt::white);

    ProgressBar1 = new QProgressBar(Picture1);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(twipsRect(90, 1530, 9705, 255));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    btnPropoj = new FocusButton(QStringLiteral("&Propojit"), Picture1);
    btnPropoj->setObjectName(QStringLiteral("btnPropoj"));
    btnPropoj->setGeometry(twipsRect(3240, 1905, 1200, 405));
    btnPropoj->setFont(arial9Bold);
    btnPropoj->setEnabled(false);

    btnStorno = new FocusButton(QStringLiteral("&Konec"), Picture1);
    btnStorno->setObjectName(QStringLiteral("btnStorno"));
    btnStorno->setGeometry(twipsRect(5280, 1905, 1200, 405));
    btnStorno->setFont(arial9Bold);

    btnHelp = new FocusButton(Picture1);
    btnHelp->setObjectName(QStringLiteral("btnHelp"));
    btnHelp->setGeometry(twipsRect(9390, 1905, 420, 390));
    btnHelp->setIcon(QIcon(HelpPixmap()));
    btnHelp->setIconSize(QSize(16, 16));

    // Enter presses the button that has the focus; there is no default button.
    for (QPushButton* button : {btnPropoj, btnStorno, btnHelp})
        button->setAutoDefault(true);

    connect(btnPropoj, &QPushButton::clicked, this, [this] { btnPropoj_Click(); });
    connect(btnStorno, &QPushButton::clicked, this, [this] { btnStorno_Click(); });
    connect(btnHelp, &QPushButton::clicked, this, [this] { btnHelp_Click(); });
    connect(Text1, &QLineEdit::textChanged, this, [this] { UpdateLinkButton(); });
    connect(cboDB, &QComboBox::editTextChanged, this, [this] { UpdateLinkButton(); });
    connect(cboDB, &QComboBox::activated, this, [this] { UpdateLinkButton(); });

    describeForAssistiveTechnology();
    for (int index = 0; index < 2; ++index) {
        QWidget* box = index == 0 ? static_cast<QWidget*>(Text1) : cboDB->lineEdit();
        box->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(box, &QWidget::customContextMenuRequested, this, [this, box, index](const QPoint& at) {
            std::unique_ptr<QMenu> menu(boxContextMenu(index));
            menu->exec(box->mapToGlobal(at));
        });
    }

    // The tab order of the original design: Text1, the two buttons, the
    // panel, the help button, cboDB.
    setTabOrder(Text1, btnPropoj);
    setTabOrder(btnPropoj, btnStorno);
    setTabOrder(btnStorno, Picture1);
    setTabOrder(Picture1, btnHelp);
    setTabOrder(btnHelp, cboDB);
    Text1->setFocus();

    // Key preview: the window sees every key before the control that has the focus.
    const QList<QWidget*> children = findChildren<QWidget*>();
    for (QWidget* child : children)
        child->installEventFilter(this);
}

// Names and descriptions a screen reader announces, in the user's language:
// a box is named after its label; a control without a label gets its own.
void frmMain::describeForAssistiveTechnology()
{
    setAccessibleDescription(QStringLiteral("Propojí program ZUL.accdr s tabulkami vybrané databáze."));
    Picture1->setAccessibleName(QStringLiteral("Propojení programu s databázemi"));
    Picture1->setAccessibleDescription(QStringLiteral("Panel okna; F1 otevře nápovědu."));
    nameAfterLabel(Label1, Text1,
                   QStringLiteral("Úplná cesta k souboru programu. Ctrl+O otevře výběr složky se souborem programu."));
    nameAfterLabel(Label2, cboDB,
                   QStringLiteral("Cesta k datovému souboru. Alt+Šipka dolů nebo F4 otevře seznam dříve použitých "
                                  "databází, Ctrl+O výběr složky s databází, Ctrl+Delete odebere cestu ze seznamu."));
    cboDB->view()->setAccessibleName(QStringLiteral("Seznam použitých databází"));
    cboDB->lineEdit()->setAccessibleName(Label2->text());
    cboDB->lineEdit()->setAccessibleDescription(cboDB->accessibleDescription());
    btnBrowse[0]->setAccessibleName(QStringLiteral("Procházet – program ZUL.ACCDR"));
    btnBrowse[0]->setAccessibleDescription(
        QStringLiteral("Otevře výběr složky se souborem programu; z pole cesty také Ctrl+O."));
    btnBrowse[1]->setAccessibleName(QStringLiteral("Procházet – databáze ZUL_data.ACCDB"));
    btnBrowse[1]->setAccessibleDescription(QStringLiteral("Otevře výběr složky s databází; z pole cesty také Ctrl+O."));
    Picture2->setAccessibleName(QStringLiteral("Stav propojování"));
    setDbCaption(lblDB->text());
    setTableCaption(lblTabulka->text());
    ProgressBar1->setAccessibleName(QStringLiteral("Průběh propojování"));
    ProgressBar1->setAccessibleDescription(QStringLiteral("Počet prošlých tabulek databáze z jejich celkového počtu."));
    btnPropoj->setAccessibleDescription(
        QStringLiteral("Propojí tabulky databáze do programu (Alt+P). Dostupné, když oba soubory existují."));
    btnStorno->setAccessibleDescription(QStringLiteral("Ukončí program (Alt+K)."));
    btnHelp->setAccessibleName(QStringLiteral("Nápověda"));
    btnHelp->setAccessibleDescription(QStringLiteral("Otevře nápovědu k tomuto oknu (F1)."));
    btnHelp->setToolTip(QStringLiteral("Nápověda (F1)"));
}

QMenu* frmMain::boxContextMenu(int index)
{
    QLineEdit* box = index == 0 ? Text1 : cboDB->lineEdit();
    QMenu* menu = box->createStandardContextMenu();
    menu->setObjectName(index == 0 ? QStringLiteral("Text1Menu") : QStringLiteral("cboDBMenu"));
    menu->addSeparator();
    QAction* browse = menu->addAction(QStringLiteral("Pr&ocházet..."));
    browse->setObjectName(QStringLiteral("browseAction"));
    browse->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    browse->setEnabled(btnBrowse[index]->isEnabled());
    // Queued: the chooser opens once the menu has closed.
    connect(
        browse, &QAction::triggered, this, [this, index] { btnBrowse_Click(index); }, Qt::QueuedConnection);
    return menu;
}

void frmMain::Form_Load()
{
    LinkButtonLefts lefts;
    ignoringFailures(
        [&] { lefts = linkButtonLefts(Picture1->width() * TwipsPerPixel, btnPropoj->width() * TwipsPerPixel); });
    ignoringFailures([&] { btnPropoj->move(twipsToPixels(lefts.propoj), btnPropoj->y()); });
    ignoringFailures([&] { btnStorno->move(twipsToPixels(lefts.storno), btnStorno->y()); });
    ignoringFailures([&] { ProgressBar1->setVisible(false); });
    ignoringFailures([&] { SetBarColor(ProgressBar1, 192); });
}

void frmMain::UpdateLinkButton()
{
    // Both tests always run, the data file first.
    const bool dataExists = dataPathExists(cboDB->currentText());
    const bool programExists = FileExists(Text1->text());
    btnPropoj->setEnabled(dataExists && programExists && !m_runInProgress);
}

void frmMain::btnPropoj_Click()
{
    m_lastReport = RunRelink(*this, m_desktop);
}

void frmMain::btnStorno_Click()
{
    unloadAndEndProcess();
}

void frmMain::btnHelp_Click()
{
    m_help.showHelpTopic(HelpFilePath(), MainHelpContext);
}

void frmMain::btnBrowse_Click(int index)
{
    BrowseForFile(*this, m_desktop, index);
}

void frmMain::setDataPathText(const QString& text)
{
    cboDB->setEditText(text);
}

void frmMain::hideButtonsAndShorten()
{
    btnPropoj->hide();
    btnStorno->hide();
    btnHelp->hide();
    const int shortenBy = btnStorno->height();
    setFixedSize(width(), height() - shortenBy);
    Picture1->resize(Picture1->width(), Picture1->height() - shortenBy);
}

void frmMain::setOnTop(bool onTop)
{
    SetOnTop(this, onTop);
}

void frmMain::setLinkButtonEnabled(bool enabled)
{
    btnPropoj->setEnabled(enabled);
}

void frmMain::setExitButtonEnabled(bool enabled)
{
    btnStorno->setEnabled(enabled);
}

void frmMain::focusMainPanel()
{
    if (!Picture1->isVisible() || !Picture1->isEnabled())
        failFocus();
    Picture1->setFocus();
}

void frmMain::focusExitButton()
{
    if (!btnStorno->isVisible() || !btnStorno->isEnabled())
        failFocus();
    btnStorno->setFocus();
}

void frmMain::setDbCaption(const QString& caption)
{
    lblDB->setCaption(caption);
    // The whole text, however the label cuts it on screen.
    lblDB->setAccessibleName(QStringLiteral("Propojované složky: ") + caption);
}

void frmMain::setTableCaption(const QString& caption)
{
    lblTabulka->setCaption(caption);
    lblTabulka->setAccessibleName(QStringLiteral("Tabulka: ") + caption);
}

void frmMain::setProgressValue(int value)
{
    ProgressBar1->setValue(value);
}

void frmMain::setProgressMax(int max)
{
    // A maximum of 0 would turn the bar into a busy indicator; keep it empty.
    ProgressBar1->setMaximum(qMax(max, 1));
}

void frmMain::setProgressVisible(bool visible)
{
    ProgressBar1->setVisible(visible);
}

void frmMain::setStatusPanelVisible(bool visible)
{
    Picture2->setVisible(visible);
}

QString frmMain::programPathText() const
{
    return Text1->text();
}

void frmMain::setRunInProgress(bool running)
{
    m_runInProgress = running;
    // A chooser opened in the middle of a run would hold the run at its table.
    for (QPushButton* button : btnBrowse)
        button->setEnabled(!running);
}

void frmMain::unloadAndEndProcess()
{
    m_unloading = true;
    close();
    RequestProcessEnd();
}

void frmMain::setProgramPathText(const QString& text)
{
    Text1->setText(text);
}

QString frmMain::browseTag(int index) const
{
    if (index < 0 || index > 1)
        throw Errors::invalidArgument();
    return btnBrowse[index]->property("Tag").toString();
}

void frmMain::focusProgramPath()
{
    if (!Text1->isVisible() || !Text1->isEnabled())
        failFocus();
    Text1->setFocus();
}

bool frmMain::handleKey(QWidget* target, QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1) {
        btnHelp_Click();
        return false;
    }
    // The browse buttons take no focus: Ctrl+O in either box opens its chooser.
    // F4 and Alt+Down stay with the combo box, which opens its list with them.
    if (isBrowseShortcut(event)) {
        const int index = target == Text1 ? 0 : target == cboDB || target == cboDB->lineEdit() ? 1 : -1;
        if (index < 0)
            return false;
        if (btnBrowse[index]->isEnabled())
            btnBrowse_Click(index);
        return true;
    }
    if (target == Text1 && isEnter(event)) {
        cboDB->setFocus();
        return true;
    }
    if (target == cboDB || target == cboDB->lineEdit()) {
        if (isEnter(event)) {
            // Only moves on to the link button; the run never starts from here.
            if (btnPropoj->isEnabled())
                btnPropoj->setFocus();
            return true;
        }
        if (event->key() == Qt::Key_Delete && event->modifiers().testFlag(Qt::ControlModifier)) {
            DeleteListPath(m_desktop, cboDB->currentText());
            FillDataFileList(m_desktop, m_cboView);
            // The refilled text is not handed on to the edit control, which
            // would otherwise delete part of it.
            return true;
        }
    }
    return false;
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    // A key first reaches the focus widget and is then passed up to its
    // parents; the window looks at it once, at the focus widget.
    if (event->type() == QEvent::KeyPress && watched == QApplication::focusWidget())
        return handleKey(static_cast<QWidget*>(watched), static_cast<QKeyEvent*>(event));
    return QWidget::eventFilter(watched, event);
}

void frmMain::keyPressEvent(QKeyEvent* event)
{
    // Only keys that no control took arrive here; the window itself may hold
    // the focus when no control does.
    if (QApplication::focusWidget() == this && handleKey(this, event))
        return;
    QWidget::keyPressEvent(event);
}

void frmMain::showEvent(QShowEvent* event)
{
    if (!m_placed) {
        m_placed = true;
        if (QScreen* screen = this->screen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    QWidget::showEvent(event);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // A relink run in progress is not cut off by the window frame; the exit
    // button is disabled for the same reason.
    if (m_runInProgress && !m_unloading) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
