// What a copy is said to be after a task is what it is: the tables every part reads, the
// store that keeps the states between starts and writers, and runs on real working copies in
// every state a copy can be in, compared with what a fresh "svn status" of each says.
#include "kiv_test_svn.h"

#include "kiv_folders.h"
#include "svn_engine.h"
#include "svn_store.h"
#include "svn_tables.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace kivtest;

namespace {

struct TRunResult {
    std::vector<TSvnOutcome> Outcomes;
    bool Cancelled = false;
};

TRunResult RunEngine(const QStringList& Folders, TSvnTask Task, TSvnRunOptions Options = {},
                     const std::function<void(TSvnRun&, int)>& OnProgress = nullptr) {
    std::vector<TSvnProject> Projects;
    for (const QString& F : Folders)
        Projects.push_back({QFileInfo(F).fileName(), F, F, QString(), 0});
    if (Options.TimeoutSeconds == 0)
        Options.TimeoutSeconds = 60;
    TSvnRun Run(std::move(Projects), Task, Options);
    TRunResult R;
    R.Outcomes.resize(size_t(Folders.size()));
    QObject::connect(&Run, &TSvnRun::ProjectDone,
                     [&](int I, const TSvnOutcome& O) { R.Outcomes[size_t(I)] = O; });
    if (OnProgress)
        QObject::connect(&Run, &TSvnRun::Progress,
                         [&](int Finished, int) { OnProgress(Run, Finished); });
    QSignalSpy Done(&Run, &TSvnRun::Finished);
    Run.Start();
    if (!Done.wait(240000))
        qWarning("run did not finish");
    R.Cancelled = !Done.isEmpty() && Done.first().first().toBool();
    return R;
}

// The state a fresh "svn status" (with the server: "status -u") of the copy decides.
TSvnState Fresh(const QString& Folder, bool Remote = false) {
    int Code = 0;
    const QStringList Lines =
        RunIn(Folder, Remote ? QStringList{"status", "-u"} : QStringList{"status"}, &Code);
    return DecideState(Remote ? TSvnTask::StatusRemote : TSvnTask::Status, Lines, Code, Folder)
        .State;
}

void Sql(const QString& Copy, const QString& Statement) {
    QProcess P;
    P.start("sqlite3", {Copy + "/.svn/wc.db", Statement});
    QVERIFY(P.waitForFinished() && P.exitCode() == 0);
}

bool HasLock(const QString& Folder) {
    for (const QString& L : RunIn(Folder, {"status"}))
        if (L.size() > 2 && L.at(2) == u'L')
            return true;
    return false;
}

} // namespace

