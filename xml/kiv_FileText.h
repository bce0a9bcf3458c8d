// The file layer of every file the program writes (the registry, the HTML page): Windows-1252
// text with CR LF line ends, replaced atomically. QtCore only.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The lines in Windows-1252, each followed by CR LF. Characters Windows-1252 cannot hold become
// "?" (callers that must keep them turn them into references first).
QByteArray Windows1252FileText(const QStringList& Lines);

// Replaces FileName by Bytes, or leaves it byte for byte as it was: the bytes go to a new file
// beside it, every write, the flush to the disk and the close are checked, and only then is the
// new file renamed over the old one. A symbolic link is kept and its target replaced; an
// existing file's permissions are kept. Raises EFileError with a German message naming the file
// and the reason.
void WriteFileAtomically(const QString& FileName, const QByteArray& Bytes);
void WriteWindows1252File(const QString& FileName, const QStringList& Lines);

// Whether WriteFileAtomically may replace FileName as far as can be told beforehand (the folder
// exists and takes new files, an existing file is not read-only, the disk has room for at
// least the file's present size); else false with the reason in German.
bool CanReplaceFile(const QString& FileName, QString* Reason = nullptr);

// The system's reason for an error number, in German for the common ones (a full disk, no
// access, a read-only file system, ...), else the C library's text.
QString SystemErrorText(int Code);
