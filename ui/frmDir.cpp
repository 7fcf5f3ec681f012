#include "frmDir.h"

#include "Accessibility.h"
#include "Controls.h"
#include "Drives.h"
#include "Errors.h"
#include "Globals.h"
#include "Paths.h"
#include "RunTimeError.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

constexpr int LevelRole = Qt::UserRole + 1;
constexpr int OpenRole = Qt::UserRole + 2;
constexpr int IndentPerLevel = 12;
constexpr int RowIconSize = 16;

const QColor BackColor(52, 149, 177);

// Twips of the original layout to pixels: 15 twips are one pixel.
QRect twips(int left, int top, int width, int height)
{
    auto px = [](int t) { return qRound(t / 15.0); };
    return QRect(px(left), px(top), px(width), px(height));
}

const VolumeSource* g_volumeSource = nullptr;

frmDir::BeforeExecHook& beforeExecHook()
{
    static frmDir::BeforeExecHook hook;
    return hook;
}

void drawFolder(QPainter& painter, int size, bool open)
{
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    const QColor outline(128, 96, 0);
    const QColor back(230, 180, 30);
    const QColor front(255, 221, 64);
    painter.setPen(QPen(outline, std::max(1.0, s)));

    // The back of the folder with its tab.
    QPainterPath rear;
    rear.moveTo(2 * s, 6 * s);
    rear.lineTo(11 * s, 6 * s);
    rear.lineTo(14 * s, 9 * s);
    rear.lineTo(27 * s, 9 * s);
    rear.lineTo(27 * s, 27 * s);
    rear.lineTo(2 * s, 27 * s);
    rear.closeSubpath();
    painter.setBrush(back);
    painter.drawPath(rear);

    if (open) {
        // The front leaf tilted open towards the viewer.
        QPainterPath leaf;
        leaf.moveTo(7 * s, 14 * s);
        leaf.lineTo(31 * s, 14 * s);
        leaf.lineTo(26 * s, 27 * s);
        leaf.lineTo(2 * s, 27 * s);
        leaf.closeSubpath();
        painter.setBrush(front);
        painter.drawPath(leaf);
    } else {
        painter.setBrush(front);
        painter.drawRect(QRectF(2 * s, 12 * s, 25 * s, 15 * s));
    }
}

QIcon makeFolderIcon(bool open)
{
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        drawFolder(painter, size, open);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// Indents each folder entry by its depth, as the classic folder list does.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem shifted(option);
        shifted.rect.setLeft(option.rect.left() + index.data(LevelRole).toInt() * IndentPerLevel);
        QStyledItemDelegate::paint(painter, shifted, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += index.data(LevelRole).toInt() * IndentPerLevel;
        // One text line high, as the classic lists: about 16 pixels at Arial 9 pt.
        size.setHeight(qMax(option.fontMetrics.height(), RowIconSize));
        return size;
    }
};

} // namespace

// ---------------------------------------------------------------- Drive1

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent)
{
    connect(this, &QComboBox::activated, this, &DriveListBox::onActivated);
    refresh();
}

const VolumeSource& DriveListBox::volumeSource()
{
    return g_volumeSource ? *g_volumeSource : systemVolumes();
}

void DriveListBox::setVolumeSource(const VolumeSource* source)
{
    g_volumeSource = source;
}

void DriveListBox::refresh()
{
    QList<DriveVolume> ready;
    for (const DriveVolume& volume : volumeSource().volumes())
        if (volume.ready)
            ready.append(volume);
    std::sort(ready.begin(), ready.end(), [](const DriveVolume& a, const DriveVolume& b) { return a.root < b.root; });

    const QSignalBlocker blocker(this);
    clear();
    for (const DriveVolume& volume : ready) {
        const QString text =
            volume.label.isEmpty() ? volume.root : volume.root + QStringLiteral(" [%1]").arg(volume.label);
        addItem(text, volume.root);
    }
    const int index = findData(m_shown);
    if (index < 0)
        m_shown.clear();
    setCurrentIndex(index);
}

QString DriveListBox::drive() const
{
    return m_shown;
}

QStringList DriveListBox::drives() const
{
    QStringList result;
    for (int i = 0; i < count(); ++i)
        result.append(itemData(i).toString());
    return result;
}

void DriveListBox::setDrive(const QString& path)
{
    refresh();
    const QString root = volumeSource().driveOf(path);
    const int index = findData(root);
    if (root.isEmpty() || index < 0)
        throw Errors::driveUnreadable(root.isEmpty() ? path : root);
    if (root == m_shown)
        return;
    {
        const QSignalBlocker blocker(this);
        setCurrentIndex(index);
    }
    m_shown = root;
    emit driveChanged(m_shown);
}

