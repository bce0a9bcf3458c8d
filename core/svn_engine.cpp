#include "svn_engine.h"

#include "kiv_XmlObjects.h"
#include "kiv_folders.h"
#include "kiv_kinds.h"
#include "kiv_terminal.h"
#include "svn_changes.h"
#include "svn_store.h"

#include <QCollator>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/stat.h>
#include <thread>

namespace {

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

// What the user can do about what the client reported; Row: the task that found it.
void AddHints(TSvnOutcome& O, const TTaskRow& Row) {
    if (NeedsCredentials(O.Lines))
        O.Notes << QStringLiteral("Der Server verlangt eine Anmeldung. Einmal »in DOS-Box "
                                  "ausführen« wählen und die Zugangsdaten dort eingeben und "
                                  "speichern lassen; danach läuft die Aufgabe ohne Rückfrage.");
    if (O.Verdict.OutOfDateRefused)
        O.Notes << QStringLiteral("Nicht übertragen: auf dem Server gibt es neuere Fassungen "
                                  "dieser Dateien. Erst aktualisieren, dann erneut übertragen.");
    if (O.Verdict.ConflictRefused)
        O.Notes << QStringLiteral("Nicht übertragen: eine Datei steht noch im Konflikt. Erst den "
                                  "Konflikt lösen, dann erneut übertragen.");
    if (O.State == TSvnState::Locked)
        O.Notes << QStringLiteral("Die Arbeitskopie ist gesperrt: ein anderer Aufruf von svn "
                                  "läuft noch oder wurde unterbrochen. »Aufräumen« im "
                                  "Kontextmenü des Projekts gibt sie frei.");
    else if (O.State == TSvnState::Incomplete)
        // What a status finds incomplete, an update finishes (also a broken-off checkout).
        O.Notes << QString::fromUtf8(Row.Resume ? Row.Resume : TaskRow(TSvnTask::Update).Resume);
}

// A folder that holds nothing: a task that makes the folder may use it.
bool EmptyFolder(const QString& Folder) {
    return QDir(Folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                QDir::System);
}

// The nearest folder at or above Folder that exists.
QString ExistingAbove(QString Folder) {
    while (!Folder.isEmpty() && Folder != u"/" && !QFileInfo(Folder).isDir()) {
        const qsizetype Cut = Folder.lastIndexOf(u'/');
        Folder = Cut <= 0 ? QStringLiteral("/") : Folder.left(Cut);
    }
    return Folder.isEmpty() ? QStringLiteral("/") : Folder;
}

// A URL as the client reads it: the trailing "@" keeps an "@" in its last part from being
// taken for a revision (it means the latest one).
QString UrlTarget(const QString& Url) {
    return Url + u'@';
}

// Whether the working copy at Folder was changed by anything since When: its database is
// written by every client that changes the copy (a relocation, a switch, a commit), never by a
// status.
bool CopyChangedSince(const QString& Folder, const QDateTime& When) {
    const QFileInfo Db(Folder + QStringLiteral("/.svn/wc.db"));
    return Db.exists() && Db.lastModified() > When;
}

// Beyond this many characters of targets they go through a file: a command line holds about
// 128 KB per word and 2 MB in all.
constexpr qsizetype MaxTargetChars = 64 * 1024;

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
    // A URL's info has no folder: its URL names it.
    return QStringLiteral("--> ") +
           (Project.Folder.isEmpty() && !Project.Url.isEmpty() ? Project.Url : Project.Folder);
}

QString OmittedText(qint64 Omitted) {
    return QStringLiteral("… %1 weitere Zeilen von svn sind hier nicht aufgeführt.")
        .arg(QLocale(QLocale::German).toString(Omitted));
}

QStringList ProjectBlock(const TSvnProject& Project, const TSvnOutcome& Outcome, bool Short) {
    if (Outcome.State == TSvnState::NotRun && Outcome.Lines.isEmpty() && Outcome.Notes.isEmpty())
        return {};
    const QStringList Filtered = FilterOutput(Outcome.Lines);
    if (Short && !IsFailure(Outcome.State) && Outcome.Notes.isEmpty() && Outcome.Omitted == 0 &&
        LeftOutInShort(Filtered))
        return {};
    QStringList Block = QStringList{ProjectHead(Project)} + Filtered;
    if (Outcome.Omitted > 0)
        Block << OmittedText(Outcome.Omitted);
    return Block + Outcome.Notes;
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
                                It.Path, 0, It.E->GetAttribute(UrlAttribute)});
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
    FOptions.Jobs = std::max(1, FOptions.Jobs);
}

TSvnRun::~TSvnRun() {
    FStop = true;
    FKill = true;
    FWorkers.Join();
}

