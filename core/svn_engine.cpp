#include "svn_engine.h"

#include "kiv_XmlObjects.h"
#include "kiv_folders.h"
#include "kiv_kinds.h"
#include "kiv_terminal.h"

#include <QCollator>
#include <QElapsedTimer>
#include <QTimer>
#include <QLocale>

#include <QFile>

#include <algorithm>
#include <chrono>
#include <sys/stat.h>
#include <mutex>
#include <thread>

namespace {

// Folders per client: large enough to save most start-ups, small enough that the batches
// spread over the workers and the first blocks show early.
constexpr int BatchSize = 24;

// Where batched clients run: the root always exists, so what they print does not depend on
// any current directory.
const QString BatchDir = QStringLiteral("/");

TSvnState StateOfFolder(TFolderState F) {
    switch (F) {
    case TFolderState::Ready:
        return TSvnState::Clean;
    case TFolderState::Missing:
    case TFolderState::NotAFolder:
        return TSvnState::Missing;
    case TFolderState::NoAccess:
        return TSvnState::NoAccess;
    case TFolderState::TooLong:
        return TSvnState::TooLong;
    }
    return TSvnState::Missing;
}

// The client's own error codes for a server that wants a login it could not give.
bool NeedsCredentials(const QStringList& Lines) {
    for (const QString& L : Lines)
        if (L.startsWith(QLatin1String("svn: E215004:")) ||
            L.startsWith(QLatin1String("svn: E170001:")) ||
            L.startsWith(QLatin1String("svn: E230001:")))
            return true;
    return false;
}

// What the user can do about a failure the client reported.
void AddHints(TSvnOutcome& O) {
    if (NeedsCredentials(O.Lines))
        O.Notes << QStringLiteral("Der Server verlangt eine Anmeldung. Einmal »in DOS-Box "
                                  "ausführen« wählen und die Zugangsdaten dort eingeben und "
                                  "speichern lassen; danach läuft die Aufgabe ohne Rückfrage.");
}

// After an update the client waits until file times can tell a later change apart. Given one
// folder it looks at that folder's file system and waits 10 ms where times have fractions of a
// second; given several it always waits for the next full second. So a batch asks the same
// of every folder it holds and, where all pass, waits those 10 ms itself.
bool FineFileTimes(const QStringList& Folders) {
    for (const QString& F : Folders) {
        struct stat S;
        if (stat(QFile::encodeName(F).constData(), &S) != 0 || S.st_mtim.tv_nsec / 1000 == 0)
            return false;
    }
    return true;
}
const QString NoTimestampSleep =
    QStringLiteral("SVN_I_LOVE_CORRUPTED_WORKING_COPIES_SO_DISABLE_SLEEP_FOR_TIMESTAMPS=yes");

// A target as the client reads it: a trailing "@" keeps an "@" in a folder name from being
// taken for a revision.
QString Target(const QString& Folder) {
    return Folder.contains(u'@') ? Folder + u'@' : Folder;
}

} // namespace

QString ProjectHead(const TSvnProject& Project) {
    return QStringLiteral("--> ") + Project.Folder;
}

QStringList ProjectBlock(const TSvnProject& Project, const TSvnOutcome& Outcome, bool Short) {
    if (Outcome.State == TSvnState::Cancelled && Outcome.Lines.isEmpty() && Outcome.Notes.isEmpty())
        return {};
    const QStringList Filtered = FilterOutput(Outcome.Lines);
    if (Short && !IsFailure(Outcome.State) && Outcome.Notes.isEmpty() && LeftOutInShort(Filtered))
        return {};
    return QStringList{ProjectHead(Project)} + Filtered + Outcome.Notes;
}

