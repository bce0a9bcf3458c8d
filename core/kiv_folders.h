// The one rule that turns a project's stored "Verzeichnis" into the folder it names, and what
// can be wrong with that folder. Every part of the program (the runs, the export, the search,
// the new-entry check, the window) asks here.
#pragma once

#include <QString>

// The one folder relative values are taken from: the user's home folder. Never the current
// directory, which follows whatever project was selected last.
QString ProjectBase();

// The absolute folder a stored "Verzeichnis" names: a relative path taken from Base, "." and
// ".." and doubled or trailing "/" resolved. A value that names an existing folder as written
// is used as written; only one that does not loses the blanks and control characters around
// it (so "wc " stays "wc " where that folder exists, and is never taken for "wc"). An empty
// value stays empty.
QString ProjectFolder(const QString& Directory, const QString& Base);
// The same with ProjectBase() as Base.
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
