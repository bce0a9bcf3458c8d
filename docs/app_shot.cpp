// Takes a picture of the main window (with the registry of $XDG_DATA_HOME) as a user sees it
// at a given moment, for the user guide. Under a window manager (docs/make_screenshots.sh runs
// it under openbox on Xvfb) the picture is taken from the screen, with the window's frame and
// whatever is open over it; on the offscreen platform the window draws itself.
//   app_shot OUT.png [CAPTION [PAGE [busy]]]         the node CAPTION selected, page PAGE shown
//   app_shot OUT.png --dialog | --search-dialog      the new-entry dialog (as the search opens it)
//   app_shot OUT.png [--select CAPTION] [--page N] [--run status|update] [--short] [--server]
//                    [--dark] [--menu] [--tip CAPTION] [--size WxH] [--during MS]
//                    [--filter TEXT]
//   app_shot OUT.png --changes CAPTION [--file PATH] [--message TEXT] [--log] [--dark]
// --run clicks the task's button and waits for its end; --menu opens the context menu of the
// selected node; --tip shows the tooltip of a node; --dark uses a dark palette. --changes takes
// the changes window of the project CAPTION once its list is read, with the item PATH selected
// and its difference shown, TEXT typed as the message, or its log page. Exit codes: 0
// written, 1 no window, 2 the picture could not be saved, 3 the run did not end.
#include "fm_addgruppe.h"
#include "fm_changes.h"
#include "fm_main.h"
#include "kivButtonEdit.h"
#include "kiv_appcore.h"
#include "kiv_changesmodel.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <cstdio>
#include <functional>

namespace {

TXMLTreeNode* Find(TfmMain& Main, const QString& Caption) {
    for (QTreeWidgetItemIterator It(Main.lvDir); *It; ++It)
        if ((*It)->text(0) == Caption)
            return static_cast<TXMLTreeNode*>(*It);
    return nullptr;
}

QPalette DarkPalette() {
    QPalette P;
    P.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    P.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
    P.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    P.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x26));
    P.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
    P.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    P.setColor(QPalette::ButtonText, QColor(0xe0, 0xe0, 0xe0));
    P.setColor(QPalette::Highlight, QColor(0x2f, 0x65, 0xca));
    P.setColor(QPalette::HighlightedText, Qt::white);
    P.setColor(QPalette::ToolTipBase, QColor(0x35, 0x35, 0x35));
    P.setColor(QPalette::ToolTipText, QColor(0xe0, 0xe0, 0xe0));
    // What cannot be used now is drawn fainter, as a dark desktop draws it.
    for (const QPalette::ColorRole Role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        P.setColor(QPalette::Disabled, Role, QColor(0x80, 0x80, 0x80));
    return P;
}

bool Offscreen() {
    return QGuiApplication::platformName() == u"offscreen";
}

// Waits until the window manager has framed W and everything is drawn.
void Settle(QWidget* W) {
    if (!QTest::qWaitForWindowExposed(W, 5000))
        std::fprintf(stderr, "app_shot: the window was not shown\n");
    if (!Offscreen() && !QTest::qWaitFor([W] { return W->frameGeometry() != W->geometry(); }, 3000))
        std::fprintf(stderr, "app_shot: no window manager framed the window\n");
    QTest::qWait(400);
}

// The picture of W with its frame, and of Over (a menu, a tooltip) where it lies beyond it.
QPixmap Picture(QWidget* W, QWidget* Over = nullptr) {
    if (Offscreen())
        return W->grab();
    QRect Area = W->frameGeometry();
    if (Over && Over->isVisible())
        Area = Area.united(Over->frameGeometry());
    QScreen* Screen = W->screen();
    Area = Area.intersected(Screen->geometry());
    return Screen->grabWindow(0, Area.x(), Area.y(), Area.width(), Area.height());
}

bool Save(const QPixmap& Shot, const QString& Out) {
    if (!Shot.isNull() && Shot.save(Out))
        return true;
    std::fprintf(stderr, "app_shot: %s could not be written\n", qPrintable(Out));
    return false;
}

