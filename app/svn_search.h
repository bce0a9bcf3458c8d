// The automatic search for working copies not registered yet: a walk on a worker thread.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <thread>

class TkivXmlElement;

// The key a directory is compared by: surrounding blanks trimmed, a trailing "/" added;
// letter case counts, as paths do here.
QString RegisteredKey(const QString& Directory);
// The keys of every project below Root with a non-empty "Verzeichnis".
QSet<QString> RegisteredKeys(const TkivXmlElement* Root);
bool IsRegistered(const TkivXmlElement* Root, const QString& Folder);

class TSvnSearch : public QObject {
    Q_OBJECT
public:
    // Walks from StartFolder; Registered: the keys of folders not to offer.
    TSvnSearch(QString StartFolder, QSet<QString> Registered, QObject* Parent = nullptr);
    ~TSvnSearch() override; // cancels and waits
    void Start();
    void Cancel() { FCancel = true; }
    bool Cancelled() const { return FCancel; }

signals:
    // A working copy not registered, in walk order; the folder ends with "/".
    void Found(const QString& Folder);
    void Finished(bool Cancelled);

private:
    void Walk();
    QString FStart;
    QSet<QString> FRegistered;
    std::atomic<bool> FCancel{false};
    std::thread FThread;
};
