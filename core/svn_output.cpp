#include "svn_output.h"

#include "kiv_kinds.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QXmlStreamReader>

namespace {

const QLatin1String StatusAgainst("Status against revision:");
const QLatin1String PerformingExternal("Performing status on external item at '");
const QLatin1String SummaryOfConflicts("Summary of conflicts:");
const QLatin1String SummaryOfUpdates("Summary of updates:");
const QLatin1String SearchingDetails("Searching tree conflict details for '");

bool NotWorkingCopyLine(const QString& Line) {
    return Line.startsWith(QLatin1String("svn: warning: W155007:")) ||
           Line.startsWith(QLatin1String("svn: E155007:"));
}

// The client refuses to work on a copy another client has locked, or whose last operation
// was interrupted: "svn cleanup" frees it.
bool LockedCopyLine(const QString& Line) {
    return Line.startsWith(QLatin1String("svn: E155004:")) ||
           Line.startsWith(QLatin1String("svn: E155037:"));
}

// An update's notification line ("U    datei.txt", " U   .", "   C baum"): its four columns.
bool UpdateItem(const QString& Line) {
    if (Line.size() < 6 || Line.at(4) != u' ')
        return false;
    const QChar C0 = Line.at(0), C1 = Line.at(1), C2 = Line.at(2), C3 = Line.at(3);
    if (!QStringLiteral(" ADUCGER").contains(C0) || !QStringLiteral(" UCG").contains(C1) ||
        !QStringLiteral(" B").contains(C2) || !QStringLiteral(" C").contains(C3))
        return false;
    return !(C0 == u' ' && C1 == u' ' && C2 == u' ' && C3 == u' ');
}

// The number at the end of "At revision 12." and the like; -1 when there is none.
qint64 TrailingRevision(const QString& Line, qsizetype From) {
    QString N = Line.mid(From).trimmed();
    if (N.endsWith(u'.'))
        N.chop(1);
    bool Ok = false;
    const qint64 R = N.toLongLong(&Ok);
    return Ok ? R : -1;
}

// The folder of Folders that holds Path (absolute), the innermost one; -1 for none.
int OwnerOf(const QString& Path, const QStringList& Folders) {
    int Found = -1;
    qsizetype Length = -1;
    for (int i = 0; i < Folders.size(); ++i) {
        const QString& F = Folders.at(i);
        const bool In = Path == F || Path.startsWith(F == u"/" ? F : F + u'/');
        if (In && F.size() > Length) {
            Found = i;
            Length = F.size();
        }
    }
    return Found;
}

// Path (absolute, inside Folder) as the folder's own run names it.
QString Relative(const QString& Path, const QString& Folder) {
    if (Path == Folder)
        return QStringLiteral(".");
    return Path.mid(Folder == u"/" ? 1 : Folder.size() + 1);
}

// Every mention of Display (the batch's name for a folder) as a path, at the start of the line,
// after a blank or after a quote, becomes the folder's own name for it: "D" → ".", "D/x" → "x".
QString Rebase(const QString& Line, const QString& Display) {
    if (Display == u".")
        return Line;
    QString Out;
    qsizetype I = 0;
    const qsizetype N = Line.size(), L = Display.size();
    while (I < N) {
        const bool Boundary = I == 0 || Line.at(I - 1) == u' ' || Line.at(I - 1) == u'\'';
        if (Boundary && Line.mid(I, L) == Display) {
            const qsizetype After = I + L;
            if (After == N || Line.at(After) == u'\'' || Line.at(After) == u' ') {
                Out += u'.';
                I = After;
                continue;
            }
            if (Line.at(After) == u'/') {
                I = After + 1;
                continue;
            }
        }
        Out += Line.at(I);
        ++I;
    }
    return Out;
}

// The summary the folder's own update prints after its lines, as the client counts it.
QStringList ConflictSummary(const TSvnVerdict& V) {
    if (V.TextConflicts + V.PropConflicts + V.TreeConflicts + V.Skipped == 0)
        return {};
    QStringList S{SummaryOfConflicts};
    if (V.TextConflicts)
        S << QStringLiteral("  Text conflicts: %1").arg(V.TextConflicts);
    if (V.PropConflicts)
        S << QStringLiteral("  Property conflicts: %1").arg(V.PropConflicts);
    if (V.TreeConflicts)
        S << QStringLiteral("  Tree conflicts: %1").arg(V.TreeConflicts);
    if (V.Skipped)
        S << QStringLiteral("  Skipped paths: %1").arg(V.Skipped);
    return S;
}

bool IsStatusTask(TSvnTask Task) {
    return Task == TSvnTask::Status || Task == TSvnTask::StatusRemote;
}

} // namespace

