// The Subversion tasks of the "Aufgaben" page and the automatic search: the window's side of
// the task controller.
#include "fm_addgruppe.h"
#include "fm_main.h"
#include "kiv_folders.h"
#include "kiv_nodestate.h"
#include "kiv_output.h"
#include "kiv_prompts.h"
#include "kiv_registry.h"
#include "kiv_statusbar.h"
#include "kiv_taskcontrol.h"
#include "kiv_terminal.h"
#include "kiv_treefilter.h"
#include "svn_search.h"

#include <QCheckBox>
#include <QLocale>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

namespace {

QString TreePathOf(TXMLTreeNode* Node) {
    QStringList Names;
    for (TXMLTreeNode* N = Node; N && N->ParentNode(); N = N->ParentNode())
        Names.prepend(N->XMLElement()->GetAttribute(QStringLiteral("Name")));
    return Names.join(u'/');
}

// The projects at and below Node in the tree's order, each folder resolved once.
std::vector<TSvnProject> Snapshot(TXMLTreeNode* Node) {
    std::vector<TSvnProject> Projects;
    std::vector<TXMLTreeNode*> Pending{Node}; // depth first: the next node last
    while (!Pending.empty()) {
        TXMLTreeNode* N = Pending.back();
        Pending.pop_back();
        if (GetElementKind(N) != ekProject) {
            for (int i = N->childCount() - 1; i >= 0; --i)
                Pending.push_back(N->ChildNode(i));
            continue;
        }
        const QString Dir = N->XMLElement()->GetAttribute(QStringLiteral("Verzeichnis"));
        Projects.push_back({N->XMLElement()->GetAttribute(QStringLiteral("Name")), Dir,
                            ProjectFolder(Dir), TreePathOf(N), 0,
                            N->XMLElement()->GetAttribute(UrlAttribute)});
    }
    return Projects;
}

} // namespace