void CollectProjects(TkivXmlElement* Element, const QString& TreePath, const QString& Base,
                     std::vector<TSvnProject>& Projects,
                     const std::function<bool(const QString&, const QString&)>& Less) {
    // Depth first, each element's children in order; iterative, so no depth can exhaust the
    // stack.
    struct Item {
        TkivXmlElement* E;
        QString Path;
    };
    const QString NameAttr = QStringLiteral("Name");
    std::vector<Item> Pending{{Element, TreePath}};
    while (!Pending.empty()) {
        Item It = std::move(Pending.back());
        Pending.pop_back();
        if (ElementKindOf(It.E->Name()) == ekProject) {
            const QString Dir = It.E->GetAttribute(QStringLiteral("Verzeichnis"));
            Projects.push_back({It.E->GetAttribute(NameAttr), Dir, ProjectFolder(Dir, Base),
                                It.Path, 0});
            continue;
        }
        std::vector<TkivXmlElement*> Children;
        for (int i = 0; i < It.E->ChildCount(); ++i)
            Children.push_back(It.E->GetChild(i));
        if (Less)
            std::stable_sort(Children.begin(), Children.end(),
                             [&](TkivXmlElement* A, TkivXmlElement* B) {
                                 return Less(A->GetAttribute(NameAttr), B->GetAttribute(NameAttr));
                             });
        for (auto C = Children.rbegin(); C != Children.rend(); ++C) {
            const QString CName = (*C)->GetAttribute(NameAttr);
            Pending.push_back({*C, It.Path.isEmpty() ? CName : It.Path + u'/' + CName});
        }
    }
}

void CollectProjectsInCaptionOrder(TkivXmlElement* Element, const QString& TreePath,
                                   const QString& Base, std::vector<TSvnProject>& Projects) {
    QCollator Collator(QLocale().language() == QLocale::C ? QLocale(QLocale::German) : QLocale());
    Collator.setCaseSensitivity(Qt::CaseInsensitive);
    CollectProjects(Element, TreePath, Base, Projects, [&](const QString& A, const QString& B) {
        const int R = Collator.compare(A, B);
        return R != 0 ? R < 0 : A < B;
    });
}

TSvnRun::TSvnRun(std::vector<TSvnProject> Projects, TSvnTask Task, TSvnRunOptions Options,
                 QObject* Parent)
    : QObject(Parent), FProjects(std::move(Projects)), FTask(Task), FOptions(std::move(Options)) {
    qRegisterMetaType<TSvnOutcome>();
    FClient.Program = FOptions.Program;
    if (FOptions.Console)
        FOptions.Jobs = 1;
    FOptions.Jobs = std::max(1, FOptions.Jobs);
}

TSvnRun::~TSvnRun() {
    FStop = true;
    FKill = true;
    FWorkers.Join();
}

QStringList TSvnRun::TaskArguments() const {
    switch (FTask) {
    case TSvnTask::Status:
        return FOptions.ShowUpdates ? QStringList{QStringLiteral("status"), QStringLiteral("-u")}
                                    : QStringList{QStringLiteral("status")};
    case TSvnTask::Update:
        return {QStringLiteral("update")};
    case TSvnTask::Info:
        return {QStringLiteral("info")};
    }
    return {};
}

void TSvnRun::Start() {
    FRunning = true;
    FDone.clear();
    FDone.resize(FProjects.size());
    // A folder inside another of the same batch gets a batch of its own, so every line of a
    // client's output has exactly one owner; the file system's root always runs alone.
    const bool Batched = !FOptions.Console;
    std::vector<int> Current;
    QStringList CurrentFolders;
    auto Flush = [&] {
        if (!Current.empty())
            FBatches.push_back(std::move(Current));
        Current.clear();
        CurrentFolders.clear();
    };
    for (int i = 0; i < int(FProjects.size()); ++i) {
        const QString& F = FProjects[size_t(i)].Folder;
        if (!Batched || F == BatchDir) {
            Flush();
            FBatches.push_back({i});
            continue;
        }
        bool Inside = false;
        for (const QString& Other : CurrentFolders)
            Inside = Inside || PathsOverlap(F, Other);
        if (Inside || int(Current.size()) >= BatchSize)
            Flush();
        Current.push_back(i);
        CurrentFolders.append(F);
    }
    Flush();
    const int Workers =
        FProjects.empty() ? 0 : std::min<int>(FOptions.Jobs, int(FBatches.size()));
    FWorkers.Start(Workers, [this] { Work(); }, this, [this] {
        FWorkersDone = true;
        TakeArrivals(); // whatever the last worker queued before it ended
        this->Flush();
    });
}

