// kiv_XMLTreeView: a tree view whose nodes are at the same time the elements of an XML
// element tree. There is no second copy of the data.
#pragma once

#include "kiv_XmlObjects.h"

#include <QIcon>
#include <QList>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <functional>
#include <memory>

class TkivXMLTreeView;
class TXMLTreeNodes;
class TXMLTreeNode;

// The tree's errors, e.g. GetChild's "Listenindex überschreitet das Maximum (%d)".
class ETreeViewError : public EkivError {
public:
    explicit ETreeViewError(const QString& Message);
};

// An element whose children and parent are read from the tree.
class TNodeXMLElement : public TkivXmlElement {
public:
    TNodeXMLElement(TXMLTreeNodes* Nodes, TXMLTreeNode* Node);
    int ChildCount() const override;
    TkivXmlElement* GetChild(int Index) const override; // ETreeViewError outside
    TkivXmlElement* GetParent() const override;
    void Change() override;
    void Clear() override; // a node-bound element deletes its node (and so itself)
    TkivXmlElement* AddChild(const QString& Name) override;
    void DeleteChild(int Index) override;

    TXMLTreeNode* Node() const { return FNode; }
    TXMLTreeNodes* Nodes() const { return FNodes; }

private:
    TXMLTreeNodes* FNodes;
    TXMLTreeNode* FNode;
};

// A tree node that owns its element. Its text (column 0) is the caption.
class TXMLTreeNode : public QTreeWidgetItem {
public:
    explicit TXMLTreeNode(TXMLTreeNodes* Owner);
    ~TXMLTreeNode() override; // deletes the subtree without recursion, whatever its depth
    TNodeXMLElement* XMLElement() const { return FElement.get(); }
    TXMLTreeNode* ParentNode() const;      // nullptr at top level
    TXMLTreeNode* ChildNode(int i) const;  // nullptr outside
    QString Text() const { return text(0); }
    void SetText(const QString& Caption);  // sorts the siblings when the caption changes
    void setData(int Column, int Role, const QVariant& Value) override;
    // The image is asked for when the node is drawn, so it always follows the element and
    // the expand state.
    QVariant data(int Column, int Role) const override;
    // Caption order of the tree (locale collation).
    bool operator<(const QTreeWidgetItem& Other) const override;
    // Has the view draw the node anew (after its image may have changed).
    void Repaint() { emitDataChanged(); }

private:
    std::unique_ptr<TNodeXMLElement> FElement;
};

// Makes a node for the collection: TXMLTreeNode or a subclass.
using TXMLTreeNodeClass = std::function<TXMLTreeNode*(TXMLTreeNodes* Owner)>;

// The node collection: the tree's nodes and the detached root.
class TXMLTreeNodes {
public:
    explicit TXMLTreeNodes(TkivXMLTreeView* Tree);
    ~TXMLTreeNodes();
    TkivXMLTreeView* TreeView() const { return FTree; }
    TNodeXMLElement* DetachedRoot() const { return FDetachedRoot.get(); }
    // The detached root if any, else the element of the root node, else nullptr.
    TkivXmlElement* RootElement() const;
    // The top-level node that is the document: the first one added to the empty tree. It
    // stays the root when the top level is sorted; when it goes, the first top-level node
    // left takes its place.
    TXMLTreeNode* RootNode() const { return FRootNode; }
    int TopCount() const;
    TXMLTreeNode* TopNode(int i) const; // nullptr outside

private:
    friend class TkivXMLTreeView;
    TkivXMLTreeView* FTree;
    std::unique_ptr<TNodeXMLElement> FDetachedRoot;
    TXMLTreeNode* FRootNode = nullptr; // always a top-level node of the tree, or nullptr
};

