// The task engine and the reading of the client's output, against real working copies made
// with svnadmin and file:// checkouts: every batched run must give each project exactly the
// lines its own run in its folder prints.
#include "kiv_test_svn.h"

#include "kiv_XmlObjects.h"
#include "kiv_folders.h"
#include "kiv_registry.h"
#include "svn_engine.h"
#include "svn_output.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <unistd.h>

using namespace kivtest;

namespace {

struct TRunResult {
    std::vector<std::pair<int, TSvnOutcome>> Delivered;
    bool Cancelled = false;
};

TRunResult RunEngine(const QStringList& Folders, TSvnTask Task, int Jobs, bool ShowUpdates = false,
                     const QString& Program = QStringLiteral("svn")) {
    std::vector<TSvnProject> Projects;
    for (const QString& F : Folders)
        Projects.push_back({QFileInfo(F).fileName(), F, ProjectFolder(F, QStringLiteral("/")),
                            QString(), 0});
    TSvnRunOptions Options;
    Options.Jobs = Jobs;
    Options.Program = Program;
    Options.TimeoutSeconds = 60;
    if (ShowUpdates)
        Task = TSvnTask::StatusRemote;
    TSvnRun Run(std::move(Projects), Task, Options);
    TRunResult R;
    QObject::connect(&Run, &TSvnRun::ProjectDone,
                     [&](int I, const TSvnOutcome& O) { R.Delivered.emplace_back(I, O); });
    QSignalSpy Done(&Run, &TSvnRun::Finished);
    Run.Start();
    if (!Done.wait(120000))
        qWarning("run did not finish");
    R.Cancelled = !Done.isEmpty() && Done.first().first().toBool();
    return R;
}

// With -u the client reports the items the server knows of in an order of its own (it differs
// from one run in the same folder to the next), so there the lines count, not their order.
bool Same(QStringList A, QStringList B, bool AnyOrder) {
    if (AnyOrder) {
        A.sort();
        B.sort();
    }
    return A == B;
}

} // namespace

