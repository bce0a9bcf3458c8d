// The main window's side of the changes windows: opening one for a project (the context menu,
// a double click on a project with changes, Strg+E), one per copy.
#include "fm_changes.h"
#include "fm_main.h"
#include "kiv_taskcontrol.h"

#include "kiv_folders.h"
#include "kiv_prompts.h"
#include "kiv_registry.h"
#include "svn_store.h"

#include <QShortcut>

namespace {

QString TreePathOf(TXMLTreeNode* Node) {
    QStringList Names;
    for (TXMLTreeNode* N = Node; N && N->ParentNode(); N = N->ParentNode())
        Names.prepend(N->XMLElement()->GetAttribute(QStringLiteral("Name")));
    return Names.join(u'/');
}

} // namespace

void TfmMain::InitChanges() {
    auto* Key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_E), this);
    connect(Key, &QShortcut::activated, this, [this] {
        TXMLTreeNode* Node = lvDir->Selected();
        if (GetElementKind(Node) == ekProject)
            Guarded([&] { ShowChanges(Node); });
    });
    // The memo's last known output of the selected project follows what the changes window
    // did to its copy.
    connect(Tasks->Store(), &TStateStore::Changed, this, [this](const QString& Folder) {
        TXMLTreeNode* Node = lvDir->Selected();
        if (FMemoShowsStored && GetElementKind(Node) == ekProject &&
            ProjectFolder(Node->XMLElement()->GetAttribute(QStringLiteral("Verzeichnis"))) ==
                Folder)
            ShowStoredOutput(Node);
    });
    // A double click on a project the tree shows with changes or a conflict opens them.
    connect(lvDir, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* Item) {
        auto* Node = static_cast<TXMLTreeNode*>(Item);
        if (GetElementKind(Node) != ekProject)
            return;
        const TStoredState* S = NodeState(Node);
        if (S &&
            (S->HasChanges || S->State == TSvnState::Changes || S->State == TSvnState::Conflict))
            Guarded([&] { ShowChanges(Node); });
    });
}

TfmChanges* TfmMain::ChangesWindow(const QString& Folder) const {
    TfmChanges* W = FChangesWindows.value(Folder);
    // One closed while its copy was still being changed goes by itself; it counts no more.
    return W && W->isVisible() ? W : nullptr;
}

void TfmMain::ShowChanges(TXMLTreeNode* Node, bool Log) {
    if (!Node || !Node->XMLElement() || GetElementKind(Node) != ekProject || !Tasks)
        return;
    const QString Dir = Node->XMLElement()->GetAttribute(QStringLiteral("Verzeichnis"));
    const QString Folder = ProjectFolder(Dir);
    const TFolderState State = CheckFolder(Folder);
    if (State != TFolderState::Ready) {
        ShowError(FolderProblemText(State, Folder));
        return;
    }
    TfmChanges* W = ChangesWindow(Folder);
    if (!W) {
        TSvnRunOptions Base;
        Base.TimeoutSeconds = TimeoutSeconds(lvDir->XMLItems()->RootElement());
        const TSvnProject Project{Node->XMLElement()->GetAttribute(QStringLiteral("Name")), Dir,
                                  Folder, TreePathOf(Node), 0};
        W = new TfmChanges(Tasks, Project, Base, this);
        FChangesWindows.insert(Folder, W);
        W->show();
    }
    W->raise();
    W->activateWindow();
    if (Log)
        W->ShowLogPage();
}
