#include "kiv_changesmodel.h"

#include "kiv_nodestate.h"

#include <QFontDatabase>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace {

// Rows handed to the view per turn of the event loop while a large list comes in.
constexpr int SliceRows = 2000;

} // namespace

TChangesModel::TChangesModel(QObject* Parent) : QAbstractTableModel(Parent) {
    FSlices = new QTimer(this);
    FSlices->setInterval(0);
    connect(FSlices, &QTimer::timeout, this, &TChangesModel::FillSlice);
    SetPalette(QPalette());
}

void TChangesModel::SetPalette(const QPalette& Palette) {
    const QColor Base = Palette.color(QPalette::Base);
    // The hues of the tree's states: changed blue, added green, deleted and missing red,
    // conflicts purple, the unversioned grey.
    const QColor Blue(0x1f, 0x4e, 0xb4), Green(0x1a, 0x7f, 0x37), Red(0xc0, 0x00, 0x00),
        Purple(0xb0, 0x00, 0x70), Grey(0x70, 0x70, 0x70);
    FColours = {{u'M', ReadableOn(Blue, Base)},   {u'R', ReadableOn(Blue, Base)},
                {u'A', ReadableOn(Green, Base)},  {u'D', ReadableOn(Red, Base)},
                {u'!', ReadableOn(Red, Base)},    {u'~', ReadableOn(Red, Base)},
                {u'C', ReadableOn(Purple, Base)}, {u'?', ReadableOn(Grey, Base)}};
    FPropertyColour = ReadableOn(Blue, Base);
    if (!FRows.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::ForegroundRole});
}

void TChangesModel::SetItems(QList<TChangeItem> Items) {
    // A mark stays with an item whose letters are the same; one that changed (a conflict
    // resolved, a file added) is marked as anew.
    QHash<QString, std::pair<QString, bool>> Before;
    for (int i = 0; i < FItems.size(); ++i)
        Before.insert(FItems.at(i).Path, {FItems.at(i).Columns, FChecked[size_t(i)]});
    FSlices->stop();
    beginResetModel();
    FItems = std::move(Items);
    FChecked.assign(size_t(FItems.size()), 0);
    FUnversioned = 0;
    for (int i = 0; i < FItems.size(); ++i) {
        const TChangeItem& I = FItems.at(i);
        const auto It = Before.constFind(I.Path);
        FChecked[size_t(i)] =
            It != Before.constEnd() && It->first == I.Columns ? It->second : I.CheckedAtFirst();
        FUnversioned += I.Unversioned();
    }
    FRows.clear();
    FCheckedShown = 0;
    FPending.clear();
    for (int i = 0; i < FItems.size(); ++i)
        if (Shown(FItems.at(i)))
            FPending.push_back(i);
    endResetModel();
    SortRows(FPending);                             // the slices then arrive in order
    std::reverse(FPending.begin(), FPending.end()); // taken from the back
    FillSlice();
    emit CheckedChanged();
}

bool TChangesModel::Filling() const {
    return !FPending.empty();
}

void TChangesModel::FillSlice() {
    if (FPending.empty()) {
        FSlices->stop();
        return;
    }
    const int N = std::min<int>(SliceRows, int(FPending.size()));
    const int First = int(FRows.size());
    beginInsertRows(QModelIndex(), First, First + N - 1);
    for (int k = 0; k < N; ++k) {
        const int I = FPending.back();
        FPending.pop_back();
        FRows.push_back(I);
        FCheckedShown += FChecked[size_t(I)];
    }
    endInsertRows();
    if (FPending.empty()) {
        FSlices->stop();
        emit CheckedChanged();
        emit Filled();
    } else if (!FSlices->isActive()) {
        FSlices->start();
    }
}

void TChangesModel::Rebuild() {
    // Whatever is still to come is taken at once: a reset costs the view no more for it.
    FSlices->stop();
    FPending.clear();
    beginResetModel();
    FRows.clear();
    FCheckedShown = 0;
    for (int i = 0; i < FItems.size(); ++i)
        if (Shown(FItems.at(i))) {
            FRows.push_back(i);
            FCheckedShown += FChecked[size_t(i)];
        }
    SortRows(FRows);
    endResetModel();
    emit CheckedChanged();
    emit Filled();
}

void TChangesModel::SetShowUnversioned(bool Show) {
    if (Show == FShowUnversioned)
        return;
    FShowUnversioned = Show;
    Rebuild();
}

int TChangesModel::RowOf(const QString& Path) const {
    for (size_t r = 0; r < FRows.size(); ++r)
        if (FItems.at(FRows[r]).Path == Path)
            return int(r);
    return -1;
}

void TChangesModel::SetChecked(const QList<int>& Rows, bool Checked) {
    int Lo = INT_MAX, Hi = -1;
    for (int R : Rows) {
        if (R < 0 || R >= int(FRows.size()))
            continue;
        char& C = FChecked[size_t(FRows[size_t(R)])];
        if (bool(C) == Checked)
            continue;
        C = Checked;
        FCheckedShown += Checked ? 1 : -1;
        Lo = std::min(Lo, R);
        Hi = std::max(Hi, R);
    }
    if (Hi < 0)
        return;
    emit dataChanged(index(Lo, ColStatus), index(Hi, ColStatus), {Qt::CheckStateRole});
    emit CheckedChanged();
}

