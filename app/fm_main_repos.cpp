// The window's side of each project's repository URL: the URLs the runs learn kept in the
// registry, checking out the copies that are missing, and .repos files (vcstool's format) in
// and out of a group.
#include "fm_main.h"

#include "kiv_output.h"
#include "kiv_registrydoc.h"
#include "kiv_statusbar.h"
#include "kiv_taskcontrol.h"

#include "kiv_FileText.h"
#include "kiv_errors.h"
#include "kiv_folders.h"
#include "kiv_kinds.h"
#include "kiv_prompts.h"
#include "kiv_registry.h"
#include "kiv_repos.h"

#include <QDir>
#include <QLocale>
#include <QSet>
#include <QTimer>

// An import whose URLs the servers are being asked about; it is entered when all answered.
struct TfmMain::TPendingImport {
    QString File;
    std::vector<TReposEntry> Entries;
    QStringList Group;                     // the target group's names from below the root
    QString Base;                          // the folder the copies go below
    std::vector<TReposImport::TNew> Asked; // in the order of the run's projects
    QStringList Refused;
};

namespace {

const QString ReposFilter =
    QStringLiteral(".repos-Dateien (*.repos *.yaml *.yml);;Alle Dateien (*)");

// The names from below the root down to Node.
QStringList NamesFromRoot(TXMLTreeNode* Node) {
    QStringList Names;
    for (TXMLTreeNode* N = Node; N && N->ParentNode(); N = N->ParentNode())
        Names.prepend(N->XMLElement()->GetAttribute(QStringLiteral("Name")));
    return Names;
}

// A list of lines for a message, at most Max of them.
QString Listed(const QStringList& Lines, int Max = 15) {
    QStringList Shown = Lines.mid(0, Max);
    if (Lines.size() > Max)
        Shown << QStringLiteral("… und %1 weitere").arg(Lines.size() - Max);
    return QStringLiteral("  ") + Shown.join(QStringLiteral("\n  "));
}

} // namespace

void TfmMain::InitRepos() {
    connect(Tasks, &TTaskController::UrlLearned, this, &TfmMain::KeepLearntUrl);
    // While an import's URLs are asked about: what a server refused.
    connect(Tasks, &TTaskController::ProjectDone, this, [this](int Index, const TSvnOutcome& O) {
        const TSvnRun* Run = Tasks->Run();
        if (!FImport || !Run || Run->Task() != TSvnTask::UrlInfo || O.State == TSvnState::Info)
            return;
        const TReposImport::TNew& N = FImport->Asked.at(size_t(Index));
        QStringList Said = O.Lines.filter(QStringLiteral("svn: E")) + O.Notes;
        FImport->Refused << QStringLiteral("»%1«: %2 – %3")
                                .arg(N.Key, N.Url,
                                     Said.isEmpty() ? StateText(O.State) : Said.join(u' '));
    });
    connect(Tasks, &TTaskController::RunFinished, this, [this](bool Cancelled) {
        // Not inside the run's end: what follows asks and may start the next run.
        if (FImport)
            QTimer::singleShot(0, this,
                               [this, Cancelled] { Guarded([&] { FinishImport(Cancelled); }); });
    });
}

void TfmMain::KeepLearntUrl(const QString& Folder, const QString& Url) {
    if (Folder.isEmpty() || Url.isEmpty())
        return;
    // A run hands out thousands of results: the tree is walked once for many of them.
    const bool First = FLearntUrls.isEmpty();
    FLearntUrls.insert(Folder, Url);
    if (First)
        QTimer::singleShot(300, this, [this] { ApplyLearntUrls(); });
}

void TfmMain::ApplyLearntUrls() {
    TkivXmlElement* Root = lvDir->XMLItems()->RootElement();
    // Only a URL that differs changes an element: a registry whose URLs are all known stays
    // as it was read. A registry that could not be read takes nothing.
    if (!FLearntUrls.isEmpty() && Root && Registry->Loaded())
        SetProjectUrls(Root, FLearntUrls, ProjectBase());
    FLearntUrls.clear();
}

