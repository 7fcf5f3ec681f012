#include "HelpHtml.h"

#include <algorithm>

namespace {

QString runHtml(const HelpFile& file, const HelpTopic& topic, const HelpRun& run, const HelpHtmlLinks& links)
{
    QString html;
    if (!run.picture.isEmpty()) {
        const HelpImage image = file.picture(run.picture, topic);
        const char* align = run.placement == HelpRun::Placement::Left    ? " align=\"left\""
                            : run.placement == HelpRun::Placement::Right ? " align=\"right\""
                                                                         : "";
        html = QStringLiteral("<img src=\"%1\" width=\"%2\" height=\"%3\"%4 alt=\"\">")
                   .arg(links.picture(run.picture, image).toHtmlEscaped())
                   .arg(std::max(image.width, 1))
                   .arg(std::max(image.height, 1))
                   .arg(QLatin1String(align));
    } else {
        html = run.text.toHtmlEscaped();
        html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    }
    if (run.bold)
        html = QStringLiteral("<b>%1</b>").arg(html);
    if (run.italic)
        html = QStringLiteral("<i>%1</i>").arg(html);
    if (run.underline)
        html = QStringLiteral("<u>%1</u>").arg(html);
    if (run.points > 0 && run.picture.isEmpty())
        html = QStringLiteral("<span style=\"font-size: %1pt\">%2</span>").arg(run.points).arg(html);
    if (const auto target = file.jumpTarget(run.jump)) {
        if (const auto order = file.orderAtOffset(*target))
            html =
                QStringLiteral("<a href=\"%1\">%2</a>").arg(links.topic(*order, run.jump.popup).toHtmlEscaped(), html);
    }
    return html;
}

QString paragraphBody(const HelpFile& file, const HelpTopic& topic, const HelpParagraph& paragraph,
                      const HelpHtmlLinks& links)
{
    QString body;
    for (const HelpRun& run : paragraph.runs)
        body += runHtml(file, topic, run, links);
    return body.isEmpty() ? QStringLiteral("&nbsp;") : body;
}

const char* alignmentName(HelpParagraph::Alignment alignment)
{
    switch (alignment) {
    case HelpParagraph::Alignment::Center:
        return "center";
    case HelpParagraph::Alignment::Right:
        return "right";
    case HelpParagraph::Alignment::Left:
        break;
    }
    return "left";
}

} // namespace

QString helpTopicHtml(const HelpFile& file, const HelpTopic& topic, const HelpHtmlLinks& links, bool page)
{
    // Authors often repeat the title as the topic's first paragraph; then it is not shown twice.
    // One element a line for a page, to read in a diff; none in a fragment, where Qt's pre-wrap would keep them.
    const QString nl = page ? QStringLiteral("\n") : QString();
    const auto firstText = std::find_if(topic.paragraphs.begin(), topic.paragraphs.end(),
                                        [](const HelpParagraph& p) { return !p.plainText().trimmed().isEmpty(); });
    const bool titleInText =
        firstText != topic.paragraphs.end() && firstText->plainText().trimmed() == topic.title.trimmed();
    QString html = titleInText || topic.title.isEmpty()
                       ? QString()
                       : QStringLiteral("<h3>%1</h3>").arg(topic.title.toHtmlEscaped()) + nl;
    const QList<HelpParagraph>& paragraphs = topic.paragraphs;
    for (qsizetype i = 0; i < paragraphs.size();) {
        const HelpParagraph& paragraph = paragraphs[i];
        if (paragraph.table < 0) {
            // Tabs stay visible; an empty paragraph is an empty line.
            html += QStringLiteral("<p align=\"%1\" style=\"white-space: pre-wrap\">%2</p>")
                        .arg(QLatin1String(alignmentName(paragraph.alignment)),
                             paragraphBody(file, topic, paragraph, links)) +
                    nl;
            ++i;
            continue;
        }
        // The cells of one table, row by row; paragraphs of one cell share it.
        html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\">") + nl;
        const int table = paragraph.table;
        while (i < paragraphs.size() && paragraphs[i].table == table) {
            const int row = paragraphs[i].row;
            html += QStringLiteral("<tr>");
            while (i < paragraphs.size() && paragraphs[i].table == table && paragraphs[i].row == row) {
                const int column = paragraphs[i].column;
                QStringList cell;
                while (i < paragraphs.size() && paragraphs[i].table == table && paragraphs[i].row == row &&
                       paragraphs[i].column == column)
                    cell.append(paragraphBody(file, topic, paragraphs[i++], links));
                html += QStringLiteral("<td valign=\"top\" style=\"white-space: pre-wrap\">%1</td>")
                            .arg(cell.join(QStringLiteral("<br>")));
            }
            html += QStringLiteral("</tr>") + nl;
        }
        html += QStringLiteral("</table>") + nl;
    }
    if (!page)
        return html;
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title></head>\n<body>\n%2"
                          "</body></html>\n")
        .arg(topic.title.toHtmlEscaped(), html);
}

QString helpIndexHtml(const HelpFile& file, const std::function<QString(int order)>& topic)
{
    const QStringList titles = file.topicTitles();
    auto link = [&](int order) {
        const QString title = titles.value(order - 1);
        return QStringLiteral("<a href=\"%1\">%2</a>")
            .arg(topic(order).toHtmlEscaped(),
                 (title.isEmpty() ? QStringLiteral("(téma %1)").arg(order) : title).toHtmlEscaped());
    };
    const QString title = file.title().isEmpty() ? QStringLiteral("Nápověda") : file.title();
    QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title></head>\n"
                                  "<body>\n<h1>%1</h1>\n<h2>Obsah</h2>\n<ol>\n")
                       .arg(title.toHtmlEscaped());
    for (int order = 1; order <= file.topicCount(); ++order)
        html += QStringLiteral("<li>%1</li>\n").arg(link(order));
    html += QStringLiteral("</ol>\n");
    QList<HelpKeyword> keywords;
    try {
        keywords = file.keywords();
    } catch (const RunTimeError&) {
        // A damaged index leaves the page without it; the topics are listed above.
    }
    if (!keywords.isEmpty()) {
        html += QStringLiteral("<h2>Rejstřík</h2>\n<ul>\n");
        for (const HelpKeyword& keyword : keywords) {
            if (keyword.orders.isEmpty())
                continue;
            if (keyword.orders.size() == 1) {
                html += QStringLiteral("<li><a href=\"%1\">%2</a></li>\n")
                            .arg(topic(keyword.orders.first()).toHtmlEscaped(), keyword.keyword.toHtmlEscaped());
                continue;
            }
            html += QStringLiteral("<li>%1 &ndash; Nalezená témata:<ul>").arg(keyword.keyword.toHtmlEscaped());
            for (const int order : keyword.orders)
                html += QStringLiteral("<li>%1</li>").arg(link(order));
            html += QStringLiteral("</ul></li>\n");
        }
        html += QStringLiteral("</ul>\n");
    }
    return html + QStringLiteral("</body></html>\n");
}
