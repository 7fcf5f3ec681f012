#pragma once

#include "Browse.h"
#include "ComboBoxView.h"
#include "DesktopServices.h"
#include "HelpViewer.h"
#include "MainWindowView.h"
#include "RelinkRun.h"

#include <QString>
#include <QWidget>

class ElidedLabel;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPainter;
class QProgressBar;
class QPushButton;

// Window geometry is given in twips; 15 twips make one pixel.
constexpr int TwipsPerPixel = 15;
int twipsToPixels(int twips);

// The program's help file: the program directory followed by "ZUL.hlp".
QString HelpFilePath();
constexpr int MainHelpContext = 805;

// The process-wide "end requested" mark. unloadAndEndProcess() and the exit
// button set it and leave the event loop; start-up reads it, because a relink
// run may end the process before the event loop has been entered.
void RequestProcessEnd();
bool ProcessEndRequested();
void clearProcessEndRequest();

// Where Form_Load puts the two buttons, in twips: 500 twips either side of the
// middle of a panel of the given width, the middle rounded half to even.
struct LinkButtonLefts {
    int propoj = 0;
    int storno = 0;
};
LinkButtonLefts linkButtonLefts(int panelWidthTwips, int propojWidthTwips = 1200);

// 256 horizontal bands, black at the top to RGB(0, 0, 255) at the bottom,
// over the whole of size.
void PaintGradient(QPainter& painter, const QSize& size);

// Picture1: the panel that holds every control and paints the gradient.
class GradientPanel : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A QComboBox as the list operations and the relink run see it. Adding an
// item never changes the edit text, as in the original list box.
class QComboBoxView : public ComboBoxView {
public:
    explicit QComboBoxView(QComboBox* combo) : m_combo(combo) {}
    void clear() override;
    void addItem(const QString& item) override;
    QString text() const override;
    void setText(const QString& text) override;

private:
    QComboBox* m_combo;
};

// The main window: the program file (Text1) and the data file (cboDB), their
// browse buttons, the link, exit and help buttons, the status panel and the
// progress bar the relink run drives.
class frmMain : public QWidget, public MainWindowView, public BrowseHost {
    Q_OBJECT
public:
    // Loads the window: builds the controls and runs Form_Load. Not shown yet.
    frmMain(DesktopServices& desktop, HelpViewer& help, QWidget* parent = nullptr);
    ~frmMain() override;

    void Form_Load();
    void btnPropoj_Click();
    void btnStorno_Click();
    void btnHelp_Click();
    void btnBrowse_Click(int index);

    void setDataPathText(const QString& text);
    // Start-up's unattended form: the link, exit and help buttons hidden and
    // the window and Picture1 shorter by the exit button's height.
    void hideButtonsAndShorten();
    const RelinkReport& lastRelinkReport() const { return m_lastReport; }
    // The context menu of a path box (0 Text1, 1 cboDB): the edit commands
    // and "Procházet..." (Ctrl+O), which opens that box's chooser. The
    // caller owns the menu.
    QMenu* boxContextMenu(int index);

    // MainWindowView
    void setOnTop(bool onTop) override;
    void setLinkButtonEnabled(bool enabled) override;
    void setExitButtonEnabled(bool enabled) override;
    void focusMainPanel() override;
    void focusExitButton() override;
    void setDbCaption(const QString& caption) override;
    void setTableCaption(const QString& caption) override;
    void setProgressValue(int value) override;
    void setProgressMax(int max) override;
    void setProgressVisible(bool visible) override;
    void setStatusPanelVisible(bool visible) override;
    QString programPathText() const override;
    ComboBoxView& dataCombo() override { return m_cboView; }
    void setRunInProgress(bool running) override;
    void unloadAndEndProcess() override;

    // BrowseHost
    QWidget* hostWindow() override { return this; }
    void setProgramPathText(const QString& text) override;
    QString browseTag(int index) const override;
    void focusProgramPath() override;
    void startRelink() override { btnPropoj_Click(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void describeForAssistiveTechnology();
    void UpdateLinkButton();
    // The window's own key handling; true when the key is used up.
    bool handleKey(QWidget* target, QKeyEvent* event);

    DesktopServices& m_desktop;
    HelpViewer& m_help;

    GradientPanel* Picture1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* btnBrowse[2] = {nullptr, nullptr};
    QLabel* Label2 = nullptr;
    QComboBox* cboDB = nullptr;
    QWidget* Picture2 = nullptr;
    ElidedLabel* lblDB = nullptr;
    ElidedLabel* lblTabulka = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* btnPropoj = nullptr;
    QPushButton* btnStorno = nullptr;
    QPushButton* btnHelp = nullptr;

    QComboBoxView m_cboView;
    RelinkReport m_lastReport;
    bool m_runInProgress = false;
    bool m_unloading = false;
    bool m_placed = false;
};
