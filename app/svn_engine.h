// The Subversion task engine: runs the client over a snapshot of projects on worker threads
// and hands each project's block to its owner in tree order. Shared by the main window and
// the command-line tool kivsvn.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class TkivXmlElement;

// One project of a run, as it was when the run started.
struct TSvnProject {
    QString Name;
    QString Directory; // "Verzeichnis" as stored
    QString TreePath;  // names from below the root, joined by "/"
    quint64 Id = 0;    // the caller's key for finding the node again
};

enum class TSvnState { Clean, Changes, Error, Missing, NoClient, Cancelled };

struct TSvnOutcome {
    QStringList Lines; // the client's lines, unfiltered
    int ExitCode = 0;
    TSvnState State = TSvnState::Clean;
};

inline const QString MissingFolderLine = QStringLiteral("Verzeichnis nicht gefunden");
inline const QString NoClientLine = QStringLiteral("svn konnte nicht gestartet werden");

// Removes the first line that is "Updating '.':" (compared without regard to case).
QStringList FilterOutput(QStringList Lines);
// With the short display: nothing left, or one line beginning with "REVISION" or
// "AT REVISION" (upper-cased a to z), leaves the project out.
bool LeftOutInShort(const QStringList& Filtered);
// The memo lines of one project: "--> " + directory and the filtered lines; empty when the
// short display leaves it out. A missing folder or a client that could not be started is
// always shown.
QStringList ProjectBlock(const TSvnProject& Project, const TSvnOutcome& Outcome, bool Short);

// Splits the output of one "svn status DIR1 DIR2 ..." (absolute, clean paths) into the lines
// each folder's own "svn status" run would print. Returns false when any line cannot be
// attributed safely (externals, changelists, conflict summaries, warnings, anything unknown).
bool SplitStatusBatch(const QStringList& Output, const QStringList& Folders,
                      std::vector<QStringList>& PerFolder);

// Collects the projects at and below Element in child order (the registry's kinds).
void CollectProjects(TkivXmlElement* Element, const QString& TreePath,
                     std::vector<TSvnProject>& Projects);
// The same, each element's children sorted as the tree sorts its captions (by "Name").
void CollectProjectsInCaptionOrder(TkivXmlElement* Element, const QString& TreePath,
                                   std::vector<TSvnProject>& Projects);
// The same with the children sorted by Less on their names (none: stored order).
void CollectProjects(TkivXmlElement* Element, const QString& TreePath,
                     std::vector<TSvnProject>& Projects,
                     const std::function<bool(const QString&, const QString&)>& Less);

// The number of clients that run at once: the root's "Jobs", else the number of cores, at
// least 2.
int JobCount(const TkivXmlElement* Root);

class TSvnRun : public QObject {
    Q_OBJECT
public:
    // SubCommand: "status", "update" or "info". Console: each update in a terminal window,
    // one at a time.
    TSvnRun(std::vector<TSvnProject> Projects, QString SubCommand, bool Console, int Jobs,
            QObject* Parent = nullptr);
    ~TSvnRun() override; // cancels and waits for the workers

    void Start();
    void Cancel();
    bool Running() const { return FRunning; }
    const std::vector<TSvnProject>& Projects() const { return FProjects; }
    QString SvnProgram = QStringLiteral("svn");

signals:
    // In tree order: Index 0, 1, 2, ... each as soon as it and all before it are done.
    void ProjectDone(int Index, const TSvnOutcome& Outcome);
    void Finished(bool Cancelled);

private:
    struct TBatch {
        std::vector<int> Indices;
    };
    void Work();
    void RunBatch(const TBatch& Batch);
    TSvnOutcome RunOne(int Index);
    void Deliver(int Index, TSvnOutcome Outcome); // any thread
    void Arrived(int Index, const TSvnOutcome& Outcome);

    std::vector<TSvnProject> FProjects;
    QString FSubCommand;
    bool FConsole;
    int FJobs;
    std::vector<TBatch> FBatches;
    std::atomic<int> FNextBatch{0};
    std::atomic<bool> FCancel{false};
    std::vector<std::thread> FWorkers;
    std::vector<std::unique_ptr<TSvnOutcome>> FDone;
    int FNextDeliver = 0;
    int FWorkersLeft = 0;
    bool FRunning = false;
};

Q_DECLARE_METATYPE(TSvnOutcome)
