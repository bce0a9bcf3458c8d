#include "kiv_XMLTreeView.h"

#include "kiv_FileText.h"

#include <QCollator>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

namespace {

QString IndexMessage(int Index) {
    return QStringLiteral("Listenindex überschreitet das Maximum (%1)").arg(Index);
}

TXMLTreeNode* AsNode(QTreeWidgetItem* Item) { return static_cast<TXMLTreeNode*>(Item); }

// Marks drags that come from a tree of ours; the value is the tree's address. A drag event's
// source() is known only while Qt runs the drag itself, not for events made elsewhere.
const QString OwnDragFormat = QStringLiteral("application/x-kiv-xmltree-node");

bool IsInSubtree(const QTreeWidgetItem* Item, const QTreeWidgetItem* Top) {
    for (const QTreeWidgetItem* I = Item; I; I = I->parent())
        if (I == Top)
            return true;
    return false;
}

// Deletes a subtree that belongs to no view from the bottom up: every item deleted is a leaf,
// so no destructor recurses. Always the first child, which a list drops in constant time.
void DeleteDetachedSubtree(QTreeWidgetItem* Top) {
    QTreeWidgetItem* I = Top;
    for (;;) {
        while (I->childCount() > 0)
            I = I->child(0);
        if (I == Top)
            break;
        QTreeWidgetItem* Parent = I->parent();
        delete I;
        I = Parent;
    }
    delete Top;
}

} // namespace

