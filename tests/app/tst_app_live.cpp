// The window kept live, on real working copies: a change on disk shows in the tree without a
// run (and without touching the memo), a repeated test for changes runs svn only where
// something changed, the registry's changes are followed; and the server monitor, whose news
// of a commit arrives as a desktop notification within one interval, on a private session bus
// with a notification server the test puts there.
#include "kiv_test_dbus.h"
#include "kiv_test_folders.h"
#include "kiv_test_prompter.h"
#include "kiv_test_svn.h"

#include "fm_main.h"
#include "kiv_XmlObjects.h"
#include "kiv_live.h"
#include "kiv_monitor.h"
#include "kiv_nodestate.h"
#include "kiv_notify.h"
#include "kiv_output.h"
#include "kiv_prompts.h"
#include "kiv_registry.h"
#include "kiv_statusbar.h"
#include "kiv_taskcontrol.h"
#include "kiv_tray.h"
#include "kiv_watcher.h"
#include "svn_store.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace kivtest;

namespace {
const QString Head = QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n");
// The monitor's interval in this test: seconds in place of the user's minutes.
constexpr int IntervalSeconds = 3;
} // namespace

class TestAppLive : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    TTestFolders FFolders;
    TTestPrompter FPrompter;
    TPrivateBus FBus;
    std::unique_ptr<TNotificationServer> FServer;
    QString FUrl, FWc;

    QString Wc(const QString& Name) const { return FWc + u'/' + Name; }
    QString RegistryPath() const {
        return FFolders.Data.path() + "/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml";
    }
    void WriteRegistry(const QString& RootAttributes) {
        auto Project = [](const QString& Name, const QString& Dir) {
            return "<Projekt Name=\"" + Name + "\" Verzeichnis=\"" + Dir + "\"/>\r\n";
        };
        WriteFile(RegistryPath(),
                  (Head + "<SubVersion Beschreibung=\"x\"" + RootAttributes + ">\r\n" +
                   "<ProjektGruppe Name=\"Eins\">\r\n" + Project("alpha", Wc("alpha")) +
                   Project("beta", Wc("beta")) + "</ProjektGruppe>\r\n" +
                   "<ProjektGruppe Name=\"Zwei\">\r\n" + Project("gamma", Wc("gamma")) +
                   Project("delta", Wc("delta")) + "</ProjektGruppe>\r\n</SubVersion>\r\n")
                      .toLatin1());
    }
    std::unique_ptr<TfmMain> Open() {
        auto W = std::make_unique<TfmMain>();
        W->show();
        if (!QTest::qWaitFor([&] { return W->RegistryLoaded(); }, 2000))
            qWarning("registry not loaded");
        Settle(*W);
        return W;
    }
    // Watching every copy the registry names now: nothing that changes after this goes unseen.
    static void Settle(TfmMain& W) {
        QTest::qWait(400); // the registry's projects are handed over a moment after a change
        if (!QTest::qWaitFor([&] { return W.Tasks->Live()->Watcher()->IsSettled(); }, 10000))
            qWarning("watcher not settled");
    }
    static TXMLTreeNode* Find(TfmMain& W, const QString& Caption) {
        QList<QTreeWidgetItem*> Items =
            W.lvDir->findItems(Caption, Qt::MatchExactly | Qt::MatchRecursive);
        return Items.isEmpty() ? nullptr : static_cast<TXMLTreeNode*>(Items.first());
    }
    static QVariant StateOf(TfmMain& W, const QString& Caption) {
        return Find(W, Caption)->data(0, NodeStateRole);
    }
    // F5 on the root; the outcomes the window was handed, and the memo after the run.
    struct TRun {
        std::vector<TSvnOutcome> Out;
        QStringList Memo;
    };
    TRun TestAll(TfmMain& W) {
        TRun R;
        W.lvDir->SetSelected(W.lvDir->XMLItems()->TopNode(0));
        QObject Listener;
        QObject::connect(W.Tasks, &TTaskController::ProjectDone, &Listener,
                         [&R](int, const TSvnOutcome& O) { R.Out.push_back(O); });
        W.ToolButton8->click();
        if (!QTest::qWaitFor([&] { return !W.Tasks->Running() && W.Output->Pending() == 0; },
                             60000))
            qWarning("run did not end");
        R.Memo = W.mmExec->toPlainText().split(u'\n');
        return R;
    }
    static int AnsweredIn(const TRun& R) {
        return int(std::count_if(R.Out.begin(), R.Out.end(),
                                 [](const TSvnOutcome& O) { return O.Answered; }));
    }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid() && FFolders.Apply());
        qputenv("LC_ALL", "C");
        SetPrompter(&FPrompter);
        MakeFourCopies(FTmp.path(), FUrl, FWc);
        if (FBus.Running()) {
            // The window's notifications go to this bus, and only there.
            qputenv("DBUS_SESSION_BUS_ADDRESS", FBus.Address().toLocal8Bit());
            FServer = std::make_unique<TNotificationServer>(FBus.Connect("server"));
            QVERIFY(FServer->Register());
        }
        qputenv(MonitorSecondsVariable, QByteArray::number(IntervalSeconds));
    }

    // A saved file shows in the tree within moments, from a check the user did not start: the
    // memo, the buttons and the progress stay as they were.
    void changeOnDiskShowsInTheTree() {
        ForgetStoredStates();
        WriteRegistry(QString());
        auto W = Open();
        const QString Memo = W->mmExec->toPlainText();
        QVERIFY(!StateOf(*W, "gamma").isValid()); // never checked
        WriteFile(Wc("gamma") + "/zweite.txt", "neu\n");
        QTRY_VERIFY_WITH_TIMEOUT(StateOf(*W, "gamma").isValid(), 5000);
        QCOMPARE(TSvnState(StateOf(*W, "gamma").toInt()), TSvnState::Changes);
        QVERIFY(Find(*W, "gamma")->toolTip(0).contains("lokale Änderungen"));
        QCOMPARE(W->mmExec->toPlainText(), Memo);
        QVERIFY(W->ToolButton8->isEnabled() && !W->Tasks->Busy());
        QVERIFY(!StateOf(*W, "alpha").isValid()); // untouched, so not checked
        QFile::remove(Wc("gamma") + "/zweite.txt");
        QTRY_COMPARE_WITH_TIMEOUT(TSvnState(StateOf(*W, "gamma").toInt()), TSvnState::Changes,
                                  5000); // neu.txt is still there
        QTRY_VERIFY_WITH_TIMEOUT(
            W->Tasks->Store()->Find(Wc("gamma"))->Lines == QStringList{"?       neu.txt"}, 5000);
    }

    // The second test for changes runs svn only for the copy that changed, and shows the same
    // memo; a program just started runs every copy again.
    void repeatedTestRunsOnlyWhatChanged() {
        ForgetStoredStates();
        WriteRegistry(QString());
        QStringList First;
        {
            auto W = Open();
            const TRun A = TestAll(*W);
            QCOMPARE(int(A.Out.size()), 4);
            QCOMPARE(AnsweredIn(A), 0); // nothing known yet
            const TRun B = TestAll(*W);
            QCOMPARE(AnsweredIn(B), 4);
            QCOMPARE(B.Memo.join(u'\n'), A.Memo.join(u'\n'));
            First = A.Memo;
            // One copy changes: it alone runs, and the memo shows its new line.
            WriteFile(Wc("alpha") + "/datei.txt", "anders\n");
            const TRun C = TestAll(*W);
            QCOMPARE(AnsweredIn(C), 3);
            QVERIFY(!C.Out[0].Answered); // alpha, the first in the tree
            QVERIFY(C.Memo.contains("M       datei.txt"));
            QCOMPARE(C.Out[0].Lines, RunIn(Wc("alpha"), {"status"}));
            Svn({"revert", "-q", Wc("alpha") + "/datei.txt"});
        }
        // A new start: the stored states are from another session, so every copy runs.
        auto W = Open();
        const TRun D = TestAll(*W);
        QCOMPARE(AnsweredIn(D), 0);
        QCOMPARE(D.Memo, First);
    }

    // Projects added, moved to another folder and deleted in the tree are watched as the
    // registry says now.
    void theRegistryIsFollowed() {
        ForgetStoredStates();
        WriteRegistry(QString());
        auto W = Open();
        TXMLTreeNode* Delta = Find(*W, "delta");
        // Another folder for delta: its old one is no longer watched, its new one is.
        Delta->XMLElement()->SetAttribute("Verzeichnis", Wc("alpha"));
        Settle(*W);
        QCOMPARE(W->Tasks->Live()->Watcher()->Generation(Wc("delta")), quint64(0));
        QVERIFY(W->Tasks->Live()->Watcher()->Generation(Wc("alpha")) != 0);
        WriteFile(Wc("delta") + "/ungesehen.txt", "x\n");
        WriteFile(Wc("alpha") + "/gesehen.txt", "x\n");
        QTRY_VERIFY_WITH_TIMEOUT(W->Tasks->Store()->Find(Wc("alpha")), 5000);
        QTest::qWait(500);
        QVERIFY(!W->Tasks->Store()->Find(Wc("delta")));
        // Deleted: no longer watched.
        W->lvDir->DeleteNode(Find(*W, "beta"));
        Settle(*W);
        QCOMPARE(W->Tasks->Live()->Watcher()->Generation(Wc("beta")), quint64(0));
        QFile::remove(Wc("delta") + "/ungesehen.txt");
        QFile::remove(Wc("alpha") + "/gesehen.txt");
    }

    // The interval on the tool bar: Alt+W reaches it, and it is kept on the registry's root
    // (absent when off); the tray icon is there while the monitor is on.
    void theIntervalIsSetInTheWindow() {
        ForgetStoredStates();
        WriteRegistry(" ServerMinuten=\"abc\"");
        auto W = Open();
        // A value that is no number counts as off, and is said at the start.
        QCOMPARE(W->edServerMinuten->value(), 0);
        QVERIFY(FPrompter.Infos.join(u' ').contains("ServerMinuten") ||
                FPrompter.Errors.join(u' ').contains("ServerMinuten"));
        W->activateWindow();
        QTest::keyClick(W.get(), Qt::Key_W, Qt::AltModifier);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(W->edServerMinuten));
        W->edServerMinuten->setValue(15);
        QTRY_VERIFY(W->Tasks->Monitor()->On());
        QCOMPARE(W->Tasks->Monitor()->Interval(), 15);
        QCOMPARE(W->lvDir->XMLItems()->RootElement()->GetAttribute("ServerMinuten"),
                 QStringLiteral("15"));
        QVERIFY(W->Tray->MonitorOn());
        QCOMPARE(W->edServerMinuten->text(), QStringLiteral("alle 15 Min."));
        QCOMPARE(W->StatusBar1->MessageLabel()->text(),
                 QStringLiteral("Der Server wird alle 15 Minuten nach neuen Revisionen gefragt."));
        W->edServerMinuten->setValue(1);
        QTRY_COMPARE(W->Tasks->Monitor()->Interval(), 1);
        QCOMPARE(W->StatusBar1->MessageLabel()->text(),
                 QStringLiteral("Der Server wird jede Minute nach neuen Revisionen gefragt."));
        W->edServerMinuten->setValue(0);
        QTRY_VERIFY(!W->Tasks->Monitor()->On());
        QVERIFY(!W->lvDir->XMLItems()->RootElement()->HasAttribute("ServerMinuten"));
        QVERIFY(!W->Tray->MonitorOn());
        QCOMPARE(W->edServerMinuten->text(), QStringLiteral("aus"));
        FPrompter.Reset();
    }

    // A commit on the server shows as one desktop notification within one interval; its action
    // brings the window up; the tree's tooltip names the new revision; a run without news says
    // nothing more.
    void commitShowsAsNotification() {
        if (!FServer)
            QSKIP(qPrintable(FBus.Why()));
        ForgetStoredStates();
        Svn({"update", "-q"}, Wc("delta")); // every copy current
        WriteRegistry(" ServerMinuten=\"1\"");
        auto W = Open();
        TServerMonitor* Monitor = W->Tasks->Monitor();
        QVERIFY(Monitor->On());
        QCOMPARE(Monitor->IntervalMs(), qint64(IntervalSeconds) * 1000);
        QVERIFY(W->Tray->MonitorOn());
        QSignalSpy Finished(Monitor, &TServerMonitor::RunFinished);
        QVERIFY(Finished.wait(3 * IntervalSeconds * 1000)); // the first run: nothing new
        QCOMPARE(Finished.first().at(1).toInt(), 0);
        QVERIFY(FServer->Calls.empty());

        WriteFile(FTmp.path() + "/other/datei.txt", "eins\nzwei\ndrei\n");
        Svn({"commit", "-q", "-m", "Dritte Zeile\nmehr dazu", FTmp.path() + "/other"});
        const QString Rev = Svn({"info", "--show-item", "revision", FUrl}).trimmed();
        QElapsedTimer Clock;
        Clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(!FServer->Calls.empty(), 4 * IntervalSeconds * 1000);
        // Within one interval, and the monitor's own run.
        QVERIFY2(Clock.elapsed() < (IntervalSeconds + 3) * 1000,
                 qPrintable(QString::number(Clock.elapsed())));
        QCOMPARE(FServer->Calls.size(), size_t(1));
        const TNotificationServer::TCall& Call = FServer->Calls.front();
        QCOMPARE(Call.Summary, QStringLiteral("1 Projekt hat neue Revisionen"));
        QVERIFY2(Call.Body.contains("Zwei/delta"), qPrintable(Call.Body));
        QVERIFY(Call.Actions.contains("default"));
        QTRY_COMPARE(W->Tray->Count(), 1);
        TXMLTreeNode* Delta = Find(*W, "delta");
        QCOMPARE(TSvnState(Delta->data(0, NodeStateRole).toInt()), TSvnState::OutOfDate);
        const QString Tip = Delta->toolTip(0);
        QVERIFY2(Tip.contains("1 neue Revision") && Tip.contains("r" + Rev + " ") &&
                     Tip.contains(": Dritte Zeile") && !Tip.contains("mehr dazu"),
                 qPrintable(Tip));

        // The notification's action brings the window up.
        W->showMinimized();
        QTRY_VERIFY(W->isMinimized());
        QTRY_VERIFY(W->Notifier->CurrentId() != 0);
        FServer->SendAction(W->Notifier->CurrentId(), "default");
        QTRY_VERIFY(!W->isMinimized());

        // Nothing new: no second notification.
        Finished.clear();
        QVERIFY(Finished.wait(4 * IntervalSeconds * 1000));
        QCOMPARE(Finished.first().at(1).toInt(), 1);
        QCOMPARE(FServer->Calls.size(), size_t(1));

        // News for another copy while the first is still behind: the summary counts the
        // projects it names, the tray all that are behind.
        Svn({"mkdir", "-q", "-m", "Neuer Ordner", FUrl + "/alpha/neu"});
        QTRY_COMPARE_WITH_TIMEOUT(FServer->Calls.size(), size_t(2), 4 * IntervalSeconds * 1000);
        QCOMPARE(FServer->Calls.back().Summary, QStringLiteral("1 Projekt hat neue Revisionen"));
        QCOMPARE(FServer->Calls.back().Body, QStringLiteral("Neu: Eins/alpha"));
        QTRY_COMPARE(W->Tray->Count(), 2);

        // Updated by the user: nothing new is left, the tray says so.
        W->lvDir->SetSelected(W->lvDir->XMLItems()->TopNode(0));
        W->ToolButton7->click();
        QTRY_VERIFY_WITH_TIMEOUT(!W->Tasks->Running(), 30000);
        QTRY_COMPARE(W->Tray->Count(), 0);
        QVERIFY(!Delta->toolTip(0).contains("neue Revision"));
    }

    void cleanupTestCase() { qunsetenv(MonitorSecondsVariable); }
};

QTEST_MAIN(TestAppLive)
#include "moc_kiv_test_dbus.cpp"
#include "tst_app_live.moc"
