// The Subversion tasks of the "Aufgaben" page and the automatic search.
#include "fm_addgruppe.h"
#include "fm_main.h"
#include "kiv_folders.h"
#include "kiv_noderoles.h"
#include "kiv_nodestate.h"
#include "kiv_statusbar.h"
#include "kiv_terminal.h"
#include "kiv_prompts.h"
#include "kiv_registry.h"
#include "kiv_system.h"
#include "svn_engine.h"
#include "svn_search.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QTimer>
#include <QAction>
#include <QCheckBox>
#include <QHash>
#include <QPlainTextEdit>
#include <QPointer>
#include <QQueue>
#include <QShortcut>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolBar>
#include <QToolButton>

namespace {

QString TreePathOf(TXMLTreeNode* Node) {
    QStringList Names;
    for (TXMLTreeNode* N = Node; N && N->ParentNode(); N = N->ParentNode())
        Names.prepend(N->XMLElement()->GetAttribute(QStringLiteral("Name")));
    return Names.join(u'/');
}

// svn's status letters, coloured so the few lines that need a look stand out.
QColor StatusColour(QChar C) {
    switch (C.unicode()) {
    case 'M':
    case 'R':
        return QColor(0x1f, 0x4e, 0xb4);
    case 'A':
        return QColor(0x1a, 0x7f, 0x37);
    case 'D':
    case '!':
    case '~':
        return QColor(0xb0, 0x3a, 0x00);
    case 'C':
        return QColor(0xc0, 0x00, 0x00);
    case '?':
        return QColor(0x80, 0x80, 0x80);
    case 'U':
    case 'G':
        return QColor(0x1a, 0x7f, 0x37);
    default:
        return QColor();
    }
}

void AppendLine(QPlainTextEdit* Memo, const QString& Line, bool StatusLine, bool Note) {
    const QColor Base = Memo->palette().color(QPalette::Base);
    QTextCursor C(Memo->document());
    C.movePosition(QTextCursor::End);
    if (!Memo->document()->isEmpty() || Memo->document()->blockCount() > 1 ||
        !Memo->document()->firstBlock().text().isEmpty())
        C.insertBlock();
    QTextCharFormat Plain;
    if (StatusLine && Line.size() > 8 && Line.at(7) == u' ') {
        // The status columns in colour, the path plain: the text stays exactly the line.
        for (int i = 0; i < 7; ++i) {
            QTextCharFormat F;
            const QColor Colour = StatusColour(Line.at(i)).isValid()
                                      ? ReadableOn(StatusColour(Line.at(i)), Base)
                                      : QColor();
            if (Colour.isValid()) {
                F.setForeground(Colour);
                F.setFontWeight(QFont::Bold);
            }
            C.insertText(Line.mid(i, 1), F);
        }
        C.insertText(Line.mid(7), Plain);
    } else if (Note) {
        QTextCharFormat F;
        F.setForeground(ReadableOn(QColor(0xc0, 0x00, 0x00), Base));
        C.insertText(Line, F);
    } else {
        C.insertText(Line, Plain);
    }
}

} // namespace

class TTaskState : public QObject {
public:
    explicit TTaskState(TfmMain* Form) : QObject(Form), Main(Form) {}
    TfmMain* Main;
    QPointer<TSvnRun> Run;
    QPointer<TSvnSearch> Search;
    QQueue<QString> Offers;
    bool Offering = false;
    bool Stopped = false; // the window is closing: no more dialogs
    bool SearchDone = false;
    QShortcut* Escape = nullptr;
    TRunTally Tally;           // of the run going on
    int Found = 0;             // copies the search has found
    QTimer* SearchTicker = nullptr;

    void SetRunning(bool Running) {
        Main->ToolButton8->setEnabled(!Running);
        Main->ToolButton7->setEnabled(!Running);
        Main->StatusBar1->SetCancelVisible(Running || Search);
        Escape->setEnabled(Running || Search);
    }
    void Append(const QString& Line, bool StatusLine = false, bool Note = false) {
        AppendLine(Main->mmExec, Line, StatusLine, Note);
    }
    // The nodes a run's results go to, by their keys; a deleted node leaves at once. The keys
    // live here, not in the nodes, so taking a snapshot changes nothing the view must redraw.
    QHash<quint64, TXMLTreeNode*> NodesById;
    QHash<const TXMLTreeNode*, quint64> IdOf;
    quint64 NextId = 0;
    quint64 KeyOf(TXMLTreeNode* Node) {
        const auto It = IdOf.constFind(Node);
        if (It != IdOf.constEnd())
            return *It;
        const quint64 Id = ++NextId;
        IdOf.insert(Node, Id);
        NodesById.insert(Id, Node);
        return Id;
    }
    void Forget(TXMLTreeNode* Node) {
        const auto It = IdOf.find(Node);
        if (It == IdOf.end())
            return;
        NodesById.remove(*It);
        IdOf.erase(It);
    }
    void MarkNode(quint64 Id, TSvnTask Task, const TSvnOutcome& Outcome);
    void RepaintMarks(); // after the palette changed
    void OfferNext();
    void EndSearch();
};

