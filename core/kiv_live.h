// The registered working copies kept live: the watcher over all of them; after its quiet time a
// batched "svn status" at low priority of the copies it saw change, so that the state store (and
// what reads it: the tree, kivsvn watch) follows within seconds; a timer for the copies it
// cannot watch. And the answers a repeated test for changes takes from the store where the
// watcher vouches that a copy has not changed since the store's lines were read.
//
// Idle it costs nothing: no timer runs while nothing is marked (only the one for copies that
// cannot be watched, and only while there are such copies).
#pragma once

#include "svn_engine.h"
#include "svn_store.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QTimer;
class TkivWatcher;

// A test for changes of Folder answered from what Store keeps, for a run of Task: true, with
// Out as the run would deliver it, when the stored lines were read by the same task, are
// complete, and Watcher says the copy has not changed since the generation read before they
// were (watched without a gap). Store and Watcher are only read; for a run's workers use
// TLiveCopies::Answers, which reads the store once, beforehand.
bool AnswerFromStore(const TStoredState& Stored, const TkivWatcher& Watcher, TSvnTask Task,
                     const QString& Folder, TSvnOutcome& Out);

class TLiveCopies : public QObject {
    Q_OBJECT
public:
    explicit TLiveCopies(TStateStore* Store, QObject* Parent = nullptr);
    // Background runs end at once (their clients interrupted), then the watcher.
    ~TLiveCopies() override;

    TkivWatcher* Watcher() const { return FWatcher; }
    // All the registry's projects: their folders are watched from now on (new ones set up on
    // the watcher's thread; ones no longer named dropped). Returns at once.
    void SetProjects(std::vector<TSvnProject> Projects);
    // How background runs call svn: clients at once, the time limit, the program.
    void SetRunOptions(int Jobs, int TimeoutSeconds,
                       const QString& Program = QStringLiteral("svn"));
    // Seconds between the checks of copies the watcher cannot watch (default 60).
    void SetPollSeconds(int Seconds);
    // The folders the user's own run works on (empty when none runs): they are not checked in
    // the background meanwhile, and a background run that holds one of them stops; what
    // changed is checked when the user's run has ended.
    void SetBusy(const QSet<QString>& Folders);
    // Checks these folders in the background soon, changed or not (kivsvn watch's first look).
    void CheckSoon(const QStringList& Folders);

    // Thread-safe functions for TSvnRunOptions of a run over Projects: the store's answers for a
    // run of Task (empty when that task is never answered: only a test for changes without the
    // server is), read from the store now; and the watcher's generations.
    std::function<bool(const QString&, TSvnOutcome&)>
    Answers(TSvnTask Task, const std::vector<TSvnProject>& Projects) const;
    std::function<quint64(const QString&)> Generations() const;

    bool Checking() const { return bool(FRun); }
    // The folders the background run going works on (empty when none goes).
    QStringList Holding() const {
        return FRun ? QStringList(FRunFolders.begin(), FRunFolders.end()) : QStringList();
    }
    int PendingCount() const { return int(FPending.size()); }

signals:
    // A German sentence for the status bar, once per kind of problem (from the watcher).
    void Problem(const QString& Message);
    // A background run has ended; the folders it checked.
    void Checked(const QStringList& Folders);

private:
    void Changed(const QStringList& Copies);
    void Schedule();
    void StartCheck();

    TStateStore* FStore;
    TkivWatcher* FWatcher;
    QTimer* FPoll;
    QTimer* FSoon;
    std::vector<TSvnProject> FProjects;
    QHash<QString, QList<int>> FByFolder; // clean folder -> projects naming it
    QSet<QString> FPending;               // clean folders to be checked
    QSet<QString> FBusy;
    QSet<QString> FUnwatched;
    QPointer<TSvnRun> FRun;
    QSet<QString> FRunFolders;
    TSvnRunOptions FOptions;
};
