#include "HelpWindow.h"

#include "HelpContentsFile.h"
#include "HelpFile.h"
#include "HelpHtml.h"
#include "HelpMetafile.h"

#include <QAbstractTextDocumentLayout>
#include <QCursor>
#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextFrame>
#include <QTextLayout>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

const QString TopicScheme = QStringLiteral("topic");
const QString PopupScheme = QStringLiteral("popup");
const QString PictureScheme = QStringLiteral("picture");
constexpr int OrderRole = Qt::UserRole;

// Closes a pop-up when its text is clicked anywhere but on a link.
class ClickCloses : public QObject {
public:
    ClickCloses(QWidget* popup, QTextBrowser* text) : QObject(popup), m_popup(popup), m_text(text) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (m_text->anchorAt(mouse->position().toPoint()).isEmpty())
                m_popup->hide();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* m_popup;
    QTextBrowser* m_text;
};

// The hot spots of the pictures a browser shows: over one the pointer is a hand, a click follows
// it as a click on a text link does. The rectangles are in the picture's own pixels.
class PictureLinks : public QObject {
public:
    static inline const QString Name = QStringLiteral("helpPictureLinks");
    struct Spot {
        QRect rect;
        QUrl url;
    };
    PictureLinks(QTextBrowser* browser, std::function<void(const QUrl&)> follow)
        : QObject(browser), m_browser(browser), m_follow(std::move(follow))
    {
        setObjectName(Name);
        browser->viewport()->installEventFilter(this);
    }
    // A new text: its pictures' spots follow; a hand shown over the old ones goes.
    void clear()
    {
        m_spots.clear();
        showHand(false);
        m_pressed.clear();
    }
    void add(const QString& picture, QSize size, const QList<Spot>& spots)
    {
        if (!spots.isEmpty())
            m_spots[picture] = {size, spots};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const auto type = event->type();
        if (m_spots.isEmpty() ||
            (type != QEvent::MouseMove && type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease))
            return QObject::eventFilter(watched, event);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QUrl url = urlAt(mouse->position());
        showHand(!url.isEmpty());
        // A click follows the spot where the button went down and came up again.
        const QUrl pressed = type == QEvent::MouseButtonRelease ? std::exchange(m_pressed, QUrl()) : m_pressed;
        if (url.isEmpty() || (type != QEvent::MouseMove && mouse->button() != Qt::LeftButton))
            return QObject::eventFilter(watched, event);
        if (type == QEvent::MouseButtonPress)
            m_pressed = url;
        else if (type == QEvent::MouseButtonRelease && pressed == url)
            m_follow(url);
        return true; // the text does not start a selection on a hot spot
    }

private:
    // The hot spot under a point of the viewport: each picture of the document is found where the
    // layout put it, floating at a margin or standing in a line of text.
    QUrl urlAt(QPointF point) const
    {
        const QPointF at =
            point + QPointF(m_browser->horizontalScrollBar()->value(), m_browser->verticalScrollBar()->value());
        QTextDocument* document = m_browser->document();
        QAbstractTextDocumentLayout* layout = document->documentLayout();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextImageFormat image = it.fragment().charFormat().toImageFormat();
                const auto found = image.isValid() ? m_spots.constFind(image.name()) : m_spots.constEnd();
                if (found == m_spots.constEnd())
                    continue;
                const QSizeF shown(image.width(), image.height());
                QRectF box(QPointF(), shown);
                auto* frame = qobject_cast<QTextFrame*>(document->objectForFormat(image));
                if (frame && frame->frameFormat().position() != QTextFrameFormat::InFlow) {
                    box = layout->frameBoundingRect(frame);
                } else {
                    const QTextLayout* lines = block.layout();
                    const int position = it.fragment().position() - block.position();
                    const QTextLine line = lines->lineForTextPosition(position);
                    if (!line.isValid())
                        continue;
                    // Standing on the baseline; the line's coordinates count from where the block's layout
                    // stands, which the block's bounding rectangle gives in the document's coordinates.
                    box.moveTopLeft(layout->blockBoundingRect(block).topLeft() +
                                    QPointF(line.cursorToX(position), line.y() + line.ascent() - shown.height()));
                }
                if (!box.contains(at) || shown.isEmpty())
                    continue;
                const QPointF inPicture((at.x() - box.x()) * found->size.width() / shown.width(),
                                        (at.y() - box.y()) * found->size.height() / shown.height());
                for (const Spot& spot : found->spots) {
                    if (QRectF(spot.rect).contains(inPicture))
                        return spot.url;
                }
            }
        }
        return {};
    }

    // Over a hot spot the hand, as over a link; off it, the pointer the text had.
    void showHand(bool hand)
    {
        QWidget* viewport = m_browser->viewport();
        if (hand && !m_pointer) {
            m_pointer = viewport->cursor();
            viewport->setCursor(Qt::PointingHandCursor);
        } else if (!hand && m_pointer) {
            viewport->setCursor(*std::exchange(m_pointer, std::nullopt));
        }
    }

    struct Picture {
        QSize size;
        QList<Spot> spots;
    };
    QTextBrowser* m_browser;
    std::function<void(const QUrl&)> m_follow;
    QHash<QString, Picture> m_spots;  // by the picture's resource name
    std::optional<QCursor> m_pointer; // the viewport's own, while the hand shows over a hot spot
    QUrl m_pressed;
};

} // namespace

