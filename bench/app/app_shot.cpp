// Draws the main window (with the registry of $XDG_DATA_HOME) into a PNG, as a user would see
// it at a given moment:
//   app_shot OUT.png [CAPTION [PAGE [busy]]]         the node CAPTION selected, page PAGE shown
//   app_shot OUT.png --dialog | --search-dialog      the new-entry dialog (as the search opens it)
//   app_shot OUT.png [--select CAPTION] [--page N] [--run status|update] [--short] [--server]
//                    [--dark] [--menu] [--tip CAPTION] [--size WxH] [--during MS]
//                    [--filter TEXT]
// --run clicks the task's button and waits for its end; --menu draws the context menu of the
// selected node beside the window; --tip shows the tooltip of a node; --dark uses a dark
// palette.
#include "fm_addgruppe.h"
#include "fm_main.h"
#include "kivButtonEdit.h"
#include "kiv_appcore.h"

#include <QApplication>
#include <QCheckBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidgetItemIterator>

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
    return P;
}

} // namespace

int main(int argc, char** argv) {
    TkivApplication App(argc, argv);
    QCoreApplication::setApplicationName("kivSubversion");
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QStringList Args = App.arguments().mid(1);
    const QString Out = Args.isEmpty() ? QStringLiteral("shot.png") : Args.takeFirst();
    QString Select, Run, Tip;
    QString Filter; // typed into the filter box before the picture
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
    QTest::qWait(200);
    if (Size.isValid())
        Main.resize(Size);
    if (Dialog || SearchDialog) {
        TfmNeueGruppe D(&Main);
        D.ParentNode = Main.lvDir->XMLItems()->TopNode(0);
        if (SearchDialog) {
            D.AddEndSearchButton();
            D.edDir->setText(QStringLiteral("/home/anna/Projekte/gefunden/"));
        }
        D.show();
        QTest::qWait(300);
        D.grab().save(Out);
        return 0;
    }
    if (Short != Main.cbKurz->isChecked())
        Main.cbKurz->click();
    if (Server != Main.cbServer->isChecked())
        Main.cbServer->click();
    if (!Run.isEmpty()) {
        Main.lvDir->SetSelected(Main.lvDir->XMLItems()->TopNode(0));
        (Run == u"update" ? Main.ToolButton7 : Main.ToolButton8)->click();
        if (During > 0) {
            QTest::qWait(During);
            Main.grab().save(Out);
            return 0;
        }
        if (!QTest::qWaitFor([&] { return Main.ToolButton8->isEnabled(); }, 60000))
            return 3;
    }
    if (TXMLTreeNode* N = Find(Main, Select))
        Main.lvDir->SetSelected(N);
    Main.pag1->setCurrentIndex(Page);
    if (!Filter.isEmpty())
        if (auto* F = Main.findChild<QLineEdit*>(QStringLiteral("edFilter")))
            QTest::keyClicks(F, Filter);
    if (Busy)
        Main.StartBusy();
    QTest::qWait(500);
    QPixmap Shot = Main.grab();
    if (!Tip.isEmpty()) {
        if (TXMLTreeNode* N = Find(Main, Tip)) {
            const QRect R = Main.lvDir->visualItemRect(N);
            const QPoint At = Main.lvDir->viewport()->mapTo(&Main, R.center());
            QLabel L;
            L.setText(N->toolTip(0));
            L.setPalette(QToolTip::palette());
            L.setAutoFillBackground(true);
            L.setFrameShape(QFrame::Box);
            L.setMargin(4);
            L.adjustSize();
            QPainter P(&Shot);
            L.render(&P, At + QPoint(10, 12));
        }
    }
    if (Menu) {
        // The menu opens as a popup of its own; drawn beside the window's picture.
        QPixmap MenuShot;
        QTimer::singleShot(300, [&] {
            if (QWidget* Popup = QApplication::activePopupWidget()) {
                MenuShot = Popup->grab();
                Popup->close();
            }
        });
        emit Main.lvDir->customContextMenuRequested(QPoint(20, 20));
        QTest::qWait(100);
        if (!MenuShot.isNull()) {
            QPixmap Both(Shot.width() + MenuShot.width() + 8, std::max(Shot.height(), MenuShot.height()));
            Both.fill(Qt::white);
            QPainter P(&Both);
            P.drawPixmap(0, 0, Shot);
            P.drawPixmap(Shot.width() + 8, 0, MenuShot);
            Shot = Both;
        }
    }
    Shot.save(Out);
    return 0;
}
