// The window's background work in one place: the run of svn over a snapshot of projects, the
// automatic search with its queue of finds, and the HTML exports; the state store every run
// feeds and the tree reads. The window asks it whether anything runs, never its buttons, and
// closes only once it is idle.
#pragma once

#include "html_ausgabe.h"
#include "svn_engine.h"
#include "svn_search.h"
#include "svn_store.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QSet>
#include <QString>

class QTimer;
class TLiveCopies;
class TServerMonitor;

class TTaskController : public QObject {
    Q_OBJECT
public:
    explicit TTaskController(QObject* Parent = nullptr);
    ~TTaskController() override; // ends everything at once

    TStateStore* Store() const { return FStore; }
    // Reads the states of earlier runs; a German note when the file had to be set aside.
    QString LoadStates();
    // Writes them now (also done by itself a moment after they change).
    bool SaveStates(QString* Error = nullptr);

    // The registered copies kept live (the watcher and its background checks) and the server
    // monitor; both work over every project of the registry.
    TLiveCopies* Live() const { return FLive; }
    TServerMonitor* Monitor() const { return FMonitor; }
    // All the registry's projects, and how background runs call svn.
    void SetProjects(std::vector<TSvnProject> All, int Jobs, int TimeoutSeconds);

    // A run of svn. False when one runs already. It waits (RunWaiting) while a run of a changes
    // window works on one of its copies. A test for changes takes what the store can answer
    // for copies the watcher saw unchanged; copies the run works on are not checked in the
    // background meanwhile.
    bool StartRun(std::vector<TSvnProject> Projects, TSvnTask Task, TSvnRunOptions Options);
    bool Running() const { return bool(FRun); }
    TSvnRun* Run() const { return FRun; }
    const TRunTally& Tally() const { return FTally; }

    // The automatic search; its finds are offered one at a time (Offer), each when the
    // window has answered the one before (Answered).
    bool StartSearch(const QString& StartFolder, QSet<QString> Registered);
    bool Searching() const { return bool(FSearch); }
    // Finds not offered yet; whether the walk has ended (more may come while it goes on).
    int OffersWaiting() const { return int(FOffers.size()); }
    bool WalkDone() const { return FSearchDone; }
    void Answered(bool EndSearch);

    // An HTML export that runs in the background.
    void AddExport(THtmlExportJob* Job);

    // Reads the URLs of new entries' copies in the background (svn info, local, beside any
    // run); each arrives as UrlLearned.
    void LearnUrls(std::vector<TSvnProject> Projects);
    int Exports() const { return int(FExports.size()); }

    // A run on one project's copy for a window of its own (the changes window), beside the
    // window's run. Two clients never work on one copy (or one inside it) at once: the run
    // starts when no other does (CopyRunStarted), in the order asked. The run is the
    // controller's: its owner connects to it and may cancel it, never delete it.
    TSvnRun* StartCopyRun(const TSvnProject& Project, TSvnTask Task, TSvnRunOptions Options);
    // Cancels one run (TSvnRun::Cancel); one still waiting ends at once, as not run.
    void CancelRun(TSvnRun* Run);
    // Runs of changes windows, started or waiting.
    int CopyRuns() const { return int(FCopyRuns.size()); }

    bool Busy() const { return Running() || Searching() || Exports() > 0 || CopyRuns() > 0; }
    // Cancels the run and the search (a second call skips the checks after a cancelled
    // update), and with CopyRunsToo the changes windows' runs; exports finish.
    void Cancel(bool CopyRunsToo = true);
    // What the window waits for before it can close, in German ("" when nothing).
    QString WaitingFor() const;

signals:
    void RunStarted(TSvnTask Task, int Total);
    void ProjectDone(int Index, const TSvnOutcome& Outcome);
    void RunProgress(int Finished, int Total);
    void RunFinished(bool Cancelled);
    void SearchProgress(int Folders, int Found);
    void Offer(const QString& Folder, int Waiting);
    // StartError: why the walk could not begin; Notes: folders it passed over, and why.
    void SearchFinished(bool Cancelled, int Folders, int Found, const QString& StartError,
                        const QStringList& Notes);
    void ExportFinished(const QString& FileName, bool Ok);
    // The URL of a project folder's copy as the program now knows it (from a run, an export,
    // or the store after a run): for the registry to keep.
    void UrlLearned(const QString& Folder, const QString& Url);
    // The run waits for a changes window's run on one of its copies.
    void RunWaiting();
    void CopyRunStarted(TSvnRun* Run);
    // Something started, or everything has ended.
    void BusyChanged(bool Busy);

private:
    // A run not started yet, and the folders it works on.
    struct TWaiting {
        QPointer<TSvnRun> Run;
        QStringList Folders;
    };
    void UpdateBusy(); // tells the background checks which copies the user's runs hold
    bool InUse(const QStringList& Folders) const;
    void StartWaiting(); // each waiting run whose folders are free, in order
    void Begin(TSvnRun* Run);
    void OfferNext();
    void EndSearch();
    void CheckIdle();
    TStateStore* FStore;
    TLiveCopies* FLive;
    TServerMonitor* FMonitor;
    QTimer* FSaveLater;
    QPointer<TSvnRun> FRun;
    TRunTally FTally;
    QPointer<TSvnSearch> FSearch;
    QTimer* FSearchTicker;
    QQueue<QString> FOffers;
    bool FOffering = false; // a find is being asked about
    bool FSearchDone = false;
    int FFound = 0;
    QList<QPointer<THtmlExportJob>> FExports;
    QList<QPointer<TSvnRun>> FLearners;
    QList<TWaiting> FWaiting;
    QList<QPointer<TSvnRun>> FCopyRuns;       // started or waiting
    QHash<QString, int> FRunFolders;          // the window's run: folders not handed out yet
    QHash<TSvnRun*, QString> FCopyRunFolders; // the changes windows' runs that have started
    bool FWasBusy = false;
};