void TSvnRun::Start() {
    FRunning = true;
    FDone.clear();
    FDone.resize(FProjects.size());
    FKnown.assign(FProjects.size(), {});
    if (FOptions.Store && TaskRow(FTask).ReadsUrl)
        for (size_t i = 0; i < FProjects.size(); ++i)
            if (const TStoredState* S = FOptions.Store->Find(FProjects[i].Folder))
                FKnown[i] = {S->Url, S->Time};
    // The plan is made by the first worker: resolving thousands of folders is file-system
    // work the owner's thread must not wait for.
    const TTaskRow& Row = TaskRow(FTask);
    const int Wanted = FOptions.Console ? 1
                       : Row.Server    ? std::max(FOptions.Jobs, ServerClients)
                                       : FOptions.Jobs;
    FClients = Wanted;
    const int Workers = std::min<int>(Wanted, int(FProjects.size()));
    FWorkers.Start(Workers, [this] { Work(); }, this, [this] {
        FWorkersDone = true;
        TakeArrivals(); // whatever the last worker queued before it ended
        this->Flush();
    });
}

void TSvnRun::Plan() {
    // Each folder runs once, however many entries name it (two clients on one copy would
    // fight over its lock); entries that reach it through a link count as the same folder,
    // and the client is given the real one, so that it names paths as in the folder itself.
    QHash<QString, int> UnitOf;
    for (int i = 0; i < int(FProjects.size()); ++i) {
        const QString& F = FProjects[size_t(i)].Folder;
        const QString Real = F.isEmpty() ? QString() : QFileInfo(F).canonicalFilePath();
        const QString Key = Real.isEmpty() ? F : Real;
        const auto It = Key.isEmpty() ? UnitOf.constEnd() : UnitOf.constFind(Key);
        if (It != UnitOf.constEnd()) {
            FUnits[size_t(*It)].Projects.push_back(i);
            continue;
        }
        if (!Key.isEmpty())
            UnitOf.insert(Key, int(FUnits.size()));
        FUnits.push_back({F, Real.isEmpty() ? F : Real, {i}});
    }
    // What the caller can answer needs no client: answered first, so that the folders left
    // share as few clients as they can. (An answer vouches for the folder too: the batch looks
    // at the others.)
    std::vector<bool> Answered(FUnits.size(), false);
    int Left = int(FUnits.size());
    if (FOptions.Answer && !FOptions.Console)
        for (int u = 0; u < int(FUnits.size()) && !FStop; ++u) {
            TSvnOutcome Known;
            if (FOptions.Answer(FUnits[size_t(u)].Folder, Known)) {
                Known.Answered = true;
                DeliverUnit(u, Known);
                Answered[size_t(u)] = true;
                --Left;
            }
        }
    // Folders inside one another never run at the same time (their clients would fight over
    // the copy's lock): each such family runs one folder after the other, in tree order, on
    // one worker. The others go in batches, the file system's root alone.
    const TTaskRow& Row = TaskRow(FTask);
    const bool Batched = Row.Batched && !FOptions.Console && !OwnWords();
    const int Size = std::max(1, BatchSizeFor(Row, Left, std::min(FClients, std::max(1, Left))));
    std::vector<int> Family(FUnits.size());
    for (size_t u = 0; u < FUnits.size(); ++u)
        Family[u] = int(u);
    std::function<int(int)> Top = [&](int u) {
        return Family[size_t(u)] == u ? u : Family[size_t(u)] = Top(Family[size_t(u)]);
    };
    {
        QHash<QString, int> ByTarget;
        for (int u = 0; u < int(FUnits.size()); ++u)
            ByTarget.insert(FUnits[size_t(u)].Target, u);
        for (int u = 0; u < int(FUnits.size()); ++u) {
            QString Up = FUnits[size_t(u)].Target;
            while (!Up.isEmpty() && Up != u"/") {
                const qsizetype Cut = Up.lastIndexOf(u'/');
                Up = Cut <= 0 ? QStringLiteral("/") : Up.left(Cut);
                const auto It = ByTarget.constFind(Up);
                if (It != ByTarget.constEnd())
                    Family[size_t(Top(u))] = Top(*It);
            }
        }
    }
    std::vector<int> Members(FUnits.size(), 0);
    for (int u = 0; u < int(FUnits.size()); ++u)
        ++Members[size_t(Top(u))];
    QHash<int, int> JobOfFamily;
    std::vector<int> Current;
    auto Close = [&] {
        if (!Current.empty())
            FJobs.push_back({std::move(Current)});
        Current.clear();
    };
    for (int u = 0; u < int(FUnits.size()); ++u) {
        if (Answered[size_t(u)])
            continue;
        const int F = Top(u);
        if (Members[size_t(F)] > 1) {
            const auto It = JobOfFamily.constFind(F);
            if (It == JobOfFamily.constEnd()) {
                JobOfFamily.insert(F, int(FJobs.size()));
                FJobs.push_back({{u}});
            } else {
                FJobs[size_t(*It)].push_back({u});
            }
            continue;
        }
        if (!Batched || FUnits[size_t(u)].Target == BatchDir) {
            FJobs.push_back({{u}});
            continue;
        }
        if (int(Current.size()) >= Size)
            Close();
        Current.push_back(u);
    }
    Close();
}

void TSvnRun::Cancel() {
    if (FStop)
        FKill = true;
    FStop = true;
}

