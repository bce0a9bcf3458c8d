// What the Subversion client prints, read without a process: the output filter of the memo,
// the facts a folder's lines carry and the state they decide, and the splitting of one
// client's output over many folders back into what each folder's own run prints, line by line
// as the output arrives. Pure functions and small classes, tested alone.
#pragma once

#include "svn_tables.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QTemporaryFile;

// One line of "svn status": the seven columns, the out-of-date mark of "status -u", the path.
// Columns: 0 item, 1 properties, 2 working-copy lock "L", 3 "+" history, 4 "S" switched or
// "X" file external, 5 repository lock (K O T B), 6 "C" tree conflict.
struct TStatusItem {
    QString Columns; // exactly seven characters
    bool OutOfDate = false;
    QString Path;
    int PathAt = 0;  // where the path begins in the line
};
// False for any line that is not a status item. Remote: the line comes from "status -u";
// unknown (the default): either form.
enum class TStatusForm { Plain, Remote, Either };
bool ParseStatusLine(const QString& Line, TStatusItem* Item = nullptr,
                     TStatusForm Form = TStatusForm::Either);

// What one folder's lines say, gathered a line at a time (a run may print more lines than
// are kept).
struct TSvnVerdict {
    TSvnState State = TSvnState::Clean;
    bool HasChanges = false;   // status: local changes or unversioned files
    bool IsBehind = false;     // status -u: an item is out of date
    bool HasConflict = false;  // status, update: a conflict
    bool WcLocked = false;     // a working-copy lock ("L", or the client refuses for one)
    bool Incomplete = false;   // folders an interrupted update left incomplete
    bool ReposLocked = false;  // a lock in the repository this copy does not hold
    bool Switched = false;     // an item is switched to another URL
    bool NotWorkingCopy = false;
    bool ErrorLine = false;    // the client printed an error ("svn: E...")
    bool ExternalsWarned = false; // update: a warning that externals failed (W205011)
    bool OutOfDateRefused = false; // commit: refused, the server has newer versions of items
    bool ConflictRefused = false;  // commit: refused, an item is still in conflict
    int Files = 0;                 // update: items the update touched; -1 when not known; commit:
                                   // items sent
    int TextConflicts = 0, PropConflicts = 0, TreeConflicts = 0, Skipped = 0; // update
    qint64 Revision = -1;       // update: the revision it ended at; info: the copy's; commit:
                                // the revision it made
    qint64 RevisionBefore = -1; // update: the copy's revision before, when it was read
    qint64 ServerRevision = -1; // status -u: the repository's latest revision
    QString Url;               // info: the repository URL
};

// Gathers a verdict line by line. Folder (absolute, may be empty) lets "!" items be told
// apart: an item that still exists as a folder is incomplete, one that is gone is missing.
class TVerdictFold {
public:
    TVerdictFold(TSvnTask Task = TSvnTask::Status, QString Folder = QString())
        : FTask(Task), FFolder(std::move(Folder)) {}
    void Add(const QString& Line);
    const TSvnVerdict& Facts() const { return FV; }
    // The state the facts and the exit code decide.
    TSvnVerdict Decide(int ExitCode) const;

private:
    TSvnTask FTask;
    QString FFolder;
    TSvnVerdict FV;
};

// The same over lines at hand.
TSvnVerdict DecideState(TSvnTask Task, const QStringList& Lines, int ExitCode,
                        const QString& Folder = QString());

// What the client's error lines say about the server: LoginNeeded when it wanted a login (or a
// certificate confirmed) that the client could not give without asking, NoServer when it could
// not be reached, else Clean.
TSvnState ServerProblemOf(const QStringList& Lines);

// Removes the first line that is "Updating '.':" (compared without regard to case).
QStringList FilterOutput(QStringList Lines);
// With the short display: nothing left, or one line beginning with "REVISION" or
// "AT REVISION" (upper-cased a to z), leaves the project out; so does the one line
// "Status against revision: N" of a status that asked the server.
bool LeftOutInShort(const QStringList& Filtered);
// The URL of `svn info` lines: the first line beginning with "URL:" (case-sensitive, at the
// start), the rest trimmed of blanks and control characters; "" when there is none.
QString ExtractSvnUrl(const QStringList& Lines);

