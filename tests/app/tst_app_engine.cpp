// The window's task page, against real working copies made with svnadmin and file://
// checkouts in a temporary folder.
#include "kiv_test_folders.h"
#include "kiv_test_prompter.h"
#include "kiv_test_svn.h"
#include "fm_main.h"
#include "kiv_XmlObjects.h"
#include "kiv_process.h"
#include "kiv_prompts.h"
#include "kiv_system.h"
#include "svn_engine.h"
#include "kiv_nodestate.h"
#include "kiv_output.h"
#include "kiv_taskcontrol.h"
#include "svn_store.h"
#include "kiv_statusbar.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include <memory>

using namespace kivtest;

namespace {
const QString Head = QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n");

} // namespace

class TestAppEngine : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    TTestFolders FFolders;
    TTestPrompter FPrompter;
    QString FUrl, FWc, FStartDir;
    QByteArray FPath;

    QString Wc(const QString& Name) const { return FWc + u'/' + Name; }
    QString RegistryPath() const {
        return FFolders.Data.path() + "/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml";
    }
    QString Project(const QString& Name, const QString& Dir) const {
        return "<Projekt Name=\"" + Name + "\" Verzeichnis=\"" + Dir + "\"/>\r\n";
    }
    // Groups and projects in an order other than their captions', so the tree's order shows.
    QString MainRegistry(const QString& RootAttributes = QString()) const {
        return "<SubVersion Beschreibung=\"x\"" + RootAttributes + ">\r\n" +
               "<ProjektGruppe Name=\"Zwei\">\r\n" + Project("gamma", Wc("gamma")) +
               Project("delta", Wc("delta") + "/") + "</ProjektGruppe>\r\n" +
               "<ProjektGruppe Name=\"Eins\">\r\n" + Project("beta", Wc("beta")) +
               Project("fehlt", Wc("fehlt")) + Project("alpha", " " + Wc("alpha") + "/ ") +
               "</ProjektGruppe>\r\n<ProjektGruppe Name=\"Leer\"/>\r\n</SubVersion>\r\n";
    }
    void WriteRegistry(const QString& Body) { WriteFile(RegistryPath(), (Head + Body).toLatin1()); }
    std::unique_ptr<TfmMain> Open() {
        auto W = std::make_unique<TfmMain>();
        W->show();
        for (int i = 0; i < 400 && !W->RegistryLoaded(); ++i)
            QTest::qWait(5);
        return W;
    }
    static TXMLTreeNode* Child(TXMLTreeNode* Parent, const QString& Caption) {
        for (int i = 0; i < Parent->childCount(); ++i)
            if (Parent->child(i)->text(0) == Caption)
                return static_cast<TXMLTreeNode*>(Parent->child(i));
        return nullptr;
    }
    // Clicks the button with the node selected and waits for the run's last line.
    QStringList RunInWindow(TfmMain& W, TXMLTreeNode* Node, QToolButton* Button, bool Short) {
        W.lvDir->SetSelected(Node);
        if (W.cbKurz->isChecked() != Short)
            W.cbKurz->click();
        const QString Before = QDir::currentPath();
        Button->click();
        if (!QTest::qWaitFor([&] { return W.ToolButton8->isEnabled() && W.Output->Pending() == 0; },
                             60000))
            qWarning("run did not end");
        if (QDir::currentPath() != Before)
            qWarning("current directory changed");
        return W.mmExec->toPlainText().split(u'\n');
    }
    void ResetDelta() { Svn({"update", "-q", "-r", "1"}, Wc("delta")); }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid() && FFolders.Apply());
        qputenv("LC_ALL", "C");
        SetPrompter(&FPrompter);
        FStartDir = QDir::currentPath();
        FPath = qgetenv("PATH");
        MakeFourCopies(FTmp.path(), FUrl, FWc);
    }
    void init() {
        FPrompter = TTestPrompter();
        QDir::setCurrent(FStartDir);
        qputenv("PATH", FPath);
    }
    void cleanupTestCase() { SetPrompter(nullptr); }

    // The memo of the window for the root, a group and a project, in both displays; the tree's
    // caption order, the missing folder, and the tree's marks of the last result.
    void windowStatus() {
        WriteRegistry(MainRegistry());
        auto W = Open();
        QVERIFY(W->RegistryLoaded());
        TXMLTreeNode* R = W->lvDir->XMLItems()->TopNode(0);
        const QString Title = "*** " + W->ToolButton8->text();
        QCOMPARE(Title, QStringLiteral("*** Testen auf Änderungen"));
        const QStringList Long = {Title,
                                  "--> " + Wc("alpha"),
                                  "--> " + Wc("beta"),
                                  "M       datei.txt",
                                  "--> " + Wc("fehlt"),
                                  "Verzeichnis nicht gefunden",
                                  "--> " + Wc("delta"),
                                  "--> " + Wc("gamma"),
                                  "?       neu.txt",
                                  "*** Ende"};
        QCOMPARE(RunInWindow(*W, R, W->ToolButton8, false), Long);
        const QStringList Short = {Title,
                                   "--> " + Wc("beta"),
                                   "M       datei.txt",
                                   "--> " + Wc("fehlt"),
                                   "Verzeichnis nicht gefunden",
                                   "--> " + Wc("gamma"),
                                   "?       neu.txt",
                                   "*** Ende"};
        QCOMPARE(RunInWindow(*W, R, W->ToolButton8, true), Short);
        QVERIFY(W->cbKurz->isChecked());

        TXMLTreeNode* Zwei = Child(R, "Zwei");
        QVERIFY(Zwei);
        QCOMPARE(RunInWindow(*W, Zwei, W->ToolButton8, false),
                 QStringList({Title, "--> " + Wc("delta"), "--> " + Wc("gamma"), "?       neu.txt",
                              "*** Ende"}));
        QCOMPARE(RunInWindow(*W, Child(R, "Leer"), W->ToolButton8, false),
                 QStringList({Title, "*** Ende"}));
        // F5 does the same from the keyboard.
        W->lvDir->SetSelected(Zwei);
        W->mmExec->clear();
        QTest::keyClick(W->lvDir, Qt::Key_F5);
        QTRY_VERIFY(W->mmExec->toPlainText().endsWith("*** Ende"));
        QCOMPARE(W->mmExec->toPlainText().split(u'\n'),
                 QStringList({Title, "--> " + Wc("delta"), "--> " + Wc("gamma"), "?       neu.txt",
                              "*** Ende"}));
        QVERIFY(W->ToolButton8->toolTip().endsWith("(F5)"));
        TXMLTreeNode* Beta = Child(Child(R, "Eins"), "beta");
        QCOMPARE(RunInWindow(*W, Beta, W->ToolButton8, true),
                 QStringList({Title, "--> " + Wc("beta"), "M       datei.txt", "*** Ende"}));

        // The status letters carry colour; the text stays the client's line.
        const QTextBlock B = W->mmExec->document()->findBlockByNumber(2);
        QCOMPARE(B.text(), QStringLiteral("M       datei.txt"));
        QVERIFY(B.begin().fragment().charFormat().foreground().color() !=
                W->mmExec->palette().text().color());

        // The last result at a glance: each project's state from what the client reported,
        // named with the task in its tooltip; the summary in the status bar.
        RunInWindow(*W, R, W->ToolButton8, false);
        TXMLTreeNode* Eins = Child(R, "Eins");
        auto State = [](TXMLTreeNode* N) { return TSvnState(N->data(0, NodeStateRole).toInt()); };
        QCOMPARE(State(Child(Eins, "beta")), TSvnState::Changes);
        QCOMPARE(State(Child(Zwei, "gamma")), TSvnState::Changes);
        QCOMPARE(State(Child(Eins, "alpha")), TSvnState::Clean);
        QCOMPARE(State(Child(Zwei, "delta")), TSvnState::Clean); // behind, but nobody asked
        QCOMPARE(State(Child(Eins, "fehlt")), TSvnState::Missing);
        const QString TipBeta = Child(Eins, "beta")->toolTip(0);
        QVERIFY2(TipBeta.startsWith("Testen auf Änderungen um ") &&
                     TipBeta.endsWith(": lokale Änderungen"),
                 qPrintable(TipBeta));
        QVERIFY(Child(Eins, "alpha")->toolTip(0).endsWith(": keine Änderungen"));
        QVERIFY(Child(Eins, "fehlt")->toolTip(0).endsWith(": Verzeichnis fehlt"));
        QVERIFY(Child(Eins, "beta")->foreground(0).color() !=
                Child(Eins, "alpha")->foreground(0).color());
        auto* Status = W->findChild<QLabel*>("lblStatus");
        QVERIFY(Status);
        QCOMPARE(Status->text(),
                 QStringLiteral("5 Projekte: 2 mit Änderungen, 1 Verzeichnis fehlt"));
        QVERIFY(W->findChild<QLabel*>("lblLegende")->toolTip().contains("veraltet"));

        // With the server asked: the copy another checkout has moved past is "veraltet", the
        // memo shows its line from the client, the option stays on the root.
        W->cbServer->click();
        QVERIFY(W->lvDir->XMLItems()->RootElement()->GetBoolAttribute("MitServer"));
        const QStringList WithServer = RunInWindow(*W, R, W->ToolButton8, true);
        QCOMPARE(State(Child(Zwei, "delta")), TSvnState::OutOfDate);
        QCOMPARE(State(Child(Eins, "alpha")), TSvnState::Clean);
        QVERIFY(Child(Zwei, "delta")->toolTip(0).endsWith(": veraltet"));
        QVERIFY(WithServer.contains("--> " + Wc("delta")));
        QVERIFY(!WithServer.contains("--> " + Wc("alpha"))); // nothing to report: left out
        QCOMPARE(Status->text(),
                 QStringLiteral("5 Projekte: 2 mit Änderungen, 1 veraltet, 1 Verzeichnis fehlt"));
        W->cbServer->click();
        QVERIFY(FPrompter.Errors.isEmpty());
    }

    // After an update the states are what the copies are: a copy with local changes has
    // local changes, the one behind is "aktualisiert", the missing folder missing.
    void windowStatesAfterUpdate() {
        WriteRegistry(MainRegistry());
        auto W = Open();
        TXMLTreeNode* R = W->lvDir->XMLItems()->TopNode(0);
        ResetDelta();
        RunInWindow(*W, R, W->ToolButton7, false);
        auto State = [](TXMLTreeNode* N) { return TSvnState(N->data(0, NodeStateRole).toInt()); };
        QCOMPARE(State(Child(Child(R, "Eins"), "beta")), TSvnState::Changes);
        QCOMPARE(State(Child(Child(R, "Eins"), "alpha")), TSvnState::Current);
        QCOMPARE(State(Child(Child(R, "Zwei"), "delta")), TSvnState::Updated);
        QVERIFY2(Child(Child(R, "Zwei"), "delta")
                     ->toolTip(0)
                     .endsWith(": aktualisiert, auf Revision 2 (1 Datei)"),
                 qPrintable(Child(Child(R, "Zwei"), "delta")->toolTip(0)));
        QVERIFY(Child(Child(R, "Eins"), "beta")->toolTip(0).startsWith("Aktualisieren um "));
        QCOMPARE(W->findChild<QLabel*>("lblStatus")->text(),
                 QStringLiteral("5 Projekte: 2 mit Änderungen, 1 aktualisiert, 1 Verzeichnis "
                                "fehlt"));
    }

    // The states a run found are there at the next start, marked as not fresh: colour,
    // tooltip, the filter and the memo of the selected node show them without a run.
    void windowKeepsStatesAcrossStarts() {
        WriteRegistry(MainRegistry());
        {
            auto W = Open();
            TXMLTreeNode* R = W->lvDir->XMLItems()->TopNode(0);
            RunInWindow(*W, R, W->ToolButton8, false);
            QVERIFY(W->NodeState(Child(Child(R, "Eins"), "beta")));
        }
        auto W = Open();
        TXMLTreeNode* R = W->lvDir->XMLItems()->TopNode(0);
        TXMLTreeNode* Beta = Child(Child(R, "Eins"), "beta");
        const TStoredState* S = W->NodeState(Beta);
        QVERIFY(S);
        QCOMPARE(S->State, TSvnState::Changes);
        QVERIFY(!W->Tasks->Store()->Fresh(*S));
        QVERIFY2(Beta->toolTip(0).contains("Stand aus einem früheren Programmlauf"),
                 qPrintable(Beta->toolTip(0)));
        QCOMPARE(Beta->foreground(0).color(),
                 LookOf(TSvnState::Changes, W->lvDir->palette(), true).Foreground);
        QVERIFY(!Beta->font(0).bold());
        // Selecting it shows its lines; nothing has run.
        W->lvDir->SetSelected(Beta);
        QTRY_VERIFY(W->mmExec->toPlainText().contains("M       datei.txt"));
        QVERIFY(W->mmExec->toPlainText().startsWith("*** Zuletzt festgestellt"));
        // A fresh run draws it as fresh.
        RunInWindow(*W, Beta, W->ToolButton8, false);
        QVERIFY(W->Tasks->Store()->Fresh(*W->NodeState(Beta)));
        QVERIFY(Beta->font(0).bold());
    }

    void windowUpdate() {
        WriteRegistry(MainRegistry());
        auto W = Open();
        TXMLTreeNode* R = W->lvDir->XMLItems()->TopNode(0);
        const QString Title = "*** " + W->ToolButton7->text();
        QCOMPARE(Title, QStringLiteral("*** Aktualisieren"));
        ResetDelta();
        const QStringList Long = {Title,
                                  "--> " + Wc("alpha"),
                                  "At revision 2.",
                                  "--> " + Wc("beta"),
                                  "At revision 2.",
                                  "--> " + Wc("fehlt"),
                                  "Verzeichnis nicht gefunden",
                                  "--> " + Wc("delta"),
                                  "U    datei.txt",
                                  "Updated to revision 2.",
                                  "--> " + Wc("gamma"),
                                  "At revision 2.",
                                  "*** Ende"};
        QCOMPARE(RunInWindow(*W, R, W->ToolButton7, false), Long);
        // Now everything is current: short display shows only the missing folder.
        QCOMPARE(
            RunInWindow(*W, R, W->ToolButton7, true),
            QStringList({Title, "--> " + Wc("fehlt"), "Verzeichnis nicht gefunden", "*** Ende"}));
        ResetDelta();
        QCOMPARE(RunInWindow(*W, Child(Child(R, "Zwei"), "delta"), W->ToolButton7, true),
                 QStringList({Title, "--> " + Wc("delta"), "U    datei.txt",
                              "Updated to revision 2.", "*** Ende"}));
        QCOMPARE(RunInWindow(*W, Child(R, "Zwei"), W->ToolButton7, false),
                 QStringList({Title, "--> " + Wc("delta"), "At revision 2.", "--> " + Wc("gamma"),
                              "At revision 2.", "*** Ende"}));
    }

    // The update in a terminal of its own: one project at a time in tree order, nothing
    // captured; with the short display only the missing folder shows.
    void windowConsoleUpdate() {
        const QString Term = FTmp.path() + "/terminal";
        const QString Log = FTmp.path() + "/terminal.log";
        WriteFile(Term, "#!/bin/sh\n[ \"$1\" = -e ] && shift\necho \"start $PWD\" >> '" +
                            Log.toUtf8() + "'\n\"$@\" > /dev/null\necho \"end $PWD\" >> '" +
                            Log.toUtf8() + "'\n");
        QFile::setPermissions(Term, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("TERMINAL", QFile::encodeName(Term));
        WriteRegistry(MainRegistry());
        auto W = Open();
        TXMLTreeNode* R = W->lvDir->XMLItems()->TopNode(0);
        W->lvDir->SetSelected(R);
        for (bool Short : {true, false}) {
            ResetDelta();
            QFile::remove(Log);
            if (W->cbKurz->isChecked() != Short)
                W->cbKurz->click();
            W->inDOSBoxausfhren1Click();
            QVERIFY(QTest::qWaitFor(
                [&] { return W->ToolButton8->isEnabled() && W->Output->Pending() == 0; }, 60000));
            const QStringList Memo = W->mmExec->toPlainText().split(u'\n');
            if (Short)
                QCOMPARE(Memo, QStringList({"*** Aktualisieren", "--> " + Wc("fehlt"),
                                            "Verzeichnis nicht gefunden", "*** Ende"}));
            else
                QCOMPARE(Memo, QStringList({"*** Aktualisieren", "--> " + Wc("alpha"),
                                            "--> " + Wc("beta"), "--> " + Wc("fehlt"),
                                            "Verzeichnis nicht gefunden", "--> " + Wc("delta"),
                                            "--> " + Wc("gamma"), "*** Ende"}));
            QFile F(Log);
            QVERIFY(F.open(QIODevice::ReadOnly));
            QStringList Expected;
            for (const char* P : {"alpha", "beta", "delta", "gamma"})
                Expected << "start " + Wc(P) << "end " + Wc(P);
            QCOMPARE(QString::fromUtf8(F.readAll()).trimmed().split(u'\n'), Expected);
            // It really ran: delta is current again.
            QCOMPARE(Svn({"info", "--show-item", "revision"}, Wc("delta")).trimmed(),
                     QStringLiteral("2"));
        }
        qunsetenv("TERMINAL");
    }

    // The terminal form: the project's state is the update's own exit code, not the
    // terminal's; cancel ends the terminal; closing the window during it does not wait for it.
    void windowConsoleCancelAndClose() {
        const QString Term = FTmp.path() + "/terminal2";
        // Runs the command (its exit code kept by the program's wrapper), then ends with 0 like
        // a terminal that says nothing; in gamma it stays open until it is ended.
        WriteFile(Term, "#!/bin/sh\n[ \"$1\" = -e ] && shift\ncase \"$PWD\" in */gamma) exec sleep 60;; esac\n"
                        "\"$@\" > /dev/null\nexit 0\n");
        QFile::setPermissions(Term, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("TERMINAL", QFile::encodeName(Term));
        // A client that fails in beta: the terminal's 0 must not hide it.
        const QString Bin = FTmp.path() + "/failbin";
        WriteFile(Bin + "/svn", "#!/bin/sh\ncase \"$PWD\" in */beta) exit 1;; esac\nexec /usr/bin/svn \"$@\"\n");
        QFile::setPermissions(Bin + "/svn", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(Bin) + ':' + FPath);
        WriteRegistry(MainRegistry());
        auto W = Open();
        TXMLTreeNode* R = W->lvDir->XMLItems()->TopNode(0);
        W->lvDir->SetSelected(R);
        const QDateTime Started = QDateTime::currentDateTimeUtc();
        W->inDOSBoxausfhren1Click();
        auto State = [](TXMLTreeNode* N) { return N->data(0, NodeStateRole); };
        // The states are kept between runs: this run's are those found since it started.
        auto Found = [&](TXMLTreeNode* N) {
            const TStoredState* S = W->NodeState(N);
            return S && S->Time >= Started && S->Task == TSvnTask::Update;
        };
        TXMLTreeNode* Beta = Child(Child(R, "Eins"), "beta");
        TXMLTreeNode* Alpha = Child(Child(R, "Eins"), "alpha");
        QTRY_VERIFY_WITH_TIMEOUT(Found(Child(Child(R, "Zwei"), "delta")), 20000);
        QCOMPARE(TSvnState(State(Beta).toInt()), TSvnState::Error);
        // Alpha was at the latest revision already: the terminal's success updated nothing.
        QCOMPARE(TSvnState(State(Alpha).toInt()), TSvnState::Current);
        // gamma's terminal stays open: Esc ends it at once.
        QTest::qWait(300);
        QVERIFY(!W->ToolButton8->isEnabled());
        QElapsedTimer Clock;
        Clock.start();
        QTest::keyClick(W.get(), Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(W->ToolButton8->isEnabled() && W->Output->Pending() == 0, 10000);
        QVERIFY(Clock.elapsed() < 5000);
        QVERIFY(W->mmExec->toPlainText().endsWith("*** Abgebrochen"));
        // Again, and this time the window is closed while the terminal is open: it asks,
        // cancels, and closes once the terminal has been ended.
        const QDateTime Again = QDateTime::currentDateTimeUtc();
        W->inDOSBoxausfhren1Click();
        QTRY_VERIFY_WITH_TIMEOUT(W->NodeState(Child(Child(R, "Zwei"), "delta"))->Time >= Again &&
                                     !W->ToolButton8->isEnabled(),
                                 20000);
        FPrompter.Answers << false << true;
        QTest::qWait(300);
        // "No": the run goes on, the window stays.
        W->close();
        QVERIFY(W->isVisible());
        QVERIFY(!W->ToolButton8->isEnabled());
        Clock.restart();
        W->close();
        // Asked before anything was cancelled: the run is named, nothing is said cancelled.
        QVERIFY(FPrompter.Questions.size() >= 2);
        QCOMPARE(FPrompter.Questions.last(),
                 QStringLiteral("Es läuft noch etwas: „Aktualisieren“.\n\nAbbrechen und das "
                                "Programm beenden?"));
        // The status bar says what the window waits for, until it closes by itself.
        QVERIFY(W->findChild<QLabel*>("lblStatus")->text().startsWith("Das Programm endet, "));
        QTRY_VERIFY_WITH_TIMEOUT(!W->isVisible(), 10000);
        QVERIFY2(Clock.elapsed() < 5000, qPrintable(QString::number(Clock.elapsed())));
        qputenv("PATH", FPath);
        qunsetenv("TERMINAL");
    }

    // A terminal that hands the command on and returns at once: the updates still run one
    // after the other, each with its real result (a conflict it left included), in windows
    // named after their projects; a terminal that runs nothing is said to be the cause.
    void windowConsoleTerminalThatReturns() {
        ResetDelta();
        const QString Log = FTmp.path() + "/updates.log", Args = FTmp.path() + "/args.log";
        const QString Term = FTmp.path() + "/gibt-ab";
        WriteFile(Term, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + Args.toUtf8() +
                            "'\n[ \"$1\" = -e ] && shift\n( \"$@\" >/dev/null 2>&1 </dev/null & )\n"
                            "exit 0\n");
        QFile::setPermissions(Term, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString Bin = FTmp.path() + "/slowbin";
        WriteFile(Bin + "/svn", "#!/bin/sh\n[ \"$1\" = update ] || exec /usr/bin/svn \"$@\"\n"
                                "echo \"start $PWD\" >> '" +
                                    Log.toUtf8() +
                                    "'\nsleep 0.3\n"
                                    "/usr/bin/svn \"$@\"; rc=$?\necho \"end $PWD\" >> '" +
                                    Log.toUtf8() + "'\nexit $rc\n");
        QFile::setPermissions(Bin + "/svn", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(Bin) + ':' + FPath);
        qputenv("TERMINAL", QFile::encodeName(Term));
        // delta a revision behind, and changed on the same line: its update conflicts.
        WriteFile(Wc("delta") + "/datei.txt", "eins\ndrei\n");
        const auto Restore = qScopeGuard([&] {
            qunsetenv("TERMINAL");
            qputenv("PATH", FPath);
            Svn({"revert", "-q", "-R", "."}, Wc("delta"));
            QFile::remove(Wc("delta") + "/datei.txt.mine");
            for (const QString& F : QDir(Wc("delta")).entryList({"datei.txt.r*"}))
                QFile::remove(Wc("delta") + "/" + F);
            ResetDelta();
        });
        WriteRegistry(MainRegistry());
        auto W = Open();
        TXMLTreeNode* R = W->lvDir->XMLItems()->TopNode(0);
        W->lvDir->SetSelected(R);
        W->inDOSBoxausfhren1Click();
        QVERIFY(QTest::qWaitFor([&] { return W->ToolButton8->isEnabled() && W->Output->Pending() == 0; }, 60000));
        QStringList Expected;
        for (const char* P : {"alpha", "beta", "delta", "gamma"})
            Expected << "start " + Wc(P) << "end " + Wc(P);
        QCOMPARE(QString::fromUtf8(ReadFile(Log)).trimmed().split(u'\n'), Expected);
        auto State = [&](const char* Group, const char* Name) {
            return TSvnState(Child(Child(R, Group), Name)->data(0, NodeStateRole).toInt());
        };
        // What the copies are now: alpha was current already, beta and gamma have local
        // changes, delta's update conflicted.
        QCOMPARE(State("Eins", "alpha"), TSvnState::Current);
        QCOMPARE(State("Eins", "beta"), TSvnState::Changes);
        QCOMPARE(State("Zwei", "gamma"), TSvnState::Changes);
        QCOMPARE(State("Zwei", "delta"), TSvnState::Conflict);
        QCOMPARE(State("Eins", "fehlt"), TSvnState::Missing);
        const QString AllArgs = QString::fromUtf8(ReadFile(Args));
        QVERIFY2(AllArgs.contains(QStringLiteral("Zwei/delta - svn update (kivSubversion)")),
                 qPrintable(AllArgs));

        // A terminal that runs nothing: the projects name it, none is taken for a failed update.
        WriteFile(Term, "#!/bin/sh\nexit 4\n");
        W->lvDir->SetSelected(Child(Child(R, "Eins"), "alpha"));
        W->inDOSBoxausfhren1Click();
        QVERIFY(QTest::qWaitFor([&] { return W->ToolButton8->isEnabled() && W->Output->Pending() == 0; }, 60000));
        QCOMPARE(State("Eins", "alpha"), TSvnState::NoTerminal);
        QVERIFY2(W->mmExec->toPlainText().contains(
                     "Das Terminal \"gibt-ab\" hat sich mit dem Code 4 beendet, ohne den Befehl "
                     "auszuführen."),
                 qPrintable(W->mmExec->toPlainText()));
    }

    // Without a client on the search path every project says so, in both displays.
    void windowWithoutClient() {
        WriteRegistry(MainRegistry());
        auto W = Open();
        TXMLTreeNode* Zwei = Child(W->lvDir->XMLItems()->TopNode(0), "Zwei");
        qputenv("PATH", QFile::encodeName(FTmp.path() + "/nothing-here"));
        const QString NoSvn = "svn konnte nicht gestartet werden: das Programm ist nicht "
                              "installiert (nicht im Suchpfad gefunden).";
        for (QToolButton* B : {W->ToolButton8, W->ToolButton7})
            for (bool Short : {false, true})
                QCOMPARE(RunInWindow(*W, Zwei, B, Short),
                         QStringList({"*** " + B->text(), "--> " + Wc("delta"), NoSvn,
                                      "--> " + Wc("gamma"), NoSvn, "*** Ende"}));
        qputenv("PATH", FPath);
    }

    // A client that hangs on one copy (as on a server that never answers), after it has done
    // the others. Cancel interrupts it at once, the copies it had done are shown, the one it
    // hung on is reported as interrupted, and no copy is left locked.
    void windowCancel() {
        const QString Bin = FTmp.path() + "/slowbin";
        WriteFile(Bin + "/svn",
                  "#!/bin/bash\n"
                  "if [[ $1 == update || $1 == status ]]; then\n"
                  "  others=(); hang=0\n"
                  "  for a in \"$@\"; do if [[ $a == */gamma ]]; then hang=1; else others+=(\"$a\"); fi; done\n"
                  "  [[ $PWD == */gamma ]] && hang=1\n"
                  "  if (( hang )); then\n"
                  "    (( ${#others[@]} > 2 )) && /usr/bin/svn \"${others[@]}\"\n"
                  "    exec sleep 60\n"
                  "  fi\n"
                  "fi\n"
                  "exec /usr/bin/svn \"$@\"\n");
        QFile::setPermissions(Bin + "/svn", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(Bin) + ':' + FPath);
        WriteRegistry(MainRegistry(" Jobs=\"1\""));
        auto W = Open();
        TXMLTreeNode* R = W->lvDir->XMLItems()->TopNode(0);
        auto* Cancel = W->findChild<QAbstractButton*>("btnAbbrechen");
        QVERIFY(Cancel);
        for (int Way = 0; Way < 2; ++Way) {
            ResetDelta();
            W->lvDir->SetSelected(R);
            if (W->cbKurz->isChecked())
                W->cbKurz->click();
            const QString Before = QDir::currentPath();
            QToolButton* Task = Way == 0 ? W->ToolButton8 : W->ToolButton7;
            Task->click();
            QVERIFY(!W->ToolButton7->isEnabled() && !W->ToolButton8->isEnabled());
            QTest::qWait(500);
            QVERIFY(Cancel->isVisible());
            // Tree edits meanwhile do not disturb the run: the group being run goes away.
            if (Way == 1) {
                QVERIFY(Child(R, "Zwei"));
                W->lvDir->DeleteNode(Child(R, "Zwei"));
                QTest::qWait(50);
            }
            QElapsedTimer Timer;
            Timer.start();
            auto Press = [&] {
                if (Way == 0)
                    Cancel->click();
                else
                    QTest::keyClick(W.get(), Qt::Key_Escape);
            };
            Press();
            if (Way == 1) {
                // The client on gamma is interrupted; the check of the copy afterwards hangs
                // there too (the fake client hangs in every gamma): a second press skips it.
                QTest::qWait(300);
                QVERIFY(!W->ToolButton7->isEnabled());
                Press();
            }
            // The memo writes its last lines a turn of the event loop after the run's end.
            QTRY_VERIFY_WITH_TIMEOUT(W->ToolButton7->isEnabled() && W->Output->Pending() == 0,
                                     10000);
            QVERIFY(Timer.elapsed() < 10000);
            QStringList Lines = W->mmExec->toPlainText().split(u'\n');
            QCOMPARE(Lines.first(), "*** " + Task->text());
            QCOMPARE(Lines.last(), QStringLiteral("*** Abgebrochen"));
            QVERIFY(!Lines.contains("*** Ende"));
            QVERIFY(!Cancel->isVisible());
            QCOMPARE(QDir::currentPath(), Before);
            if (Way == 1) {
                // The copies the client had done are shown; the one it hung on was cleaned up.
                QVERIFY(Lines.contains("--> " + Wc("alpha")));
                QVERIFY(Lines.contains("--> " + Wc("gamma")));
                QVERIFY(W->mmExec->toPlainText().contains("*** Abbruch: die laufenden"));
                QVERIFY(W->mmExec->toPlainText().contains(
                    "Abgebrochen, während svn diese Arbeitskopie aktualisierte."));
                QVERIFY(!Svn({"status"}, Wc("gamma"), "/usr/bin/svn").contains("  L  "));
            }
        }
        qputenv("PATH", FPath);
        QCOMPARE(RunInWindow(*W, R, W->ToolButton8, true),
                 QStringList({"*** Testen auf Änderungen", "--> " + Wc("beta"), "M       datei.txt",
                              "--> " + Wc("fehlt"), "Verzeichnis nicht gefunden", "*** Ende"}));
    }
};

QTEST_MAIN(TestAppEngine)
#include "tst_app_engine.moc"