void TSvnRun::Work() {
    // Every client this worker starts then yields the processor and the disk to the user's
    // own work.
    if (FOptions.LowPriority)
        LowerThreadPriority();
    std::call_once(FPlanned, [this] { Plan(); });
    for (;;) {
        const int J = FNextJob.fetch_add(1);
        if (J >= int(FJobs.size()))
            break;
        for (const std::vector<int>& Batch : FJobs[size_t(J)])
            RunBatch(Batch);
    }
}

TLineBlock TSvnRun::NewBlock(TSvnTask Task, int Unit, bool Keep) const {
    // Of the checks before and after an update only the facts count, never the lines.
    return TLineBlock(Task, FUnits[size_t(Unit)].Target, Keep ? FOptions.KeepLines : 0,
                      Keep && FOptions.SpillOmitted);
}

const QString& TSvnRun::UnitUrl(int Unit) const {
    return FProjects[size_t(FUnits[size_t(Unit)].Projects.front())].Url;
}

bool TSvnRun::Admit(int Unit, TSvnOutcome& O) const {
    const TUnit& U = FUnits[size_t(Unit)];
    switch (TaskRow(FTask).Place) {
    case TTaskPlace::Url:
        if (!UnitUrl(Unit).isEmpty())
            return true;
        O.State = TSvnState::Error;
        O.Notes << QStringLiteral("Keine URL angegeben.");
        return false;
    case TTaskPlace::IntoFolder: {
        const TFolderState F = CheckFolder(U.Folder);
        if (F == TFolderState::Ready)
            return true; // what it holds is asked below
        if (F == TFolderState::Missing && !UnitUrl(Unit).isEmpty())
            return true;
        O.State = StateOfFolder(F);
        O.Notes << FolderProblemText(F, U.Folder);
        if (F == TFolderState::Missing)
            O.Notes << QStringLiteral("Die URL des Projekts ist nicht bekannt, deshalb kann es "
                                      "nicht ausgecheckt werden. Sie wird bei jedem Lauf über "
                                      "die Arbeitskopie gelernt, solange es sie gibt, oder aus "
                                      "einer .repos-Datei übernommen.");
        return false;
    }
    case TTaskPlace::Folder:
        break;
    }
    const TFolderState F = CheckFolder(U.Folder);
    if (F == TFolderState::Ready)
        return true;
    O.State = StateOfFolder(F);
    O.Notes << FolderProblemText(F, U.Folder);
    return false;
}

void TSvnRun::RunBatch(const std::vector<int>& Batch) {
    std::vector<int> Ready;
    for (int u : Batch) {
        TSvnOutcome O;
        if (FStop)
            O.State = TSvnState::NotRun;
        else if (Admit(u, O)) {
            Ready.push_back(u);
            continue;
        }
        DeliverUnit(u, O);
    }
    if (Ready.empty())
        return;
    if (FOptions.Console) {
        for (int u : Ready)
            RunInConsole(u);
        return;
    }
    if (TaskRow(FTask).ChangesCopy) {
        RunChanging(Ready);
        return;
    }
    const std::vector<quint64> Gens = Generations(Ready);
    std::vector<TUnitResult> R = RunSplit(FTask, Ready, true, true);
    std::vector<TSvnOutcome> Out;
    for (size_t k = 0; k < Ready.size(); ++k) {
        Out.push_back(FromResult(R[k], true));
        Out.back().Generation = Gens[k];
    }
    if (TaskRow(FTask).ReadsUrl)
        AddUrls(Ready, Out);
    for (size_t k = 0; k < Ready.size(); ++k)
        DeliverUnit(Ready[k], Out[k]);
}

std::vector<quint64> TSvnRun::Generations(const std::vector<int>& Units) const {
    std::vector<quint64> Gens(Units.size(), 0);
    if (FOptions.Generation)
        for (size_t k = 0; k < Units.size(); ++k)
            Gens[k] = FOptions.Generation(FUnits[size_t(Units[k])].Folder);
    return Gens;
}

bool TSvnRun::UrlWanted(int Unit) const {
    for (int i : FUnits[size_t(Unit)].Projects) {
        const TSvnProject& P = FProjects[size_t(i)];
        if (P.Url.isEmpty())
            return true;
        if (!FOptions.Store)
            continue; // nothing to compare with: the registry's URL stands
        const TKnownUrl& K = FKnown[size_t(i)];
        if (!K.Since.isValid() || !SameRepositoryUrl(K.Url, P.Url) ||
            CopyChangedSince(FUnits[size_t(Unit)].Target, K.Since))
            return true;
    }
    return false;
}