void TfmMain::InitTasks() {
    Tasks = new TTaskController(this);
    Output = new TOutputView(mmExec);
    // Every node of the tree draws its project's state from the store.
    TreeLook = std::make_unique<TTreeLook>(Tasks->Store());
    TreeLook->SetPalette(lvDir->palette());
    lvDir->OnCreateNodeClass = [this](TkivXMLTreeView*, TXMLTreeNodeClass& NodeClass) {
        const TTreeLook* Look = TreeLook.get();
        NodeClass = [Look](TXMLTreeNodes* Owner) { return new TStateNode(Owner, Look); };
    };
    auto StatesChanged = [this] {
        lvDir->viewport()->update();
        TreeFilter->StatesChanged();
    };
    connect(Tasks->Store(), &TStateStore::Changed, this, StatesChanged);
    connect(Tasks->Store(), &TStateStore::Reloaded, this, StatesChanged);
    const QString Note = Tasks->LoadStates();
    if (!Note.isEmpty())
        StatusBar1->ShowMessage(Note);

    FCancelKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    FCancelKey->setEnabled(false);
    auto CancelAll = [this] {
        if (TSvnRun* Run = Tasks->Run()) {
            if (!Run->Cancelling())
                Output->Append(QStringLiteral("*** Abbruch: die laufenden Aufrufe von svn werden "
                                              "unterbrochen (erneut Abbrechen überspringt auch "
                                              "die Prüfung der Arbeitskopien danach)"));
            else if (!Run->SkippingChecks())
                Output->Append(QStringLiteral("*** Die Prüfung der Arbeitskopien wird "
                                              "übersprungen"));
        }
        Tasks->Cancel(false); // the changes windows' own work goes on
    };
    connect(StatusBar1, &TkivStatusBar::CancelClicked, this, CancelAll);
    connect(FCancelKey, &QShortcut::activated, this, CancelAll);

    connect(Tasks, &TTaskController::BusyChanged, this, [this](bool Busy) {
        const bool Running = Tasks->Running();
        ToolButton8->setEnabled(!Running);
        ToolButton7->setEnabled(!Running);
        StatusBar1->SetCancelVisible(Running || Tasks->Searching());
        FCancelKey->setEnabled(Running || Tasks->Searching());
        if (Busy && !FShowingBusy)
            StartBusy();
        else if (!Busy && FShowingBusy)
            StopBusy();
        FShowingBusy = Busy;
        if (!Busy && FCloseWhenIdle)
            QTimer::singleShot(0, this, [this] { close(); });
        else if (FCloseWhenIdle)
            ShowClosingWait();
    });
    connect(Tasks, &TTaskController::ProjectDone, this, [this](int Index, const TSvnOutcome& O) {
        const TSvnRun* Run = Tasks->Run();
        if (!Run)
            return;
        // "kurze Anzeige" counts as it is when the block arrives.
        const QStringList Block = ProjectBlock(Run->Projects()[size_t(Index)], O,
                                               cbKurz->isChecked());
        const bool Status = TaskCommand(Run->Task()) == u"status";
        const int FirstNote = int(Block.size() - O.Notes.size()) - (O.Omitted > 0 ? 1 : 0);
        for (int i = 0; i < Block.size(); ++i)
            Output->Append(Block.at(i), i >= FirstNote ? TOutputView::TKind::Note
                                        : Status && i > 0 ? TOutputView::TKind::Status
                                                          : TOutputView::TKind::Plain);
    });
    connect(Tasks, &TTaskController::RunWaiting, this, [this] {
        Output->Append(QStringLiteral("*** Wartet, bis svn in einem Fenster „Änderungen“ mit "
                                      "dieser Arbeitskopie fertig ist …"),
                       TOutputView::TKind::Note);
    });
    connect(Tasks, &TTaskController::RunProgress, this,
            [this](int Done, int Total) { StatusBar1->ShowProgress(Done, Total); });
    connect(Tasks, &TTaskController::RunFinished, this, [this](bool Cancelled) {
        Output->Append(Cancelled ? QStringLiteral("*** Abgebrochen") : QStringLiteral("*** Ende"));
        const QString Tally = TallyText(Tasks->Tally());
        StatusBar1->ShowMessage(Cancelled ? QStringLiteral("Abgebrochen – ") + Tally : Tally);
    });
    connect(Tasks, &TTaskController::SearchProgress, this,
            [this](int Folders, int Found) { StatusBar1->ShowSearch(Folders, Found); });
    connect(Tasks, &TTaskController::Offer, this, [this](const QString& Folder, int) {
        bool End = false;
        TXMLTreeNode* Root = lvDir->XMLItems()->TopNode(0);
        // The registry may have changed since the walk started.
        if (Root && !FCloseWhenIdle && !IsRegistered(Root->XMLElement(), Folder, ProjectBase()))
            Guarded([&] {
                TXMLTreeNode* Added = nullptr;
                End = ShowSearchEntryDialog(
                    Root, Folder,
                    [this] {
                        return TSearchQueue{Tasks->OffersWaiting(),
                                            Tasks->Searching() && !Tasks->WalkDone()};
                    },
                    &Added);
                LearnUrlOf(Added);
            });
        Tasks->Answered(End || !Root || FCloseWhenIdle);
    });
    connect(Tasks, &TTaskController::SearchFinished, this,
            [this](bool Cancelled, int Folders, int Found, const QString& StartError,
                   const QStringList& Notes) {
                const QLocale German(QLocale::German);
                StatusBar1->ShowMessage(
                    !StartError.isEmpty()
                        ? QStringLiteral("Suche nicht möglich")
                        : QStringLiteral("Suche %1: %2 Ordner durchsucht, %3 Arbeitskopien "
                                         "gefunden")
                              .arg(Cancelled ? QStringLiteral("beendet") : QStringLiteral("fertig"),
                                   German.toString(Folders), German.toString(Found)));
                if (FCloseWhenIdle)
                    return;
                if (!Notes.isEmpty())
                    ShowInfo(SearchNotesText(Notes));
                if (!StartError.isEmpty())
                    ShowError(StartError);
                else if (!Cancelled)
                    ShowInfo(QStringLiteral("Keine weiteren Projekte gefunden"));
            });
    InitRepos();
    connect(Tasks, &TTaskController::ExportFinished, this, [this](const QString& File, bool Ok) {
        if (Ok)
            StatusBar1->ShowWritten(File);
        else
            StatusBar1->ShowMessage(QStringLiteral("HTML-Seite nicht geschrieben: %1").arg(File));
    });
}

void TfmMain::StopBackgroundWork() {
    // The hard way: whatever still runs ends now (the controller's end waits for its clients).
    delete Tasks;
    Tasks = nullptr;
}

void TfmMain::ShowClosingWait() {
    if (Tasks && Tasks->Busy())
        StatusBar1->ShowMessage(QStringLiteral("Das Programm endet, sobald dies vorbei ist: %1 …")
                                    .arg(Tasks->WaitingFor()));
}

void TfmMain::ToolButton8Click() {
    RunSvnTask(QStringLiteral("status"), ToolButton8->text(), false);
}

