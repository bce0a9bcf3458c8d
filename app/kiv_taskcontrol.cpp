#include "kiv_taskcontrol.h"

#include "html_ausgabe.h"
#include "kiv_live.h"
#include "kiv_monitor.h"
#include "svn_search.h"

#include <QLocale>
#include <QTimer>

namespace {

// Two clients on these folders would meet: the same copy, or one inside the other.
bool Overlap(const QString& A, const QString& B) {
    if (A.isEmpty() || B.isEmpty())
        return false;
    if (A == B || A == u"/" || B == u"/")
        return true;
    return A.size() < B.size() ? B.startsWith(A) && B.at(A.size()) == u'/'
                               : A.startsWith(B) && A.at(B.size()) == u'/';
}

bool AnyOverlap(const QStringList& Folders, const QStringList& Others) {
    for (const QString& F : Folders)
        for (const QString& O : Others)
            if (Overlap(F, O))
                return true;
    return false;
}

} // namespace

TTaskController::TTaskController(QObject* Parent)
    : QObject(Parent), FStore(new TStateStore(this)), FLive(new TLiveCopies(FStore, this)),
      FMonitor(new TServerMonitor(FStore, this)) {
    // The states are written a moment after the last change, not after each of thousands.
    FSaveLater = new QTimer(this);
    FSaveLater->setSingleShot(true);
    FSaveLater->setInterval(2000);
    connect(FSaveLater, &QTimer::timeout, this, [this] { SaveStates(); });
    connect(FStore, &TStateStore::Changed, this, [this] { FSaveLater->start(); });
    // A background run that made way for the user's has ended: what waited for it may start.
    connect(FLive, &TLiveCopies::Checked, this, [this] { StartWaiting(); });
    connect(FMonitor, &TServerMonitor::Stopped, this, [this] { StartWaiting(); });
    connect(FMonitor, &TServerMonitor::RunFinished, this, [this] { StartWaiting(); });
    FSearchTicker = new QTimer(this);
    FSearchTicker->setInterval(200);
    connect(FSearchTicker, &QTimer::timeout, this, [this] {
        if (FSearch)
            emit SearchProgress(FSearch->FoldersSearched(), FFound);
    });
}

TTaskController::~TTaskController() {
    // The run and the search end with their owner; each waits for its threads. So do the
    // background checks and the monitor.
    delete FRun.data();
    delete FMonitor;
    delete FLive;
    for (const QPointer<TSvnRun>& Run : std::as_const(FCopyRuns))
        delete Run.data();
    delete FSearch.data();
    for (const QPointer<THtmlExportJob>& Job : std::as_const(FExports))
        delete Job.data();
    for (const QPointer<TSvnRun>& Learner : std::as_const(FLearners))
        delete Learner.data();
    if (FStore->Dirty())
        SaveStates();
}

QString TTaskController::LoadStates() {
    return FStore->Load(TStateStore::DefaultFileName());
}

bool TTaskController::SaveStates(QString* Error) {
    FSaveLater->stop();
    return FStore->Save(TStateStore::DefaultFileName(), Error);
}

void TTaskController::SetProjects(std::vector<TSvnProject> All, int Jobs, int TimeoutSeconds) {
    FLive->SetRunOptions(Jobs, TimeoutSeconds);
    FMonitor->SetRunOptions(Jobs, TimeoutSeconds);
    FMonitor->SetProjects(All);
    FLive->SetProjects(std::move(All));
}

bool TTaskController::StartRun(std::vector<TSvnProject> Projects, TSvnTask Task,
                               TSvnRunOptions Options) {
    if (FRun)
        return false;
    Options.Store = FStore;
    if (!Options.Console)
        Options.Answer = FLive->Answers(Task, Projects);
    Options.Generation = FLive->Generations();
    // What the memo and the store keep of each project; beyond it the lines are counted.
    Options.KeepLines = TStateStore::KeptLines;
    auto* Run = new TSvnRun(std::move(Projects), Task, Options, this);
    FRun = Run;
    UpdateBusy();
    FTally = TRunTally();
    const int Total = int(Run->Projects().size());
    connect(Run, &TSvnRun::ProjectDone, this, [this, Run](int Index, const TSvnOutcome& O) {
        FTally.Add(O.State, O.Verdict.HasChanges, O.Verdict.IsBehind, O.RevisionChanged);
        // The copy is free for a changes window's run again.
        const auto It = FRunFolders.find(Run->Projects()[size_t(Index)].Folder);
        if (It != FRunFolders.end() && --*It <= 0) {
            FRunFolders.erase(It);
            if (!FWaiting.isEmpty())
                StartWaiting();
        }
        emit ProjectDone(Index, O);
        // The store has just taken the result: its URL is the newest the program knows.
        const QString& Folder = Run->Projects()[size_t(Index)].Folder;
        if (const TStoredState* S = Folder.isEmpty() ? nullptr : FStore->Find(Folder);
            S && !S->Url.isEmpty())
            emit UrlLearned(Folder, S->Url);
    });
    connect(Run, &TSvnRun::Progress, this, &TTaskController::RunProgress);
    connect(Run, &TSvnRun::Finished, this, [this, Run](bool Cancelled) {
        FRun = nullptr;
        FRunFolders.clear();
        Run->deleteLater();
        UpdateBusy();
        emit RunFinished(Cancelled);
        FSaveLater->start(200);
        StartWaiting();
        CheckIdle();
    });
    emit RunStarted(Task, Total);
    QStringList Folders;
    for (const TSvnProject& P : Run->Projects())
        Folders << P.Folder;
    if (InUse(Folders) || !FWaiting.isEmpty()) {
        // Said when a changes window holds it up; the background work ends within moments.
        if (AnyOverlap(Folders, FCopyRunFolders.values()) || !FWaiting.isEmpty())
            emit RunWaiting();
        FWaiting << TWaiting{Run, Folders};
        StartWaiting();
    } else {
        Begin(Run);
    }
    CheckIdle();
    return true;
}

