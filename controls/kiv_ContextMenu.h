// The context menu of a folder: the desktop's applications for folders, a terminal in the
// folder, copying the path.
#pragma once

#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>

class QAction;
class QWidget;

// Shows the menu for Path at Pos (Owner's coordinates) and carries out the chosen entry. True
// only when an entry was chosen and started without error; an entry that cannot be started
// says so in a message. A path that does not exist shows no menu and gives false.
// Extra actions (the caller's) stand below the first entry; the menu triggers one when it is
// chosen.
bool ShowExplorerContextMenu(QWidget* Owner, const QString& Path, const QPoint& Pos,
                             const QList<QAction*>& Extra = {});

// An application of the desktop (a .desktop file of the XDG application folders).
struct TFolderApplication {
    QString Id;       // desktop file id ("org.example.Files.desktop")
    QString FileName; // the .desktop file
    QString Name;     // in the locale's language where the file has it
    QString Icon;
    QString Exec; // the command line with its field codes (%f, %U, ...)
    bool Terminal = false;
};

// The applications that declare MimeType (e.g. "inode/directory"), without hidden ones and
// those not meant for this desktop, sorted by name; a file id found twice counts once (the
// user's own folder first).
QList<TFolderApplication> FolderApplications(const QString& MimeType);
// The application's command line for Path: the field codes filled in, the path appended when
// it has no place for one.
QStringList ExpandDesktopExec(const TFolderApplication& App, const QString& Path);