void TfmMain::LearnUrlOf(TXMLTreeNode* Project) {
    if (!Project || !Tasks || GetElementKind(Project) != ekProject)
        return;
    const QString Dir = Project->XMLElement()->GetAttribute(QStringLiteral("Verzeichnis"));
    Tasks->LearnUrls({{Project->Text(), Dir, ProjectFolder(Dir), QString(), 0, QString()}});
}

void TfmMain::CheckoutMissingClick() {
    RunSvnTask(QStringLiteral("checkout"), TaskTitle(TSvnTask::Checkout), false);
}

void TfmMain::ExportReposClick() {
    TXMLTreeNode* Node = lvDir->Selected();
    if (!Node || !Tasks)
        return;
    std::vector<TSvnProject> Projects;
    // Keys from below the node, in the tree's order.
    CollectProjectsInCaptionOrder(Node->XMLElement(), QString(), ProjectBase(), Projects);
    QString File = QDir::homePath() + u'/' +
                   (Node->ParentNode() ? Node->Text() : QStringLiteral("Projekte")) +
                   QStringLiteral(".repos");
    if (!ChooseFile(TkivPrompter::TFileChoice::Save, QStringLiteral("Als .repos-Datei exportieren"),
                    ReposFilter, File))
        return;
    std::vector<TReposEntry> Entries;
    QSet<QString> Keys;
    QStringList Passed;
    for (const TSvnProject& P : Projects) {
        const QString Key = P.TreePath.isEmpty() ? P.Name : P.TreePath;
        QString Url = P.Url;
        if (const TStoredState* S = Url.isEmpty() ? Tasks->Store()->Find(P.Folder) : nullptr)
            Url = S->Url;
        if (const QString Problem = ReposKeyProblem(Key); !Problem.isEmpty())
            Passed << QStringLiteral("%1 (%2)").arg(Key, Problem);
        else if (Url.isEmpty())
            Passed << QStringLiteral("%1 (keine URL bekannt)").arg(Key);
        else if (Keys.contains(Key))
            Passed << QStringLiteral("%1 (ein Projekt dieses Pfades steht schon darin)").arg(Key);
        else {
            Keys.insert(Key);
            Entries.push_back({Key, QStringLiteral("svn"), Url, QString()});
        }
    }
    // The dialog has asked before replacing a file; a link there is replaced, not followed.
    WriteFileAtomically(File, ReposFileText(Entries), TWriteMode::ReplaceName);
    StatusBar1->ShowWritten(File);
    if (!Passed.isEmpty())
        ShowInfo(QStringLiteral("In %1 fehlen %2 Projekte:\n%3\n\nDie URL einer vorhandenen "
                                "Arbeitskopie lernt das Programm bei jedem Lauf über sie, etwa "
                                "mit »Testen auf Änderungen«.")
                     .arg(File)
                     .arg(Passed.size())
                     .arg(Listed(Passed)));
}

void TfmMain::ImportReposClick() {
    TXMLTreeNode* Group = ContainerNode();
    TkivXmlElement* Root = lvDir->XMLItems()->RootElement();
    if (!Group || !Root || !Tasks || Tasks->Running() || FCloseWhenIdle || FImport)
        return;
    QString File = QDir::homePath();
    if (!ChooseFile(TkivPrompter::TFileChoice::Open, QStringLiteral("Aus .repos-Datei importieren"),
                    ReposFilter, File))
        return;
    // A file that is no .repos file is said here (EInputError) and nothing is asked further.
    std::vector<TReposEntry> Entries = ReadReposFile(File);
    QString Base = QDir::homePath();
    if (!ChooseFile(TkivPrompter::TFileChoice::Folder,
                    QStringLiteral("Ordner wählen, unter dem die Arbeitskopien liegen"), QString(),
                    Base))
        return;
    const QStringList Names = NamesFromRoot(Group);
    const TReposImport Plan = PlanReposImport(Entries, Root, Names, Base);
    if (!Plan.Problems.isEmpty())
        throw EInputError(QStringLiteral("Die Datei %1 kann so nicht eingetragen werden:\n%2\n\n"
                                         "Nichts wurde eingetragen.")
                              .arg(File, Listed(Plan.Problems)));
    if (Plan.Projects.empty()) {
        ShowInfo(QStringLiteral("Die Datei %1 enthält keine svn-Einträge; nichts wurde "
                                "eingetragen.")
                     .arg(File));
        return;
    }
    // Every URL is asked of its server first; only when all answer is anything entered.
    auto Pending = std::make_shared<TPendingImport>();
    Pending->File = File;
    Pending->Entries = std::move(Entries);
    Pending->Group = Names;
    Pending->Base = Base;
    Pending->Asked = Plan.Projects;
    std::vector<TSvnProject> Asked;
    for (const TReposImport::TNew& N : Plan.Projects)
        Asked.push_back({N.Name, QString(), QString(), N.Key, 0, N.Url});
    FImport = std::move(Pending);
    if (!StartSvnRun(std::move(Asked), TSvnTask::UrlInfo, TaskTitle(TSvnTask::UrlInfo)))
        FImport.reset();
}