void TSvnRun::AddUrls(const std::vector<int>& Units, std::vector<TSvnOutcome>& Outcomes) {
    // One more client per batch, local and quick, and only where something may be new: a copy
    // never asked, one the registry and the store disagree on, one changed since (relocated,
    // switched). What a copy in trouble would say is not asked.
    std::vector<int> Ask;
    std::vector<size_t> Where;
    for (size_t k = 0; k < Units.size(); ++k)
        if (!IsFailure(Outcomes[k].State) && UrlWanted(Units[k])) {
            Ask.push_back(Units[k]);
            Where.push_back(k);
        }
    if (Ask.empty())
        return;
    const std::vector<TUnitResult> Info = RunSplit(TSvnTask::Info, Ask, true, false);
    for (size_t j = 0; j < Ask.size(); ++j) {
        if (Info[j].How != THow::Done)
            continue;
        const TSvnVerdict& F = Info[j].Block.Fold().Facts();
        // The URL only: the top folder's revision says little of a copy a commit has left
        // at mixed revisions.
        Outcomes[Where[j]].Verdict.Url = F.Url;
    }
}

std::vector<TSvnRun::TUnitResult> TSvnRun::RunSplit(TSvnTask Task, const std::vector<int>& Units,
                                                    bool Interruptible, bool Counted) {
    const bool Keep = Task == FTask;
    std::vector<TUnitResult> Out(Units.size());
    for (size_t k = 0; k < Units.size(); ++k)
        Out[k].Block = NewBlock(Task, Units[k], Keep);
    const TTaskRow& Row = TaskRow(Task);
    const bool Changing = Row.ChangesCopy;
    std::vector<size_t> Group(Units.size());
    for (size_t k = 0; k < Group.size(); ++k)
        Group[k] = k;
    while (!Group.empty()) {
        if ((Interruptible && FStop) || FKill)
            return Out; // the rest stays not reached
        if (Group.size() == 1 || !Row.Batched || (Task == FTask && OwnWords())) {
            for (size_t k : Group)
                RunOne(Task, Units[k], Interruptible, Out[k]);
            return Out;
        }
        QStringList Folders, Args = Row.Arguments;
        std::vector<TLineBlock> Blocks;
        for (size_t k : Group) {
            const QString& T = FUnits[size_t(Units[k])].Target;
            Folders << T;
            Args << Target(T);
            Blocks.push_back(NewBlock(Task, Units[k], Keep));
        }
        TBatchSplitter Splitter(Task, Folders, BatchDir, Blocks);
        int Hinted = 0;
        TSvnCall Call;
        Call.Arguments = Args;
        Call.Folder = BatchDir;
        Call.TimeoutSeconds = FOptions.TimeoutSeconds;
        Call.Cancel = &FKill;
        Call.Interrupt = Interruptible ? &FStop : nullptr;
        Call.OnLine = [&](const QString& Line) {
            Splitter.Feed(Line);
            if (Counted && Splitter.Finished() > Hinted) {
                AddProgress(Splitter.Finished() - Hinted);
                Hinted = Splitter.Finished();
            }
        };
        const bool OwnSleep = Task == TSvnTask::Update && FineFileTimes(Folders);
        if (OwnSleep)
            Call.Environment << NoTimestampSleep;
        const TSvnResult R = FClient.Run(Call);
        if (OwnSleep)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (Counted && Hinted > 0)
            FHinted -= Hinted; // handed out below, or run again
        if (!R.Started) {
            // No client at all: each project says so on its own.
            for (size_t k : Group)
                RunOne(Task, Units[k], Interruptible, Out[k]);
            return Out;
        }
        Splitter.Finish(R.ExitCode);
        std::vector<size_t> Rest;
        bool Hung = false; // the time limit's folder has been named
        const bool Stopped = R.Cancelled || R.TimedOut;
        for (size_t j = 0; j < Group.size(); ++j) {
            const size_t k = Group[j];
            TUnitResult& U = Out[k];
            if (Splitter.Done[j] || Splitter.Failed[j]) {
                U.Block = std::move(Blocks[j]);
                U.ExitCode = Splitter.Done[j] ? 0 : 1;
                // A copy whose update was stopped half-way is what the stop made of it.
                U.How = Splitter.Done[j]           ? THow::Done
                        : Changing && Stopped      ? (R.TimedOut && !Hung ? THow::TimedOut
                                                                         : THow::Interrupted)
                                                   : THow::Failed;
                Hung = Hung || (U.How == THow::TimedOut);
                continue;
            }
            if (Changing && Splitter.Begun()[j]) {
                U.Block = std::move(Blocks[j]);
                U.How = R.TimedOut && !Hung ? THow::TimedOut : THow::Interrupted;
                Hung = Hung || R.TimedOut;
                continue;
            }
            if (R.Cancelled) {
                U.How = THow::NotReached;
                continue;
            }
            if (R.TimedOut && !Changing && !Hung) {
                // The client stops at the folder it waits for: the first one not done.
                Hung = true;
                U.How = THow::TimedOut;
                continue;
            }
            Rest.push_back(k);
        }
        if (Rest.size() == Group.size() && !Stopped) {
            // Nothing could be told apart: each alone, where no splitting is needed.
            for (size_t k : Rest)
                RunOne(Task, Units[k], Interruptible, Out[k]);
            return Out;
        }
        Group = std::move(Rest);
    }
    return Out;
}

