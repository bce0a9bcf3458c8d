// fm_main: the main window, which is at the same time the keeper of the project registry.
#pragma once

#include "KivForm.h"
#include "kiv_XMLTreeView.h"
#include "kiv_kinds.h"
#include "svn_engine.h"

#include <QHash>
#include <QIcon>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <memory>

class QAction;
class QCheckBox;
class QFileSystemModel;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QToolBar;
class QToolButton;
class QTreeView;
class QWidget;
class TSingleInstance;
class TkivStatusBar;
class TTreeFilter;
class TWindowState;
class TFolderOpener;
class TBusyIndicator;
class TTaskController;
class TOutputView;
class TTreeLook;
class QShortcut;
class QSpinBox;
class QTimer;
class TRegistryDocument;
class TkivTray;
class TkivNotifier;
class TfmChanges;

// The kind of a registry node, from its element name.
TElementKind GetElementKind(TXMLTreeNode* Node);

class TfmMain : public TKivForm {
    Q_OBJECT
public:
    explicit TfmMain(QWidget* Parent = nullptr);
    ~TfmMain() override;

    // Components, in the order of the window's description.
    QToolBar* ToolBar1 = nullptr;
    QToolButton* ToolButton1 = nullptr;
    QFrame* ToolButton2 = nullptr; // separators
    QToolButton* ToolButton11 = nullptr;
    QToolButton* ToolButton4 = nullptr;
    QFrame* ToolButton5 = nullptr;
    QToolButton* ToolButton13 = nullptr;
    QFrame* ToolButton12 = nullptr;
    QToolButton* btnAutoSuchen = nullptr;
    QFrame* ToolButton14 = nullptr;
    QToolButton* ToolButton15 = nullptr;
    TkivXMLTreeView* lvDir = nullptr;
    TTreeFilter* TreeFilter = nullptr; // the filter row above lvDir, holding lvDir
    QSplitter* Splitter1 = nullptr;
    QWidget* pnl1 = nullptr;
    QLabel* lbl1 = nullptr;
    QLineEdit* edVerzeichnis = nullptr;
    QToolButton* btnOpenVerzeichnis = nullptr;
    QTabWidget* pag1 = nullptr;
    QWidget* tab1 = nullptr;
    QToolBar* ToolBar2 = nullptr;
    QToolButton* ToolButton8 = nullptr;
    QToolButton* ToolButton7 = nullptr;
    QWidget* Panel1 = nullptr;
    QCheckBox* cbKurz = nullptr;
    QCheckBox* cbServer = nullptr; // "mit Server": the test for changes asks the server too
    QPlainTextEdit* mmExec = nullptr;
    TBusyIndicator* avi = nullptr;
    QWidget* tab2 = nullptr;
    QTreeView* lvShell = nullptr;
    QFileSystemModel* lvShellModel = nullptr; // the folder list's model, set on first use
    TFolderOpener* FolderOpener = nullptr;     // opens the folder list's entries
    QList<QIcon> ImageList1;
    TSingleInstance* SingleInstance1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Ausfhren1 = nullptr;
    QAction* inDOSBoxausfhren1 = nullptr;
    TkivStatusBar* StatusBar1 = nullptr;
    TWindowState* WindowState = nullptr; // place, size and selection between starts

    // Start and stop.
    void KivFormCreate();
    void KivFormAfterCreate();
    void KivFormDestroy();
    void ToolButton1Click();
    QString RegistryFileName() const;
    // True once the registry was read, or freshly created, in this run: only then is it
    // written at exit.
    bool RegistryLoaded() const;
    // The registry file: reading, what changed since, the save at the end (kiv_registrydoc).
    TRegistryDocument* Registry = nullptr;

    // Tree commands.
    TXMLTreeNode* ContainerNode() const;
    void ToolButton11Click();
    void ToolButton4Click();
    void ToolButton13Click();

    // Tree events.
    void lvDirChangeXML(TkivXMLTreeView* Sender, TXMLTreeNode* Node);
    void lvDirChange(TkivXMLTreeView* Sender, TXMLTreeNode* Node);
    void lvDirEditing(TkivXMLTreeView* Sender, TXMLTreeNode* Node, bool& AllowEdit);
    void lvDirEdited(TkivXMLTreeView* Sender, TXMLTreeNode* Node, QString& S);
    void lvDirDragOverXML(TkivXMLTreeView* Sender, TXMLTreeNode* Selected, TXMLTreeNode* Over,
                          bool& Accept);
    void lvDirGetImageIndex(TkivXMLTreeView* Sender, TXMLTreeNode* Node, int& ImageIndex);
    void lvDirContextPopup(const QPoint& MousePos, bool& Handled);

    // Output page and directory field.
    void cbKurzClick();
    void cbServerClick();
    void edVerzeichnisChange();
    void btnOpenVerzeichnisClick();
    // Busy indicator; calls nest, so overlapping long jobs (a task run, the search, an
    // export) keep it running until the last of them stops.
    void StartBusy();
    void StopBusy();
    int BusyCount() const { return FBusyCount; }