bool TTaskController::InUse(const QStringList& Folders) const {
    const QStringList Copies = FCopyRunFolders.values();
    if (AnyOverlap(Folders, Copies))
        return true;
    // The background checks and the monitor make way (UpdateBusy); their clients end first.
    if (FMonitor->Running() || AnyOverlap(Folders, FLive->Holding()))
        return true;
    for (const QString& F : Folders)
        for (auto It = FRunFolders.constBegin(); It != FRunFolders.constEnd(); ++It)
            if (Overlap(F, It.key()))
                return true;
    return false;
}

void TTaskController::StartWaiting() {
    // In the order asked: a run keeps waiting behind an earlier one on the same copy.
    QStringList Ahead;
    for (int i = 0; i < FWaiting.size();) {
        const TWaiting W = FWaiting.at(i);
        if (!W.Run) {
            FWaiting.removeAt(i);
            continue;
        }
        if (!InUse(W.Folders) && !AnyOverlap(W.Folders, Ahead)) {
            FWaiting.removeAt(i);
            Begin(W.Run);
            continue;
        }
        Ahead += W.Folders;
        ++i;
    }
}

void TTaskController::Begin(TSvnRun* Run) {
    if (Run == FRun) {
        for (const TSvnProject& P : Run->Projects())
            if (!P.Folder.isEmpty())
                ++FRunFolders[P.Folder];
        Run->Start();
        return;
    }
    FCopyRunFolders.insert(Run, Run->Projects().front().Folder);
    Run->Start();
    emit CopyRunStarted(Run);
}

TSvnRun* TTaskController::StartCopyRun(const TSvnProject& Project, TSvnTask Task,
                                       TSvnRunOptions Options) {
    auto* Run = new TSvnRun({Project}, Task, std::move(Options), this);
    FCopyRuns << Run;
    connect(Run, &TSvnRun::Finished, this, [this, Run] {
        FCopyRuns.removeAll(Run);
        FCopyRunFolders.remove(Run);
        Run->deleteLater();
        UpdateBusy();
        FSaveLater->start(200);
        StartWaiting();
        CheckIdle();
    });
    UpdateBusy();
    const QStringList Folders{Project.Folder};
    bool Behind = false;
    for (const TWaiting& W : std::as_const(FWaiting))
        Behind = Behind || AnyOverlap(Folders, W.Folders);
    if (Behind || InUse(Folders))
        FWaiting << TWaiting{Run, Folders};
    else
        Begin(Run);
    CheckIdle();
    return Run;
}

void TTaskController::UpdateBusy() {
    // Every copy a run of the user's works on or waits for: the background checks leave it
    // alone meanwhile, so that no second client meets the user's on it.
    QSet<QString> Folders;
    if (FRun)
        for (const TSvnProject& P : FRun->Projects())
            Folders.insert(P.Folder);
    for (const QPointer<TSvnRun>& Run : std::as_const(FCopyRuns))
        if (Run)
            for (const TSvnProject& P : Run->Projects())
                Folders.insert(P.Folder);
    FLive->SetBusy(Folders);
    FMonitor->SetBusy(FRun || !FCopyRuns.isEmpty());
}

bool TTaskController::StartSearch(const QString& StartFolder, QSet<QString> Registered) {
    if (FSearch)
        return false;
    FFound = 0;
    FSearchDone = false;
    FOffers.clear();
    auto* Search = new TSvnSearch(StartFolder, std::move(Registered), this);
    FSearch = Search;
    connect(Search, &TSvnSearch::Found, this, [this](const QString& Folder) {
        ++FFound;
        FOffers.enqueue(Folder);
        if (!FOffering)
            QTimer::singleShot(0, this, [this] { OfferNext(); });
    });
    connect(Search, &TSvnSearch::Finished, this, [this](bool) {
        FSearchDone = true;
        OfferNext();
    });
    FSearchTicker->start();
    emit SearchProgress(0, 0);
    Search->Start();
    CheckIdle();
    return true;
}

