// The one store of what every working copy was found to be: per project folder the state,
// the task that decided it and when, the revision and URL, the client's lines and notes.
// Every run writes into it (the window's, the terminal form, kivsvn); the tree, its tooltips,
// the summary, the filter and kivsvn read it. It is kept in the user's cache folder between
// starts, never in the registry; the window and kivsvn may write it at the same time.
#pragma once

#include "svn_changes.h"
#include "svn_output.h"
#include "svn_tables.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

struct TSvnOutcome;

// What the server was last found to have for a copy: asked by the server monitor, or by a test
// for changes that asked the server. Kept beside the copy's own state, which a later local check
// replaces without touching this.
struct TServerNews {
    QDateTime Time;                     // when (UTC); invalid: never asked
    TSvnState State = TSvnState::Clean; // OutOfDate: the copy is behind; Clean: it is not; else
                                        // what kept the server from answering (NoServer,
                                        // LoginNeeded, TimedOut, Error, ...)
    qint64 Head = -1;                   // the repository's latest revision then
    qint64 Base = -1;                   // the copy's revision then, when the log was read
    int NewRevisions = -1;              // revisions after Base that touched the copy; -1: unknown
    bool More = false;                  // there are more than NewRevisions (the log was cut)
    QList<TLogEntry> Log;               // the newest first
    QStringList Notes;                  // the client's words when it failed
    // The newest revision already told as news; kept while the server cannot be asked, so that
    // one coming back after an outage tells nothing twice.
    qint64 Told = -1;

    bool Known() const { return Time.isValid(); }
    bool Behind() const { return Known() && State == TSvnState::OutOfDate; }
};

struct TStoredState {
    TSvnState State = TSvnState::Clean;
    TSvnTask Task = TSvnTask::Status;
    QDateTime Time;            // when it was decided (UTC); invalid: never
    qint64 Revision = -1;      // the copy's revision, when a task learnt it
    qint64 ServerRevision = -1; // the repository's latest, when the server was asked
    QString Url;               // the repository URL, when a task learnt it
    QStringList Lines;         // the client's lines, at most KeptLines of them
    qint64 Omitted = 0;        // lines beyond those
    QStringList Notes;         // the program's own lines
    int ExitCode = 0;
    int Files = -1;            // update: items it touched
    bool HasChanges = false;
    bool IsBehind = false;
    bool RevisionChanged = false; // update: the copy's revision moved
    bool Switched = false;
    TServerNews Server;
    // The watcher's generation of the copy, read before the client looked at it: while the
    // watcher says the copy is unchanged since, the lines are what svn would print now. Only
    // for this session's watcher; never saved.
    quint64 Generation = 0;

    bool Known() const { return Time.isValid(); }
    // The state the project shows: the copy's own, or what the server said where that weighs
    // more (behind, no login).
    TSvnState Shown() const { return Server.Known() ? Heavier(State, Server.State) : State; }
};

// What a status that asked the server says of it, taking over what Old knew of the same
// revisions (the log the monitor read).
TServerNews ServerNewsOf(const TSvnOutcome& Outcome, const QDateTime& When,
                         const TServerNews* Old = nullptr);

class TStateStore : public QObject {
    Q_OBJECT
public:
    // Lines kept per project: enough for what a person reads, small enough for the cache file.
    static constexpr int KeptLines = 2000;

    explicit TStateStore(QObject* Parent = nullptr);

    // $XDG_CACHE_HOME/kivSubversion/zustaende.json (else ~/.cache/...).
    static QString DefaultFileName();

    // The state stored for a project folder (ProjectFolder's form); null when never checked.
    const TStoredState* Find(const QString& Folder) const;
    // Whether the state was decided in this session (since the store was made), not read
    // from an earlier one.
    bool Fresh(const TStoredState& S) const { return S.Time >= FSessionStart; }
    // A task's outcome for Folder. A project the run never reached changes nothing. A local
    // task keeps what the server was found to have; a test that asked the server replaces
    // it, an update that reached a revision forgets it.
    void Record(const QString& Folder, TSvnTask Task, const TSvnOutcome& Outcome);
    // What the server monitor found for Folder; the copy's own state stays. A folder never
    // checked takes the monitor's status as its state too.
    void RecordServer(const QString& Folder, const TServerNews& News,
                      const TSvnOutcome* Outcome = nullptr);
    void Put(const QString& Folder, const TStoredState& State);
    int Count() const { return int(FStates.size()); }
    QStringList Folders() const { return FStates.keys(); }

    // Reads the file; entries already in the store stay where they are newer. A file that is
    // damaged or not this program's is moved aside (its new name in the returned German note)
    // and the store starts empty; "" when all went well or there was no file.
    QString Load(const QString& FileName);
    // Writes the store, merged with what another program wrote into the file meanwhile (per
    // folder the newer entry wins; the merged entries come into this store too), under a
    // lock, atomically. False with the German reason on failure; nothing is lost then.
    bool Save(const QString& FileName, QString* Error = nullptr);
    // Changed since the last Load or Save.
    bool Dirty() const { return FDirty; }

signals:
    void Changed(const QString& Folder);
    // Many entries changed at once (a load or a merge).
    void Reloaded();

private:
    bool Merge(const QHash<QString, TStoredState>& Other);
    QHash<QString, TStoredState> FStates;
    QDateTime FSessionStart;
    bool FDirty = false;
};

// The file's text for states, and back (for the store, and for tests).
QByteArray StoreFileText(const QHash<QString, TStoredState>& States);
// False when Text is not a store file of this program.
bool ParseStoreFileText(const QByteArray& Text, QHash<QString, TStoredState>& States);