class TkivXMLTreeView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TkivXMLTreeView(QWidget* Parent = nullptr);
    ~TkivXMLTreeView() override;

    // Events; the sender comes first, answers go through references.
    std::function<void(TkivXMLTreeView* Sender, TXMLTreeNode* Node)> OnChangeXML;
    std::function<void(TkivXMLTreeView* Sender, TXMLTreeNode* Selected, TXMLTreeNode* Over,
                       bool& Accept)>
        OnDragOverXML;
    std::function<void(TkivXMLTreeView* Sender, TXMLTreeNodeClass& NodeClass)>
        OnCreateNodeClass;
    // In-place editing: may the node be edited (AllowEdit starts true); the edited text (S may
    // be changed, it becomes the caption).
    std::function<void(TkivXMLTreeView* Sender, TXMLTreeNode* Node, bool& AllowEdit)> OnEditing;
    std::function<void(TkivXMLTreeView* Sender, TXMLTreeNode* Node, QString& S)> OnEdited;
    // A node is about to be destroyed (with its subtree: each node of it once), by
    // whatever path: a delete, a failed or a new load, an element's Clear. Not raised while
    // the tree itself is destroyed.
    std::function<void(TkivXMLTreeView* Sender, TXMLTreeNode* Node)> OnDeletion;
    // The node's image index into Images() (-1: none); asked whenever the node is drawn, so
    // it follows additions, element changes, expanding and collapsing.
    std::function<void(TkivXMLTreeView* Sender, TXMLTreeNode* Node, int& ImageIndex)>
        OnGetImageIndex;

    bool ShowXMLRoot() const;
    void SetShowXMLRoot(bool Value);
    TXMLTreeNodes* XMLItems() const { return FNodes.get(); }

    // Siblings sorted by caption (locale collation) whenever a caption changes.
    bool SortByText() const { return FSortByText; }
    void SetSortByText(bool Value);
    // True when A sorts before B.
    bool CaptionLess(const QString& A, const QString& B) const;

    void SetImages(const QList<QIcon>& Images);
    const QList<QIcon>& Images() const { return FImages; }
    void UpdateImage(TXMLTreeNode* Node);

    // Node factory: every node added to the tree comes from here.
    TXMLTreeNode* CreateNode();
    // Adds a node with the caption as last child of Parent (nullptr: top level), then sorts
    // it into place when the tree sorts by text.
    TXMLTreeNode* AddChild(TXMLTreeNode* Parent, const QString& Text);
    // Deletes the node with its subtree and their elements.
    void DeleteNode(TXMLTreeNode* Node);
    void DeleteAllNodes();
    // Moves Node with its subtree to be the last child of Target (the drop rule). Nothing
    // happens when Target is Node or lies inside its subtree.
    bool MoveNode(TXMLTreeNode* Node, TXMLTreeNode* Target);

    TXMLTreeNode* Selected() const;
    void SetSelected(TXMLTreeNode* Node);
    TXMLTreeNode* NodeAt(const QPoint& ViewportPos) const;

    // After a failed load the tree has no nodes (a detached root stays, emptied if the file's
    // root element was reached).
    void LoadFromFile(const QString& FileName); // EFileError, EkivXmlException
    // The same for a file's bytes read by the caller (who keeps them to compare).
    void LoadFromBytes(const QByteArray& Data); // EkivXmlException
    void SaveToFile(const QString& FileName);   // EFileError
    // Passed to the reader on LoadFromFile (see TCustomXmlReader); by default no depth limit
    // and any number of top-level elements.
    int MaxDepth() const { return FMaxDepth; }
    void SetMaxDepth(int Value) { FMaxDepth = Value; }
    bool SingleRoot() const { return FSingleRoot; }
    void SetSingleRoot(bool Value) { FSingleRoot = Value; }

    // Suspends sorting and image updates while many nodes are added (loading).
    void BeginUpdate();
    void EndUpdate();

    // The drag data of the selected node, as a drag from this tree carries it.
    QMimeData* DragData() const;

protected:
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    bool edit(const QModelIndex& Index, EditTrigger Trigger, QEvent* Event) override;
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& Items) const override;

private:
    friend class TXMLTreeNode;
    friend class TNodeXMLElement;
    void CaptionChanged(TXMLTreeNode* Node);
    friend class TCaptionDelegate;
    void CommitEdit(TXMLTreeNode* Node, QString S);
    bool IsOwnDrag(const QDropEvent* Event) const;
    void SortAllSiblings(QTreeWidgetItem* Parent);
    void TopLevelInserted(int First);
    void TopLevelRemoved();
    std::unique_ptr<TXMLTreeNodes> FNodes;
    std::unique_ptr<class QCollator> FCollator;
    QList<QIcon> FImages;
    bool FSortByText = false;
    int FUpdateDepth = 0;
    QList<QTreeWidgetItem*> FDirtyParents; // sorted at EndUpdate
    bool FSortEverything = false;          // a node went away while updating
    int FMaxDepth = 0;
    bool FSingleRoot = false;
};

// Loads a file into the tree: every element read becomes a node.
class TTreeVievReader : public TCustomXmlReader {
public:
    explicit TTreeVievReader(TkivXMLTreeView* TreeView) : Nodes(TreeView->XMLItems()) {}
    TkivXmlElement* CreateElement(TkivXmlElement* Parent, const QString& Name) override;
    TXMLTreeNodes* Nodes;
};

// Writes the tree's document root with everything below it.
class TTreeViewWriter : public TCustomXmlWriter {
public:
    explicit TTreeViewWriter(TkivXMLTreeView* TreeView) : Nodes(TreeView->XMLItems()) {}
    TkivXmlElement* GetRootElement() override { return Nodes->RootElement(); }
    TXMLTreeNodes* Nodes;
};
