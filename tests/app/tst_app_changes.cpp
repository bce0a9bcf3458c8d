// The changes window against real working copies: the list and the differences, a commit of
// some of the changes, a commit the server refuses, revert, the three ways to resolve a
// conflict, the log, a server that wants a login; the tree following each change; the diff's
// colours on a light and a dark palette; and never two clients on one copy at once.
#include "kiv_test_folders.h"
#include "kiv_test_prompter.h"
#include "kiv_test_servers.h"
#include "kiv_test_svn.h"

#include "fm_changes.h"
#include "fm_main.h"
#include "kiv_XmlObjects.h"
#include "kiv_changesmodel.h"
#include "kiv_diffview.h"
#include "kiv_folders.h"
#include "kiv_live.h"
#include "kiv_nodestate.h"
#include "kiv_output.h"
#include "kiv_taskcontrol.h"
#include "svn_store.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <memory>

using namespace kivtest;

namespace {

const QByteArray Head = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";

QPalette Light() {
    QPalette P;
    P.setColor(QPalette::Base, Qt::white);
    P.setColor(QPalette::Text, Qt::black);
    P.setColor(QPalette::Window, QColor(0xef, 0xef, 0xef));
    P.setColor(QPalette::WindowText, Qt::black);
    return P;
}

QPalette Dark() {
    QPalette P;
    P.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    P.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
    P.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    P.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
    return P;
}

// The item's letters in the first column of "svn status", "" when svn reports nothing.
QString StatusOf(const QString& Wc, const QString& Path) {
    for (const QString& L : RunIn(Wc, {"status", "--depth", "infinity"}))
        if (L.mid(8) == Path)
            return L.left(1);
    return QString();
}

} // namespace

