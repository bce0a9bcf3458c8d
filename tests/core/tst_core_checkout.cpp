// Checking out what is missing, through the engine, against real repositories: every missing
// copy comes back from its URL, nothing that is not the project's copy is touched, a cancel
// leaves a copy that says so and that the next run finishes; and the URL of each copy as the
// runs learn it.
#include "kiv_test_svn.h"

#include "kiv_folders.h"
#include "svn_engine.h"
#include "svn_store.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kivtest;

namespace {

TSvnProject Project(const QString& Folder, const QString& Url) {
    return {QFileInfo(Folder).fileName(), Folder, ProjectFolder(Folder, "/"), QString(), 0, Url};
}

std::vector<TSvnOutcome> Run(std::vector<TSvnProject> Projects, TSvnTask Task,
                             TStateStore* Store = nullptr,
                             const std::function<void(TSvnRun&)>& During = nullptr) {
    TSvnRunOptions O;
    O.Jobs = 4;
    O.TimeoutSeconds = 60;
    O.Store = Store;
    TSvnRun R(std::move(Projects), Task, O);
    std::vector<TSvnOutcome> Out;
    QObject::connect(&R, &TSvnRun::ProjectDone,
                     [&](int, const TSvnOutcome& X) { Out.push_back(X); });
    QSignalSpy Done(&R, &TSvnRun::Finished);
    R.Start();
    if (During)
        During(R);
    if (!Done.wait(120000))
        qWarning("run did not finish");
    return Out;
}

QString Said(const TSvnOutcome& O) {
    return StateKey(O.State) + ": " + O.Lines.join(" | ") + " // " + O.Notes.join(" | ");
}

// The copy's own files (not those kept in ".svn").
int FilesBelow(const QString& Folder) {
    int N = 0;
    for (QDirIterator It(Folder, {"*.txt"}, QDir::Files, QDirIterator::Subdirectories);
         It.hasNext(); It.next())
        ++N;
    return N;
}

} // namespace