bool ParseStatusLine(const QString& Line, TStatusItem* Item, TStatusForm Form) {
    auto Try = [&](bool Remote) {
        const int At = Remote ? 21 : 8;
        if (Line.size() <= At || Line.at(7) != u' ')
            return false;
        if (Remote && (Line.at(9) != u' ' || Line.mid(18, 3) != QLatin1String("   ")))
            return false;
        if (Item) {
            Item->Columns = Line.left(7);
            Item->OutOfDate = Remote && Line.at(8) == u'*';
            Item->Path = Line.mid(At);
            Item->PathAt = At;
        }
        return true;
    };
    switch (Form) {
    case TStatusForm::Plain:
        return Try(false);
    case TStatusForm::Remote:
        return Try(true);
    case TStatusForm::Either:
        return Try(true) || Try(false);
    }
    return false;
}

void TVerdictFold::Add(const QString& L) {
    if (NotWorkingCopyLine(L))
        FV.NotWorkingCopy = true;
    if (L.startsWith(QLatin1String("svn: E"))) {
        FV.ErrorLine = true;
        FV.WcLocked = FV.WcLocked || LockedCopyLine(L);
    }
    if (L == SummaryOfConflicts)
        FV.HasConflict = true;
    if (IsStatusTask(FTask)) {
        if (L.startsWith(StatusAgainst)) {
            if (FV.ServerRevision < 0)
                FV.ServerRevision = TrailingRevision(L, StatusAgainst.size());
            return;
        }
        TStatusItem It;
        if (!ParseStatusLine(L, &It))
            return;
        const QString& C = It.Columns;
        if (C.at(0) == u'C' || C.at(1) == u'C' || C.at(6) == u'C')
            FV.HasConflict = true;
        if (It.OutOfDate)
            FV.IsBehind = true;
        if (C.at(2) == u'L')
            FV.WcLocked = true;
        if (C.at(4) == u'S')
            FV.Switched = true;
        if (C.at(5) == u'O' || C.at(5) == u'T' || C.at(5) == u'B')
            FV.ReposLocked = true;
        if (C.at(0) == u'!') {
            // A folder that is still there but "!" was left incomplete by an interrupted
            // update; what is gone is a local change (deleted without svn).
            const bool Top = It.Path == u".";
            const QString Abs = FFolder.isEmpty() ? QString()
                                : Top ? FFolder
                                      : QDir::cleanPath(FFolder + u'/' + It.Path);
            if (Top || (!Abs.isEmpty() && QFileInfo(Abs).isDir()))
                FV.Incomplete = true;
            else
                FV.HasChanges = true;
        } else if (QStringLiteral("ADMRC?~").contains(C.at(0)) || C.at(1) == u'M' ||
                   C.at(1) == u'C' || C.at(3) == u'+') {
            FV.HasChanges = true;
        }
        return;
    }
    if (FTask == TSvnTask::Update || FTask == TSvnTask::Checkout) {
        if (UpdateItem(L)) {
            ++FV.Files;
            FV.TextConflicts += L.at(0) == u'C';
            FV.PropConflicts += L.at(1) == u'C';
            FV.TreeConflicts += L.at(3) == u'C';
            if (L.at(0) == u'C' || L.at(1) == u'C' || L.at(3) == u'C')
                FV.HasConflict = true;
        } else if (L.startsWith(QLatin1String("Skipped "))) {
            ++FV.Skipped;
        } else if (L.startsWith(QLatin1String("Updated to revision "))) {
            FV.Revision = TrailingRevision(L, 20);
        } else if (L.startsWith(QLatin1String("At revision "))) {
            FV.Revision = TrailingRevision(L, 12);
        } else if (L.startsWith(QLatin1String("Checked out revision "))) {
            FV.Revision = TrailingRevision(L, 21);
        } else if (L.startsWith(QLatin1String("svn: warning: W205011:"))) {
            FV.ExternalsWarned = true;
        }
        return;
    }
    if (FTask == TSvnTask::Commit) {
        // "Sending        datei.txt", ... and at the end "Committed revision 12."
        static const QLatin1String Sent[] = {QLatin1String("Sending "), QLatin1String("Adding "),
                                             QLatin1String("Deleting "),
                                             QLatin1String("Replacing ")};
        if (L.startsWith(QLatin1String("Committed revision "))) {
            FV.Revision = TrailingRevision(L, 19);
            return;
        }
        for (const QLatin1String& S : Sent)
            if (L.startsWith(S)) {
                ++FV.Files;
                return;
            }
        // The codes the client (local, svnserve, WebDAV) gives for an item the server has a
        // newer version of (or has meanwhile got itself); and for an item still in conflict.
        for (const char* Code :
             {"svn: E155011:", "svn: E160028:", "svn: E160024:", "svn: E170004:", "svn: E160020:"})
            if (L.startsWith(QLatin1String(Code)))
                FV.OutOfDateRefused = FV.IsBehind = true;
        if (L.startsWith(QLatin1String("svn: E155015:")))
            FV.ConflictRefused = FV.HasConflict = true;
        return;
    }
    if (FTask == TSvnTask::Info || FTask == TSvnTask::UrlInfo) {
        if (FV.Url.isEmpty() && L.startsWith(QLatin1String("URL:")))
            FV.Url = TrimBlanksAndControls(L.mid(4));
        else if (FV.Revision < 0 && L.startsWith(QLatin1String("Revision: ")))
            FV.Revision = TrailingRevision(L, 10);
    }
}