// Commits an in-place edit through the tree's OnEdited, so the handler decides the caption.
class TCaptionDelegate : public QStyledItemDelegate {
public:
    explicit TCaptionDelegate(TkivXMLTreeView* Tree) : QStyledItemDelegate(Tree), FTree(Tree) {}
    void setModelData(QWidget* Editor, QAbstractItemModel* Model,
                      const QModelIndex& Index) const override {
        auto* Edit = qobject_cast<QLineEdit*>(Editor);
        QTreeWidgetItem* Item = FTree->itemFromIndex(Index);
        if (!Edit || !Item) {
            QStyledItemDelegate::setModelData(Editor, Model, Index);
            return;
        }
        FTree->CommitEdit(AsNode(Item), Edit->text());
    }
    // Tab and Shift+Tab finish the edit like Return; the view would otherwise carry the
    // editor on to the next row and rename a node nobody meant to touch.
    bool eventFilter(QObject* Object, QEvent* Event) override {
        if (Event->type() == QEvent::KeyPress) {
            const int Key = static_cast<QKeyEvent*>(Event)->key();
            auto* Editor = qobject_cast<QWidget*>(Object);
            if (Editor && (Key == Qt::Key_Tab || Key == Qt::Key_Backtab)) {
                emit commitData(Editor);
                emit closeEditor(Editor, QAbstractItemDelegate::NoHint);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(Object, Event);
    }

private:
    TkivXMLTreeView* FTree;
};

ETreeViewError::ETreeViewError(const QString& Message) : EkivError(Message) {}

// ---------------------------------------------------------------------------------------------
// TNodeXMLElement

TNodeXMLElement::TNodeXMLElement(TXMLTreeNodes* Nodes, TXMLTreeNode* Node)
    : FNodes(Nodes), FNode(Node) {}

int TNodeXMLElement::ChildCount() const {
    return FNode ? FNode->childCount() : FNodes->TopCount();
}

TkivXmlElement* TNodeXMLElement::GetChild(int Index) const {
    if (Index < 0 || Index >= ChildCount())
        throw ETreeViewError(IndexMessage(Index));
    TXMLTreeNode* Child = FNode ? FNode->ChildNode(Index) : FNodes->TopNode(Index);
    return Child->XMLElement();
}

TkivXmlElement* TNodeXMLElement::GetParent() const {
    if (!FNode || this == FNodes->RootElement())
        return nullptr;
    if (TXMLTreeNode* Parent = FNode->ParentNode())
        return Parent->XMLElement();
    return FNodes->RootElement();
}

void TNodeXMLElement::Change() {
    TkivXmlElement::Change();
    if (!FNode)
        return;
    TkivXMLTreeView* Tree = FNodes->TreeView();
    if (Tree->OnChangeXML)
        Tree->OnChangeXML(Tree, FNode);
    FNode->Repaint();
}

void TNodeXMLElement::Clear() {
    TkivXmlElement::Clear();
    if (FNode)
        FNodes->TreeView()->DeleteNode(FNode); // frees this element
    else
        FNodes->TreeView()->DeleteAllNodes();
}

TkivXmlElement* TNodeXMLElement::AddChild(const QString& Name) {
    TXMLTreeNode* Child = FNodes->TreeView()->AddChild(FNode, Name);
    TNodeXMLElement* Element = Child->XMLElement();
    Element->SetName(Name);
    return Element;
}

void TNodeXMLElement::DeleteChild(int Index) {
    if (Index < 0 || Index >= ChildCount())
        return;
    TXMLTreeNode* Child = FNode ? FNode->ChildNode(Index) : FNodes->TopNode(Index);
    FNodes->TreeView()->DeleteNode(Child);
}

// ---------------------------------------------------------------------------------------------
// TXMLTreeNode

TXMLTreeNode::TXMLTreeNode(TXMLTreeNodes* Owner)
    : QTreeWidgetItem(QTreeWidgetItem::UserType),
      FElement(std::make_unique<TNodeXMLElement>(Owner, this)) {
    setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable |
             Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled);
}

TXMLTreeNode::~TXMLTreeNode() {
    if (TkivXMLTreeView* Tree = FElement->Nodes()->TreeView(); Tree && Tree->OnDeletion)
        Tree->OnDeletion(Tree, this);
    // QTreeWidgetItem's own destructor deletes the children recursively, a stack frame per
    // level. Taking them out first also detaches their subtrees from the view, so nothing
    // below reports to the model; a node still in a view reports one removal.
    if (childCount() == 0)
        return;
    const QList<QTreeWidgetItem*> Children = takeChildren();
    for (QTreeWidgetItem* Child : Children)
        DeleteDetachedSubtree(Child);
}

TXMLTreeNode* TXMLTreeNode::ParentNode() const { return AsNode(parent()); }

TXMLTreeNode* TXMLTreeNode::ChildNode(int i) const {
    return i >= 0 && i < childCount() ? AsNode(child(i)) : nullptr;
}

void TXMLTreeNode::SetText(const QString& Caption) { setText(0, Caption); }

void TXMLTreeNode::setData(int Column, int Role, const QVariant& Value) {
    if (Column != 0 || (Role != Qt::DisplayRole && Role != Qt::EditRole)) {
        QTreeWidgetItem::setData(Column, Role, Value);
        return;
    }
    const QString Old = text(0);
    QTreeWidgetItem::setData(Column, Role, Value);
    if (treeWidget() && text(0) != Old)
        FElement->Nodes()->TreeView()->CaptionChanged(this);
}

QVariant TXMLTreeNode::data(int Column, int Role) const {
    if (Column == 0 && Role == Qt::DecorationRole) {
        TkivXMLTreeView* Tree = FElement->Nodes()->TreeView();
        if (Tree->OnGetImageIndex && treeWidget()) {
            int Index = -1;
            Tree->OnGetImageIndex(Tree, const_cast<TXMLTreeNode*>(this), Index);
            if (Index >= 0 && Index < Tree->Images().size())
                return Tree->Images().at(Index);
            return QVariant();
        }
    }
    return QTreeWidgetItem::data(Column, Role);
}

bool TXMLTreeNode::operator<(const QTreeWidgetItem& Other) const {
    return FElement->Nodes()->TreeView()->CaptionLess(text(0), Other.text(0));
}

// ---------------------------------------------------------------------------------------------
// TXMLTreeNodes

TXMLTreeNodes::TXMLTreeNodes(TkivXMLTreeView* Tree) : FTree(Tree) {}
TXMLTreeNodes::~TXMLTreeNodes() = default;

TkivXmlElement* TXMLTreeNodes::RootElement() const {
    if (FDetachedRoot)
        return FDetachedRoot.get();
    return FRootNode ? FRootNode->XMLElement() : nullptr;
}

int TXMLTreeNodes::TopCount() const { return FTree->topLevelItemCount(); }

TXMLTreeNode* TXMLTreeNodes::TopNode(int i) const {
    return i >= 0 && i < TopCount() ? AsNode(FTree->topLevelItem(i)) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// TkivXMLTreeView

TkivXMLTreeView::TkivXMLTreeView(QWidget* Parent)
    : QTreeWidget(Parent), FNodes(std::make_unique<TXMLTreeNodes>(this)),
      FCollator(std::make_unique<QCollator>(
          // Without a language (the C locale) umlauts would sort after "Z"; the program
          // speaks German, so it sorts as German then.
          QLocale().language() == QLocale::C ? QLocale(QLocale::German) : QLocale())) {
    FCollator->setCaseSensitivity(Qt::CaseInsensitive);
    setColumnCount(1);
    setHeaderHidden(true);
    setItemDelegate(new TCaptionDelegate(this));
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    // The image depends on the expand state; have the node drawn anew when it changes.
    connect(this, &QTreeWidget::itemExpanded, this,
            [](QTreeWidgetItem* Item) { AsNode(Item)->Repaint(); });
    connect(this, &QTreeWidget::itemCollapsed, this,
            [](QTreeWidgetItem* Item) { AsNode(Item)->Repaint(); });
    // The root node follows the top level however nodes come and go; sorting moves rows
    // without removing them and so leaves it alone.
    QAbstractItemModel* Model = model();
    connect(Model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& Parent, int First, int) {
                if (!Parent.isValid())
                    TopLevelInserted(First);
            });
    connect(Model, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex& Parent) {
        if (!Parent.isValid())
            TopLevelRemoved();
    });
    connect(Model, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { FNodes->FRootNode = nullptr; });
    connect(Model, &QAbstractItemModel::modelReset, this, [this] { TopLevelRemoved(); });
}