// One folder's lines as a run gathers them: the first Keep lines held, the rest counted and,
// when Spill is asked for, written to a temporary file in order; the facts of all of them.
class TLineBlock {
public:
    explicit TLineBlock(TSvnTask Task = TSvnTask::Status, QString Folder = QString(),
                        qsizetype Keep = -1, bool Spill = false);
    void Add(const QString& Line);
    void Clear();
    const QStringList& Lines() const { return FLines; }
    qint64 Omitted() const { return FOmitted; }
    qint64 Count() const { return FLines.size() + FOmitted; }
    const QString& Last() const { return FLast; }
    const TVerdictFold& Fold() const { return FFold; }
    // The omitted lines, UTF-8, one per line; null when nothing was omitted or not asked for.
    std::shared_ptr<QTemporaryFile> SpillFile() const { return FSpill; }

private:
    TSvnTask FTask;
    QString FFolder;
    qsizetype FKeep;
    bool FSpillWanted;
    QStringList FLines;
    qint64 FOmitted = 0;
    QString FLast;
    TVerdictFold FFold;
    std::shared_ptr<QTemporaryFile> FSpill;
};

// One client run over many folders ("svn TASK FOLDER..." in WorkDir), cut back into each
// folder's own output as its lines arrive. Folders: absolute and clean, none inside another.
// After Finish, a folder that is neither Done nor Failed must run again; for an update that
// is safe, since its run had not begun.
class TBatchSplitter {
public:
    TBatchSplitter(TSvnTask Task, QStringList Folders, QString WorkDir,
                   std::vector<TLineBlock>& Blocks);
    void Feed(const QString& Line);
    void Finish(int ExitCode);
    // Folders whose output is complete so far (for the progress of a run).
    int Finished() const;
    // Update: folders the client has begun (their header has come); Finish not needed.
    const std::vector<bool>& Begun() const { return FBegun; }
    std::vector<bool> Done;   // the block is whole: the folder needs no run of its own
    std::vector<bool> Failed; // update: broke off with an error (its block holds it)

private:
    void StepStatus(const QString& Line, const QString* Next);
    void FinishStatus(int ExitCode);
    void StepUpdate(const QString& Line);
    void FinishUpdate();
    void StepInfo(const QString& Line);
    void FinishInfo();
    void CloseUpdate();
    bool Take(int Owner);

    TSvnTask FTask;
    QStringList FFolders;
    QString FWorkDir;
    QStringList FDisplay; // each folder as the client names it from WorkDir
    std::vector<TLineBlock>& FBlocks;
    std::vector<bool> FBegun;
    int FN;
    // status
    int FCur = 0;
    bool FAfterTerminator = false;
    bool FBroken = false;
    bool FHavePendingBlank = false;
    QString FBuffered; // one line of lookahead: an external's section begins on the next
    bool FHaveBuffered = false;
    bool FAllAgain = false; // nothing can be told apart: every folder runs on its own
    bool FInSummary = false; // the conflict summary (status) or the update's summaries
    // update
    int FOpen = -1;
    bool FOpenEnded = false;
    QStringList FExternalsFailed;
    int FDetailsOwner = -1; // whose tree conflict's history the client is reporting
    int FClosed = 0;
    // info
    int FInfoDone = 0;
};

// The same over output at hand, every line kept (the tests' way to compare).
struct TBatchSplit {
    std::vector<QStringList> Blocks;
    std::vector<bool> Done;
    std::vector<bool> Failed;
};
TBatchSplit SplitBatch(TSvnTask Task, const QStringList& Output, const QStringList& Folders,
                       const QString& WorkDir, int ExitCode);

// What the client prints for an absolute path when it runs in WorkDir and names paths
// relative to its current folder ("." for WorkDir itself).
QString SvnDisplayPath(const QString& AbsPath, const QString& WorkDir);