class TestCoreCheckout : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    QString FUrl;

    QString At(const QString& Rel) const { return FTmp.path() + u'/' + Rel; }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid());
        qputenv("LC_ALL", "C.UTF-8");
        Svn({"create", At("repo")}, QString(), QStringLiteral("svnadmin"));
        FUrl = "file://" + At("repo");
        for (const char* P : {"eins", "zwei", "fremd"})
            WriteFile(At("imp/") + P + "/datei.txt", "eins\n");
        // Enough files that a checkout can be caught in the middle.
        for (int d = 0; d < 40; ++d)
            for (int f = 0; f < 60; ++f)
                WriteFile(At("imp/gross/d%1/f%2.txt").arg(d).arg(f), "x\n");
        Svn({"import", "-q", "-m", "init", At("imp"), FUrl});
    }

    // Missing folders (also below folders that are gone, with umlauts and blanks, or empty)
    // come back from their URL; what is there and not the project's copy stays as it was; a
    // copy that is complete is looked at, not updated.
    void missingCopiesComeBackAndNothingElseIsTouched() {
        Svn({"checkout", "-q", FUrl + "/zwei", At("da")});
        Svn({"checkout", "-q", FUrl + "/fremd", At("fremd")});
        WriteFile(At("kein/notiz.txt"), "meins\n");
        QDir().mkpath(At("leer"));
        // The repository moves on: the complete copy must stay at its revision.
        Svn({"checkout", "-q", FUrl + "/zwei", At("anders")});
        WriteFile(At("anders/datei.txt"), "zwei\n");
        Svn({"commit", "-q", "-m", "zwei", At("anders")});
        const std::vector<TSvnProject> Projects = {
            Project(At("neu/Grüne Äpfel/eins"), FUrl + "/eins"),
            Project(At("da"), FUrl + "/zwei/"), // the same URL, written otherwise
            Project(At("fremd"), FUrl + "/eins"),
            Project(At("kein"), FUrl + "/eins"),
            Project(At("leer"), FUrl + "/zwei"),
            Project(At("ohne"), QString()),
            Project(At("nirgends"), FUrl + "/gibt-es-nicht"),
        };
        const std::vector<TSvnOutcome> Out = Run(Projects, TSvnTask::Checkout);
        QCOMPARE(int(Out.size()), int(Projects.size()));
        QCOMPARE(Out[0].State, TSvnState::CheckedOut);
        QCOMPARE(Out[0].Verdict.Url, FUrl + "/eins");
        QVERIFY2(Out[0].Lines.contains("A    neu/Grüne Äpfel/eins/datei.txt"),
                 qPrintable(Said(Out[0])));
        QVERIFY(RunIn(At("neu/Grüne Äpfel/eins"), {"status"}).isEmpty());
        QCOMPARE(Out[1].State, TSvnState::Clean);
        QVERIFY(RunIn(At("da"), {"info", "--show-item", "revision"}).value(0).trimmed() == "1");
        QCOMPARE(Out[2].State, TSvnState::OtherUrl);
        QVERIFY2(Out[2].Notes.join(' ').contains("bleibt unberührt"), qPrintable(Said(Out[2])));
        QVERIFY(Out[2].Verdict.Url.isEmpty());
        QCOMPARE(RunIn(At("fremd"), {"info", "--show-item", "url"}).value(0).trimmed(),
                 FUrl + "/fremd");
        QCOMPARE(Out[3].State, TSvnState::NotWorkingCopy);
        QVERIFY(!QFileInfo::exists(At("kein/.svn")));
        QCOMPARE(ReadFile(At("kein/notiz.txt")), QByteArray("meins\n"));
        QCOMPARE(Out[4].State, TSvnState::CheckedOut);
        QCOMPARE(Out[5].State, TSvnState::Missing);
        QVERIFY(Out[5].Notes.join(' ').contains("URL des Projekts ist nicht bekannt"));
        QCOMPARE(Out[6].State, TSvnState::Error);
        QVERIFY2(Out[6].Lines.join(' ').contains("E170000"), qPrintable(Said(Out[6])));
        QVERIFY(!QFileInfo::exists(At("nirgends")));

        // The summary counts what came back.
        TRunTally T;
        for (const TSvnOutcome& O : Out)
            T.Add(O.State, O.Verdict.HasChanges, O.Verdict.IsBehind, O.RevisionChanged);
        QVERIFY2(TallyText(T).startsWith("7 Projekte: 2 ausgecheckt, "), qPrintable(TallyText(T)));
    }

    // A cancel in the middle of a checkout: the copy is reported as broken off (not locked,
    // not silently half there), and running the checkout again finishes it where it stopped.
    void brokenOffCheckoutIsSaidAndResumed() {
        const QString Folder = At("halb");
        const std::vector<TSvnProject> P = {Project(Folder, FUrl + "/gross")};
        const std::vector<TSvnOutcome> Out = Run(P, TSvnTask::Checkout, nullptr, [&](TSvnRun& R) {
            QTRY_VERIFY_WITH_TIMEOUT(QDir(Folder).count() > 6, 30000);
            R.Cancel();
        });
        QCOMPARE(int(Out.size()), 1);
        QVERIFY2(Out[0].State == TSvnState::Incomplete, qPrintable(Said(Out[0])));
        const QString Notes = Out[0].Notes.join(' ');
        QVERIFY2(Notes.contains("Abgebrochen, während svn diese Arbeitskopie auscheckte."),
                 qPrintable(Notes));
        QVERIFY2(Notes.contains("Erneut »Fehlende Arbeitskopien auschecken« wählen"),
                 qPrintable(Notes));
        QVERIFY(FilesBelow(Folder) < 2400);
        for (const QString& L : RunIn(Folder, {"status"}))
            QVERIFY2(L.size() < 3 || L.at(2) != u'L', qPrintable(L)); // no lock left

        const std::vector<TSvnOutcome> Again = Run(P, TSvnTask::Checkout);
        QCOMPARE(Again[0].State, TSvnState::CheckedOut);
        QVERIFY(RunIn(Folder, {"status"}).isEmpty());
        QCOMPARE(FilesBelow(Folder), 2400);
    }

    // The URL comes with every kind of run: an update's info before it, a status that asks
    // where nothing is known or the copy changed since (a relocation), and not again where
    // the registry and the store agree and the copy is as it was.
    void runsLearnTheUrl() {
        Svn({"checkout", "-q", FUrl + "/eins", At("lernen")});
        TStateStore Store;
        TSvnProject P = Project(At("lernen"), QString());
        std::vector<TSvnOutcome> Out = Run({P}, TSvnTask::Status, &Store);
        QCOMPARE(Out[0].Verdict.Url, FUrl + "/eins");
        QCOMPARE(Store.Find(P.Folder)->Url, FUrl + "/eins");
        P.Url = FUrl + "/eins";
        QTest::qWait(1100); // the copy's database must be older than what the store found
        Out = Run({P}, TSvnTask::Status, &Store);
        QVERIFY2(Out[0].Verdict.Url.isEmpty(), qPrintable(Out[0].Verdict.Url));
        Out = Run({P}, TSvnTask::Update, &Store);
        QCOMPARE(Out[0].Verdict.Url, FUrl + "/eins");
        // The same repository under another name: a relocation rewrites the copy's database.
        QVERIFY(QFile::link(At("repo"), At("umgezogen")));
        const QString Moved = "file://" + At("umgezogen") + "/eins";
        Svn({"relocate", FUrl + "/eins", Moved}, At("lernen"));
        Out = Run({P}, TSvnTask::Status, &Store);
        QCOMPARE(Out[0].Verdict.Url, Moved);
        QCOMPARE(Store.Find(P.Folder)->Url, Moved);
    }

    // A URL's info asks the server alone: no folder is involved.
    void urlInfoAsksTheServer() {
        const std::vector<TSvnOutcome> Out =
            Run({Project(QString(), FUrl + "/eins"), Project(QString(), FUrl + "/nix"),
                 Project(QString(), "svn://127.0.0.1:1/x")},
                TSvnTask::UrlInfo);
        QCOMPARE(int(Out.size()), 3);
        QCOMPARE(Out[0].State, TSvnState::Info);
        QCOMPARE(Out[0].Verdict.Url, FUrl + "/eins");
        QCOMPARE(Out[1].State, TSvnState::Error);
        QCOMPARE(Out[2].State, TSvnState::Error);
        // Its block in the output is headed by the URL.
        QCOMPARE(ProjectHead(Project(QString(), FUrl + "/eins")), "--> " + FUrl + "/eins");
    }
};

QTEST_GUILESS_MAIN(TestCoreCheckout)
#include "tst_core_checkout.moc"
