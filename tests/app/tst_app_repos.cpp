// The window and each project's repository URL, against real working copies: the URLs the
// runs and new entries learn kept in the registry, the missing copies checked out from the
// tree's menu, .repos files imported into a group and exported from it.
#include "kiv_test_folders.h"
#include "kiv_test_prompter.h"
#include "kiv_test_svn.h"

#include "fm_addgruppe.h"
#include "fm_main.h"
#include "kivButtonEdit.h"
#include "kiv_XmlObjects.h"
#include "kiv_nodestate.h"
#include "kiv_output.h"
#include "kiv_prompts.h"
#include "kiv_registrydoc.h"
#include "kiv_taskcontrol.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

using namespace kivtest;

namespace {
const QString Head = QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n");

TXMLTreeNode* Child(TXMLTreeNode* Parent, const QString& Caption) {
    for (int i = 0; Parent && i < Parent->childCount(); ++i)
        if (Parent->child(i)->text(0) == Caption)
            return static_cast<TXMLTreeNode*>(Parent->child(i));
    return nullptr;
}

QString UrlOf(const QString& Folder) {
    return RunIn(Folder, {"info", "--show-item", "url"}).value(0).trimmed();
}

// The entries of the menu that the next right click opens; Choose is triggered when given.
QList<std::pair<QString, bool>> MenuOf(TfmMain& W, const QString& Choose = QString()) {
    QList<std::pair<QString, bool>> Seen;
    QTimer T;
    T.setInterval(5);
    QObject::connect(&T, &QTimer::timeout, [&] {
        auto* Menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!Menu)
            return;
        T.stop();
        QAction* Chosen = nullptr;
        for (QAction* A : Menu->actions())
            if (!A->isSeparator()) {
                Seen.append({A->text(), A->isEnabled()});
                if (A->text() == Choose)
                    Chosen = A;
            }
        if (Chosen) {
            Menu->setActiveAction(Chosen);
            QTest::keyClick(Menu, Qt::Key_Return);
        } else {
            Menu->close();
        }
    });
    T.start();
    emit W.lvDir->customContextMenuRequested(QPoint(5, 5));
    return Seen;
}

} // namespace

