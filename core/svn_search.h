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

signals:
    // A working copy not registered, in walk order; the folder ends with "/".
    void Found(const QString& Folder);
    void Finished(bool Cancelled);

private:
    void Walk();
    QString FStart;
    QSet<QString> FRegistered;
    std::atomic<bool> FCancel{false};
    std::atomic<int> FFolders{0};
    TkivWorkers FWorker;
};
