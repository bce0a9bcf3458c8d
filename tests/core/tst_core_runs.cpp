// The runs at their edges, against real servers on the loopback: a svnserve that demands a
// login, a listener that never answers, and a cancel in the middle of an update. No run may
// wait for an answer nobody gives, and no copy may stay locked.
#include "kiv_test_servers.h"
#include "kiv_test_svn.h"

#include "svn_engine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSet>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

using namespace kivtest;

namespace {

struct TRun {
    std::vector<TSvnOutcome> Outcomes;
    bool Cancelled = false;
    qint64 Ms = 0;
};

TSvnProject ProjectAt(const QString& Folder) {
    return {QFileInfo(Folder).fileName(), Folder, Folder, QString(), 0};
}

TRun RunEngine(const QStringList& Folders, TSvnTask Task, int Timeout, bool ShowUpdates = false) {
    std::vector<TSvnProject> Projects;
    for (const QString& F : Folders)
        Projects.push_back(ProjectAt(F));
    TSvnRunOptions O;
    O.Jobs = 2;
    O.TimeoutSeconds = Timeout;
    if (ShowUpdates)
        Task = TSvnTask::StatusRemote;
    TSvnRun Run(std::move(Projects), Task, O);
    TRun R;
    QObject::connect(&Run, &TSvnRun::ProjectDone,
                     [&](int, const TSvnOutcome& Out) { R.Outcomes.push_back(Out); });
    QSignalSpy Done(&Run, &TSvnRun::Finished);
    QElapsedTimer Clock;
    Clock.start();
    Run.Start();
    Done.wait(60000);
    R.Ms = Clock.elapsed();
    R.Cancelled = !Done.isEmpty() && Done.first().first().toBool();
    return R;
}

bool Locked(const QString& Folder) {
    // Column three of the plain status (no server needed) marks a locked working copy.
    for (const QString& L : RunIn(Folder, {"status"}))
        if (L.size() > 2 && L.at(2) == u'L')
            return true;
    return false;
}

} // namespace

