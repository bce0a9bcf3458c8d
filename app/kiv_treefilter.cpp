#include "kiv_treefilter.h"

#include "kiv_XMLTreeView.h"
#include "kiv_kinds.h"
#include "kiv_nodestate.h"
#include "svn_output.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <vector>

namespace {

bool NeedsLook(const QTreeWidgetItem* Item) {
    const QVariant V = Item->data(0, NodeStateRole);
    return V.isValid() && NeedsAttention(TSvnState(V.toInt()));
}

bool Matches(TXMLTreeNode* Node, const QString& Text) {
    TkivXmlElement* E = Node->XMLElement();
    return E && (E->GetAttribute(QStringLiteral("Name")).contains(Text, Qt::CaseInsensitive) ||
                 E->GetAttribute(QStringLiteral("Verzeichnis")).contains(Text, Qt::CaseInsensitive));
}

} // namespace

TTreeFilter::TTreeFilter(TkivXMLTreeView* Tree, QWidget* Parent) : QWidget(Parent), FTree(Tree) {
    setObjectName(QStringLiteral("pnlTree"));
    auto* Column = new QVBoxLayout(this);
    Column->setContentsMargins(0, 2, 0, 0);
    Column->setSpacing(2);
    auto* Row = new QHBoxLayout;
    Row->setContentsMargins(2, 0, 0, 0);
    Row->setSpacing(2);
    edFilter = new QLineEdit(this);
    edFilter->setObjectName(QStringLiteral("edFilter"));
    edFilter->setPlaceholderText(QStringLiteral("Filtern (Strg+F)"));
    edFilter->setToolTip(QStringLiteral("Nur Gruppen und Projekte zeigen, deren Name oder "
                                        "Verzeichnis den Text enthält (Strg+F; Esc leert das Feld)"));
    edFilter->setClearButtonEnabled(true);
    edFilter->installEventFilter(this);
    btnHandlungsbedarf = new QToolButton(this);
    btnHandlungsbedarf->setObjectName(QStringLiteral("btnHandlungsbedarf"));
    btnHandlungsbedarf->setText(QStringLiteral("nur Handlungsbedarf"));
    btnHandlungsbedarf->setToolTip(QStringLiteral("Nur Projekte zeigen, deren letzter Lauf "
                                                  "Handlungsbedarf ergab"));
    btnHandlungsbedarf->setAccessibleName(btnHandlungsbedarf->text());
    btnHandlungsbedarf->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    btnHandlungsbedarf->setIconSize(QSize(16, 16));
    btnHandlungsbedarf->setToolButtonStyle(Qt::ToolButtonIconOnly);
    btnHandlungsbedarf->setCheckable(true);
    btnHandlungsbedarf->setAutoRaise(true);
    btnHandlungsbedarf->setFocusPolicy(Qt::NoFocus);
    Row->addWidget(edFilter, 1);
    Row->addWidget(btnHandlungsbedarf);
    Column->addLayout(Row);
    Tree->setParent(this);
    Column->addWidget(Tree, 1);
    setMinimumWidth(Tree->minimumWidth());

    FFind = new QShortcut(QKeySequence::Find, this);
    FFind->setContext(Qt::WindowShortcut);
    connect(FFind, &QShortcut::activated, this, [this] {
        edFilter->setFocus(Qt::ShortcutFocusReason);
        edFilter->selectAll();
    });
    connect(edFilter, &QLineEdit::textChanged, this, &TTreeFilter::FilterChanged);
    connect(btnHandlungsbedarf, &QToolButton::toggled, this, &TTreeFilter::FilterChanged);

    // Bursts of changes (a run marking hundreds of nodes) cost one pass.
    FLater = new QTimer(this);
    FLater->setSingleShot(true);
    FLater->setInterval(50);
    connect(FLater, &QTimer::timeout, this, [this] { Apply(false); });
    QAbstractItemModel* Model = Tree->model();
    auto Any = [this] { Schedule(); };
    connect(Model, &QAbstractItemModel::rowsInserted, this, Any);
    connect(Model, &QAbstractItemModel::rowsRemoved, this, Any);
    connect(Model, &QAbstractItemModel::rowsMoved, this, Any);
    connect(Model, &QAbstractItemModel::layoutChanged, this, Any);
    connect(Model, &QAbstractItemModel::modelReset, this, Any);
    connect(Model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex&, const QModelIndex&, const QList<int>& Roles) {
                // Colours, fonts and tooltips of a marked node change nothing here; its state
                // does, as do a caption and an element's attributes (no roles named).
                if (Roles.isEmpty() || Roles.contains(Qt::DisplayRole) ||
                    Roles.contains(Qt::EditRole) || Roles.contains(NodeStateRole))
                    Schedule();
            });
}