TSvnVerdict TVerdictFold::Decide(int ExitCode) const {
    TSvnVerdict V = FV;
    if (V.NotWorkingCopy) {
        V.State = TSvnState::NotWorkingCopy;
        return V;
    }
    TSvnState S = TSvnState::Clean;
    if (FTask == TSvnTask::Update)
        S = V.Files > 0 ? TSvnState::Updated : TSvnState::Current;
    else if (FTask == TSvnTask::Checkout)
        S = TSvnState::CheckedOut;
    else if (FTask == TSvnTask::Info || FTask == TSvnTask::UrlInfo)
        S = TSvnState::Info;
    const std::pair<bool, TSvnState> Findings[] = {
        {V.ReposLocked, TSvnState::ReposLocked}, {V.HasChanges, TSvnState::Changes},
        {V.IsBehind, TSvnState::OutOfDate},      {V.HasConflict, TSvnState::Conflict},
        {V.Incomplete, TSvnState::Incomplete},   {V.WcLocked, TSvnState::Locked},
        // A commit refused for items the server has newer versions of: behind, not broken.
        {ExitCode != 0 || V.ErrorLine,
         V.OutOfDateRefused ? TSvnState::OutOfDate : TSvnState::Error},
    };
    for (const auto& [Found, State] : Findings)
        if (Found)
            S = Heavier(S, State);
    V.State = S;
    return V;
}

TSvnVerdict DecideState(TSvnTask Task, const QStringList& Lines, int ExitCode,
                        const QString& Folder) {
    TVerdictFold Fold(Task, Folder);
    for (const QString& L : Lines)
        Fold.Add(L);
    return Fold.Decide(ExitCode);
}

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
    // The last one is what a status that asked the server prints when it has nothing else.
    return Upper.startsWith(QStringLiteral("REVISION")) ||
           Upper.startsWith(QStringLiteral("AT REVISION")) ||
           Upper.startsWith(QStringLiteral("STATUS AGAINST REVISION:"));
}

QString ExtractSvnUrl(const QStringList& Lines) {
    for (const QString& Line : Lines)
        if (Line.startsWith(QLatin1String("URL:")))
            return TrimBlanksAndControls(Line.mid(4));
    return QString();
}