HelpWindowViewer::~HelpWindowViewer()
{
    // The windows call back into this viewer, so they go with it.
    delete m_popupFrame.data();
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

QTextBrowser* HelpWindowViewer::nonScrolling() const
{
    return m_top;
}

QListWidget* HelpWindowViewer::indexTopics() const
{
    return m_indexTopics;
}

QTextBrowser* HelpWindowViewer::popup() const
{
    return m_popup;
}

void HelpWindowViewer::report(const QString& text)
{
    m_desktop.messageBox(DesktopServices::Icon::Exclamation, QStringLiteral("Nápověda"), text);
}

void HelpWindowViewer::showHelpTopic(const QString& helpFile, int context)
{
    open(helpFile, [context](const HelpFile& file) { return file.topicByContext(context); });
}

void HelpWindowViewer::showHelpContents(const QString& helpFile)
{
    open(helpFile, [](const HelpFile& file) { return file.topicByOrder(1); });
}

void HelpWindowViewer::open(const QString& helpFile, const std::function<HelpTopic(const HelpFile&)>& chooseTopic)
{
    try {
        // Read afresh every time: the file may have been replaced since. The program's help is Czech.
        auto file = std::make_unique<HelpFile>(helpFile, HelpFile::CzechCodePage);
        const HelpTopic topic = chooseTopic(*file);
        const bool sameFile = m_file && m_path == helpFile;
        m_file = std::move(file);
        m_pictureImages.clear();
        m_path = helpFile;
        build();
        if (!sameFile) {
            m_history.clear();
            m_current = 0;
            fillContents();
            fillIndex();
        }
        present(topic, m_current != topic.order);
        m_window->setWindowTitle(!m_file->title().isEmpty() ? m_file->title() : topic.title);
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
    } catch (const RunTimeError& error) {
        report(error.description());
    }
}

void HelpWindowViewer::build()
{
    if (m_window)
        return;
    m_window = new QDialog(m_owner);
    m_window->setObjectName(QStringLiteral("helpWindow"));
    m_window->setModal(false);
    m_window->resize(640, 520);
    auto* layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(6, 6, 6, 6);
    auto* buttons = new QHBoxLayout;
    auto button = [&](const QString& name, const QString& text, void (HelpWindowViewer::*slot)()) {
        auto* b = new QPushButton(text, m_window);
        b->setObjectName(name);
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, m_window, [this, slot] { (this->*slot)(); });
        buttons->addWidget(b);
        return b;
    };
    button(QStringLiteral("helpContentsButton"), QStringLiteral("&Obsah"), &HelpWindowViewer::showContents);
    button(QStringLiteral("helpIndexButton"), QStringLiteral("&Rejstřík"), &HelpWindowViewer::showIndex);
    m_back = button(QStringLiteral("helpBackButton"), QStringLiteral("&Zpět"), &HelpWindowViewer::goBack);
    buttons->addStretch();
    layout->addLayout(buttons);

    m_pages = new QStackedWidget(m_window);
    // The topic: the region that does not scroll above, on its own background, and the rest below.
    auto* topicPage = new QWidget(m_pages);
    auto* topicLayout = new QVBoxLayout(topicPage);
    topicLayout->setContentsMargins(0, 0, 0, 0);
    topicLayout->setSpacing(0);
    m_top = new QTextBrowser(topicPage);
    m_top->setObjectName(QStringLiteral("helpNonScrolling"));
    m_top->setOpenLinks(false);
    m_top->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_top->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_top->setFrameShape(QFrame::NoFrame);
    m_top->setStyleSheet(QStringLiteral("QTextBrowser { background: %1; border-bottom: 1px solid gray }")
                             .arg(QLatin1String(HelpNonScrollingBackground)));
    m_top->document()->setDocumentMargin(12);
    m_top->hide();
    m_browser = new QTextBrowser(topicPage);
    m_browser->setObjectName(QStringLiteral("helpText"));
    m_browser->setOpenLinks(false);
    m_browser->document()->setDocumentMargin(12);
    for (QTextBrowser* browser : {m_top.data(), m_browser.data()})
        QObject::connect(browser, &QTextBrowser::anchorClicked, m_window, [this](const QUrl& url) { followLink(url); });
    topicLayout->addWidget(m_top);
    topicLayout->addWidget(m_browser, 1);
    m_pages->addWidget(topicPage);

    m_contents = new QTreeWidget(m_pages);
    m_contents->setObjectName(QStringLiteral("helpContents"));
    m_contents->setHeaderHidden(true);
    QObject::connect(m_contents, &QTreeWidget::itemActivated, m_window, [this](QTreeWidgetItem* item) {
        if (const int order = item->data(0, OrderRole).toInt(); order > 0)
            openTopic(order);
    });
    m_pages->addWidget(m_contents);

    auto* indexPage = new QWidget(m_pages);
    auto* indexLayout = new QVBoxLayout(indexPage);
    indexLayout->setContentsMargins(0, 0, 0, 0);
    m_filter = new QLineEdit(indexPage);
    m_filter->setObjectName(QStringLiteral("helpIndexFilter"));
    m_filter->setPlaceholderText(QStringLiteral("Hledané slovo"));
    m_index = new QListWidget(indexPage);
    m_index->setObjectName(QStringLiteral("helpIndex"));
    indexLayout->addWidget(m_filter);
    indexLayout->addWidget(m_index);
    QObject::connect(m_filter, &QLineEdit::textChanged, m_window, [this](const QString& text) {
        QListWidgetItem* first = nullptr;
        for (int i = 0; i < m_index->count(); ++i) {
            QListWidgetItem* item = m_index->item(i);
            const bool shown = item->text().contains(text.trimmed(), Qt::CaseInsensitive);
            item->setHidden(!shown);
            if (shown && !first)
                first = item;
        }
        m_index->setCurrentItem(first);
    });
    auto* topicsLabel = new QLabel(QStringLiteral("&Nalezená témata"), indexPage);
    m_indexTopics = new QListWidget(indexPage);
    m_indexTopics->setObjectName(QStringLiteral("helpIndexTopics"));
    m_indexTopics->setMaximumHeight(120);
    topicsLabel->setBuddy(m_indexTopics);
    indexLayout->addWidget(topicsLabel);
    indexLayout->addWidget(m_indexTopics);
    QObject::connect(m_index, &QListWidget::currentItemChanged, m_window,
                     [this](QListWidgetItem* item) { showKeywordTopics(item); });
    // A keyword of one topic opens it; of several, the choice moves to the list of its topics.
    auto openKeyword = [this](QListWidgetItem* item) {
        if (!item)
            return;
        showKeywordTopics(item);
        if (m_indexTopics->count() == 1) {
            openTopic(m_indexTopics->item(0)->data(OrderRole).toInt());
        } else if (m_indexTopics->count() > 1) {
            m_indexTopics->setCurrentRow(0);
            m_indexTopics->setFocus();
        }
    };
    QObject::connect(m_index, &QListWidget::itemActivated, m_window, openKeyword);
    QObject::connect(m_filter, &QLineEdit::returnPressed, m_window,
                     [this, openKeyword] { openKeyword(m_index->currentItem()); });
    QObject::connect(m_indexTopics, &QListWidget::itemActivated, m_window,
                     [this](QListWidgetItem* item) { openTopic(item->data(OrderRole).toInt()); });
    m_pages->addWidget(indexPage);
    layout->addWidget(m_pages);

    // Names a screen reader announces for the controls without a caption.
    m_browser->setAccessibleName(QStringLiteral("Text tématu nápovědy"));
    m_contents->setAccessibleName(QStringLiteral("Obsah nápovědy"));
    m_filter->setAccessibleName(QStringLiteral("Hledané slovo v rejstříku"));
    m_index->setAccessibleName(QStringLiteral("Rejstřík nápovědy"));
    m_indexTopics->setAccessibleName(QStringLiteral("Nalezená témata"));
    m_top->setAccessibleName(QStringLiteral("Záhlaví tématu nápovědy"));
}

