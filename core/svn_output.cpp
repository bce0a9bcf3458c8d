#include "svn_output.h"

#include "kiv_kinds.h"

namespace {

const QLatin1String StatusAgainst("Status against revision:");
const QLatin1String PerformingExternal("Performing status on external item at '");
const QLatin1String FetchingExternal("Fetching external item into '");
const QLatin1String SummaryOfConflicts("Summary of conflicts:");
const QLatin1String SummaryOfUpdates("Summary of updates:");

bool NotWorkingCopyLine(const QString& Line) {
    return Line.startsWith(QLatin1String("svn: warning: W155007:")) ||
           Line.startsWith(QLatin1String("svn: E155007:"));
}

// The columns and the path of a status line; false for any other line.
bool StatusItem(const QString& Line, bool ShowUpdates, QString* Path = nullptr) {
    const int At = ShowUpdates ? 21 : 8;
    if (Line.size() <= At || Line.at(7) != u' ')
        return false;
    if (ShowUpdates && (Line.at(9) != u' ' || Line.mid(18, 3) != QLatin1String("   ")))
        return false;
    if (Path)
        *Path = Line.mid(At);
    return true;
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

// The summary the folder's own update prints after its lines, counted from them as the client
// counts them.
QStringList ConflictSummary(const QStringList& Block) {
    int Text = 0, Prop = 0, Tree = 0, Skipped = 0;
    for (const QString& L : Block) {
        if (UpdateItem(L)) {
            Text += L.at(0) == u'C';
            Prop += L.at(1) == u'C';
            Tree += L.at(3) == u'C';
        } else if (L.startsWith(QLatin1String("Skipped "))) {
            ++Skipped;
        }
    }
    if (Text + Prop + Tree + Skipped == 0)
        return {};
    QStringList S{SummaryOfConflicts};
    if (Text)
        S << QStringLiteral("  Text conflicts: %1").arg(Text);
    if (Prop)
        S << QStringLiteral("  Property conflicts: %1").arg(Prop);
    if (Tree)
        S << QStringLiteral("  Tree conflicts: %1").arg(Tree);
    if (Skipped)
        S << QStringLiteral("  Skipped paths: %1").arg(Skipped);
    return S;
}

QStringList DisplayPaths(const QStringList& Folders, const QString& WorkDir) {
    QStringList Display;
    for (const QString& F : Folders)
        Display << SvnDisplayPath(F, WorkDir);
    return Display;
}

TBatchSplit EmptySplit(int Count) {
    TBatchSplit S;
    S.Blocks.assign(size_t(Count), QStringList());
    S.Done.assign(size_t(Count), false);
    S.Failed.assign(size_t(Count), false);
    return S;
}

// Status, plain or with -u. Items carry absolute paths; each folder's items come together, in
// the order of the folders; with -u each folder (and each external inside it) ends with its
// "Status against revision" line.
TBatchSplit SplitStatus(bool ShowUpdates, const QStringList& Output, const QStringList& Folders,
                        const QString& WorkDir, int ExitCode) {
    const int N = Folders.size();
    TBatchSplit S = EmptySplit(N);
    // Changelists come after a folder's other lines (with -u even after its revision line),
    // and nothing tells whose they are: every folder runs on its own.
    // The same for the conflict summary, which sums up all folders at the very end.
    for (const QString& Line : Output)
        if (Line.startsWith(QLatin1String("--- Changelist '")) || Line == SummaryOfConflicts)
            return S;
    int Cur = 0;
    bool AfterTerminator = false; // -u: the current folder has printed its revision line
    bool Broken = false;
    QString PendingBlank; // a blank line belongs to the external section that follows it
    bool HavePendingBlank = false;
    auto Take = [&](int Owner) {
        // Folders without output in between have nothing to say; they are done.
        if (Owner < Cur || (ShowUpdates && Owner != Cur))
            return false;
        for (int k = Cur; k < Owner; ++k)
            S.Done[size_t(k)] = true;
        Cur = Owner;
        return true;
    };
    for (qsizetype li = 0; li < Output.size() && !Broken; ++li) {
        const QString& Line = Output.at(li);
        if (ShowUpdates && AfterTerminator) {
            // After a folder's revision line comes either one of its externals or the next folder.
            const bool External = Line.isEmpty() && li + 1 < Output.size() &&
                                  Output.at(li + 1).startsWith(PerformingExternal) &&
                                  OwnerOf(QStringLiteral("/") + Output.at(li + 1).mid(
                                                                      PerformingExternal.size()),
                                          Folders) == Cur;
            AfterTerminator = false;
            if (!External) {
                S.Done[size_t(Cur)] = true;
                if (++Cur >= N) {
                    Broken = true;
                    break;
                }
            }
        }
        if (Cur >= N) {
            Broken = true;
            break;
        }
        if (Line.isEmpty()) {
            if (HavePendingBlank) {
                Broken = true;
                break;
            }
            HavePendingBlank = true;
            PendingBlank = Line;
            continue;
        }
        QString Path;
        if (Line.startsWith(PerformingExternal) && Line.endsWith(QLatin1String("':"))) {
            const QString Shown = Line.mid(PerformingExternal.size(),
                                           Line.size() - PerformingExternal.size() - 2);
            const QString Abs = WorkDir == u"/" ? u'/' + Shown : WorkDir + u'/' + Shown;
            const int Owner = OwnerOf(Abs, Folders);
            if (Owner < 0 || !Take(Owner) || !HavePendingBlank) {
                Broken = true;
                break;
            }
            S.Blocks[size_t(Cur)] << PendingBlank
                                  << PerformingExternal + Relative(Abs, Folders.at(Cur)) +
                                         QStringLiteral("':");
            HavePendingBlank = false;
            continue;
        }
        if (HavePendingBlank) {
            Broken = true;
            break;
        }
        if (ShowUpdates && Line.startsWith(StatusAgainst)) {
            S.Blocks[size_t(Cur)] << Line;
            AfterTerminator = true;
            continue;
        }
        if (Line.startsWith(QLatin1String("svn: warning: W155007: '")) &&
            Line.endsWith(QLatin1String("' is not a working copy"))) {
            const QString Quoted = Line.mid(24, Line.size() - 24 - 23);
            const int Owner = Folders.indexOf(Quoted);
            if (Owner < 0 || Owner < Cur) {
                Broken = true;
                break;
            }
            for (int k = Cur; k < Owner; ++k)
                S.Done[size_t(k)] = !ShowUpdates; // with -u each folder ends with its own line
            if (ShowUpdates && Owner != Cur) {
                Broken = true;
                break;
            }
            Cur = Owner;
            S.Blocks[size_t(Cur)] << Line;
            // A folder that is no working copy prints nothing else.
            S.Done[size_t(Cur)] = true;
            ++Cur;
            continue;
        }
        if (Line.startsWith(QLatin1String("      >"))) {
            // A tree conflict's description belongs to the item above it.
            if (S.Blocks[size_t(Cur)].isEmpty()) {
                Broken = true;
                break;
            }
            S.Blocks[size_t(Cur)] << Line;
            continue;
        }
        if (!StatusItem(Line, ShowUpdates, &Path)) {
            Broken = true; // conflict summaries, errors, anything unknown
            break;
        }
        const int Owner = OwnerOf(Path, Folders);
        // With -u an unversioned folder names itself differently in its own run (by its name,
        // not as "."): that folder runs on its own.
        if (Owner < 0 || !Take(Owner) ||
            (ShowUpdates && Path == Folders.at(Owner) && Line.at(0) == u'?')) {
            Broken = true;
            break;
        }
        const int At = ShowUpdates ? 21 : 8;
        S.Blocks[size_t(Cur)] << Line.left(At) + Relative(Path, Folders.at(Cur));
    }
    if (ShowUpdates) {
        if (!Broken && AfterTerminator && Cur < N)
            S.Done[size_t(Cur)] = true;
        if (Broken || ExitCode != 0) {
            // Only folders ended by their revision line count; the rest run again.
            for (int k = 0; k < N; ++k)
                if (S.Done[size_t(k)] &&
                    (S.Blocks[size_t(k)].isEmpty() ||
                     (!S.Blocks[size_t(k)].last().startsWith(StatusAgainst) &&
                      !NotWorkingCopyLine(S.Blocks[size_t(k)].last()))))
                    S.Done[size_t(k)] = false;
        }
        return S;
    }
    if (Broken || HavePendingBlank || ExitCode != 0)
        return EmptySplit(N); // nothing can be told apart safely: every folder runs alone
    S.Done.assign(size_t(N), true);
    return S;
}

// Update: each folder's block begins with "Updating 'D':" (D relative to WorkDir) and ends
// with its revision line; summaries for all folders follow at the end.
TBatchSplit SplitUpdate(const QStringList& Output, const QStringList& Folders,
                        const QString& WorkDir) {
    const int N = Folders.size();
    TBatchSplit S = EmptySplit(N);
    const QStringList Display = DisplayPaths(Folders, WorkDir);
    int Open = -1;         // the folder whose block is being read
    bool OpenEnded = false; // its revision line has come
    QStringList ExternalsFailed;
    bool InSummary = false;
    auto Close = [&] {
        if (Open >= 0) {
            if (OpenEnded)
                S.Done[size_t(Open)] = true;
            else
                S.Failed[size_t(Open)] = true;
        }
        Open = -1;
        OpenEnded = false;
    };
    for (const QString& Line : Output) {
        if (Line.startsWith(QLatin1String("Updating '")) && Line.endsWith(QLatin1String("':"))) {
            Close();
            InSummary = false;
            const int K = Display.indexOf(Line.mid(10, Line.size() - 12));
            if (K < 0 || S.Done[size_t(K)] || S.Failed[size_t(K)])
                continue; // not ours to name: those folders run again
            Open = K;
            S.Blocks[size_t(K)] << QStringLiteral("Updating '.':");
            continue;
        }
        if (Line == SummaryOfUpdates || Line == SummaryOfConflicts) {
            Close();
            InSummary = true;
            continue;
        }
        if (InSummary && Line.startsWith(QLatin1String("  ")))
            continue;
        InSummary = false;
        if (Open >= 0 && !OpenEnded) {
            S.Blocks[size_t(Open)] << Rebase(Line, Display.at(Open));
            if (Line.startsWith(QLatin1String("At revision ")) ||
                Line.startsWith(QLatin1String("Updated to revision ")))
                OpenEnded = true;
            continue;
        }
        // After a folder's revision line, or before any header: a skipped folder that is no
        // working copy, or an error that stopped the client before the next folder began.
        // Folders not reached are neither done nor failed: they run again. The one error the
        // client keeps for the very end is that of failed externals.
        if (Line.startsWith(QLatin1String("svn: E205011:")))
            ExternalsFailed << Line;
        Close();
    }
    Close();
    // Failed externals: the folders that were warned of them end with that error, as their
    // own runs do, and count as failed.
    if (!ExternalsFailed.isEmpty()) {
        for (int k = 0; k < N; ++k) {
            if (!S.Done[size_t(k)])
                continue;
            bool Warned = false;
            for (const QString& L : S.Blocks[size_t(k)])
                Warned = Warned || L.startsWith(QLatin1String("svn: warning: W205011:"));
            if (Warned) {
                S.Blocks[size_t(k)] += ExternalsFailed;
                S.Done[size_t(k)] = false;
                S.Failed[size_t(k)] = true;
            }
        }
    }
    for (int k = 0; k < N; ++k) {
        // The client sums up conflicts only after an update that went through.
        if (S.Done[size_t(k)])
            S.Blocks[size_t(k)] += ConflictSummary(S.Blocks[size_t(k)]);
        // A block that broke off before its revision line holds the error that ended it;
        // without an error line in it the cause is unknown, and the folder runs again.
        if (S.Failed[size_t(k)]) {
            bool HasError = false;
            for (const QString& L : S.Blocks[size_t(k)])
                HasError = HasError || L.startsWith(QLatin1String("svn: E"));
            if (!HasError) {
                S.Failed[size_t(k)] = false;
                S.Blocks[size_t(k)].clear();
            }
        }
    }
    return S;
}

// Info: one block per folder, "Path: D" first (D relative to WorkDir), a blank line after.
TBatchSplit SplitInfo(const QStringList& Output, const QStringList& Folders,
                      const QString& WorkDir) {
    const int N = Folders.size();
    TBatchSplit S = EmptySplit(N);
    const QStringList Display = DisplayPaths(Folders, WorkDir);
    int Open = -1;
    for (const QString& Line : Output) {
        if (Open < 0) {
            if (Line.startsWith(QLatin1String("Path: "))) {
                const int K = Display.indexOf(Line.mid(6));
                if (K >= 0 && !S.Done[size_t(K)]) {
                    Open = K;
                    S.Blocks[size_t(K)] << QStringLiteral("Path: .");
                }
            }
            continue; // error lines of folders that run again
        }
        S.Blocks[size_t(Open)] << Line;
        if (Line.isEmpty()) {
            S.Done[size_t(Open)] = true;
            Open = -1;
        }
    }
    if (Open >= 0) // the last block may end without its blank line when the output ends
        S.Blocks[size_t(Open)].clear();
    return S;
}

} // namespace

bool NeedsAttention(TSvnState State) {
    switch (State) {
    case TSvnState::Clean:
    case TSvnState::Current:
    case TSvnState::Updated:
    case TSvnState::Info:
        return false;
    default:
        return true;
    }
}

bool IsFailure(TSvnState State) {
    return NeedsAttention(State) && State != TSvnState::Changes && State != TSvnState::OutOfDate;
}

QString StateText(TSvnState State) {
    switch (State) {
    case TSvnState::Clean:
        return QStringLiteral("keine Änderungen");
    case TSvnState::Changes:
        return QStringLiteral("lokale Änderungen");
    case TSvnState::OutOfDate:
        return QStringLiteral("veraltet");
    case TSvnState::Conflict:
        return QStringLiteral("Konflikt");
    case TSvnState::Updated:
        return QStringLiteral("aktualisiert");
    case TSvnState::Current:
        return QStringLiteral("bereits aktuell");
    case TSvnState::Info:
        return QStringLiteral("Info gelesen");
    case TSvnState::NotWorkingCopy:
        return QStringLiteral("kein Arbeitsverzeichnis");
    case TSvnState::Error:
        return QStringLiteral("Fehler");
    case TSvnState::Missing:
        return QStringLiteral("Verzeichnis fehlt");
    case TSvnState::NoAccess:
        return QStringLiteral("kein Zugriff");
    case TSvnState::TooLong:
        return QStringLiteral("Pfad zu lang");
    case TSvnState::NoClient:
        return QStringLiteral("svn nicht gestartet");
    case TSvnState::NoTerminal:
        return QStringLiteral("kein Terminal");
    case TSvnState::TimedOut:
        return QStringLiteral("Zeitlimit überschritten");
    case TSvnState::Cancelled:
        return QStringLiteral("abgebrochen");
    }
    return QString();
}

QString StateKey(TSvnState State) {
    switch (State) {
    case TSvnState::Clean:
        return QStringLiteral("clean");
    case TSvnState::Changes:
        return QStringLiteral("changes");
    case TSvnState::OutOfDate:
        return QStringLiteral("outdated");
    case TSvnState::Conflict:
        return QStringLiteral("conflict");
    case TSvnState::Updated:
        return QStringLiteral("updated");
    case TSvnState::Current:
        return QStringLiteral("current");
    case TSvnState::Info:
        return QStringLiteral("info");
    case TSvnState::NotWorkingCopy:
        return QStringLiteral("not-a-working-copy");
    case TSvnState::Error:
    case TSvnState::NoClient:
    case TSvnState::NoTerminal:
    case TSvnState::NoAccess:
    case TSvnState::TooLong:
        return QStringLiteral("error");
    case TSvnState::Missing:
        return QStringLiteral("missing");
    case TSvnState::TimedOut:
        return QStringLiteral("timeout");
    case TSvnState::Cancelled:
        return QStringLiteral("cancelled");
    }
    return QString();
}

TSvnVerdict DecideState(TSvnTask Task, const QStringList& Lines, int ExitCode) {
    TSvnVerdict V;
    bool ErrorLine = false;
    for (const QString& L : Lines) {
        if (NotWorkingCopyLine(L)) {
            V.State = TSvnState::NotWorkingCopy;
            return V;
        }
        if (L.startsWith(QLatin1String("svn: E")))
            ErrorLine = true;
        if (L == SummaryOfConflicts)
            V.HasConflict = true;
        switch (Task) {
        case TSvnTask::Status: {
            const bool ShowUpdates = StatusItem(L, true);
            if (!ShowUpdates && !StatusItem(L, false))
                break;
            const QString Cols = L.left(7);
            if (Cols.at(0) == u'C' || Cols.at(1) == u'C' || Cols.at(6) == u'C')
                V.HasConflict = true;
            if (ShowUpdates && L.at(8) == u'*')
                V.IsBehind = true;
            // An external's definition line ("X") is no change of its own.
            if (!Cols.trimmed().isEmpty() && Cols != QLatin1String("X      "))
                V.HasChanges = true;
            break;
        }
        case TSvnTask::Update:
            if (UpdateItem(L)) {
                ++V.Files;
                if (L.at(0) == u'C' || L.at(1) == u'C' || L.at(3) == u'C')
                    V.HasConflict = true;
            }
            break;
        case TSvnTask::Info:
            break;
        }
    }
    if (Task == TSvnTask::Info)
        V.Url = ExtractSvnUrl(Lines);
    if (ExitCode != 0 || ErrorLine)
        V.State = TSvnState::Error;
    else if (V.HasConflict)
        V.State = TSvnState::Conflict;
    else if (Task == TSvnTask::Status)
        V.State = V.IsBehind     ? TSvnState::OutOfDate
                  : V.HasChanges ? TSvnState::Changes
                                 : TSvnState::Clean;
    else if (Task == TSvnTask::Update)
        V.State = V.Files > 0 ? TSvnState::Updated : TSvnState::Current;
    else
        V.State = TSvnState::Info;
    return V;
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

QString SvnDisplayPath(const QString& AbsPath, const QString& WorkDir) {
    if (AbsPath == WorkDir)
        return QStringLiteral(".");
    const QString Prefix = WorkDir.endsWith(u'/') ? WorkDir : WorkDir + u'/';
    if (AbsPath.startsWith(Prefix))
        return AbsPath.mid(Prefix.size());
    return AbsPath;
}

TBatchSplit SplitBatch(TSvnTask Task, bool ShowUpdates, const QStringList& Output,
                       const QStringList& Folders, const QString& WorkDir, int ExitCode) {
    switch (Task) {
    case TSvnTask::Status:
        return SplitStatus(ShowUpdates, Output, Folders, WorkDir, ExitCode);
    case TSvnTask::Update:
        return SplitUpdate(Output, Folders, WorkDir);
    case TSvnTask::Info:
        return SplitInfo(Output, Folders, WorkDir);
    }
    return EmptySplit(Folders.size());
}