TkivXMLTreeView::~TkivXMLTreeView() {
    disconnect(this, nullptr, nullptr, nullptr);
    disconnect(model(), nullptr, this, nullptr);
    FNodes->FRootNode = nullptr;
    OnChangeXML = nullptr;
    OnGetImageIndex = nullptr;
    OnDeletion = nullptr;
    // The nodes go first, while the collection they belong to still exists.
    const QSignalBlocker Blocker(this);
    clear();
}

bool TkivXMLTreeView::ShowXMLRoot() const { return !FNodes->FDetachedRoot; }

void TkivXMLTreeView::SetShowXMLRoot(bool Value) {
    if (Value == ShowXMLRoot())
        return;
    DeleteAllNodes();
    if (Value)
        FNodes->FDetachedRoot.reset();
    else
        FNodes->FDetachedRoot = std::make_unique<TNodeXMLElement>(FNodes.get(), nullptr);
}

void TkivXMLTreeView::SetSortByText(bool Value) {
    if (FSortByText == Value)
        return;
    FSortByText = Value;
}

bool TkivXMLTreeView::CaptionLess(const QString& A, const QString& B) const {
    const int Result = FCollator->compare(A, B);
    if (Result != 0)
        return Result < 0;
    // Equal for the collation (e.g. differing in case only): keep a fixed order.
    return A < B;
}

void TkivXMLTreeView::SetImages(const QList<QIcon>& Images) {
    FImages = Images;
    viewport()->update();
}

void TkivXMLTreeView::UpdateImage(TXMLTreeNode* Node) {
    if (Node)
        Node->Repaint();
}

TXMLTreeNode* TkivXMLTreeView::CreateNode() {
    TXMLTreeNodeClass NodeClass = [](TXMLTreeNodes* Owner) { return new TXMLTreeNode(Owner); };
    if (OnCreateNodeClass)
        OnCreateNodeClass(this, NodeClass);
    return NodeClass(FNodes.get());
}

TXMLTreeNode* TkivXMLTreeView::AddChild(TXMLTreeNode* Parent, const QString& Text) {
    TXMLTreeNode* Node = CreateNode();
    Node->setText(0, Text); // not in the tree yet: no sorting
    if (Parent)
        Parent->addChild(Node);
    else
        addTopLevelItem(Node);
    CaptionChanged(Node);
    return Node;
}

void TkivXMLTreeView::DeleteNode(TXMLTreeNode* Node) {
    if (!Node)
        return;
    if (FUpdateDepth > 0) {
        // A parent waiting to be sorted may be inside the subtree.
        FDirtyParents.clear();
        FSortEverything = true;
    }
    // Out of the tree first, as one removal, so that taking the subtree apart reports nothing.
    if (QTreeWidgetItem* Parent = Node->parent())
        Parent->removeChild(Node);
    else if (Node->treeWidget() == this)
        takeTopLevelItem(indexOfTopLevelItem(Node));
    delete Node;
}

void TkivXMLTreeView::TopLevelInserted(int First) {
    if (!FNodes->FRootNode)
        FNodes->FRootNode = AsNode(topLevelItem(First));
}

