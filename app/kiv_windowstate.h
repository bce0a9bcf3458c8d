// The main window's place, size, splitter, page and selected node, kept between starts in a
// small settings file of the program's own (never in the registry, whose content stays as
// the user made it).
#pragma once

#include <QList>
#include <QMargins>
#include <QObject>
#include <QRect>
#include <QString>

class QSplitter;
class QTabWidget;
class TkivXMLTreeView;

// Where a window with the client area Wanted and the given frame goes: onto the screen whose
// available area holds the centre of Wanted, else onto the primary one, moved and if need be
// shrunk until client area and frame lie inside. Returns the client area.
QRect PlaceOnScreen(const QRect& Wanted, const QMargins& Frame, const QList<QRect>& Screens,
                    int Primary);

class TWindowState : public QObject {
    Q_OBJECT
public:
    // The window and the parts of it whose state is kept.
    TWindowState(QWidget* Window, QSplitter* Splitter, QTabWidget* Pages, TkivXMLTreeView* Tree);

    // $XDG_CONFIG_HOME/KelvaroSoft/kivSubversion.ini
    static QString FileName();
    // Before the window is first shown: the size and place of the last run, else the first
    // start's (client area 751 by 446, centred), inside the screen.
    void ApplyGeometry();
    // Once the registry is in the tree: splitter, page and selection of the last run; and the
    // place checked again now that the window manager's frame is known.
    void RestoreView();
    // At the end of a run. WithSelection false keeps the stored selection (the tree holds no
    // registry to take it from).
    void Save(bool WithSelection);
    // Moves the window inside the screen if it is not.
    void EnsureOnScreen();

private:
    QWidget* FMain;
    QSplitter* FSplitter;
    QTabWidget* FPages;
    TkivXMLTreeView* FTree;
};