void DriveListBox::showDriveQuietly(const QString& path)
{
    const QString root = volumeSource().driveOf(path);
    if (root.isEmpty())
        return;
    if (findData(root) < 0)
        refresh();
    const int index = findData(root);
    if (index < 0)
        return;
    const QSignalBlocker blocker(this);
    setCurrentIndex(index);
    m_shown = root;
}

void DriveListBox::showPopup()
{
    refresh();
    QComboBox::showPopup();
}

void DriveListBox::onActivated(int index)
{
    const QString root = itemData(index).toString();
    if (root == m_shown)
        return;
    m_shown = root;
    emit driveChanged(m_shown);
}

// ---------------------------------------------------------------- Dir1

DirListBox::DirListBox(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new IndentDelegate(this));
    setIconSize(QSize(RowIconSize, RowIconSize));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

QString DirListBox::normalized(const QString& folder)
{
    if (folder.isEmpty())
        return QString();
    return QDir::cleanPath(QDir(folder).absolutePath());
}

void DirListBox::setPath(const QString& folder)
{
    const QString target = normalized(folder);
    const QFileInfo info(target);
    if (target.isEmpty() || !info.isDir())
        throw Errors::chooserFolderMissing(folder);
    if (!info.isReadable() || !info.isExecutable())
        throw Errors::chooserFolderUnreadable(target);

    const QStringList subfolders =
        QDir(target).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    fill(target, subfolders);
    if (target == m_path)
        return;
    m_path = target;
    emit pathChanged(m_path);
}

void DirListBox::fill(const QString& folder, const QStringList& subfolders)
{
    static const QIcon openIcon = makeFolderIcon(true);
    static const QIcon closedIcon = makeFolderIcon(false);

    clear();
    auto add = [this](const QString& text, const QString& full, int level, bool open) {
        auto* item = new QListWidgetItem(open ? openIcon : closedIcon, text, this);
        item->setData(Qt::UserRole, full);
        item->setData(LevelRole, level);
        item->setData(OpenRole, open);
    };

    add(QStringLiteral("/"), QStringLiteral("/"), 0, true);
    const QStringList parts = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString full;
    for (int i = 0; i < parts.size(); ++i) {
        full += QLatin1Char('/') + parts.at(i);
        add(parts.at(i), full, i + 1, true);
    }
    const int currentRow = count() - 1;
    const QString prefix = folder == QLatin1String("/") ? folder : folder + QLatin1Char('/');
    for (const QString& name : subfolders)
        add(name, prefix + name, parts.size() + 1, false);
    setCurrentRow(currentRow);
}

QString DirListBox::highlightedPath() const
{
    const QListWidgetItem* item = currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

QStringList DirListBox::entryPaths() const
{
    QStringList result;
    for (int i = 0; i < count(); ++i)
        result.append(item(i)->data(Qt::UserRole).toString());
    return result;
}

bool DirListBox::highlight(const QString& folder)
{
    const int row = static_cast<int>(entryPaths().indexOf(normalized(folder)));
    if (row < 0)
        return false;
    setCurrentRow(row);
    return true;
}

void DirListBox::openHighlighted()
{
    const QString highlighted = highlightedPath();
    if (!highlighted.isEmpty())
        emit openRequested(highlighted);
}

void DirListBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter on the current folder itself goes on to the window's default button.
        const QString highlighted = highlightedPath();
        if (highlighted.isEmpty() || highlighted == m_path) {
            event->ignore();
            return;
        }
        emit openRequested(highlighted);
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void DirListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    QListWidgetItem* hit = itemAt(event->position().toPoint());
    if (!hit) {
        QListWidget::mouseDoubleClickEvent(event);
        return;
    }
    setCurrentItem(hit);
    emit openRequested(hit->data(Qt::UserRole).toString());
    event->accept();
}

// ---------------------------------------------------------------- File1

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new IndentDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void FileListBox::setPattern(const QString& pattern)
{
    m_pattern = pattern;
    refresh();
}

void FileListBox::setPath(const QString& folder)
{
    m_path = folder;
    refresh();
}