void TkivXMLTreeView::TopLevelRemoved() {
    // Only pointers are compared: the old root may be gone.
    if (FNodes->FRootNode && indexOfTopLevelItem(FNodes->FRootNode) >= 0)
        return;
    FNodes->FRootNode = FNodes->TopNode(0);
}

void TkivXMLTreeView::DeleteAllNodes() {
    FDirtyParents.clear();
    clear();
}

bool TkivXMLTreeView::MoveNode(TXMLTreeNode* Node, TXMLTreeNode* Target) {
    if (!Node || !Target || IsInSubtree(Target, Node))
        return false;
    // Taking the node out would move the current item and collapse the subtree: keep both,
    // and tell nobody, since nothing was selected anew.
    QList<QTreeWidgetItem*> Expanded;
    QList<QTreeWidgetItem*> Pending{Node};
    while (!Pending.isEmpty()) {
        QTreeWidgetItem* I = Pending.takeLast();
        if (I->isExpanded())
            Expanded.append(I);
        for (int c = 0; c < I->childCount(); ++c)
            Pending.append(I->child(c));
    }
    QTreeWidgetItem* Current = currentItem();
    const QList<QTreeWidgetItem*> Selection = selectedItems();
    {
        const QSignalBlocker TreeBlocker(this);
        const QSignalBlocker SelectionBlocker(selectionModel());
        if (QTreeWidgetItem* OldParent = Node->parent())
            OldParent->removeChild(Node);
        else
            takeTopLevelItem(indexOfTopLevelItem(Node));
        Target->addChild(Node);
        // Among its new siblings in caption order, as any other change leaves the tree.
        CaptionChanged(Node);
        for (QTreeWidgetItem* I : Expanded)
            I->setExpanded(true);
        // Taking out the current row made the view select a neighbour in its place (its rule
        // for single selection); that row would stay highlighted, and a click on it would start
        // renaming it. The selection is exactly the old one again.
        selectionModel()->clearSelection();
        if (Current)
            setCurrentItem(Current, 0, QItemSelectionModel::NoUpdate);
        for (QTreeWidgetItem* I : Selection)
            I->setSelected(true);
    }
    Target->setExpanded(true);
    viewport()->update();
    return true;
}

TXMLTreeNode* TkivXMLTreeView::Selected() const { return AsNode(currentItem()); }

void TkivXMLTreeView::SetSelected(TXMLTreeNode* Node) {
    if (Node)
        setCurrentItem(Node);
    else
        setCurrentItem(nullptr);
}

TXMLTreeNode* TkivXMLTreeView::NodeAt(const QPoint& ViewportPos) const {
    return AsNode(itemAt(ViewportPos));
}

void TkivXMLTreeView::LoadFromFile(const QString& FileName) {
    QByteArray Data;
    try {
        Data = ReadFileBounded(FileName);
    } catch (...) {
        DeleteAllNodes(); // a failed load leaves no nodes, whatever failed
        throw;
    }
    LoadFromBytes(Data);
}