void HelpWindowViewer::fillContents()
{
    m_contents->clear();
    // The contents file's headings and topics by level, else every topic in file order.
    QList<QTreeWidgetItem*> parents;
    for (const HelpContentsItem& entry : readHelpContentsFile(*m_file)) {
        while (parents.size() >= entry.level)
            parents.removeLast();
        auto* item = parents.isEmpty() ? new QTreeWidgetItem(m_contents) : new QTreeWidgetItem(parents.last());
        item->setText(0, entry.title);
        item->setData(0, OrderRole, entry.order);
        if (entry.order == 0)
            parents.append(item);
    }
    if (m_contents->topLevelItemCount() > 0)
        return;
    for (const HelpContentsEntry& entry : m_file->contents()) {
        auto* item = new QTreeWidgetItem(m_contents);
        item->setText(0, entry.title.isEmpty() ? QStringLiteral("(téma %1)").arg(entry.order) : entry.title);
        item->setData(0, OrderRole, entry.order);
    }
}

void HelpWindowViewer::fillIndex()
{
    m_index->clear();
    m_filter->clear();
    try {
        for (const HelpKeyword& keyword : m_file->keywords()) {
            if (keyword.orders.isEmpty())
                continue;
            auto* item = new QListWidgetItem(keyword.keyword, m_index);
            item->setData(OrderRole, QVariant::fromValue(keyword.orders));
        }
    } catch (const RunTimeError&) {
        // A damaged index leaves the list empty; the topics still show.
    }
}

