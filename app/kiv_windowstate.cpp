#include "kiv_windowstate.h"

#include "kiv_XMLTreeView.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QTabWidget>

#include <algorithm>

namespace {

// The design's window: client area 751 by 446.
constexpr int FirstWidth = 751;
constexpr int FirstHeight = 446;

const QString KeyGeometry = QStringLiteral("Hauptfenster/Geometrie");
const QString KeyMaximized = QStringLiteral("Hauptfenster/Maximiert");
const QString KeySplitter = QStringLiteral("Hauptfenster/Teiler");
const QString KeyPage = QStringLiteral("Hauptfenster/Seite");
const QString KeySelection = QStringLiteral("Hauptfenster/Auswahl");

QList<QRect> AvailableAreas(int& Primary) {
    QList<QRect> Areas;
    Primary = 0;
    const QList<QScreen*> Screens = QGuiApplication::screens();
    for (int i = 0; i < Screens.size(); ++i) {
        Areas << Screens.at(i)->availableGeometry();
        if (Screens.at(i) == QGuiApplication::primaryScreen())
            Primary = i;
    }
    return Areas;
}

QMargins FrameOf(const QWidget* W) {
    const QRect Outer = W->frameGeometry();
    const QRect Inner = W->geometry();
    return QMargins(Inner.left() - Outer.left(), Inner.top() - Outer.top(),
                    Outer.right() - Inner.right(), Outer.bottom() - Inner.bottom());
}

// The node at the end of a path of captions from the root; where the path breaks off (the
// node was deleted or renamed meanwhile), the deepest one that is still there.
TXMLTreeNode* NodeAtPath(TkivXMLTreeView* Tree, const QStringList& Path) {
    if (Path.isEmpty())
        return nullptr;
    TXMLTreeNode* Found = nullptr;
    for (int i = 0; i < Tree->topLevelItemCount(); ++i)
        if (Tree->topLevelItem(i)->text(0) == Path.first()) {
            Found = static_cast<TXMLTreeNode*>(Tree->topLevelItem(i));
            break;
        }
    for (int Level = 1; Found && Level < Path.size(); ++Level) {
        TXMLTreeNode* Next = nullptr;
        for (int c = 0; c < Found->childCount() && !Next; ++c)
            if (Found->child(c)->text(0) == Path.at(Level))
                Next = Found->ChildNode(c);
        if (!Next)
            break;
        Found = Next;
    }
    return Found;
}

QStringList PathOf(const QTreeWidgetItem* Node) {
    QStringList Path;
    for (; Node; Node = Node->parent())
        Path.prepend(Node->text(0));
    return Path;
}

} // namespace

QRect PlaceOnScreen(const QRect& Wanted, const QMargins& Frame, const QList<QRect>& Screens,
                    int Primary) {
    if (Screens.isEmpty())
        return Wanted;
    const QRect Outer = Wanted.marginsAdded(Frame);
    QRect Area = Screens.value(Primary, Screens.first());
    for (const QRect& S : Screens)
        if (S.contains(Outer.center())) {
            Area = S;
            break;
        }
    const int W = std::min(Outer.width(), Area.width());
    const int H = std::min(Outer.height(), Area.height());
    const int X = std::clamp(Outer.left(), Area.left(), Area.left() + Area.width() - W);
    const int Y = std::clamp(Outer.top(), Area.top(), Area.top() + Area.height() - H);
    return QRect(X, Y, W, H).marginsRemoved(Frame);
}

TWindowState::TWindowState(QWidget* Window, QSplitter* Splitter, QTabWidget* Pages,
                           TkivXMLTreeView* Tree)
    : QObject(Window), FMain(Window), FSplitter(Splitter), FPages(Pages), FTree(Tree) {}

QString TWindowState::FileName() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/KelvaroSoft/kivSubversion.ini");
}

void TWindowState::ApplyGeometry() {
    const QSettings S(FileName(), QSettings::IniFormat);
    int Primary = 0;
    const QList<QRect> Areas = AvailableAreas(Primary);
    QRect Wanted = S.value(KeyGeometry).toRect();
    if (!Wanted.isValid()) {
        Wanted = QRect(0, 0, FirstWidth, FirstHeight);
        if (!Areas.isEmpty())
            Wanted.moveCenter(Areas.value(Primary).center());
    }
    FMain->setGeometry(PlaceOnScreen(Wanted, FrameOf(FMain), Areas, Primary));
    if (S.value(KeyMaximized).toBool())
        FMain->setWindowState(FMain->windowState() | Qt::WindowMaximized);
}

void TWindowState::EnsureOnScreen() {
    if (FMain->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))
        return;
    int Primary = 0;
    const QList<QRect> Areas = AvailableAreas(Primary);
    const QRect Placed = PlaceOnScreen(FMain->geometry(), FrameOf(FMain), Areas, Primary);
    if (Placed != FMain->geometry())
        FMain->setGeometry(Placed);
}

void TWindowState::RestoreView() {
    const QSettings S(FileName(), QSettings::IniFormat);
    EnsureOnScreen();
    QList<int> Sizes;
    for (const QVariant& V : S.value(KeySplitter).toList())
        Sizes << V.toInt();
    if (Sizes.size() == FSplitter->count() &&
        std::all_of(Sizes.begin(), Sizes.end(), [](int Size) { return Size > 0; }))
        FSplitter->setSizes(Sizes);
    const int Page = S.value(KeyPage, -1).toInt();
    if (Page >= 0 && Page < FPages->count())
        FPages->setCurrentIndex(Page);
    if (TXMLTreeNode* Node = NodeAtPath(FTree, S.value(KeySelection).toStringList())) {
        FTree->SetSelected(Node);
        FTree->scrollToItem(Node);
    }
}

void TWindowState::Save(bool WithSelection) {
    const QString File = FileName();
    QDir().mkpath(QFileInfo(File).path());
    QSettings S(File, QSettings::IniFormat);
    const bool Maximized = FMain->windowState() & Qt::WindowMaximized;
    QRect Normal = FMain->geometry();
    if ((FMain->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) &&
        FMain->normalGeometry().isValid())
        Normal = FMain->normalGeometry();
    S.setValue(KeyGeometry, Normal);
    S.setValue(KeyMaximized, Maximized);
    QVariantList Sizes;
    for (int Size : FSplitter->sizes())
        Sizes << Size;
    S.setValue(KeySplitter, Sizes);
    S.setValue(KeyPage, FPages->currentIndex());
    if (WithSelection)
        S.setValue(KeySelection, PathOf(FTree->Selected()));
    // A settings file that cannot be written costs the next start its old place, nothing
    // more: no message at the end of a run.
    S.sync();
}
