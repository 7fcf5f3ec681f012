#pragma once

#include "DesktopServices.h"

#include <QComboBox>
#include <QDialog>
#include <QList>
#include <QListWidget>
#include <QString>

#include <functional>

class QPushButton;

// One drive of the drive list: a mounted file system.
struct DriveVolume {
    QString root;  // mount point, "/" style, no closing separator except "/"
    QString label; // shown in brackets when not empty
    bool ready = true;
};

// Where the drive list gets its drives from. The default reads the mount table (Drives.h);
// tests install a fake so that a drive that cannot be read can be chosen.
class VolumeSource {
public:
    virtual ~VolumeSource() = default;
    // Every mounted file system, ready or not.
    virtual QList<DriveVolume> volumes() const = 0;
    // The mount point that holds path.
    virtual QString driveOf(const QString& path) const = 0;
};

// Drive1: a drop-down list of the mounted file systems that are ready.
class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    explicit DriveListBox(QWidget* parent = nullptr);

    // Reads the drives afresh; keeps the drive shown when it is still there.
    void refresh();
    // The mount point shown; empty while none is.
    QString drive() const;
    // Shows the drive that holds path; emits driveChanged when that is another
    // drive. A drive that is not mounted or not ready is refused with an error.
    void setDrive(const QString& path);
    // Shows the drive that holds path without raising driveChanged; nothing
    // happens when that drive is not in the list.
    void showDriveQuietly(const QString& path);
    QStringList drives() const;

    static const VolumeSource& volumeSource();
    // Tests only: nullptr restores the system's volumes.
    static void setVolumeSource(const VolumeSource* source);

    // Reads the drives afresh before the list opens, so a medium inserted
    // meanwhile shows up.
    void showPopup() override;

signals:
    void driveChanged(const QString& drive);

private:
    void onActivated(int index);
    QString m_shown;
};

// Dir1: the classic folder list. The current folder (path) stands with its
// parents above it and its subfolders below, indented. A single click only
// highlights an entry; a double click, or Enter on an entry other than the
// current folder, asks to open it (openRequested), and the window decides.
class DirListBox : public QListWidget {
    Q_OBJECT
public:
    explicit DirListBox(QWidget* parent = nullptr);

    // The current folder: absolute, "/" separators, no closing separator
    // except for the root "/". Empty before the first setPath.
    QString path() const { return m_path; }
    // Moves to folder and emits pathChanged when it differs from the current
    // one. A folder that does not exist or cannot be read is refused with an
    // error and the list stays as it was.
    void setPath(const QString& folder);
    // The folder of the highlighted entry.
    QString highlightedPath() const;
    // The full path of every entry, top to bottom.
    QStringList entryPaths() const;
    // Selects the row of a folder shown in the list; false when it is not there.
    bool highlight(const QString& folder);
    // Opens the highlighted entry, as a double click does.
    void openHighlighted();

    static QString normalized(const QString& folder);

signals:
    void pathChanged(const QString& path);
    void openRequested(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void fill(const QString& folder, const QStringList& subfolders);
    QString m_path;
};

// File1: the ordinary visible files of one folder whose names match the
// pattern without regard to case. A pattern without "*" or "?" is a file name
// and matches that name in any case (the name spelt as the pattern first).
class FileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit FileListBox(QWidget* parent = nullptr);

    QString pattern() const { return m_pattern; }
    void setPattern(const QString& pattern);
    QString path() const { return m_path; }
    void setPath(const QString& folder);
    void refresh();
    QStringList names() const;
    // The file's real name the chooser answers with: the highlighted entry,
    // else the first; empty while nothing is listed.
    QString offeredName() const;

private:
    QString m_pattern;
    QString m_path;
};

// The folder chooser. Constructing it is loading it: Form_Load runs in the
// constructor and lists the current folder with gFilePattern. The caller may
// then preset the folder (Dir1()->setPath) and the drive (setDrive), shows it
// with showModal() and reads gChosenFolder afterwards.
class frmDir : public QDialog {
    Q_OBJECT
public:
    explicit frmDir(DesktopServices& desktop, QWidget* owner = nullptr);

    DriveListBox* Drive1() const { return m_drive1; }
    DirListBox* Dir1() const { return m_dir1; }
    FileListBox* File1() const { return m_file1; }
    QPushButton* cmdOK() const { return m_cmdOK; }
    QPushButton* cmdStorno() const { return m_cmdStorno; }

    // The real name of the file in the confirmed folder (File1's offered
    // name when OK was pressed); empty after a cancel.
    QString chosenFileName() const { return m_chosenFileName; }

    // Drive1.Drive = the drive that holds path.
    void setDrive(const QString& path);
    // Shows the window modal over its owner and returns when it has closed.
    void showModal();

    // Called by showModal() right before the modal loop starts, so tests can
    // drive the shown window (typically through QTimer::singleShot).
    using BeforeExecHook = std::function<void(frmDir&)>;
    static void setBeforeExecHook(BeforeExecHook hook);

    static QIcon folderIcon();

public slots:
    void Form_Load();
    void Drive1_Change();
    void Dir1_Change();
    void cmdOK_Click();
    void cmdStorno_Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Dir1_Open(const QString& folder);
    void report(const QString& description);
    QString currentFolderOfDrive(const QString& drive) const;

    DesktopServices& m_desktop;
    DriveListBox* m_drive1;
    DirListBox* m_dir1;
    FileListBox* m_file1;
    QPushButton* m_cmdOK;
    QPushButton* m_cmdStorno;
    QString m_chosenFileName;
};