void TSvnRun::RunOne(TSvnTask Task, int Unit, bool Interruptible, TUnitResult& Out) {
    if ((Interruptible && FStop) || FKill) {
        Out.How = THow::NotReached;
        return;
    }
    TLineBlock Block = NewBlock(Task, Unit, Task == FTask);
    TSvnCall Call = CallFor(Task, Unit);
    std::unique_ptr<QTemporaryFile> TargetsFile;
    if (Task == FTask) {
        Call.Arguments += FOptions.Arguments;
        const QStringList Targets =
            FOptions.Targets.isEmpty()
                ? QStringList()
                : TargetArguments(FOptions.Targets, TaskRow(Task).PegTargets);
        if (Targets.join(QString()).size() < MaxTargetChars) {
            Call.Arguments += Targets;
        } else {
            // More than a command line holds: one path a line, in the client's character set.
            TargetsFile = std::make_unique<QTemporaryFile>(
                QDir::tempPath() + QStringLiteral("/kivsvn-targets-XXXXXX"));
            QByteArray Text;
            for (const QString& T : Targets.mid(1))
                Text += T.toUtf8() + '\n';
            if (!TargetsFile->open() || TargetsFile->write(Text) != Text.size() ||
                !TargetsFile->flush()) {
                Out.How = THow::NoClient;
                Out.StartError = errno ? errno : EIO;
                return;
            }
            Call.Arguments << QStringLiteral("--targets") << TargetsFile->fileName();
        }
    }
    Call.TimeoutSeconds = FOptions.TimeoutSeconds;
    Call.Cancel = &FKill;
    Call.Interrupt = Interruptible ? &FStop : nullptr;
    Call.OnLine = [&](const QString& Line) { Block.Add(Line); };
    const TSvnResult R = FClient.Run(Call);
    Out.Block = std::move(Block);
    Out.ExitCode = R.ExitCode;
    Out.StartError = R.StartError;
    if (!R.Started)
        Out.How = THow::NoClient;
    else if (R.TimedOut)
        Out.How = THow::TimedOut;
    else if (R.Cancelled)
        Out.How = TaskRow(Task).ChangesCopy ? THow::Interrupted : THow::NotReached;
    else
        Out.How = THow::Done;
}

TSvnCall TSvnRun::CallFor(TSvnTask Task, int Unit) const {
    const TTaskRow& Row = TaskRow(Task);
    const QString& Target = FUnits[size_t(Unit)].Target;
    TSvnCall Call;
    Call.Arguments = Row.Arguments;
    switch (Row.Place) {
    case TTaskPlace::Folder:
        Call.Folder = Target;
        break;
    case TTaskPlace::IntoFolder: {
        // In the folder above, with the folder named from there: the client names what it
        // fetches as a person running it there would see it ("A    projekt/datei").
        Call.Folder = ExistingAbove(QFileInfo(Target).path());
        const QString Below =
            Call.Folder == u"/" ? Target.mid(1) : Target.mid(Call.Folder.size() + 1);
        Call.Arguments << UrlTarget(UnitUrl(Unit))
                       << (Below.startsWith(u'-') ? QStringLiteral("./") + Below : Below);
        break;
    }
    case TTaskPlace::Url:
        Call.Folder = BatchDir;
        Call.Arguments << UrlTarget(UnitUrl(Unit));
        break;
    }
    return Call;
}

TSvnOutcome TSvnRun::FromResult(const TUnitResult& R, bool Hints) const {
    TSvnOutcome O;
    O.Lines = R.Block.Lines();
    O.Omitted = R.Block.Omitted();
    O.Spill = R.Block.SpillFile();
    O.ExitCode = R.ExitCode;
    switch (R.How) {
    case THow::NoClient:
        O.State = TSvnState::NoClient;
        O.Notes << StartFailureText(FOptions.Program, R.StartError);
        return O;
    case THow::NotReached:
        O.State = TSvnState::NotRun;
        O.Lines.clear();
        O.Omitted = 0;
        O.Spill.reset();
        return O;
    case THow::TimedOut:
        O.Verdict = R.Block.Fold().Facts();
        O.State = TSvnState::TimedOut;
        O.Notes << TimeoutText(FOptions.TimeoutSeconds);
        return O;
    case THow::Interrupted:
        O.Verdict = R.Block.Fold().Facts();
        O.State = TSvnState::Cancelled;
        return O;
    case THow::Done:
    case THow::Failed:
        break;
    }
    O.Verdict = R.Block.Fold().Decide(R.ExitCode);
    O.State = O.Verdict.State;
    if (Hints)
        AddHints(O, TaskRow(FTask));
    return O;
}

