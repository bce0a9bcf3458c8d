// The kinds of registry elements and the rules names follow.
#pragma once

#include <QString>

// The kind of a registry node, decided by its element name.
enum TElementKind { ekRoot = 0, ekGroup = 1, ekProject = 2 };
extern const QString ElementNames[3];
// The attribute of a project that keeps its repository URL, as the program last learnt it
// from svn (or as a .repos file named it). Older programs keep it without reading it.
extern const QString UrlAttribute;

// Lower-cases the letters A to Z only; every other character stays as it is.
QString LowerAZ(const QString& S);
// Upper-cases the letters a to z only.
QString UpperAZ(const QString& S);

// The kind for an element name: lower-cased in A to Z, the first equal entry of ElementNames;
// any other name counts as a project.
TElementKind ElementKindOf(const QString& ElementName);

// Two captions name the same entry: equal once both are upper-cased in a to z.
bool SameEntryName(const QString& A, const QString& B);

// Blanks and control characters (every character up to the space) removed at both ends.
QString TrimBlanksAndControls(const QString& S);

// Text as it may enter the registry from a dialog, an edit or a file: NUL and the other control
// characters but TAB, LF and CR removed (StorableText: XML cannot hold them, a NUL would end the
// file's text for every reader, an ESC make the file invalid).
QString EnteredText(const QString& Text);

// Whether two repository URLs name the same place: percent-encoding, the letter case of scheme
// and host and a trailing "/" do not count (svn prints a URL encoded, a person or a file may
// not).
bool SameRepositoryUrl(const QString& A, const QString& B);