void HelpWindowViewer::showKeywordTopics(QListWidgetItem* keyword)
{
    m_indexTopics->clear();
    if (!keyword)
        return;
    const QStringList titles = m_file->topicTitles();
    for (const int order : keyword->data(OrderRole).value<QList<int>>()) {
        const QString title = titles.value(order - 1);
        auto* item =
            new QListWidgetItem(title.isEmpty() ? QStringLiteral("(téma %1)").arg(order) : title, m_indexTopics);
        item->setData(OrderRole, order);
    }
}

void HelpWindowViewer::showContents()
{
    if (!m_pages)
        return;
    m_pages->setCurrentIndex(1);
    m_back->setEnabled(true);
    m_contents->setFocus();
}

void HelpWindowViewer::showIndex()
{
    if (!m_pages)
        return;
    m_pages->setCurrentIndex(2);
    m_back->setEnabled(true);
    m_filter->setFocus();
}

void HelpWindowViewer::goBack()
{
    if (!m_pages)
        return;
    if (m_pages->currentIndex() != 0) {
        m_pages->setCurrentIndex(0); // from the contents or the index back to the topic
    } else if (!m_history.isEmpty()) {
        const int previous = m_history.takeLast();
        openTopic(previous, false);
    }
    m_back->setEnabled(!m_history.isEmpty() || m_pages->currentIndex() != 0);
}