class TestCoreEngine : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    QString FUrl;

    QString At(const QString& Rel) const { return FTmp.path() + u'/' + Rel; }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid());
        qputenv("LC_ALL", "C");
        Svn({"create", At("repo")}, QString(), QStringLiteral("svnadmin"));
        FUrl = "file://" + At("repo");
        for (const char* P : {"alpha", "beta", "lib"}) {
            WriteFile(At("imp/") + P + "/datei.txt", "eins\n");
            WriteFile(At("imp/") + P + "/sub/inner.txt", "innen\n");
        }
        Svn({"import", "-q", "-m", "init", At("imp"), FUrl});
    }

    // The filter, the short display and the project's block, on the lines the client prints.
    void outputRules() {
        const QStringList Update = {"Updating '.':", "At revision 1234."};
        QCOMPARE(FilterOutput(Update), QStringList{"At revision 1234."});
        // Only the first whole-line match goes, in any case.
        QCOMPARE(FilterOutput({"x", "UPDATING '.':", "updating '.':"}),
                 QStringList({"x", "updating '.':"}));
        QCOMPARE(FilterOutput({"Updating '.': "}), QStringList{"Updating '.': "});
        QVERIFY(LeftOutInShort({}));
        QVERIFY(LeftOutInShort(FilterOutput(Update)));
        QVERIFY(LeftOutInShort({"Revision 1234."}));
        QVERIFY(!LeftOutInShort({"Updated to revision 1235."}));
        QVERIFY(!LeftOutInShort({"At revision 1.", "At revision 1."}));
        QVERIFY(!LeftOutInShort({" At revision 1."}));
        QVERIFY(LeftOutInShort({"Status against revision:      8"}));
        QVERIFY(!LeftOutInShort({"        *        6   datei.txt", "Status against revision:      8"}));

        const TSvnProject P{"p", "/work/proj/", "/work/proj", "g/p", 0};
        TSvnOutcome Unchanged;
        Unchanged.Lines = Update;
        QCOMPARE(ProjectBlock(P, Unchanged, false),
                 QStringList({"--> /work/proj", "At revision 1234."}));
        QVERIFY(ProjectBlock(P, Unchanged, true).isEmpty());
        TSvnOutcome Changed;
        Changed.Lines = {"Updating '.':", "U    datei.txt", "Updated to revision 1235."};
        const QStringList Shown = {"--> /work/proj", "U    datei.txt", "Updated to revision 1235."};
        QCOMPARE(ProjectBlock(P, Changed, true), Shown);
        QCOMPARE(ProjectBlock(P, Changed, false), Shown);
        TSvnOutcome Clean;
        QVERIFY(ProjectBlock(P, Clean, true).isEmpty());
        QCOMPARE(ProjectBlock(P, Clean, false), QStringList{"--> /work/proj"});
        // A failed project shows in the short display too, with the program's own line.
        TSvnOutcome Failed;
        Failed.State = TSvnState::Missing;
        Failed.Notes = {"Verzeichnis nicht gefunden"};
        for (bool Short : {false, true})
            QCOMPARE(ProjectBlock(P, Failed, Short),
                     QStringList({"--> /work/proj", "Verzeichnis nicht gefunden"}));
        TSvnOutcome NotRun;
        NotRun.State = TSvnState::NotRun;
        QVERIFY(ProjectBlock(P, NotRun, false).isEmpty());

        // The URL: the first line that begins with "URL:", trimmed; nothing else counts.
        QCOMPARE(ExtractSvnUrl({"Path: .", "URL:   file:///r/a \t", "URL: file:///second"}),
                 QStringLiteral("file:///r/a"));
        QCOMPARE(ExtractSvnUrl({" URL: file:///not-at-start", "url: file:///lower",
                                "Some URL: file:///inside"}),
                 QString());
    }

    // The state of a project from the client's lines and exit code, never from whether it
    // printed anything.
    void stateFromTheClientsReport_data() {
        QTest::addColumn<int>("Task");
        QTest::addColumn<QStringList>("Lines");
        QTest::addColumn<int>("ExitCode");
        QTest::addColumn<int>("State");
        const int S = int(TSvnTask::Status), U = int(TSvnTask::Update), I = int(TSvnTask::Info);
        QTest::newRow("status clean") << S << QStringList{} << 0 << int(TSvnState::Clean);
        QTest::newRow("status modified")
            << S << QStringList{"M       datei.txt"} << 0 << int(TSvnState::Changes);
        QTest::newRow("status unversioned")
            << S << QStringList{"?       neu.txt"} << 0 << int(TSvnState::Changes);
        QTest::newRow("status external only")
            << S << QStringList{"X       ext", "", "Performing status on external item at 'ext':"}
            << 0 << int(TSvnState::Clean);
        QTest::newRow("status conflict")
            << S << QStringList{"C       datei.txt", "Summary of conflicts:", "  Text conflicts: 1"}
            << 0 << int(TSvnState::Conflict);
        QTest::newRow("status tree conflict")
            << S << QStringList{"A  +  C sub", "      >   local edit, incoming delete"} << 0
            << int(TSvnState::Conflict);
        QTest::newRow("status not a working copy")
            << S << QStringList{"svn: warning: W155007: '/tmp' is not a working copy"} << 0
            << int(TSvnState::NotWorkingCopy);
        QTest::newRow("status -u behind")
            << S << QStringList{"        *        1   datei.txt", "Status against revision:      2"}
            << 0 << int(TSvnState::OutOfDate);
        QTest::newRow("status -u current")
            << S << QStringList{"Status against revision:      2"} << 0 << int(TSvnState::Clean);
        QTest::newRow("status -u changed, not behind")
            << S << QStringList{"M                2   datei.txt", "Status against revision:      2"}
            << 0 << int(TSvnState::Changes);
        QTest::newRow("status failed")
            << S << QStringList{"svn: E170013: Unable to connect to a repository"} << 1
            << int(TSvnState::Error);
        QTest::newRow("update current")
            << U << QStringList{"Updating '.':", "At revision 2."} << 0 << int(TSvnState::Current);
        QTest::newRow("update updated")
            << U << QStringList{"Updating '.':", "U    datei.txt", " U   .", "Updated to revision 2."}
            << 0 << int(TSvnState::Updated);
        QTest::newRow("update conflict")
            << U
            << QStringList{"Updating '.':", "C    datei.txt", "Updated to revision 2.",
                           "Summary of conflicts:", "  Text conflicts: 1"}
            << 0 << int(TSvnState::Conflict);
        QTest::newRow("update locked")
            << U << QStringList{"svn: E155004: Run 'svn cleanup' to remove locks"} << 1
            << int(TSvnState::Locked);
        QTest::newRow("update not a working copy")
            << U
            << QStringList{"Skipped '.'", "svn: E155007: None of the targets are working copies"}
            << 1 << int(TSvnState::NotWorkingCopy);
        QTest::newRow("info") << I << QStringList{"Path: .", "URL: file:///r/a"} << 0
                              << int(TSvnState::Info);
        QTest::newRow("info not a working copy")
            << I << QStringList{"svn: E155007: '/tmp' is not a working copy"} << 1
            << int(TSvnState::NotWorkingCopy);
    }
    void stateFromTheClientsReport() {
        QFETCH(int, Task);
        QFETCH(QStringList, Lines);
        QFETCH(int, ExitCode);
        QFETCH(int, State);
        const TSvnVerdict V = DecideState(TSvnTask(Task), Lines, ExitCode);
        QCOMPARE(int(V.State), State);
        if (QByteArray(QTest::currentDataTag()) == "update updated")
            QCOMPARE(V.Files, 2);
        if (QByteArray(QTest::currentDataTag()) == "info")
            QCOMPARE(V.Url, QStringLiteral("file:///r/a"));
    }

    void registrySettings() {
        TkivPlainXmlElement Root;
        QVERIFY(JobCount(&Root) >= 2);
        QVERIFY(JobCount(nullptr) >= 2);
        Root.SetAttribute("Jobs", "3");
        QCOMPARE(JobCount(&Root), 3);
        Root.SetAttribute("Jobs", "null");
        QVERIFY(JobCount(&Root) >= 2);
        Root.SetAttribute("Jobs", "0");
        QVERIFY(JobCount(&Root) >= 1);
        QCOMPARE(TimeoutSeconds(&Root), DefaultTimeoutSeconds);
        Root.SetAttribute("Zeitlimit", "7");
        QCOMPARE(TimeoutSeconds(&Root), 7);
        Root.SetAttribute("Zeitlimit", "-1");
        QCOMPARE(TimeoutSeconds(&Root), DefaultTimeoutSeconds);
    }

    // What a stored "Verzeichnis" names, the same for every part of the program.
    void folderRule() {
        QCOMPARE(ProjectFolder(" /w/p/ ", "/x"), QStringLiteral("/w/p"));
        QCOMPARE(ProjectFolder("\t/w//p/./q/..\n", "/x"), QStringLiteral("/w/p"));
        QCOMPARE(ProjectFolder("p/q/", "/x/y"), QStringLiteral("/x/y/p/q"));
        QCOMPARE(ProjectFolder("../p", "/x/y"), QStringLiteral("/x/p"));
        QCOMPARE(ProjectFolder("/", "/x"), QStringLiteral("/"));
        QCOMPARE(ProjectFolder("   ", "/x"), QString());
        QCOMPARE(RegisteredKey(" /w/p ", "/x"), QStringLiteral("/w/p/"));
        QCOMPARE(RegisteredKey("p", "/x"), QStringLiteral("/x/p/"));
        QCOMPARE(RegisteredKey("/", "/x"), QStringLiteral("/"));
        // Relative values always mean the home folder, never the current directory.
        QDir::setCurrent(QDir::tempPath());
        QCOMPARE(ProjectFolder("src/wc"), QDir::homePath() + "/src/wc");
        {
            // A folder whose name ends in a blank, beside one without: each is itself.
            QTemporaryDir Dir;
            QVERIFY(QDir().mkpath(Dir.path() + "/wc ") && QDir().mkpath(Dir.path() + "/wc"));
            QCOMPARE(ProjectFolder(Dir.path() + "/wc ", "/"), Dir.path() + "/wc ");
            QCOMPARE(ProjectFolder(Dir.path() + "/wc", "/"), Dir.path() + "/wc");
            QCOMPARE(ProjectFolder(" " + Dir.path() + "/wc\t", "/"), Dir.path() + "/wc");
            // Not there as written: the blanks go.
            QCOMPARE(ProjectFolder(Dir.path() + "/wc2 ", "/"), Dir.path() + "/wc2");
        }

        auto Overlap = [](const QString& A, const QString& B) {
            return PathsOverlap(ProjectFolder(A, "/"), ProjectFolder(B, "/"));
        };
        QVERIFY(Overlap("/home/anna/proj", "/home/anna/proj/"));
        QVERIFY(Overlap("/home/anna/proj//", " /home/anna/proj"));
        QVERIFY(Overlap("/home/anna/proj", "/home/anna/proj/sub"));
        QVERIFY(Overlap("/home/anna/proj/sub/", "/home/anna/proj"));
        QVERIFY(Overlap("/", "/home"));
        QVERIFY(!Overlap("/home/anna/proj", "/home/anna/project"));
        QVERIFY(!Overlap("/home/anna/project", "/home/anna/proj"));
        QVERIFY(!Overlap("/home/anna/Proj", "/home/anna/proj"));
        QVERIFY(!Overlap("", "/home/anna/proj"));

        QCOMPARE(CheckFolder(At("repo")), TFolderState::Ready);
        QCOMPARE(CheckFolder(At("nix")), TFolderState::Missing);
        QCOMPARE(CheckFolder(QString()), TFolderState::Missing);
        WriteFile(At("datei"), "x");
        QCOMPARE(CheckFolder(At("datei")), TFolderState::NotAFolder);
        // A folder that exists but whose path the system cannot take whole.
        QString Long = At("lang");
        QDir().mkpath(Long);
        QVERIFY(QDir::setCurrent(Long));
        const QString Before = QDir::currentPath();
        while (QFile::encodeName(Long).size() < PATH_MAX + 100) {
            const QString Step(200, u'd');
            QVERIFY(QDir().mkdir(Step));
            QVERIFY(::chdir(Step.toLatin1().constData()) == 0);
            Long += u'/' + Step;
        }
        QVERIFY(QDir::setCurrent(FTmp.path()));
        QCOMPARE(CheckFolder(Long), TFolderState::TooLong);
        QVERIFY(FolderProblemText(TFolderState::TooLong, Long).contains(u"zu lang"));
        Q_UNUSED(Before);
        // QDir cannot remove what it cannot name whole; rm walks down relative to each folder.
        QProcess Rm;
        Rm.start("rm", {"-rf", At("lang")});
        QVERIFY(Rm.waitForFinished() && Rm.exitCode() == 0);
    }

    // The split of one "svn status A B C" (plain and with -u) against each folder's own run,
    // for working copies in every state the client can be brought into.
    void batchedStatusEqualsRunsInEachFolder() {
        const QString D = At("status");
        const QStringList Kinds = {"clean", "mod",      "add",    "del",       "miss",
                                   "unv",   "props",    "switch", "lock",      "ext",
                                   "cl",    "conflict", "tree",   "unvfolder", "subwc",
                                   "behind", "notwc"};
        auto In = [&](const QString& K) { return D + "/" + K; };
        for (const QString& K : Kinds)
            if (K != "notwc")
                Svn({"checkout", "-q", FUrl + "/alpha", In(K)});
        QDir().mkpath(In("notwc"));
        WriteFile(In("mod") + "/datei.txt", "anders\n");
        WriteFile(In("add") + "/dazu.txt", "dazu\n");
        Svn({"add", "-q", "dazu.txt"}, In("add"));
        Svn({"rm", "-q", "datei.txt"}, In("del"));
        QVERIFY(QFile::remove(In("miss") + "/datei.txt"));
        WriteFile(In("unv") + "/fremd.txt", "?\n");
        WriteFile(In("unv") + "/fremd/tief.txt", "?\n");
        Svn({"propset", "-q", "farbe", "rot", "datei.txt", "."}, In("props"));
        Svn({"switch", "-q", "--ignore-ancestry", FUrl + "/beta/sub", "sub"}, In("switch"));
        Svn({"propset", "-q", "svn:externals", "ext " + FUrl + "/lib", "."}, In("ext"));
        Svn({"update", "-q"}, In("ext"));
        WriteFile(In("ext") + "/ext/datei.txt", "extern geändert\n");
        WriteFile(In("cl") + "/datei.txt", "in Liste\n");
        Svn({"changelist", "-q", "liste", "datei.txt"}, In("cl"));
        WriteFile(In("subwc") + "/sub/inner.txt", "geändert\n");
        QDir().mkpath(In("unvfolder") + "/neu");
        // Conflicts: local edits, then incoming changes to the same file and a deleted folder.
        WriteFile(In("conflict") + "/datei.txt", "lokal\n");
        WriteFile(In("tree") + "/sub/inner.txt", "lokal\n");
        Svn({"checkout", "-q", FUrl + "/alpha", D + "/committer"});
        WriteFile(D + "/committer/datei.txt", "fremd\n");
        Svn({"commit", "-q", "-m", "fremd", D + "/committer"});
        Svn({"rm", "-q", "-m", "weg", FUrl + "/alpha/sub"});
        Svn({"update", "-q", "--accept", "postpone"}, In("conflict"));
        Svn({"update", "-q", "--accept", "postpone"}, In("tree"));
        Svn({"update", "-q"}, In("lock"));
        Svn({"lock", "-q", "datei.txt"}, In("lock"));
        // "behind" stays at the first revision: the server knows more.

        QStringList Folders;
        for (const QString& K : Kinds)
            Folders << (K == "subwc" ? In(K) + "/sub" : K == "unvfolder" ? In(K) + "/neu" : In(K));
        for (const bool ShowUpdates : {false, true}) {
            const QStringList Args = ShowUpdates ? QStringList{"status", "-u"} : QStringList{"status"};
            std::vector<QStringList> Expected;
            for (const QString& F : Folders)
                Expected.push_back(RunIn(F, Args));
            // The fixture really is in these states.
            if (!ShowUpdates) {
                QVERIFY(Expected[0].isEmpty());
                QVERIFY(Expected[Kinds.indexOf("tree")].join(u'\n').contains("      >"));
                QVERIFY(Expected[Kinds.indexOf("lock")].value(0).startsWith("     K  "));
                QVERIFY(Expected[Kinds.indexOf("switch")].value(0).startsWith("    S   "));
                QCOMPARE(Expected[Kinds.indexOf("unvfolder")], QStringList{"?       ."});
                QCOMPARE(Expected[Kinds.indexOf("subwc")], QStringList{"M       inner.txt"});
            } else {
                QVERIFY(Expected[Kinds.indexOf("behind")].join(u'\n').contains("        *"));
            }

            // Each state between a clean copy and another, split from one process: either the
            // split leaves a folder to its own run, or its block is what that run prints. The
            // plain states must split, or batching buys nothing.
            const QStringList MustSplit = {"clean", "mod",    "add",  "del",       "miss",
                                           "unv",   "props",  "switch", "lock", "unvfolder",
                                           "subwc", "behind", "notwc", "ext"};
            for (int k = 1; k < Kinds.size(); ++k) {
                const int Last = k == 1 ? 2 : 1;
                const QStringList Batch = {Folders[0], Folders[k], Folders[Last]};
                TSvnCall Call;
                Call.Arguments = Args + Batch;
                Call.Folder = "/";
                const TSvnResult R = TSvnClient().Run(Call);
                const TBatchSplit S =
                    SplitBatch(ShowUpdates ? TSvnTask::StatusRemote : TSvnTask::Status, R.Lines,
                               Batch, "/", R.ExitCode);
                const QString Tag = Kinds[k] + (ShowUpdates ? " -u" : "");
                // With -u an unversioned folder as the target, and one the repository has deleted
                // (it prints no revision line of its own), run alone.
                const bool Alone = ShowUpdates && (Kinds[k] == "unvfolder" || Kinds[k] == "subwc");
                if (MustSplit.contains(Kinds[k]) && !Alone)
                    QVERIFY2(S.Done[1], qPrintable(Tag + ": " + R.Lines.join(" | ")));
                const int Order[3] = {0, k, Last};
                for (int j = 0; j < 3; ++j)
                    if (S.Done[size_t(j)])
                        QVERIFY2(Same(S.Blocks[size_t(j)], Expected[size_t(Order[j])], ShowUpdates),
                                 qPrintable(Tag + ": " + S.Blocks[size_t(j)].join(" | ") +
                                            " != " + Expected[size_t(Order[j])].join(" | ")));
            }

            // The engine over all of them at once, with two workers, and with a project folder
            // given twice and one nested in another: each block as the folder's own run.
            QStringList All = Folders;
            All << Folders[1] << In("mod") + "/sub" << In("fehlt");
            Expected.push_back(Expected[1]);
            Expected.push_back(RunIn(In("mod") + "/sub", Args));
            const TRunResult R = RunEngine(All, TSvnTask::Status, 2, ShowUpdates);
            QVERIFY(!R.Cancelled);
            QCOMPARE(int(R.Delivered.size()), All.size());
            for (int i = 0; i < All.size(); ++i) {
                QCOMPARE(R.Delivered[i].first, i);
                const TSvnOutcome& O = R.Delivered[i].second;
                if (i == All.size() - 1) {
                    QCOMPARE(O.State, TSvnState::Missing);
                    continue;
                }
                QVERIFY2(Same(O.Lines, Expected[i], ShowUpdates),
                         qPrintable(All[i] + ": " + O.Lines.join(" | ") + " != " +
                                    Expected[i].join(" | ")));
                QCOMPARE(O.State, DecideState(TSvnTask::Status, Expected[i], 0).State);
            }
        }
    }

    // One "svn update A B C ..." against each folder's own update, on two identical sets of
    // working copies in every state an update meets: updated, conflicted, already current,
    // locked, missing files, switched, externals, no working copy.
    void batchedUpdateEqualsRunsInEachFolder() {
        if (QStandardPaths::findExecutable("sqlite3").isEmpty())
            QSKIP("sqlite3 is not installed: the locked copy cannot be made");
        const QString D = At("update");
        QVERIFY(QDir().mkpath(D));
        const QString Url = "file://" + D + "/repo";
        Svn({"create", D + "/repo"}, QString(), QStringLiteral("svnadmin"));
        Svn({"import", "-q", "-m", "init", At("imp"), Url});
        const QStringList Kinds = {"current", "updated", "conflict", "locked", "missing",
                                   "switched", "externals", "treeconf", "props", "notwc",
                                   "extfail", "current2"};
        auto In = [&](const QString& Set, const QString& K) { return D + "/" + Set + "/" + K; };
        for (const QString& K : Kinds)
            if (K != "notwc")
                Svn({"checkout", "-q", Url + (K == "extfail" ? "/beta" : "/alpha"), In("a", K)});
        QDir().mkpath(In("a", "notwc"));
        Svn({"propset", "-q", "svn:externals", "ext " + Url + "/lib", "."}, In("a", "externals"));
        Svn({"commit", "-q", "-m", "ext", In("a", "externals")});
        Svn({"switch", "-q", "--ignore-ancestry", Url + "/beta/sub", "sub"}, In("a", "switched"));
        // Externals from a server that is not there: the update goes through, its exit code
        // says it failed.
        Svn({"propset", "-q", "svn:externals", "http://127.0.0.1:9/nichts fehlt", "."},
            In("a", "extfail"));
        Svn({"commit", "-q", "-m", "extfail", In("a", "extfail")});
        Svn({"update", "-q", "-r", "PREV"}, In("a", "extfail"));
        // The repository moves on: a changed file, a property, a changed library.
        Svn({"checkout", "-q", "--ignore-externals", Url, D + "/committer"});
        WriteFile(D + "/committer/alpha/datei.txt", "zwei\n");
        WriteFile(D + "/committer/beta/sub/inner.txt", "zwei\n");
        WriteFile(D + "/committer/lib/datei.txt", "zwei\n");
        Svn({"propset", "-q", "farbe", "rot", D + "/committer/alpha"});
        Svn({"commit", "-q", "-m", "zwei", D + "/committer"});
        Svn({"rm", "-q", "-m", "weg", Url + "/alpha/sub"});
        for (const char* K : {"current", "current2"})
            Svn({"update", "-q"}, In("a", K));
        WriteFile(In("a", "conflict") + "/datei.txt", "lokal\n");
        WriteFile(In("a", "treeconf") + "/sub/inner.txt", "lokal\n");
        QVERIFY(QFile::remove(In("a", "missing") + "/datei.txt"));
        QProcess Lock;
        Lock.start("sqlite3", {In("a", "locked") + "/.svn/wc.db",
                               "insert into wc_lock (wc_id, local_dir_relpath, locked_levels) "
                               "values (1, '', -1)"});
        QVERIFY(Lock.waitForFinished() && Lock.exitCode() == 0);
        QVERIFY(CopyTree(D + "/a", D + "/b"));
        QVERIFY(CopyTree(D + "/a", D + "/c"));

        std::vector<QStringList> Expected;
        std::vector<int> Codes;
        for (const QString& K : Kinds) {
            int Code = 0;
            // Error messages name the copy: the same place in the other set.
            Expected.push_back(RunIn(In("b", K), {"update"}, &Code)
                                   .replaceInStrings(D + "/b/", D + "/a/"));
            Codes.push_back(Code);
        }
        // The fixture really is in these states.
        auto Has = [&](const QString& K, const QString& Text) {
            return Expected[size_t(Kinds.indexOf(K))].join(u'\n').contains(Text);
        };
        QVERIFY(Has("updated", "U    datei.txt"));
        QVERIFY(Has("conflict", "Text conflicts: 1"));
        QVERIFY(Has("locked", "E155004"));
        QVERIFY(Has("missing", "Restored 'datei.txt'"));
        QVERIFY(Has("externals", "Fetching external item into 'ext'"));
        QVERIFY(Has("treeconf", "Tree conflicts: 1"));
        QVERIFY(Has("notwc", "E155007"));
        QVERIFY(Has("current", "At revision"));

        QStringList Folders;
        for (const QString& K : Kinds)
            Folders << In("a", K);
        const TRunResult R = RunEngine(Folders, TSvnTask::Update, 2);
        QVERIFY(!R.Cancelled);
        QCOMPARE(int(R.Delivered.size()), Kinds.size());
        for (int i = 0; i < Kinds.size(); ++i) {
            const TSvnOutcome& O = R.Delivered[size_t(i)].second;
            // The client itself prints the items of one folder in an order that changes from
            // run to run; the first and the last line stand.
            QVERIFY2(Same(O.Lines, Expected[size_t(i)], true) &&
                         O.Lines.value(0) == Expected[size_t(i)].value(0) &&
                         O.Lines.value(O.Lines.size() - 1) ==
                             Expected[size_t(i)].value(Expected[size_t(i)].size() - 1),
                     qPrintable(Kinds[i] + ": " + O.Lines.join(" | ") + " != " +
                                Expected[size_t(i)].join(" | ")));
            QCOMPARE(O.State, DecideState(TSvnTask::Update, Expected[size_t(i)],
                                          Codes[size_t(i)]).State);
        }
        QCOMPARE(R.Delivered[size_t(Kinds.indexOf("updated"))].second.State, TSvnState::Updated);
        QCOMPARE(R.Delivered[size_t(Kinds.indexOf("current"))].second.State, TSvnState::Current);
        QCOMPARE(R.Delivered[size_t(Kinds.indexOf("conflict"))].second.State,
                 TSvnState::Conflict);
        // The copy another client holds needs cleaning up: that is what it is.
        QCOMPARE(R.Delivered[size_t(Kinds.indexOf("locked"))].second.State, TSvnState::Locked);
        QCOMPARE(R.Delivered[size_t(Kinds.indexOf("notwc"))].second.State,
                 TSvnState::NotWorkingCopy);
        QCOMPARE(R.Delivered[size_t(Kinds.indexOf("extfail"))].second.State, TSvnState::Error);
        QCOMPARE(Codes[size_t(Kinds.indexOf("extfail"))], 1);
        // Failed externals in a batch with a copy that goes through: the client ends with
        // their error, after everything else; it is the failed copy's, not the other's.
        {
            const TRunResult Two = RunEngine({In("c", "extfail"), In("c", "current")}, TSvnTask::Update, 1);
            const QStringList Own = Expected[size_t(Kinds.indexOf("extfail"))];
            QStringList Got = Two.Delivered[0].second.Lines;
            Got.replaceInStrings(D + "/c/", D + "/a/");
            QVERIFY2(Same(Got, Own, true),
                     qPrintable(Two.Delivered[0].second.Lines.join(" | ")));
            QCOMPARE(Two.Delivered[0].second.State, TSvnState::Error);
            QCOMPARE(Two.Delivered[1].second.State, TSvnState::Current);
        }
        // And the copies themselves end up alike: the batch really updated each.
        for (const QString& K : Kinds)
            QCOMPARE(RunIn(In("a", K), {"status"}),
                     RunIn(In("b", K), {"status"}).replaceInStrings(D + "/b/", D + "/a/"));
    }

    // One "svn info" over many folders, split back: each block as the folder's own.
    void batchedInfoEqualsRunsInEachFolder() {
        const QString D = At("info");
        QStringList Folders;
        for (const char* K : {"a1", "a2", "b1"})
            Svn({"checkout", "-q", FUrl + (K[0] == 'a' ? "/alpha" : "/beta"), D + "/" + K});
        QDir().mkpath(D + "/plain");
        Svn({"checkout", "-q", FUrl + "/beta", D + "/mit @ und blank"});
        // An unversioned folder inside a working copy is no working copy of its own either.
        QDir().mkpath(D + "/a2/unversioned");
        Folders << D + "/a1" << D + "/plain" << D + "/a2" << D + "/mit @ und blank" << D + "/b1"
                << D + "/b1/sub" << D + "/a2/unversioned" << D + "/fehlt";
        const TRunResult R = RunEngine(Folders, TSvnTask::Info, 2);
        QCOMPARE(int(R.Delivered.size()), Folders.size());
        for (int i = 0; i < Folders.size() - 1; ++i) {
            int Code = 0;
            const QStringList Expected = RunIn(Folders[i], {"info"}, &Code);
            const TSvnOutcome& O = R.Delivered[size_t(i)].second;
            QVERIFY2(O.Lines == Expected, qPrintable(O.Lines.join(" | ")));
            QVERIFY2(O.State == DecideState(TSvnTask::Info, Expected, Code).State,
                     qPrintable(Folders[i] + ": " + O.Lines.join(" | ")));
        }
        QCOMPARE(R.Delivered[0].second.Verdict.Url, FUrl + "/alpha");
        QCOMPARE(R.Delivered[3].second.Verdict.Url, FUrl + "/beta");
        QCOMPARE(R.Delivered[5].second.Verdict.Url, FUrl + "/beta/sub");
        QCOMPARE(R.Delivered[1].second.State, TSvnState::NotWorkingCopy);
        QCOMPARE(R.Delivered[6].second.Verdict.Url, QString());
        QCOMPARE(R.Delivered[7].second.State, TSvnState::Missing);
    }

    // Without a client every project says so.
    void withoutClient() {
        const TRunResult R = RunEngine({At("repo"), FTmp.path()}, TSvnTask::Status, 1, false,
                                       At("nothing-here/svn"));
        QCOMPARE(int(R.Delivered.size()), 2);
        for (const auto& D : R.Delivered) {
            QCOMPARE(D.second.State, TSvnState::NoClient);
            // The cause, not only the fact.
            QCOMPARE(D.second.Notes.size(), 1);
            QVERIFY2(D.second.Notes[0].endsWith("konnte nicht gestartet werden: das Programm ist "
                                                "nicht installiert (nicht im Suchpfad gefunden)."),
                     qPrintable(D.second.Notes[0]));
        }
    }
};

QTEST_GUILESS_MAIN(TestCoreEngine)
#include "tst_core_engine.moc"
