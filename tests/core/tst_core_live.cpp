// The live copies and the server monitor over real working copies: a repeated test for changes
// answered from the store is, round after round of random edits and outside svn commands,
// exactly what a full run prints; the background checks follow changes and wait for the user's
// run; the monitor finds new revisions with their log, and says what kept a server from
// answering. Also the store's server part, kept and merged, and the log's reading.
#include "kiv_test_servers.h"
#include "kiv_test_svn.h"

#include "kiv_live.h"
#include "kiv_monitor.h"
#include "kiv_watcher.h"
#include "svn_store.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace kivtest;

namespace {

struct TRunResult {
    std::vector<TSvnOutcome> Out;
    bool Cancelled = false;
};

TRunResult RunAll(const std::vector<TSvnProject>& Projects, TSvnTask Task,
                  const TSvnRunOptions& Options) {
    TRunResult R;
    R.Out.resize(Projects.size());
    TSvnRun Run(Projects, Task, Options);
    QObject::connect(&Run, &TSvnRun::ProjectDone,
                     [&](int I, const TSvnOutcome& O) { R.Out[size_t(I)] = O; });
    bool Done = false;
    QObject::connect(&Run, &TSvnRun::Finished, [&](bool C) {
        R.Cancelled = C;
        Done = true;
    });
    Run.Start();
    if (!QTest::qWaitFor([&] { return Done; }, 120000))
        qWarning("run did not finish");
    return R;
}

// svn without a warning when it refuses (a random step may ask for what cannot be done).
void SvnQuiet(const QStringList& Args) {
    QProcess P;
    P.setProcessChannelMode(QProcess::MergedChannels);
    P.start(QStringLiteral("svn"), QStringList{QStringLiteral("--non-interactive")} + Args);
    P.waitForFinished(60000);
}

// A file written where that may not be possible (a folder in its place): nothing then.
void Put(const QString& Path, const QByteArray& Bytes) {
    QDir().mkpath(QFileInfo(Path).path());
    QFile F(Path);
    if (F.open(QIODevice::WriteOnly | QIODevice::Truncate))
        F.write(Bytes);
}

bool WaitSettled(TkivWatcher& W) {
    return QTest::qWaitFor([&] { return W.IsSettled(); }, 20000);
}

} // namespace

