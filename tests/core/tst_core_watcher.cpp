// The watcher over real working copies: what it tells after edits, new folders, outside svn
// commands, a copy that goes and comes back, changed svn settings and a lost event queue; and
// the copies it cannot watch (the watch limit, a network file system).
#include "kiv_test_svn.h"

#include "kiv_watcher.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <set>
#include <unistd.h>

using namespace kivtest;

namespace {

// Waits until Changed has named every copy in Want; what it named, all told.
std::set<QString> WaitChanged(QSignalSpy& Spy, const QStringList& Want, int Ms = 5000) {
    std::set<QString> Seen;
    QElapsedTimer Clock;
    Clock.start();
    for (;;) {
        for (const QList<QVariant>& Args : Spy)
            for (const QString& C : Args.first().toStringList())
                Seen.insert(C);
        Spy.clear();
        bool All = true;
        for (const QString& W : Want)
            All = All && Seen.count(W);
        if (All || Clock.elapsed() > Ms)
            return Seen;
        Spy.wait(100);
    }
}

bool WaitSettled(TkivWatcher& W) {
    return QTest::qWaitFor([&] { return W.IsSettled(); }, 10000);
}

} // namespace

class TestCoreWatcher : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    QString FUrl, FWc;
    QByteArray FHome;
    QString At(const QString& Rel) const { return FTmp.path() + u'/' + Rel; }
    QString Wc(const char* Name) const { return FWc + u'/' + QLatin1String(Name); }
    QStringList Copies() const { return {Wc("alpha"), Wc("beta"), Wc("gamma"), Wc("delta")}; }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid());
        // A home of its own, whose svn settings the test may change; the client makes them
        // once here, so that its first run later is no change of settings.
        FHome = qgetenv("HOME");
        QDir().mkpath(At("home"));
        qputenv("HOME", QFile::encodeName(At("home")));
        Svn({"--version", "--quiet"});
        QVERIFY(QFileInfo::exists(At("home/.subversion/config")));
        MakeFourCopies(FTmp.path(), FUrl, FWc);
    }
    void cleanupTestCase() { qputenv("HOME", FHome); }

    void changesAreToldPerCopy() {
        TkivWatcher W;
        W.SetQuietTime(50);
        QSignalSpy Spy(&W, &TkivWatcher::Changed);
        W.SetCopies(Copies());
        QVERIFY(WaitSettled(W));
        QVERIFY(W.NotWatchable().isEmpty());
        const quint64 Alpha = W.Generation(Wc("alpha")), Beta = W.Generation(Wc("beta"));
        QVERIFY(Alpha != 0 && Beta != 0 && Alpha != Beta);
        QVERIFY(W.UnchangedSince(Wc("alpha"), Alpha));
        QCOMPARE(W.Generation(At("nirgends")), quint64(0));

        // A change counts as soon as it is on disk, before any event loop has run.
        WriteFile(Wc("alpha") + "/sub/inner.txt", "anders\n");
        QVERIFY(!W.UnchangedSince(Wc("alpha"), Alpha));
        QVERIFY(W.UnchangedSince(Wc("beta"), Beta));
        std::set<QString> Seen = WaitChanged(Spy, {Wc("alpha")});
        QCOMPARE(Seen, std::set<QString>{Wc("alpha")});

        // A new folder is watched as it comes, and so is what is made in it afterwards.
        QDir().mkpath(Wc("beta") + "/neu/tiefer");
        WaitChanged(Spy, {Wc("beta")});
        QVERIFY(WaitSettled(W));
        const quint64 AfterMkdir = W.Generation(Wc("beta"));
        QVERIFY(W.UnchangedSince(Wc("beta"), AfterMkdir));
        WriteFile(Wc("beta") + "/neu/tiefer/datei.txt", "x\n");
        QVERIFY(!W.UnchangedSince(Wc("beta"), AfterMkdir));
        QCOMPARE(WaitChanged(Spy, {Wc("beta")}), std::set<QString>{Wc("beta")});

        // A deleted file, and a folder moved away and back under another name.
        const quint64 Gamma = W.Generation(Wc("gamma"));
        QVERIFY(QFile::remove(Wc("gamma") + "/neu.txt"));
        QVERIFY(!W.UnchangedSince(Wc("gamma"), Gamma));
        QVERIFY(QDir().rename(Wc("gamma") + "/sub", At("sub-weg")));
        QVERIFY(QDir().rename(At("sub-weg"), Wc("gamma") + "/sub2"));
        WaitChanged(Spy, {Wc("gamma")});
        QVERIFY(WaitSettled(W));
        const quint64 Moved = W.Generation(Wc("gamma"));
        WriteFile(Wc("gamma") + "/sub2/inner.txt", "y\n");
        QVERIFY(!W.UnchangedSince(Wc("gamma"), Moved));
        QVERIFY(QDir().rename(Wc("gamma") + "/sub2", Wc("gamma") + "/sub"));
        WaitChanged(Spy, {Wc("gamma")});
        QVERIFY(WaitSettled(W));

        // The moved-away name is no longer watched as a part of gamma.
        const quint64 Again = W.Generation(Wc("gamma"));
        WriteFile(At("sub-weg-neu.txt"), "z\n");
        QVERIFY(W.UnchangedSince(Wc("gamma"), Again));
        Svn({"revert", "-q", "-R", Wc("gamma")});
        QVERIFY(!W.UnchangedSince(Wc("gamma"), Again));
    }

    void outsideSvnCommands() {
        TkivWatcher W;
        W.SetQuietTime(50);
        QSignalSpy Spy(&W, &TkivWatcher::Changed);
        W.SetCopies(Copies());
        QVERIFY(WaitSettled(W));
        // Reading a copy changes nothing: a status run must not count as a change of its own.
        const quint64 Alpha = W.Generation(Wc("alpha"));
        RunIn(Wc("alpha"), {"status"});
        RunIn(Wc("alpha"), {"info"});
        QVERIFY(W.UnchangedSince(Wc("alpha"), Alpha));

        // What svn does inside ".svn" (wc.db) is a change; its store below is not watched.
        const quint64 Delta = W.Generation(Wc("delta"));
        WriteFile(Wc("delta") + "/.svn/tmp/scratch", "t\n");
        QVERIFY(W.UnchangedSince(Wc("delta"), Delta));
        Svn({"update", "-q", Wc("delta")});
        QVERIFY(!W.UnchangedSince(Wc("delta"), Delta));
        const quint64 Beta = W.Generation(Wc("beta"));
        Svn({"revert", "-q", Wc("beta") + "/datei.txt"});
        QVERIFY(!W.UnchangedSince(Wc("beta"), Beta));
        // A property set only changes wc.db.
        const quint64 Alpha2 = W.Generation(Wc("alpha"));
        Svn({"propset", "-q", "farbe", "blau", Wc("alpha")});
        QVERIFY(!W.UnchangedSince(Wc("alpha"), Alpha2));
        const std::set<QString> Seen = WaitChanged(Spy, {Wc("delta"), Wc("beta"), Wc("alpha")});
        QCOMPARE(Seen, (std::set<QString>{Wc("alpha"), Wc("beta"), Wc("delta")}));
        Svn({"revert", "-q", Wc("alpha")});
    }

    void copyGoesAndComes() {
        Svn({"checkout", "-q", FUrl + "/alpha", At("kommt/und/geht")});
        const QString Copy = At("kommt/und/geht");
        const QString Later = At("spaeter/tief/kopie");
        TkivWatcher W;
        W.SetQuietTime(50);
        QSignalSpy Spy(&W, &TkivWatcher::Changed);
        W.SetCopies({Copy, Later});
        QVERIFY(WaitSettled(W));
        // A copy whose folder does not exist is watched for its coming.
        const quint64 Missing = W.Generation(Later);
        QVERIFY(W.UnchangedSince(Later, Missing));
        Svn({"checkout", "-q", FUrl + "/beta", Later});
        QVERIFY(!W.UnchangedSince(Later, Missing));
        WaitChanged(Spy, {Later});
        QVERIFY(WaitSettled(W));
        const quint64 Came = W.Generation(Later);
        QVERIFY(W.UnchangedSince(Later, Came));
        WriteFile(Later + "/sub/inner.txt", "neu\n");
        QVERIFY(!W.UnchangedSince(Later, Came));

        // Removed: told, and from then on watched for its return.
        const quint64 Before = W.Generation(Copy);
        QVERIFY(QDir(At("kommt")).removeRecursively());
        QCOMPARE(WaitChanged(Spy, {Copy}).count(Copy), size_t(1));
        QVERIFY(!W.UnchangedSince(Copy, Before));
        QVERIFY(WaitSettled(W));
        const quint64 Gone = W.Generation(Copy);
        QVERIFY(W.UnchangedSince(Copy, Gone));
        Svn({"checkout", "-q", FUrl + "/alpha", Copy});
        QVERIFY(!W.UnchangedSince(Copy, Gone));
        WaitChanged(Spy, {Copy});

        // A copy no longer given is dropped: nothing about it is told or known.
        W.SetCopies({Later});
        QVERIFY(WaitSettled(W));
        QCOMPARE(W.Generation(Copy), quint64(0));
        Spy.clear();
        WriteFile(Copy + "/datei.txt", "still\n");
        WriteFile(Later + "/datei.txt", "laut\n");
        QCOMPARE(WaitChanged(Spy, {Later}), std::set<QString>{Later});
    }

    void settingsChangeEveryCopy() {
        TkivWatcher W;
        W.SetQuietTime(50);
        QSignalSpy Spy(&W, &TkivWatcher::Changed);
        W.SetCopies(Copies());
        QVERIFY(WaitSettled(W));
        const quint64 Gamma = W.Generation(Wc("gamma"));
        // global-ignores decides what status prints for every copy.
        QFile Config(At("home/.subversion/config"));
        QVERIFY(Config.open(QIODevice::Append));
        Config.write("[miscellany]\nglobal-ignores = *.txt\n");
        Config.close();
        QVERIFY(!W.UnchangedSince(Wc("gamma"), Gamma));
        QCOMPARE(WaitChanged(Spy, Copies()).size(), size_t(4));
        // Files beside it (the login store) are no change of settings.
        const quint64 Now = W.Generation(Wc("gamma"));
        WriteFile(At("home/.subversion/README.txt"), "x\n");
        QVERIFY(W.UnchangedSince(Wc("gamma"), Now));
    }

    void lostQueueMarksEverything() {
        // Only a queue smaller than a burst of changes overflows; the size is taken when the
        // watcher starts, so it is set small just for that moment.
        QFile Limit(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
        if (geteuid() != 0 || !Limit.open(QIODevice::ReadWrite))
            QSKIP("needs root to make the event queue small");
        const QByteArray Old = Limit.readAll().trimmed();
        Limit.seek(0);
        Limit.write("4\n");
        Limit.flush();
        TkivWatcher W;
        // Give the watcher's thread the moment to begin, then the old size back at once.
        QTest::qWait(50);
        Limit.seek(0);
        Limit.write(Old + "\n");
        Limit.close();
        W.SetQuietTime(50);
        QSignalSpy Spy(&W, &TkivWatcher::Changed);
        W.SetCopies(Copies());
        QVERIFY(WaitSettled(W));
        const quint64 Delta = W.Generation(Wc("delta"));
        for (int I = 0; I < 500; ++I)
            WriteFile(Wc("alpha") + QStringLiteral("/flut%1.txt").arg(I), "f\n");
        // Delta was not touched: only the lost queue can name it.
        const std::set<QString> Seen = WaitChanged(Spy, Copies());
        QVERIFY2(Seen.size() == 4, qPrintable(QStringList(Seen.begin(), Seen.end()).join(' ')));
        QVERIFY(!W.UnchangedSince(Wc("delta"), Delta));
        QVERIFY(WaitSettled(W));
        // Watched again afterwards, on a queue of the normal size.
        const quint64 After = W.Generation(Wc("delta"));
        QVERIFY(W.UnchangedSince(Wc("delta"), After));
        WriteFile(Wc("delta") + "/sub/inner.txt", "neu\n");
        QVERIFY(!W.UnchangedSince(Wc("delta"), After));
        for (int I = 0; I < 500; ++I)
            QFile::remove(Wc("alpha") + QStringLiteral("/flut%1.txt").arg(I));
    }

    void watchLimitReached() {
        // In a user namespace of its own the limit can be made small without touching
        // anybody else's watches: the test runs itself there.
        if (qEnvironmentVariableIsSet("KIV_WATCH_LIMIT_CHILD")) {
            TkivWatcher W;
            QSignalSpy Problems(&W, &TkivWatcher::Problem);
            QSignalSpy Unwatchable(&W, &TkivWatcher::NotWatchableChanged);
            W.SetCopies(Copies());
            QVERIFY(WaitSettled(W));
            QVERIFY(!W.NotWatchable().isEmpty());
            QVERIFY(W.NotWatchable().size() < 4); // the first ones fit
            for (const QString& C : W.NotWatchable())
                QVERIFY(!W.UnchangedSince(C, W.Generation(C)));
            QTRY_COMPARE(Problems.size(), 1); // said once, though several copies fail
            QVERIFY(Problems.first().first().toString().contains("max_user_watches"));
            QTRY_VERIFY(!Unwatchable.isEmpty());
            QCOMPARE(Unwatchable.last().first().toStringList(), W.NotWatchable());
            return;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
            QSKIP("unshare is not installed");
        // Each copy takes three watches (its folder, sub, .svn); the settings two more.
        QProcess P;
        P.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        Env.insert(QStringLiteral("KIV_WATCH_LIMIT_CHILD"), QStringLiteral("1"));
        P.setProcessEnvironment(Env);
        P.start(QStringLiteral("unshare"),
                {QStringLiteral("-U"), QStringLiteral("-r"), QStringLiteral("sh"),
                 QStringLiteral("-c"),
                 QStringLiteral("echo 8 > /proc/sys/user/max_inotify_watches || exit 77; "
                                "exec \"$0\" watchLimitReached"),
                 QCoreApplication::applicationFilePath()});
        QVERIFY(P.waitForFinished(60000));
        const QString Out = QString::fromLocal8Bit(P.readAll());
        if (P.exitCode() == 77 || Out.contains(QLatin1String("unshare failed")))
            QSKIP("no user namespace with a limit of its own here");
        QVERIFY2(P.exitCode() == 0, qPrintable(Out));
    }

    void networkFileSystemIsNotWatched() {
        // A FUSE mount stands for the file systems whose changes can come from elsewhere.
        if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("bindfs")).isEmpty())
            QSKIP("needs root and bindfs for a FUSE mount");
        const QString Mount = At("Laufwerk ä");
        QDir().mkpath(Mount);
        QProcess M;
        M.start(QStringLiteral("bindfs"), {FWc, Mount});
        if (!M.waitForFinished(10000) || M.exitCode() != 0)
            QSKIP(qPrintable("cannot mount: " + QString::fromLocal8Bit(M.readAllStandardError())));
        struct Unmount {
            QString Path;
            ~Unmount() { QProcess::execute(QStringLiteral("fusermount"), {"-u", Path}); }
        } Guard{Mount};
        TkivWatcher W;
        QSignalSpy Problems(&W, &TkivWatcher::Problem);
        W.SetCopies({Mount + "/alpha", Mount + "/beta", Wc("gamma")});
        QVERIFY(WaitSettled(W));
        QCOMPARE(W.NotWatchable(), (QStringList{Mount + "/alpha", Mount + "/beta"}));
        QVERIFY(!W.UnchangedSince(Mount + "/alpha", W.Generation(Mount + "/alpha")));
        QVERIFY(W.UnchangedSince(Wc("gamma"), W.Generation(Wc("gamma"))));
        QTRY_COMPARE(Problems.size(), 1);
        const QString Said = Problems.first().first().toString();
        QVERIFY2(Said.contains("Laufwerk ä/") && Said.contains("Netzlaufwerk (FUSE)"),
                 qPrintable(Said));
    }
};

QTEST_GUILESS_MAIN(TestCoreWatcher)
#include "tst_core_watcher.moc"