void TTaskController::OfferNext() {
    if (FOffering || !FSearch)
        return;
    if (!FOffers.isEmpty()) {
        FOffering = true;
        const QString Folder = FOffers.dequeue();
        // The rest wait behind it; the walk may still find more.
        emit Offer(Folder, int(FOffers.size()));
        return;
    }
    if (!FSearchDone)
        return;
    const bool Cancelled = FSearch->Cancelled();
    const int Folders = FSearch->FoldersSearched();
    const QString StartError = FSearch->StartError();
    const QStringList Notes = FSearch->Notes();
    FSearch->deleteLater();
    FSearch = nullptr;
    FSearchTicker->stop();
    emit SearchFinished(Cancelled, Folders, FFound, StartError, Notes);
    CheckIdle();
}

void TTaskController::Answered(bool End) {
    FOffering = false;
    if (End)
        EndSearch();
    // Not from inside the answer: each offer would nest one level deeper.
    QTimer::singleShot(0, this, [this] { OfferNext(); });
}

void TTaskController::EndSearch() {
    if (FSearch)
        FSearch->Cancel();
    FOffers.clear();
}

void TTaskController::LearnUrls(std::vector<TSvnProject> Projects) {
    if (Projects.empty())
        return;
    // Not into the store: the state of the copy is not asked, only its URL.
    auto* Run = new TSvnRun(std::move(Projects), TSvnTask::Info, TSvnRunOptions(), this);
    FLearners << Run;
    connect(Run, &TSvnRun::ProjectDone, this, [this, Run](int Index, const TSvnOutcome& O) {
        if (!O.Verdict.Url.isEmpty())
            emit UrlLearned(Run->Projects()[size_t(Index)].Folder, O.Verdict.Url);
    });
    connect(Run, &TSvnRun::Finished, this, [this, Run] {
        FLearners.removeAll(Run);
        Run->deleteLater();
    });
    Run->Start();
}

void TTaskController::AddExport(THtmlExportJob* Job) {
    FExports << Job;
    connect(Job, &THtmlExportJob::UrlLearned, this, &TTaskController::UrlLearned);
    const QString File = Job->FileName();
    connect(Job, &THtmlExportJob::Finished, this, [this, Job, File](bool Ok, const QString&) {
        FExports.removeAll(Job);
        emit ExportFinished(File, Ok);
        CheckIdle();
    });
    CheckIdle();
}

void TTaskController::CancelRun(TSvnRun* Run) {
    if (!Run)
        return;
    Run->Cancel();
    // A waiting run starts cancelled: it reports every copy as not run and ends at once.
    for (int i = 0; i < FWaiting.size(); ++i)
        if (FWaiting.at(i).Run == Run) {
            FWaiting.removeAt(i);
            Begin(Run);
            break;
        }
}

void TTaskController::Cancel(bool CopyRunsToo) {
    CancelRun(FRun);
    if (CopyRunsToo)
        for (const QPointer<TSvnRun>& Run : QList<QPointer<TSvnRun>>(FCopyRuns))
            CancelRun(Run);
    EndSearch();
}

QString TTaskController::WaitingFor() const {
    QStringList What;
    // Asked before the cancel, the run is named; after it, what its end still waits for.
    if (FRun && !FRun->Cancelling())
        What << QStringLiteral("„%1“").arg(QString::fromUtf8(TaskRow(FRun->Task()).Title));
    else if (FRun)
        What << (FRun->SkippingChecks()
                     ? QStringLiteral("das Ende der letzten Aufrufe von svn")
                     : QStringLiteral("das Ende der abgebrochenen Aufrufe von svn und die Prüfung "
                                      "der Arbeitskopien"));
    if (!FCopyRuns.isEmpty())
        What << QStringLiteral("svn in den Fenstern „Änderungen“");
    if (FSearch)
        What << QStringLiteral("das Ende der Suche");
    if (!FExports.isEmpty())
        What << (FExports.size() == 1
                     ? QStringLiteral("die HTML-Seite, die gerade geschrieben wird")
                     : QStringLiteral("%1 HTML-Seiten, die gerade geschrieben werden")
                           .arg(FExports.size()));
    return What.join(QStringLiteral(", "));
}

void TTaskController::CheckIdle() {
    const bool Now = Busy();
    if (Now != FWasBusy) {
        FWasBusy = Now;
        emit BusyChanged(Now);
    }
}
