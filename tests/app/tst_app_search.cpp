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
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>
#include <sys/stat.h>
#include <utility>

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

    // The system's own folders are not entered: a tree of its own stands for the system's
    // root, so no root rights are needed. Below the root the same names are ordinary folders.
    void systemFoldersAreNotEntered() {
        QVERIFY(IsSystemFolder("/usr") && IsSystemFolder("/usr/") && IsSystemFolder("/lib64"));
        QVERIFY(IsSystemFolder("/var/lib") && IsSystemFolder("/var/tmp") &&
                IsSystemFolder("/lost+found"));
        QVERIFY(!IsSystemFolder("/usr/local") && !IsSystemFolder("/var") &&
                !IsSystemFolder("/var/libx"));
        QVERIFY(!IsSystemFolder("/home/usr") && !IsSystemFolder("/"));
        QVERIFY(IsSystemFolder("/x/y/tmp", "/x/y/") && !IsSystemFolder("/tmp", "/x/y"));
        const QString Sys = FTmp.path() + "/system";
        QStringList Expected;
        for (const char* P : {"usr/src/alt",    "usr/local/werk",  "tmp/fremd",     "var/tmp/fremd",
                              "var/lib/dienst", "var/cache/x",     "var/log/x",     "lib64/x",
                              "lib/x",          "libexec/x",       "etc/x",         "proc/x",
                              "sys/x",          "dev/x",           "run/x",         "boot/x",
                              "bin/x",          "sbin/x",          "snap/x",        "lost+found/x",
                              "var/www/seite",  "home/anna/eigen", "home/usr/auch", "opt/werk",
                              "srv/tmp/daten"}) {
            QVERIFY(Run("svn", {"checkout", "-q", FUrl, Sys + "/" + P}));
            if (QByteArray(P).startsWith("var/www") || QByteArray(P).startsWith("home") ||
                QByteArray(P).startsWith("opt") || QByteArray(P).startsWith("srv"))
                Expected << Sys + "/" + P + "/";
        }
        TSvnSearch S(Sys, {});
        S.SystemRoot = Sys;
        QStringList Found;
        connect(&S, &TSvnSearch::Found, [&](const QString& F) { Found << F; });
        QSignalSpy Done(&S, &TSvnSearch::Finished);
        S.Start();
        QVERIFY(Done.wait(30000));
        Found.sort();
        Expected.sort();
        QCOMPARE(Found, Expected);
        QVERIFY(S.StartError().isEmpty() && S.Notes().isEmpty());
    }

    // A bind mount of the same file system is not entered (needs the right to mount), and the
    // mount table's escapes are read.
    void bindMountsAreNotEntered() {
        const QSet<QByteArray> Points =
            MountPoints("22 27 0:21 / /proc rw - proc proc rw\n"
                        "45 27 254:0 /tmp/a /mnt/mit\\040Leerzeichen rw - ext4 /dev/vda rw\n"
                        "46 27 254:0 / / rw - ext4 /dev/vda rw\n");
        QCOMPARE(Points, (QSet<QByteArray>{"/proc", "/mnt/mit Leerzeichen", "/"}));
        const QString Tree = FTmp.path() + "/gebunden";
        QVERIFY(Run("svn", {"checkout", "-q", FUrl, Tree + "/quelle/kopie"}));
        QDir().mkpath(Tree + "/bindung");
        QProcess Mount;
        Mount.start("mount", {"--bind", Tree + "/quelle", Tree + "/bindung"});
        if (!Mount.waitForFinished(10000) || Mount.exitCode() != 0)
            QSKIP("cannot bind-mount here (needs root)");
        const auto Unmount = qScopeGuard([&] {
            QProcess U;
            U.start("umount", {Tree + "/bindung"});
            U.waitForFinished(10000);
        });
        QVERIFY(QFileInfo::exists(Tree + "/bindung/kopie/.svn"));
        QCOMPARE(Walk(Tree, {}), QStringList{Tree + "/quelle/kopie/"});
    }

    // A folder whose name is no valid UTF-8 could never be entered: it is passed over with a
    // note that names it as the system shows it; a valid umlaut is found as usual. A start
    // folder that cannot be searched says why.
    void namesAndStartsThatCannotBeUsed() {
        const QString Tree = FTmp.path() + "/namen";
        const QByteArray Bad = QFile::encodeName(Tree) + "/M\xfcller";
        QVERIFY(QDir().mkpath(Tree));
        // The client cannot be given such a path either: the copy's marker is made by hand.
        for (const QByteArray& D : {Bad, Bad + "/kopie", Bad + "/kopie/.svn"})
            QCOMPARE(mkdir(D.constData(), 0755), 0);
        QVERIFY(QDir().mkpath(Tree + "/Müller/kopie/.svn"));
        TSvnSearch S(Tree, {});
        QStringList Found, Notes;
        connect(&S, &TSvnSearch::Found, [&](const QString& F) { Found << F; });
        connect(&S, &TSvnSearch::Note, [&](const QString& N) { Notes << N; });
        QSignalSpy Done(&S, &TSvnSearch::Finished);
        S.Start();
        QVERIFY(Done.wait(30000));
        QCOMPARE(Found, QStringList{Tree + "/Müller/kopie/"});
        QCOMPARE(Notes.size(), 1);
        QCOMPARE(S.Notes(), Notes);
        QVERIFY2(Notes.first().startsWith("\"" + Tree +
                                          "/M\\374ller\": der Name ist kein gültiges "
                                          "UTF-8"),
                 qPrintable(Notes.first()));
        QVERIFY(!Notes.first().contains(QChar(0xFFFD)));
        QCOMPARE(DisplayPath("a/\xc3\xbc/\xfc\xc3/\xf0\x9f\x98\x80"), QString("a/ü/\\374\\303/😀"));

        // Starts that cannot be searched: missing, a file; each says why and finds nothing.
        for (const auto& [Start, Why] :
             {std::pair<QString, QString>{Tree + "/nix", "es gibt ihn nicht"},
              std::pair<QString, QString>{FTmp.path() + "/reg.xml", "das ist kein Ordner"}}) {
            TSvnSearch E(Start, {});
            QSignalSpy EndSpy(&E, &TSvnSearch::Finished);
            E.Start();
            QVERIFY(EndSpy.wait(10000));
            QCOMPARE(E.StartError(),
                     "Der Ordner \"" + Start + "/\" kann nicht durchsucht werden: " + Why + ".");
        }
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

    // The search's dialog proposes the folder's own name, selected so typing replaces it, and
    // says how many finds wait behind it, following the walk while it is open.
    void searchDialogProposesTheName() {
        auto W = std::make_unique<TfmMain>();
        W->show();
        QTRY_VERIFY(W->RegistryLoaded());
        TXMLTreeNode* Root = W->lvDir->XMLItems()->TopNode(0);
        TSearchQueue Queue{3, true};
        QStringList Seen;
        QTimer T;
        T.setInterval(10);
        int Step = 0;
        connect(&T, &QTimer::timeout, [&] {
            auto* D = qobject_cast<TfmNeueGruppe*>(QApplication::activeModalWidget());
            if (!D || !D->isVisible())
                return;
            if (Step == 0) {
                Seen << D->edName->text() << D->edName->selectedText() << D->lblWartend->text();
                Queue = {1, false};
                Step = 1;
            } else if (Step == 1 && D->lblWartend->text() != Seen.last()) {
                Seen << D->lblWartend->text();
                Queue = {0, false};
                Step = 2;
            } else if (Step == 2 && D->lblWartend->text() != Seen.last()) {
                Seen << D->lblWartend->text();
                QTest::keyClicks(D->edName, "Werkzeug");
                Seen << D->edName->text();
                D->btn2->click();
            }
        });
        T.start();
        QVERIFY(
            !ShowSearchEntryDialog(Root, "/home/anna/Projekte/werkzeug/", [&] { return Queue; }));
        QCOMPARE(Seen,
                 QStringList(
                     {"werkzeug", "werkzeug", "Noch 3 weitere Funde warten; die Suche läuft noch.",
                      "Noch 1 weiterer Fund wartet.", "Dies ist der letzte Fund.", "Werkzeug"}));
    }

    // What the window's search could not do, it says: folders passed over, in one message
    // before the closing one; a start folder it cannot search, instead of the closing one.
    void windowSearchTellsWhatItCouldNot() {
        const QString Tree = FTmp.path() + "/fenster";
        const QByteArray Bad = QFile::encodeName(Tree) + "/Gr\xf6\xdf"
                                                         "e";
        QVERIFY(QDir().mkpath(Tree));
        for (const QByteArray& D : {Bad, Bad + "/kopie", Bad + "/kopie/.svn"})
            QCOMPARE(mkdir(D.constData(), 0755), 0);
        qputenv("KIV_SEARCH_ROOT", QFile::encodeName(Tree));
        const auto Unset = qScopeGuard([] { qunsetenv("KIV_SEARCH_ROOT"); });
        FPrompter.Reset();
        {
            auto W = std::make_unique<TfmMain>();
            W->show();
            QTRY_VERIFY(W->RegistryLoaded());
            FPrompter.Answers = {true};
            W->btnAutoSuchen->click();
            QTRY_VERIFY_WITH_TIMEOUT(FPrompter.Infos.size() == 2, 30000);
            QVERIFY(FPrompter.Infos[0].startsWith("Die Suche hat einen Ordner übersprungen:\n\n\"" +
                                                  Tree + "/Gr\\366\\337e\""));
            QCOMPARE(FPrompter.Infos[1], QStringLiteral("Keine weiteren Projekte gefunden"));
            QVERIFY(FPrompter.Errors.isEmpty());
        }
        qputenv("KIV_SEARCH_ROOT", QFile::encodeName(FTmp.path() + "/reg.xml"));
        FPrompter.Reset();
        auto W = std::make_unique<TfmMain>();
        W->show();
        QTRY_VERIFY(W->RegistryLoaded());
        FPrompter.Answers = {true};
        W->btnAutoSuchen->click();
        QTRY_VERIFY_WITH_TIMEOUT(!FPrompter.Errors.isEmpty(), 30000);
        QCOMPARE(FPrompter.Errors, QStringList("Der Ordner \"" + FTmp.path() +
                                               "/reg.xml/\" kann nicht durchsucht werden: das "
                                               "ist kein Ordner."));
        QVERIFY(FPrompter.Infos.isEmpty());
        QCOMPARE(W->findChild<QLabel*>("lblStatus")->text(), QStringLiteral("Suche nicht möglich"));
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