void TSvnRun::Cancel() {
    if (FStop || FTask != TSvnTask::Update || FOptions.Console)
        FKill = true;
    FStop = true;
}

void TSvnRun::Work() {
    for (;;) {
        const int B = FNextBatch.fetch_add(1);
        if (B >= int(FBatches.size()))
            break;
        if (FStop) {
            for (int i : FBatches[size_t(B)])
                DeliverNotRun(i);
            continue;
        }
        RunBatch(FBatches[size_t(B)]);
    }
}

void TSvnRun::RunBatch(const std::vector<int>& Batch) {
    std::vector<int> Ready;
    for (int i : Batch) {
        const TFolderState F = CheckFolder(FProjects[size_t(i)].Folder);
        if (F == TFolderState::Ready) {
            Ready.push_back(i);
            continue;
        }
        TSvnOutcome O;
        O.State = StateOfFolder(F);
        O.Notes << FolderProblemText(F, FProjects[size_t(i)].Folder);
        Deliver(i, std::move(O));
    }
    if (FOptions.Console) {
        for (int i : Ready)
            RunInConsole(i);
        return;
    }
    if (Ready.size() > 1)
        RunGroup(std::move(Ready));
    else
        for (int i : Ready)
            RunAlone(i);
}

void TSvnRun::RunGroup(std::vector<int> Group) {
    while (Group.size() > 1) {
        if (FStop) {
            for (int i : Group)
                DeliverNotRun(i);
            return;
        }
        QStringList Folders, Args = TaskArguments();
        for (int i : Group) {
            Folders << FProjects[size_t(i)].Folder;
            Args << Target(FProjects[size_t(i)].Folder);
        }
        TSvnCall Call;
        Call.Arguments = Args;
        Call.Folder = BatchDir;
        Call.TimeoutSeconds = FOptions.TimeoutSeconds;
        Call.Cancel = &FKill;
        const bool OwnSleep = FTask == TSvnTask::Update && FineFileTimes(Folders);
        if (OwnSleep)
            Call.Environment << NoTimestampSleep;
        const TSvnResult R = FClient.Run(Call);
        if (OwnSleep)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!R.Started) {
            // No client at all: each project says so on its own.
            for (int i : Group)
                RunAlone(i);
            return;
        }
        const TBatchSplit S =
            SplitBatch(FTask, FOptions.ShowUpdates, R.Lines, Folders, BatchDir, R.ExitCode);
        std::vector<int> Rest;
        bool Hung = false; // the time limit's project has been named
        for (size_t k = 0; k < Group.size(); ++k) {
            const int i = Group[k];
            if (S.Done[k] || S.Failed[k]) {
                Deliver(i, FromLines(S.Blocks[k], S.Done[k] ? 0 : 1));
                continue;
            }
            if ((R.TimedOut || R.Cancelled) && FTask == TSvnTask::Update) {
                // The client was ended during an update: whatever it held is released.
                TSvnOutcome O;
                O.State = R.TimedOut && !Hung ? TSvnState::TimedOut : TSvnState::Cancelled;
                if (R.TimedOut && !Hung)
                    O.Notes << TimeoutText(FOptions.TimeoutSeconds);
                Hung = Hung || R.TimedOut;
                CleanUp(i, O);
                // A copy the ended client had not reached is untouched: it may run again.
                if (R.TimedOut && O.State == TSvnState::Cancelled && !FStop) {
                    Rest.push_back(i);
                    continue;
                }
                Deliver(i, std::move(O));
                continue;
            }
            if (R.TimedOut && !Hung) {
                // The client stops at the folder it waits for: the first one not done.
                Hung = true;
                TSvnOutcome O;
                O.State = TSvnState::TimedOut;
                O.Notes << TimeoutText(FOptions.TimeoutSeconds);
                Deliver(i, std::move(O));
                continue;
            }
            Rest.push_back(i);
        }
        if (Rest.size() == Group.size() && !R.TimedOut && !R.Cancelled) {
            // Nothing could be told apart: each alone, where no splitting is needed.
            for (int i : Rest)
                RunAlone(i);
            return;
        }
        Group = std::move(Rest);
    }
    for (int i : Group)
        RunAlone(i);
}

