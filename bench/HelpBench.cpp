#include "HelpBench.h"

#include "HelpFile.h"
#include "HelpWindow.h"
#include "NullViews.h"

#include <QTextBrowser>
#include <QWidget>

#include <algorithm>
#include <chrono>

namespace {

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

HelpWindowFigure measureHelpWindow(const QString& helpFile, int maxTopics)
{
    QList<int> orders;
    const HelpFile file(helpFile);
    for (int order = 1; order <= file.topicCount() && orders.size() < maxTopics; ++order) {
        const HelpTopic topic = file.topicByOrder(order);
        const bool pictures = std::any_of(topic.paragraphs.begin(), topic.paragraphs.end(), [](const HelpParagraph& p) {
            return std::any_of(p.runs.begin(), p.runs.end(), [](const HelpRun& r) { return !r.picture.isEmpty(); });
        });
        if (pictures)
            orders.append(order);
    }
    QWidget owner;
    NullDesktop desktop;
    HelpWindowViewer viewer(&owner, desktop);
    viewer.showHelpContents(helpFile);
    // The topic's text laid out and painted: what the reader waits for.
    auto open = [&](int order) {
        const auto start = std::chrono::steady_clock::now();
        viewer.openTopic(order);
        viewer.browser()->viewport()->grab();
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    QList<double> first, again;
    for (const int order : orders)
        first.append(open(order));
    for (const int order : orders)
        again.append(open(order));
    HelpWindowFigure figure;
    figure.topics = int(orders.size());
    figure.firstMedianMs = median(first);
    figure.firstWorstMs = first.isEmpty() ? 0 : *std::max_element(first.begin(), first.end());
    figure.againMedianMs = median(again);
    figure.boxes = desktop.boxes;
    return figure;
}
