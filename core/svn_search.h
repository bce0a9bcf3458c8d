// The automatic search for working copies not registered yet: a walk on a worker thread.
#pragma once

#include "kiv_workers.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>

class TkivXmlElement;

// The keys (RegisteredKey) of every project below Root with a non-empty "Verzeichnis",
// relative folders taken from Base.
QSet<QString> RegisteredKeys(const TkivXmlElement* Root, const QString& Base);
bool IsRegistered(const TkivXmlElement* Root, const QString& Folder, const QString& Base);

// Where the search starts: the root of the file system that holds the documents folder, or
// the home folder when there is no documents folder. $KIV_SEARCH_ROOT replaces it (tests).
QString SearchStartFolder();
// The folder that stands for the system's root when the search decides what is a system
// folder: "/", or $KIV_SEARCH_ROOT when that is set (tests build a system tree of their own).
QString SearchSystemRoot();

// The system's own folders, relative to its root ("lib*" stands for every name beginning with
// "lib"): never entered by the search, as hidden and system folders are not.
const QStringList& SystemFolderNames();
// Whether Folder (absolute, with or without a trailing "/") is one of them below Root.
bool IsSystemFolder(const QString& Folder, const QString& Root = QStringLiteral("/"));

// The mount points that a /proc/self/mountinfo text names, as absolute paths without a
// trailing "/" (blanks and other escapes in them decoded).
QSet<QByteArray> MountPoints(const QByteArray& MountInfo);
// A path as the system shows it: valid UTF-8 as it is, every other byte as "\ooo" (octal, as
// "ls -b" shows it).
QString DisplayPath(const QByteArray& Path);
// The notes of a search (folders passed over that the user should know of) as one message.
QString SearchNotesText(const QStringList& Notes);

class TSvnSearch : public QObject {
    Q_OBJECT
public:
    // Walks from StartFolder; Registered: the keys of folders not to offer.
    TSvnSearch(QString StartFolder, QSet<QString> Registered, QObject* Parent = nullptr);
    ~TSvnSearch() override; // cancels and waits
    void Start();
    void Cancel() { FCancel = true; }
    bool Cancelled() const { return FCancel; }
    // Folders entered so far (any thread).
    int FoldersSearched() const { return FFolders.load(); }
    // Where system folders are looked for (SearchSystemRoot()); set before Start.
    QString SystemRoot = SearchSystemRoot();
    // After Finished: why the start folder could not be searched (German; empty when it was),
    // and the notes in the order they came.
    QString StartError() const { return FStartError; }
    QStringList Notes() const { return FNotes; }

signals:
    // A working copy not registered, in walk order; the folder ends with "/".
    void Found(const QString& Folder);
    // A folder passed over that the user should know of: its name is no valid UTF-8, so it
    // could not be registered (it would be offered with replacement characters and then not
    // exist).
    void Note(const QString& Text);
    void Finished(bool Cancelled);

private:
    void Walk();
    void AddNote(const QString& Text); // worker thread
    QString FStart;
    QString FStartError; // written by the walk before Finished
    QStringList FNotes;  // on the owner's thread
    QSet<QString> FRegistered;
    std::atomic<bool> FCancel{false};
    std::atomic<int> FFolders{0};
    TkivWorkers FWorker;
};