TSvnOutcome TSvnRun::FromResult(const TSvnResult& R) const {
    TSvnOutcome O;
    O.Lines = R.Lines;
    O.ExitCode = R.ExitCode;
    if (!R.Started) {
        O.State = TSvnState::NoClient;
        O.Notes << QStringLiteral("svn konnte nicht gestartet werden");
        return O;
    }
    if (R.TimedOut) {
        O.State = TSvnState::TimedOut;
        O.Notes << TimeoutText(FOptions.TimeoutSeconds);
        return O;
    }
    if (R.Cancelled) {
        O.State = TSvnState::Cancelled;
        return O;
    }
    return FromLines(R.Lines, R.ExitCode);
}

TSvnOutcome TSvnRun::FromLines(const QStringList& Lines, int ExitCode) const {
    TSvnOutcome O;
    O.Lines = Lines;
    O.ExitCode = ExitCode;
    O.Verdict = DecideState(FTask, Lines, ExitCode);
    O.State = O.Verdict.State;
    AddHints(O);
    return O;
}

void TSvnRun::DeliverNotRun(int Index) {
    TSvnOutcome O;
    O.State = TSvnState::Cancelled;
    Deliver(Index, std::move(O));
}

void TSvnRun::RunAlone(int Index) {
    const TSvnProject& P = FProjects[size_t(Index)];
    if (FStop) {
        DeliverNotRun(Index);
        return;
    }
    TSvnCall Call;
    Call.Arguments = TaskArguments();
    Call.Folder = P.Folder;
    Call.TimeoutSeconds = FOptions.TimeoutSeconds;
    Call.Cancel = &FKill;
    const TSvnResult R = FClient.Run(Call);
    TSvnOutcome O = FromResult(R);
    if ((R.TimedOut || R.Cancelled) && FTask == TSvnTask::Update)
        CleanUp(Index, O);
    Deliver(Index, std::move(O));
}

void TSvnRun::RunInConsole(int Index) {
    const TSvnProject& P = FProjects[size_t(Index)];
    if (FStop) {
        DeliverNotRun(Index);
        return;
    }
    TSvnOutcome O;
    // The terminal form asks what it must (passwords, certificates): it is the place to give
    // them once. Its window is named after the project and stays open, until Enter, when the
    // update failed or left a conflict, so that its output can be read.
    TTerminalRequest Request;
    Request.Command = {FOptions.Program, QStringLiteral("update")};
    Request.Dir = P.Folder;
    Request.Title = QStringLiteral("%1 - svn update (kivSubversion)")
                        .arg(!P.TreePath.isEmpty() ? P.TreePath
                                                   : !P.Name.isEmpty() ? P.Name : P.Folder);
    Request.Hold = TTerminalHold::OnTrouble;
    Request.ConflictCheck = {FOptions.Program, QStringLiteral("status"), QStringLiteral("--quiet")};
    Request.Cancel = &FKill;
    const TTerminalResult T = RunInTerminal(Request);
    O.ExitCode = T.ExitCode;
    if (!T.Started) {
        O.State = TSvnState::NoTerminal;
        O.Notes << NoTerminalText();
    } else if (T.Cancelled) {
        O.State = TSvnState::Cancelled;
        CleanUp(Index, O);
    } else if (!T.Ran) {
        O.State = TSvnState::NoTerminal; // the terminal, not the copy, failed
        O.Notes << T.Problem;
    } else if (!T.Finished) {
        O.State = TSvnState::Error;
        O.Notes << T.Problem;
        CleanUp(Index, O);
    } else if (T.ExitCode == 0) {
        O.State = T.Conflict ? TSvnState::Conflict : TSvnState::Updated;
        O.Verdict.HasConflict = T.Conflict;
        O.Verdict.Files = -1; // not known: the output went to the terminal
    } else {
        O.State = TSvnState::Error;
        O.Notes << QStringLiteral("svn update endete mit dem Code %1; die Meldungen standen im "
                                  "Terminalfenster.")
                       .arg(T.ExitCode);
    }
    O.Verdict.State = O.State;
    Deliver(Index, std::move(O));
}

