#include "kiv_live.h"

#include "kiv_watcher.h"
#include "svn_store.h"

#include <QDir>
#include <QHash>
#include <QTimer>

#include <algorithm>

namespace {

QString Clean(const QString& Folder) {
    return Folder.isEmpty() ? Folder : QDir::cleanPath(Folder);
}

} // namespace

bool AnswerFromStore(const TStoredState& S, const TkivWatcher& Watcher, TSvnTask Task,
                     const QString& Folder, TSvnOutcome& Out) {
    // Only lines a whole client run printed (nothing cut off, no time limit, no cancel: exit
    // code 0), of a task whose output depends on the copy alone, read while this watcher
    // watched; the generation is never stored across starts, so a fresh program runs them.
    if (!TaskRow(Task).Answerable || S.Task != Task || S.Generation == 0 || S.Omitted > 0 ||
        S.ExitCode != 0 || !Watcher.UnchangedSince(Folder, S.Generation))
        return false;
    Out = TSvnOutcome();
    Out.Lines = S.Lines;
    Out.Notes = S.Notes;
    Out.ExitCode = S.ExitCode;
    Out.Verdict = DecideState(Task, S.Lines, S.ExitCode, Folder);
    Out.State = S.State;
    Out.Generation = S.Generation;
    return true;
}

TLiveCopies::TLiveCopies(TStateStore* Store, QObject* Parent)
    : QObject(Parent), FStore(Store), FWatcher(new TkivWatcher(this)), FPoll(new QTimer(this)),
      FSoon(new QTimer(this)) {
    FOptions.Jobs = 2;
    FOptions.LowPriority = true;
    FOptions.Store = FStore;
    FOptions.KeepLines = TStateStore::KeptLines;
    FPoll->setInterval(60 * 1000);
    // One check for what comes close together (the watcher's quiet time has passed already).
    FSoon->setSingleShot(true);
    FSoon->setInterval(0);
    connect(FSoon, &QTimer::timeout, this, [this] { StartCheck(); });
    connect(FPoll, &QTimer::timeout, this, [this] {
        for (const QString& F : std::as_const(FUnwatched))
            FPending.insert(F);
        Schedule();
    });
    connect(FWatcher, &TkivWatcher::Changed, this, &TLiveCopies::Changed);
    connect(FWatcher, &TkivWatcher::Problem, this, &TLiveCopies::Problem);
    connect(FWatcher, &TkivWatcher::NotWatchableChanged, this, [this](const QStringList& Copies) {
        FUnwatched.clear();
        for (const QString& C : Copies)
            FUnwatched.insert(Clean(C));
        if (FUnwatched.isEmpty())
            FPoll->stop();
        else if (!FPoll->isActive())
            FPoll->start();
    });
}

TLiveCopies::~TLiveCopies() {
    delete FRun.data(); // interrupts its clients and waits for them
}

void TLiveCopies::SetProjects(std::vector<TSvnProject> Projects) {
    FProjects = std::move(Projects);
    FByFolder.clear();
    QStringList Copies;
    for (int i = 0; i < int(FProjects.size()); ++i) {
        const QString F = Clean(FProjects[size_t(i)].Folder);
        if (F.isEmpty())
            continue;
        if (!FByFolder.contains(F))
            Copies << F;
        FByFolder[F] << i;
    }
    // Folders no longer registered are not checked any more.
    for (auto It = FPending.begin(); It != FPending.end();)
        It = FByFolder.contains(*It) ? std::next(It) : FPending.erase(It);
    FWatcher->SetCopies(Copies);
}

void TLiveCopies::SetRunOptions(int Jobs, int TimeoutSeconds, const QString& Program) {
    FOptions.Jobs = std::max(1, Jobs);
    FOptions.TimeoutSeconds = TimeoutSeconds;
    FOptions.Program = Program;
}

void TLiveCopies::SetPollSeconds(int Seconds) {
    FPoll->setInterval(std::max(1, Seconds) * 1000);
}