TSvnOutcome TSvnRun::AfterChange(TUnitResult& Update, qint64 RevisionBefore,
                                 TUnitResult* Check, int Unit) {
    const TTaskRow& Row = TaskRow(FTask);
    TSvnOutcome O = FromResult(Update, false);
    if (Update.How == THow::NoClient || Update.How == THow::NotReached)
        return O;
    O.Verdict.RevisionBefore = RevisionBefore;
    // A copy the task makes is new, not moved: it counts as checked out, not as updated.
    O.RevisionChanged = Row.Place != TTaskPlace::IntoFolder &&
                        (O.Verdict.Files > 0 || (RevisionBefore >= 0 && O.Verdict.Revision >= 0 &&
                                                 O.Verdict.Revision != RevisionBefore));
    if (O.State == TSvnState::Updated && !O.RevisionChanged)
        O.State = TSvnState::Current;
    if (O.State == TSvnState::Current && O.RevisionChanged)
        O.State = TSvnState::Updated;
    const bool Stopped = Update.How == THow::Interrupted || Update.How == THow::TimedOut;
    TSvnVerdict After;
    bool Known = Check && Check->How == THow::Done;
    if (Known)
        After = Check->Block.Fold().Decide(0);
    const QString Cut = QString::fromUtf8(Row.CutShort ? Row.CutShort : Row.Title);
    if (Update.How == THow::Interrupted && Row.StoppedNote)
        O.Notes << QString::fromUtf8(Row.StoppedNote);
    // A stopped client may leave its lock behind; only where it did is the copy cleaned up.
    if (Stopped && Known && After.WcLocked) {
        const QString Failure = CleanUp(Unit);
        if (Failure.isEmpty()) {
            O.Notes << Cut + QStringLiteral(" wurde unterbrochen; »svn cleanup« hat die "
                                            "Arbeitskopie wieder freigegeben.");
            TUnitResult Again;
            RunOne(TSvnTask::Status, Unit, false, Again);
            Known = Again.How == THow::Done;
            if (Known)
                After = Again.Block.Fold().Decide(0);
        } else {
            O.Notes << Cut + QStringLiteral(" wurde unterbrochen; »svn cleanup« ist "
                                            "fehlgeschlagen, die Arbeitskopie kann noch "
                                            "gesperrt sein:")
                    << Failure;
        }
    }
    if (Known && !After.NotWorkingCopy) {
        // The copy as it is now: what the update left, and what earlier runs left in it.
        const TSvnState Found = After.State == TSvnState::Error ? TSvnState::Clean : After.State;
        O.State = Heavier(O.State, Found);
        O.Verdict.HasChanges = After.HasChanges;
        O.Verdict.HasConflict = O.Verdict.HasConflict || After.HasConflict;
        O.Verdict.WcLocked = After.WcLocked;
        O.Verdict.Incomplete = After.Incomplete;
        O.Verdict.Switched = After.Switched;
    }
    // A copy the task made is the project's URL's, also when it stopped half-way.
    if (Row.Place == TTaskPlace::IntoFolder && (Known || Update.How == THow::Done))
        O.Verdict.Url = UnitUrl(Unit);
    AddHints(O, Row);
    return O;
}

bool TSvnRun::OwnCopy(int Unit, const TUnitResult& Before, TSvnOutcome& O) const {
    const QString& Folder = FUnits[size_t(Unit)].Folder;
    O = FromResult(Before, false);
    if (Before.How != THow::Done && Before.How != THow::Failed)
        return false; // not reached, stopped: said as such
    const TSvnVerdict& V = O.Verdict;
    if (V.NotWorkingCopy) {
        O.State = TSvnState::NotWorkingCopy;
        O.Notes << QStringLiteral("Der Ordner %1 existiert, ist aber keine Arbeitskopie; er "
                                  "bleibt unberührt.")
                       .arg(Folder);
        return false;
    }
    if (V.State == TSvnState::Error || V.Url.isEmpty()) {
        O.State = TSvnState::Error;
        O.Notes << QStringLiteral("Was der Ordner %1 enthält, konnte nicht festgestellt "
                                  "werden; er bleibt unberührt.")
                       .arg(Folder);
        return false;
    }
    if (!SameRepositoryUrl(V.Url, UnitUrl(Unit))) {
        O.State = TSvnState::OtherUrl;
        O.Notes << QStringLiteral("Der Ordner %1 ist eine Arbeitskopie von %2, nicht von %3; "
                                  "er bleibt unberührt.")
                       .arg(Folder, V.Url, UnitUrl(Unit));
        O.Verdict.Url.clear(); // not the project's: nothing is learnt from it
        return false;
    }
    return true;
}

