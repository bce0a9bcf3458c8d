// The file layer of every file the program reads or writes (the registry, the HTML page):
// Windows-1252 text with CR LF line ends, replaced atomically, read only when it is a file of
// a sane size. QtCore only.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <exception>

// The lines in Windows-1252, each followed by CR LF. Characters Windows-1252 cannot hold become
// "?" (callers that must keep them turn them into references first).
QByteArray Windows1252FileText(const QStringList& Lines);

// How WriteFileAtomically treats what is already at the file's name.
enum class TWriteMode {
    // A symbolic link is kept and the file it leads to is replaced (the registry); a link that
    // leads nowhere or in a circle is refused and left as it is.
    ThroughLinks,
    // Whatever file or link is at the name is replaced by a new file; a link is never
    // followed (a page written where a link stood replaces the link, not its target).
    ReplaceName,
    // Only a new file: when something has appeared at the name meanwhile, nothing is replaced
    // and EFileError says so.
    NewName,
};

// Replaces FileName by Bytes, or leaves it byte for byte as it was: the bytes go to a new file
// beside it, every write, the flush to the disk and the close are checked, and only then is the
// new file renamed over the old one. Only a regular file is ever replaced (never a folder, a
// FIFO or a device); an existing file's permissions are kept. Raises EFileError with a German
// message naming the file and the reason.
void WriteFileAtomically(const QString& FileName, const QByteArray& Bytes,
                         TWriteMode Mode = TWriteMode::ThroughLinks);
void WriteWindows1252File(const QString& FileName, const QStringList& Lines,
                          TWriteMode Mode = TWriteMode::ThroughLinks);

// Writes Bytes to a new file whose name is Base, else Base + "-2", Base + "-3", ...: the first
// name that is free, created exclusively, so that writers at the same moment never share or
// replace a name. Returns the name written; EFileError when no name can be had or the write
// fails (nothing is left behind then).
QString WriteNewFile(const QString& Base, const QByteArray& Bytes);

// Whether WriteFileAtomically may replace FileName as far as can be told beforehand (the folder
// exists and takes new files, an existing file is not read-only, the disk has room for at
// least the file's present size); else false with the reason in German.
bool CanReplaceFile(const QString& FileName, QString* Reason = nullptr);

// The largest file the readers take in: a registry of 200,000 projects is about 30 MB.
inline constexpr qint64 MaxReadFileBytes = qint64(128) * 1024 * 1024;

// Why FileName cannot be read as a file, in German and in lower case so that it reads after a
// colon ("sie ist eine benannte Pipe (FIFO), keine gewöhnliche Datei"), or empty for a regular
// file or a symbolic link (or a chain of them) to one. Missing is set when nothing at all is
// at the name (no file and no link); the reason then says so. Nothing is opened.
QString FileTypeProblem(const QString& FileName, bool* Missing = nullptr);

// The whole file. Refused before anything is read, with EFileError naming the file and the
// reason: anything but a regular file or a link to one (a folder, a FIFO, a device, a socket, a
// link that leads nowhere or in a circle), and a file larger than MaxBytes. Opening never
// blocks, and no more than MaxBytes are ever read.
QByteArray ReadFileBounded(const QString& FileName, qint64 MaxBytes = MaxReadFileBytes);

// Holds an exclusive lock on a folder while it lives, so that programs writing the same file
// in it take turns. Waits at most TimeoutMs for another holder; without a lock (a file system
// that has none, a holder that hangs) it holds none and the caller goes on.
class TFolderLock {
public:
    explicit TFolderLock(const QString& Folder, int TimeoutMs = 10000);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;
    bool Held() const { return FFd >= 0; }

private:
    int FFd = -1;
};

// The system's reason for an error number, in German (a full disk, no access, a read-only file
// system, too many open files, ...); an unusual one still starts in German and names its number.
QString SystemErrorText(int Code);

// The message of an exception as the user reads it: the program's own German message, and for
// the standard library's (out of memory, a failed system call, ...) a German one instead of its
// English text.
QString ExceptionText(const std::exception& E);
