#include "HelpHtml.h"

#include "HelpFonts.h"

#include <algorithm>

namespace {

// Text for HTML: most runs hold nothing to escape and are taken as they are.
QString escaped(const QString& text)
{
    const bool plain = std::none_of(text.begin(), text.end(), [](QChar c) {
        return c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char('&') || c == QLatin1Char('"');
    });
    return plain ? text : text.toHtmlEscaped();
}

// The picture's hot spots as a map named after the picture; empty when none leads anywhere.
QString imageMap(const HelpFile& file, const QString& name, const HelpImage& image, const HelpHtmlLinks& links)
{
    QString areas;
    for (const HelpHotspot& spot : image.hotspots) {
        const QString address = helpHotspotAddress(file, spot, links);
        if (!address.isEmpty())
            areas += QStringLiteral("<area shape=\"rect\" coords=\"%1,%2,%3,%4\" href=\"%5\" alt=\"%6\">")
                         .arg(spot.x)
                         .arg(spot.y)
                         .arg(spot.x + spot.width)
                         .arg(spot.y + spot.height)
                         .arg(address.toHtmlEscaped(), spot.name.toHtmlEscaped());
    }
    return areas.isEmpty() ? QString() : QStringLiteral("<map name=\"%1\">%2</map>").arg(name, areas);
}

QString runHtml(const HelpFile& file, const HelpTopic& topic, const HelpRun& run, const HelpHtmlLinks& links, bool page)
{
    QString html;
    if (!run.picture.isEmpty()) {
        const HelpImage image = file.picture(run.picture, topic);
        const char* align = run.placement == HelpRun::Placement::Left    ? " align=\"left\""
                            : run.placement == HelpRun::Placement::Right ? " align=\"right\""
                                                                         : "";
        const QString map = page ? imageMap(file, QStringLiteral("map-") + run.picture, image, links) : QString();
        html = QStringLiteral("<img src=\"%1\" width=\"%2\" height=\"%3\"%4%5 alt=\"\">")
                   .arg(links.picture(run.picture, image).toHtmlEscaped())
                   .arg(std::max(image.width, 1))
                   .arg(std::max(image.height, 1))
                   .arg(QLatin1String(align),
                        map.isEmpty() ? QString() : QStringLiteral(" usemap=\"#map-%1\"").arg(run.picture)) +
               map;
    } else {
        html = escaped(run.text);
        html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    }
    if (run.bold)
        html = QStringLiteral("<b>%1</b>").arg(html);
    if (run.italic)
        html = QStringLiteral("<i>%1</i>").arg(html);
    if (run.underline)
        html = QStringLiteral("<u>%1</u>").arg(html);
    if (run.picture.isEmpty() && (run.points > 0 || !run.face.isEmpty())) {
        QString style;
        if (!run.face.isEmpty())
            style = QStringLiteral("font-family: ") + escaped(helpFontFamilyCss(run.face));
        if (run.points > 0)
            style += (style.isEmpty() ? QString() : QStringLiteral("; ")) +
                     QStringLiteral("font-size: %1pt").arg(run.points);
        html = QStringLiteral("<span style=\"%1\">%2</span>").arg(style, html);
    }
    if (const auto target = file.jumpTarget(run.jump)) {
        if (const auto order = file.orderAtOffset(*target))
            html = QStringLiteral("<a href=\"%1\" style=\"%2\">%3</a>")
                       .arg(escaped(links.topic(*order, run.jump.popup)),
                            QLatin1String(run.jump.popup ? HelpPopupLinkStyle : HelpJumpLinkStyle), html);
    }
    return html;
}

// Half points of the file to CSS pixels (15 twips to a pixel).
int px(int halfPoints)
{
    return halfPoints * 10 / 15;
}

QString paragraphBody(const HelpFile& file, const HelpTopic& topic, const HelpParagraph& paragraph,
                      const HelpHtmlLinks& links, bool page)
{
    // In a browser the text before the first tab stands in a box that reaches the tab stop, so a
    // hanging indent lines up as in the file; Qt's rich text keeps the tab for the block's own stops.
    qsizetype firstTab = -1;
    for (qsizetype i = 0; page && i < paragraph.runs.size() && firstTab < 0; ++i)
        firstTab = paragraph.runs[i].picture.isEmpty() && paragraph.runs[i].text.contains(QLatin1Char('\t')) ? i : -1;
    const int lineStart = paragraph.leftIndent + paragraph.firstLineIndent;
    const auto stop = std::find_if(paragraph.tabStops.begin(), paragraph.tabStops.end(),
                                   [&](const HelpTabStop& t) { return t.position > lineStart; });
    QString body;
    if (firstTab >= 0 && stop != paragraph.tabStops.end() && stop->kind == HelpTabStop::Kind::Left) {
        QString before;
        for (qsizetype i = 0; i < firstTab; ++i)
            before += runHtml(file, topic, paragraph.runs[i], links, page);
        HelpRun head = paragraph.runs[firstTab];
        HelpRun tail = head;
        const qsizetype at = head.text.indexOf(QLatin1Char('\t'));
        head.text = head.text.left(at);
        tail.text = tail.text.mid(at + 1);
        before += runHtml(file, topic, head, links, page);
        body = QStringLiteral("<span style=\"display: inline-block; min-width: %1px\">%2</span>")
                   .arg(px(stop->position - lineStart))
                   .arg(before);
        body += runHtml(file, topic, tail, links, page);
        for (qsizetype i = firstTab + 1; i < paragraph.runs.size(); ++i)
            body += runHtml(file, topic, paragraph.runs[i], links, page);
    } else {
        for (const HelpRun& run : paragraph.runs)
            body += runHtml(file, topic, run, links, page);
    }
    return body.isEmpty() ? QStringLiteral("&nbsp;") : body;
}

// The paragraph's indents and spacing; its index as the block's state, where the window finds its tab stops.
// Appended piece by piece: a large file has hundreds of thousands of paragraphs.
QString paragraphStyle(const HelpParagraph& paragraph, qsizetype index)
{
    QString style;
    style.reserve(160);
    style.append(QLatin1String("white-space: pre-wrap; -qt-user-state: ")).append(QString::number(index));
    const std::pair<const char*, int> distances[] = {{"margin-left", paragraph.leftIndent},
                                                     {"margin-right", paragraph.rightIndent},
                                                     {"text-indent", paragraph.firstLineIndent},
                                                     {"margin-top", paragraph.spaceAbove},
                                                     {"margin-bottom", paragraph.spaceBelow}};
    for (const auto& [name, value] : distances) {
        style.append(QLatin1String("; ")).append(QLatin1String(name)).append(QLatin1String(": "));
        style.append(QString::number(px(value))).append(QLatin1String("px"));
    }
    return style;
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

QString helpHotspotAddress(const HelpFile& file, const HelpHotspot& spot, const HelpHtmlLinks& links)
{
    if (spot.kind == HelpHotspot::Kind::Macro)
        return {};
    const bool popup = spot.kind == HelpHotspot::Kind::Popup;
    const auto target = file.jumpTarget(HelpJump{HelpJump::Kind::ContextHash, spot.contextHash, popup});
    const auto order = target ? file.orderAtOffset(*target) : std::nullopt;
    return order ? links.topic(*order, popup) : QString();
}

QString helpTopicHtml(const HelpFile& file, const HelpTopic& topic, const HelpHtmlLinks& links, bool page,
                      HelpRegion region)
{
    // Authors often repeat the title as the topic's first paragraph; then it is not shown twice.
    // One element a line for a page, to read in a diff; none in a fragment, where Qt's pre-wrap would keep them.
    const QString nl = page ? QStringLiteral("\n") : QString();
    const QList<HelpParagraph>& paragraphs = topic.paragraphs;
    const bool hasNonScrolling =
        std::any_of(paragraphs.begin(), paragraphs.end(), [](const HelpParagraph& p) { return p.nonScrolling; });
    auto inRegion = [&](const HelpParagraph& p) {
        return region == HelpRegion::Whole || p.nonScrolling == (region == HelpRegion::NonScrolling);
    };
    const auto firstText = std::find_if(paragraphs.begin(), paragraphs.end(),
                                        [](const HelpParagraph& p) { return !p.plainText().trimmed().isEmpty(); });
    const bool titleInText = firstText != paragraphs.end() && firstText->plainText().trimmed() == topic.title.trimmed();
    // The title heads the region at the top: the non-scrolling one when the topic has one.
    const bool titleHere = region == HelpRegion::Whole || (region == HelpRegion::NonScrolling) == hasNonScrolling;
    QString html = titleInText || topic.title.isEmpty() || !titleHere
                       ? QString()
                       : QStringLiteral("<h3>%1</h3>").arg(topic.title.toHtmlEscaped()) + nl;
    bool inNonScrolling = false;
    for (qsizetype i = 0; i < paragraphs.size();) {
        const HelpParagraph& paragraph = paragraphs[i];
        if (!inRegion(paragraph)) {
            ++i;
            continue;
        }
        // In a page the region that does not scroll stays at the top, on its own background.
        if (page && region == HelpRegion::Whole && paragraph.nonScrolling != inNonScrolling) {
            html += (paragraph.nonScrolling
                         ? QStringLiteral("<div class=\"nonscrolling\" style=\"position: sticky; top: 0; "
                                          "background: %1; border-bottom: 1px solid #808080\">")
                               .arg(QLatin1String(HelpNonScrollingBackground))
                         : QStringLiteral("</div>")) +
                    nl;
            inNonScrolling = paragraph.nonScrolling;
        }
        if (paragraph.table < 0) {
            // Tabs stay visible; an empty paragraph is an empty line.
            html += QStringLiteral("<p align=\"%1\" style=\"%2\">%3</p>")
                        .arg(QLatin1String(alignmentName(paragraph.alignment)), paragraphStyle(paragraph, i),
                             paragraphBody(file, topic, paragraph, links, page)) +
                    nl;
            ++i;
            continue;
        }
        // The cells of one table, row by row; paragraphs of one cell share it. Borders only where a
        // cell asks for one, columns as wide as the file makes them.
        const int table = paragraph.table;
        qsizetype end = i;
        bool bordered = false;
        while (end < paragraphs.size() && paragraphs[end].table == table)
            bordered = bordered || paragraphs[end++].border != 0;
        const HelpTable layout = topic.tables.value(table);
        int total = 0;
        for (const int width : layout.columnWidths)
            total += std::max(width, 0);
        html += QStringLiteral("<table border=\"%1\" cellspacing=\"0\" cellpadding=\"%2\">")
                    .arg(bordered ? 1 : 0)
                    .arg(bordered ? 4 : 2) +
                nl;
        while (i < end) {
            const int row = paragraphs[i].row;
            html += QStringLiteral("<tr>");
            while (i < end && paragraphs[i].row == row) {
                const int column = paragraphs[i].column;
                QStringList cell;
                const qsizetype first = i;
                while (i < end && paragraphs[i].row == row && paragraphs[i].column == column) {
                    cell.append(paragraphBody(file, topic, paragraphs[i], links, page));
                    ++i;
                }
                const int width = layout.columnWidths.value(column);
                const QString widthAttribute =
                    width <= 0 || total <= 0 ? QString()
                    : layout.relative
                        ? QStringLiteral(" width=\"%1%\"").arg(width * 100 / total)
                        : QStringLiteral(" width=\"%1\"").arg(px(width + layout.columnGaps.value(column)));
                html +=
                    QStringLiteral("<td valign=\"top\"%1 style=\"white-space: pre-wrap; -qt-user-state: %2\">%3</td>")
                        .arg(widthAttribute)
                        .arg(first)
                        .arg(cell.join(QStringLiteral("<br>")));
            }
            html += QStringLiteral("</tr>") + nl;
        }
        html += QStringLiteral("</table>") + nl;
    }
    if (inNonScrolling)
        html += QStringLiteral("</div>") + nl;
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
