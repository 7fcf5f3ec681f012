#include "HelpWindow.h"

#include "HelpFile.h"

#include <QDialog>
#include <QTextDocument>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString LinkScheme = QStringLiteral("topic");

QString runHtml(const HelpRun& run)
{
    QString html = run.text.toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    if (run.bold)
        html = QStringLiteral("<b>%1</b>").arg(html);
    if (run.italic)
        html = QStringLiteral("<i>%1</i>").arg(html);
    return html;
}

} // namespace

HelpWindowViewer::~HelpWindowViewer()
{
    // The window calls back into this viewer, so it goes with it.
    delete m_window.data();
}

QDialog* HelpWindowViewer::window() const
{
    return m_window;
}

QTextBrowser* HelpWindowViewer::browser() const
{
    return m_browser;
}

void HelpWindowViewer::report(const QString& text)
{
    m_desktop.messageBox(DesktopServices::Icon::Exclamation, QStringLiteral("Nápověda"), text);
}

void HelpWindowViewer::showHelpTopic(const QString& helpFile, int context)
{
    try {
        // Read afresh every time: the file may have been replaced since. The program's help is Czech.
        auto file = std::make_unique<HelpFile>(helpFile, HelpFile::CzechCodePage);
        const HelpTopic topic = file->topicByContext(context);
        m_file = std::move(file);
        showTopic(topic);
    } catch (const RunTimeError& error) {
        report(error.description());
    }
}

void HelpWindowViewer::followLink(const QUrl& url)
{
    if (!m_file || url.scheme() != LinkScheme)
        return;
    bool ok = false;
    const quint32 offset = url.path().toUInt(&ok);
    if (!ok)
        return;
    try {
        if (const auto topic = m_file->topicAtOffset(offset))
            showTopic(*topic);
    } catch (const RunTimeError& error) {
        report(error.description());
    }
}

void HelpWindowViewer::showTopic(const HelpTopic& topic)
{
    if (!m_window) {
        m_window = new QDialog(m_owner);
        m_window->setObjectName(QStringLiteral("helpWindow"));
        m_window->setModal(false);
        m_window->resize(560, 440);
        auto* layout = new QVBoxLayout(m_window);
        layout->setContentsMargins(0, 0, 0, 0);
        m_browser = new QTextBrowser(m_window);
        m_browser->setObjectName(QStringLiteral("helpText"));
        m_browser->setOpenLinks(false);
        m_browser->document()->setDocumentMargin(12);
        layout->addWidget(m_browser);
        QObject::connect(m_browser, &QTextBrowser::anchorClicked, m_window,
                         [this](const QUrl& url) { followLink(url); });
    }
    m_window->setWindowTitle(!m_file->title().isEmpty() ? m_file->title() : topic.title);

    // Authors often repeat the title as the topic's first paragraph; then it is not shown twice.
    const bool titleInText =
        !topic.paragraphs.isEmpty() && topic.paragraphs.first().plainText().trimmed() == topic.title.trimmed();
    QString html = titleInText ? QString() : QStringLiteral("<h3>%1</h3>").arg(topic.title.toHtmlEscaped());
    for (const HelpParagraph& paragraph : topic.paragraphs) {
        QString body;
        for (qsizetype i = 0; i < paragraph.runs.size(); ++i) {
            const HelpRun& run = paragraph.runs[i];
            const auto target = m_file->jumpTarget(run.jump);
            body += target ? QStringLiteral("<a href=\"%1:%2\">%3</a>").arg(LinkScheme).arg(*target).arg(runHtml(run))
                           : runHtml(run);
        }
        const char* align = paragraph.alignment == HelpParagraph::Alignment::Center  ? "center"
                            : paragraph.alignment == HelpParagraph::Alignment::Right ? "right"
                                                                                     : "left";
        // Tabs stay visible; an empty paragraph is an empty line.
        html += QStringLiteral("<p align=\"%1\" style=\"white-space: pre-wrap\">%2</p>")
                    .arg(QLatin1String(align), body.isEmpty() ? QStringLiteral("&nbsp;") : body);
    }
    m_browser->setHtml(html);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}
