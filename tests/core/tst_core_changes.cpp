// What the changes window reads from the client, without a process (status items, svn add's
// lines, diffs, the XML log, a commit's outcome), and a run's own arguments and targets
// against a real copy: names the command line could mistake, and more targets than a
// command line holds.
#include "kiv_test_svn.h"

#include "svn_changes.h"
#include "svn_engine.h"
#include "svn_store.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kivtest;

namespace {

// Runs Task over one copy with the run's own words; its one outcome.
TSvnOutcome RunOn(const QString& Wc, TSvnTask Task, const QStringList& Arguments,
                  const QStringList& Targets, TStateStore* Store = nullptr) {
    TSvnRunOptions O;
    O.Arguments = Arguments;
    O.Targets = Targets;
    O.Store = Store;
    O.TimeoutSeconds = 120;
    TSvnRun Run({{QStringLiteral("wc"), Wc, Wc, QString(), 0}}, Task, O);
    TSvnOutcome Out;
    QObject::connect(&Run, &TSvnRun::ProjectDone, [&](int, const TSvnOutcome& R) { Out = R; });
    QSignalSpy Done(&Run, &TSvnRun::Finished);
    Run.Start();
    Done.wait(120000);
    return Out;
}

} // namespace

class TestCoreChanges : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;

private slots:
    void initTestCase() { QVERIFY(FTmp.isValid()); }

    // Every line that names a change, and only those: the details under a tree conflict or a
    // move, summaries, externals and items with nothing changed are passed over; the -u form
    // reads like the plain one.
    void statusItems() {
        const QStringList Lines = {
            "M       a.txt",
            " M      sub",
            "?       neu.txt",
            "A  +    kopie",
            "D       weg",
            "!       fehlt",
            "C       konflikt.txt",
            "      C baum",
            "      >   local file edit, incoming file delete or move upon update",
            "A  +    c2",
            "        > moved from c",
            "X       ext",
            "",
            "Performing status on external item at 'ext':",
            "    S   umgeschaltet",
            "  L     .",
            "MM      beides.txt",
            "Summary of conflicts:",
            "  Text conflicts: 1",
            "M                3   leer zeichen.txt",
            "        *        3   nur-veraltet.txt",
            "Status against revision:      4",
        };
        const QList<TChangeItem> Items = ParseChanges(Lines);
        QStringList Paths;
        for (const TChangeItem& I : Items)
            Paths << I.Path;
        QCOMPARE(Paths, QStringList({"a.txt", "sub", "neu.txt", "kopie", "weg", "fehlt",
                                     "konflikt.txt", "baum", "c2", "beides.txt",
                                     "leer zeichen.txt"}));
        QCOMPARE(Items[0].Columns, QStringLiteral("M      "));
        QStringList Checked;
        for (const TChangeItem& I : Items)
            if (I.CheckedAtFirst())
                Checked << I.Path;
        QCOMPARE(Checked, QStringList({"a.txt", "sub", "kopie", "weg", "c2", "beides.txt",
                                       "leer zeichen.txt"}));
        QVERIFY(Items[6].Conflicted() && !Items[6].TreeConflictOnly());
        QVERIFY(Items[7].Conflicted() && Items[7].TreeConflictOnly());
        QVERIFY(Items[2].Unversioned() && !Items[2].Versioned());
        QCOMPARE(ChangeText(Items[3]), QStringLiteral("hinzugefügt, mit Historie"));
        QCOMPARE(ChangeText(Items[9]), QStringLiteral("geändert, Eigenschaften geändert"));
        QCOMPARE(ChangeText(Items[7]), QStringLiteral("Baumkonflikt"));
    }

    // "svn add" names what it added, a new folder's files after it, binary ones marked.
    void addedPaths() {
        QCOMPARE(AddedPaths({"A         neu", "A         neu/tief", "A  (bin)  neu/bild.png",
                             "A         mit  zwei Blanks.txt", "svn: warning: W150002: x",
                             "A  x"}),
                 QStringList({"neu", "neu/tief", "neu/bild.png", "mit  zwei Blanks.txt"}));
    }

    // Targets after "--" (a name may begin with "-"); an "@" gets one more at the end where
    // the subcommand reads revisions into targets.
    void targetArguments() {
        QCOMPARE(TargetArguments({"-m", "a@2", "b"}, true),
                 QStringList({"--", "-m", "a@2@", "b"}));
        QCOMPARE(TargetArguments({"a@2"}, false), QStringList({"--", "a@2"}));
    }

    // A folder added or deleted is reverted whole, and what lies in it with it; every other
    // item alone; unversioned items not at all.
    void revertPlan() {
        const QList<TChangeItem> Chosen = {
            {"A      ", "neu"},     {"A      ", "neu/x.txt"}, {"D      ", "alt"},
            {"M      ", "alt2/y"},  {" M     ", "."},         {"M      ", "a.txt"},
            {"?      ", "fremd"},   {"A      ", "neu.txt"},
        };
        const TRevertPlan P =
            PlanRevert(Chosen, [](const QString& Path) { return Path == u"neu" || Path == u"."; });
        QCOMPARE(P.Whole, QStringList({"neu", "alt"}));
        QCOMPARE(P.Alone, QStringList({"alt2/y", ".", "a.txt", "neu.txt"}));
        QCOMPARE(P.Count(), 6);
        // The folder itself chosen alone ("."), never whole: its other items keep their changes.
        QVERIFY(!P.Whole.contains("."));
    }

    // Inside a hunk a line is what its first character says, also "--- ..." and "+++ ...";
    // outside, headings; the client's remarks; binary files from the client's own line.
    void diffLines() {
        const QStringList Lines = {"Index: a.txt",
                                   "===================================================================",
                                   "--- a.txt\t(revision 1)",
                                   "+++ a.txt\t(working copy)",
                                   "@@ -1,3 +1,3 @@",
                                   " eins",
                                   "--- kein Kopf",
                                   "+++ auch keiner",
                                   " drei",
                                   "\\ No newline at end of file",
                                   "@@ -10 +10,2 @@",
                                   "-x",
                                   "+y",
                                   "+z",
                                   "Index: b.txt",
                                   "Property changes on: b.txt",
                                   "___________________________________________________________________",
                                   "Added: farbe",
                                   "## -0,0 +1 ##",
                                   "+blau"};
        TDiffReader R;
        QList<TDiffLine> Kinds;
        for (const QString& L : Lines)
            Kinds << R.Add(L);
        using K = TDiffLine;
        QCOMPARE(Kinds, (QList<K>{K::Header, K::Header, K::Header, K::Header, K::Hunk, K::Context,
                                  K::Removed, K::Added, K::Context, K::Note, K::Hunk, K::Removed,
                                  K::Added, K::Added, K::Header, K::Header, K::Header, K::Header,
                                  K::Hunk, K::Added}));
        QCOMPARE(R.Hunks(), 3);
        QCOMPARE(R.AddedLines(), 4);
        QCOMPARE(R.RemovedLines(), 2);
        QVERIFY(!R.Binary());
        QVERIFY(DiffIsBinary({"Index: bild.dat", "===", "Cannot display: file marked as a binary type.",
                              "svn:mime-type = application/octet-stream"}));
    }

    // The XML log: entries whole, with paths where asked; one without author or date; output
    // cut short keeps the entries before the cut.
    void logXml() {
        const QStringList Xml = {
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
            "<log>",
            "<logentry",
            "   revision=\"5\">",
            "<author>anna</author>",
            "<date>2024-03-01T12:34:56.123456Z</date>",
            "<paths>",
            "<path",
            "   action=\"A\"",
            "   copyfrom-path=\"/c\"",
            "   copyfrom-rev=\"4\"",
            "   kind=\"file\">/c2</path>",
            "<path action=\"D\" kind=\"file\">/c</path>",
            "</paths>",
            "<msg>Zwei Zeilen &amp; mehr",
            "äöü</msg>",
            "</logentry>",
            "<logentry",
            "   revision=\"4\">",
            "<msg></msg>",
            "</logentry>",
            "<logentry",
            "   revision=\"3\">",
            "<author>bernd</author>",
        };
        bool Complete = true;
        QList<TLogEntry> E = ParseLogXml(Xml, &Complete);
        QVERIFY(!Complete);
        QCOMPARE(E.size(), 2);
        QCOMPARE(E[0].Revision, 5);
        QCOMPARE(E[0].Author, QStringLiteral("anna"));
        QCOMPARE(E[0].Date, QDateTime(QDate(2024, 3, 1), QTime(12, 34, 56, 123), Qt::UTC));
        QCOMPARE(E[0].Message, QStringLiteral("Zwei Zeilen & mehr\näöü"));
        QCOMPARE(E[0].Paths.size(), 2);
        QCOMPARE(E[0].Paths[0].Action, QChar(u'A'));
        QCOMPARE(E[0].Paths[0].Path, QStringLiteral("/c2"));
        QCOMPARE(E[0].Paths[0].CopyFrom, QStringLiteral("/c"));
        QCOMPARE(E[0].Paths[0].CopyRevision, 4);
        QCOMPARE(E[0].Paths[1].CopyRevision, -1);
        QVERIFY(E[1].Author.isEmpty() && !E[1].Date.isValid());
        E = ParseLogXml(Xml.mid(0, 21) + QStringList{"</log>"}, &Complete);
        QVERIFY(Complete);
        QCOMPARE(E.size(), 2);
    }

    // A commit's lines: the revision it made and the items sent; refused for an item the
    // server has newer, it leaves the copy behind (not in error); refused for a conflict, in
    // conflict; refused for a login, in error.
    void commitOutcomes() {
        TSvnVerdict V = DecideState(TSvnTask::Commit,
                                    {"Sending        a.txt", "Adding         neu",
                                     "Deleting       weg", "Transmitting file data .done",
                                     "Committing transaction...", "Committed revision 12."},
                                    0);
        QCOMPARE(V.State, TSvnState::Clean);
        QCOMPARE(V.Revision, 12);
        QCOMPARE(V.Files, 3);
        V = DecideState(TSvnTask::Commit,
                        {"Sending        a.txt", "svn: E155011: Commit failed (details follow):",
                         "svn: E155011: File '/w/a.txt' is out of date",
                         "svn: E160028: File '/a.txt' is out of date"},
                        1);
        QCOMPARE(V.State, TSvnState::OutOfDate);
        QVERIFY(V.OutOfDateRefused && !V.ConflictRefused);
        V = DecideState(TSvnTask::Commit,
                        {"svn: E155015: Commit failed (details follow):",
                         "svn: E155015: Aborting commit: '/w/k.txt' remains in conflict"},
                        1);
        QCOMPARE(V.State, TSvnState::Conflict);
        QVERIFY(V.ConflictRefused);
        V = DecideState(TSvnTask::Commit,
                        {"svn: E170013: Unable to connect to a repository at URL 'svn://x'",
                         "svn: E215004: No more credentials or we tried too many times."},
                        1);
        QCOMPARE(V.State, TSvnState::Error);
    }

    // A run's own arguments and targets against a real copy: names the command line could
    // take for an option or a revision, and more targets than a command line holds (they go
    // through a file); only the chosen items are committed, the store learns the revision.
    void argumentsAndTargets() {
        const QString T = FTmp.path();
        Svn({"create", T + "/repo"}, QString(), QStringLiteral("svnadmin"));
        WriteFile(T + "/imp/bleibt.txt", "x\n");
        Svn({"import", "-q", "-m", "init", T + "/imp", "file://" + T + "/repo"});
        const QString Wc = T + "/wc";
        Svn({"checkout", "-q", "file://" + T + "/repo", Wc});
        WriteFile(Wc + "/bleibt.txt", "geändert\n");
        QStringList Many;
        const QString Long(120, u'l');
        for (int i = 0; i < 700; ++i) {
            Many << QStringLiteral("viele/%1-%2.txt").arg(Long).arg(i);
            WriteFile(Wc + u'/' + Many.last(), "v\n");
        }
        WriteFile(Wc + "/-m", "minus\n");
        WriteFile(Wc + "/at@2.txt", "at\n");
        TSvnOutcome Add = RunOn(Wc, TSvnTask::Add, {}, {"viele", "-m", "at@2.txt"});
        QCOMPARE(Add.ExitCode, 0);
        QCOMPARE(AddedPaths(Add.Lines).size(), 703);
        QCOMPARE(Add.State, TSvnState::Changes); // the status after the task decides
        const QStringList Targets = QStringList{"viele", "-m", "at@2.txt"} + Many;
        QVERIFY(Targets.join(QString()).size() > 64 * 1024);
        TStateStore Store;
        TSvnOutcome Commit =
            RunOn(Wc, TSvnTask::Commit, {"-m", "-m", "--depth", "empty"}, Targets, &Store);
        QVERIFY2(Commit.ExitCode == 0, qPrintable(Commit.Lines.join(u'\n')));
        QCOMPARE(Commit.Verdict.Revision, 2);
        QCOMPARE(Commit.Verdict.Files, 703);
        QCOMPARE(Commit.State, TSvnState::Changes); // bleibt.txt was not chosen
        const QStringList Left = RunIn(Wc, {"status"});
        QCOMPARE(Left, QStringList({"M       bleibt.txt"}));
        QVERIFY(RunIn(Wc, {"log", "-r", "2"}).contains("-m"));
        const TStoredState* S = Store.Find(Wc);
        QVERIFY(S);
        QCOMPARE(S->Task, TSvnTask::Commit);
        QCOMPARE(S->State, TSvnState::Changes);
        QCOMPARE(S->Revision, 2);
        // The checks before and after the task get none of its words: a diff of one file only.
        WriteFile(Wc + "/at@2.txt", "anders\n");
        const TSvnOutcome Diff = RunOn(Wc, TSvnTask::Diff, {"--depth", "empty"}, {"at@2.txt"});
        QCOMPARE(Diff.ExitCode, 0);
        QVERIFY(Diff.Lines.contains("+anders"));
        QVERIFY(!Diff.Lines.join(u'\n').contains("bleibt.txt"));
    }
};

QTEST_GUILESS_MAIN(TestCoreChanges)
#include "tst_core_changes.moc"
