// Only one running instance per user: an exclusive lock on a file "Kelvaro_Soft" + title in
// the user's runtime folder, released by the system when the process ends.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLockFile;

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(QObject* Owner);
    ~TSingleInstance() override;

    bool TestOnlyDir = false; // per program folder
    bool FirstInstance() const { return FFirstInstance; }
    // The lock's name for the current application title and settings.
    QString MutexName() const;
    // The lock file: MutexName() in the user's private runtime folder (PrivateRuntimeFolder).
    QString LockFilePath() const;

    // Takes the lock. When another instance holds it, FirstInstance() is false and a queued
    // quit request is posted, so this instance ends as soon as its event loop starts.
    void Loaded();

private:
    int FFd = -1;
    bool FFirstInstance = true;
};