class TestCoreRuns : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    QByteArray FHome;
    QString At(const QString& Rel) const { return FTmp.path() + u'/' + Rel; }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid());
        qputenv("LC_ALL", "C");
        // A home of its own: no stored login of the user's may answer for the client.
        FHome = qgetenv("HOME");
        QDir().mkpath(At("home"));
        qputenv("HOME", QFile::encodeName(At("home")));
        Svn({"create", At("repo")}, QString(), QStringLiteral("svnadmin"));
        WriteFile(At("imp/datei.txt"), "eins\n");
        WriteFile(At("imp/sub/inner.txt"), "innen\n");
        Svn({"import", "-q", "-m", "init", At("imp"), "file://" + At("repo")});
    }
    void cleanupTestCase() { qputenv("HOME", FHome); }

    // A server that wants a login: the client fails at once instead of asking, the project
    // counts as failed, and the memo says in German what to do.
    void loginIsNeverAskedFor() {
        TSvnServe Server(At("repo"), true);
        if (!Server.Running())
            QSKIP(qPrintable(Server.Why()));
        for (const char* W : {"wc1", "wc2"})
            Svn({"checkout", "-q", "--username", "anna", "--password", "geheim", "--no-auth-cache",
                 Server.Url(), At(W)});
        QVERIFY(QFileInfo(At("wc1/datei.txt")).isFile());
        for (const auto& [Task, Updates] : {std::pair{TSvnTask::Status, true},
                                            std::pair{TSvnTask::Update, false},
                                            std::pair{TSvnTask::Info, false}}) {
            const TRun R = RunEngine({At("wc1"), At("wc2")}, Task, 30, Updates);
            QCOMPARE(int(R.Outcomes.size()), 2);
            QVERIFY2(R.Ms < 20000, qPrintable(QString::number(R.Ms)));
            if (Task == TSvnTask::Info) {
                // Reading the copy's own data needs no server.
                QCOMPARE(R.Outcomes[0].State, TSvnState::Info);
                continue;
            }
            for (const TSvnOutcome& O : R.Outcomes) {
                QCOMPARE(O.State, TSvnState::Error);
                const QString Said = O.Lines.join(u'\n');
                QVERIFY2(Said.contains("E170001") || Said.contains("E215004"), qPrintable(Said));
                QVERIFY(O.Notes.join(u' ').contains(QStringLiteral("verlangt eine Anmeldung")));
            }
        }
        QVERIFY(!Locked(At("wc1")));
    }

    // The same copy named by two entries, by a link to it, and a folder inside it: one client
    // at a time works on it, every entry gets the result, none fails for a lock; a copy
    // reached through a link reports what its own folder reports.
    void sameCopyTwiceAndThroughALink() {
        const QString Wc = At("twice");
        Svn({"checkout", "-q", "file://" + At("repo"), Wc});
        QVERIFY(QFile::link(Wc, At("twice-link")));
        WriteFile(Wc + "/datei.txt", "geändert\n");
        const QStringList Entries = {Wc, Wc + "/", At("twice-link"), Wc + "/sub", Wc};
        for (const TSvnTask Task : {TSvnTask::Update, TSvnTask::Status, TSvnTask::StatusRemote}) {
            const TRun R = RunEngine(Entries, Task, 60, Task == TSvnTask::StatusRemote);
            QCOMPARE(int(R.Outcomes.size()), Entries.size());
            const QStringList Own = RunIn(Wc, Task == TSvnTask::StatusRemote
                                                  ? QStringList{"status", "-u"}
                                                  : QStringList{"status"});
            for (int i = 0; i < Entries.size(); ++i) {
                const TSvnOutcome& O = R.Outcomes[size_t(i)];
                const QString Said = Entries[i] + ": " + O.Lines.join(" | ") + O.Notes.join(" | ");
                QVERIFY2(!IsFailure(O.State), qPrintable(Said));
                if (Task != TSvnTask::Update && i != 3)
                    QVERIFY2(O.Lines == Own || (Task == TSvnTask::StatusRemote &&
                                                QSet<QString>(O.Lines.begin(), O.Lines.end()) ==
                                                    QSet<QString>(Own.begin(), Own.end())),
                             qPrintable(Said));
            }
            QCOMPARE(R.Outcomes[0].State, TSvnState::Changes);
        }
    }

    // A client that prints without end (an unignored build folder): each project keeps a
    // bounded number of lines and says how many it left out; what it left out can still be
    // had in order from a file; the state counts every line.
    void outputThatNeverEnds() {
        const QString Bin = At("flood");
        WriteFile(Bin + "/svn", "#!/bin/sh\nseq -f '?       build/obj%g.o' 1 70000\n"
                                "echo 'C       datei.txt'\n");
        QFile::setPermissions(Bin + "/svn", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        std::vector<TSvnProject> Projects{ProjectAt(At("imp"))};
        TSvnRunOptions O;
        O.Program = Bin + "/svn";
        O.KeepLines = 2000;
        O.SpillOmitted = true;
        TSvnRun Run(std::move(Projects), TSvnTask::Status, O);
        TSvnOutcome Out;
        QObject::connect(&Run, &TSvnRun::ProjectDone, [&](int, const TSvnOutcome& R) { Out = R; });
        QSignalSpy Done(&Run, &TSvnRun::Finished);
        Run.Start();
        QVERIFY(Done.wait(30000));
        QCOMPARE(Out.Lines.size(), 2000);
        QCOMPARE(Out.Omitted, 68001);
        QCOMPARE(Out.State, TSvnState::Conflict); // from the very last line
        QVERIFY(ProjectBlock(TSvnProject{"p", "", "/p", "", 0}, Out, false)
                    .contains(QStringLiteral("… 68.001 weitere Zeilen von svn sind hier nicht "
                                             "aufgeführt.")));
        QVERIFY(Out.Spill && Out.Spill->seek(0));
        const QList<QByteArray> Rest = Out.Spill->readAll().split('\n');
        QCOMPARE(Rest.first(), QByteArray("?       build/obj2001.o"));
        QCOMPARE(Rest.at(Rest.size() - 2), QByteArray("C       datei.txt"));
    }

    // A server that takes the connection and never answers: the time limit ends the client,
    // the project says so, and an update so ended is cleaned up.
    void silentServerMeetsTheTimeLimit() {
        TSvnServe Server(At("repo"), false);
        if (!Server.Running())
            QSKIP(qPrintable(Server.Why()));
        Svn({"checkout", "-q", Server.Url(), At("still")});
        Server.Stop();
        TSilentServer Silent(Server.Port());
        QVERIFY(Silent.Listening());
        for (const auto& [Task, Updates] :
             {std::pair{TSvnTask::Status, true}, std::pair{TSvnTask::Update, false}}) {
            const TRun R = RunEngine({At("still")}, Task, 2, Updates);
            QCOMPARE(int(R.Outcomes.size()), 1);
            QVERIFY2(R.Ms < 15000, qPrintable(QString::number(R.Ms)));
            const TSvnOutcome& O = R.Outcomes[0];
            QCOMPARE(O.State, TSvnState::TimedOut);
            QVERIFY(O.Notes.value(0).startsWith(QStringLiteral("Zeitlimit überschritten: svn hat 2 "
                                                               "Sekunden lang nichts ausgegeben")));
            Q_UNUSED(Task);
        }
        QVERIFY(!Locked(At("still")));
    }

    // Cancel during an update interrupts the client at once, as Ctrl+C would: the copy it
    // worked on is reported as interrupted and left free, the copy it never reached as not
    // run, and the run ends within seconds.
    void cancelDuringUpdateLeavesNoLock() {
        TSvnServe Server(At("repo"), false);
        if (!Server.Running())
            QSKIP(qPrintable(Server.Why()));
        Svn({"checkout", "-q", Server.Url(), At("cancel")});
        Server.Stop();
        TSilentServer Silent(Server.Port());
        QVERIFY(Silent.Listening());
        // The folder inside the copy needs a client of its own after the copy's.
        std::vector<TSvnProject> Projects{ProjectAt(At("cancel")), ProjectAt(At("cancel/sub"))};
        TSvnRunOptions O;
        O.Jobs = 1;
        O.TimeoutSeconds = 60;
        TSvnRun Run(std::move(Projects), TSvnTask::Update, O);
        std::vector<TSvnOutcome> Out;
        QObject::connect(&Run, &TSvnRun::ProjectDone,
                         [&](int, const TSvnOutcome& R) { Out.push_back(R); });
        QSignalSpy Done(&Run, &TSvnRun::Finished);
        Run.Start();
        QTest::qWait(800);
        QElapsedTimer Clock;
        Clock.start();
        Run.Cancel();
        QVERIFY(Run.Cancelling());
        QVERIFY(Done.wait(15000));
        QVERIFY2(Clock.elapsed() < 9000, qPrintable(QString::number(Clock.elapsed())));
        QCOMPARE(Done.first().first().toBool(), true);
        QCOMPARE(int(Out.size()), 2);
        QCOMPARE(Out[0].State, TSvnState::Cancelled);
        QCOMPARE(Out[1].State, TSvnState::NotRun);
        QVERIFY(Out[1].Lines.isEmpty() && Out[1].Notes.isEmpty());
        QVERIFY(!Locked(At("cancel")));
    }
};

QTEST_GUILESS_MAIN(TestCoreRuns)
#include "tst_core_runs.moc"