void HelpWindowViewer::openTopic(int order, bool remember)
{
    if (!m_file || !m_window)
        return;
    try {
        present(m_file->topicByOrder(order), remember);
    } catch (const RunTimeError& error) {
        report(error.description());
    }
}

void HelpWindowViewer::present(const HelpTopic& topic, bool remember)
{
    if (remember && m_current != 0)
        m_history.append(m_current);
    m_current = topic.order;
    showTopic(topic, m_browser, HelpRegion::Scrolling);
    showTopic(topic, m_top, HelpRegion::NonScrolling);
    const bool top = !m_top->document()->isEmpty();
    m_top->setVisible(top);
    if (top) {
        m_top->document()->setTextWidth(m_browser->viewport()->width());
        m_top->setFixedHeight(int(m_top->document()->size().height()) + 2);
    }
    m_pages->setCurrentIndex(0);
    m_back->setEnabled(!m_history.isEmpty());
}

void HelpWindowViewer::followLink(const QUrl& url)
{
    if (!m_file)
        return;
    bool ok = false;
    const int order = url.path().toInt(&ok);
    if (!ok)
        return;
    if (url.scheme() == TopicScheme) {
        if (m_popupFrame)
            m_popupFrame->hide();
        openTopic(order);
        return;
    }
    if (url.scheme() != PopupScheme)
        return;
    try {
        const HelpTopic topic = m_file->topicByOrder(order);
        if (!m_popupFrame) {
            m_popupFrame = new QFrame(m_window, Qt::Popup);
            m_popupFrame->setObjectName(QStringLiteral("helpPopup"));
            m_popupFrame->setFrameShape(QFrame::Box);
            auto* layout = new QVBoxLayout(m_popupFrame);
            layout->setContentsMargins(1, 1, 1, 1);
            m_popup = new QTextBrowser(m_popupFrame);
            m_popup->setObjectName(QStringLiteral("helpPopupText"));
            m_popup->setAccessibleName(QStringLiteral("Vysvětlivka nápovědy"));
            m_popup->setOpenLinks(false);
            m_popup->setStyleSheet(QStringLiteral("background: #ffffe1"));
            m_popup->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            m_popup->setFrameShape(QFrame::NoFrame);
            QObject::connect(m_popup, &QTextBrowser::anchorClicked, m_popupFrame,
                             [this](const QUrl& link) { followLink(link); });
            // A click on the text outside a link closes the pop-up, as Esc does.
            m_popup->viewport()->installEventFilter(new ClickCloses(m_popupFrame, m_popup));
            auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_popupFrame);
            escape->setContext(Qt::WidgetWithChildrenShortcut);
            QObject::connect(escape, &QShortcut::activated, m_popupFrame, [this] { m_popupFrame->hide(); });
            layout->addWidget(m_popup);
        }
        showTopic(topic, m_popup);
        // As wide as the text needs up to two thirds of the screen, as tall as the text then is;
        // a scroll bar only when even the screen's height is too little.
        const QRect screen = m_window->screen()->availableGeometry();
        const qreal widest = screen.width() * 2 / 3;
        // Measured on a copy: the browser lays its own document out at its current width.
        const std::unique_ptr<QTextDocument> probe(m_popup->document()->clone());
        probe->setTextWidth(widest);
        probe->size();
        qreal used = 0;
        for (QTextBlock block = probe->begin(); block.isValid(); block = block.next()) {
            const QTextLayout* lines = block.layout();
            const QRectF box = probe->documentLayout()->blockBoundingRect(block);
            for (int i = 0; lines && i < lines->lineCount(); ++i)
                used = std::max(used, box.x() + lines->lineAt(i).x() + lines->lineAt(i).naturalTextWidth());
        }
        const qreal width = std::ceil(std::min(widest, used + probe->documentMargin() + 2));
        probe->setTextWidth(width);
        const qreal needed = std::ceil(probe->size().height());
        const int height = std::min(int(needed), screen.height() * 2 / 3);
        const int frame = 2 * (m_popupFrame->frameWidth() + 1) + 2 * m_popup->frameWidth();
        m_popup->setVerticalScrollBarPolicy(height < needed ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        m_popupFrame->resize(int(width) + frame, height + frame);
        QPoint at = QCursor::pos() + QPoint(8, 8);
        at.setX(std::clamp(at.x(), screen.left(), std::max(screen.left(), screen.right() - m_popupFrame->width())));
        at.setY(std::clamp(at.y(), screen.top(), std::max(screen.top(), screen.bottom() - m_popupFrame->height())));
        m_popupFrame->move(at);
        m_popupFrame->show();
    } catch (const RunTimeError& error) {
        report(error.description());
    }
}