TSvnState ServerProblemOf(const QStringList& Lines) {
    // The client's own codes: authentication, authorization, an unconfirmed certificate; a
    // session that could not be made, a connection refused, reset, timed out or closed, a name
    // not resolved, a network or host not reachable (svn, http and the system's codes).
    static const char* const Login[] = {"E215004", "E170001", "E230001"};
    static const char* const Unreachable[] = {"E170013", "E210002", "E175002", "E175012",
                                              "E670002", "E670003", "E670008", "E000101",
                                              "E000104", "E000110", "E000111", "E000113"};
    bool Away = false;
    for (const QString& L : Lines) {
        if (!L.startsWith(QLatin1String("svn: E")))
            continue;
        const QStringView Code = QStringView(L).mid(5, 7);
        for (const char* C : Login)
            if (Code == QLatin1String(C))
                return TSvnState::LoginNeeded;
        for (const char* C : Unreachable)
            Away = Away || Code == QLatin1String(C);
    }
    return Away ? TSvnState::NoServer : TSvnState::Clean;
}

QString SvnDisplayPath(const QString& AbsPath, const QString& WorkDir) {
    if (AbsPath == WorkDir)
        return QStringLiteral(".");
    const QString Prefix = WorkDir.endsWith(u'/') ? WorkDir : WorkDir + u'/';
    if (AbsPath.startsWith(Prefix))
        return AbsPath.mid(Prefix.size());
    return AbsPath;
}

// ---- TLineBlock

TLineBlock::TLineBlock(TSvnTask Task, QString Folder, qsizetype Keep, bool Spill)
    : FTask(Task), FFolder(std::move(Folder)), FKeep(Keep), FSpillWanted(Spill),
      FFold(Task, FFolder) {}

void TLineBlock::Add(const QString& Line) {
    FFold.Add(Line);
    FLast = Line;
    if (FKeep < 0 || FLines.size() < FKeep) {
        FLines.append(Line);
        return;
    }
    ++FOmitted;
    if (!FSpillWanted)
        return;
    if (!FSpill) {
        FSpill = std::make_shared<QTemporaryFile>(QDir::tempPath() +
                                                  QStringLiteral("/kivsvn-lines-XXXXXX"));
        if (!FSpill->open()) {
            FSpill.reset();
            FSpillWanted = false;
            return;
        }
    }
    FSpill->write(Line.toUtf8().append('\n'));
}

void TLineBlock::Clear() {
    *this = TLineBlock(FTask, FFolder, FKeep, FSpillWanted);
}

// ---- TBatchSplitter

TBatchSplitter::TBatchSplitter(TSvnTask Task, QStringList Folders, QString WorkDir,
                               std::vector<TLineBlock>& Blocks)
    : FTask(Task), FFolders(std::move(Folders)), FWorkDir(std::move(WorkDir)), FBlocks(Blocks),
      FN(int(FFolders.size())) {
    Done.assign(size_t(FN), false);
    Failed.assign(size_t(FN), false);
    FBegun.assign(size_t(FN), false);
    for (const QString& F : FFolders)
        FDisplay << SvnDisplayPath(F, FWorkDir);
}

void TBatchSplitter::Feed(const QString& Line) {
    switch (FTask) {
    case TSvnTask::Status:
    case TSvnTask::StatusRemote:
        // One line of lookahead: a blank line after a folder's revision line belongs to the
        // folder when an external's section follows it.
        if (FHaveBuffered)
            StepStatus(FBuffered, &Line);
        FBuffered = Line;
        FHaveBuffered = true;
        return;
    // A checkout and a URL's info are never batched (one URL, one client); they are split
    // as their nearest kin would be.
    case TSvnTask::Update:
    case TSvnTask::Checkout:
        StepUpdate(Line);
        return;
    case TSvnTask::Info:
    case TSvnTask::UrlInfo:
        StepInfo(Line);
        return;
    default: // the tasks of one folder at a time are never batched
        return;
    }
}

void TBatchSplitter::Finish(int ExitCode) {
    switch (FTask) {
    case TSvnTask::Status:
    case TSvnTask::StatusRemote:
        if (FHaveBuffered)
            StepStatus(FBuffered, nullptr);
        FHaveBuffered = false;
        FinishStatus(ExitCode);
        break;
    case TSvnTask::Update:
    case TSvnTask::Checkout:
        FinishUpdate();
        break;
    case TSvnTask::Info:
    case TSvnTask::UrlInfo:
        FinishInfo();
        break;
    default:
        break;
    }
    // What a folder that runs again printed is not its own run's; an update the client had
    // begun keeps what it printed until it stopped.
    for (int k = 0; k < FN; ++k)
        if (!Done[size_t(k)] && !Failed[size_t(k)] && !FBegun[size_t(k)])
            FBlocks[size_t(k)].Clear();
}