void TTaskState::MarkNode(quint64 Id, TSvnTask Task, const TSvnOutcome& Outcome) {
    TXMLTreeNode* I = NodesById.value(Id);
    if (!I || Outcome.State == TSvnState::Cancelled)
        return; // deleted meanwhile, or not run
    const QDateTime Now = QDateTime::currentDateTime();
    const TNodeLook Look = LookOf(Outcome.State, Main->lvDir->palette());
    QFont Font = Main->lvDir->font();
    Font.setBold(Look.Bold);
    Font.setItalic(Look.Italic);
    I->setForeground(0, Look.Foreground);
    I->setFont(0, Font);
    I->setToolTip(0, NodeToolTip(Task, Outcome.State, Outcome.Verdict, Now));
    I->setData(0, NodeStateRole, int(Outcome.State)); // last: a filter may listen for it
}

void TTaskState::RepaintMarks() {
    for (TXMLTreeNode* I : std::as_const(NodesById)) {
        const QVariant State = I->data(0, NodeStateRole);
        if (!State.isValid())
            continue;
        const TNodeLook Look = LookOf(TSvnState(State.toInt()), Main->lvDir->palette());
        I->setForeground(0, Look.Foreground);
    }
}

void TTaskState::EndSearch() {
    if (Search)
        Search->Cancel();
    Offers.clear();
}

void TTaskState::OfferNext() {
    if (Offering)
        return;
    Offering = true;
    while (!Stopped && !Offers.isEmpty()) {
        const QString Folder = Offers.dequeue();
        TXMLTreeNode* Root = Main->lvDir->XMLItems()->TopNode(0);
        if (!Root)
            break;
        // The registry may have changed since the walk started.
        if (!IsRegistered(Root->XMLElement(), Folder, ProjectBase())) {
            bool EndIt = false;
            Guarded([&] {
                EndIt = ShowSearchEntryDialog(Root, Folder, [this] {
                    return TSearchQueue{int(Offers.size()), Search && !SearchDone};
                });
            });
            if (EndIt)
                EndSearch();
        }
    }
    Offering = false;
    if (SearchDone && Offers.isEmpty()) {
        const bool Cancelled = Search && Search->Cancelled();
        const int Folders = Search ? Search->FoldersSearched() : 0;
        const QString StartError = Search ? Search->StartError() : QString();
        const QStringList Notes = Search ? Search->Notes() : QStringList();
        if (Search)
            Search->deleteLater();
        Search = nullptr;
        SearchDone = false;
        if (SearchTicker)
            SearchTicker->stop();
        SetRunning(bool(Run));
        Main->StopBusy();
        const QLocale German(QLocale::German);
        Main->StatusBar1->ShowMessage(
            !StartError.isEmpty()
                ? QStringLiteral("Suche nicht möglich")
                : QStringLiteral("Suche %1: %2 Ordner durchsucht, %3 Arbeitskopien gefunden")
                      .arg(Cancelled ? QStringLiteral("beendet") : QStringLiteral("fertig"),
                           German.toString(Folders), German.toString(Found)));
        if (!Notes.isEmpty())
            ShowInfo(SearchNotesText(Notes));
        if (!StartError.isEmpty())
            ShowError(StartError);
        else if (!Cancelled)
            ShowInfo(QStringLiteral("Keine weiteren Projekte gefunden"));
    }
}

void TfmMain::InitTasks() {
    FTasks = new TTaskState(this);
    FTasks->Escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    FTasks->Escape->setEnabled(false);
    auto CancelAll = [this] {
        if (FTasks->Run) {
            FTasks->Run->Cancel();
            if (FTasks->Run->WaitingForUpdates())
                FTasks->Append(QStringLiteral("*** Abbruch: die laufenden Aktualisierungen werden "
                                              "noch beendet (erneut Abbrechen beendet sie sofort)"));
        }
        if (FTasks->Search)
            FTasks->Search->Cancel();
    };
    connect(StatusBar1, &TkivStatusBar::CancelClicked, this, CancelAll);
    connect(FTasks->Escape, &QShortcut::activated, this, CancelAll);
    // A deleted node leaves the keys at once, however it went.
    lvDir->OnDeletion = [this](TkivXMLTreeView*, TXMLTreeNode* Node) { FTasks->Forget(Node); };
}

void TfmMain::StopBackgroundWork() {
    if (!FTasks)
        return;
    FTasks->Stopped = true;
    FTasks->Offers.clear();
    delete FTasks->Run.data(); // cancels and waits for its clients
    delete FTasks->Search.data();
}