    // Subversion tasks and the automatic search (fm_main_tasks.cpp).
    void ToolButton8Click();
    void ToolButton7Click();
    void inDOSBoxausfhren1Click();
    void RunSvnTask(const QString& SubCommand, const QString& Title, bool Console);
    // A run of Task over Projects, shown in the memo under Title; false when one runs already.
    bool StartSvnRun(std::vector<TSvnProject> Projects, TSvnTask Task, const QString& Title,
                     bool Console = false);
    void btnAutoSuchenClick();
    void InitTasks();          // called at the end of the constructor
    void StopBackgroundWork(); // ends running work at once (the end of the program)
    // The runs, the search, the exports and the state store (a child of the window).
    TTaskController* Tasks = nullptr;
    TOutputView* Output = nullptr; // writes into mmExec
    // The memo shows the selected node's last known output (no run since the selection).
    void ShowStoredOutput(TXMLTreeNode* Node);
    // The stored state of a project node; null for groups and never-checked projects.
    const struct TStoredState* NodeState(const TXMLTreeNode* Node) const;

    // The live copies and the server monitor (fm_main_live.cpp): every registered copy watched,
    // the monitor's interval ("ServerMinuten" on the root) on the main tool bar, its news in a
    // desktop notification and on the tray icon.
    QLabel* lblServerMinuten = nullptr;
    QSpinBox* edServerMinuten = nullptr;
    TkivTray* Tray = nullptr;
    TkivNotifier* Notifier = nullptr;
    void InitLive();           // after InitTasks
    void LiveRegistryLoaded(); // the registry has been read: watch it, the monitor as it says
    void UpdateLiveProjects(); // the registry's projects changed
    void edServerMinutenChange();
    // Repository URLs, checking out what is missing, .repos files (fm_main_repos.cpp).
    void CheckoutMissingClick(); // the selected node's projects whose folder is missing
    void ImportReposClick();     // a .repos file into the selected group
    void ExportReposClick();     // the selected node's projects as a .repos file
    void InitRepos();            // called at the end of InitTasks
    // Keeps a project folder's URL in every project element that names the folder ("URL"),
    // where it differs; a moment later, many at once.
    void KeepLearntUrl(const QString& Folder, const QString& Url);
    void LearnUrlOf(TXMLTreeNode* Project); // a new entry's URL, read in the background
    void ApplyLearntUrls();                 // the URLs waiting, into the tree now
    // The changes window (fm_main_changes.cpp): "Änderungen …" of a project, one window per
    // copy, beside the main window; Log opens it on its log page.
    void ShowChanges(TXMLTreeNode* Node, bool Log = false);
    void InitChanges(); // called at the end of the constructor
    // The open changes window of a project folder (ProjectFolder); null when there is none.
    TfmChanges* ChangesWindow(const QString& Folder) const;

    // HTML export (fm_main_export.cpp).
    void ToolButton15Click();
    // Ends exports still running when the program ends without waiting for them (the
    // session's end, a signal's time out, the window destroyed), and says that their pages
    // were not written (in a message box, or unattended on standard error).
    void StopExports(bool Unattended);

    // Closes the window as the user would, first closing any open modal dialog or message
    // box; used for SIGTERM, SIGINT and the end of the session.
    void RequestClose();
    // Stops background work and writes the registry, once; errors are shown, or, when a
    // signal or the session's end closes the program, reported on standard error and in the
    // system log (nobody may be there to answer a message box).
    void FinishRun(bool Unattended = false);
    // Writes the registry now (when the session manager asks for the data to be saved); a
    // failure is reported as in an unattended FinishRun.
    void SaveRegistryNow();

protected:
    // Closing while work runs asks first, cancels it, and closes once it has ended.
    void done(int Result) override;
    void changeEvent(QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void FinishImport(bool Cancelled); // the URLs' check has ended: enter the import, or not
    void CreateComponents();
    void CreateImages();
    void ShowClosingWait();
    std::unique_ptr<TTreeLook> TreeLook;
    QTimer* FLiveLater = nullptr;
    QTimer* FMonitorLater = nullptr;
    QTimer* FTrayLater = nullptr;
    QShortcut* FCancelKey = nullptr;
    bool FShowingBusy = false;
    bool FCloseWhenIdle = false; // the window closes when the work it waits for has ended
    bool FMemoShowsStored = false;
    bool FFinished = false;
    bool FClosingUnattended = false; // a signal or the session's end closes the window
    int FBusyCount = 0;
    QHash<QString, QString> FLearntUrls;     // folder -> URL, not yet in the tree
    struct TPendingImport;                   // a .repos import waiting for its URLs' check
    std::shared_ptr<TPendingImport> FImport; // shared: its type is known only in its file
    QHash<QString, QPointer<TfmChanges>> FChangesWindows;
};

// Shows the message of an exception that reached the application's handling.
void HandleException(const std::exception& E);
// Runs Handler and hands any exception to HandleException: used for every event handler so
// that no exception passes through the toolkit's frames.
template <typename F> void Guarded(F&& Handler) {
    try {
        Handler();
    } catch (const std::exception& E) {
        HandleException(E);
    }
}