void TfmMain::FinishImport(bool Cancelled) {
    const std::shared_ptr<TPendingImport> I = std::move(FImport);
    TkivXmlElement* Root = lvDir->XMLItems()->RootElement();
    if (!I || !Root || FCloseWhenIdle)
        return;
    if (Cancelled) {
        StatusBar1->ShowMessage(QStringLiteral("Import abgebrochen – nichts wurde eingetragen"));
        return;
    }
    if (!I->Refused.isEmpty()) {
        ShowError(QStringLiteral("Die Datei %1 kann so nicht eingetragen werden; der Server "
                                 "nimmt diese URLs nicht an:\n%2\n\nNichts wurde eingetragen.")
                      .arg(I->File, Listed(I->Refused)));
        return;
    }
    // The tree as it is now: what changed while the servers were asked is checked again.
    const TReposImport Plan = PlanReposImport(I->Entries, Root, I->Group, I->Base);
    if (!Plan.Problems.isEmpty()) {
        ShowError(QStringLiteral("Die Datei %1 kann so nicht eingetragen werden:\n%2\n\nNichts "
                                 "wurde eingetragen.")
                      .arg(I->File, Listed(Plan.Problems)));
        return;
    }
    std::vector<TSvnProject> Added;
    for (TkivXmlElement* E : ApplyReposImport(Plan, Root)) {
        const QString Dir = E->GetAttribute(QStringLiteral("Verzeichnis"));
        QStringList Path;
        for (const TkivXmlElement* A = E; A && A != Root; A = A->GetParent())
            Path.prepend(A->GetAttribute(QStringLiteral("Name")));
        Added.push_back({E->GetAttribute(QStringLiteral("Name")), Dir, ProjectFolder(Dir),
                         Path.join(u'/'), 0, E->GetAttribute(UrlAttribute)});
    }
    lvDir->expandAll();
    const QLocale German(QLocale::German);
    QString Text = Added.size() == 1 ? QStringLiteral("1 Projekt aus %1 eingetragen.").arg(I->File)
                                     : QStringLiteral("%1 Projekte aus %2 eingetragen.")
                                           .arg(German.toString(qlonglong(Added.size())), I->File);
    if (!Plan.PassedOver.isEmpty())
        Text += QStringLiteral("\n\nÜbergangen, weil nicht svn:\n") + Listed(Plan.PassedOver);
    if (Plan.Versions)
        Text += QStringLiteral("\n\nDie Versionsangaben der Datei werden nicht übernommen; die "
                               "Projekte folgen dem neuesten Stand.");
    const bool AnyMissing = std::any_of(Added.begin(), Added.end(), [](const TSvnProject& P) {
        return CheckFolder(P.Folder) == TFolderState::Missing;
    });
    if (!AnyMissing) {
        ShowInfo(Text);
        return;
    }
    if (AskYesNo(Text + QStringLiteral("\n\nDie fehlenden Arbeitskopien jetzt auschecken?"), true))
        StartSvnRun(std::move(Added), TSvnTask::Checkout, TaskTitle(TSvnTask::Checkout));
}