void TfmMain::RepaintNodeMarks() {
    FTasks->RepaintMarks();
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
    if (!Selected || FTasks->Run)
        return;
    // The snapshot: what the run works on, whatever happens to the tree meanwhile. Every
    // folder is resolved here, once.
    const QString Base = ProjectBase();
    std::vector<TSvnProject> Projects;
    std::vector<TXMLTreeNode*> Pending{Selected}; // depth first: the next node last
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
                            ProjectFolder(Dir, Base), TreePathOf(N), FTasks->KeyOf(N)});
    }
    mmExec->clear();
    StartBusy();
    FTasks->Append(QStringLiteral("*** ") + Title);
    TkivXmlElement* Root = lvDir->XMLItems()->RootElement();
    TSvnRunOptions Options;
    Options.Console = Console;
    Options.Jobs = JobCount(Root);
    Options.TimeoutSeconds = TimeoutSeconds(Root);
    const TSvnTask Task = SubCommand == u"update" ? TSvnTask::Update : TSvnTask::Status;
    Options.ShowUpdates = Task == TSvnTask::Status && !Console && cbServer->isChecked();
    FTasks->Tally = TRunTally();
    auto* Run = new TSvnRun(std::move(Projects), Task, Options, FTasks);
    FTasks->Run = Run;
    FTasks->SetRunning(true);
    const int Total = int(Run->Projects().size());
    StatusBar1->ShowProgress(0, Total);
    connect(Run, &TSvnRun::ProjectDone, this, [this, Run, Task, Total](int Index, const TSvnOutcome& O) {
        const TSvnProject& P = Run->Projects()[Index];
        // "kurze Anzeige" counts as it is when the block arrives.
        const QStringList Block = ProjectBlock(P, O, cbKurz->isChecked());
        const bool Status = Task == TSvnTask::Status;
        const int FirstNote = Block.size() - O.Notes.size();
        for (int i = 0; i < Block.size(); ++i)
            FTasks->Append(Block.at(i), Status && i > 0 && i < FirstNote, i >= FirstNote);
        FTasks->MarkNode(P.Id, Task, O);
        if (O.State != TSvnState::Cancelled)
            FTasks->Tally.Add(O.State, O.Verdict);
        StatusBar1->ShowProgress(Index + 1, Total);
    });
    connect(Run, &TSvnRun::Finished, this, [this, Run, Total](bool Cancelled) {
        FTasks->Append(Cancelled ? QStringLiteral("*** Abgebrochen") : QStringLiteral("*** Ende"));
        const QLocale German(QLocale::German);
        StatusBar1->ShowMessage(
            Cancelled ? QStringLiteral("Abgebrochen nach %1 von %2 Projekten – %3")
                            .arg(German.toString(FTasks->Tally.Projects), German.toString(Total),
                                 TallyText(FTasks->Tally))
                      : TallyText(FTasks->Tally));
        FTasks->Run = nullptr;
        Run->deleteLater();
        FTasks->SetRunning(false);
        StopBusy();
    });
    Run->Start();
}

void TfmMain::btnAutoSuchenClick() {
    if (FTasks->Search || !AskYesNo(QStringLiteral("Automatisch nach SVN-Projekten suchen?"), true))
        return;
    btnAutoSuchen->setEnabled(false);
    TXMLTreeNode* Root = lvDir->XMLItems()->TopNode(0);
    if (!Root)
        return;
    StartBusy();
    FTasks->Found = 0;
    auto* Search = new TSvnSearch(SearchStartFolder(),
                                  RegisteredKeys(Root->XMLElement(), ProjectBase()), FTasks);
    FTasks->Search = Search;
    FTasks->SetRunning(bool(FTasks->Run));
    if (!FTasks->SearchTicker) {
        FTasks->SearchTicker = new QTimer(FTasks);
        FTasks->SearchTicker->setInterval(200);
        connect(FTasks->SearchTicker, &QTimer::timeout, this, [this] {
            if (FTasks->Search)
                StatusBar1->ShowSearch(FTasks->Search->FoldersSearched(), FTasks->Found);
        });
    }
    FTasks->SearchTicker->start();
    StatusBar1->ShowSearch(0, 0);
    connect(Search, &TSvnSearch::Found, this, [this](const QString& Folder) {
        ++FTasks->Found;
        FTasks->Offers.enqueue(Folder);
        // Offered from the event loop, one dialog at a time, in walk order.
        QMetaObject::invokeMethod(this, [this] { FTasks->OfferNext(); }, Qt::QueuedConnection);
    });
    connect(Search, &TSvnSearch::Finished, this, [this](bool) {
        FTasks->SearchDone = true;
        FTasks->OfferNext();
    });
    Search->Start();
}
