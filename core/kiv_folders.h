// The one rule that turns a project's stored "Verzeichnis" into the folder it names, and what
// can be wrong with that folder. Every part of the program (the runs, the export, the search,
// the new-entry check, the window) asks here.
#pragma once

#include <QString>

// The absolute folder a stored "Verzeichnis" names: blanks and control characters around it
// removed, a relative path taken from Base (the current directory when a run's snapshot is
// taken), "." and ".." and doubled or trailing "/" resolved. An empty value stays empty.
QString ProjectFolder(const QString& Directory, const QString& Base);
// The same with the process's current directory as Base (GUI thread only: workers never read
// the current directory).
QString ProjectFolder(const QString& Directory);

// The key the search compares folders by: the project folder with a trailing "/"; letter
// case counts, as in paths here. Empty for an empty value.
QString RegisteredKey(const QString& Directory, const QString& Base);

// The same folder, or one of two folders inside the other (resolved folders).
bool PathsOverlap(const QString& A, const QString& B);

enum class TFolderState { Ready, Missing, NotAFolder, NoAccess, TooLong };
// Whether a client can run in the (resolved) folder.
TFolderState CheckFolder(const QString& Folder);
// The line a run shows for a folder that is not Ready.
QString FolderProblemText(TFolderState State, const QString& Folder);