void TLiveCopies::SetBusy(const QSet<QString>& Folders) {
    FBusy.clear();
    for (const QString& F : Folders)
        FBusy.insert(Clean(F));
    if (FRun && FRunFolders.intersects(FBusy)) {
        // Two clients on one copy would fight over its lock; the user's run goes first, and
        // what this one had not done yet is done after it.
        FPending.unite(FRunFolders);
        FRun->Cancel();
    }
    Schedule();
}

void TLiveCopies::CheckSoon(const QStringList& Folders) {
    for (const QString& F : Folders)
        if (FByFolder.contains(Clean(F)))
            FPending.insert(Clean(F));
    Schedule();
}

void TLiveCopies::Changed(const QStringList& Copies) {
    for (const QString& C : Copies)
        if (FByFolder.contains(Clean(C)))
            FPending.insert(Clean(C));
    Schedule();
}

void TLiveCopies::Schedule() {
    if (!FRun && !FPending.isEmpty() && !FSoon->isActive())
        FSoon->start();
}

void TLiveCopies::StartCheck() {
    if (FRun)
        return;
    std::vector<int> Indexes;
    QSet<QString> Folders;
    for (auto It = FPending.begin(); It != FPending.end();) {
        const QString F = *It;
        if (FBusy.contains(F)) {
            ++It; // after the user's run
            continue;
        }
        It = FPending.erase(It);
        // What the store holds may already be what the copy is: the user's run, or a check
        // before, read it after the last change.
        const QList<int> Named = FByFolder.value(F);
        if (Named.isEmpty())
            continue;
        const TStoredState* S = FStore->Find(FProjects[size_t(Named.first())].Folder);
        if (S && S->Generation != 0 &&
            FWatcher->UnchangedSince(FProjects[size_t(Named.first())].Folder, S->Generation))
            continue;
        Folders.insert(F);
        for (int i : Named)
            Indexes.push_back(i);
    }
    if (Indexes.empty())
        return;
    // In the registry's order, as every run goes.
    std::sort(Indexes.begin(), Indexes.end());
    std::vector<TSvnProject> Projects;
    for (int i : Indexes)
        Projects.push_back(FProjects[size_t(i)]);
    TSvnRunOptions Options = FOptions;
    const TkivWatcher* W = FWatcher;
    Options.Generation = [W](const QString& Folder) { return W->Generation(Folder); };
    auto* Run = new TSvnRun(std::move(Projects), TSvnTask::Status, Options, this);
    FRun = Run;
    FRunFolders = Folders;
    connect(Run, &TSvnRun::Finished, this, [this, Run] {
        const QStringList Done = QStringList(FRunFolders.begin(), FRunFolders.end());
        FRun = nullptr;
        FRunFolders.clear();
        Run->deleteLater();
        emit Checked(Done);
        Schedule();
    });
    Run->Start();
}

std::function<bool(const QString&, TSvnOutcome&)>
TLiveCopies::Answers(TSvnTask Task, const std::vector<TSvnProject>& Projects) const {
    if (!TaskRow(Task).Answerable)
        return nullptr;
    // The store as it is now, as far as it can answer: the run's workers read this copy,
    // never the store itself. The copy holds only what an answer needs.
    auto Known = std::make_shared<QHash<QString, TStoredState>>();
    Known->reserve(qsizetype(Projects.size()));
    for (const TSvnProject& P : Projects) {
        const TStoredState* S = FStore->Find(P.Folder);
        if (!S || S->Generation == 0 || S->Task != Task || S->Omitted > 0 || S->ExitCode != 0)
            continue;
        TStoredState& K = (*Known)[P.Folder];
        K.State = S->State;
        K.Task = S->Task;
        K.Lines = S->Lines;
        K.Notes = S->Notes;
        K.Generation = S->Generation;
    }
    const TkivWatcher* W = FWatcher;
    return [Known, W, Task](const QString& Folder, TSvnOutcome& Out) {
        const auto It = Known->constFind(Folder);
        return It != Known->constEnd() && AnswerFromStore(*It, *W, Task, Folder, Out);
    };
}

std::function<quint64(const QString&)> TLiveCopies::Generations() const {
    const TkivWatcher* W = FWatcher;
    return [W](const QString& Folder) { return W->Generation(Folder); };
}
