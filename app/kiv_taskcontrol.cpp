#include "kiv_taskcontrol.h"

#include "html_ausgabe.h"
#include "svn_search.h"

#include <QLocale>
#include <QTimer>

TTaskController::TTaskController(QObject* Parent) : QObject(Parent), FStore(new TStateStore(this)) {
    // The states are written a moment after the last change, not after each of thousands.
    FSaveLater = new QTimer(this);
    FSaveLater->setSingleShot(true);
    FSaveLater->setInterval(2000);
    connect(FSaveLater, &QTimer::timeout, this, [this] { SaveStates(); });
    connect(FStore, &TStateStore::Changed, this, [this] { FSaveLater->start(); });
    FSearchTicker = new QTimer(this);
    FSearchTicker->setInterval(200);
    connect(FSearchTicker, &QTimer::timeout, this, [this] {
        if (FSearch)
            emit SearchProgress(FSearch->FoldersSearched(), FFound);
    });
}

TTaskController::~TTaskController() {
    // The run and the search end with their owner; each waits for its threads.
    delete FRun.data();
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

bool TTaskController::StartRun(std::vector<TSvnProject> Projects, TSvnTask Task,
                               TSvnRunOptions Options) {
    if (FRun)
        return false;
    Options.Store = FStore;
    // What the memo and the store keep of each project; beyond it the lines are counted.
    Options.KeepLines = TStateStore::KeptLines;
    auto* Run = new TSvnRun(std::move(Projects), Task, Options, this);
    FRun = Run;
    FTally = TRunTally();
    const int Total = int(Run->Projects().size());
    connect(Run, &TSvnRun::ProjectDone, this, [this, Run](int Index, const TSvnOutcome& O) {
        FTally.Add(O.State, O.Verdict.HasChanges, O.Verdict.IsBehind, O.RevisionChanged);
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
        Run->deleteLater();
        emit RunFinished(Cancelled);
        FSaveLater->start(200);
        CheckIdle();
    });
    emit RunStarted(Task, Total);
    Run->Start();
    CheckIdle();
    return true;
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

void TTaskController::Cancel() {
    if (FRun)
        FRun->Cancel();
    EndSearch();
}

QString TTaskController::WaitingFor() const {
    QStringList What;
    if (FRun)
        What << (FRun->SkippingChecks()
                     ? QStringLiteral("das Ende der letzten Aufrufe von svn")
                     : QStringLiteral("das Ende der abgebrochenen Aufrufe von svn und die Prüfung "
                                      "der Arbeitskopien"));
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
