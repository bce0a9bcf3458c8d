// The context menu of a folder: the desktop's applications for folders, a terminal in the
// folder, copying the path.
#pragma once

#include <QPoint>
#include <QString>

class QWidget;

// Shows the menu for Path at Pos (Owner's coordinates) and carries out the chosen entry. True
// only when an entry was chosen and started without error. A path that does not exist shows
// no menu and gives false.
bool ShowExplorerContextMenu(QWidget* Owner, const QString& Path, const QPoint& Pos);