void TkivXMLTreeView::LoadFromBytes(const QByteArray& Data) {
    BeginUpdate();
    try {
        DeleteAllNodes();
        TTreeVievReader Reader(this);
        Reader.SetMaxDepth(FMaxDepth);
        Reader.SetSingleRoot(FSingleRoot);
        Reader.LoadFromBytes(Data);
    } catch (...) {
        // The reader clears only the document root; further top-level nodes would stay.
        DeleteAllNodes();
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TkivXMLTreeView::SaveToFile(const QString& FileName) {
    TTreeViewWriter Writer(this);
    Writer.SaveToFile(FileName);
}

void TkivXMLTreeView::BeginUpdate() {
    if (FUpdateDepth++ == 0)
        setUpdatesEnabled(false);
}

void TkivXMLTreeView::EndUpdate() {
    if (FUpdateDepth == 0 || --FUpdateDepth > 0)
        return;
    if (FSortByText) {
        if (FSortEverything) {
            SortAllSiblings(invisibleRootItem());
        } else {
            // Each waiting parent once: loading stays O(n log n).
            const QList<QTreeWidgetItem*> Parents = FDirtyParents;
            for (QTreeWidgetItem* P : Parents)
                P->sortChildren(0, Qt::AscendingOrder);
        }
    }
    FDirtyParents.clear();
    FSortEverything = false;
    setUpdatesEnabled(true);
}

void TkivXMLTreeView::SortAllSiblings(QTreeWidgetItem* Parent) {
    QList<QTreeWidgetItem*> Pending{Parent};
    while (!Pending.isEmpty()) {
        QTreeWidgetItem* P = Pending.takeLast();
        if (P->childCount() > 1)
            P->sortChildren(0, Qt::AscendingOrder);
        for (int c = 0; c < P->childCount(); ++c)
            if (P->child(c)->childCount() > 0)
                Pending.append(P->child(c));
    }
}

void TkivXMLTreeView::CaptionChanged(TXMLTreeNode* Node) {
    if (!FSortByText)
        return;
    QTreeWidgetItem* Parent = Node->parent() ? Node->parent() : invisibleRootItem();
    if (FUpdateDepth > 0) {
        if (!FSortEverything && (FDirtyParents.isEmpty() || FDirtyParents.last() != Parent) &&
            !FDirtyParents.contains(Parent))
            FDirtyParents.append(Parent);
        return;
    }
    if (Parent->childCount() > 1)
        Parent->sortChildren(0, Qt::AscendingOrder);
}

void TkivXMLTreeView::CommitEdit(TXMLTreeNode* Node, QString S) {
    if (OnEdited)
        OnEdited(this, Node, S);
    Node->SetText(S);
}

bool TkivXMLTreeView::edit(const QModelIndex& Index, EditTrigger Trigger, QEvent* Event) {
    // Asked whenever the view would start editing: by the user or by editItem() from code.
    const bool WouldEdit =
        Trigger == QAbstractItemView::AllEditTriggers || (editTriggers() & Trigger);
    QTreeWidgetItem* Item = itemFromIndex(Index);
    if (WouldEdit && Item && OnEditing) {
        bool AllowEdit = true;
        OnEditing(this, AsNode(Item), AllowEdit);
        if (!AllowEdit)
            return false;
    }
    return QTreeWidget::edit(Index, Trigger, Event);
}

QMimeData* TkivXMLTreeView::mimeData(const QList<QTreeWidgetItem*>& Items) const {
    QMimeData* Data = QTreeWidget::mimeData(Items);
    if (!Data)
        Data = new QMimeData;
    Data->setData(OwnDragFormat, QByteArray::number(quintptr(this)));
    return Data;
}

QMimeData* TkivXMLTreeView::DragData() const { return mimeData(selectedItems()); }

bool TkivXMLTreeView::IsOwnDrag(const QDropEvent* Event) const {
    if (Event->source())
        return Event->source() == this;
    const QMimeData* Data = Event->mimeData();
    return Data && Data->data(OwnDragFormat) == QByteArray::number(quintptr(this));
}

void TkivXMLTreeView::dragEnterEvent(QDragEnterEvent* Event) {
    if (IsOwnDrag(Event)) {
        Event->setDropAction(Qt::MoveAction);
        Event->accept();
    } else {
        Event->ignore();
    }
}

void TkivXMLTreeView::dragMoveEvent(QDragMoveEvent* Event) {
    bool Accept = false;
    TXMLTreeNode* Dragged = Selected();
    if (IsOwnDrag(Event) && Dragged && OnDragOverXML) {
        TXMLTreeNode* Over = NodeAt(Event->position().toPoint());
        if (Over && Over != Dragged)
            OnDragOverXML(this, Dragged, Over, Accept);
    }
    if (Accept) {
        Event->setDropAction(Qt::MoveAction);
        Event->accept();
    } else {
        Event->ignore();
    }
}

void TkivXMLTreeView::dropEvent(QDropEvent* Event) {
    TXMLTreeNode* Dragged = Selected();
    TXMLTreeNode* Over = NodeAt(Event->position().toPoint());
    if (!IsOwnDrag(Event) || !Dragged || !Over) {
        Event->ignore();
        return;
    }
    MoveNode(Dragged, Over);
    // Reported as a copy, so the view's drag code does not remove the source rows: the node
    // has been moved already.
    Event->setDropAction(Qt::CopyAction);
    Event->accept();
}

// ---------------------------------------------------------------------------------------------
// Reader

TkivXmlElement* TTreeVievReader::CreateElement(TkivXmlElement* Parent, const QString& Name) {
    TkivXMLTreeView* Tree = Nodes->TreeView();
    if (Parent) {
        auto* Element = static_cast<TNodeXMLElement*>(Parent);
        return Tree->AddChild(Element->Node(), Name)->XMLElement();
    }
    if (TNodeXMLElement* Detached = Nodes->DetachedRoot()) {
        Detached->Clear();
        return Detached;
    }
    return Tree->AddChild(nullptr, Name)->XMLElement();
}