class TestAppRepos : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    TTestFolders FFolders;
    TTestPrompter FPrompter;
    QString FUrl;

    QString At(const QString& Rel) const { return FTmp.path() + u'/' + Rel; }
    QString RegistryPath() const {
        return FFolders.Data.path() + "/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml";
    }
    void WriteRegistry(const QString& Body) { WriteFile(RegistryPath(), (Head + Body).toLatin1()); }
    std::unique_ptr<TfmMain> Open() {
        auto W = std::make_unique<TfmMain>();
        W->show();
        if (!QTest::qWaitFor([&] { return W->RegistryLoaded(); }, 2000))
            qWarning("the registry was not loaded");
        return W;
    }
    // Waits for the run to end and its lines to be in the memo.
    static void WaitForRun(TfmMain& W) {
        if (!QTest::qWaitFor([&] { return !W.Tasks->Running() && W.Output->Pending() == 0; },
                             60000))
            qWarning("run did not end");
        QTest::qWait(50);
    }
    static QString Url(TXMLTreeNode* N) {
        return N ? N->XMLElement()->GetAttribute(QStringLiteral("URL"))
                 : QStringLiteral("(kein Knoten)");
    }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid() && FFolders.Apply());
        SetPrompter(&FPrompter);
        Svn({"create", At("repo")}, QString(), QStringLiteral("svnadmin"));
        FUrl = "file://" + At("repo");
        for (const char* P : {"eins", "zwei", "drei", "Grüne Wiese"})
            WriteFile(At("imp/") + P + "/datei.txt", "eins\n");
        Svn({"import", "-q", "-m", "init", At("imp"), FUrl});
        for (const char* P : {"eins", "zwei"})
            Svn({"checkout", "-q", FUrl + "/" + P, At("wc/") + P});
    }
    void init() { FPrompter.Reset(); }
    void cleanupTestCase() { SetPrompter(nullptr); }

    // A status run fills in the URLs the registry does not keep yet, and the file keeps them;
    // a run that learns nothing new leaves the registry unchanged.
    void runsKeepTheUrlsInTheRegistry() {
        ForgetStoredStates();
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n<ProjektGruppe Name=\"G\">\r\n"
                      "<Projekt Name=\"eins\" Verzeichnis=\"" +
                      At("wc/eins") +
                      "\"/>\r\n"
                      "<Projekt Name=\"fort\" Verzeichnis=\"" +
                      At("wc/fort") +
                      "\"/>\r\n"
                      "</ProjektGruppe>\r\n</SubVersion>\r\n");
        {
            auto W = Open();
            TXMLTreeNode* G = Child(W->lvDir->XMLItems()->TopNode(0), "G");
            W->lvDir->SetSelected(G);
            W->ToolButton8->click();
            WaitForRun(*W);
            QTRY_COMPARE(Url(Child(G, "eins")), FUrl + "/eins");
            QCOMPARE(Url(Child(G, "fort")), QString());
            QVERIFY(W->Registry->Changed());
        }
        const QByteArray Saved = ReadFile(RegistryPath());
        QVERIFY2(
            Saved.contains(
                ("Verzeichnis=\"" + At("wc/eins") + "\" URL=\"" + FUrl + "/eins\"").toLatin1()),
            Saved.constData());
        auto W = Open();
        W->lvDir->SetSelected(W->lvDir->XMLItems()->TopNode(0));
        W->ToolButton8->click();
        WaitForRun(*W);
        QTest::qWait(400);
        QVERIFY(!W->Registry->Changed());
    }

    // A copy that is gone comes back from the tree's menu, also from the menu of the project
    // itself (its folder has no menu of its own any more).
    void missingCopiesComeBackFromTheMenu() {
        Svn({"checkout", "-q", FUrl + "/drei", At("wc/drei")});
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n<ProjektGruppe Name=\"G\">\r\n"
                      "<Projekt Name=\"drei\" Verzeichnis=\"" +
                      At("wc/drei") + "\" URL=\"" + FUrl +
                      "/drei\"/>\r\n<Projekt Name=\"zwei\" Verzeichnis=\"" + At("wc/zwei") +
                      "\" URL=\"" + FUrl + "/zwei\"/>\r\n</ProjektGruppe>\r\n</SubVersion>\r\n");
        QVERIFY(QDir(At("wc/drei")).removeRecursively());
        auto W = Open();
        TXMLTreeNode* G = Child(W->lvDir->XMLItems()->TopNode(0), "G");
        // A project whose copy is there: the entry is offered, but off.
        W->lvDir->SetSelected(Child(G, "zwei"));
        QVERIFY(MenuOf(*W).contains({"Fehlende Arbeitskopien auschecken", false}));
        W->lvDir->SetSelected(Child(G, "drei"));
        const auto Entries = MenuOf(*W, "Fehlende Arbeitskopien auschecken");
        QVERIFY(Entries.contains({"Fehlende Arbeitskopien auschecken", true}));
        WaitForRun(*W);
        QCOMPARE(UrlOf(At("wc/drei")), FUrl + "/drei");
        QVERIFY(RunIn(At("wc/drei"), {"status"}).isEmpty());
        const QString Memo = W->mmExec->toPlainText();
        QVERIFY2(Memo.startsWith("*** Fehlende Arbeitskopien auschecken\n--> " + At("wc/drei") +
                                 "\nA    drei/datei.txt\nChecked out revision 1.\n"),
                 qPrintable(Memo));
        QCOMPARE(TSvnState(Child(G, "drei")->data(0, NodeStateRole).toInt()),
                 TSvnState::CheckedOut);
        // The group's menu runs it over every project below; what is there is only looked at.
        W->lvDir->SetSelected(G);
        MenuOf(*W, "Fehlende Arbeitskopien auschecken");
        WaitForRun(*W);
        QVERIFY2(W->mmExec->toPlainText().endsWith("*** Ende"),
                 qPrintable(W->mmExec->toPlainText()));
        QVERIFY(!W->mmExec->toPlainText().contains("Checked out"));
        QVERIFY(!W->Registry->Changed());
    }

    // A .repos file into a group: the URLs asked first, then every entry at once, and the
    // copies checked out when the user wants; the group out again as such a file.
    void reposFileIntoAGroupAndOut() {
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n<ProjektGruppe Name=\"Ziel\"/>\r\n"
                      "</SubVersion>\r\n");
        WriteFile(At("neu.repos"),
                  "repositories:\n  Grüne Wiese:\n    type: svn\n    url: " + FUrl.toUtf8() +
                      "/Gr%C3%BCne%20Wiese\n  sub/eins:\n"
                      "    type: svn\n    url: " +
                      FUrl.toUtf8() +
                      "/eins\n"
                      "  fremd:\n    type: git\n    url: https://h/x.git\n");
        auto W = Open();
        TXMLTreeNode* Ziel = Child(W->lvDir->XMLItems()->TopNode(0), "Ziel");
        W->lvDir->SetSelected(Ziel);
        FPrompter.Files = {At("neu.repos"), At("ziel")};
        FPrompter.Answers = {true}; // check out now
        MenuOf(*W, "Aus .repos-Datei importieren …");
        QTRY_VERIFY_WITH_TIMEOUT(!FPrompter.Questions.isEmpty(), 30000);
        QVERIFY2(FPrompter.Errors.isEmpty(), qPrintable(FPrompter.Errors.join('\n')));
        const QString Asked = FPrompter.Questions.value(0);
        QVERIFY2(Asked.startsWith("2 Projekte aus " + At("neu.repos") + " eingetragen.") &&
                     Asked.contains("fremd") && Asked.endsWith("jetzt auschecken?"),
                 qPrintable(Asked));
        WaitForRun(*W);
        QCOMPARE(Url(Child(Ziel, "Grüne Wiese")), FUrl + "/Gr%C3%BCne%20Wiese");
        QCOMPARE(Url(Child(Child(Ziel, "sub"), "eins")), FUrl + "/eins");
        QCOMPARE(UrlOf(At("ziel/Grüne Wiese")), FUrl + "/Gr%C3%BCne%20Wiese");
        QCOMPARE(UrlOf(At("ziel/sub/eins")), FUrl + "/eins");
        QVERIFY(W->Registry->Changed());

        // Out again: the group's projects, keys below it.
        W->lvDir->SetSelected(Ziel);
        FPrompter.Files = {At("aus.repos")};
        MenuOf(*W, "Als .repos-Datei exportieren …");
        QTRY_VERIFY(QFileInfo::exists(At("aus.repos")));
        QCOMPARE(ReadFile(At("aus.repos")),
                 "repositories:\n  Grüne Wiese:\n    type: svn\n    url: " + FUrl.toUtf8() +
                     "/Gr%C3%BCne%20Wiese\n  sub/eins:\n    type: svn\n    url: " + FUrl.toUtf8() +
                     "/eins\n");
        QVERIFY(FPrompter.FileQuestions.last().endsWith("/Ziel.repos"));
    }

    // Bad input: said in German, and the tree as it was.
    void badReposFilesChangeNothing() {
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n<ProjektGruppe Name=\"Ziel\">\r\n"
                      "<Projekt Name=\"eins\" Verzeichnis=\"" +
                      At("wc/eins") + "\"/>\r\n</ProjektGruppe>\r\n</SubVersion>\r\n");
        auto W = Open();
        TXMLTreeNode* Ziel = Child(W->lvDir->XMLItems()->TopNode(0), "Ziel");
        W->lvDir->SetSelected(Ziel);
        auto Refused = [&](const QByteArray& File, const QString& Said) {
            FPrompter.Reset();
            WriteFile(At("bad.repos"), File);
            FPrompter.Files = {At("bad.repos"), At("wc")};
            MenuOf(*W, "Aus .repos-Datei importieren …");
            QTRY_VERIFY_WITH_TIMEOUT(!FPrompter.Errors.isEmpty(), 30000);
            QVERIFY2(FPrompter.Errors.first().contains(Said), qPrintable(FPrompter.Errors.first()));
            QTest::qWait(50);
            QCOMPARE(Ziel->childCount(), 1);
            QVERIFY(!W->Registry->Changed());
        };
        Refused("repositories:\n  a:\n    type: svn\n   url: x\n", "keine gültige .repos-Datei");
        Refused("repositories:\n  neu:\n    type: svn\n    url: " + FUrl.toUtf8() + "/nix\n",
                "der Server nimmt diese URLs nicht an");
        Refused("repositories:\n  EINS:\n    type: svn\n    url: " + FUrl.toUtf8() + "/eins\n",
                "Diese Gruppe existiert schon");
        Refused("repositories:\n  eins/tief:\n    type: svn\n    url: " + FUrl.toUtf8() + "/eins\n",
                "ist schon ein Projekt");
        QVERIFY(FPrompter.Errors.first().contains("Nichts wurde eingetragen."));
    }

    // A project entered in the dialog has its URL from then on.
    void newEntryLearnsItsUrl() {
        WriteRegistry("<SubVersion Beschreibung=\"x\"/>\r\n");
        auto W = Open();
        TXMLTreeNode* R = W->lvDir->XMLItems()->TopNode(0);
        W->lvDir->SetSelected(R);
        QTimer::singleShot(50, [&] {
            auto* D = qobject_cast<TfmNeueGruppe*>(QApplication::activeModalWidget());
            QVERIFY(D);
            D->edName->setText("zwei");
            D->edDir->setText(At("wc/zwei"));
            D->btn1->click();
        });
        W->ToolButton4->click();
        QTRY_COMPARE_WITH_TIMEOUT(Url(Child(R, "zwei")), FUrl + "/zwei", 10000);
    }
};

QTEST_MAIN(TestAppRepos)
#include "tst_app_repos.moc"
