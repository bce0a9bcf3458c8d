// Draws the main window (with the registry of $XDG_DATA_HOME) into a PNG, with the node of
// the given caption selected and the given page shown: app_shot out.png [caption] [page] [busy];
// app_shot out.png --dialog draws the new-entry dialog
#include "fm_addgruppe.h"
#include "fm_main.h"
#include "kiv_appcore.h"

#include <QApplication>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidgetItemIterator>

int main(int argc, char** argv) {
    TkivApplication App(argc, argv);
    QCoreApplication::setApplicationName("kivSubversion");
    TfmMain Main;
    Main.show();
    if (!QTest::qWaitForWindowExposed(&Main))
        return 1;
    QTest::qWait(200);
    if (argc > 2 && QByteArray(argv[2]) == "--dialog") {
        TfmNeueGruppe Dialog(&Main);
        Dialog.ParentNode = Main.lvDir->XMLItems()->TopNode(0);
        Dialog.show();
        QTest::qWait(300);
        Dialog.grab().save(QString::fromLocal8Bit(argv[1]));
        return 0;
    }
    if (argc > 2)
        for (QTreeWidgetItemIterator It(Main.lvDir); *It; ++It)
            if ((*It)->text(0) == QString::fromLocal8Bit(argv[2]))
                Main.lvDir->SetSelected(static_cast<TXMLTreeNode*>(*It));
    if (argc > 3)
        Main.pag1->setCurrentIndex(QByteArray(argv[3]).toInt());
    if (argc > 4)
        Main.StartBusy();
    QTest::qWait(500);
    Main.grab().save(QString::fromLocal8Bit(argc > 1 ? argv[1] : "shot.png"));
    return 0;
}