void HelpWindowViewer::showTopic(const HelpTopic& topic, QTextBrowser* browser, HelpRegion region)
{
    QTextDocument* document = browser->document();
    // One per browser, found by name: the class has no meta-object of its own to be cast to.
    auto* pictureLinks =
        static_cast<PictureLinks*>(browser->findChild<QObject*>(PictureLinks::Name, Qt::FindDirectChildrenOnly));
    if (!pictureLinks)
        pictureLinks = new PictureLinks(browser, [this](const QUrl& url) { followLink(url); });
    pictureLinks->clear();
    HelpHtmlLinks links;
    links.topic = [](int order, bool popup) {
        return QStringLiteral("%1:%2").arg(popup ? PopupScheme : TopicScheme).arg(order);
    };
    links.picture = [&](const QString& picture, const HelpImage& image) {
        const QString name = QStringLiteral("%1:%2/%3").arg(PictureScheme).arg(topic.order).arg(picture);
        if (image.isNull())
            return name;
        // Drawn once per file: the file's own pictures recur from topic to topic.
        const QString key = picture.startsWith(QLatin1String("bm")) ? picture : name;
        auto drawn = m_pictureImages.find(key);
        if (drawn == m_pictureImages.end())
            drawn = m_pictureImages.insert(key, helpPictureImage(image));
        document->addResource(QTextDocument::ImageResource, QUrl(name), *drawn);
        QList<PictureLinks::Spot> spots;
        for (const HelpHotspot& spot : image.hotspots) {
            if (const QString address = helpHotspotAddress(*m_file, spot, links); !address.isEmpty())
                spots.append({QRect(spot.x, spot.y, spot.width, spot.height), QUrl(address)});
        }
        pictureLinks->add(name, QSize(image.width, image.height), spots);
        return name;
    };
    browser->setHtml(helpTopicHtml(*m_file, topic, links, false, region));
    // Pop-up links get their dotted underline (Qt's HTML reader keeps only a solid one).
    QList<std::pair<QTextFragment, QTextCharFormat>> popupLinks;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextCharFormat format = it.fragment().charFormat();
            if (!format.isAnchor() || !format.anchorHref().startsWith(PopupScheme + QLatin1Char(':')))
                continue;
            format.setUnderlineStyle(QTextCharFormat::DotLine);
            popupLinks.append({it.fragment(), format});
        }
    }
    for (const auto& [fragment, format] : popupLinks) {
        QTextCursor range(document);
        range.setPosition(fragment.position());
        range.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
        range.setCharFormat(format);
    }
    // Rich text knows no tab stops: each block takes its paragraph's. The file measures them from the
    // left margin, Qt from where the first line starts (indents included).
    QTextCursor cursor(document);
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const int index = block.userState();
        if (index < 0 || index >= topic.paragraphs.size() || topic.paragraphs[index].tabStops.isEmpty())
            continue;
        const HelpParagraph& paragraph = topic.paragraphs[index];
        QList<QTextOption::Tab> tabs;
        for (const HelpTabStop& stop : paragraph.tabStops) {
            const QTextOption::TabType type = stop.kind == HelpTabStop::Kind::Right    ? QTextOption::RightTab
                                              : stop.kind == HelpTabStop::Kind::Center ? QTextOption::CenterTab
                                                                                       : QTextOption::LeftTab;
            const int fromLineStart = stop.position - paragraph.leftIndent - paragraph.firstLineIndent;
            tabs.append(QTextOption::Tab(fromLineStart * 10.0 / 15, type));
        }
        QTextBlockFormat format = block.blockFormat();
        format.setTabPositions(tabs);
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
}
