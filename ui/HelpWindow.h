#pragma once

#include "DesktopServices.h"
#include "HelpHtml.h"
#include "HelpViewer.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class HelpFile;
struct HelpTopic;
class QDialog;
class QFrame;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QStackedWidget;
class QTextBrowser;
class QTreeWidget;
class QUrl;
class QWidget;

// Shows the topics of a help file in a window of our own: the system has no
// viewer for the format, so the file is read by HelpFile. The window shows a
// topic with its formatting, tables and pictures; jumps follow, pop-ups open
// in a small window; "Zpět" goes back, "Obsah" lists the contents (the .cnt
// file beside the help file, or every topic in file order) and "Rejstřík" the
// keyword index with a filter; a keyword of several topics lists them under
// "Nalezená témata" to choose from. The window is not modal and belongs to the
// owner; failures are reported in the viewer's own message box ("Nápověda").
class HelpWindowViewer : public HelpViewer {
public:
    HelpWindowViewer(QWidget* owner, DesktopServices& desktop) : m_owner(owner), m_desktop(desktop) {}
    ~HelpWindowViewer() override;
    void showHelpTopic(const QString& helpFile, int context) override;
    // The file's first topic, as the platform's viewer opens a file's contents.
    void showHelpContents(const QString& helpFile);

    // The help window once a topic was shown, else null.
    QDialog* window() const;
    QTextBrowser* browser() const;
    // The topic's region that does not scroll, above the browser; hidden when the topic has none.
    QTextBrowser* nonScrolling() const;
    // The topics of the keyword chosen in the index ("Nalezená témata"), else null.
    QListWidget* indexTopics() const;
    // The pop-up window of the last pop-up jump, else null.
    QTextBrowser* popup() const;
    // Order (1-based) of the topic shown, 0 before any.
    int currentTopic() const { return m_current; }

    void showContents();
    void showIndex();
    void goBack();
    void openTopic(int order, bool remember = true);

private:
    void open(const QString& helpFile, const std::function<HelpTopic(const HelpFile&)>& chooseTopic);
    void build();
    // Shows the topic in the window, the one shown before it kept for "Zpět" when remember is set.
    void present(const HelpTopic& topic, bool remember);
    void showTopic(const HelpTopic& topic, QTextBrowser* browser, HelpRegion region = HelpRegion::Whole);
    void followLink(const QUrl& url);
    void fillContents();
    void fillIndex();
    void showKeywordTopics(QListWidgetItem* keyword);
    void report(const QString& text);

    QWidget* m_owner;
    DesktopServices& m_desktop;
    QPointer<QDialog> m_window;
    QPointer<QTextBrowser> m_browser;
    QPointer<QTextBrowser> m_top; // the topic's region that does not scroll
    QPointer<QStackedWidget> m_pages;
    QPointer<QTreeWidget> m_contents;
    QPointer<QLineEdit> m_filter;
    QPointer<QListWidget> m_index;
    QPointer<QListWidget> m_indexTopics;
    QPointer<QPushButton> m_back;
    QPointer<QFrame> m_popupFrame;
    QPointer<QTextBrowser> m_popup;
    std::unique_ptr<HelpFile> m_file;
    QString m_path;
    int m_current = 0;
    QList<int> m_history;                   // topics shown before the current one
    QHash<QString, QImage> m_pictureImages; // pictures of the file as drawn, by picture id
};