class TestCoreStates : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    QString FUrl;
    QStringList FKinds;

    QString At(const QString& Rel) const { return FTmp.path() + u'/' + Rel; }

    // Copies in every state, under Set/: a copy of the prepared fixture, fresh for each task.
    QString Copies(const QString& Set) {
        const QString D = At(Set);
        if (!CopyTree(At("fixture"), D))
            qWarning("copy failed");
        return D;
    }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid());
        if (QStandardPaths::findExecutable("sqlite3").isEmpty())
            QSKIP("sqlite3 is not installed: locked and incomplete copies cannot be made");
        qputenv("LC_ALL", "C");
        Svn({"create", At("repo")}, QString(), QStringLiteral("svnadmin"));
        FUrl = "file://" + At("repo");
        for (const char* P : {"alpha", "beta", "lib"}) {
            WriteFile(At("imp/") + P + "/datei.txt", "eins\n");
            WriteFile(At("imp/") + P + "/sub/inner.txt", "innen\n");
        }
        Svn({"import", "-q", "-m", "init", At("imp"), FUrl});
        FKinds = {"clean",  "changed",  "oldconflict", "newconflict", "locked",
                  "incomplete", "switched", "externals", "reposlock",  "behind"};
        const QString F = At("fixture");
        for (const QString& K : FKinds)
            Svn({"checkout", "-q", FUrl + "/alpha", F + "/" + K});
        Svn({"checkout", "-q", FUrl + "/alpha", At("other")});
        WriteFile(F + "/changed/sub/inner.txt", "geändert\n");
        Svn({"switch", "-q", "--ignore-ancestry", FUrl + "/beta/sub", "sub"}, F + "/switched");
        Svn({"propset", "-q", "svn:externals", "ext " + FUrl + "/lib", "."}, F + "/externals");
        Svn({"commit", "-q", "-m", "ext", F + "/externals"});
        // Someone else commits to the file: an old conflict is made now, a new one is left
        // for the task to make.
        WriteFile(F + "/oldconflict/datei.txt", "lokal alt\n");
        WriteFile(F + "/newconflict/datei.txt", "lokal neu\n");
        WriteFile(At("other/datei.txt"), "fremd\n");
        Svn({"commit", "-q", "-m", "fremd", At("other")});
        Svn({"update", "-q", "--accept", "postpone"}, F + "/oldconflict");
        for (const char* K : {"clean", "changed", "locked", "incomplete", "switched", "reposlock"})
            Svn({"update", "-q"}, F + "/" + K);
        // Another copy holds a lock on a file in the repository.
        Svn({"update", "-q"}, At("other"));
        Svn({"lock", "-q", "datei.txt"}, At("other"));
        // Interrupted clients: a working-copy lock, and a folder left incomplete.
        Sql(F + "/locked", "insert into wc_lock (wc_id, local_dir_relpath, locked_levels) "
                           "values (1, '', -1)");
        Sql(F + "/incomplete",
            "update nodes set presence='incomplete' where local_relpath='sub' and op_depth=0");
        // The fixture is what it claims.
        QCOMPARE(Fresh(F + "/clean"), TSvnState::Clean);
        QCOMPARE(Fresh(F + "/changed"), TSvnState::Changes);
        QCOMPARE(Fresh(F + "/oldconflict"), TSvnState::Conflict);
        QCOMPARE(Fresh(F + "/locked"), TSvnState::Locked);
        QCOMPARE(Fresh(F + "/incomplete"), TSvnState::Incomplete);
        QCOMPARE(Fresh(F + "/switched"), TSvnState::Clean);
        QCOMPARE(Fresh(F + "/reposlock", true), TSvnState::ReposLocked);
        QCOMPARE(Fresh(F + "/behind", true), TSvnState::OutOfDate);
    }

    // One row per state and per task, in the order of their enums, with names that scripts
    // and the store file can rely on.
    void tables() {
        QSet<QString> Keys;
        for (int i = 0; i < StateRows().size(); ++i) {
            const TStateRow& R = StateRows().at(i);
            QCOMPARE(int(R.State), i);
            QVERIFY2(!Keys.contains(R.Key), R.Key);
            Keys.insert(R.Key);
            TSvnState Back;
            QVERIFY(StateFromKey(R.Key, Back) && Back == R.State);
            QVERIFY(!QString::fromUtf8(R.Caption).isEmpty());
            // Whatever fails needs the user's action; what needs none is no failure.
            QVERIFY(!R.Failure || R.NeedsAction || R.State == TSvnState::NotRun);
        }
        for (int i = 0; i < TaskRows().size(); ++i) {
            QCOMPARE(int(TaskRows().at(i).Task), i);
            TSvnTask Back;
            QVERIFY(TaskFromKey(TaskRows().at(i).Key, Back) && int(Back) == i);
        }
        // What the copy is outweighs what the update did; a lock outweighs everything.
        QCOMPARE(Heavier(TSvnState::Updated, TSvnState::Conflict), TSvnState::Conflict);
        QCOMPARE(Heavier(TSvnState::Current, TSvnState::Clean), TSvnState::Current);
        QCOMPARE(Heavier(TSvnState::Error, TSvnState::Locked), TSvnState::Locked);
        // The summary counts a copy in trouble once, and a fine one as all it is.
        TRunTally T;
        T.Add(TSvnState::Changes, true, true, true);
        T.Add(TSvnState::Conflict, true, true);
        T.Add(TSvnState::Cancelled);
        T.Add(TSvnState::NotRun);
        T.Add(TSvnState::NotRun);
        QCOMPARE(TallyText(T), QStringLiteral("5 Projekte: 1 mit Änderungen, 1 veraltet, "
                                              "1 aktualisiert, 1 mit Konflikt, 1 unterbrochen, "
                                              "2 nicht ausgeführt"));
        TRunTally Fine;
        Fine.Add(TSvnState::Clean);
        Fine.Add(TSvnState::ReposLocked);
        QCOMPARE(TallyText(Fine), QStringLiteral("2 Projekte: alles in Ordnung"));
    }

    // The store keeps what runs found across starts; two writers (the window and kivsvn)
    // each keep the newer entry per folder; a damaged or foreign file is set aside and
    // never stops the start.
    void storeKeptAcrossStartsAndWriters() {
        const QString File = At("cache/kivSubversion/zustaende.json");
        TSvnOutcome O;
        O.State = TSvnState::Changes;
        O.Lines = {"M       datei.txt"};
        O.Verdict.HasChanges = true;
        O.Verdict.Url = "file:///r/a";
        TStateStore Window;
        Window.Record("/w/a", TSvnTask::Status, O);
        QVERIFY(Window.Save(File));
        TStateStore Started;
        QCOMPARE(Started.Load(File), QString());
        const TStoredState* S = Started.Find("/w/a");
        QVERIFY(S);
        QCOMPARE(S->State, TSvnState::Changes);
        QCOMPARE(S->Lines, O.Lines);
        QCOMPARE(S->Url, QStringLiteral("file:///r/a"));
        QVERIFY(!Started.Fresh(*S)); // read from an earlier session
        // A project the run never reached keeps its state.
        TSvnOutcome NotRun;
        NotRun.State = TSvnState::NotRun;
        Started.Record("/w/a", TSvnTask::Update, NotRun);
        QCOMPARE(Started.Find("/w/a")->State, TSvnState::Changes);

        // kivsvn runs meanwhile and finds the copy clean, and another one.
        QTest::qWait(5);
        TStateStore Cli;
        QCOMPARE(Cli.Load(File), QString());
        TSvnOutcome Clean;
        Cli.Record("/w/a", TSvnTask::Status, Clean);
        Cli.Record("/w/b", TSvnTask::Status, Clean);
        QVERIFY(Cli.Save(File));
        // The window saves its older knowledge: the newer entries stay and come in.
        QSignalSpy Reloaded(&Window, &TStateStore::Reloaded);
        QVERIFY(Window.Save(File));
        QCOMPARE(Reloaded.size(), 1);
        QCOMPARE(Window.Find("/w/a")->State, TSvnState::Clean);
        QVERIFY(Window.Find("/w/b"));
        TStateStore Check;
        Check.Load(File);
        QCOMPARE(Check.Count(), 2);
        QCOMPARE(Check.Find("/w/a")->State, TSvnState::Clean);

        // Damaged, foreign, not a file: set aside with a note, the store starts empty.
        for (const QByteArray& Bad : {QByteArray("{\"format\":\"kivSubversion-Zustände\",\"ver"),
                                      QByteArray("{\"something\":\"else\"}")}) {
            WriteFile(File, Bad);
            TStateStore Next;
            const QString Note = Next.Load(File);
            QVERIFY2(Note.contains("liegt jetzt in"), qPrintable(Note));
            QCOMPARE(Next.Count(), 0);
            QVERIFY(!QFile::exists(File));
            QVERIFY(Next.Save(File));
        }
        QVERIFY(QFile::remove(File));
        QCOMPARE(mkfifo(QFile::encodeName(File).constData(), 0600), 0);
        TStateStore Fifo;
        QElapsedTimer Clock;
        Clock.start();
        QVERIFY(!Fifo.Load(File).isEmpty()); // not read, not waited for
        QVERIFY(Clock.elapsed() < 2000);
        QVERIFY(Fifo.Save(File));
        QVERIFY(QFileInfo(File).isFile());
    }

    // The state each task leaves equals what a fresh "svn status" of the copy says, for a
    // test, a test with the server, a batched update, updates of one copy at a time and the
    // terminal form; an update says "aktualisiert" only where the revision moved.
    void statesEqualFreshStatus() {
        QStringList Folders;
        auto In = [&](const QString& Set) {
            const QString D = Copies(Set);
            QStringList L;
            for (const QString& K : FKinds)
                L << D + "/" + K;
            return L;
        };
        // Tests for changes, without and with the server.
        for (const TSvnTask Task : {TSvnTask::Status, TSvnTask::StatusRemote}) {
            Folders = In(Task == TSvnTask::Status ? "status" : "remote");
            const TRunResult R = RunEngine(Folders, Task);
            for (int i = 0; i < Folders.size(); ++i)
                QVERIFY2(R.Outcomes[size_t(i)].State ==
                             Fresh(Folders[i], Task == TSvnTask::StatusRemote),
                         qPrintable(FKinds[i] + ": " + StateKey(R.Outcomes[size_t(i)].State)));
        }
        // Updates: all in batches, one copy per run, and in a terminal.
        const QString Terminal = QStringLiteral(KIV_FAKE_TERMINAL);
        for (const QString Way : {"batch", "alone", "terminal"}) {
            Folders = In(Way);
            std::vector<TSvnOutcome> Out;
            if (Way == u"alone") {
                for (const QString& F : Folders)
                    Out.push_back(RunEngine({F}, TSvnTask::Update).Outcomes[0]);
            } else {
                TSvnRunOptions O;
                O.Console = Way == u"terminal";
                if (O.Console)
                    qputenv("TERMINAL", QFile::encodeName(Terminal));
                Out = RunEngine(Folders, TSvnTask::Update, O).Outcomes;
                qunsetenv("TERMINAL");
            }
            for (int i = 0; i < Folders.size(); ++i) {
                const TSvnOutcome& O = Out[size_t(i)];
                const TSvnState Now = Fresh(Folders[i]);
                const QString Tag = Way + " " + FKinds[i] + ": " + StateKey(O.State) + " != " +
                                    StateKey(Now) + " " + O.Lines.join(" | ") +
                                    O.Notes.join(" | ");
                if (Now == TSvnState::Clean)
                    QVERIFY2(O.State == TSvnState::Updated || O.State == TSvnState::Current,
                             qPrintable(Tag));
                else
                    QVERIFY2(O.State == Now, qPrintable(Tag));
                // "aktualisiert" exactly where the revision moved.
                const bool Moved = O.Verdict.RevisionBefore >= 0 &&
                                   O.Verdict.Revision != O.Verdict.RevisionBefore;
                if (O.State == TSvnState::Updated || O.State == TSvnState::Current)
                    QVERIFY2((O.State == TSvnState::Updated) == (Moved || O.Verdict.Files > 0),
                             qPrintable(Tag));
            }
            auto Of = [&](const QString& K) { return Out[size_t(FKinds.indexOf(K))].State; };
            // A conflict left by an earlier update is still a conflict, and a failure.
            QCOMPARE(Of("oldconflict"), TSvnState::Conflict);
            QVERIFY(IsFailure(Of("oldconflict")));
            QCOMPARE(Of("newconflict"), TSvnState::Conflict);
            QCOMPARE(Of("clean"), TSvnState::Current);
            QCOMPARE(Of("behind"), TSvnState::Updated);
            QCOMPARE(Of("changed"), TSvnState::Changes);
        }
    }

    // Cancel during a batched update of 100 copies: it stops within seconds, leaves no copy
    // locked, names the copies it interrupted and those it never reached, and the next update
    // brings every copy to the latest revision.
    void cancelHundredCopies() {
        const QString D = At("hundred");
        const QString Url = "file://" + D + "/repo";
        QVERIFY(QDir().mkpath(D));
        Svn({"create", D + "/repo"}, QString(), QStringLiteral("svnadmin"));
        Svn({"checkout", "-q", Url, D + "/seed"});
        for (int i = 0; i < 10; ++i)
            WriteFile(D + QStringLiteral("/seed/ordner/datei%1.txt").arg(i), "eins\n");
        Svn({"add", "-q", D + "/seed/ordner"});
        Svn({"commit", "-q", "-m", "eins", D + "/seed"});
        QStringList Folders;
        for (int i = 0; i < 100; ++i) {
            Folders << D + QStringLiteral("/wc%1").arg(i, 3, 10, QLatin1Char('0'));
            QVERIFY(CopyTree(D + "/seed", Folders.last()));
        }
        // The repository moves on by many files, so that each update has work to do.
        for (int i = 0; i < 10; ++i)
            WriteFile(D + QStringLiteral("/seed/ordner/datei%1.txt").arg(i), "zwei\n");
        for (int i = 0; i < 60; ++i)
            WriteFile(D + QStringLiteral("/seed/neu/datei%1.txt").arg(i), QByteArray(1000, 'x'));
        Svn({"add", "-q", D + "/seed/neu"});
        Svn({"commit", "-q", "-m", "zwei", D + "/seed"});
        const QString Head = Svn({"info", "--show-item", "revision", Url}).trimmed();

        TSvnRunOptions O;
        O.Jobs = 2;
        QElapsedTimer Clock;
        int SeenProgress = 0;
        const TRunResult R = RunEngine(Folders, TSvnTask::Update, O, [&](TSvnRun& Run, int N) {
            SeenProgress = std::max(SeenProgress, N);
            if (N >= 3 && !Run.Cancelling()) {
                Clock.start();
                Run.Cancel();
            }
        });
        QVERIFY(R.Cancelled);
        QVERIFY2(Clock.elapsed() < 15000, qPrintable(QString::number(Clock.elapsed())));
        TRunTally T;
        int NotRun = 0, Interrupted = 0, Finished = 0;
        for (int i = 0; i < Folders.size(); ++i) {
            const TSvnOutcome& Out = R.Outcomes[size_t(i)];
            T.Add(Out.State, Out.Verdict.HasChanges, Out.Verdict.IsBehind, Out.RevisionChanged);
            NotRun += Out.State == TSvnState::NotRun;
            Interrupted += Out.State == TSvnState::Cancelled ||
                           Out.State == TSvnState::Incomplete;
            Finished += Out.State == TSvnState::Updated;
            QVERIFY2(!HasLock(Folders[i]), qPrintable(Folders[i]));
            if (Out.State == TSvnState::NotRun)
                QCOMPARE(Svn({"info", "--show-item", "revision"}, Folders[i]).trimmed() == Head,
                         false);
        }
        QVERIFY(Finished >= 3);
        QVERIFY2(NotRun > 0, qPrintable(TallyText(T)));
        QCOMPARE(NotRun + Interrupted + Finished, 100);
        qInfo("%s", qPrintable(TallyText(T)));
        QVERIFY(TallyText(T).contains("nicht ausgeführt"));
        QVERIFY(!TallyText(T).contains("alles in Ordnung"));
        // The next update completes every copy.
        const TRunResult Again = RunEngine(Folders, TSvnTask::Update, O);
        QVERIFY(!Again.Cancelled);
        for (int i = 0; i < Folders.size(); ++i) {
            QCOMPARE(Svn({"info", "--show-item", "revision"}, Folders[i]).trimmed(), Head);
            QCOMPARE(Fresh(Folders[i]), TSvnState::Clean);
        }
    }
};

QTEST_GUILESS_MAIN(TestCoreStates)
#include "tst_core_states.moc"