void TSvnRun::CleanUp(int Index, TSvnOutcome& O) const {
    // An update ended half-way leaves the copy locked until "svn cleanup" runs; it is quick
    // and must not be cancelled itself, but it gets a time limit of its own.
    TSvnCall Call;
    Call.Arguments = {QStringLiteral("cleanup")};
    Call.Folder = FProjects[size_t(Index)].Folder;
    Call.TimeoutSeconds = std::max(FOptions.TimeoutSeconds, 60);
    const TSvnResult R = FClient.Run(Call);
    if (R.Started && R.ExitCode == 0)
        O.Notes << QStringLiteral("Die Aktualisierung wurde beendet; »svn cleanup« hat die "
                                  "Arbeitskopie wieder freigegeben.");
    else
        O.Notes << QStringLiteral("Die Aktualisierung wurde beendet; »svn cleanup« ist "
                                  "fehlgeschlagen, die Arbeitskopie kann noch gesperrt sein:")
                << R.Lines;
}

void TSvnRun::Deliver(int Index, TSvnOutcome Outcome) {
    // Results wait in one queue, and one call at a time takes them to the owner's thread:
    // thousands of quick results (missing folders) cost the event loop one event, not
    // thousands.
    bool Post = false;
    {
        const std::lock_guard<std::mutex> Lock(FArrivalsMutex);
        FArrivals.emplace_back(Index, std::move(Outcome));
        Post = !FArrivalPosted;
        FArrivalPosted = true;
    }
    if (Post)
        PostTo(this, [this] { TakeArrivals(); });
}

void TSvnRun::TakeArrivals() {
    std::vector<std::pair<int, TSvnOutcome>> Taken;
    {
        const std::lock_guard<std::mutex> Lock(FArrivalsMutex);
        Taken.swap(FArrivals);
        FArrivalPosted = false;
    }
    for (auto& [Index, Outcome] : Taken)
        FDone[size_t(Index)] = std::make_unique<TSvnOutcome>(std::move(Outcome));
    if (!FFlushPosted)
        Flush();
}

void TSvnRun::Flush() {
    FFlushPosted = false;
    // Thousands of results can be ready at once (missing folders need no client): the owner
    // gets them a slice of the event loop at a time, so the window never stalls over them.
    QElapsedTimer Slice;
    Slice.start();
    while (FNextDeliver < int(FDone.size()) && FDone[size_t(FNextDeliver)]) {
        if (Slice.elapsed() >= 10) {
            FFlushPosted = true;
            QTimer::singleShot(0, this, [this] { Flush(); });
            return;
        }
        const int I = FNextDeliver++;
        const std::unique_ptr<TSvnOutcome> O = std::move(FDone[size_t(I)]);
        emit ProjectDone(I, *O);
    }
    if (FWorkersDone && FRunning && FNextDeliver == int(FDone.size())) {
        FRunning = false;
        emit Finished(FStop.load());
    }
}
