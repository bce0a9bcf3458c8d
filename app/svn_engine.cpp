#include "svn_engine.h"

#include "fm_main.h"
#include "kiv_XmlObjects.h"
#include "kiv_process.h"
#include "kiv_tools.h"

#include <QCollator>
#include <QDir>
#include <QLocale>
#include <QMetaObject>
#include <QThread>

#include <algorithm>

namespace {

// Projects per "svn status" process: large enough to save most start-ups, small enough that
// the batches spread over the workers and the first blocks show early.
constexpr int StatusBatchSize = 24;

bool IsInside(const QString& Inner, const QString& Outer) {
    return Inner == Outer || Inner.startsWith(Outer + u'/') || Outer == u"/";
}

QString CleanFolder(const QString& Directory) {
    return QDir::cleanPath(QDir(Directory.trimmed()).absolutePath());
}

} // namespace

QStringList FilterOutput(QStringList Lines) {
    for (int i = 0; i < Lines.size(); ++i) {
        if (Lines.at(i).compare(QStringLiteral("Updating '.':"), Qt::CaseInsensitive) == 0) {
            Lines.removeAt(i);
            break;
        }
    }
    return Lines;
}

bool LeftOutInShort(const QStringList& Filtered) {
    if (Filtered.isEmpty())
        return true;
    if (Filtered.size() != 1)
        return false;
    const QString Upper = UpperAZ(Filtered.first());
    return Upper.startsWith(QStringLiteral("REVISION")) ||
           Upper.startsWith(QStringLiteral("AT REVISION"));
}

QStringList ProjectBlock(const TSvnProject& Project, const TSvnOutcome& Outcome, bool Short) {
    // The folder the client runs in, as a path: blanks around the stored value and a
    // trailing "/" are not part of it.
    const QString Head =
        QStringLiteral("--> ") +
        (Project.Directory.trimmed().isEmpty() ? QString() : CleanFolder(Project.Directory));
    if (Outcome.State == TSvnState::Missing)
        return {Head, MissingFolderLine};
    if (Outcome.State == TSvnState::NoClient)
        return {Head, NoClientLine};
    const QStringList Filtered = FilterOutput(Outcome.Lines);
    if (Short && LeftOutInShort(Filtered))
        return {};
    return QStringList{Head} + Filtered;
}

bool SplitStatusBatch(const QStringList& Output, const QStringList& Folders,
                      std::vector<QStringList>& PerFolder) {
    PerFolder.assign(Folders.size(), QStringList());
    int Current = -1;
    for (const QString& Line : Output) {
        // A tree conflict's description belongs to the item above it.
        if (Line.startsWith(QStringLiteral("      >")) && Current >= 0) {
            PerFolder[Current].append(Line);
            continue;
        }
        if (Line.size() < 9 || Line.at(7) != u' ')
            return false;
        const QString Path = Line.mid(8);
        int Found = -1;
        int FoundLength = -1;
        for (int i = 0; i < Folders.size(); ++i) {
            const QString& F = Folders.at(i);
            if ((Path == F || Path.startsWith(F + u'/')) && F.size() > FoundLength) {
                Found = i;
                FoundLength = F.size();
            }
        }
        if (Found < 0 || Found < Current) // each folder's lines come together, in order
            return false;
        Current = Found;
        const QString& F = Folders.at(Found);
        const QString Relative = Path == F ? QStringLiteral(".") : Path.mid(F.size() + 1);
        PerFolder[Found].append(Line.left(8) + Relative);
    }
    return true;
}

void CollectProjects(TkivXmlElement* Element, const QString& TreePath,
                     std::vector<TSvnProject>& Projects) {
    CollectProjects(Element, TreePath, Projects, nullptr);
}

void CollectProjectsInCaptionOrder(TkivXmlElement* Element, const QString& TreePath,
                                   std::vector<TSvnProject>& Projects) {
    // The tree's order: German collation (also under the C locale), case ignored, ties by
    // code point.
    QCollator Collator(QLocale().language() == QLocale::C ? QLocale(QLocale::German) : QLocale());
    Collator.setCaseSensitivity(Qt::CaseInsensitive);
    CollectProjects(Element, TreePath, Projects, [&](const QString& A, const QString& B) {
        const int R = Collator.compare(A, B);
        return R != 0 ? R < 0 : A < B;
    });
}

