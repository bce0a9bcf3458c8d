// The Subversion task engine: runs the client over a snapshot of projects on worker threads,
// many folders per client where its output can be told apart again, and hands each project's
// result to its owner in tree order. The window, the HTML export and kivsvn all run it.
#pragma once

#include "kiv_workers.h"
#include "svn_client.h"
#include "svn_output.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TkivXmlElement;

// One project of a run, as it was when the run's snapshot was taken.
struct TSvnProject {
    QString Name;
    QString Directory; // "Verzeichnis" as stored
    QString Folder;    // the folder it names (ProjectFolder), resolved once for the snapshot
    QString TreePath;  // names from below the root, joined by "/"
    quint64 Id = 0;    // the caller's key for finding the node again
};

struct TSvnOutcome {
    QStringList Lines;   // the client's lines, as its run in the project's own folder prints them
    int ExitCode = 0;
    TSvnState State = TSvnState::Clean;
    TSvnVerdict Verdict; // what the lines say in detail (changes, behind, files, URL)
    QStringList Notes;   // the program's own lines after the client's (time limit, cleanup, hints)
};

struct TSvnRunOptions {
    bool ShowUpdates = false; // status: ask the server too (svn status -u)
    bool Console = false;     // update: each in a terminal window, one at a time
    int Jobs = 2;             // clients at once
    int TimeoutSeconds = 0;   // a client without output for this long is ended; 0: no limit
    QString Program = QStringLiteral("svn");
};

// The line that heads a project's block in the memo: "--> " and the folder it ran in.
QString ProjectHead(const TSvnProject& Project);
// The memo lines of one project: the head and the filtered lines and notes; empty when the
// short display leaves it out. A project whose run failed is always shown.
QStringList ProjectBlock(const TSvnProject& Project, const TSvnOutcome& Outcome, bool Short);

// The projects at and below Element, depth first, each element's children in the order Less
// gives on their names (none: as stored); folders resolved against Base.
void CollectProjects(TkivXmlElement* Element, const QString& TreePath, const QString& Base,
                     std::vector<TSvnProject>& Projects,
                     const std::function<bool(const QString&, const QString&)>& Less = nullptr);
// The same in the tree's caption order (German collation, case ignored, ties by code point).
void CollectProjectsInCaptionOrder(TkivXmlElement* Element, const QString& TreePath,
                                   const QString& Base, std::vector<TSvnProject>& Projects);

class TSvnRun : public QObject {
    Q_OBJECT
public:
    TSvnRun(std::vector<TSvnProject> Projects, TSvnTask Task, TSvnRunOptions Options = {},
            QObject* Parent = nullptr);
    ~TSvnRun() override; // ends every client (an update so ended is cleaned up) and waits

    void Start();
    // The first call starts no further client; running updates finish (status and info, and
    // the terminal form, end at once). A second call ends the running updates too, and each
    // copy they leave is cleaned up.
    void Cancel();
    // An update run was cancelled once and waits for the updates still running.
    bool WaitingForUpdates() const { return FStop && !FKill && FRunning; }
    TSvnTask Task() const { return FTask; }
    const std::vector<TSvnProject>& Projects() const { return FProjects; }

signals:
    // In tree order: Index 0, 1, 2, ... each as soon as it and all before it are done.
    void ProjectDone(int Index, const TSvnOutcome& Outcome);
    void Finished(bool Cancelled);

private:
    void Work();
    void RunBatch(const std::vector<int>& Batch);
    void RunGroup(std::vector<int> Group);
    void RunAlone(int Index);
    void RunInConsole(int Index);
    TSvnOutcome FromResult(const TSvnResult& R) const;
    TSvnOutcome FromLines(const QStringList& Lines, int ExitCode) const; // what the lines say
    void DeliverNotRun(int Index); // a project no client ran for
    void CleanUp(int Index, TSvnOutcome& O) const; // after an update was ended
    QStringList TaskArguments() const;
    void Deliver(int Index, TSvnOutcome Outcome); // any thread
    void TakeArrivals(); // owner's thread: the queued results into FDone
    void Flush(); // hands ready results to the owner, in order, a slice of time at a time

    std::vector<TSvnProject> FProjects;
    TSvnTask FTask;
    TSvnRunOptions FOptions;
    TSvnClient FClient;
    std::vector<std::vector<int>> FBatches;
    std::atomic<int> FNextBatch{0};
    std::atomic<bool> FStop{false}; // no further clients
    std::atomic<bool> FKill{false}; // running clients end
    std::vector<std::unique_ptr<TSvnOutcome>> FDone;
    std::mutex FArrivalsMutex;
    std::vector<std::pair<int, TSvnOutcome>> FArrivals; // from the workers, not yet taken
    bool FArrivalPosted = false;                        // guarded by FArrivalsMutex
    int FNextDeliver = 0;
    bool FRunning = false;
    bool FWorkersDone = false;
    bool FFlushPosted = false;
    TkivWorkers FWorkers; // last: the threads end before the rest goes
};

Q_DECLARE_METATYPE(TSvnOutcome)
