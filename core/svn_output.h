// What the Subversion client prints, read without a process: the output filter of the memo,
// the state of a project decided from its lines, and the splitting of one client's output over
// many folders back into what each folder's own run prints. Pure functions, tested alone.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

enum class TSvnTask { Status, Update, Info };

// What a project's last run found. The first group comes from the client's lines, the second
// from the folder or the run itself.
enum class TSvnState {
    Clean,          // status: nothing to report
    Changes,        // status: local changes
    OutOfDate,      // status with the server: the repository is ahead
    Conflict,       // status or update: conflicts
    Updated,        // update: files changed
    Current,        // update: already at the latest revision
    Info,           // info: read
    NotWorkingCopy, // the folder is no working copy
    Error,          // the client failed
    Missing,        // the folder does not exist (or is a file)
    NoAccess,       // the folder cannot be read
    TooLong,        // the path is too long for the system
    NoClient,       // svn could not be started
    NoTerminal,     // no terminal window for the console form
    TimedOut,       // ended by the time limit
    Cancelled,      // not run, or ended, by a cancel
};

// Whether a state means the user should look (everything but clean, current, info, updated).
bool NeedsAttention(TSvnState State);
// Whether the project's run went wrong: it failed, ended in a conflict, or did not run at all
// (what kivsvn's exit code counts, and what the short display never leaves out).
bool IsFailure(TSvnState State);
// The state in a few German words, as the tree's tooltip and the summary name it.
QString StateText(TSvnState State);
// A name for scripts ("clean", "changes", ...).
QString StateKey(TSvnState State);

// What the lines of one folder's run say.
struct TSvnVerdict {
    TSvnState State = TSvnState::Clean;
    bool HasChanges = false;  // status: local changes or unversioned files
    bool IsBehind = false;    // status -u: an item is out of date
    bool HasConflict = false; // status, update: a conflict
    int Files = 0;            // update: items the update touched
    QString Url;              // info: the repository URL
};
TSvnVerdict DecideState(TSvnTask Task, const QStringList& Lines, int ExitCode);

// Removes the first line that is "Updating '.':" (compared without regard to case).
QStringList FilterOutput(QStringList Lines);
// With the short display: nothing left, or one line beginning with "REVISION" or
// "AT REVISION" (upper-cased a to z), leaves the project out; so does the one line
// "Status against revision: N" of a status that asked the server.
bool LeftOutInShort(const QStringList& Filtered);
// The URL of `svn info` lines: the first line beginning with "URL:" (case-sensitive, at the
// start), the rest trimmed of blanks and control characters; "" when there is none.
QString ExtractSvnUrl(const QStringList& Lines);

// One client run over many folders, cut back into each folder's own output.
struct TBatchSplit {
    std::vector<QStringList> Blocks; // per folder: the lines its own run prints
    std::vector<bool> Done;          // the block is whole: the folder needs no run of its own
    std::vector<bool> Failed;        // update: the folder's run broke off with an error (its
                                     // block holds what it printed up to and with the error)
};
// Folders: absolute and clean, none inside another. The batch ran in WorkDir, "svn TASK
// [-u] FOLDER..." (Status: ShowUpdates adds -u). A folder that is neither Done nor Failed
// must run again; for an update that is safe, since its run had not begun.
TBatchSplit SplitBatch(TSvnTask Task, bool ShowUpdates, const QStringList& Output,
                       const QStringList& Folders, const QString& WorkDir, int ExitCode);

// What the client prints for an absolute path when it runs in WorkDir and names paths
// relative to its current folder ("." for WorkDir itself).
QString SvnDisplayPath(const QString& AbsPath, const QString& WorkDir);