void TChangesModel::ToggleChecked(const QList<int>& Rows) {
    bool All = !Rows.isEmpty();
    for (int R : Rows)
        All = All && R >= 0 && R < int(FRows.size()) && IsChecked(R);
    SetChecked(Rows, !All);
}

void TChangesModel::SetAllChecked(bool Checked) {
    for (int I : FRows)
        FChecked[size_t(I)] = Checked;
    FCheckedShown = Checked ? int(FRows.size()) : 0;
    if (!FRows.empty())
        emit dataChanged(index(0, ColStatus), index(rowCount() - 1, ColStatus),
                         {Qt::CheckStateRole});
    emit CheckedChanged();
}

QList<TChangeItem> TChangesModel::CheckedItems() const {
    QList<TChangeItem> Items;
    for (int I : FRows)
        if (FChecked[size_t(I)])
            Items << FItems.at(I);
    return Items;
}

int TChangesModel::CheckedCount() const {
    return FCheckedShown;
}

int TChangesModel::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : int(FRows.size());
}

int TChangesModel::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : ColumnCount;
}

QVariant TChangesModel::data(const QModelIndex& Index, int Role) const {
    if (!checkIndex(Index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const TChangeItem& I = Item(Index.row());
    switch (Role) {
    case Qt::DisplayRole:
        if (Index.column() == ColStatus)
            return I.Columns;
        if (Index.column() == ColPath)
            return I.Path;
        return ChangeText(I);
    case Qt::CheckStateRole:
        if (Index.column() != ColStatus)
            return QVariant();
        return IsChecked(Index.row()) ? Qt::Checked : Qt::Unchecked;
    case Qt::FontRole:
        // The letters stand in their columns, as svn prints them.
        if (Index.column() == ColStatus)
            return QFontDatabase::systemFont(QFontDatabase::FixedFont);
        return QVariant();
    case Qt::ForegroundRole: {
        if (Index.column() != ColStatus)
            return QVariant();
        const QChar Letter = I.Conflicted() ? QChar(u'C') : I.Columns.at(0);
        const auto It = FColours.constFind(Letter);
        if (It != FColours.constEnd())
            return *It;
        return I.Columns.at(1) != u' ' ? QVariant(FPropertyColour) : QVariant();
    }
    case Qt::ToolTipRole:
        return QStringLiteral("%1: %2").arg(I.Path, ChangeText(I));
    case Qt::AccessibleTextRole:
        return Index.column() == ColStatus ? ChangeText(I) : QVariant();
    default:
        return QVariant();
    }
}

bool TChangesModel::setData(const QModelIndex& Index, const QVariant& Value, int Role) {
    if (!checkIndex(Index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
        Role != Qt::CheckStateRole || Index.column() != ColStatus)
        return false;
    SetChecked({Index.row()}, Value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags TChangesModel::flags(const QModelIndex& Index) const {
    if (!Index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags F = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (Index.column() == ColStatus)
        F |= Qt::ItemIsUserCheckable;
    return F;
}

QVariant TChangesModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole)
        return QVariant();
    switch (Section) {
    case ColStatus:
        return QStringLiteral("Status");
    case ColPath:
        return QStringLiteral("Pfad");
    case ColText:
        return QStringLiteral("Änderung");
    default:
        return QVariant();
    }
}

void TChangesModel::SortRows(std::vector<int>& Rows) const {
    if (FSortColumn < 0)
        return;
    // The keys once per item, not once per comparison.
    QHash<int, QString> Keys;
    for (int I : Rows) {
        const TChangeItem& It = FItems.at(I);
        Keys.insert(I, FSortColumn == ColStatus ? It.Columns
                       : FSortColumn == ColPath ? It.Path
                                                : ChangeText(It));
    }
    const bool Up = FSortOrder == Qt::AscendingOrder;
    std::stable_sort(Rows.begin(), Rows.end(), [&](int A, int B) {
        int C = QString::compare(Keys.value(A), Keys.value(B));
        if (C == 0)
            C = QString::compare(FItems.at(A).Path, FItems.at(B).Path);
        return Up ? C < 0 : C > 0;
    });
}

void TChangesModel::sort(int Column, Qt::SortOrder Order) {
    if (Column < 0 || Column >= ColumnCount)
        return;
    FSortColumn = Column;
    FSortOrder = Order;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList Before = persistentIndexList();
    std::vector<int> OldItem;
    for (const QModelIndex& P : Before)
        OldItem.push_back(FRows.at(size_t(P.row())));
    SortRows(FRows);
    // The view's selection and current row follow their items.
    QHash<int, int> RowOfItem;
    for (size_t r = 0; r < FRows.size(); ++r)
        RowOfItem.insert(FRows[r], int(r));
    QModelIndexList After;
    for (int k = 0; k < Before.size(); ++k)
        After << index(RowOfItem.value(OldItem[size_t(k)]), Before.at(k).column());
    changePersistentIndexList(Before, After);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
