#include "kiv_monitor.h"

#include "kiv_registry.h"
#include "svn_store.h"

#include <QFileInfo>
#include <QHash>
#include <QTimer>

#include <algorithm>

namespace {

// A moment after it is turned on (or the program started with it on), so that the start's own
// work comes first.
constexpr int FirstRunMs = 3000;

qint64 NewestRevision(const TServerNews& N) {
    return N.Log.isEmpty() ? -1 : N.Log.first().Revision;
}

} // namespace

TServerMonitor::TServerMonitor(TStateStore* Store, QObject* Parent)
    : QObject(Parent), FStore(Store), FTimer(new QTimer(this)) {
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, this, [this] { Tick(); });
    FOptions.LowPriority = true;
    FOptions.KeepLines = 200; // enough for the errors; the lines are not kept
}

TServerMonitor::~TServerMonitor() {
    FStop = true;
    delete FRun.data();
    FWorkers.Join();
}

void TServerMonitor::SetProjects(std::vector<TSvnProject> Projects) {
    FProjects = std::move(Projects);
}

void TServerMonitor::SetRunOptions(int Jobs, int TimeoutSeconds, const QString& Program) {
    FOptions.Jobs = std::max(1, Jobs);
    FOptions.TimeoutSeconds = TimeoutSeconds;
    FOptions.Program = Program;
}

qint64 TServerMonitor::IntervalMs() const {
    int Seconds = 0;
    if (ParseBoundedInt(qEnvironmentVariable(MonitorSecondsVariable), 1, 3600, Seconds))
        return qint64(Seconds) * 1000;
    return qint64(FMinutes) * 60 * 1000;
}

void TServerMonitor::SetInterval(int Minutes) {
    const bool WasOn = On();
    FMinutes = std::max(0, Minutes);
    if (!On()) {
        FTimer->stop();
        FDeferred = false;
        if (FRun)
            FRun->Cancel();
        FStop = true;
        return;
    }
    if (FRunning)
        return; // the next one is timed when this one ends
    FTimer->start(int(WasOn ? IntervalMs() : std::min<qint64>(FirstRunMs, IntervalMs())));
}

void TServerMonitor::SetBusy(bool Busy) {
    FBusy = Busy;
    if (FBusy && FRunning) {
        // Its clients would meet the user's on the same copies: it yields and comes again.
        FDeferred = true;
        FStop = true;
        if (FRun)
            FRun->Cancel();
        return;
    }
    if (!FBusy && FDeferred) {
        FDeferred = false;
        Tick();
    }
}

void TServerMonitor::Tick() {
    if (FBusy) {
        FDeferred = true;
        return;
    }
    RunNow();
}

void TServerMonitor::RunNow() {
    if (FRunning || FProjects.empty()) {
        if (!FRunning && On())
            FTimer->start(int(IntervalMs()));
        return;
    }
    FRunning = true;
    FStop = false;
    FTimer->stop();
    FRunProjects = FProjects;
    FOutcomes.assign(FRunProjects.size(), TSvnOutcome());
    for (TSvnOutcome& O : FOutcomes)
        O.State = TSvnState::NotRun;
    auto* Run = new TSvnRun(FRunProjects, TSvnTask::StatusRemote, FOptions, this);
    FRun = Run;
    connect(Run, &TSvnRun::ProjectDone, this,
            [this](int Index, const TSvnOutcome& O) { FOutcomes[size_t(Index)] = O; });
    connect(Run, &TSvnRun::Finished, this, [this, Run] {
        FRun = nullptr;
        Run->deleteLater();
        StatusDone();
    });
    emit RunStarted();
    Run->Start();
}

void TServerMonitor::StatusDone() {
    // The copies that fell behind get their new revisions from the log, unless the store has
    // them for the same revisions already.
    FLogJobs.clear();
    QSet<QString> Seen;
    for (size_t i = 0; i < FRunProjects.size(); ++i) {
        const TSvnOutcome& O = FOutcomes[i];
        const QString& F = FRunProjects[i].Folder;
        if (FStop || O.State == TSvnState::NotRun || IsFailure(O.State) || !O.Verdict.IsBehind ||
            Seen.contains(F))
            continue;
        Seen.insert(F);
        const TStoredState* S = FStore->Find(F);
        if (S && S->Server.Behind() && S->Server.Head == O.Verdict.ServerRevision &&
            S->Server.NewRevisions >= 0)
            continue;
        TLogJob J;
        const QString Real = QFileInfo(F).canonicalFilePath();
        J.Folder = Real.isEmpty() ? F : Real;
        J.Head = O.Verdict.ServerRevision;
        FLogJobs.push_back(J);
    }
    FNextLog = 0;
    const int Threads =
        FStop ? 0 : std::min<int>(int(FLogJobs.size()), std::max(FOptions.Jobs, ServerClients));
    FWorkers.Start(
        Threads, [this] { ReadLogs(); }, this, [this] { Finish(); });
}