TTreeFilter::~TTreeFilter() {
    FTree->model()->disconnect(this);
}

namespace {
// Expanding or collapsing a node lays out the view's rows at once, unless a layout is pending
// already: hundreds of groups would take that many layouts. Setting a row's hidden state
// (even to what it is) schedules one for the whole batch.
void DeferLayout(QTreeWidget* Tree) {
    if (Tree->topLevelItemCount() > 0)
        Tree->setRowHidden(0, QModelIndex(), Tree->topLevelItem(0)->isHidden());
}
} // namespace

bool TTreeFilter::Active() const {
    return !edFilter->text().isEmpty() || btnHandlungsbedarf->isChecked();
}

void TTreeFilter::StatesChanged() {
    if (btnHandlungsbedarf->isChecked())
        Schedule();
}

void TTreeFilter::Reapply() {
    FLater->stop();
    Apply(false);
}

void TTreeFilter::FilterChanged() {
    FLater->stop();
    const bool Now = Active();
    if (Now && !FWasActive)
        SaveExpandState();
    Apply(Now);
    if (!Now && FWasActive) {
        RestoreExpandState();
        if (QTreeWidgetItem* Current = FTree->currentItem())
            FTree->scrollToItem(Current);
    }
    FWasActive = Now;
}

void TTreeFilter::Schedule() {
    if (FApplying || !FWasActive || FLater->isActive())
        return;
    FLater->start();
}