void TSvnRun::RunChanging(const std::vector<int>& Units) {
    const TTaskRow& Row = TaskRow(FTask);
    const bool Makes = Row.Place == TTaskPlace::IntoFolder;
    const size_t N = Units.size();
    // Before: each copy's revision, so that "updated" means its revision moved, and its URL.
    // A task that makes the folder asks only where there is something to ask.
    std::vector<size_t> Asked;
    std::vector<int> AskUnits;
    for (size_t k = 0; k < N; ++k)
        if (!Makes || !EmptyFolder(FUnits[size_t(Units[k])].Target)) {
            Asked.push_back(k);
            AskUnits.push_back(Units[k]);
        }
    std::vector<TUnitResult> Before(N);
    {
        std::vector<TUnitResult> Got = RunSplit(TSvnTask::Info, AskUnits, true, false);
        for (size_t j = 0; j < Asked.size(); ++j)
            Before[Asked[j]] = std::move(Got[j]);
    }
    // Which copies the task runs on. One that makes the folder never touches a folder that is
    // no copy of the project's URL; on its own copy it runs only to finish one it left
    // incomplete, and a complete one is merely looked at.
    enum class TPlan { Go, Present, Refused };
    std::vector<TPlan> Plans(N, TPlan::Go);
    std::vector<TSvnOutcome> Said(N);
    std::vector<TUnitResult> Looked(N);
    if (Makes) {
        std::vector<size_t> Own;
        std::vector<int> OwnUnits;
        for (size_t k : Asked) {
            if (!OwnCopy(Units[k], Before[k], Said[k])) {
                Plans[k] = TPlan::Refused;
                continue;
            }
            Own.push_back(k);
            OwnUnits.push_back(Units[k]);
        }
        std::vector<TUnitResult> Got = RunSplit(TSvnTask::Status, OwnUnits, true, false);
        for (size_t j = 0; j < Own.size(); ++j) {
            const size_t k = Own[j];
            const TSvnVerdict V = Got[j].Block.Fold().Decide(Got[j].ExitCode);
            Plans[k] = Got[j].How == THow::Done && V.Incomplete && !V.WcLocked ? TPlan::Go
                                                                               : TPlan::Present;
            Looked[k] = std::move(Got[j]);
        }
    }
    std::vector<int> GoUnits;
    std::vector<size_t> Went;
    for (size_t k = 0; k < N; ++k)
        if (Plans[k] == TPlan::Go) {
            GoUnits.push_back(Units[k]);
            Went.push_back(k);
        }
    std::vector<TUnitResult> Update(N);
    {
        std::vector<TUnitResult> Got = RunSplit(FTask, GoUnits, true, true);
        for (size_t j = 0; j < Went.size(); ++j)
            Update[Went[j]] = std::move(Got[j]);
    }
    // After: every copy the client reached, as "svn status" sees it now; this check is never
    // interrupted (it is quick, and what it finds is the copy's truth).
    std::vector<int> Reached;
    std::vector<size_t> Where(N, size_t(-1));
    for (size_t k : Went)
        if (Update[k].How != THow::NotReached && Update[k].How != THow::NoClient) {
            Where[k] = Reached.size();
            Reached.push_back(Units[k]);
        }
    // What the check finds is what the copy is while nothing changes after this.
    const std::vector<quint64> Gens = Generations(Reached);
    std::vector<TUnitResult> Check = RunSplit(TSvnTask::Status, Reached, false, false);
    for (size_t k = 0; k < N; ++k) {
        TSvnOutcome O;
        switch (Plans[k]) {
        case TPlan::Refused:
            O = std::move(Said[k]);
            break;
        case TPlan::Present:
            O = FromResult(Looked[k], true);
            if (Looked[k].How == THow::Done) {
                O.Verdict.Url = Before[k].Block.Fold().Facts().Url;
                O.Verdict.Revision = Before[k].Block.Fold().Facts().Revision;
            }
            break;
        case TPlan::Go: {
            const bool Read = Before[k].How == THow::Done;
            const TSvnVerdict& B = Before[k].Block.Fold().Facts();
            TUnitResult* C = Where[k] == size_t(-1) ? nullptr : &Check[Where[k]];
            O = AfterChange(Update[k], Read ? B.Revision : -1, C, Units[k]);
            if (C)
                O.Generation = Gens[Where[k]];
            if (Read && O.Verdict.Url.isEmpty() && Update[k].How != THow::NotReached)
                O.Verdict.Url = B.Url; // an update never moves a copy to another URL
            break;
        }
        }
        DeliverUnit(Units[k], O);
    }
}

