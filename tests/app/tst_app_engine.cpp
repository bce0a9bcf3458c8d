// The Subversion task engine, the window's task page and kivsvn, against real working copies
// made with svnadmin and file:// checkouts in a temporary folder.
#include "kiv_test_folders.h"
#include "kiv_test_prompter.h"
#include "fm_main.h"
#include "kiv_XmlObjects.h"
#include "kiv_process.h"
#include "kiv_prompts.h"
#include "kiv_tools.h"
#include "svn_engine.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include <memory>

namespace {
const QString Head = QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n");

// Runs svn (or svnadmin) and fails the test on a non-zero exit.
QString Svn(const QStringList& Args, const QString& Dir = QString(),
            const QString& Program = QStringLiteral("svn")) {
    QProcess P;
    if (!Dir.isEmpty())
        P.setWorkingDirectory(Dir);
    P.setProcessChannelMode(QProcess::MergedChannels);
    P.start(Program, Args);
    P.waitForFinished(60000);
    const QString Out = QString::fromLocal8Bit(P.readAll());
    if (P.exitStatus() != QProcess::NormalExit || P.exitCode() != 0)
        qWarning("%s %s failed: %s", qPrintable(Program), qPrintable(Args.join(u' ')),
                 qPrintable(Out));
    return Out;
}

void WriteFile(const QString& Path, const QByteArray& Bytes) {
    QDir().mkpath(QFileInfo(Path).path());
    QFile F(Path);
    QVERIFY(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
    F.write(Bytes);
}

// What "svn status" prints when run in the folder itself.
QStringList StatusIn(const QString& Folder) {
    QStringList Lines;
    TRunOptions O;
    O.WorkingDirectory = Folder;
    RunCapturedArgs(Lines, QStringLiteral("svn"), {QStringLiteral("status")}, O);
    return Lines;
}

struct TRunResult {
    std::vector<std::pair<int, TSvnOutcome>> Delivered;
    bool Cancelled = false;
};

TRunResult RunEngine(const QStringList& Folders, const QString& Sub, int Jobs,
                     const QString& Program = QStringLiteral("svn")) {
    std::vector<TSvnProject> Projects;
    for (const QString& F : Folders)
        Projects.push_back({QFileInfo(F).fileName(), F, QString(), 0});
    TSvnRun Run(std::move(Projects), Sub, false, Jobs);
    Run.SvnProgram = Program;
    TRunResult R;
    QObject::connect(&Run, &TSvnRun::ProjectDone,
                     [&](int I, const TSvnOutcome& O) { R.Delivered.emplace_back(I, O); });
    QSignalSpy Done(&Run, &TSvnRun::Finished);
    Run.Start();
    if (!Done.wait(60000))
        qWarning("run did not finish");
    R.Cancelled = !Done.isEmpty() && Done.first().first().toBool();
    return R;
}
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
        if (!QTest::qWaitFor([&] { return W.ToolButton8->isEnabled(); }, 60000))
            qWarning("run did not end");
        if (QDir::currentPath() != Before)
            qWarning("current directory changed");
        return W.mmExec->toPlainText().split(u'\n');
    }
    void ResetDelta() { Svn({"update", "-q", "-r", "1"}, Wc("delta")); }
    QStringList Kivsvn(const QStringList& Args, int& Code) {
        QProcess P;
        P.start(QStringLiteral(KIV_KIVSVN_PATH), Args);
        P.waitForFinished(60000);
        Code = P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
        QString Out = QString::fromUtf8(P.readAllStandardOutput());
        if (Out.endsWith(u'\n'))
            Out.chop(1);
        return Out.split(u'\n');
    }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid() && FFolders.Apply());
        qputenv("LC_ALL", "C");
        SetPrompter(&FPrompter);
        FStartDir = QDir::currentPath();
        FPath = qgetenv("PATH");
        const QString T = FTmp.path();
        Svn({"create", T + "/repo"}, QString(), QStringLiteral("svnadmin"));
        FUrl = "file://" + T + "/repo";
        for (const char* P : {"alpha", "beta", "gamma", "delta"}) {
            WriteFile(T + "/imp/" + P + "/datei.txt", "eins\n");
            WriteFile(T + "/imp/" + P + "/sub/inner.txt", "innen\n");
        }
        Svn({"import", "-q", "-m", "init", T + "/imp", FUrl});
        FWc = T + "/wc";
        for (const char* P : {"alpha", "beta", "gamma", "delta"})
            Svn({"checkout", "-q", FUrl + "/" + P, Wc(P)});
        // delta falls behind: another copy commits to it.
        Svn({"checkout", "-q", FUrl + "/delta", T + "/other"});
        WriteFile(T + "/other/datei.txt", "eins\nzwei\n");
        Svn({"commit", "-q", "-m", "zwei", T + "/other"});
        Svn({"update", "-q"}, Wc("alpha"));
        WriteFile(Wc("beta") + "/datei.txt", "geändert\n");
        WriteFile(Wc("gamma") + "/neu.txt", "neu\n");
    }
    void init() {
        FPrompter = TTestPrompter();
        QDir::setCurrent(FStartDir);
        qputenv("PATH", FPath);
    }
    void cleanupTestCase() { SetPrompter(nullptr); }

    // The filter and the short display's rules, on the lines the client prints.
    void filterAndShortDisplay() {
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

        const TSvnProject P{"p", "/work/proj/", "g/p", 0};
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
        for (bool Short : {false, true}) {
            TSvnOutcome M;
            M.State = TSvnState::Missing;
            QCOMPARE(ProjectBlock(P, M, Short),
                     QStringList({"--> /work/proj", "Verzeichnis nicht gefunden"}));
            M.State = TSvnState::NoClient;
            QCOMPARE(ProjectBlock(P, M, Short),
                     QStringList({"--> /work/proj", "svn konnte nicht gestartet werden"}));
        }
    }

    void jobCountFromRoot() {
        TkivPlainXmlElement Root;
        QVERIFY(JobCount(&Root) >= 2);
        QVERIFY(JobCount(nullptr) >= 2);
        Root.SetAttribute("Jobs", "3");
        QCOMPARE(JobCount(&Root), 3);
        Root.SetAttribute("Jobs", "null");
        QVERIFY(JobCount(&Root) >= 2);
        Root.SetAttribute("Jobs", "0");
        QVERIFY(JobCount(&Root) >= 1);
    }

    // The split of one "svn status A B C" against each folder's own run, for working copies
    // in every state the client can be brought into.
    void batchedStatusEqualsRunsInEachFolder() {
        // A repository of its own: the commits here leave the other tests' revisions alone.
        const QString D = FTmp.path() + "/diff";
        QDir().mkpath(D);
        Svn({"create", D + "/repo"}, QString(), QStringLiteral("svnadmin"));
        const QString FUrl = "file://" + D + "/repo";
        Svn({"import", "-q", "-m", "init", FTmp.path() + "/imp", FUrl});
        const QStringList Kinds = {"clean", "mod",      "add",    "del",       "miss",
                                   "unv",   "props",    "switch", "lock",      "ext",
                                   "cl",    "conflict", "tree",   "unvfolder", "subwc"};
        for (const QString& K : Kinds)
            Svn({"checkout", "-q", FUrl + "/alpha", D + "/" + K});
        auto In = [&](const QString& K) { return D + "/" + K; };
        WriteFile(In("mod") + "/datei.txt", "anders\n");
        WriteFile(In("add") + "/dazu.txt", "dazu\n");
        Svn({"add", "-q", "dazu.txt"}, In("add"));
        Svn({"rm", "-q", "datei.txt"}, In("del"));
        QVERIFY(QFile::remove(In("miss") + "/datei.txt"));
        WriteFile(In("unv") + "/fremd.txt", "?\n");
        WriteFile(In("unv") + "/fremd/tief.txt", "?\n");
        Svn({"propset", "-q", "farbe", "rot", "datei.txt", "."}, In("props"));
        Svn({"switch", "-q", "--ignore-ancestry", FUrl + "/beta/sub", "sub"}, In("switch"));
        Svn({"propset", "-q", "svn:externals", "ext " + FUrl + "/beta", "."}, In("ext"));
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

        QStringList Folders;
        for (const QString& K : Kinds)
            Folders << (K == "subwc" ? In(K) + "/sub" : K == "unvfolder" ? In(K) + "/neu" : In(K));
        std::vector<QStringList> Expected;
        for (const QString& F : Folders)
            Expected.push_back(StatusIn(F));
        // The fixture really is in these states.
        QVERIFY(Expected[0].isEmpty());
        QVERIFY(Expected[Kinds.indexOf("tree")].join(u'\n').contains("      >"));
        QVERIFY(Expected[Kinds.indexOf("lock")].value(0).startsWith("     K  "));
        QVERIFY(Expected[Kinds.indexOf("switch")].value(0).startsWith("    S   "));
        QCOMPARE(Expected[Kinds.indexOf("unvfolder")], QStringList{"?       ."});
        QCOMPARE(Expected[Kinds.indexOf("subwc")], QStringList{"M       inner.txt"});

        // Each state between a clean copy and a modified one, split from one process: either
        // the split refuses, or every block is what the folder's own run prints. The plain
        // states must split, or batching buys nothing.
        const QStringList MustSplit = {"clean", "mod",    "add",  "del",       "miss", "unv",
                                       "props", "switch", "lock", "unvfolder", "subwc"};
        for (int k = 1; k < Kinds.size(); ++k) {
            const int Last = k == 1 ? 2 : 1;
            const QStringList Batch = {Folders[0], Folders[k], Folders[Last]};
            QStringList Lines;
            QCOMPARE(RunCapturedArgs(Lines, "svn", QStringList{"status"} + Batch), 0);
            std::vector<QStringList> Per;
            const bool Split = SplitStatusBatch(Lines, Batch, Per);
            if (MustSplit.contains(Kinds[k]))
                QVERIFY2(Split, qPrintable(Kinds[k]));
            if (Split) {
                QCOMPARE(Per[0], Expected[0]);
                QCOMPARE(Per[1], Expected[k]);
                QCOMPARE(Per[2], Expected[Last]);
            }
        }
        // Folders given in another order than the client prints them are refused.
        {
            std::vector<QStringList> Per;
            QVERIFY(!SplitStatusBatch({"M       " + Folders[1] + "/datei.txt",
                                       "?       " + Folders[5] + "/fremd.txt",
                                       "M       " + Folders[1] + "/x"},
                                      {Folders[1], Folders[5]}, Per));
            QVERIFY(!SplitStatusBatch({"M       /anderswo/datei.txt"}, {Folders[1]}, Per));
            QVERIFY(!SplitStatusBatch({""}, {Folders[1]}, Per));
        }

        // The engine over all of them at once, with two workers, and with a project folder
        // given twice and one nested in another: each block as the folder's own run.
        QStringList All = Folders;
        All << Folders[1] << In("mod") + "/sub" << In("fehlt");
        Expected.push_back(Expected[1]);
        Expected.push_back(StatusIn(In("mod") + "/sub"));
        const TRunResult R = RunEngine(All, "status", 2);
        QVERIFY(!R.Cancelled);
        QCOMPARE(int(R.Delivered.size()), All.size());
        for (int i = 0; i < All.size(); ++i) {
            QCOMPARE(R.Delivered[i].first, i);
            if (i == All.size() - 1) {
                QCOMPARE(R.Delivered[i].second.State, TSvnState::Missing);
                continue;
            }
            QCOMPARE(R.Delivered[i].second.Lines, Expected[i]);
            QCOMPARE(R.Delivered[i].second.State,
                     Expected[i].isEmpty() ? TSvnState::Clean : TSvnState::Changes);
        }
    }

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
        TXMLTreeNode* Beta = Child(Child(R, "Eins"), "beta");
        QCOMPARE(RunInWindow(*W, Beta, W->ToolButton8, true),
                 QStringList({Title, "--> " + Wc("beta"), "M       datei.txt", "*** Ende"}));

        // The status letters carry colour; the text stays the client's line.
        const QTextBlock B = W->mmExec->document()->findBlockByNumber(2);
        QCOMPARE(B.text(), QStringLiteral("M       datei.txt"));
        QVERIFY(B.begin().fragment().charFormat().foreground().color() !=
                W->mmExec->palette().text().color());

        // The last result at a glance: changes, clean and missing differ.
        RunInWindow(*W, R, W->ToolButton8, false);
        TXMLTreeNode* Eins = Child(R, "Eins");
        const QString TipBeta = Child(Eins, "beta")->toolTip(0);
        const QString TipAlpha = Child(Eins, "alpha")->toolTip(0);
        const QString TipMissing = Child(Eins, "fehlt")->toolTip(0);
        QVERIFY(!TipBeta.isEmpty() && !TipAlpha.isEmpty() && !TipMissing.isEmpty());
        QVERIFY(TipBeta != TipAlpha && TipAlpha != TipMissing && TipBeta != TipMissing);
        QCOMPARE(TipBeta, Child(Zwei, "gamma")->toolTip(0));
        QCOMPARE(TipAlpha, Child(Zwei, "delta")->toolTip(0));
        QVERIFY(FPrompter.Errors.isEmpty());
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
            QVERIFY(QTest::qWaitFor([&] { return W->ToolButton8->isEnabled(); }, 60000));
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

    // Without a client on the search path every project says so, in both displays.
    void windowWithoutClient() {
        WriteRegistry(MainRegistry());
        auto W = Open();
        TXMLTreeNode* Zwei = Child(W->lvDir->XMLItems()->TopNode(0), "Zwei");
        qputenv("PATH", QFile::encodeName(FTmp.path() + "/nothing-here"));
        for (QToolButton* B : {W->ToolButton8, W->ToolButton7})
            for (bool Short : {false, true})
                QCOMPARE(RunInWindow(*W, Zwei, B, Short),
                         QStringList({"*** " + B->text(), "--> " + Wc("delta"),
                                      "svn konnte nicht gestartet werden", "--> " + Wc("gamma"),
                                      "svn konnte nicht gestartet werden", "*** Ende"}));
        qputenv("PATH", FPath);
        const TRunResult R =
            RunEngine({Wc("alpha"), Wc("beta")}, "status", 1, FTmp.path() + "/nothing-here/svn");
        QCOMPARE(int(R.Delivered.size()), 2);
        QCOMPARE(R.Delivered[0].second.State, TSvnState::NoClient);
        QCOMPARE(R.Delivered[1].second.State, TSvnState::NoClient);
    }

    // A client that hangs: the button or Esc ends it, the memo keeps what was shown.
    void windowCancel() {
        const QString Bin = FTmp.path() + "/slowbin";
        WriteFile(Bin + "/svn", "#!/bin/sh\ncase \"$PWD\" in */gamma) exec sleep 60;; esac\n"
                                "exec /usr/bin/svn \"$@\"\n");
        QFile::setPermissions(Bin + "/svn", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(Bin) + ':' + FPath);
        WriteRegistry(MainRegistry(" Jobs=\"1\""));
        auto W = Open();
        TXMLTreeNode* R = W->lvDir->XMLItems()->TopNode(0);
        auto* Cancel = W->findChild<QToolButton*>("btnAbbrechen");
        QVERIFY(Cancel);
        for (int Way = 0; Way < 2; ++Way) {
            W->lvDir->SetSelected(R);
            if (W->cbKurz->isChecked())
                W->cbKurz->click();
            const QString Before = QDir::currentPath();
            W->ToolButton7->click();
            QVERIFY(!W->ToolButton7->isEnabled() && !W->ToolButton8->isEnabled());
            QTRY_VERIFY_WITH_TIMEOUT(W->mmExec->toPlainText().contains("--> " + Wc("delta")),
                                     20000);
            QTest::qWait(100);
            QVERIFY(Cancel->isVisible());
            // Tree edits meanwhile do not disturb the run: the group being run goes away.
            if (Way == 1) {
                QVERIFY(Child(R, "Zwei"));
                W->lvDir->DeleteNode(Child(R, "Zwei"));
                QTest::qWait(50);
            }
            QElapsedTimer Timer;
            Timer.start();
            if (Way == 0)
                Cancel->click();
            else
                QTest::keyClick(W.get(), Qt::Key_Escape);
            QTRY_VERIFY_WITH_TIMEOUT(W->ToolButton7->isEnabled(), 10000);
            QVERIFY(Timer.elapsed() < 10000);
            QStringList Lines = W->mmExec->toPlainText().split(u'\n');
            QCOMPARE(Lines.first(), QStringLiteral("*** Aktualisieren"));
            QCOMPARE(Lines.last(), QStringLiteral("*** Abgebrochen"));
            QVERIFY(Lines.contains("--> " + Wc("alpha")));
            QVERIFY(!Lines.contains("--> " + Wc("gamma")));
            QVERIFY(!Lines.contains("*** Ende"));
            QVERIFY(!Cancel->isVisible());
            QCOMPARE(QDir::currentPath(), Before);
        }
        qputenv("PATH", FPath);
        QCOMPARE(RunInWindow(*W, R, W->ToolButton8, true),
                 QStringList({"*** Testen auf Änderungen", "--> " + Wc("beta"), "M       datei.txt",
                              "--> " + Wc("fehlt"), "Verzeichnis nicht gefunden", "*** Ende"}));
    }

    // kivsvn prints the memo's lines and fails when a project failed.
    void kivsvnOutputAndExitCode() {
        const QString Reg = FTmp.path() + "/kivsvn.xml";
        WriteFile(Reg, (Head + MainRegistry()).toLatin1());
        int Code = 0;
        QCOMPARE(Kivsvn({"status", "Eins/beta", "--registry", Reg}, Code),
                 QStringList({"*** Testen auf Änderungen", "--> " + Wc("beta"), "M       datei.txt",
                              "*** Ende"}));
        QCOMPARE(Code, 0);
        QCOMPARE(Kivsvn({"status", "Zwei", "--short", "--jobs", "1", "--registry", Reg}, Code),
                 QStringList({"*** Testen auf Änderungen", "--> " + Wc("gamma"), "?       neu.txt",
                              "*** Ende"}));
        QCOMPARE(Code, 0);
        QCOMPARE(Kivsvn({"status", "--short", "--registry", Reg}, Code),
                 QStringList({"*** Testen auf Änderungen", "--> " + Wc("beta"), "M       datei.txt",
                              "--> " + Wc("fehlt"), "Verzeichnis nicht gefunden",
                              "--> " + Wc("gamma"), "?       neu.txt", "*** Ende"}));
        QCOMPARE(Code, 1);
        ResetDelta();
        QCOMPARE(Kivsvn({"update", "Zwei/delta", "--registry", Reg}, Code),
                 QStringList({"*** Aktualisieren", "--> " + Wc("delta"), "U    datei.txt",
                              "Updated to revision 2.", "*** Ende"}));
        QCOMPARE(Code, 0);
        const QStringList Info = Kivsvn({"info", "Eins/beta", "--registry", Reg}, Code);
        QCOMPARE(Code, 0);
        QCOMPARE(Info.value(0), QStringLiteral("*** Info"));
        QCOMPARE(Info.value(1), "--> " + Wc("beta"));
        QVERIFY(Info.contains("URL: " + FUrl + "/beta"));
        QCOMPARE(Info.last(), QStringLiteral("*** Ende"));
        const QByteArray Before = [&] {
            QFile F(Reg);
            return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
        }();
        for (const QStringList& Bad :
             {QStringList{"status", "Nix", "--registry", Reg},
              QStringList{"commit", "--registry", Reg},
              QStringList{"status", "--jobs", "0", "--registry", Reg},
              QStringList{"status", "--registry", Reg + ".nix"}, QStringList{}}) {
            QVERIFY(Kivsvn(Bad, Code).join("").isEmpty());
            QCOMPARE(Code, 2);
        }
        QFile F(Reg);
        QVERIFY(F.open(QIODevice::ReadOnly));
        QCOMPARE(F.readAll(), Before); // the registry is only read
    }
};

QTEST_MAIN(TestAppEngine)
#include "tst_app_engine.moc"