// Runs Open, which shows a modal dialog; Take gets the dialog once it is up, and the dialog is
// closed after it.
void WithDialog(const std::function<void()>& Open, const std::function<void(QWidget*)>& Take) {
    QTimer::singleShot(0, [Take] {
        QWidget* D = nullptr;
        if (!QTest::qWaitFor([&] { return (D = QApplication::activeModalWidget()) != nullptr; },
                             5000))
            return;
        Settle(D);
        Take(D);
        if (auto* Dialog = qobject_cast<QDialog*>(D))
            Dialog->reject();
    });
    Open();
}

} // namespace

int main(int argc, char** argv) {
    TkivApplication App(argc, argv);
    QCoreApplication::setApplicationName("kivSubversion");
    InstallToolkitGerman();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QStringList Args = App.arguments().mid(1);
    const QString Out = Args.isEmpty() ? QStringLiteral("shot.png") : Args.takeFirst();
    QString Select, Run, Tip;
    QString Filter; // typed into the filter box before the picture
    QString Changes, File, Message; // the changes window of a project
    bool Log = false;
    int During = 0; // with --run: the picture this many ms after the start, the run still going
    int Page = 0;
    bool Busy = false, Short = false, Server = false, Dark = false, Menu = false;
    bool Dialog = false, SearchDialog = false;
    QSize Size;
    for (int i = 0; i < Args.size(); ++i) {
        const QString& A = Args.at(i);
        auto Next = [&] { return i + 1 < Args.size() ? Args.at(++i) : QString(); };
        if (A == u"--dialog")
            Dialog = true;
        else if (A == u"--search-dialog")
            SearchDialog = true;
        else if (A == u"--select")
            Select = Next();
        else if (A == u"--page")
            Page = Next().toInt();
        else if (A == u"--run")
            Run = Next();
        else if (A == u"--filter")
            Filter = Next();
        else if (A == u"--changes")
            Changes = Next();
        else if (A == u"--file")
            File = Next();
        else if (A == u"--message")
            Message = Next();
        else if (A == u"--log")
            Log = true;
        else if (A == u"--during")
            During = Next().toInt();
        else if (A == u"--short")
            Short = true;
        else if (A == u"--server")
            Server = true;
        else if (A == u"--dark")
            Dark = true;
        else if (A == u"--menu")
            Menu = true;
        else if (A == u"--tip")
            Tip = Next();
        else if (A == u"--size") {
            const QStringList WH = Next().split(u'x');
            Size = QSize(WH.value(0).toInt(), WH.value(1).toInt());
        } else if (A == u"busy")
            Busy = true;
        else if (Select.isEmpty())
            Select = A; // the older positional form: CAPTION PAGE busy
        else
            Page = A.toInt();
    }
    if (Dark)
        QApplication::setPalette(DarkPalette());

    TfmMain Main;
    Main.show();
    if (!QTest::qWaitForWindowExposed(&Main))
        return 1;
    if (Size.isValid())
        Main.resize(Size);
    Settle(&Main);
    TXMLTreeNode* Root = Main.lvDir->XMLItems()->TopNode(0);
    if (Dialog || SearchDialog) {
        // The dialogs as the program opens them, over the window.
        bool Saved = false;
        auto Take = [&](QWidget* D) { Saved = Save(Picture(D), Out); };
        if (SearchDialog)
            WithDialog(
                [&] {
                    ShowSearchEntryDialog(Root, QStringLiteral("/home/anna/Projekte/werkzeug-neu/"),
                                          [] {
                                              return TSearchQueue{3, true};
                                          });
                },
                Take);
        else
            WithDialog([&] { ShowNewEntryDialog(Root, QString()); }, Take);
        return Saved ? 0 : 2;
    }
    if (!Changes.isEmpty()) {
        // The window as Strg+E opens it over the main window, once svn has answered.
        TXMLTreeNode* N = Find(Main, Changes);
        if (!N)
            return 1;
        Main.lvDir->SetSelected(N);
        Main.ShowChanges(N, Log);
        auto* C = Main.findChild<TfmChanges*>();
        if (!C)
            return 1;
        auto Quiet = [C] { return !C->Working() && !C->Model->Filling(); };
        if (!QTest::qWaitFor(Quiet, 60000))
            return 3;
        if (!File.isEmpty()) {
            const int Row = C->Model->RowOf(File);
            if (Row < 0)
                return 1;
            C->lvAenderungen->selectionModel()->setCurrentIndex(
                C->Model->index(Row, TChangesModel::ColPath),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            QTest::qWait(300);
            if (!QTest::qWaitFor(Quiet, 60000))
                return 3;
        }
        if (!Message.isEmpty()) {
            C->mmNachricht->setFocus();
            C->mmNachricht->insertPlainText(Message); // as typed (keyClicks knows only ASCII)
        }
        if (Log && !QTest::qWaitFor([C] { return C->lvLogPfade->topLevelItemCount() > 0; }, 10000))
            return 3;
        Settle(C);
        return Save(Picture(C), Out) ? 0 : 2;
    }
    if (Short != Main.cbKurz->isChecked())
        Main.cbKurz->click();
    if (Server != Main.cbServer->isChecked())
        Main.cbServer->click();
    if (!Run.isEmpty()) {
        Main.lvDir->SetSelected(Root);
        if (Run == u"checkout")
            Main.CheckoutMissingClick();
        else
            (Run == u"update" ? Main.ToolButton7 : Main.ToolButton8)->click();
        if (During > 0) {
            QTest::qWait(During);
            return Save(Picture(&Main), Out) ? 0 : 2;
        }
        if (!QTest::qWaitFor([&] { return Main.ToolButton8->isEnabled(); }, 60000))
            return 3;
    }
    if (TXMLTreeNode* N = Find(Main, Select))
        Main.lvDir->SetSelected(N);
    Main.pag1->setCurrentIndex(Page);
    if (!Filter.isEmpty())
        if (auto* F = Main.findChild<QLineEdit*>(QStringLiteral("edFilter"))) {
            F->setFocus(Qt::ShortcutFocusReason); // as Strg+F puts it there
            QTest::keyClicks(F, Filter);
        }
    if (Busy)
        Main.StartBusy();
    if (Filter.isEmpty())
        Main.lvDir->setFocus(); // where the keyboard is after the start; the filter keeps it
    QTest::qWait(500);
    if (!Tip.isEmpty()) {
        // The node's own tooltip, where the pointer would rest on it.
        if (TXMLTreeNode* N = Find(Main, Tip)) {
            const QRect R = Main.lvDir->visualItemRect(N);
            const QPoint At = Main.lvDir->viewport()->mapToGlobal(R.center());
            QToolTip::showText(At + QPoint(0, 4), N->toolTip(0), Main.lvDir->viewport(), R, 60000);
            QTest::qWait(600);
            QWidget* TipWindow = nullptr;
            for (QWidget* W : QApplication::topLevelWidgets())
                if (W->isVisible() && W->inherits("QTipLabel"))
                    TipWindow = W;
            if (Offscreen() && TipWindow) {
                // No screen to take it from: drawn onto the window's picture.
                QPixmap Shot = Picture(&Main);
                QPainter P(&Shot);
                P.drawPixmap(Main.mapFromGlobal(TipWindow->pos()), TipWindow->grab());
                P.end();
                return Save(Shot, Out) ? 0 : 2;
            }
            return Save(Picture(&Main, TipWindow), Out) ? 0 : 2;
        }
    }
    if (Menu) {
        // The context menu opens as the right mouse button opens it, over the tree.
        bool Saved = false;
        QTimer::singleShot(0, [&] {
            QWidget* Popup = nullptr;
            if (QTest::qWaitFor(
                    [&] { return (Popup = QApplication::activePopupWidget()) != nullptr; }, 5000)) {
                QTest::qWait(400);
                if (Offscreen()) {
                    QPixmap Shot = Picture(&Main);
                    QPainter P(&Shot);
                    P.drawPixmap(Main.mapFromGlobal(Popup->pos()), Popup->grab());
                    P.end();
                    Saved = Save(Shot, Out);
                } else {
                    Saved = Save(Picture(&Main, Popup), Out);
                }
                Popup->close();
            }
        });
        const QRect R = Main.lvDir->visualItemRect(Main.lvDir->Selected());
        emit Main.lvDir->customContextMenuRequested(R.center() + QPoint(10, 0));
        return Saved ? 0 : 2;
    }
    return Save(Picture(&Main), Out) ? 0 : 2;
}
