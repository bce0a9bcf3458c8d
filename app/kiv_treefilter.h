// The filter above the registry tree: a text that narrows the tree to the groups and projects
// whose "Name" or "Verzeichnis" contains it, and a switch for the projects whose last run needs
// a look. Only what the tree shows changes; the nodes and the tasks on them stay as they are.
#pragma once

#include <QList>
#include <QPersistentModelIndex>
#include <QWidget>

class QLineEdit;
class QShortcut;
class QTimer;
class QToolButton;
class QTreeWidgetItem;
class TkivXMLTreeView;

class TTreeFilter : public QWidget {
    Q_OBJECT
public:
    // Takes Tree into its own layout, below the filter row.
    TTreeFilter(TkivXMLTreeView* Tree, QWidget* Parent = nullptr);
    // The tree it holds goes with it, and says so to its model's listeners: not to this one.
    ~TTreeFilter() override;

    QLineEdit* edFilter = nullptr;
    QToolButton* btnHandlungsbedarf = nullptr;

    bool Active() const;
    // Shows and hides the nodes anew now. Changes of the tree (nodes added, renamed, moved or
    // marked by a run) do this by themselves, shortly after.
    void Reapply();
    // The projects' states changed: with "nur Handlungsbedarf" on, the tree follows shortly.
    void StatesChanged();
    // Nodes the filter shows (the root included), for the status line and tests.
    int VisibleCount() const { return FVisible; }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void FilterChanged();
    void Schedule();
    void Apply(bool ExpandAll);
    void SaveExpandState();
    void RestoreExpandState();

    TkivXMLTreeView* FTree;
    QShortcut* FFind = nullptr;
    QTimer* FLater = nullptr;
    bool FWasActive = false;
    bool FApplying = false;
    int FVisible = 0;
    // The containers' expand state from before the filter; a node deleted meanwhile drops out.
    QList<QPair<QPersistentModelIndex, bool>> FExpanded;
};
