// fm_changes: the window of one working copy's changes, beside the main window: the changed
// items with their status and a check box each, the difference of the selected one, a commit
// of the checked ones with a message, a revert, the resolving of a conflict, and the copy's
// log. Every client it starts runs through the task controller, never two on one copy at once;
// the copy-changing ones record the copy's new state in the store, so the tree follows.
#pragma once

#include "KivForm.h"
#include "svn_changes.h"
#include "svn_engine.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTimer;
class QTreeView;
class QTreeWidget;
class TChangesModel;
class TDiffView;
class TTaskController;

// The last commit messages of this program, newest first (at most LastMessagesKept), kept in
// the program's settings file.
inline constexpr int LastMessagesKept = 10;
QStringList LastCommitMessages();
// Puts Message first (once). False with the German reason when the file could not be written.
bool RememberCommitMessage(const QString& Message, QString* Error = nullptr);
// A message typed for a copy and not committed yet, kept until it is.
QString CommitDraft(const QString& Folder);
bool SaveCommitDraft(const QString& Folder, const QString& Message, QString* Error = nullptr);

class TfmChanges : public TKivForm {
    Q_OBJECT
public:
    // Items of one status the list holds at most; beyond them they are counted.
    static constexpr int MaxItems = 200000;
    // Lines of one file's difference shown at most.
    static constexpr int MaxDiffLines = 3000;
    // Log entries read.
    static constexpr int LogEntries = 100;

    // Base: the window's options for the client (time limit). The window is the controller's
    // guest: it lives as long as its parent and starts nothing once the controller is gone.
    TfmChanges(TTaskController* Tasks, const TSvnProject& Project, const TSvnRunOptions& Base,
               QWidget* Parent = nullptr);
    ~TfmChanges() override;

    const TSvnProject& Project() const { return FProject; }

    QTabWidget* pag1 = nullptr;
    QWidget* tabAenderungen = nullptr;
    QTreeView* lvAenderungen = nullptr;
    TChangesModel* Model = nullptr;
    QCheckBox* cbUnversioniert = nullptr;
    QLabel* lblAnzahl = nullptr;
    QPushButton* btnNeuLesen = nullptr;
    QSplitter* Splitter1 = nullptr;
    QTabWidget* pagUnten = nullptr;
    TDiffView* mmUnterschiede = nullptr;
    QPlainTextEdit* mmAusgabe = nullptr;
    QLabel* lblNachricht = nullptr;
    QComboBox* cmbNachrichten = nullptr;
    QPlainTextEdit* mmNachricht = nullptr;
    QPushButton* btnUebertragen = nullptr;
    QPushButton* btnRueckgaengig = nullptr;
    QPushButton* btnLoesen = nullptr;
    QMenu* PopupLoesen = nullptr;
    QAction* actMeine = nullptr;    // mine-full
    QAction* actIhre = nullptr;     // theirs-full
    QAction* actWieJetzt = nullptr; // working
    QPushButton* btnAbbrechen = nullptr; // shown while a change runs
    QPushButton* btnSchliessen = nullptr;
    QWidget* tabLog = nullptr;
    QTreeWidget* lvLog = nullptr;
    QPlainTextEdit* mmLogNachricht = nullptr;
    QTreeWidget* lvLogPfade = nullptr;
    QPushButton* btnLogNeuLesen = nullptr;
    QLabel* lblStatus = nullptr;

    // The list anew from a fresh "svn status".
    void btnNeuLesenClick();
    void btnUebertragenClick();
    void btnRueckgaengigClick();
    // Resolves the selected conflicted items as Accept ("mine-full", "theirs-full", "working").
    void Resolve(const QString& Accept);
    void ShowLogPage();
    void btnLogNeuLesenClick();

    // Whether svn works for this window (on its copy, or waiting for it).
    bool Working() const;
    // A change of the copy runs (commit, revert, resolve, add).
    bool Changing() const { return FChanging; }
    // Interrupts the change that runs (a second call ends the client at once).
    void btnAbbrechenClick();

protected:
    void done(int Result) override;
    void changeEvent(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void CreateComponents();
    TSvnRunOptions Options(TSvnTask Task) const;
    // A run through the controller; Done gets its outcome (not for a run that never ran).
    TSvnRun* Start(TSvnTask Task, TSvnRunOptions Options,
                   std::function<void(const TSvnOutcome&)> Done);
    void ReadStatus(bool Remote = false); // Remote: "status -u", the server asked too
    void ShowStatus(const TSvnOutcome& Outcome);
    void ShowStored();
    void SelectionChanged();
    void ShowDiffOfCurrent();
    void UpdateCounts();
    void UpdateButtons();
    void Commit(const QList<TChangeItem>& Chosen, const QString& Message, QStringList Added);
    void RevertGroup(QStringList Whole, QStringList Alone);
    // The client's lines and the program's notes of a change in the output page; the reason,
    // in German, in the status line. True when it went well.
    bool Report(const QString& Title, const TSvnOutcome& Outcome);
    // After a change: the list anew (AskServer: with the server's view), the buttons back.
    void Changed(bool AskServer = false);
    void SetStatusText(const QString& Text, bool Problem = false);
    void ReadLog();
    void LogEntryChanged();
    void SaveDraft();
    void FillMessages();
    QList<int> SelectedRows() const;

    QPointer<TTaskController> FTasks;
    TSvnProject FProject;
    TSvnRunOptions FBase;
    QPointer<TSvnRun> FStatusRun, FDiffRun, FLogRun, FPathsRun, FChangeRun;
    int FWaiting = 0; // runs waiting for another client on the copy
    bool FChanging = false;
    bool FStatusAgain = false; // a status was asked for while one ran
    bool FCloseWhenDone = false;
    bool FShowOutput = false; // the client's report stays in view until a file is picked
    bool FRestoring = false;  // the list puts its current row back itself
    bool FLogRead = false;
    QString FDiffPath; // the item whose difference is shown or coming
    QTimer* FDiffLater;
    QList<TLogEntry> FLog;
    QHash<qint64, QList<TLogPath>> FLogPaths;
};