void CollectProjects(TkivXmlElement* Element, const QString& TreePath,
                     std::vector<TSvnProject>& Projects,
                     const std::function<bool(const QString&, const QString&)>& Less) {
    // Depth first, each element's children in order; the walk is iterative so a deep
    // registry cannot exhaust the stack.
    struct Item {
        TkivXmlElement* E;
        QString Path;
    };
    std::vector<Item> Pending{{Element, TreePath}};
    while (!Pending.empty()) {
        Item It = std::move(Pending.back());
        Pending.pop_back();
        if (ElementKindOf(It.E->Name()) == ekProject) {
            Projects.push_back({It.E->GetAttribute(QStringLiteral("Name")),
                                It.E->GetAttribute(QStringLiteral("Verzeichnis")), It.Path, 0});
            continue;
        }
        std::vector<TkivXmlElement*> Children;
        for (int i = 0; i < It.E->ChildCount(); ++i)
            Children.push_back(It.E->GetChild(i));
        if (Less)
            std::stable_sort(Children.begin(), Children.end(),
                             [&](TkivXmlElement* A, TkivXmlElement* B) {
                                 return Less(A->GetAttribute(QStringLiteral("Name")),
                                             B->GetAttribute(QStringLiteral("Name")));
                             });
        for (auto C_ = Children.rbegin(); C_ != Children.rend(); ++C_) {
            TkivXmlElement* C = *C_;
            const QString CName = C->GetAttribute(QStringLiteral("Name"));
            Pending.push_back({C, It.Path.isEmpty() ? CName : It.Path + u'/' + CName});
        }
    }
}

int JobCount(const TkivXmlElement* Root) {
    bool Ok = false;
    const int Stored = Root ? Root->GetAttribute(QStringLiteral("Jobs")).toInt(&Ok) : 0;
    if (Ok && Stored >= 1)
        return std::min(Stored, 64);
    return std::max(2, QThread::idealThreadCount());
}

TSvnRun::TSvnRun(std::vector<TSvnProject> Projects, QString SubCommand, bool Console, int Jobs,
                 QObject* Parent)
    : QObject(Parent), FProjects(std::move(Projects)), FSubCommand(std::move(SubCommand)),
      FConsole(Console), FJobs(Console ? 1 : std::max(1, Jobs)) {
    qRegisterMetaType<TSvnOutcome>();
}

TSvnRun::~TSvnRun() {
    FCancel = true;
    for (std::thread& W : FWorkers)
        if (W.joinable())
            W.join();
}

void TSvnRun::Start() {
    FRunning = true;
    FDone.clear();
    FDone.resize(FProjects.size());
    // Missing folders need no client; the rest go into batches. "svn status" takes many
    // folders per process; a folder inside another of the same batch gets its own batch, so
    // every output line has exactly one owner.
    std::vector<int> Pending;
    for (int i = 0; i < int(FProjects.size()); ++i)
        Pending.push_back(i);
    const bool Batched = FSubCommand == u"status" && !FConsole;
    TBatch Current;
    QStringList CurrentFolders;
    auto Flush = [&] {
        if (!Current.Indices.empty())
            FBatches.push_back(std::move(Current));
        Current = TBatch();
        CurrentFolders.clear();
    };
    for (int i : Pending) {
        if (!Batched) {
            FBatches.push_back({{i}});
            continue;
        }
        const QString F = CleanFolder(FProjects[i].Directory);
        bool Nested = false;
        for (const QString& Other : CurrentFolders)
            Nested = Nested || IsInside(F, Other) || IsInside(Other, F);
        if (Nested || int(Current.Indices.size()) >= StatusBatchSize)
            Flush();
        Current.Indices.push_back(i);
        CurrentFolders.append(F);
    }
    Flush();
    const int Workers = std::min<int>(FJobs, std::max<size_t>(1, FBatches.size()));
    FWorkersLeft = Workers;
    if (FProjects.empty()) {
        FWorkersLeft = 0;
        QMetaObject::invokeMethod(
            this,
            [this] {
                FRunning = false;
                emit Finished(false);
            },
            Qt::QueuedConnection);
        return;
    }
    for (int w = 0; w < Workers; ++w)
        FWorkers.emplace_back([this] { Work(); });
}