void TSvnRun::RunInConsole(int Unit) {
    if (FStop) {
        TSvnOutcome O;
        O.State = TSvnState::NotRun;
        DeliverUnit(Unit, O);
        return;
    }
    TUnitResult Before;
    RunOne(TSvnTask::Info, Unit, false, Before);
    const qint64 Rev = Before.How == THow::Done ? Before.Block.Fold().Facts().Revision : -1;
    // The terminal form asks what it must (passwords, certificates, conflicts): it is the
    // place to give them once. Its window is named after the project and stays open, until
    // Enter, when the update failed or left a conflict, so that its output can be read.
    const TSvnProject& P = FProjects[size_t(FUnits[size_t(Unit)].Projects.front())];
    TTerminalRequest Request;
    Request.Command = {FOptions.Program, QStringLiteral("update")};
    Request.Dir = FUnits[size_t(Unit)].Target;
    Request.Title = QStringLiteral("%1 - svn update (kivSubversion)")
                        .arg(!P.TreePath.isEmpty() ? P.TreePath
                                                   : !P.Name.isEmpty() ? P.Name : P.Folder);
    Request.Hold = TTerminalHold::OnTrouble;
    Request.ConflictCheck = {FOptions.Program, QStringLiteral("status"), QStringLiteral("--quiet")};
    Request.Cancel = &FStop;
    const TTerminalResult T = RunInTerminal(Request);
    if (!T.Started || !T.Ran) {
        // The terminal, not the copy, failed.
        TSvnOutcome O;
        O.State = TSvnState::NoTerminal;
        O.Notes << (T.Started && !T.Problem.isEmpty() ? T.Problem : NoTerminalText());
        DeliverUnit(Unit, O);
        return;
    }
    // The output went to the terminal: the copy's revision and state are read from it now.
    const quint64 Gen = Generations({Unit}).front();
    TUnitResult After, Check;
    RunOne(TSvnTask::Info, Unit, false, After);
    RunOne(TSvnTask::Status, Unit, false, Check);
    TUnitResult Update;
    Update.Block = NewBlock(FTask, Unit, true);
    Update.ExitCode = T.ExitCode;
    // A terminal closed before svn ended is an interruption like a cancel.
    Update.How = T.Cancelled || !T.Finished ? THow::Interrupted
                 : T.ExitCode == 0          ? THow::Done
                                            : THow::Failed;
    TSvnOutcome O = AfterChange(Update, Rev, &Check, Unit);
    if (!T.Cancelled && !T.Finished && !T.Problem.isEmpty())
        O.Notes.prepend(T.Problem);
    if (Update.How == THow::Done || Update.How == THow::Failed) {
        const qint64 Now = After.How == THow::Done ? After.Block.Fold().Facts().Revision : -1;
        O.Verdict.Revision = Now;
        O.Verdict.Files = -1; // not known: the output went to the terminal
        O.RevisionChanged = Rev >= 0 && Now >= 0 && Now != Rev;
        TSvnState Base = TSvnState::Error;
        if (Update.How == THow::Done)
            Base = O.RevisionChanged ? TSvnState::Updated : TSvnState::Current;
        const TSvnVerdict Found =
            Check.How == THow::Done ? Check.Block.Fold().Decide(0) : TSvnVerdict();
        O.State = Heavier(Base, Found.State == TSvnState::Error ? TSvnState::Clean : Found.State);
        if (Update.How == THow::Failed)
            O.Notes.prepend(QStringLiteral("svn update endete mit dem Code %1; die Meldungen "
                                           "standen im Terminalfenster.")
                                .arg(T.ExitCode));
    }
    O.Generation = Gen;
    DeliverUnit(Unit, O);
}

QString TSvnRun::CleanUp(int Unit) const {
    // Quick, and never cancelled itself, but with a time limit of its own.
    TSvnCall Call;
    Call.Arguments = {QStringLiteral("cleanup")};
    Call.Folder = FUnits[size_t(Unit)].Target;
    Call.TimeoutSeconds = std::max(FOptions.TimeoutSeconds, 60);
    const TSvnResult R = FClient.Run(Call);
    if (R.Started && R.ExitCode == 0)
        return QString();
    return R.Lines.isEmpty() ? StartFailureText(FOptions.Program, R.StartError)
                             : R.Lines.join(u'\n');
}

void TSvnRun::DeliverUnit(int Unit, const TSvnOutcome& Outcome) {
    for (int i : FUnits[size_t(Unit)].Projects)
        Deliver(i, Outcome);
}

void TSvnRun::AddProgress(int Delta) {
    FHinted += Delta;
    if (!FProgressPosted.exchange(true))
        PostTo(this, [this] {
            // At most ten times a second: the window redraws the bar each time.
            QTimer::singleShot(100, this, [this] {
                FProgressPosted = false;
                const int Total = int(FProjects.size());
                const int Shown =
                    std::min(Total, std::max(FShownProgress, FNextDeliver + std::max(0, FHinted.load())));
                if (Shown > FShownProgress) {
                    FShownProgress = Shown;
                    emit Progress(Shown, Total);
                }
            });
        });
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
    // The progress once per slice: thousands of answers at once would redraw the bar as often.
    auto ShowProgress = [this] {
        if (FNextDeliver > FShownProgress) {
            FShownProgress = FNextDeliver;
            emit Progress(FShownProgress, int(FProjects.size()));
        }
    };
    QElapsedTimer Slice;
    Slice.start();
    while (FNextDeliver < int(FDone.size()) && FDone[size_t(FNextDeliver)]) {
        if (Slice.elapsed() >= 10) {
            ShowProgress();
            FFlushPosted = true;
            QTimer::singleShot(0, this, [this] { Flush(); });
            return;
        }
        const int I = FNextDeliver++;
        const std::unique_ptr<TSvnOutcome> O = std::move(FDone[size_t(I)]);
        if (FOptions.Store)
            FOptions.Store->Record(FProjects[size_t(I)].Folder, FTask, *O);
        emit ProjectDone(I, *O);
    }
    ShowProgress();
    if (FWorkersDone && FRunning && FNextDeliver == int(FDone.size())) {
        FRunning = false;
        emit Finished(FStop.load());
    }
}