void TServerMonitor::ReadLogs() {
    LowerThreadPriority();
    TSvnClient Client;
    Client.Program = FOptions.Program;
    for (;;) {
        const int I = FNextLog.fetch_add(1);
        if (I >= int(FLogJobs.size()) || FStop)
            return;
        TLogJob& J = FLogJobs[size_t(I)];
        TSvnCall Call;
        Call.Folder = J.Folder;
        Call.TimeoutSeconds = FOptions.TimeoutSeconds;
        Call.Cancel = &FStop;
        Call.Arguments = {QStringLiteral("info"), QStringLiteral("--show-item"),
                          QStringLiteral("revision")};
        const TSvnResult Info = Client.Run(Call);
        bool Ok = false;
        J.Base = Info.ExitCode == 0 ? Info.Lines.value(0).trimmed().toLongLong(&Ok) : -1;
        if (!Ok || J.Base < 0 || J.Head < 0) {
            J.Base = -1;
            continue;
        }
        if (J.Head <= J.Base) {
            J.Read = true;
            continue;
        }
        // The revisions after the copy's, up to the head the status saw, the newest first.
        Call.Arguments = {
            QStringLiteral("log"),     QStringLiteral("--xml"),
            QStringLiteral("--limit"), QString::number(LogLimit),
            QStringLiteral("-r"),      QStringLiteral("%1:%2").arg(J.Head).arg(J.Base + 1)};
        const TSvnResult Log = Client.Run(Call);
        bool Complete = false;
        if (Log.ExitCode == 0)
            J.Log = ParseLogXml(Log.Lines, &Complete);
        J.Read = Log.ExitCode == 0 && Complete;
        // The store and the notification keep each message's first line, nothing more.
        for (TLogEntry& E : J.Log) {
            E.Message = E.Message.trimmed().section(u'\n', 0, 0).trimmed();
            E.Paths.clear();
        }
        if (!J.Read) {
            J.Log.clear();
            for (const QString& L : Log.Lines)
                if (L.startsWith(QLatin1String("svn: E")))
                    J.Notes << L;
        }
    }
}

void TServerMonitor::Finish() {
    FRunning = false;
    if (FStop) {
        FStop = false;
        FOutcomes.clear();
        FLogJobs.clear();
        if (On() && !FDeferred)
            FTimer->start(int(IntervalMs()));
        emit Stopped();
        return;
    }
    QHash<QString, const TLogJob*> Logs;
    for (const TLogJob& J : FLogJobs)
        Logs.insert(J.Folder, &J);
    const QDateTime Now = QDateTime::currentDateTimeUtc();
    QStringList News;
    QHash<QString, bool> NewsOf; // per folder, decided once
    for (size_t i = 0; i < FRunProjects.size(); ++i) {
        const TSvnOutcome& O = FOutcomes[i];
        const TSvnProject& P = FRunProjects[i];
        if (O.State == TSvnState::NotRun || P.Folder.isEmpty())
            continue;
        if (!NewsOf.contains(P.Folder)) {
            const TStoredState* S = FStore->Find(P.Folder);
            const TServerNews Old = S ? S->Server : TServerNews();
            TServerNews N = ServerNewsOf(O, Now, Old.Known() ? &Old : nullptr);
            const QString Real = QFileInfo(P.Folder).canonicalFilePath();
            if (const TLogJob* J = Logs.value(Real.isEmpty() ? P.Folder : Real); J && J->Read) {
                N.Base = J->Base;
                N.Log = J->Log;
                N.NewRevisions = int(J->Log.size());
                N.More = J->Log.size() >= LogLimit;
            } else if (J) {
                N.Notes << J->Notes;
            }
            // News: behind now, and by a revision not known before, nor told before an outage.
            const qint64 Newest = N.Log.isEmpty() ? N.Head : NewestRevision(N);
            const bool Fresh = N.Behind() && Newest > N.Told &&
                               (!Old.Behind() || NewestRevision(N) > NewestRevision(Old) ||
                                (N.Log.isEmpty() && N.Head > Old.Head));
            if (N.Behind())
                N.Told = std::max(N.Told, Newest);
            NewsOf.insert(P.Folder, Fresh);
            FStore->RecordServer(P.Folder, N, &O);
        }
        if (NewsOf.value(P.Folder))
            News << (P.TreePath.isEmpty() ? P.Folder : P.TreePath);
    }
    FOutcomes.clear();
    FLogJobs.clear();
    if (On())
        FTimer->start(int(IntervalMs()));
    emit RunFinished(News, int(BehindProjects().size()));
}

QStringList TServerMonitor::BehindProjects() const {
    QStringList R;
    for (const TSvnProject& P : FProjects)
        if (const TStoredState* S = FStore->Find(P.Folder); S && S->Server.Behind())
            R << (P.TreePath.isEmpty() ? P.Folder : P.TreePath);
    return R;
}
