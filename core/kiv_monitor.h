// The server monitor: every so many minutes a "svn status -u" of all projects in the
// background (batched for the server, at low priority), and for the copies that fell behind the
// new revisions from their log (revision, author, first line of the message). What it finds
// goes into the state store beside each copy's own state; what kept it from an answer (no
// server, a login needed, the time limit) too, never into a dialog.
#pragma once

#include "kiv_workers.h"
#include "svn_changes.h"
#include "svn_engine.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <atomic>
#include <vector>

class QTimer;
class TStateStore;

// The environment variable that turns the interval's minutes into seconds, for tests that
// cannot wait minutes: a whole number from 1 to 3600. The user's setting stays in minutes.
inline constexpr char MonitorSecondsVariable[] = "KIV_MONITOR_SECONDS";

class TServerMonitor : public QObject {
    Q_OBJECT
public:
    // Log entries read per copy at most (the newest); more are counted as "more".
    static constexpr int LogLimit = 100;

    explicit TServerMonitor(TStateStore* Store, QObject* Parent = nullptr);
    // A run still going ends at once, its clients ended.
    ~TServerMonitor() override;

    // All the registry's projects.
    void SetProjects(std::vector<TSvnProject> Projects);
    // How runs call svn: clients at once (server work takes more, see the task table), the time
    // limit, the program.
    void SetRunOptions(int Jobs, int TimeoutSeconds,
                       const QString& Program = QStringLiteral("svn"));
    // Minutes between runs; 0 turns it off (a run going is ended). Turned on, the first run
    // comes a moment later, each further one an interval after the last has ended.
    void SetInterval(int Minutes);
    int Interval() const { return FMinutes; }
    bool On() const { return FMinutes > 0; }
    // The interval in milliseconds (minutes, or the test variable's seconds).
    qint64 IntervalMs() const;
    // While the user's own run works the next run waits, and comes when it has ended; a run
    // going stops (Stopped), its clients interrupted, and comes again then.
    void SetBusy(bool Busy);
    // A run now (when none is going), on or off.
    void RunNow();
    bool Running() const { return FRunning; }
    // The projects (tree paths) whose copies the server is ahead of, as the store says now.
    QStringList BehindProjects() const;

signals:
    void RunStarted();
    // A run has ended. News: the projects with revisions the monitor did not know of before
    // (tree paths); Behind: all projects behind now.
    void RunFinished(const QStringList& News, int Behind);
    // A run was stopped before its end (turned off, or the user's run came); nothing recorded.
    void Stopped();

private:
    struct TLogJob {
        QString Folder; // where the client runs (the copy, links resolved)
        qint64 Head = -1;
        qint64 Base = -1;
        QList<TLogEntry> Log;
        bool Read = false;
        QStringList Notes;
    };
    void Tick();
    void StatusDone();
    void ReadLogs();
    void Finish();

    TStateStore* FStore;
    QTimer* FTimer;
    std::vector<TSvnProject> FProjects;
    TSvnRunOptions FOptions;
    int FMinutes = 0;
    bool FBusy = false;
    bool FDeferred = false;
    bool FRunning = false;
    // The run going.
    QPointer<TSvnRun> FRun;
    std::vector<TSvnProject> FRunProjects;
    std::vector<TSvnOutcome> FOutcomes;
    std::vector<TLogJob> FLogJobs;
    std::atomic<int> FNextLog{0};
    std::atomic<bool> FStop{false};
    TkivWorkers FWorkers; // last: its threads end before the rest goes
};