bool TTreeFilter::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == edFilter &&
        (Event->type() == QEvent::ShortcutOverride || Event->type() == QEvent::KeyPress)) {
        auto* Key = static_cast<QKeyEvent*>(Event);
        const bool PlainKey = Key->modifiers() == Qt::NoModifier;
        if (PlainKey && Key->key() == Qt::Key_Escape && !edFilter->text().isEmpty()) {
            // The window's Escape (cancel a running task) must not take this one.
            Key->accept();
            if (Event->type() == QEvent::KeyPress)
                edFilter->clear();
            return Event->type() == QEvent::KeyPress;
        }
        if (PlainKey && Key->key() == Qt::Key_Down && Event->type() == QEvent::KeyPress) {
            FTree->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return QWidget::eventFilter(Watched, Event);
}

void TTreeFilter::Apply(bool ExpandAll) {
    if (FApplying)
        return;
    FApplying = true;
    const QString Text = edFilter->text();
    const bool Attention = btnHandlungsbedarf->isChecked();
    const bool On = !Text.isEmpty() || Attention;

    struct TEntry {
        QTreeWidgetItem* Item;
        int Parent;
        bool Container;
        bool InMatchedGroup; // the node is, or lies below, a group that matches
        bool Show;
    };
    std::vector<TEntry> Nodes;
    Nodes.reserve(1024);
    std::vector<int> Pending;
    for (int i = FTree->topLevelItemCount() - 1; i >= 0; --i) {
        Nodes.push_back({FTree->topLevelItem(i), -1, true, false, true}); // the root always
        Pending.push_back(int(Nodes.size()) - 1);
    }
    while (!Pending.empty()) {
        const int P = Pending.back();
        Pending.pop_back();
        QTreeWidgetItem* Parent = Nodes[P].Item;
        for (int c = Parent->childCount() - 1; c >= 0; --c) {
            auto* Node = static_cast<TXMLTreeNode*>(Parent->child(c));
            TEntry E{Node, P, false, Nodes[P].InMatchedGroup, !On};
            if (On) {
                const TElementKind Kind =
                    Node->XMLElement() ? ElementKindOf(Node->XMLElement()->Name()) : ekProject;
                E.Container = Kind != ekProject;
                const bool TextOk = Text.isEmpty() || E.InMatchedGroup || Matches(Node, Text);
                if (E.Container) {
                    E.InMatchedGroup = !Text.isEmpty() && TextOk;
                    E.Show = !Attention && TextOk; // else only through what it holds
                } else {
                    E.Show = TextOk && (!Attention || NeedsLook(Node));
                }
            } else {
                E.Container = Node->childCount() > 0;
            }
            Nodes.push_back(E);
            if (Node->childCount() > 0)
                Pending.push_back(int(Nodes.size()) - 1);
        }
    }
    // Children come after their parents: from the back, a shown node shows its parent.
    std::vector<bool> HasShownChild(Nodes.size(), false);
    for (int i = int(Nodes.size()) - 1; i >= 0; --i)
        if (Nodes[i].Show && Nodes[i].Parent >= 0) {
            Nodes[Nodes[i].Parent].Show = true;
            HasShownChild[Nodes[i].Parent] = true;
        }

    std::vector<bool> ParentShown(Nodes.size(), true);
    QList<QTreeWidgetItem*> Appeared;
    FVisible = 0;
    for (size_t i = 0; i < Nodes.size(); ++i) {
        const TEntry& E = Nodes[i];
        // Below a hidden node nothing shows whatever its own state: left for a later pass.
        if (E.Parent >= 0 && (!ParentShown[E.Parent] || !Nodes[E.Parent].Show)) {
            ParentShown[i] = false;
            continue;
        }
        if (E.Show)
            ++FVisible;
        if (E.Item->isHidden() == E.Show) {
            E.Item->setHidden(!E.Show);
            if (E.Show)
                Appeared << E.Item;
        }
    }
    if (On) {
        QList<QTreeWidgetItem*> Open;
        if (ExpandAll) {
            for (size_t i = 0; i < Nodes.size(); ++i)
                if (Nodes[i].Show && HasShownChild[i] && !Nodes[i].Item->isExpanded())
                    Open << Nodes[i].Item;
        } else {
            // What a change brought into view is opened up to; the rest stays as the user
            // left it.
            for (QTreeWidgetItem* I : Appeared)
                for (QTreeWidgetItem* A = I->parent(); A && !A->isExpanded(); A = A->parent())
                    if (!Open.contains(A))
                        Open << A;
        }
        if (Open.size() > 1)
            DeferLayout(FTree);
        for (QTreeWidgetItem* I : Open)
            I->setExpanded(true);
    }
    FApplying = false;
}

void TTreeFilter::SaveExpandState() {
    FExpanded.clear();
    std::vector<QTreeWidgetItem*> Pending;
    for (int i = 0; i < FTree->topLevelItemCount(); ++i)
        Pending.push_back(FTree->topLevelItem(i));
    while (!Pending.empty()) {
        QTreeWidgetItem* I = Pending.back();
        Pending.pop_back();
        if (I->childCount() == 0)
            continue;
        FExpanded.append({QPersistentModelIndex(FTree->indexFromItem(I)), I->isExpanded()});
        for (int c = 0; c < I->childCount(); ++c)
            Pending.push_back(I->child(c));
    }
}

void TTreeFilter::RestoreExpandState() {
    FApplying = true;
    QList<QPair<QTreeWidgetItem*, bool>> Changes;
    for (const auto& [Index, Expanded] : FExpanded)
        if (Index.isValid())
            if (QTreeWidgetItem* I = FTree->itemFromIndex(Index); I && I->isExpanded() != Expanded)
                Changes.append({I, Expanded});
    if (Changes.size() > 1)
        DeferLayout(FTree);
    for (const auto& [I, Expanded] : Changes)
        I->setExpanded(Expanded);
    FExpanded.clear();
    FApplying = false;
}
