// The states a working copy can be in and the tasks the program runs on it, each once, as a
// row of a table: every part of the program (the engine, the store, the tree, the summary,
// kivsvn) asks these tables and never switches over states or tasks itself.
#pragma once

#include <QString>
#include <QStringList>

// What a project's last task found. The order is the tables' order; the store and kivsvn name
// states by their key, never by number.
enum class TSvnState {
    Clean,          // status: nothing to report
    Changes,        // local changes
    OutOfDate,      // status with the server: the repository is ahead
    Conflict,       // conflicts, from this task or an earlier one
    Updated,        // update: the revision changed
    Current,        // update: already at the latest revision
    Info,           // info: read
    NotWorkingCopy, // the folder is no working copy
    Error,          // the client failed
    Missing,        // the folder does not exist (or is a file)
    NoAccess,       // the folder cannot be read
    TooLong,        // the path is too long for the system
    NoClient,       // svn could not be started
    NoTerminal,     // no terminal window for the terminal form
    TimedOut,       // ended by the time limit
    Cancelled,      // interrupted by a cancel while it ran
    NotRun,         // not run: the run was cancelled before it got there
    Locked,         // a working-copy lock is left behind: "svn cleanup" is needed
    Incomplete,     // an interrupted update left folders incomplete: update again
    ReposLocked,    // a file is locked in the repository by another copy (information)
    CheckedOut,     // checkout: the copy was checked out (or a broken-off checkout finished)
    OtherUrl,       // checkout: the folder holds a working copy of another URL; left alone
    NoServer,       // the server could not be reached (the monitor's, a status -u's)
    LoginNeeded,    // the server wants a login the client could not give
};

// How the tree draws a state; the window picks the colours for its palette.
enum class TStateLook { Good, Changed, Behind, Conflict, Error, Missing, Neutral };

// Which count of a run's summary a state adds to.
enum class TTallyGroup {
    None,
    Changed,
    Behind,
    Updated,
    CheckedOut,
    Conflict,
    Locked,
    Incomplete,
    Missing,
    Failed,
    Cancelled,
    NotRun
};

struct TStateRow {
    TSvnState State;
    const char* Key;     // for scripts and the store file ("clean", "changes", ...)
    const char* Caption; // German, UTF-8: "lokale Änderungen"
    TStateLook Look;
    bool NeedsAction; // "nur Handlungsbedarf" shows it
    bool Failure;     // the task went wrong or left the copy unusable: kivsvn exits 1
    int Weight;       // when two findings meet (an update and the status after it), the
                      // heavier one is the copy's state
    TTallyGroup Tally;
};

const TStateRow& StateRow(TSvnState State);
// All rows, in the order of the enum.
const QList<TStateRow>& StateRows();
// The state for a key; false when no row has it.
bool StateFromKey(const QString& Key, TSvnState& State);

inline QString StateKey(TSvnState State) { return QString::fromLatin1(StateRow(State).Key); }
inline QString StateText(TSvnState State) { return QString::fromUtf8(StateRow(State).Caption); }
inline bool NeedsAttention(TSvnState State) { return StateRow(State).NeedsAction; }
inline bool IsFailure(TSvnState State) { return StateRow(State).Failure; }
// The heavier of two findings.
TSvnState Heavier(TSvnState A, TSvnState B);

// The tasks over whole copies (status, update, info, checkout), and those the changes window
// runs on the items a user chose (commit, revert, resolve, add, diff, log): a run gives these
// their own arguments and targets (TSvnRunOptions).
enum class TSvnTask {
    Status, StatusRemote, Update, Info, Checkout, UrlInfo, Commit, Revert, Resolve, Add, Diff, Log
};

// Where a task's client runs and what it is given.
enum class TTaskPlace {
    Folder,     // the project's folder, which must exist: the client runs in it or is given it
    IntoFolder, // makes the folder: the client runs in the nearest folder above it that exists
                // and is given the project's URL and the folder (a folder that exists must be
                // empty, or a copy of that URL that an earlier run left incomplete)
    Url,        // the project's URL alone: no folder is involved
};

struct TTaskRow {
    TSvnTask Task;
    const char* Key;      // for the store file ("status", "status-u", ...)
    QStringList Arguments; // the subcommand and its options, before the targets
    const char* Title;    // German, UTF-8: the window's caption for it
    bool Batched;         // many folders per client, split back per folder
    bool Server;          // talks to the repository's server: its clients' round trips
                          // overlap, so more of them run at once (ServerClients)
    int BatchSize;        // folders per client when batched; for server work the most, fewer
                          // where that gives every client some
    bool Spread;          // local work: every client gets one batch, of at least BatchSize
    bool ChangesCopy;     // changes the working copy: its revision is read before, its state
                          // after, and an interrupted run is checked for a lock it left
    TTaskPlace Place = TTaskPlace::Folder;
    bool ReadsUrl = false; // the copy's URL comes along: a batched `svn info` afterwards, for
                           // the copies whose URL is not known yet or that changed since
    // German, for a task that changes the copy: the note when a cancel stopped it there, the
    // subject of "... wurde unterbrochen", and how to finish a copy it left incomplete.
    const char* StoppedNote = nullptr;
    const char* CutShort = nullptr;
    const char* Resume = nullptr;
    // A target holding an "@" gets a trailing "@", so that the client does not read a revision
    // into it (svn diff reads its targets without one).
    bool PegTargets = true;
    // What it prints depends on nothing but the copy on disk and svn's settings: a watched copy
    // unchanged since it ran is answered from the store.
    bool Answerable = false;
    // It reports what the server has beside the copy (status -u): the store keeps that as the
    // server's part, and a server that did not answer leaves the copy's own state as it was.
    bool ServerView = false;
};

// Clients at once for server work (or the user's number, when that is higher).
inline constexpr int ServerClients = 16;

const TTaskRow& TaskRow(TSvnTask Task);
// Folders per client for a task over Units folders with Clients at once.
int BatchSizeFor(const TTaskRow& Row, int Units, int Clients);
const QList<TTaskRow>& TaskRows();
bool TaskFromKey(const QString& Key, TSvnTask& Task);
inline QString TaskTitle(TSvnTask Task) { return QString::fromUtf8(TaskRow(Task).Title); }
// The subcommand ("status" for both forms of the test).
inline QString TaskCommand(TSvnTask Task) { return TaskRow(Task).Arguments.value(0); }

// A run's findings counted for the summary: "400 Projekte: 3 mit Änderungen, 1 Fehler".
struct TRunTally {
    int Projects = 0;
    int Counts[int(TTallyGroup::NotRun) + 1] = {};
    // Beside the state, what else is true of the copy: a copy that is fine may count as
    // changed, behind and updated at once; one in trouble counts only as its trouble.
    void Add(TSvnState State, bool HasChanges = false, bool IsBehind = false,
             bool RevisionChanged = false);
    int Count(TTallyGroup G) const { return Counts[int(G)]; }
};
QString TallyText(const TRunTally& T);
