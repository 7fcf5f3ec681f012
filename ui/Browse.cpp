#include "Browse.h"

#include "frmDir.h"
#include "Globals.h"
#include "ListFile.h"
#include "OdbcConnectString.h"
#include "Paths.h"
#include "RunTimeError.h"

#include <QFileInfo>

namespace {

// The folder the chooser starts in: the folder of the box's path, or empty
// (the chooser's own start, the current folder) when the box holds a bare
// name or names a folder that is not there.
QString startFolder(const QString& current)
{
    QString start;
    try {
        start = FolderOfPath(current);
    } catch (const RunTimeError&) {
        return QString();
    }
    if (start.isEmpty() || !QFileInfo(start).isDir())
        return QString();
    return start;
}

} // namespace

void BrowseForFile(BrowseHost& host, DesktopServices& desktop, int index)
{
    try {
        gChosenFolder.clear();
        ComboBoxView& combo = host.dataCombo();
        const QString current = index == 0 ? host.programPathText() : combo.text();
        const QString start = startFolder(current);
        gFilePattern = host.browseTag(index);

        frmDir chooser(desktop, host.hostWindow());
        if (!start.isEmpty()) {
            try {
                chooser.Dir1()->setPath(start);
                chooser.setDrive(start);
            } catch (const RunTimeError&) {
                // A start folder the chooser cannot read: it stays where its load put it.
            }
        }
        desktop.doEvents();
        chooser.showModal();

        if (!gChosenFolder.isEmpty()) {
            // The file as it is named there, which may differ in case from the wanted name.
            const QString name = chooser.chosenFileName().isEmpty() ? gFilePattern : chooser.chosenFileName();
            const QString path = JoinFolderAndName(gChosenFolder, name);
            if (index == 0) {
                host.setProgramPathText(path);
            } else {
                combo.setText(path);
                AddListPath(desktop, path);
                FillDataFileList(desktop, combo, path);
                // A list file that cannot be read must not cost the user the file just chosen.
                if (combo.text() != path)
                    combo.setText(path);
            }
        }
        host.focusProgramPath();

        if (dataPathExists(combo.text()) && gAutoBrowse)
            host.startRelink();
    } catch (const RunTimeError& error) {
        // Nothing above is expected to fail; if something does, the main window stays usable.
        ShowError(desktop, error);
    }
}