int TBatchSplitter::Finished() const {
    switch (FTask) {
    case TSvnTask::Status:
        return std::min(FCur, FN);
    case TSvnTask::StatusRemote:
        return int(std::count(Done.begin(), Done.end(), true));
    case TSvnTask::Update:
    case TSvnTask::Checkout:
        return FClosed;
    case TSvnTask::Info:
    case TSvnTask::UrlInfo:
        return FInfoDone;
    default:
        return 0;
    }
}

bool TBatchSplitter::Take(int Owner) {
    // Folders without output in between have nothing to say; they are done.
    if (Owner < FCur || (FTask == TSvnTask::StatusRemote && Owner != FCur))
        return false;
    for (int k = FCur; k < Owner; ++k)
        Done[size_t(k)] = true;
    FCur = Owner;
    return true;
}

// Status, plain or with -u. Items carry absolute paths; each folder's items come together, in
// the order of the folders; with -u each folder (and each external inside it) ends with its
// "Status against revision" line. The conflict summary sums up all folders at the very end.
void TBatchSplitter::StepStatus(const QString& Line, const QString* Next) {
    const bool Remote = FTask == TSvnTask::StatusRemote;
    // Changelists come after all folders' other lines (with -u after the last revision
    // line), and nothing tells whose they are: every folder runs on its own. These two are
    // looked for even after the output could no longer be followed.
    if (Line.startsWith(QLatin1String("--- Changelist '"))) {
        FBroken = FAllAgain = true;
        return;
    }
    if (Line == SummaryOfConflicts) {
        if (!FBroken && Remote && FAfterTerminator && FCur < FN)
            Done[size_t(FCur++)] = true;
        FAfterTerminator = false;
        FInSummary = true;
        return;
    }
    if (FBroken)
        return;
    if (FInSummary) {
        if (!Line.startsWith(QLatin1String("  ")))
            FBroken = FAllAgain = true;
        return;
    }
    if (Remote && FAfterTerminator) {
        // After a folder's revision line comes either one of its externals or the next folder.
        const bool External =
            Line.isEmpty() && Next && Next->startsWith(PerformingExternal) &&
            OwnerOf(QStringLiteral("/") + Next->mid(PerformingExternal.size()), FFolders) == FCur;
        FAfterTerminator = false;
        if (!External) {
            Done[size_t(FCur)] = true;
            if (++FCur >= FN) {
                FBroken = true;
                return;
            }
        }
    }
    if (FCur >= FN) {
        FBroken = true;
        return;
    }
    if (Line.isEmpty()) {
        if (FHavePendingBlank) {
            FBroken = true;
            return;
        }
        FHavePendingBlank = true;
        return;
    }
    if (Line.startsWith(PerformingExternal) && Line.endsWith(QLatin1String("':"))) {
        const QString Shown =
            Line.mid(PerformingExternal.size(), Line.size() - PerformingExternal.size() - 2);
        const QString Abs = FWorkDir == u"/" ? u'/' + Shown : FWorkDir + u'/' + Shown;
        const int Owner = OwnerOf(Abs, FFolders);
        if (Owner < 0 || !Take(Owner) || !FHavePendingBlank) {
            FBroken = true;
            return;
        }
        TLineBlock& B = FBlocks[size_t(FCur)];
        B.Add(QString());
        B.Add(PerformingExternal + Relative(Abs, FFolders.at(FCur)) + QStringLiteral("':"));
        FHavePendingBlank = false;
        return;
    }
    if (FHavePendingBlank) {
        FBroken = true;
        return;
    }
    if (Remote && Line.startsWith(StatusAgainst)) {
        FBlocks[size_t(FCur)].Add(Line);
        FAfterTerminator = true;
        return;
    }
    if (Line.startsWith(QLatin1String("svn: warning: W155007: '")) &&
        Line.endsWith(QLatin1String("' is not a working copy"))) {
        const QString Quoted = Line.mid(24, Line.size() - 24 - 23);
        const int Owner = FFolders.indexOf(Quoted);
        if (Owner < 0 || Owner < FCur) {
            FBroken = true;
            return;
        }
        for (int k = FCur; k < Owner; ++k)
            Done[size_t(k)] = !Remote; // with -u each folder ends with its own line
        if (Remote && Owner != FCur) {
            FBroken = true;
            return;
        }
        FCur = Owner;
        FBlocks[size_t(FCur)].Add(Line);
        // A folder that is no working copy prints nothing else.
        Done[size_t(FCur)] = true;
        ++FCur;
        return;
    }
    if (Line.startsWith(QLatin1String("      >"))) {
        // A tree conflict's description belongs to the item above it.
        if (FBlocks[size_t(FCur)].Count() == 0) {
            FBroken = true;
            return;
        }
        FBlocks[size_t(FCur)].Add(Line);
        return;
    }
    TStatusItem It;
    if (!ParseStatusLine(Line, &It, Remote ? TStatusForm::Remote : TStatusForm::Plain)) {
        FBroken = true; // errors, anything unknown
        return;
    }
    const int Owner = OwnerOf(It.Path, FFolders);
    // With -u an unversioned folder names itself differently in its own run (by its name,
    // not as "."): that folder runs on its own.
    if (Owner < 0 || !Take(Owner) ||
        (Remote && It.Path == FFolders.at(Owner) && Line.at(0) == u'?')) {
        FBroken = true;
        return;
    }
    FBlocks[size_t(FCur)].Add(Line.left(It.PathAt) + Relative(It.Path, FFolders.at(FCur)));
}