void TfmMain::ToolButton7Click() {
    RunSvnTask(QStringLiteral("update"), ToolButton7->text(), false);
}

void TfmMain::inDOSBoxausfhren1Click() {
    // Better said once than once per project.
    if (FindTerminal().isEmpty()) {
        ShowError(NoTerminalText());
        return;
    }
    RunSvnTask(QStringLiteral("update"), ToolButton7->text(), true);
}

void TfmMain::RunSvnTask(const QString& SubCommand, const QString& Title, bool Console) {
    TXMLTreeNode* Selected = lvDir->Selected();
    if (!Selected || !Tasks || Tasks->Running() || FCloseWhenIdle)
        return;
    const TSvnTask Task = SubCommand == u"update"             ? TSvnTask::Update
                          : SubCommand == u"checkout"         ? TSvnTask::Checkout
                          : !Console && cbServer->isChecked() ? TSvnTask::StatusRemote
                                                              : TSvnTask::Status;
    // The snapshot: what the run works on, whatever happens to the tree meanwhile.
    StartSvnRun(Snapshot(Selected), Task, Title, Console);
}

bool TfmMain::StartSvnRun(std::vector<TSvnProject> Projects, TSvnTask Task, const QString& Title,
                          bool Console) {
    if (!Tasks || Tasks->Running() || FCloseWhenIdle)
        return false;
    FMemoShowsStored = false;
    Output->Clear();
    Output->Append(QStringLiteral("*** ") + Title);
    TkivXmlElement* Root = lvDir->XMLItems()->RootElement();
    TSvnRunOptions Options;
    Options.Console = Console;
    Options.Jobs = JobCount(Root);
    Options.TimeoutSeconds = TimeoutSeconds(Root);
    // What the registry does not keep, the store may know: the URL a checkout needs.
    for (TSvnProject& P : Projects)
        if (const TStoredState* S = P.Url.isEmpty() ? Tasks->Store()->Find(P.Folder) : nullptr)
            P.Url = S->Url;
    StatusBar1->ShowProgress(0, int(Projects.size()));
    return Tasks->StartRun(std::move(Projects), Task, Options);
}

void TfmMain::ShowStoredOutput(TXMLTreeNode* Node) {
    if (!Node || !Tasks || Tasks->Running())
        return;
    // The memo shows what the last runs found for the selected node, until a run starts.
    FMemoShowsStored = true;
    Output->Clear(false);
    const std::vector<TSvnProject> Projects = Snapshot(Node);
    const QLocale German(QLocale::German);
    int Shown = 0;
    for (const TSvnProject& P : Projects) {
        const TStoredState* S = Tasks->Store()->Find(P.Folder);
        if (!S)
            continue;
        TSvnOutcome O;
        O.State = S->State;
        O.Lines = S->Lines;
        O.Omitted = S->Omitted;
        O.Notes = S->Notes;
        const QStringList Block = ProjectBlock(P, O, cbKurz->isChecked());
        if (Block.isEmpty())
            continue;
        if (Shown++ == 0)
            Output->Append(QStringLiteral("*** Zuletzt festgestellt (Stand der letzten Läufe)"));
        const QDateTime When = S->Time.toLocalTime();
        Output->Append(Block.first() + QStringLiteral("   [%1, %2 %3]")
                                           .arg(TaskTitle(S->Task),
                                                German.toString(When.date(),
                                                                QStringLiteral("dd.MM.yyyy")),
                                                German.toString(When.time(),
                                                                QStringLiteral("HH:mm"))));
        const int FirstNote = int(Block.size() - O.Notes.size()) - (O.Omitted > 0 ? 1 : 0);
        for (int i = 1; i < Block.size(); ++i)
            Output->Append(Block.at(i), i >= FirstNote ? TOutputView::TKind::Note
                                        : TaskCommand(S->Task) == u"status"
                                            ? TOutputView::TKind::Status
                                            : TOutputView::TKind::Plain);
    }
}

void TfmMain::btnAutoSuchenClick() {
    if (!Tasks || Tasks->Searching() ||
        !AskYesNo(QStringLiteral("Automatisch nach SVN-Projekten suchen?"), true))
        return;
    btnAutoSuchen->setEnabled(false);
    TXMLTreeNode* Root = lvDir->XMLItems()->TopNode(0);
    if (!Root)
        return;
    Tasks->StartSearch(SearchStartFolder(), RegisteredKeys(Root->XMLElement(), ProjectBase()));
}
