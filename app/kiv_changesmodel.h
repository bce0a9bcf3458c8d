// The list of a copy's changed items in the changes window: the status letters, the path and
// what the letters mean, with a check box each. Unversioned items are there only on request;
// a new status keeps the check marks of the items it still names. Holds tens of thousands of
// items: it is a table model for a view with rows of one height, and it takes large lists in
// slices of the event loop, so that the window never stalls over them.
#pragma once

#include "svn_changes.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QPalette>

#include <vector>

class QTimer;

class TChangesModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { ColStatus, ColPath, ColText, ColumnCount };

    explicit TChangesModel(QObject* Parent = nullptr);

    // The items of a new status. Items named before with the same letters keep their check
    // mark; the others get the first one (TChangeItem::CheckedAtFirst). Rows arrive in slices
    // (Filled when all are in).
    void SetItems(QList<TChangeItem> Items);
    bool Filling() const;
    void SetShowUnversioned(bool Show);
    bool ShowUnversioned() const { return FShowUnversioned; }
    // Colours of the letters, against this palette.
    void SetPalette(const QPalette& Palette);

    // All items of the last status, shown or not.
    int ItemCount() const { return int(FItems.size()); }
    int UnversionedCount() const { return FUnversioned; }
    const TChangeItem& Item(int Row) const { return FItems.at(FRows.at(size_t(Row))); }
    // The row of a path among those shown; -1 when it is not shown.
    int RowOf(const QString& Path) const;
    bool IsChecked(int Row) const { return FChecked.at(FRows.at(size_t(Row))); }
    void SetChecked(const QList<int>& Rows, bool Checked);
    // Checks the rows, unless all of them are checked already: then unchecks them (Space).
    void ToggleChecked(const QList<int>& Rows);
    void SetAllChecked(bool Checked);
    // The checked items among those shown, in the list's order.
    QList<TChangeItem> CheckedItems() const;
    int CheckedCount() const;

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& Index, const QVariant& Value, int Role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& Index) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation,
                        int Role = Qt::DisplayRole) const override;
    void sort(int Column, Qt::SortOrder Order = Qt::AscendingOrder) override;

signals:
    void CheckedChanged();
    // All rows of the last SetItems are in.
    void Filled();

private:
    void Rebuild(); // the rows shown, anew from the items
    void FillSlice();
    void SortRows(std::vector<int>& Rows) const; // in the order the view sorts by
    bool Shown(const TChangeItem& I) const { return FShowUnversioned || !I.Unversioned(); }
    QList<TChangeItem> FItems;
    std::vector<char> FChecked; // per item
    std::vector<int> FRows;     // the items shown, in order
    std::vector<int> FPending;  // items still to be shown by the slices
    int FUnversioned = 0;
    int FCheckedShown = 0;
    bool FShowUnversioned = false;
    int FSortColumn = -1;
    Qt::SortOrder FSortOrder = Qt::AscendingOrder;
    QHash<QChar, QColor> FColours; // by the first column's letter
    QColor FPropertyColour;
    QTimer* FSlices;
};