class TestAppChanges : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    TTestFolders FFolders;
    TTestPrompter FPrompter;
    QByteArray FHome;
    int FCase = 0;
    QString FRepo, FUrl, FWc;

    QString At(const QString& Rel) const { return FTmp.path() + u'/' + Rel; }
    const QByteArray FPath = qgetenv("PATH");
    QString InWc(const QString& Rel) const { return FWc + u'/' + Rel; }

    // A repository with a few files and a copy of it, new for each test; the registry names
    // the copy as project "proj" in group "G".
    void NewCopy() {
        const QString Case = At(QStringLiteral("c%1").arg(++FCase));
        FRepo = Case + "/repo";
        QDir().mkpath(Case);
        Svn({"create", FRepo}, QString(), QStringLiteral("svnadmin"));
        FUrl = "file://" + FRepo;
        WriteFile(Case + "/imp/a.txt", "eins\nzwei\ndrei\n");
        WriteFile(Case + "/imp/b.txt", "bbb\n");
        WriteFile(Case + "/imp/sub/c.txt", "ccc\n");
        WriteFile(Case + "/imp/bild.dat", QByteArray("\x00\x01\x02\x03", 4));
        Svn({"import", "-q", "-m", "Anfang", Case + "/imp", FUrl});
        FWc = Case + "/wc";
        Svn({"checkout", "-q", FUrl, FWc});
        WriteRegistry(FWc);
    }
    void WriteRegistry(const QString& Wc, const QByteArray& RootAttributes = QByteArray()) {
        WriteFile(FFolders.Data.path() + "/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml",
                  Head + "<SubVersion Beschreibung=\"x\"" + RootAttributes +
                      ">\r\n<ProjektGruppe Name=\"G\">\r\n"
                      "<Projekt Name=\"proj\" Verzeichnis=\"" +
                      Wc.toLocal8Bit() + "\"/>\r\n</ProjektGruppe>\r\n</SubVersion>\r\n");
    }
    std::unique_ptr<TfmMain> OpenMain() {
        auto W = std::make_unique<TfmMain>();
        W->show();
        if (!QTest::qWaitFor([&] { return W->RegistryLoaded(); }, 5000))
            qWarning("the registry was not loaded");
        return W;
    }
    static TXMLTreeNode* ProjectNode(TfmMain& W) {
        TXMLTreeNode* Root = W.lvDir->XMLItems()->TopNode(0);
        return Root->ChildNode(0)->ChildNode(0);
    }
    // The changes window of the project, once its first status has been read.
    TfmChanges* OpenChanges(TfmMain& W) {
        W.ShowChanges(ProjectNode(W));
        TfmChanges* C = W.ChangesWindow(ProjectFolder(FWc));
        if (!C)
            return nullptr;
        if (!QTest::qWaitFor([&] { return !C->Working() && !C->Model->Filling(); }, 30000))
            qWarning("the changes window did not settle");
        return C;
    }
    static void WaitIdle(TfmChanges* C) {
        QTest::qWait(50);
        if (!QTest::qWaitFor([&] { return !C->Working() && !C->Model->Filling(); }, 60000))
            qWarning("the changes window did not settle");
    }
    static int Row(TfmChanges* C, const QString& Path) { return C->Model->RowOf(Path); }
    static void Check(TfmChanges* C, const QStringList& Paths) {
        C->Model->SetAllChecked(false);
        QList<int> Rows;
        for (const QString& P : Paths)
            Rows << Row(C, P);
        C->Model->SetChecked(Rows, true);
    }
    static void Select(TfmChanges* C, const QString& Path) {
        const QModelIndex I = C->Model->index(Row(C, Path), TChangesModel::ColPath);
        C->lvAenderungen->selectionModel()->setCurrentIndex(I, QItemSelectionModel::ClearAndSelect |
                                                                   QItemSelectionModel::Rows);
    }
    static QString Status(TfmChanges* C) { return C->lblStatus->text(); }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid() && FFolders.Apply());
        SetPrompter(&FPrompter);
        // A home of its own: no stored login of the user's may answer for the client.
        FHome = qgetenv("HOME");
        QDir().mkpath(At("home"));
        qputenv("HOME", QFile::encodeName(At("home")));
    }
    void init() {
        FPrompter.Reset();
        ForgetStoredStates();
        QFile::remove(FFolders.Config.path() + "/KelvaroSoft/kivSubversion.ini");
    }
    void cleanupTestCase() {
        SetPrompter(nullptr);
        qputenv("HOME", FHome);
    }

    // The list from a fresh status: letters as svn prints them, the first check marks, the
    // unversioned only on request; the model passes Qt's checks; a difference per file, a
    // binary one said as such, a very large one bounded.
    void listAndDifferences() {
        NewCopy();
        WriteFile(InWc("a.txt"), "eins\nZWEI\ndrei\nvier\n");
        WriteFile(InWc("neu.txt"), "neu\n");
        WriteFile(InWc("bild.dat"), QByteArray("\x00\x09\x02", 3));
        Svn({"propset", "-q", "farbe", "blau", InWc("sub")});
        QByteArray Big;
        for (int i = 0; i < 5000; ++i)
            Big += "Zeile " + QByteArray::number(i) + "\n";
        WriteFile(InWc("b.txt"), Big);
        auto W = OpenMain();
        TfmChanges* C = OpenChanges(*W);
        QVERIFY(C);
        QAbstractItemModelTester Tester(C->Model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(C->windowTitle(), QStringLiteral("Änderungen – G/proj"));
        QCOMPARE(C->Model->rowCount(), 4);
        QCOMPARE(C->Model->data(C->Model->index(Row(C, "a.txt"), 0)).toString(),
                 QStringLiteral("M      "));
        QCOMPARE(C->Model->data(C->Model->index(Row(C, "sub"), 0)).toString(),
                 QStringLiteral(" M     "));
        QCOMPARE(C->Model->data(C->Model->index(Row(C, "sub"), 2)).toString(),
                 QStringLiteral("Eigenschaften geändert"));
        QCOMPARE(Row(C, "neu.txt"), -1);
        QCOMPARE(C->Model->CheckedCount(), 4);
        QVERIFY2(C->lblAnzahl->text().contains("1 nicht versionierter ausgeblendet"),
                 qPrintable(C->lblAnzahl->text()));
        C->cbUnversioniert->click();
        QCOMPARE(C->Model->rowCount(), 5);
        QVERIFY(!C->Model->IsChecked(Row(C, "neu.txt")));
        // Space checks the selected rows; again unchecks them.
        Select(C, "neu.txt");
        C->lvAenderungen->setFocus();
        QTest::keyClick(C->lvAenderungen, Qt::Key_Space);
        QVERIFY(C->Model->IsChecked(Row(C, "neu.txt")));
        QTest::keyClick(C->lvAenderungen, Qt::Key_Space);
        QVERIFY(!C->Model->IsChecked(Row(C, "neu.txt")));
        // A new status keeps the user's marks.
        C->Model->SetChecked({Row(C, "a.txt")}, false);
        C->btnNeuLesenClick();
        WaitIdle(C);
        QVERIFY(!C->Model->IsChecked(Row(C, "a.txt")));
        QVERIFY(C->Model->IsChecked(Row(C, "b.txt")));

        auto DiffOf = [&](const QString& Path) {
            Select(C, Path);
            QTest::qWait(200);
            WaitIdle(C);
            return C->mmUnterschiede->toPlainText();
        };
        const QString A = DiffOf("a.txt");
        QVERIFY2(A.contains("-zwei\n+ZWEI\n drei\n+vier"), qPrintable(A));
        const QStringList ALines = A.split(u'\n');
        QCOMPARE(C->mmUnterschiede->Kind(int(ALines.indexOf("+ZWEI"))), TDiffLine::Added);
        QCOMPARE(C->mmUnterschiede->Kind(int(ALines.indexOf("-zwei"))), TDiffLine::Removed);
        QVERIFY(DiffOf("bild.dat").startsWith("Binärdatei"));
        const QString B = DiffOf("b.txt");
        QVERIFY2(B.startsWith("Sehr große Änderung"), qPrintable(B.left(200)));
        QVERIFY(C->mmUnterschiede->document()->blockCount() <= TfmChanges::MaxDiffLines + 3);
        QVERIFY(DiffOf("neu.txt").contains("nicht versioniert"));
        QVERIFY(FPrompter.Errors.isEmpty());
    }

    // A commit of some of the changes: the unversioned checked item is added first, the
    // unchecked change inside a checked folder stays, the copy's committed items stand at the
    // new revision, the tree shows what is left; the message goes into the last ten and out
    // of the field. Strg+Eingabe commits, Esc closes the window, its size is kept.
    void commitOfASubset() {
        NewCopy();
        WriteFile(InWc("a.txt"), "anders\n");
        WriteFile(InWc("b.txt"), "auch anders\n");
        WriteFile(InWc("sub/c.txt"), "bleibt geändert\n");
        Svn({"propset", "-q", "farbe", "blau", InWc("sub")});
        WriteFile(InWc("neu/tief/datei.txt"), "neu\n");
        auto W = OpenMain();
        TfmChanges* C = OpenChanges(*W);
        QVERIFY(C);
        C->cbUnversioniert->click();
        QCOMPARE(C->Model->rowCount(), 5);
        Check(C, {"a.txt", "sub", "neu"});
        C->mmNachricht->setPlainText(QStringLiteral("Erste Zeile\nzweite: Umlaute äöü"));
        C->mmNachricht->setFocus();
        QTest::keyClick(C->mmNachricht, Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(C->Changing());
        WaitIdle(C);
        QVERIFY2(Status(C).startsWith("Übertragen: Revision 2."), qPrintable(Status(C)));
        QVERIFY(C->mmAusgabe->toPlainText().contains("Committed revision 2."));
        QCOMPARE(StatusOf(FWc, "a.txt"), QString());
        QCOMPARE(StatusOf(FWc, "neu/tief/datei.txt"), QString());
        QCOMPARE(StatusOf(FWc, "b.txt"), QStringLiteral("M"));
        QCOMPARE(StatusOf(FWc, "sub/c.txt"), QStringLiteral("M"));
        QCOMPARE(RunIn(FWc, {"info", "--show-item", "revision", "a.txt"}).value(0),
                 QStringLiteral("2"));
        QCOMPARE(RunIn(FWc, {"info", "--show-item", "last-changed-revision", "sub"}).value(0),
                 QStringLiteral("2"));
        QCOMPARE(RunIn(FWc, {"log", "-q", "-r", "2", "--xml"}).join(u'\n').contains("<msg>"),
                 false); // -q: no message; below it is read in full
        QVERIFY(RunIn(FWc, {"log", "-r", "2"}).join(u'\n').contains("zweite: Umlaute äöü"));
        // What is left, in the list and in the tree.
        QCOMPARE(C->Model->rowCount(), 2);
        QVERIFY(Row(C, "b.txt") >= 0 && Row(C, "sub/c.txt") >= 0);
        const TStoredState* S = W->NodeState(ProjectNode(*W));
        QVERIFY(S);
        QCOMPARE(S->State, TSvnState::Changes);
        QCOMPARE(S->Revision, 2);
        QVERIFY(C->mmNachricht->toPlainText().isEmpty());
        QCOMPARE(LastCommitMessages().value(0), QStringLiteral("Erste Zeile\nzweite: Umlaute äöü"));
        QCOMPARE(C->cmbNachrichten->count(), 2);
        // The drop-down offers the message again.
        emit C->cmbNachrichten->activated(1);
        QCOMPARE(C->mmNachricht->toPlainText(), LastCommitMessages().value(0));
        C->mmNachricht->clear();

        // One window per copy; Esc closes it; its size is there the next time.
        W->ShowChanges(ProjectNode(*W));
        QCOMPARE(W->ChangesWindow(ProjectFolder(FWc)), C);
        C->resize(900, 720);
        QPointer<TfmChanges> Gone = C;
        QTest::keyClick(C->lvAenderungen, Qt::Key_Escape);
        QTRY_VERIFY(!Gone);
        TfmChanges* Again = OpenChanges(*W);
        QVERIFY(Again);
        QCOMPARE(Again->size(), QSize(900, 720));
        QVERIFY(FPrompter.Errors.isEmpty());
    }

    // An empty message asks once; No commits nothing, Yes commits without one. A message
    // that is a file's name is still a message.
    void emptyMessageAsks() {
        NewCopy();
        WriteFile(InWc("a.txt"), "x\n");
        auto W = OpenMain();
        TfmChanges* C = OpenChanges(*W);
        QVERIFY(C);
        C->btnUebertragenClick();
        QCOMPARE(FPrompter.Questions.size(), 1);
        QVERIFY(FPrompter.Questions[0].contains("Nachricht ist leer"));
        WaitIdle(C);
        QCOMPARE(StatusOf(FWc, "a.txt"), QStringLiteral("M"));
        FPrompter.Answers = {true};
        C->btnUebertragenClick();
        QCOMPARE(FPrompter.Questions.size(), 2);
        WaitIdle(C);
        QCOMPARE(StatusOf(FWc, "a.txt"), QString());
        WriteFile(InWc("b.txt"), "y\n");
        C->btnNeuLesenClick();
        WaitIdle(C);
        C->mmNachricht->setPlainText("b.txt");
        C->btnUebertragenClick();
        WaitIdle(C);
        QCOMPARE(StatusOf(FWc, "b.txt"), QString());
        QCOMPARE(FPrompter.Questions.size(), 2);
    }

    // The server has a newer version: the commit fails, the reason is said in German, the
    // message stays in the field (and among the last ones), the tree says "veraltet".
    void outOfDateCommitKeepsTheMessage() {
        NewCopy();
        Svn({"checkout", "-q", FUrl, FWc + "2"});
        WriteFile(FWc + "2/a.txt", "von woanders\n");
        Svn({"commit", "-q", "-m", "woanders", FWc + "2"});
        WriteFile(InWc("a.txt"), "von hier\n");
        auto W = OpenMain();
        TfmChanges* C = OpenChanges(*W);
        QVERIFY(C);
        const QString Message = QStringLiteral("Meine Änderung");
        C->mmNachricht->setPlainText(Message);
        C->btnUebertragenClick();
        WaitIdle(C);
        QVERIFY2(Status(C).contains("neuere Fassungen"), qPrintable(Status(C)));
        QVERIFY(C->lblStatus->property("problem").toBool());
        QCOMPARE(C->mmNachricht->toPlainText(), Message);
        QCOMPARE(LastCommitMessages().value(0), Message);
        QCOMPARE(StatusOf(FWc, "a.txt"), QStringLiteral("M"));
        QVERIFY(C->mmAusgabe->toPlainText().contains("out of date"));
        // The list was read with the server's view: the tree says the copy is behind.
        QCOMPARE(W->NodeState(ProjectNode(*W))->State, TSvnState::OutOfDate);
        QVERIFY(W->NodeState(ProjectNode(*W))->HasChanges);
        QCOMPARE(C->Model->rowCount(), 1);
        // The message is there after the window was closed and opened again.
        C->reject();
        QTRY_VERIFY(!W->ChangesWindow(ProjectFolder(FWc)));
        TfmChanges* Again = OpenChanges(*W);
        QVERIFY(Again);
        QCOMPARE(Again->mmNachricht->toPlainText(), Message);
    }

    // Revert asks, naming how many files lose their changes; No keeps them; Yes reverts the
    // checked ones only, an added folder with its files and a deleted one with everything.
    void revert() {
        NewCopy();
        WriteFile(InWc("a.txt"), "weg damit\n");
        WriteFile(InWc("b.txt"), "bleibt\n");
        WriteFile(InWc("neu/x.txt"), "x\n");
        Svn({"add", "-q", InWc("neu")});
        Svn({"delete", "-q", InWc("sub")});
        auto W = OpenMain();
        TfmChanges* C = OpenChanges(*W);
        QVERIFY(C);
        Check(C, {"a.txt", "neu", "neu/x.txt", "sub"});
        C->btnRueckgaengigClick();
        QCOMPARE(FPrompter.Questions.size(), 1);
        QVERIFY2(FPrompter.Questions[0].startsWith("Die Änderungen an 4 Dateien gehen verloren"),
                 qPrintable(FPrompter.Questions[0]));
        QCOMPARE(StatusOf(FWc, "a.txt"), QStringLiteral("M"));
        FPrompter.Answers = {true};
        C->btnRueckgaengigClick();
        WaitIdle(C);
        QVERIFY2(!C->lblStatus->property("problem").toBool(), qPrintable(Status(C)));
        QCOMPARE(StatusOf(FWc, "a.txt"), QString());
        QCOMPARE(StatusOf(FWc, "b.txt"), QStringLiteral("M"));
        QCOMPARE(StatusOf(FWc, "neu"), QStringLiteral("?"));
        QCOMPARE(StatusOf(FWc, "sub"), QString());
        QCOMPARE(ReadFile(InWc("sub/c.txt")), QByteArray("ccc\n"));
        QCOMPARE(C->Model->rowCount(), 1);
        QCOMPARE(W->NodeState(ProjectNode(*W))->State, TSvnState::Changes);
    }

    // Three conflicts, resolved as mine, as theirs and as the file is now; each item's state
    // is read again and the copy is free of conflicts at the end.
    void resolveEachWay() {
        NewCopy();
        WriteFile(FWc + "/m.txt", "basis\n");
        WriteFile(FWc + "/t.txt", "basis\n");
        WriteFile(FWc + "/w.txt", "basis\n");
        Svn({"add", "-q", FWc + "/m.txt", FWc + "/t.txt", FWc + "/w.txt"});
        Svn({"commit", "-q", "-m", "drei", FWc});
        Svn({"checkout", "-q", FUrl, FWc + "2"});
        for (const char* F : {"m.txt", "t.txt", "w.txt"})
            WriteFile(FWc + "2/" + F, "ihre\n");
        Svn({"commit", "-q", "-m", "ihre", FWc + "2"});
        for (const char* F : {"m.txt", "t.txt", "w.txt"})
            WriteFile(InWc(F), "meine\n");
        RunIn(FWc, {"update", "--accept", "postpone"});
        QCOMPARE(StatusOf(FWc, "m.txt"), QStringLiteral("C"));
        auto W = OpenMain();
        TfmChanges* C = OpenChanges(*W);
        QVERIFY(C);
        QCOMPARE(W->NodeState(ProjectNode(*W))->State, TSvnState::Conflict);
        QVERIFY(!C->Model->IsChecked(Row(C, "m.txt"))); // a commit of it would fail
        Check(C, {"m.txt"});
        C->mmNachricht->setPlainText("zu früh");
        C->btnUebertragenClick();
        WaitIdle(C);
        QVERIFY2(Status(C).contains("steht noch im Konflikt"), qPrintable(Status(C)));
        QCOMPARE(C->mmNachricht->toPlainText(), QStringLiteral("zu früh"));
        Select(C, "a.txt");
        QVERIFY(!C->btnLoesen->isEnabled());
        const QByteArray WorkingBefore = ReadFile(InWc("w.txt"));
        for (const auto& [File, Way] :
             {std::pair{"m.txt", C->actMeine}, std::pair{"t.txt", C->actIhre},
              std::pair{"w.txt", C->actWieJetzt}}) {
            Select(C, File);
            QVERIFY(C->btnLoesen->isEnabled() && Way->isEnabled());
            Way->trigger();
            WaitIdle(C);
            QVERIFY2(!C->lblStatus->property("problem").toBool(), qPrintable(Status(C)));
            QVERIFY(StatusOf(FWc, File) != u"C");
            const int R = Row(C, File);
            QVERIFY(R < 0 || !C->Model->Item(R).Conflicted());
        }
        // Resolved, the file is a change like any other: checked for the next commit.
        QVERIFY(C->Model->IsChecked(Row(C, "m.txt")));
        QCOMPARE(ReadFile(InWc("m.txt")), QByteArray("meine\n"));
        QCOMPARE(ReadFile(InWc("t.txt")), QByteArray("ihre\n"));
        QCOMPARE(ReadFile(InWc("w.txt")), WorkingBefore);
        QVERIFY(WorkingBefore.contains("<<<<<<<"));
        QVERIFY(!QFileInfo::exists(InWc("m.txt.mine")));
        QCOMPARE(W->NodeState(ProjectNode(*W))->State, TSvnState::Changes);
    }

    // The log of the copy: the newest first (the copy's own commit too, before any update),
    // author, date and message, and the paths the selected entry changed.
    void logPage() {
        NewCopy();
        WriteFile(InWc("a.txt"), "zwei\n");
        Svn({"commit", "-q", "-m", "Zweite\nmit zwei Zeilen", FWc});
        // The first revision as an anonymous commit leaves it: without an author.
        WriteFile(FRepo + "/hooks/pre-revprop-change", "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(FRepo + "/hooks/pre-revprop-change",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Svn({"propdel", "-q", "--revprop", "-r", "1", "svn:author", FUrl});
        auto W = OpenMain();
        W->ShowChanges(ProjectNode(*W), true);
        TfmChanges* C = W->ChangesWindow(ProjectFolder(FWc));
        QVERIFY(C);
        QCOMPARE(C->pag1->currentWidget(), C->tabLog);
        QTRY_COMPARE_WITH_TIMEOUT(C->lvLog->topLevelItemCount(), 2, 30000);
        QCOMPARE(C->lvLog->topLevelItem(0)->text(0), QStringLiteral("2"));
        QCOMPARE(C->lvLog->topLevelItem(0)->text(3), QStringLiteral("Zweite"));
        QVERIFY(C->lvLog->topLevelItem(0)->text(2).contains(u'.'));
        QCOMPARE(C->mmLogNachricht->toPlainText(), QStringLiteral("Zweite\nmit zwei Zeilen"));
        QTRY_COMPARE_WITH_TIMEOUT(C->lvLogPfade->topLevelItemCount(), 1, 30000);
        QCOMPARE(C->lvLogPfade->topLevelItem(0)->text(1), QStringLiteral("/a.txt"));
        C->lvLog->setCurrentItem(C->lvLog->topLevelItem(1));
        QTRY_COMPARE_WITH_TIMEOUT(C->lvLogPfade->topLevelItemCount(), 5, 30000);
        // Said as the tree's tooltip says it of the monitor's log.
        QCOMPARE(C->lvLog->topLevelItem(1)->text(1), QStringLiteral("(ohne Autor)"));
        QVERIFY(!C->lvLog->topLevelItem(0)->text(1).isEmpty());
    }

    // A server that wants a login: status and diff need none, the commit fails at once
    // without asking anybody, says why in German and keeps the message; the log too.
    void loginServerFailsWithoutPrompt() {
        const QString Root = At("login/repo");
        QDir().mkpath(At("login"));
        Svn({"create", Root}, QString(), QStringLiteral("svnadmin"));
        TSvnServe Server(Root, true);
        if (!Server.Running())
            QSKIP(qPrintable(Server.Why()));
        FWc = At("login/wc");
        WriteFile(At("login/imp/a.txt"), "a\n");
        Svn({"import", "-q", "-m", "init", "--username", "anna", "--password", "geheim",
             "--no-auth-cache", At("login/imp"), Server.Url()});
        Svn({"checkout", "-q", "--username", "anna", "--password", "geheim", "--no-auth-cache",
             Server.Url(), FWc});
        WriteRegistry(FWc);
        WriteFile(InWc("a.txt"), "b\n");
        auto W = OpenMain();
        TfmChanges* C = OpenChanges(*W);
        QVERIFY(C);
        QCOMPARE(C->Model->rowCount(), 1);
        C->mmNachricht->setPlainText("Mit Anmeldung");
        QElapsedTimer T;
        T.start();
        C->btnUebertragenClick();
        WaitIdle(C);
        QVERIFY(T.elapsed() < 20000);
        QVERIFY2(Status(C).contains("verlangt eine Anmeldung"), qPrintable(Status(C)));
        QCOMPARE(C->mmNachricht->toPlainText(), QStringLiteral("Mit Anmeldung"));
        QCOMPARE(StatusOf(FWc, "a.txt"), QStringLiteral("M"));
        C->ShowLogPage();
        QTRY_VERIFY_WITH_TIMEOUT(
            C->mmLogNachricht->toPlainText().contains("verlangt eine Anmeldung"), 20000);
    }

    // A large list comes in slices, under Qt's model checks: the rows a slice at a time, the
    // unversioned ones on request (at once, also in the middle of a fill), sorting, marks that
    // stay with an item whose letters stay, and Space's rule (all checked: uncheck them).
    void modelInSlices() {
        TChangesModel M;
        QAbstractItemModelTester Tester(&M, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QList<TChangeItem> Items;
        for (int i = 0; i < 5000; ++i)
            Items.append({i % 10 == 0 ? "?      " : "M      ",
                          QStringLiteral("d%1").arg(i, 4, 10, QChar(u'0'))});
        QSignalSpy Filled(&M, &TChangesModel::Filled);
        M.SetItems(Items);
        QVERIFY(M.Filling());
        QVERIFY(M.rowCount() > 0 && M.rowCount() < 4500);
        QVERIFY(Filled.wait(5000));
        QCOMPARE(M.rowCount(), 4500);
        QCOMPARE(M.CheckedCount(), 4500);
        QCOMPARE(M.UnversionedCount(), 500);
        M.SetItems(Items);
        QVERIFY(M.Filling());
        M.SetShowUnversioned(true);
        QVERIFY(!M.Filling());
        QCOMPARE(M.rowCount(), 5000);
        QCOMPARE(M.CheckedCount(), 4500);
        M.sort(TChangesModel::ColPath, Qt::DescendingOrder);
        QCOMPARE(M.Item(0).Path, QStringLiteral("d4999"));
        M.sort(TChangesModel::ColStatus, Qt::AscendingOrder);
        QCOMPARE(M.Item(0).Columns, QStringLiteral("?      "));
        QCOMPARE(M.Item(0).Path, QStringLiteral("d0000"));
        M.sort(TChangesModel::ColPath, Qt::AscendingOrder);
        M.ToggleChecked({1, 2});
        QVERIFY(!M.IsChecked(1) && !M.IsChecked(2));
        M.ToggleChecked({0, 1});
        QVERIFY(M.IsChecked(0) && M.IsChecked(1));
        M.ToggleChecked({0, 1});
        QVERIFY(!M.IsChecked(0) && !M.IsChecked(1));
        QVERIFY(M.setData(M.index(3, 0), Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(!M.setData(M.index(3, 1), Qt::Checked, Qt::CheckStateRole));
        // d0001 unchecked stays so; d0002 now added: checked as anew; d0000 was "?", stays
        // unchecked; d0003 gone.
        QList<TChangeItem> Next = {
            {"?      ", "d0000"}, {"M      ", "d0001"}, {"A      ", "d0002"}};
        M.SetItems(Next);
        QVERIFY(!M.Filling());
        QCOMPARE(M.rowCount(), 3);
        QVERIFY(!M.IsChecked(M.RowOf("d0000")) && !M.IsChecked(M.RowOf("d0001")));
        QVERIFY(M.IsChecked(M.RowOf("d0002")));
        QCOMPARE(M.CheckedItems().size(), 1);
        M.SetShowUnversioned(false);
        QCOMPARE(M.RowOf("d0000"), -1);
    }

    // The diff's colours are the palette's: each text readable on its ground, the grounds a
    // tint of the base, light on a light desktop and dark on a dark one.
    void diffColoursFollowThePalette() {
        TDiffView View;
        View.setPalette(Light());
        View.ShowDiff({"Index: a.txt", "===", "--- a.txt\t(revision 1)",
                       "+++ a.txt\t(working copy)", "@@ -1,2 +1,2 @@", "-alt",
                       "--- sieht aus wie ein Kopf", "+neu", "+++ auch", " gleich"},
                      0);
        View.show();
        QVERIFY(QTest::qWaitForWindowExposed(&View));
        QCOMPARE(View.Kind(6), TDiffLine::Removed);
        // A line of megabytes (a minified file) is cut; the view never holds it whole.
        TDiffView Long;
        Long.ShowDiff({"@@ -1 +1 @@", "-a", "+" + QString(1 << 20, u'x')}, 0);
        QVERIFY(Long.document()->characterCount() < TDiffView::MaxLineChars + 100);
        QCOMPARE(View.Kind(8), TDiffLine::Added);
        auto Format = [&](int Line) {
            const QList<QTextLayout::FormatRange> F =
                View.document()->findBlockByNumber(Line).layout()->formats();
            return F.isEmpty() ? QTextCharFormat() : F.first().format;
        };
        auto Readable = [&](int Line) {
            const QTextCharFormat F = Format(Line);
            return ContrastRatio(F.foreground().color(), F.background().color()) >= 4.5;
        };
        const QColor LightAdded = Format(7).background().color();
        QCOMPARE(LightAdded, DiffColours(Light()).AddedBack);
        QVERIFY(LightAdded.lightnessF() > 0.8 && LightAdded.green() > LightAdded.red());
        QVERIFY(Readable(5) && Readable(7));
        QVERIFY(ContrastRatio(Format(4).foreground().color(), Light().color(QPalette::Base)) >=
                4.5);
        View.setPalette(Dark());
        const QColor DarkAdded = Format(7).background().color();
        QCOMPARE(DarkAdded, DiffColours(Dark()).AddedBack);
        QVERIFY(DarkAdded.lightnessF() < 0.3 && DarkAdded.green() > DarkAdded.red());
        QVERIFY(Readable(5) && Readable(7));
        QVERIFY(ContrastRatio(Format(4).foreground().color(), Dark().color(QPalette::Base)) >= 4.5);
    }

    // Strg+E opens the window of the selected project (a group has none); a double click
    // opens it for a project the tree shows with changes. The memo's last known output of the
    // selected project follows what the window did.
    void opensFromTheTree() {
        NewCopy();
        WriteFile(InWc("a.txt"), "anders\n");
        WriteFile(InWc("b.txt"), "auch\n");
        auto W = OpenMain();
        TXMLTreeNode* P = ProjectNode(*W);
        W->lvDir->SetSelected(P->ParentNode());
        QTest::keyClick(W->lvDir, Qt::Key_E, Qt::ControlModifier);
        QVERIFY(!W->findChild<TfmChanges*>());
        W->lvDir->SetSelected(P);
        auto DoubleClick = [&] {
            const QRect R = W->lvDir->visualItemRect(P);
            QTest::mouseDClick(W->lvDir->viewport(), Qt::LeftButton, {}, R.center());
        };
        DoubleClick(); // never checked: nothing known of changes
        QTest::qWait(50);
        QVERIFY(!W->findChild<TfmChanges*>());
        QTest::keyClick(W->lvDir, Qt::Key_E, Qt::ControlModifier);
        TfmChanges* C = W->ChangesWindow(ProjectFolder(FWc));
        QVERIFY(C);
        WaitIdle(C);
        QCOMPARE(W->NodeState(P)->State, TSvnState::Changes);
        C->reject();
        QTRY_VERIFY(!W->findChild<TfmChanges*>());
        W->lvDir->SetSelected(P); // the memo shows what is known
        QTRY_VERIFY(W->mmExec->toPlainText().contains("a.txt"));
        DoubleClick();
        C = W->ChangesWindow(ProjectFolder(FWc));
        QVERIFY(C);
        WaitIdle(C);
        Check(C, {"a.txt"});
        C->mmNachricht->setPlainText("nur a");
        C->btnUebertragenClick();
        WaitIdle(C);
        // The memo fills a slice at a time: what it ends with counts.
        QTRY_VERIFY(W->Output->Pending() == 0 && W->mmExec->toPlainText().contains("b.txt"));
        QVERIFY2(!W->mmExec->toPlainText().contains("a.txt"), qPrintable(W->mmExec->toPlainText()));
    }

    // A commit that hangs: the time limit ends it, the reason is said, the message stays and
    // the copy is not left locked; "Abbrechen" interrupts one; closing the main window
    // meanwhile asks first, as for its own work.
    void timeLimitCancelAndClosing() {
        NewCopy();
        WriteRegistry(FWc, " Zeitlimit=\"2\"");
        WriteFile(InWc("a.txt"), "x\n");
        const QString Bin = At("hangbin");
        const QString Real = QStandardPaths::findExecutable("svn");
        WriteFile(Bin + "/svn",
                  ("#!/bin/sh\nfor a in \"$@\"; do [ \"$a\" = commit ] && exec sleep 60; "
                   "done\nexec '" +
                   Real + "' \"$@\"\n")
                      .toLocal8Bit());
        QFile::setPermissions(Bin + "/svn", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray Path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(Bin) + ":" + Path);
        auto Restore = qScopeGuard([&] { qputenv("PATH", Path); });
        auto W = OpenMain();
        TfmChanges* C = OpenChanges(*W);
        QVERIFY(C);
        C->mmNachricht->setPlainText("Hängt");
        C->btnUebertragenClick();
        QTRY_VERIFY(C->btnAbbrechen->isVisible());
        W->close();
        QCOMPARE(FPrompter.Questions.size(), 1);
        QVERIFY2(FPrompter.Questions[0].contains("svn in den Fenstern „Änderungen“"),
                 qPrintable(FPrompter.Questions[0]));
        QVERIFY(W->isVisible());
        WaitIdle(C);
        QVERIFY2(Status(C).contains("Zeitlimit überschritten"), qPrintable(Status(C)));
        QCOMPARE(C->mmNachricht->toPlainText(), QStringLiteral("Hängt"));
        QVERIFY(!C->btnAbbrechen->isVisible());
        C->btnUebertragenClick();
        QTest::qWait(300);
        C->btnAbbrechenClick();
        WaitIdle(C);
        QVERIFY2(Status(C).contains("Abgebrochen"), qPrintable(Status(C)));
        QCOMPARE(C->mmNachricht->toPlainText(), QStringLiteral("Hängt"));
        // Closed while the copy changes: asked, the client stopped, the window gone once it
        // has ended, the message kept for the next opening.
        C->btnUebertragenClick();
        QTest::qWait(300);
        FPrompter.Answers = {true};
        QPointer<TfmChanges> Closing = C;
        C->reject();
        QCOMPARE(FPrompter.Questions.size(), 2);
        QVERIFY(FPrompter.Questions[1].contains("svn arbeitet noch"));
        QVERIFY(!W->ChangesWindow(ProjectFolder(FWc)));
        QTRY_VERIFY_WITH_TIMEOUT(!Closing, 20000);
        QCOMPARE(CommitDraft(ProjectFolder(FWc)), QStringLiteral("Hängt"));
        for (const QString& L : RunIn(FWc, {"status"}))
            QVERIFY2(L.size() < 3 || L.at(2) != u'L', qPrintable(L));
        QCOMPARE(StatusOf(FWc, "a.txt"), QStringLiteral("M"));
    }

    // A client that writes its start and end (and its folder) to a log, on PATH from now on.
    QString LoggingClient(const QString& Delay) {
        const QString Bin = At("slowbin"), Log = At("slowbin/log");
        const QString Real = QStandardPaths::findExecutable("svn");
        // An interrupted client logs its end too: it has ended when the shell has.
        WriteFile(Bin + "/svn",
                  ("#!/bin/sh\ntrap 'echo \"end $$ $(pwd)\" >> \"" + Log +
                   "\"; exit 130' INT TERM\necho \"start $$ $(pwd)\" >> '" + Log + "'\nsleep " +
                   Delay + "\n'" + Real + "' \"$@\"\nr=$?\necho \"end $$ $(pwd)\" >> '" + Log +
                   "'\nexit $r\n")
                      .toLocal8Bit());
        QFile::setPermissions(Bin + "/svn", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(Bin) + ":" + FPath);
        QFile::remove(Log);
        return Log;
    }
    // The most clients the log shows at once, and how many there were.
    static std::pair<int, int> MostAtOnce(const QString& Log) {
        int Open = 0, Max = 0, Clients = 0;
        QFile L(Log);
        if (!L.open(QIODevice::ReadOnly))
            return {0, 0};
        for (const QByteArray& Line : L.readAll().split('\n')) {
            if (Line.startsWith("start ")) {
                ++Clients;
                Max = std::max(Max, ++Open);
            } else if (Line.startsWith("end ")) {
                --Open;
            }
        }
        return {Max, Clients};
    }

    // While a changes window works on the copy, the window's run waits for it, and the other
    // way round: a client that logs when it starts and ends shows that none overlapped.
    void neverTwoClientsOnOneCopy() {
        NewCopy();
        WriteFile(InWc("a.txt"), "x\n");
        auto Restore = qScopeGuard([&] { qputenv("PATH", FPath); });
        auto W = OpenMain();
        TfmChanges* C = OpenChanges(*W);
        QVERIFY(C);
        const QString Log = LoggingClient("0.3");
        C->mmNachricht->setPlainText("langsam");
        C->btnUebertragenClick();
        W->lvDir->SetSelected(ProjectNode(*W));
        W->ToolButton8->click();
        C->btnNeuLesenClick();
        QTRY_VERIFY_WITH_TIMEOUT(W->ToolButton8->isEnabled() && !C->Working(), 60000);
        WaitIdle(C);
        // Every client the program started in the copy's folder (batched ones run in "/") ran
        // alone; the background check of the copy the commit changed too.
        const auto [Max, Clients] = MostAtOnce(Log);
        QVERIFY2(Clients >= 6, qPrintable(QString::number(Clients)));
        QCOMPARE(Max, 1);
        qputenv("PATH", FPath); // the check below is the test's own client
        QCOMPARE(StatusOf(FWc, "a.txt"), QString());
    }

    // A background check that holds the copy makes way: the user's run and a commit start
    // once its client has ended, never beside it.
    void backgroundChecksMakeWay() {
        NewCopy();
        auto Restore = qScopeGuard([&] { qputenv("PATH", FPath); });
        auto W = OpenMain();
        TfmChanges* C = OpenChanges(*W);
        QVERIFY(C);
        const QString Log = LoggingClient("1");
        for (int Round = 0; Round < 2; ++Round) {
            WriteFile(InWc("b.txt"), QByteArray::number(Round) + "\n");
            QTRY_VERIFY_WITH_TIMEOUT(W->Tasks->Live()->Checking(), 10000);
            if (Round == 0) {
                W->lvDir->SetSelected(ProjectNode(*W));
                W->ToolButton8->click();
                QTRY_VERIFY_WITH_TIMEOUT(W->ToolButton8->isEnabled(), 30000);
            } else {
                // The list read again, then b.txt (modified: checked) committed.
                C->btnNeuLesenClick();
                WaitIdle(C);
                C->mmNachricht->setPlainText("während der Prüfung");
                C->btnUebertragenClick();
                WaitIdle(C);
            }
            QTRY_VERIFY_WITH_TIMEOUT(!W->Tasks->Live()->Checking(), 30000);
        }
        const auto [Max, Clients] = MostAtOnce(Log);
        QVERIFY2(Clients >= 4, qPrintable(QString::number(Clients)));
        QCOMPARE(Max, 1);
        qputenv("PATH", FPath);
        QCOMPARE(StatusOf(FWc, "b.txt"), QString());
    }
};

QTEST_MAIN(TestAppChanges)
#include "tst_app_changes.moc"