void TBatchSplitter::FinishStatus(int ExitCode) {
    if (FAllAgain) {
        Done.assign(size_t(FN), false);
        return;
    }
    if (FTask == TSvnTask::StatusRemote) {
        if (!FBroken && FAfterTerminator && FCur < FN)
            Done[size_t(FCur)] = true;
        if (FBroken || ExitCode != 0) {
            // Only folders ended by their revision line count; the rest run again.
            for (int k = 0; k < FN; ++k) {
                const TLineBlock& B = FBlocks[size_t(k)];
                if (Done[size_t(k)] && (B.Count() == 0 || (!B.Last().startsWith(StatusAgainst) &&
                                                           !NotWorkingCopyLine(B.Last()))))
                    Done[size_t(k)] = false;
            }
        }
    } else if (!FBroken && !FHavePendingBlank && ExitCode == 0) {
        Done.assign(size_t(FN), true);
    } else {
        // Whatever came after the last folder that began cannot be told apart; the folders
        // before it are whole (a later folder's lines began after theirs).
        for (int k = 0; k < FN; ++k)
            Done[size_t(k)] = k < FCur && FCur <= FN;
    }
    // The conflict summary is the client's for all folders together: a folder with conflicts
    // runs on its own to get its own.
    if (FInSummary)
        for (int k = 0; k < FN; ++k)
            if (FBlocks[size_t(k)].Fold().Facts().HasConflict)
                Done[size_t(k)] = false;
}

// Update: each folder's block begins with "Updating 'D':" (D relative to WorkDir) and ends
// with its revision line; summaries for all folders follow at the end.
void TBatchSplitter::CloseUpdate() {
    if (FOpen >= 0) {
        if (FOpenEnded)
            Done[size_t(FOpen)] = true;
        else
            Failed[size_t(FOpen)] = true;
        ++FClosed;
    }
    FOpen = -1;
    FOpenEnded = false;
}