class TestCoreLive : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    QString FUrl;
    QByteArray FHome;
    QString At(const QString& Rel) const { return FTmp.path() + u'/' + Rel; }

    // Six projects under T/repo, each checked out as wc/pN; p0 holds p1 as an external.
    std::vector<TSvnProject> MakeCopies(int N) {
        Svn({"create", At("repo")}, QString(), QStringLiteral("svnadmin"));
        FUrl = "file://" + At("repo");
        for (int i = 0; i < N; ++i) {
            const QString P = At(QStringLiteral("imp/p%1").arg(i));
            WriteFile(P + "/datei.txt", "eins\n");
            WriteFile(P + "/sub/inner.txt", "innen\n");
            WriteFile(P + "/sub/tief/x.txt", "tief\n");
            WriteFile(P + "/doc/lies.txt", "lies\n");
        }
        Svn({"import", "-q", "-m", "init", At("imp"), FUrl});
        Svn({"checkout", "-q", FUrl, At("other")});
        Svn({"propset", "-q", "svn:externals", "ext " + FUrl + "/p1", At("other/p0")});
        Svn({"commit", "-q", "-m", "ext", At("other")});
        std::vector<TSvnProject> Projects;
        for (int i = 0; i < N; ++i) {
            const QString Name = QStringLiteral("p%1").arg(i);
            const QString Folder = At("wc/" + Name);
            Svn({"checkout", "-q", FUrl + "/" + Name, Folder});
            Projects.push_back({Name, Folder, Folder, "G/" + Name, 0});
        }
        return Projects;
    }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid());
        // A home of its own, whose svn settings the test changes.
        FHome = qgetenv("HOME");
        QDir().mkpath(At("home"));
        qputenv("HOME", QFile::encodeName(At("home")));
        Svn({"--version", "--quiet"});
    }
    void cleanupTestCase() { qputenv("HOME", FHome); }

    // The repeat run against a full run, round after round: whatever a step did to the copies
    // (edits, adds, deletes, reverts, updates, commits, locks, svn's settings), every project's
    // lines, state and notes are those a client prints now.
    void repeatRunsAreFullRuns() {
        const std::vector<TSvnProject> Projects = MakeCopies(6);
        TStateStore Store;
        TLiveCopies Live(&Store);
        Live.SetProjects(Projects);
        QVERIFY(WaitSettled(*Live.Watcher()));

        const quint32 Seed = qEnvironmentVariableIsSet("KIV_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("KIV_SEED"))
                                 : QRandomGenerator::global()->generate();
        QRandomGenerator Random(Seed);
        const int Rounds = 60;
        int Answered = 0, Ran = 0, Counter = 0;
        bool Ignoring = false;
        QStringList Steps; // what was done, for the message of a failure
        auto Copy = [&](int K) { return Projects[size_t(K)].Folder; };
        auto Step = [&] {
            const int K = int(Random.bounded(int(Projects.size())));
            const QString C = Copy(K);
            const QString Name = Projects[size_t(K)].Name;
            const int What = int(Random.bounded(20));
            ++Counter;
            Steps << QStringLiteral("%1:%2").arg(What).arg(Name);
            switch (What) {
            case 0:
                Put(C + "/datei.txt", QByteArray("geändert ") + QByteArray::number(Counter) + "\n");
                break;
            case 1: // the same size, another content
                Put(C + "/sub/inner.txt", Counter % 2 ? "INNEN\n" : "innen\n");
                break;
            case 2:
                Put(C + QStringLiteral("/neu%1.txt").arg(Counter % 3), "neu\n");
                break;
            case 3:
                Put(C + "/doc/dazu.txt", "dazu\n");
                SvnQuiet({"add", "-q", C + "/doc/dazu.txt"});
                break;
            case 4:
                QFile::remove(C + "/doc/lies.txt");
                break;
            case 5:
                SvnQuiet({"delete", "-q", "--force", C + "/sub/inner.txt"});
                break;
            case 6:
                SvnQuiet({"revert", "-q", "-R", C});
                break;
            case 7:
                SvnQuiet({"update", "-q", C});
                break;
            case 8:
                SvnQuiet({"update", "-q", "-r", "PREV", C});
                break;
            case 9: // a commit elsewhere: the server moves on, the copy does not
                Put(At("other/" + Name + "/datei.txt"),
                    QByteArray("von anderswo ") + QByteArray::number(Counter) + "\n");
                SvnQuiet({"commit", "-q", "-m", "anderswo", At("other")});
                SvnQuiet({"update", "-q", At("other")});
                break;
            case 10:
                SvnQuiet({"propset", "-q", "farbe", QString::number(Counter), C + "/datei.txt"});
                break;
            case 11:
                Put(C + QStringLiteral("/neu/ordner%1/a.tmp").arg(Counter % 2), "x\n");
                break;
            case 12:
                QDir(C + "/sub/tief").removeRecursively();
                break;
            case 13: { // svn's settings: what status leaves out changes for every copy
                Ignoring = !Ignoring;
                Put(At("home/.subversion/config"),
                    Ignoring ? "[miscellany]\nglobal-ignores = *.tmp neu*.txt\n"
                             : "[miscellany]\n");
                break;
            }
            case 14: { // a new time, the same content
                QFile F(C + "/datei.txt");
                if (F.open(QIODevice::ReadWrite))
                    F.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                  QFileDevice::FileModificationTime);
                break;
            }
            case 15:
                SvnQuiet({"commit", "-q", "-m", "von hier", C});
                break;
            case 16:
                SvnQuiet({"cleanup", C});
                break;
            case 17:
                SvnQuiet({"lock", "-q", C + "/doc/lies.txt"});
                break;
            case 18: // a folder where a file was
                if (QFile::remove(C + "/datei.txt"))
                    QDir().mkpath(C + "/datei.txt");
                break;
            case 19:
                SvnQuiet({"move", "-q", C + "/doc", C + QStringLiteral("/doc%1").arg(Counter)});
                break;
            }
        };
        auto Undo18 = [&] {
            // A folder in a file's place cannot be reverted by svn: taken away first.
            for (int K = 0; K < int(Projects.size()); ++K)
                if (QFileInfo(Copy(K) + "/datei.txt").isDir())
                    QDir(Copy(K) + "/datei.txt").removeRecursively();
        };

        for (int Round = 0; Round < Rounds; ++Round) {
            const int Count = int(Random.bounded(4)); // some rounds change nothing
            for (int I = 0; I < Count; ++I)
                Step();
            if (Round % 15 == 14)
                Undo18();
            TSvnRunOptions Repeat;
            Repeat.Store = &Store;
            Repeat.KeepLines = TStateStore::KeptLines;
            Repeat.Answer = Live.Answers(TSvnTask::Status, Projects);
            Repeat.Generation = Live.Generations();
            const TRunResult A = RunAll(Projects, TSvnTask::Status, Repeat);
            const TRunResult B = RunAll(Projects, TSvnTask::Status, TSvnRunOptions());
            for (size_t I = 0; I < Projects.size(); ++I) {
                const TSvnOutcome& X = A.Out[I];
                const TSvnOutcome& Y = B.Out[I];
                (X.Answered ? Answered : Ran)++;
                if (X.Lines != Y.Lines || X.State != Y.State || X.Notes != Y.Notes)
                    QFAIL(qPrintable(
                        QStringLiteral("seed %1, round %2, %3 (%4), steps %5:\n"
                                       "repeat [%6] %7\nfull [%8] %9")
                            .arg(Seed)
                            .arg(Round)
                            .arg(Projects[I].Name,
                                 X.Answered ? QStringLiteral("answered") : QStringLiteral("ran"),
                                 Steps.join(u' '), StateKey(X.State), X.Lines.join(u'|'),
                                 StateKey(Y.State), Y.Lines.join(u'|'))));
            }
            Steps.clear();
        }
        qInfo("seed %u: %d answered from the store, %d ran", Seed, Answered, Ran);
        // Most copies stay untouched in a round: they must be answered, or nothing is tested.
        QVERIFY2(Answered > Ran,
                 qPrintable(QStringLiteral("%1 answered, %2 ran").arg(Answered).arg(Ran)));
        Undo18();
        WriteFile(At("home/.subversion/config"), "[miscellany]\n");
    }

    // A saved file shows in the store within moments, from a check at low priority; the copies
    // the user's run works on wait for its end; an unchanged copy is not checked at all.
    void backgroundChecksFollowChanges() {
        QTemporaryDir T;
        const QString Repo = T.path() + "/repo";
        Svn({"create", Repo}, QString(), QStringLiteral("svnadmin"));
        WriteFile(T.path() + "/imp/a/datei.txt", "a\n");
        WriteFile(T.path() + "/imp/b/datei.txt", "b\n");
        Svn({"import", "-q", "-m", "init", T.path() + "/imp", "file://" + Repo});
        std::vector<TSvnProject> Projects;
        for (const char* N : {"a", "b"}) {
            const QString F = T.path() + "/wc/" + N;
            Svn({"checkout", "-q", "file://" + Repo + "/" + N, F});
            Projects.push_back({N, F, F, N, 0});
        }
        const QString A = Projects[0].Folder, B = Projects[1].Folder;
        TStateStore Store;
        TLiveCopies Live(&Store);
        Live.Watcher()->SetQuietTime(50);
        QSignalSpy Checked(&Live, &TLiveCopies::Checked);
        Live.SetProjects(Projects);
        QVERIFY(WaitSettled(*Live.Watcher()));
        WriteFile(A + "/datei.txt", "geändert\n");
        QTRY_VERIFY_WITH_TIMEOUT(Store.Find(A) && Store.Find(A)->State == TSvnState::Changes, 5000);
        const TStoredState S = *Store.Find(A);
        QCOMPARE(S.Task, TSvnTask::Status);
        QCOMPARE(S.Lines, QStringList{"M       datei.txt"});
        QVERIFY(S.Generation != 0 && Live.Watcher()->UnchangedSince(A, S.Generation));
        QVERIFY(!Store.Find(B)); // never changed, never checked
        // The store's answer for the next test for changes is that very result.
        TSvnOutcome Out;
        QVERIFY(Live.Answers(TSvnTask::Status, Projects)(A, Out));
        QCOMPARE(Out.Lines, S.Lines);
        QCOMPARE(Out.State, TSvnState::Changes);
        QVERIFY(Out.Verdict.HasChanges);
        TSvnOutcome None;
        QVERIFY(!Live.Answers(TSvnTask::StatusRemote, Projects)); // the server: never answered
        QVERIFY(!Live.Answers(TSvnTask::Status, Projects)(B, None));

        // While the user's run works on it, a copy is not checked in the background.
        Live.SetBusy({A});
        Checked.clear();
        Svn({"revert", "-q", A + "/datei.txt"});
        QTest::qWait(1500);
        QCOMPARE(Store.Find(A)->State, TSvnState::Changes);
        QVERIFY(!Live.Answers(TSvnTask::Status, Projects)(A, None)); // but never answered
        Live.SetBusy({});
        QTRY_VERIFY_WITH_TIMEOUT(Store.Find(A)->State == TSvnState::Clean, 5000);
        QVERIFY(!Checked.isEmpty());
    }

    // A copy on a network file system (a FUSE mount here) is checked on the timer instead.
    void unwatchableCopiesAreCheckedOnATimer() {
        if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("bindfs")).isEmpty())
            QSKIP("needs root and bindfs for a FUSE mount");
        QTemporaryDir T;
        Svn({"create", T.path() + "/repo"}, QString(), QStringLiteral("svnadmin"));
        Svn({"checkout", "-q", "file://" + T.path() + "/repo", T.path() + "/wc"});
        const QString Mount = T.path() + "/netz";
        QDir().mkpath(Mount);
        QProcess M;
        M.start(QStringLiteral("bindfs"), {T.path() + "/wc", Mount});
        if (!M.waitForFinished(10000) || M.exitCode() != 0)
            QSKIP("cannot mount");
        struct Unmount {
            QString Path;
            ~Unmount() { QProcess::execute(QStringLiteral("fusermount"), {"-u", Path}); }
        } Guard{Mount};
        TStateStore Store;
        TLiveCopies Live(&Store);
        QSignalSpy Problems(&Live, &TLiveCopies::Problem);
        Live.SetPollSeconds(1);
        Live.SetProjects({{"netz", Mount, Mount, "netz", 0}});
        QTRY_COMPARE_WITH_TIMEOUT(Problems.size(), 1, 10000);
        WriteFile(Mount + "/neu.txt", "x\n");
        QTRY_VERIFY_WITH_TIMEOUT(
            Store.Find(Mount) && Store.Find(Mount)->State == TSvnState::Changes, 10000);
        TSvnOutcome Out;
        QVERIFY(!Live.Answers(TSvnTask::Status, {{"netz", Mount, Mount, "netz", 0}})(Mount, Out));
    }

    // New revisions on the server: found, counted, their log read (newest first, the message's
    // first line), told once as news; an update forgets them.
    void monitorFindsNewRevisions() {
        QTemporaryDir T;
        const QString Repo = T.path() + "/repo";
        Svn({"create", Repo}, QString(), QStringLiteral("svnadmin"));
        WriteFile(T.path() + "/imp/a/datei.txt", "a\n");
        WriteFile(T.path() + "/imp/b/datei.txt", "b\n");
        Svn({"import", "-q", "-m", "init", T.path() + "/imp", "file://" + Repo});
        Svn({"checkout", "-q", "file://" + Repo, T.path() + "/other"});
        std::vector<TSvnProject> Projects;
        for (const char* N : {"a", "b"}) {
            const QString F = T.path() + "/wc/" + N;
            Svn({"checkout", "-q", "file://" + Repo + "/" + N, F});
            Projects.push_back({N, F, F, QStringLiteral("G/") + N, 0});
        }
        TStateStore Store;
        TServerMonitor Monitor(&Store);
        Monitor.SetProjects(Projects);
        QSignalSpy Finished(&Monitor, &TServerMonitor::RunFinished);
        auto Run = [&] {
            Finished.clear();
            Monitor.RunNow();
            QVERIFY(Finished.wait(30000));
        };
        Run();
        QCOMPARE(Finished.first().at(0).toStringList(), QStringList());
        QCOMPARE(Finished.first().at(1).toInt(), 0);
        // Never checked before: the monitor's status is the copy's state too.
        QCOMPARE(Store.Find(Projects[0].Folder)->Shown(), TSvnState::Clean);

        WriteFile(T.path() + "/other/a/datei.txt", "a2\n");
        Svn({"commit", "-q", "-m", "Zweite Fassung\n\nmit Einzelheiten", T.path() + "/other"});
        WriteFile(T.path() + "/other/a/datei.txt", "a3\n");
        Svn({"commit", "-q", "-m", "  Dritte Fassung  ", T.path() + "/other"});
        WriteFile(T.path() + "/other/b/datei.txt", "b2\n"); // b changes locally only
        Run();
        QCOMPARE(Finished.first().at(0).toStringList(), QStringList{"G/a"});
        QCOMPARE(Finished.first().at(1).toInt(), 1);
        QCOMPARE(Monitor.BehindProjects(), QStringList{"G/a"});
        const TServerNews N = Store.Find(Projects[0].Folder)->Server;
        QVERIFY(N.Behind());
        QCOMPARE(N.Head, qint64(3));
        QCOMPARE(N.Base, qint64(1));
        QCOMPARE(N.NewRevisions, 2);
        QCOMPARE(N.Log.size(), 2);
        QCOMPARE(N.Log[0].Revision, qint64(3));
        QCOMPARE(N.Log[0].Message, QStringLiteral("Dritte Fassung"));
        QCOMPARE(N.Log[1].Message, QStringLiteral("Zweite Fassung"));
        QVERIFY(!N.Log[0].Author.isEmpty());
        QCOMPARE(Store.Find(Projects[0].Folder)->Shown(), TSvnState::OutOfDate);
        // A local change afterwards keeps what the server has.
        WriteFile(Projects[0].Folder + "/neu.txt", "x\n");
        TSvnRunOptions Local;
        Local.Store = &Store;
        RunAll(Projects, TSvnTask::Status, Local);
        QCOMPARE(Store.Find(Projects[0].Folder)->State, TSvnState::Changes);
        QCOMPARE(Store.Find(Projects[0].Folder)->Shown(), TSvnState::OutOfDate);

        // Nothing new since: no news, the log kept.
        Run();
        QCOMPARE(Finished.first().at(0).toStringList(), QStringList());
        QCOMPARE(Finished.first().at(1).toInt(), 1);
        QCOMPARE(Store.Find(Projects[0].Folder)->Server.NewRevisions, 2);

        // The repository out of reach for a run, then back: what was told is not told again.
        QVERIFY(QDir().rename(Repo, Repo + ".weg"));
        Run();
        QVERIFY(!Store.Find(Projects[0].Folder)->Server.Behind());
        QCOMPARE(Store.Find(Projects[0].Folder)->Server.State, TSvnState::NoServer);
        QVERIFY(QDir().rename(Repo + ".weg", Repo));
        Run();
        QCOMPARE(Finished.first().at(0).toStringList(), QStringList());
        QVERIFY(Store.Find(Projects[0].Folder)->Server.Behind());
        // A revision after the outage is news again.
        WriteFile(T.path() + "/other/a/datei.txt", "a4\n");
        Svn({"commit", "-q", "-m", "Vierte Fassung", T.path() + "/other/a"});
        Run();
        QCOMPARE(Finished.first().at(0).toStringList(), QStringList{"G/a"});

        // Updated: nothing new is left.
        RunAll({Projects[0]}, TSvnTask::Update, Local);
        QVERIFY(!Store.Find(Projects[0].Folder)->Server.Known());
        QVERIFY(Monitor.BehindProjects().isEmpty());
        QFile::remove(Projects[0].Folder + "/neu.txt");
    }

    // On a timer, in seconds where the test variable says so; off is off.
    void monitorRunsOnItsInterval() {
        QTemporaryDir T;
        Svn({"create", T.path() + "/repo"}, QString(), QStringLiteral("svnadmin"));
        Svn({"checkout", "-q", "file://" + T.path() + "/repo", T.path() + "/wc"});
        TStateStore Store;
        TServerMonitor Monitor(&Store);
        Monitor.SetProjects({{"wc", T.path() + "/wc", T.path() + "/wc", "wc", 0}});
        QSignalSpy Started(&Monitor, &TServerMonitor::RunStarted);
        qputenv(MonitorSecondsVariable, "1");
        Monitor.SetInterval(5);
        QCOMPARE(Monitor.IntervalMs(), qint64(1000));
        QTRY_VERIFY_WITH_TIMEOUT(Started.size() >= 3, 15000);
        Monitor.SetInterval(0);
        QTest::qWait(200);
        const int Now = int(Started.size());
        QTest::qWait(2500);
        QCOMPARE(int(Started.size()), Now);
        qunsetenv(MonitorSecondsVariable);
        Monitor.SetInterval(5);
        QCOMPARE(Monitor.IntervalMs(), qint64(5 * 60 * 1000));
    }

    // No server, one that wants a login, one that never answers: each said on the project, in
    // its own state and the client's words.
    void monitorSaysWhatKeptTheServer() {
        QTemporaryDir T;
        // Two repositories: a server's settings live in its repository.
        for (const char* R : {"/geheim", "/offen"}) {
            Svn({"create", T.path() + R}, QString(), QStringLiteral("svnadmin"));
            WriteFile(T.path() + "/imp" + R + "/a/datei.txt", "a\n");
            Svn({"import", "-q", "-m", "init", T.path() + "/imp" + R, "file://" + T.path() + R});
        }
        TSvnServe Login(T.path() + "/geheim", true);
        if (!Login.Running())
            QSKIP(qPrintable(Login.Why()));
        Svn({"checkout", "-q", "--username", "anna", "--password", "geheim", "--no-auth-cache",
             Login.Url() + "/a", T.path() + "/login"});
        int SilentPort = 0;
        {
            TSvnServe Open(T.path() + "/offen", false);
            Svn({"checkout", "-q", Open.Url() + "/a", T.path() + "/still"});
            SilentPort = Open.Port();
        }
        // Where that server was, one that takes connections and never answers.
        TSilentServer Silent(SilentPort);
        TStateStore Store;
        TServerMonitor Monitor(&Store);
        Monitor.SetRunOptions(2, 2);
        const std::vector<TSvnProject> Projects = {
            {"login", T.path() + "/login", T.path() + "/login", "login", 0},
            {"still", T.path() + "/still", T.path() + "/still", "still", 0}};
        Monitor.SetProjects(Projects);
        QSignalSpy Finished(&Monitor, &TServerMonitor::RunFinished);
        Monitor.RunNow();
        QVERIFY(Finished.wait(60000));
        const TStoredState* L = Store.Find(T.path() + "/login");
        QVERIFY(L);
        QCOMPARE(L->Server.State, TSvnState::LoginNeeded);
        QCOMPARE(L->Shown(), TSvnState::LoginNeeded);
        QVERIFY2(L->Server.Notes.join(u' ').contains("E170001") ||
                     L->Server.Notes.join(u' ').contains("E215004"),
                 qPrintable(L->Server.Notes.join(u' ')));
        const TStoredState* S = Store.Find(T.path() + "/still");
        QVERIFY(S);
        if (Silent.Listening()) {
            QCOMPARE(S->Server.State, TSvnState::TimedOut);
            QCOMPARE(S->Shown(), TSvnState::TimedOut);
        }
        QCOMPARE(Finished.first().at(1).toInt(), 0);

        // Nobody listens there any more: the server cannot be reached, which weighs less than
        // what the copy itself shows.
        Login.Stop();
        Finished.clear();
        Monitor.SetProjects({Projects[0]});
        Monitor.RunNow();
        QVERIFY(Finished.wait(60000));
        L = Store.Find(T.path() + "/login");
        QCOMPARE(L->Server.State, TSvnState::NoServer);
        QVERIFY2(L->Server.Notes.join(u' ').contains("E170013"),
                 qPrintable(L->Server.Notes.join(u' ')));
        TSvnOutcome Changed;
        Changed.State = TSvnState::Changes;
        Store.Record(T.path() + "/login", TSvnTask::Status, Changed);
        QCOMPARE(Store.Find(T.path() + "/login")->Shown(), TSvnState::Changes);
    }

    // The server part of the store: written and read back, merged apart from the copy's own
    // state (each the newer), never the watcher's generation; a local check keeps it.
    void storeKeepsTheServerApart() {
        TStateStore A;
        TSvnOutcome Local;
        Local.State = TSvnState::Changes;
        Local.Verdict.HasChanges = true;
        Local.Lines = {"M       x"};
        Local.Generation = 42;
        A.Record("/k", TSvnTask::Status, Local);
        QCOMPARE(A.Find("/k")->Generation, quint64(42));
        TServerNews N;
        N.Time = QDateTime::currentDateTimeUtc().addSecs(5);
        N.State = TSvnState::OutOfDate;
        N.Head = 9;
        N.Base = 7;
        N.NewRevisions = 2;
        N.Told = 9;
        N.Log = {{9, "anna", QDateTime::currentDateTimeUtc(), "Neu", {}},
                 {8, "", QDateTime(), "Alt", {}}};
        A.RecordServer("/k", N);
        QCOMPARE(A.Find("/k")->Shown(), TSvnState::OutOfDate);
        QCOMPARE(A.Find("/k")->State, TSvnState::Changes);

        QHash<QString, TStoredState> Read;
        QVERIFY(ParseStoreFileText(StoreFileText({{"/k", *A.Find("/k")}}), Read));
        const TStoredState R = Read.value("/k");
        QCOMPARE(R.Generation, quint64(0)); // this session's watcher only
        QCOMPARE(R.Server.State, TSvnState::OutOfDate);
        QCOMPARE(R.Server.Head, qint64(9));
        QCOMPARE(R.Server.NewRevisions, 2);
        QCOMPARE(R.Server.Told, qint64(9));
        QCOMPARE(R.Server.Log.size(), 2);
        QCOMPARE(R.Server.Log[0].Author, QStringLiteral("anna"));
        QCOMPARE(R.Server.Log[1].Message, QStringLiteral("Alt"));

        // Another program's newer check of the copy, and this one's newer news of the server:
        // both survive the merge.
        const QString File = FTmp.path() + "/merge/zustaende.json";
        QVERIFY(A.Save(File));
        TStateStore B;
        QVERIFY(B.Load(File).isEmpty());
        QTest::qWait(20);
        TSvnOutcome Clean;
        B.Record("/k", TSvnTask::Status, Clean);
        QVERIFY(B.Save(File));
        TServerNews Later = N;
        Later.Time = N.Time.addSecs(60);
        Later.Head = 10;
        A.RecordServer("/k", Later);
        QVERIFY(A.Save(File));
        QCOMPARE(A.Find("/k")->State, TSvnState::Clean);
        QCOMPARE(A.Find("/k")->Server.Head, qint64(10));
        QCOMPARE(A.Find("/k")->Generation, quint64(0)); // the other program's lines: no vouching

        // A test that asked the server replaces its news, an update forgets them.
        TSvnOutcome Remote;
        Remote.Verdict.ServerRevision = 11;
        A.Record("/k", TSvnTask::StatusRemote, Remote);
        QCOMPARE(A.Find("/k")->Server.State, TSvnState::Clean);
        QCOMPARE(A.Find("/k")->Server.Head, qint64(11));
        // One that could not reach the server says that, and nothing else of the copy.
        TSvnOutcome Away;
        Away.State = TSvnState::Error;
        Away.ExitCode = 1;
        Away.Lines = {"svn: E170013: Unable to connect to a repository at URL 'svn://h/r'",
                      "svn: E000111: Can't connect to host 'h': Connection refused"};
        const TStoredState Before = *A.Find("/k");
        A.Record("/k", TSvnTask::StatusRemote, Away);
        QCOMPARE(A.Find("/k")->State, TSvnState::Clean);
        QCOMPARE(A.Find("/k")->Task, Before.Task);
        QCOMPARE(A.Find("/k")->Lines, Before.Lines);
        QCOMPARE(A.Find("/k")->Server.State, TSvnState::NoServer);
        QCOMPARE(A.Find("/k")->Shown(), TSvnState::NoServer);
        A.Record("/nie", TSvnTask::StatusRemote, Away); // never checked: the server's state
        QCOMPARE(A.Find("/nie")->Shown(), TSvnState::NoServer);
        QVERIFY(!IsFailure(A.Find("/nie")->State));
        TSvnOutcome Updated;
        Updated.State = TSvnState::Updated;
        Updated.Verdict.Revision = 11;
        A.Record("/k", TSvnTask::Update, Updated);
        QVERIFY(!A.Find("/k")->Server.Known());
    }

    void logAndServerProblemsAreRead() {
        // What the monitor relies on: a log cut off, or an error instead of one, is not read.
        bool Complete = true;
        ParseLogXml({"<log>", "<logentry revision=\"1\">"}, &Complete);
        QVERIFY(!Complete);
        Complete = true;
        ParseLogXml({"svn: E155007: '/x' is not a working copy"}, &Complete);
        QVERIFY(!Complete);

        QCOMPARE(ServerProblemOf({"svn: E170013: Unable to connect to a repository at URL "
                                  "'svn://h/r'",
                                  "svn: E000111: Can't connect to host 'h': Connection refused"}),
                 TSvnState::NoServer);
        QCOMPARE(ServerProblemOf({"svn: E170013: Unable to connect to a repository at URL 'x'",
                                  "svn: E215004: No more credentials or we tried too many times."}),
                 TSvnState::LoginNeeded);
        QCOMPARE(ServerProblemOf({"svn: E155007: '/x' is not a working copy"}), TSvnState::Clean);
        QCOMPARE(ServerProblemOf({"M       E170013.txt"}), TSvnState::Clean);
    }
};

QTEST_GUILESS_MAIN(TestCoreLive)
#include "tst_core_live.moc"
