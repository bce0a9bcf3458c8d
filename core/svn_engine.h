// The Subversion task engine: runs the client over a snapshot of projects on worker threads,
// many folders per client where its output can be told apart again, and hands each project's
// result to its owner in tree order. The window, the HTML export and kivsvn all run it.
#pragma once

#include "kiv_workers.h"
#include "svn_client.h"
#include "svn_output.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QTemporaryFile;
class TkivXmlElement;
class TStateStore;

// One project of a run, as it was when the run's snapshot was taken.
struct TSvnProject {
    QString Name;
    QString Directory; // "Verzeichnis" as stored
    QString Folder;    // the folder it names (ProjectFolder), resolved once for the snapshot
    QString TreePath;  // names from below the root, joined by "/"
    quint64 Id = 0;    // the caller's key for finding the node again
    // The repository URL the registry keeps ("URL"): what a checkout fetches, what the URL's
    // info asks about.
    QString Url = QString();
};

struct TSvnOutcome {
    QStringList Lines;   // the client's lines, as its run in the project's own folder prints
                         // them; at most TSvnRunOptions::KeepLines of them
    qint64 Omitted = 0;  // lines beyond those, counted
    std::shared_ptr<QTemporaryFile> Spill; // the omitted lines, when the run was asked to keep
                                           // them (UTF-8, one per line)
    int ExitCode = 0;
    TSvnState State = TSvnState::Clean;
    TSvnVerdict Verdict; // what the lines say in detail (changes, behind, files, URL, revision);
                         // Verdict.Url: the copy's URL whenever the run learnt it (info, the
                         // info before an update, status where it was not known, checkout)
    bool RevisionChanged = false; // an update moved the copy's revision, or changed files
    QStringList Notes;   // the program's own lines after the client's (time limit, cleanup, hints)
    quint64 Generation = 0; // TSvnRunOptions::Generation's answer, read before the client that
                            // found this started (0: none)
    bool Answered = false;  // from TSvnRunOptions::Answer: no client ran
};

struct TSvnRunOptions {
    bool Console = false;   // update: each in a terminal window, one at a time
    int Jobs = 2;           // clients at once for local work; server work takes more
    int TimeoutSeconds = 0; // a client without output for this long is ended; 0: no limit
    QString Program = QStringLiteral("svn");
    qsizetype KeepLines = 5000; // per project; the rest is counted (and spilled, see below)
    bool SpillOmitted = false;  // keep the lines beyond KeepLines in a temporary file
    TStateStore* Store = nullptr; // every project's result goes into it as it is handed out
    bool LowPriority = false;     // a background run: its clients yield to everything else
    // Asked for each folder before any client runs (on the first worker, while the run is
    // planned): true, with Out filled, when its result is known without one (the folder is
    // then not looked at either); the folders left are batched among themselves. Folder: the
    // first of its projects' folders (TSvnProject::Folder).
    std::function<bool(const QString& Folder, TSvnOutcome& Out)> Answer;
    // Read for each folder just before the client that looks at it starts, after an update
    // before the check that follows it (on a worker thread); handed back in the outcome.
    std::function<quint64(const QString& Folder)> Generation;
    // The run's own words for its task, after the task's arguments: a commit's message, the
    // side a resolve takes. Only the task gets them, never the checks before and after it.
    QStringList Arguments;
    // Items inside each project's folder (paths relative to it) the task works on instead of
    // the whole folder: the client runs in the folder and names them (many of them through a
    // file, "--targets").
    QStringList Targets;
};

// The line that heads a project's block in the memo: "--> " and the folder it ran in (the URL
// where no folder is involved).
QString ProjectHead(const TSvnProject& Project);
// The memo lines of one project: the head and the filtered lines and notes; empty when the
// short display leaves it out. A project whose run failed is always shown.
QStringList ProjectBlock(const TSvnProject& Project, const TSvnOutcome& Outcome, bool Short);
// The note under a project whose lines were too many to keep.
QString OmittedText(qint64 Omitted);

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
    // Interrupts every client and waits for them and for the checks after them.
    ~TSvnRun() override;

    void Start();
    // Starts no further client and interrupts the running ones as Ctrl+C in a terminal does:
    // each stops cleanly at once. A copy an update was working on is checked afterwards and
    // cleaned up where a lock remains; the projects not reached are "not run". The run ends
    // with Finished(true) once all that is done. A second call skips the checks still to
    // come (a cleanup that has begun still ends).
    void Cancel();
    bool Cancelling() const { return FStop; }
    bool SkippingChecks() const { return FKill; }
    bool Running() const { return FRunning; }
    TSvnTask Task() const { return FTask; }
    const std::vector<TSvnProject>& Projects() const { return FProjects; }

