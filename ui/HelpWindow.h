#pragma once

#include "DesktopServices.h"
#include "HelpViewer.h"

#include <QPointer>

#include <memory>

class HelpFile;
struct HelpTopic;
class QDialog;
class QTextBrowser;
class QUrl;
class QWidget;

// Shows a topic of a help file in a window of our own: the system has no
// viewer for the format, so the file is read by HelpFile. The window is not
// modal and belongs to the owner; failures are reported in the viewer's own
// message box ("Nápověda").
class HelpWindowViewer : public HelpViewer {
public:
    HelpWindowViewer(QWidget* owner, DesktopServices& desktop) : m_owner(owner), m_desktop(desktop) {}
    ~HelpWindowViewer() override;
    void showHelpTopic(const QString& helpFile, int context) override;

    // The help window once a topic was shown, else null.
    QDialog* window() const;
    QTextBrowser* browser() const;

private:
    void showTopic(const HelpTopic& topic);
    void followLink(const QUrl& url);
    void report(const QString& text);

    QWidget* m_owner;
    DesktopServices& m_desktop;
    QPointer<QDialog> m_window;
    QPointer<QTextBrowser> m_browser;
    std::unique_ptr<HelpFile> m_file;
};