void TSvnRun::Cancel() {
    FCancel = true;
}

void TSvnRun::Work() {
    for (;;) {
        const int B = FNextBatch.fetch_add(1);
        if (B >= int(FBatches.size()) || FCancel)
            break;
        RunBatch(FBatches[B]);
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (--FWorkersLeft > 0)
                return;
            for (std::thread& W : FWorkers)
                if (W.joinable())
                    W.join();
            FWorkers.clear();
            FRunning = false;
            emit Finished(FCancel.load());
        },
        Qt::QueuedConnection);
}

void TSvnRun::RunBatch(const TBatch& Batch) {
    std::vector<int> Present;
    for (int i : Batch.Indices) {
        if (!DirExists(FProjects[i].Directory.trimmed()))
            Deliver(i, RunOne(i));
        else
            Present.push_back(i);
    }
    if (Present.size() > 1) {
        QStringList Folders;
        for (int i : Present)
            Folders.append(CleanFolder(FProjects[i].Directory));
        QStringList Lines;
        TRunOptions Options;
        Options.Cancel = &FCancel;
        const int Code =
            RunCapturedArgs(Lines, SvnProgram, QStringList{FSubCommand} + Folders, Options);
        std::vector<QStringList> PerFolder;
        if (Code == 0 && !FCancel && SplitStatusBatch(Lines, Folders, PerFolder)) {
            for (size_t k = 0; k < Present.size(); ++k) {
                TSvnOutcome O;
                O.Lines = PerFolder[k];
                O.State = O.Lines.isEmpty() ? TSvnState::Clean : TSvnState::Changes;
                Deliver(Present[k], std::move(O));
            }
            return;
        }
        // Not safely divisible (or failed): each project alone in its folder.
    }
    for (int i : Present)
        Deliver(i, RunOne(i));
}

TSvnOutcome TSvnRun::RunOne(int Index) {
    const TSvnProject& P = FProjects[Index];
    TSvnOutcome O;
    if (FCancel) {
        O.State = TSvnState::Cancelled;
        return O;
    }
    const QString Folder = P.Directory.trimmed();
    if (!DirExists(Folder)) {
        O.State = TSvnState::Missing;
        return O;
    }
    if (FConsole) {
        O.ExitCode = RunAndWait(SvnProgram + u' ' + FSubCommand, 1, Folder);
    } else {
        TRunOptions Options;
        Options.WorkingDirectory = Folder;
        Options.Cancel = &FCancel;
        O.ExitCode = RunCapturedArgs(O.Lines, SvnProgram, {FSubCommand}, Options);
    }
    if (O.ExitCode == -1) {
        O.State = FCancel ? TSvnState::Cancelled : TSvnState::NoClient;
        return O;
    }
    const QStringList Filtered = FilterOutput(O.Lines);
    if (O.ExitCode != 0)
        O.State = TSvnState::Error;
    else if (FSubCommand == u"status")
        O.State = Filtered.isEmpty() ? TSvnState::Clean : TSvnState::Changes;
    else
        O.State = LeftOutInShort(Filtered) ? TSvnState::Clean : TSvnState::Changes;
    return O;
}

void TSvnRun::Deliver(int Index, TSvnOutcome Outcome) {
    QMetaObject::invokeMethod(
        this, [this, Index, Outcome] { Arrived(Index, Outcome); }, Qt::QueuedConnection);
}

void TSvnRun::Arrived(int Index, const TSvnOutcome& Outcome) {
    if (FCancel || Outcome.State == TSvnState::Cancelled)
        return; // the memo keeps what was shown
    FDone[Index] = std::make_unique<TSvnOutcome>(Outcome);
    while (FNextDeliver < int(FDone.size()) && FDone[FNextDeliver]) {
        const int I = FNextDeliver++;
        emit ProjectDone(I, *FDone[I]);
        FDone[I].reset();
    }
}