void FileListBox::refresh()
{
    clear();
    if (m_path.isEmpty() || m_pattern.isEmpty())
        return;
    // Names match without regard to case, as on the platform the files come
    // from: ZUL_DATA.ACCDB is offered for ZUL_data.accdb, under its own name.
    const QStringList candidates =
        QDir(m_path).entryList(QDir::Files | QDir::System, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    QStringList matches;
    if (!hasWildcard(m_pattern)) {
        const QString wanted = m_pattern.toCaseFolded();
        for (const QString& name : candidates) {
            if (name.toCaseFolded() == wanted && FileExists(JoinFolderAndName(m_path, name)))
                matches.append(name);
        }
        // The name spelt exactly as wanted comes first where both are there.
        if (matches.removeOne(m_pattern))
            matches.prepend(m_pattern);
    } else {
        QRegularExpression expression = wildcardExpression(m_pattern);
        expression.setPatternOptions(expression.patternOptions() | QRegularExpression::CaseInsensitiveOption);
        for (const QString& name : candidates) {
            // FileExists would take a literal "*" or "?" in a name as a pattern again.
            const QFileInfo info(QDir(m_path).filePath(name));
            if (expression.match(name).hasMatch() && info.isFile() && !name.startsWith(QLatin1Char('.')))
                matches.append(name);
        }
    }
    addItems(matches);
    if (!matches.isEmpty())
        setCurrentRow(0);
}

QString FileListBox::offeredName() const
{
    const QListWidgetItem* item = currentItem() ? currentItem() : this->item(0);
    return item ? item->text() : QString();
}

QStringList FileListBox::names() const
{
    QStringList result;
    for (int i = 0; i < count(); ++i)
        result.append(item(i)->text());
    return result;
}

// ---------------------------------------------------------------- frmDir

frmDir::frmDir(DesktopServices& desktop, QWidget* owner) : QDialog(owner, FixedDialogFlags), m_desktop(desktop)
{
    // Before any control exists: Qt keeps the interface it first made for a widget.
    installNamedComboBoxAccessibility();
    setObjectName(QStringLiteral("frmDir"));
    setWindowTitle(QStringLiteral("Výběr složky"));
    setWindowIcon(folderIcon());
    setFixedSize(352, 315);
    setModal(true);

    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(9);
    QFont arialBold(arial);
    arialBold.setBold(true);

    m_drive1 = new DriveListBox(this);
    m_drive1->setObjectName(QStringLiteral("Drive1"));
    m_drive1->setGeometry(twips(108, 72, 3072, 288));

    m_dir1 = new DirListBox(this);
    m_dir1->setObjectName(QStringLiteral("Dir1"));
    m_dir1->setGeometry(twips(105, 435, 3075, 3150));
    m_dir1->setFont(arial);

    m_file1 = new FileListBox(this);
    m_file1->setObjectName(QStringLiteral("File1"));
    m_file1->setGeometry(twips(3315, 435, 1845, 3240));
    m_file1->setFont(arial);

    m_cmdOK = new QPushButton(QStringLiteral("&OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setGeometry(twips(240, 4080, 1200, 435));
    m_cmdOK->setFont(arialBold);
    m_cmdOK->setEnabled(false); // until a folder with the wanted file is listed

    m_cmdStorno = new QPushButton(QStringLiteral("&Storno"), this);
    m_cmdStorno->setObjectName(QStringLiteral("cmdStorno"));
    m_cmdStorno->setGeometry(twips(1764, 4080, 1200, 435));
    m_cmdStorno->setFont(arialBold);

    // What a screen reader announces; the window has no labels to name the lists after.
    setAccessibleDescription(
        QStringLiteral("Vyberte složku, ve které leží hledaný soubor, a potvrďte ji tlačítkem OK."));
    m_drive1->setAccessibleName(QStringLiteral("Jednotka"));
    m_drive1->view()->setAccessibleName(QStringLiteral("Seznam jednotek"));
    m_drive1->setAccessibleDescription(QStringLiteral("Připojené svazky; výběr jiného přejde do jeho složky."));
    m_dir1->setAccessibleName(QStringLiteral("Složky"));
    m_dir1->setAccessibleDescription(
        QStringLiteral("Nadřazené složky a podsložky; Enter nebo dvojklik složku otevře."));
    m_file1->setAccessibleName(QStringLiteral("Nalezené soubory"));
    m_cmdOK->setAccessibleDescription(
        QStringLiteral("Potvrdí otevřenou složku; dostupné, jen když obsahuje hledaný soubor."));
    m_cmdStorno->setAccessibleDescription(QStringLiteral("Zavře okno bez výběru (Esc)."));

    setTabOrder(m_dir1, m_cmdOK);
    setTabOrder(m_cmdOK, m_cmdStorno);
    setTabOrder(m_cmdStorno, m_file1);
    setTabOrder(m_file1, m_drive1);
    m_dir1->setFocus();

    connect(m_cmdOK, &QPushButton::clicked, this, &frmDir::cmdOK_Click);
    connect(m_cmdStorno, &QPushButton::clicked, this, &frmDir::cmdStorno_Click);
    connect(m_dir1, &DirListBox::pathChanged, this, &frmDir::Dir1_Change);
    connect(m_dir1, &DirListBox::openRequested, this, &frmDir::Dir1_Open);
    connect(m_drive1, &DriveListBox::driveChanged, this, [this] {
        // A drive that cannot be read leaves the window on the folder it had.
        try {
            Drive1_Change();
        } catch (const RunTimeError& error) {
            if (!m_dir1->path().isEmpty())
                m_drive1->showDriveQuietly(m_dir1->path());
            report(error.description());
        }
    });

    Form_Load();
}

QIcon frmDir::folderIcon()
{
    static const QIcon icon = makeFolderIcon(true);
    return icon;
}

void frmDir::setBeforeExecHook(BeforeExecHook hook)
{
    beforeExecHook() = std::move(hook);
}

void frmDir::report(const QString& description)
{
    m_desktop.messageBox(DesktopServices::Icon::None, QStringLiteral("DIVadedadi"), description);
}

QString frmDir::currentFolderOfDrive(const QString& drive) const
{
    const QString current = QDir::currentPath();
    if (!current.isEmpty() && DriveListBox::volumeSource().driveOf(current) == drive)
        return current;
    return drive;
}

void frmDir::Form_Load()
{
    try {
        m_file1->setPattern(gFilePattern);
        m_file1->setAccessibleDescription(QStringLiteral("Soubor %1 v otevřené složce.").arg(gFilePattern));
        const QString current = QDir::currentPath();
        if (current.isEmpty() || !QFileInfo(current).isDir())
            throw Errors::currentFolderMissing();
        m_drive1->showDriveQuietly(current);
        Drive1_Change();
        Dir1_Change();
    } catch (const RunTimeError& error) {
        report(error.description());
    }
}

void frmDir::Drive1_Change()
{
    const QString drive = m_drive1->drive();
    if (drive.isEmpty())
        return;
    const VolumeSource& source = DriveListBox::volumeSource();
    // A folder list that already stands on the drive (a preset start folder) stays where it is.
    if (!m_dir1->path().isEmpty() && source.driveOf(m_dir1->path()) == drive)
        return;
    const QList<DriveVolume> volumes = source.volumes();
    const bool ready =
        std::any_of(volumes.begin(), volumes.end(), [&](const DriveVolume& v) { return v.root == drive && v.ready; });
    try {
        if (!ready)
            throw Errors::driveUnreadable(drive);
        m_dir1->setPath(currentFolderOfDrive(drive));
    } catch (const RunTimeError&) {
        throw Errors::driveUnreadable(drive);
    }
}

void frmDir::Dir1_Change()
{
    m_file1->setPath(m_dir1->path());
    const bool found = m_file1->count() > 0;
    m_cmdOK->setEnabled(found);
    m_cmdOK->setDefault(found);
    if (!m_dir1->path().isEmpty())
        m_drive1->showDriveQuietly(m_dir1->path());
}

void frmDir::Dir1_Open(const QString& folder)
{
    try {
        m_dir1->setPath(folder);
    } catch (const RunTimeError& error) {
        report(error.description());
    }
}

void frmDir::setDrive(const QString& path)
{
    m_drive1->setDrive(path);
}

void frmDir::cmdOK_Click()
{
    try {
        // The file may have gone since the folder was listed: look again before answering.
        Dir1_Change();
        if (m_file1->count() == 0)
            throw Errors::fileGone(m_dir1->path(), m_file1->pattern());
        m_chosenFileName = m_file1->offeredName();
        gChosenFolder = m_dir1->path();
        accept();
    } catch (const RunTimeError& error) {
        report(error.description());
    }
}

void frmDir::cmdStorno_Click()
{
    gChosenFolder.clear();
    reject();
}

void frmDir::paintEvent(QPaintEvent*)
{
    // Painted here rather than through the palette, which the controls would inherit.
    QPainter(this).fillRect(rect(), BackColor);
}

void frmDir::keyPressEvent(QKeyEvent* event)
{
    // Escape presses Storno; the frame's close only rejects and leaves gChosenFolder alone.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        m_cmdStorno->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmDir::showModal()
{
    if (beforeExecHook())
        beforeExecHook()(*this);
    exec();
}