signals:
    // In tree order: Index 0, 1, 2, ... each as soon as it and all before it are done.
    void ProjectDone(int Index, const TSvnOutcome& Outcome);
    // Projects whose clients have finished with them, as their output arrives (never less
    // than those handed out); at most once per 100 ms.
    void Progress(int Finished, int Total);
    void Finished(bool Cancelled);

private:
    // One folder of the run: projects that name the same folder share it.
    struct TUnit {
        QString Folder;   // the folder as the first project names it
        QString Target;   // the folder the client is given (links resolved)
        std::vector<int> Projects;
    };
    // What a client run left for one unit.
    enum class THow { Done, Failed, NotReached, TimedOut, Interrupted, NoClient };
    struct TUnitResult {
        THow How = THow::NotReached;
        TLineBlock Block;
        int ExitCode = 0;
        int StartError = 0;
    };

    void Plan(); // the units and the jobs, on the first worker
    void Work();
    void RunBatch(const std::vector<int>& Batch);
    std::vector<quint64> Generations(const std::vector<int>& Units) const;
    void RunChanging(const std::vector<int>& Units);
    void RunInConsole(int Unit);
    std::vector<TUnitResult> RunSplit(TSvnTask Task, const std::vector<int>& Units,
                                      bool Interruptible, bool Counted);
    void RunOne(TSvnTask Task, int Unit, bool Interruptible, TUnitResult& Out);
    // Where and with what the client runs for Task on one unit, as the task's row places it.
    TSvnCall CallFor(TSvnTask Task, int Unit) const;
    // Whether a unit may be given to the task at all; else Out says why not.
    bool Admit(int Unit, TSvnOutcome& Out) const;
    // A task that makes the folder, on a folder that exists: whether it is the project's copy
    // (Out says why not), from the info read before.
    bool OwnCopy(int Unit, const TUnitResult& Before, TSvnOutcome& Out) const;
    // Status: the URLs of the copies where it is not known yet or the copy changed since.
    void AddUrls(const std::vector<int>& Units, std::vector<TSvnOutcome>& Outcomes);
    bool UrlWanted(int Unit) const;
    const QString& UnitUrl(int Unit) const;
    TLineBlock NewBlock(TSvnTask Task, int Unit, bool Keep) const;
    // Whether the run gives its task words of its own (then each folder has a client of its own).
    bool OwnWords() const { return !FOptions.Arguments.isEmpty() || !FOptions.Targets.isEmpty(); }
    TSvnOutcome FromResult(const TUnitResult& R, bool Hints) const;
    TSvnOutcome AfterChange(TUnitResult& Update, qint64 RevisionBefore, TUnitResult* Check,
                            int Unit);
    QString CleanUp(int Unit) const; // "" when the copy is free again, else what the client said
    void DeliverUnit(int Unit, const TSvnOutcome& Outcome);
    void Deliver(int Index, TSvnOutcome Outcome); // any thread
    void AddProgress(int Delta);                   // any thread
    void TakeArrivals(); // owner's thread: the queued results into FDone
    void Flush(); // hands ready results to the owner, in order, a slice of time at a time

    std::vector<TSvnProject> FProjects;
    // What the store knew of each project's URL when the run started (read on the owner's
    // thread): the URL and when it was last found so.
    struct TKnownUrl {
        QString Url;
        QDateTime Since;
    };
    std::vector<TKnownUrl> FKnown;
    std::vector<TUnit> FUnits;
    TSvnTask FTask;
    TSvnRunOptions FOptions;
    TSvnClient FClient;
    // What the workers take, one at a time: batches of units run one after the other.
    std::vector<std::vector<std::vector<int>>> FJobs;
    std::atomic<int> FNextJob{0};
    std::once_flag FPlanned;
    int FClients = 1; // clients at once
    std::atomic<bool> FStop{false};      // no further clients; running ones are interrupted
    std::atomic<bool> FKill{false};      // everything ends now (the run is being destroyed)
    std::vector<std::unique_ptr<TSvnOutcome>> FDone;
    std::mutex FArrivalsMutex;
    std::vector<std::pair<int, TSvnOutcome>> FArrivals; // from the workers, not yet taken
    bool FArrivalPosted = false;                        // guarded by FArrivalsMutex
    std::atomic<int> FHinted{0};  // projects counted from output not yet handed out
    std::atomic<bool> FProgressPosted{false};
    int FShownProgress = 0;
    int FNextDeliver = 0;
    bool FRunning = false;
    bool FWorkersDone = false;
    bool FFlushPosted = false;
    TkivWorkers FWorkers; // last: the threads end before the rest goes
};

Q_DECLARE_METATYPE(TSvnOutcome)