void TBatchSplitter::StepUpdate(const QString& Line) {
    if (Line.startsWith(QLatin1String("Updating '")) && Line.endsWith(QLatin1String("':"))) {
        CloseUpdate();
        FInSummary = false;
        const int K = FDisplay.indexOf(Line.mid(10, Line.size() - 12));
        if (K < 0 || Done[size_t(K)] || Failed[size_t(K)] || FBegun[size_t(K)])
            return; // not ours to name: those folders run again
        FOpen = K;
        FDetailsOwner = -1;
        FBegun[size_t(K)] = true;
        FBlocks[size_t(K)].Add(QStringLiteral("Updating '.':"));
        return;
    }
    if (Line == SummaryOfUpdates || Line == SummaryOfConflicts) {
        CloseUpdate();
        FInSummary = true;
        FDetailsOwner = -1;
        return;
    }
    // After all folders the client looks up the history of each new tree conflict; a
    // folder's own run prints that after its revision line, before its summary.
    if (Line.startsWith(SearchingDetails) && Line.endsWith(QLatin1String("' in repository:"))) {
        CloseUpdate();
        const QString Path = Line.mid(SearchingDetails.size(),
                                      Line.size() - SearchingDetails.size() - 16);
        FDetailsOwner = -1;
        for (int k = 0; k < FN && FDetailsOwner < 0; ++k) {
            const QString& D = FDisplay.at(k);
            if (D == u"." || Path == D || Path.startsWith(D + u'/'))
                FDetailsOwner = k;
        }
    }
    if (FDetailsOwner >= 0) {
        FBlocks[size_t(FDetailsOwner)].Add(Rebase(Line, FDisplay.at(FDetailsOwner)));
        return;
    }
    if (FInSummary && Line.startsWith(QLatin1String("  ")))
        return;
    FInSummary = false;
    if (FOpen >= 0 && !FOpenEnded) {
        FBlocks[size_t(FOpen)].Add(Rebase(Line, FDisplay.at(FOpen)));
        if (Line.startsWith(QLatin1String("At revision ")) ||
            Line.startsWith(QLatin1String("Updated to revision ")))
            FOpenEnded = true;
        return;
    }
    // After a folder's revision line, or before any header: a skipped folder that is no
    // working copy, or an error that stopped the client before the next folder began.
    // Folders not reached are neither done nor failed: they run again. The one error the
    // client keeps for the very end is that of failed externals.
    if (Line.startsWith(QLatin1String("svn: E205011:")))
        FExternalsFailed << Line;
    CloseUpdate();
}

void TBatchSplitter::FinishUpdate() {
    CloseUpdate();
    // Failed externals: the folders that were warned of them end with that error, as their
    // own runs do, and count as failed.
    if (!FExternalsFailed.isEmpty()) {
        for (int k = 0; k < FN; ++k) {
            TLineBlock& B = FBlocks[size_t(k)];
            if (Done[size_t(k)] && B.Fold().Facts().ExternalsWarned) {
                for (const QString& L : std::as_const(FExternalsFailed))
                    B.Add(L);
                Done[size_t(k)] = false;
                Failed[size_t(k)] = true;
            }
        }
    }
    for (int k = 0; k < FN; ++k) {
        TLineBlock& B = FBlocks[size_t(k)];
        // The client sums up conflicts only after an update that went through.
        if (Done[size_t(k)])
            for (const QString& L : ConflictSummary(B.Fold().Facts()))
                B.Add(L);
        // A block that broke off before its revision line holds the error that ended it;
        // without an error line in it the cause is unknown, and the folder runs again.
        if (Failed[size_t(k)] && !B.Fold().Facts().ErrorLine)
            Failed[size_t(k)] = false;
    }
}

// Info: one block per folder, "Path: D" first (D relative to WorkDir), a blank line after.
void TBatchSplitter::StepInfo(const QString& Line) {
    if (FOpen < 0) {
        if (Line.startsWith(QLatin1String("Path: "))) {
            const int K = FDisplay.indexOf(Line.mid(6));
            if (K >= 0 && !Done[size_t(K)]) {
                FOpen = K;
                FBlocks[size_t(K)].Add(QStringLiteral("Path: ."));
            }
        }
        return; // error lines of folders that run again
    }
    FBlocks[size_t(FOpen)].Add(Line);
    if (Line.isEmpty()) {
        Done[size_t(FOpen)] = true;
        ++FInfoDone;
        FOpen = -1;
    }
}

void TBatchSplitter::FinishInfo() {
    // The last block may end without its blank line when the output ends: it runs again.
    FOpen = -1;
}

TBatchSplit SplitBatch(TSvnTask Task, const QStringList& Output, const QStringList& Folders,
                       const QString& WorkDir, int ExitCode) {
    std::vector<TLineBlock> Blocks;
    for (const QString& F : Folders)
        Blocks.emplace_back(Task, F);
    TBatchSplitter Splitter(Task, Folders, WorkDir, Blocks);
    for (const QString& L : Output)
        Splitter.Feed(L);
    Splitter.Finish(ExitCode);
    TBatchSplit S;
    S.Done = Splitter.Done;
    S.Failed = Splitter.Failed;
    for (const TLineBlock& B : Blocks)
        S.Blocks.push_back(B.Lines());
    return S;
}
