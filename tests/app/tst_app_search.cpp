// The automatic search for working copies: the walk over a real folder tree with real
// checkouts, hidden folders, a nested copy and a symbolic link loop, and the window's command.
#include "kiv_test_folders.h"
#include "kiv_test_prompter.h"
#include "fm_addgruppe.h"
#include "fm_main.h"
#include "kivButtonEdit.h"
#include "kiv_XmlObjects.h"
#include "kiv_prompts.h"
#include "svn_search.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>

namespace {
const QString Head = QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n");

bool Run(const QString& Program, const QStringList& Args) {
    QProcess P;
    P.setProcessChannelMode(QProcess::MergedChannels);
    P.start(Program, Args);
    P.waitForFinished(60000);
    if (P.exitCode() != 0)
        qWarning("%s: %s", qPrintable(Args.join(u' ')), P.readAll().constData());
    return P.exitStatus() == QProcess::NormalExit && P.exitCode() == 0;
}
} // namespace

class TestAppSearch : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    TTestFolders FFolders;
    TTestPrompter FPrompter;
    QString FTree; // the folder searched
    QString FUrl;

    QString At(const QString& Rel) const { return FTree + u'/' + Rel; }
    void Checkout(const QString& Rel) { QVERIFY(Run("svn", {"checkout", "-q", FUrl, At(Rel)})); }
    QString Registry() const {
        // alpha is registered inside a group, with blanks and without the trailing "/".
        return "<SubVersion Beschreibung=\"x\">\r\n<ProjektGruppe Name=\"G\">\r\n"
               "<Projekt Name=\"alpha\" Verzeichnis=\" " +
               At("arbeit/gruppe/alpha") +
               " \"/>\r\n</ProjektGruppe>\r\n"
               "<Projekt Name=\"Gross\" Verzeichnis=\"" +
               At("Fall/X/") + "\"/>\r\n</SubVersion>\r\n";
    }
    QStringList Walk(const QString& Start, const QSet<QString>& Registered) {
        TSvnSearch S(Start, Registered);
        QStringList Found;
        connect(&S, &TSvnSearch::Found, [&](const QString& F) { Found << F; });
        QSignalSpy Done(&S, &TSvnSearch::Finished);
        S.Start();
        if (!Done.wait(30000))
            qWarning("search did not finish");
        return Found;
    }

    // Answers each new-entry dialog the search opens, as long as T runs (started by the caller).
    static void OnEachDialog(QTimer& T, std::function<void(TfmNeueGruppe*)> Answer) {
        T.setInterval(10);
        QObject::connect(&T, &QTimer::timeout, [Answer] {
            auto* D = qobject_cast<TfmNeueGruppe*>(QApplication::activeModalWidget());
            if (D && D->isVisible())
                Answer(D);
        });
    }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid() && FFolders.Apply());
        qputenv("LC_ALL", "C");
        SetPrompter(&FPrompter);
        QVERIFY(Run("svnadmin", {"create", FTmp.path() + "/repo"}));
        FUrl = "file://" + FTmp.path() + "/repo";
        FTree = FTmp.path() + "/baum";
        Checkout("arbeit/beta");
        Checkout("arbeit/beta/lib"); // nested: not offered, beta is not searched
        Checkout("arbeit/gruppe/alpha");
        Checkout(".versteckt/gamma"); // below a hidden folder
        Checkout("arbeit/.delta");    // hidden itself
        Checkout("Fall/x");           // differs from the registered "Fall/X" in case only
        Checkout("tief/a/b/c/epsilon");
        QDir().mkpath(At("leer/nichts"));
        QDir().mkpath(FTmp.path() + "/draussen");
        Checkout("../draussen/zeta"); // reachable only through a link
        QVERIFY(QFile::link(FTree, At("arbeit/schleife")));
        QVERIFY(QFile::link(FTmp.path() + "/draussen", At("verweis")));
        QVERIFY(QFile::link(At("arbeit/beta"), At("leer/auf-beta")));
    }
    void cleanupTestCase() { SetPrompter(nullptr); }

    void registeredKeys() {
        TPlainXmlReader Reader;
        const QString File = FTmp.path() + "/reg.xml";
        {
            QFile F(File);
            QVERIFY(F.open(QIODevice::WriteOnly));
            F.write((Head + Registry()).toLatin1());
        }
        Reader.LoadFromFile(File);
        TkivXmlElement* Root = Reader.Root();
        QVERIFY(IsRegistered(Root, At("arbeit/gruppe/alpha/"), "/"));
        QVERIFY(IsRegistered(Root, At("arbeit/gruppe/alpha"), "/"));
        QVERIFY(IsRegistered(Root, "  " + At("arbeit/gruppe/alpha/") + " ", "/"));
        QVERIFY(IsRegistered(Root, At("Fall/X"), "/"));
        QVERIFY(!IsRegistered(Root, At("Fall/x/"), "/"));
        QVERIFY(!IsRegistered(Root, At("fall/X/"), "/"));
        QVERIFY(!IsRegistered(Root, At("arbeit/gruppe/"), "/"));
        QVERIFY(!IsRegistered(Root, At("arbeit/gruppe/alpha/sub/"), "/"));
        QCOMPARE(RegisteredKeys(Root, "/").size(), 2);
    }

    // Hidden folders and links are not entered, nothing inside a copy is searched, and the
    // registered copy in a group is passed over.
    void walk() {
        TPlainXmlReader Reader;
        Reader.LoadFromFile(FTmp.path() + "/reg.xml");
        QStringList Found = Walk(FTree, RegisteredKeys(Reader.Root(), "/"));
        Found.sort();
        QCOMPARE(Found,
                 QStringList({At("Fall/x/"), At("arbeit/beta/"), At("tief/a/b/c/epsilon/")}));
        // The start folder itself a copy: it alone is offered.
        QCOMPARE(Walk(At("arbeit/beta"), {}), QStringList{At("arbeit/beta/")});
        // Nothing registered: alpha as well; a start that is no folder finds nothing.
        QCOMPARE(Walk(At("arbeit/gruppe/"), {}), QStringList{At("arbeit/gruppe/alpha/")});
        QVERIFY(Walk(At("nix"), {}).isEmpty());
    }

    void cancelStopsTheWalk() {
        TSvnSearch S(FTree, {});
        QStringList Found;
        connect(&S, &TSvnSearch::Found, [&](const QString& F) { Found << F; });
        QSignalSpy Done(&S, &TSvnSearch::Finished);
        S.Cancel();
        S.Start();
        QVERIFY(Done.wait(10000));
        QCOMPARE(Done.first().first().toBool(), true);
        QVERIFY(Found.isEmpty());
    }

    // The window asks, disables its button, offers each new copy in its own dialog under the
    // root and ends with the message.
    void windowSearch() {
        const QString RegFile =
            FFolders.Data.path() + "/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml";
        QDir().mkpath(QFileInfo(RegFile).path());
        {
            QFile F(RegFile);
            QVERIFY(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
            F.write((Head + Registry()).toLatin1());
        }
        qputenv("KIV_SEARCH_ROOT", QFile::encodeName(FTree));
        auto W = std::make_unique<TfmMain>();
        W->show();
        QTRY_VERIFY(W->RegistryLoaded());
        // No: nothing happens.
        W->btnAutoSuchen->click();
        QCOMPARE(FPrompter.Questions, QStringList{"Automatisch nach SVN-Projekten suchen?"});
        QVERIFY(W->btnAutoSuchen->isEnabled());

        // Yes: the first dialog is confirmed with a name, the others cancelled.
        QStringList Offered;
        QTimer T;
        OnEachDialog(T, [&](TfmNeueGruppe* D) {
            Offered << D->edDir->text();
            if (Offered.size() == 1) {
                D->edName->setText("gefunden");
                D->btn1->click();
            } else {
                D->btn2->click();
            }
        });
        T.start();
        FPrompter.Answers = {true};
        W->btnAutoSuchen->click();
        QVERIFY(!W->btnAutoSuchen->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!FPrompter.Infos.isEmpty(), 30000);
        T.stop();
        QCOMPARE(FPrompter.Infos, QStringList{"Keine weiteren Projekte gefunden"});
        QVERIFY(FPrompter.Errors.isEmpty());
        QVERIFY(!W->btnAutoSuchen->isEnabled()); // for the rest of the program's run
        QStringList Sorted = Offered;
        Sorted.sort();
        QCOMPARE(Sorted,
                 QStringList({At("Fall/x/"), At("arbeit/beta/"), At("tief/a/b/c/epsilon/")}));
        TXMLTreeNode* Root = W->lvDir->XMLItems()->TopNode(0);
        bool Added = false;
        for (int i = 0; i < Root->childCount(); ++i) {
            auto* N = static_cast<TXMLTreeNode*>(Root->child(i));
            if (N->text(0) == "gefunden") {
                Added = true;
                QCOMPARE(N->XMLElement()->GetAttribute("Verzeichnis"), Offered.first());
            }
        }
        QVERIFY(Added);
        qunsetenv("KIV_SEARCH_ROOT");
    }

    // The dialogs the search opens have a button that ends the whole search: no further
    // dialog, no closing message, the status bar says so.
    void searchEndsFromItsDialog() {
        qputenv("KIV_SEARCH_ROOT", QFile::encodeName(FTree));
        FPrompter.Reset();
        auto W = std::make_unique<TfmMain>();
        W->show();
        QTRY_VERIFY(W->RegistryLoaded());
        int Dialogs = 0;
        QTimer T;
        OnEachDialog(T, [&](TfmNeueGruppe* D) {
            ++Dialogs;
            QVERIFY(D->btnSucheBeenden);
            D->btnSucheBeenden->click();
        });
        T.start();
        FPrompter.Answers = {true};
        W->btnAutoSuchen->click();
        QTRY_VERIFY_WITH_TIMEOUT(W->ToolButton8->isEnabled() &&
                                     W->findChild<QLabel*>("lblStatus")->text().startsWith("Suche beendet"),
                                 30000);
        QTest::qWait(200);
        T.stop();
        QCOMPARE(Dialogs, 1);
        QVERIFY(FPrompter.Infos.isEmpty());
        QVERIFY(!W->findChild<QAbstractButton*>("btnAbbrechen")->isVisible());
        // The dialog the new-project command opens has no such button.
        TfmNeueGruppe Plain(W.get());
        QVERIFY(!Plain.btnSucheBeenden);
        qunsetenv("KIV_SEARCH_ROOT");
    }
};

QTEST_MAIN(TestAppSearch)
#include "tst_app_search.moc"
