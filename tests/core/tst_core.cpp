// Tests of the core's system utilities: the process runner against real child processes, the
// terminal, the paths, the version record and the identity functions.
#include "kiv_process.h"
#include "kiv_terminal.h"
#include "kiv_system.h"
#include "kiv_test_tmpfs.h"
#include "svn_search.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

static const QString Helper = QStringLiteral(KIV_CHILD_HELPER);

class TestCore : public QObject {
    Q_OBJECT

private slots:
    void splitCommandLine_data();
    void splitCommandLine();
    void lineSplitterPieces();
    void capturedLineEnds_data();
    void capturedLineEnds();
    void capturedMergesStreamsInOrder();
    void capturedExitCodesAndFailures();
    void capturedLongOutput();
    void capturedMultibyteCutByRead();
    void capturedWorkingDirectoryAndThreads();
    void capturedCallbackAndCancel();
    void capturedExitDecidesAndInterrupt();
    void capturedPumpsEventsOnGuiThread();
    void capturedSvnVersion();
    void runAndWaitUsesTerminal();
    void terminalThatReturnsAtOnce();
    void terminalHoldsAndNamesItsWindow();
    void includeExcludeDelimiter();
    void specialAndUserDataFolders();
    void searchStartsOnTheDocumentsFileSystem();
    void roamingMarker();
    void fileVersionRecord();
    void identity();
};

void TestCore::splitCommandLine_data() {
    QTest::addColumn<QString>("Line");
    QTest::addColumn<QStringList>("Words");
    QTest::newRow("plain") << "svn status  -v" << QStringList{"svn", "status", "-v"};
    QTest::newRow("blanks around") << "  a\tb  " << QStringList{"a", "b"};
    QTest::newRow("single quotes") << R"(a 'b c' 'd"e')" << QStringList{"a", "b c", "d\"e"};
    QTest::newRow("double quotes") << R"(a "b \"c\" \$x \n")" << QStringList{"a", "b \"c\" $x \\n"};
    QTest::newRow("backslash") << R"(a\ b c\\d)" << QStringList{"a b", "c\\d"};
    QTest::newRow("empty quoted word") << R"(a "" '')" << QStringList{"a", "", ""};
    QTest::newRow("joined pieces") << R"(x"y z"'w')" << QStringList{"xy zw"};
    QTest::newRow("no expansion") << "echo $HOME > f; ls *"
                                  << QStringList{"echo", "$HOME", ">", "f;", "ls", "*"};
    QTest::newRow("empty") << "   " << QStringList{};
}

void TestCore::splitCommandLine() {
    QFETCH(QString, Line);
    QFETCH(QStringList, Words);
    QCOMPARE(SplitCommandLine(Line), Words);
}

// The splitter alone, fed in every possible cut of the same bytes: the lines never change.
void TestCore::lineSplitterPieces() {
    const QByteArray Bytes = "eins\r\nzwei\rdrei\n\r\nf\xc3\xbcnf\r\n\r\nletzte";
    const QStringList Expected{"eins", "zwei", "drei", "", "fünf", "", "letzte"};
    for (int Cut = 0; Cut <= Bytes.size(); ++Cut) {
        QStringList Got;
        TLineSplitter S;
        S.OnLine = [&](const QString& L) { Got << L; };
        S.Feed(Bytes.constData(), Cut);
        S.Feed(Bytes.constData() + Cut, Bytes.size() - Cut);
        S.Finish();
        QCOMPARE(Got, Expected);
    }
    // Byte by byte.
    QStringList Got;
    TLineSplitter S;
    S.OnLine = [&](const QString& L) { Got << L; };
    for (char C : Bytes)
        S.Feed(&C, 1);
    S.Finish();
    QCOMPARE(Got, Expected);
}

void TestCore::capturedLineEnds_data() {
    QTest::addColumn<QStringList>("Args");
    QTest::addColumn<QStringList>("Lines");
    QTest::newRow("CR LF") << QStringList{"out:a\\r\\nb\\r\\n"} << QStringList{"a", "b"};
    QTest::newRow("LF only (as svn writes here)")
        << QStringList{"out:a\\nb\\n"} << QStringList{"a", "b"};
    QTest::newRow("lone CR") << QStringList{"out:a\\rb\\r"} << QStringList{"a", "b"};
    QTest::newRow("last line without end is kept")
        << QStringList{"out:a\\r\\nb"} << QStringList{"a", "b"};
    QTest::newRow("empty line between")
        << QStringList{"out:a\\r\\n\\r\\nb\\r\\n"} << QStringList{"a", "", "b"};
    QTest::newRow("CR at end of one write, LF at start of next")
        << QStringList{"out:a\\r", "sleep:150", "out:\\nb\\n"} << QStringList{"a", "b"};
    QTest::newRow("line cut by a pause")
        << QStringList{"out:ab", "sleep:150", "out:cd\\n"} << QStringList{"abcd"};
    QTest::newRow("no output") << QStringList{} << QStringList{};
}

void TestCore::capturedLineEnds() {
    QFETCH(QStringList, Args);
    QFETCH(QStringList, Lines);
    QStringList Got;
    QCOMPARE(RunCapturedArgs(Got, Helper, Args), 0);
    QCOMPARE(Got, Lines);
}

void TestCore::capturedMergesStreamsInOrder() {
    QStringList Lines{"schon da"};
    // Shell quoting: the backslash escapes must reach the helper unchanged.
    const int Rc = RunCaptured(Lines, Helper + R"( 'out:eins\n' "err:zwei\n" out:drei\\n )"
                                               R"('err:vier und fünf\n' exit:3)");
    QCOMPARE(Rc, 3);
    // Lines that were there stay; the new ones follow in the order they were written.
    QCOMPARE(Lines, (QStringList{"schon da", "eins", "zwei", "drei", "vier und fünf"}));
}

void TestCore::capturedExitCodesAndFailures() {
    QStringList Lines{"vorher"};
    QCOMPARE(RunCaptured(Lines, Helper + " exit:0"), 0);
    QCOMPARE(RunCaptured(Lines, Helper + " exit:1"), 1);
    QCOMPARE(RunCaptured(Lines, Helper + " exit:255"), 255);
    // Programs that cannot be started: -1, nothing appended, nothing thrown.
    QCOMPARE(RunCaptured(Lines, "kiv-no-such-program-here --version"), -1);
    QCOMPARE(RunCaptured(Lines, "/nonexistent/folder/prog"), -1);
    QCOMPARE(RunCaptured(Lines, "   "), -1);
    QCOMPARE(RunCaptured(Lines, "/etc/passwd"), -1); // not executable
    TRunOptions BadDir;
    BadDir.WorkingDirectory = "/nonexistent/kiv/folder";
    QCOMPARE(RunCaptured(Lines, Helper + " out:x\\n", BadDir), -1);
    QCOMPARE(Lines, QStringList{"vorher"});
}

void TestCore::capturedLongOutput() {
    // Far more than a pipe holds: the runner must read while the child writes.
    QStringList Lines;
    QCOMPARE(RunCaptured(Lines, Helper + " lines:200000 err:ende exit:7"), 7);
    QCOMPARE(Lines.size(), 200001);
    QCOMPARE(Lines.first(), QStringLiteral("line 1"));
    QCOMPARE(Lines[199999], QStringLiteral("line 200000"));
    QCOMPARE(Lines.last(), QStringLiteral("ende"));
}

void TestCore::capturedMultibyteCutByRead() {
    // "ü" is C3 BC in UTF-8 (the tests' locale); the pause makes the two bytes two reads.
    QStringList Lines;
    QCOMPARE(RunCapturedArgs(Lines, Helper,
                             {"out:gr\\xc3", "sleep:200", "out:\\xbcn\\r\\n", "out:\\xc3\\xa4"}),
             0);
    QCOMPARE(Lines, (QStringList{"grün", "ä"}));
}

void TestCore::capturedWorkingDirectoryAndThreads() {
    QTemporaryDir Base;
    QVERIFY(Base.isValid());
    const QString Before = QDir::currentPath();
    constexpr int N = 4;
    QString Dirs[N];
    QStringList Out[N];
    int Rc[N];
    for (int I = 0; I < N; ++I) {
        Dirs[I] = Base.path() + QStringLiteral("/Ordner %1").arg(I);
        QVERIFY(QDir().mkpath(Dirs[I]));
    }
    std::thread Threads[N];
    for (int I = 0; I < N; ++I)
        Threads[I] = std::thread([&, I] {
            TRunOptions O;
            O.WorkingDirectory = Dirs[I];
            Rc[I] = RunCapturedArgs(Out[I], Helper, {"sleep:100", "pwd", "sleep:100", "pwd"}, O);
        });
    for (auto& T : Threads)
        T.join();
    for (int I = 0; I < N; ++I) {
        QCOMPARE(Rc[I], 0);
        const QString Real = QDir(Dirs[I]).canonicalPath();
        QCOMPARE(Out[I], (QStringList{Real, Real}));
    }
    // The process's own folder is never changed; without a folder the child inherits it.
    QCOMPARE(QDir::currentPath(), Before);
    QStringList Inherited;
    QCOMPARE(RunCapturedArgs(Inherited, Helper, {"pwd"}), 0);
    QCOMPARE(Inherited, QStringList{QDir(Before).canonicalPath()});
}

void TestCore::capturedCallbackAndCancel() {
    QStringList Lines, Seen;
    TRunOptions O;
    O.OnLine = [&](const QString& L) { Seen << QString::number(Lines.size()) + ":" + L; };
    QCOMPARE(RunCapturedArgs(Lines, Helper, {"out:a\\nb", "exit:2"}, O), 2);
    // The callback sees each line right after it was appended, the last one too.
    QCOMPARE(Lines, (QStringList{"a", "b"}));
    QCOMPARE(Seen, (QStringList{"1:a", "2:b"}));

    std::atomic<bool> Cancel{false};
    TRunOptions C;
    C.Cancel = &Cancel;
    C.OnLine = [&](const QString&) { Cancel = true; };
    QStringList Partial;
    const auto Start = std::chrono::steady_clock::now();
    QCOMPARE(RunCapturedArgs(Partial, Helper, {"out:los\\n", "hang"}, C), -1);
    QVERIFY(std::chrono::steady_clock::now() - Start < std::chrono::seconds(10));
    QCOMPARE(Partial, QStringList{"los"});
}

void TestCore::capturedExitDecidesAndInterrupt() {
    // A child that leaves a program of its own holding the pipe (as ssh's shared connection
    // does): its exit code counts at once, not when the other program lets the pipe go.
    QStringList Lines;
    QElapsedTimer Clock;
    Clock.start();
    QCOMPARE(RunCapturedArgs(Lines, "sh", {"-c", "echo eins; sleep 30 & exit 3"}), 3);
    QVERIFY2(Clock.elapsed() < 5000, qPrintable(QString::number(Clock.elapsed())));
    QCOMPARE(Lines, QStringList{"eins"});

    // An interrupt is Ctrl+C: the child may stop on its own and say so; what it says is read.
    std::atomic<bool> Stop{false};
    TRunOptions O;
    O.Interrupt = &Stop;
    O.OnLine = [&](const QString&) { Stop = true; };
    TRunStatus Status;
    O.Status = &Status;
    QStringList Said;
    QCOMPARE(RunCapturedArgs(Said, "sh",
                             {"-c", "trap 'echo angehalten; exit 130' INT; echo los; "
                                    "while :; do sleep 0.05; done"},
                             O),
             -1);
    QVERIFY(Status.Interrupted && Status.Cancelled);
    QCOMPARE(Said, (QStringList{"los", "angehalten"}));
    // One that ignores it is ended all the same.
    Stop = false;
    O.InterruptGraceMs = 500;
    Clock.restart();
    QStringList Deaf;
    QCOMPARE(RunCapturedArgs(Deaf, "sh", {"-c", "trap '' INT; echo los; sleep 30"}, O), -1);
    QVERIFY2(Clock.elapsed() < 5000, qPrintable(QString::number(Clock.elapsed())));
}

void TestCore::capturedPumpsEventsOnGuiThread() {
    // Between two pieces of output the GUI thread goes on handling its events.
    QStringList Lines;
    qsizetype LinesWhenTimerFired = -1;
    QTimer::singleShot(300, this, [&] { LinesWhenTimerFired = Lines.size(); });
    QCOMPARE(RunCapturedArgs(Lines, Helper, {"out:a\\n", "sleep:1000", "out:b\\n"}), 0);
    QCOMPARE(LinesWhenTimerFired, 1);
    QCOMPARE(Lines.size(), 2);
}

void TestCore::capturedSvnVersion() {
    QStringList Lines;
    QCOMPARE(RunCaptured(Lines, "svn --version --quiet"), 0);
    QCOMPARE(Lines.size(), 1);
    QVERIFY2(QRegularExpression("^\\d+\\.\\d+\\.\\d+").match(Lines.first()).hasMatch(),
             qPrintable(Lines.first()));
    Lines.clear();
    QCOMPARE(RunCaptured(Lines, "svn --version"), 0);
    QVERIFY(Lines.size() > 3);
    QVERIFY2(Lines.first().startsWith("svn, "), qPrintable(Lines.first()));
}

void TestCore::runAndWaitUsesTerminal() {
    QTemporaryDir Dir;
    QVERIFY(Dir.isValid());
    const QString Log = Dir.filePath("terminal.log");
    qputenv("KIV_TERMINAL_LOG", Log.toLocal8Bit());
    qputenv("TERMINAL", KIV_FAKE_TERMINAL);
    QCOMPARE(RunAndWait(Helper + " 'out:x y' exit:4", 1, Dir.path()), 4);
    QFile F(Log);
    QVERIFY(F.open(QIODevice::ReadOnly));
    const QStringList Logged = QString::fromLocal8Bit(F.readAll()).split('\n', Qt::SkipEmptyParts);
    // The terminal runs a small shell script around the command that keeps its exit code.
    QCOMPARE(Logged.value(0), QDir(Dir.path()).canonicalPath());
    QCOMPARE(Logged.value(1), QStringLiteral("[-e]"));
    QCOMPARE(Logged.mid(Logged.size() - 3),
             (QStringList{"[" + Helper + "]", "[out:x y]", "[exit:4]"}));
    // The command's exit code, not the terminal's: one that always ends with 0 changes nothing.
    const QString Zero = Dir.filePath("zero-terminal");
    {
        QFile T(Zero);
        QVERIFY(T.open(QIODevice::WriteOnly));
        T.write("#!/bin/sh\n[ \"$1\" = -e ] && shift\n\"$@\"\nexit 0\n");
    }
    QFile::setPermissions(Zero, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("TERMINAL", Zero.toLocal8Bit());
    QCOMPARE(RunAndWait(Helper + " exit:3", 1, Dir.path()), 3);
    // Cancel ends the terminal and what runs in it, at once.
    std::atomic<bool> Cancel{false};
    QElapsedTimer Clock;
    Clock.start();
    std::thread Stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Cancel = true;
    });
    const TTerminalResult Ended = RunInTerminal({Helper, "hang"}, Dir.path(), &Cancel);
    Stopper.join();
    QVERIFY(Ended.Started && Ended.Cancelled);
    QCOMPARE(Ended.ExitCode, -1);
    QVERIFY(Clock.elapsed() < 5000);
    // A terminal that cannot be started falls back to the next one; with none at all: -1.
    qputenv("TERMINAL", "kiv-no-such-terminal");
    const QByteArray Path = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    const int NoTerminal = RunAndWait(Helper + " exit:0", 1);
    qputenv("PATH", Path);
    QCOMPARE(NoTerminal, -1);
    qunsetenv("TERMINAL");
    qunsetenv("KIV_TERMINAL_LOG");
}

// Writes an executable shell script.
static QString WriteScript(const QString& Path, const QByteArray& Body) {
    QFile F(Path);
    if (!F.open(QIODevice::WriteOnly))
        return {};
    F.write("#!/bin/sh\n" + Body);
    F.close();
    F.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return Path;
}

// A terminal that hands the command to something else and returns at once (as the terminals
// with a server of their own do without their waiting option): the run waits for the command
// itself, takes its exit code, and never lets the next one begin beside it. One that runs
// nothing, one whose window is closed half-way, and a cancel are told apart.
void TestCore::terminalThatReturnsAtOnce() {
    QTemporaryDir Dir;
    QVERIFY(Dir.isValid());
    const auto Restore = qScopeGuard([] { qunsetenv("TERMINAL"); });
    const QString Log = Dir.filePath("log");
    // Starts the command in the background, detached, and ends with 0.
    qputenv("TERMINAL",
            WriteScript(Dir.filePath("gibt-ab"),
                        "[ \"$1\" = -e ] && shift\n( \"$@\" >/dev/null 2>&1 </dev/null & )\n"
                        "exit 0\n")
                .toLocal8Bit());
    const QString Slow = "echo start >> '" + Log + "'; sleep 1; echo ende >> '" + Log + "'; exit 3";
    QElapsedTimer Clock;
    Clock.start();
    TTerminalResult R = RunInTerminal({"sh", "-c", Slow}, Dir.path());
    QVERIFY(Clock.elapsed() >= 900);
    QVERIFY(R.Started && R.Returned && R.Ran && R.Finished && !R.Cancelled);
    QCOMPARE(R.ExitCode, 3);
    QVERIFY(R.Problem.isEmpty());
    // Twice in a row: strictly one after the other.
    R = RunInTerminal({"sh", "-c", Slow}, Dir.path());
    QCOMPARE(R.ExitCode, 3);
    QFile L(Log);
    QVERIFY(L.open(QIODevice::ReadOnly));
    QCOMPARE(L.readAll(), QByteArray("start\nende\nstart\nende\n"));

    // A window closed before the command ended (its shell killed): no exit code, and why.
    qputenv("TERMINAL",
            WriteScript(Dir.filePath("schliesst"),
                        "[ \"$1\" = -e ] && shift\n"
                        "( \"$@\" >/dev/null 2>&1 </dev/null & p=$!; sleep 0.5; kill -9 $p ) &\n"
                        "exit 0\n")
                .toLocal8Bit());
    R = RunInTerminal({"sleep", "20"}, Dir.path());
    QVERIFY(R.Returned && R.Ran && !R.Finished);
    QCOMPARE(R.ExitCode, -1);
    QCOMPARE(R.Problem, QStringLiteral("Das Terminalfenster wurde geschlossen, bevor der Befehl "
                                       "zu Ende war."));

    // Cancel ends the command the terminal left behind, and everything it started.
    qputenv("TERMINAL", Dir.filePath("gibt-ab").toLocal8Bit());
    const QString PidFile = Dir.filePath("sleeper");
    std::atomic<bool> Cancel{false};
    std::thread Stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        Cancel = true;
    });
    TTerminalRequest Req;
    Req.Command = {"sh", "-c", "sleep 30 & echo $! > '" + PidFile + "'; wait"};
    Req.Dir = Dir.path();
    Req.Cancel = &Cancel;
    Clock.restart();
    R = RunInTerminal(Req);
    Stopper.join();
    QVERIFY(R.Cancelled && R.Ran && !R.Finished);
    QVERIFY(Clock.elapsed() < 8000);
    QFile P(PidFile);
    QVERIFY(P.open(QIODevice::ReadOnly));
    const QByteArray Sleeper = P.readAll().trimmed();
    QVERIFY(!Sleeper.isEmpty());
    // Gone, or a zombie its parent has not reaped.
    auto Ended = [&] {
        QFile Stat(QString::fromLatin1("/proc/" + Sleeper + "/stat"));
        if (!Stat.open(QIODevice::ReadOnly))
            return true;
        const QByteArray S = Stat.readAll();
        return S.mid(S.lastIndexOf(')') + 2, 1) == "Z";
    };
    QTRY_VERIFY_WITH_TIMEOUT(Ended(), 5000);

    // A terminal that ran nothing: said so, with its name (and its code when it failed).
    Req = TTerminalRequest();
    Req.Command = {"true"};
    Req.Dir = Dir.path();
    Req.StartTimeoutMs = 300;
    qputenv("TERMINAL", WriteScript(Dir.filePath("tut-nichts"), "exit 0\n").toLocal8Bit());
    R = RunInTerminal(Req);
    QVERIFY(R.Started && !R.Ran && !R.Finished);
    QCOMPARE(R.Problem, QStringLiteral("Das Terminal \"tut-nichts\" hat sich beendet, ohne den "
                                       "Befehl auszuführen."));
    qputenv("TERMINAL", WriteScript(Dir.filePath("kaputt"), "exit 5\n").toLocal8Bit());
    R = RunInTerminal(Req);
    QVERIFY(!R.Ran);
    QCOMPARE(R.Problem, QStringLiteral("Das Terminal \"kaputt\" hat sich mit dem Code 5 beendet, "
                                       "ohne den Befehl auszuführen."));
}

// The window stays open (until Enter) only when the command failed or left a conflict, says
// why, and carries the title; known terminals are started in their waiting mode, also behind
// x-terminal-emulator and a distribution's wrapper.
void TestCore::terminalHoldsAndNamesItsWindow() {
    QTemporaryDir Dir;
    QVERIFY(Dir.isValid());
    const QByteArray Path = qgetenv("PATH");
    const auto Restore = qScopeGuard([&] {
        qputenv("PATH", Path);
        qunsetenv("TERMINAL");
    });
    const QString Out = Dir.filePath("out");
    // Runs what follows -e with its output in a file.
    qputenv("TERMINAL",
            WriteScript(Dir.filePath("term"), "[ \"$1\" = -e ] && shift\n\"$@\" > '" +
                                                  Out.toLocal8Bit() + "' 2>&1 </dev/null\n")
                .toLocal8Bit());
    auto Run = [&](const QString& Shell, const QStringList& Check, TTerminalHold Hold) {
        TTerminalRequest Req;
        Req.Command = {"sh", "-c", Shell};
        Req.Dir = Dir.path();
        Req.Hold = Hold;
        Req.ConflictCheck = Check;
        Req.Title = "Kunden/Auftrag M\u00fcller \x1b]0;x\x07 \u2013 svn update";
        return RunInTerminal(Req);
    };
    auto Output = [&] {
        QFile F(Out);
        return F.open(QIODevice::ReadOnly) ? QString::fromUtf8(F.readAll()) : QString();
    };
    const QString Enter = QStringLiteral("Zum Schließen die Eingabetaste drücken");
    // Failed: held, with the exit code.
    TTerminalResult R = Run("exit 2", {"printf", "C       a.txt\\n"}, TTerminalHold::OnTrouble);
    QVERIFY(R.Finished && R.Held && !R.Conflict);
    QCOMPARE(R.ExitCode, 2);
    QVERIFY(Output().contains("Fehler: der Befehl endete mit dem Code 2."));
    QVERIFY(Output().contains(Enter));
    // Succeeded but the check shows a conflict, in any of svn's three columns: held.
    for (const char* Line : {"C       a.txt", " C      a.txt", "      C a.txt"}) {
        R = Run("exit 0", {"printf", QString::fromLatin1(Line) + "\\n?       neu\\n"},
                TTerminalHold::OnTrouble);
        QVERIFY2(R.Finished && R.Held && R.Conflict, Line);
        QCOMPARE(R.ExitCode, 0);
        QVERIFY(Output().contains("Konflikte"));
    }
    // Succeeded and clean (a summary line has no mark in those columns): closes at once.
    R = Run("echo fertig",
            {"printf", "M       a.txt\\nSummary of conflicts:\\n  Text conflicts: 0\\n"},
            TTerminalHold::OnTrouble);
    QVERIFY(R.Finished && !R.Held && !R.Conflict);
    QCOMPARE(Output(), QStringLiteral("fertig\n"));
    // Never: not even a failure holds it; Always: even success does.
    R = Run("exit 1", {}, TTerminalHold::Never);
    QVERIFY(R.Finished && !R.Held);
    R = Run("true", {}, TTerminalHold::Always);
    QVERIFY(R.Finished && R.Held);

    // The known terminals: their waiting option, their title option, their way to take a
    // command; reached through x-terminal-emulator and through a wrapper.
    const QString Bin = Dir.filePath("bin");
    QDir().mkpath(Bin);
    const QString Args = Dir.filePath("args");
    const QByteArray Record =
        "{ echo \"$0\"; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > '" +
        Args.toLocal8Bit() + "'\n";
    for (const char* T :
         {"gnome-terminal", "xfce4-terminal", "konsole", "xterm", "kitty", "lxterminal"})
        WriteScript(Bin + "/" + T, Record);
    WriteScript(Bin + "/gnome-terminal.wrapper", "exit 9\n");
    qputenv("PATH", QFile::encodeName(Bin) + ":" + Path);
    qunsetenv("TERMINAL");
    auto Recorded = [&](const QString& Link) {
        QFile::remove(Bin + "/x-terminal-emulator");
        QFile::link(Bin + "/" + Link, Bin + "/x-terminal-emulator");
        QFile::remove(Args);
        TTerminalRequest Req;
        Req.Command = {"true"};
        Req.Dir = Dir.path();
        Req.Title = "Titel";
        Req.StartTimeoutMs = 200; // the scripts run nothing
        RunInTerminal(Req);
        QFile F(Args);
        return F.open(QIODevice::ReadOnly) ? QString::fromUtf8(F.readAll()).split(u'\n')
                                           : QStringList();
    };
    QStringList A = Recorded("gnome-terminal.wrapper");
    QCOMPARE(A.value(0), Bin + "/gnome-terminal");
    QCOMPARE(A.mid(1, 4), QStringList({"[--wait]", "[--]", "[sh]", "[-c]"}));
    QVERIFY(A.contains("[Titel]")); // to the wrapper, which sets it by the escape sequence
    A = Recorded("xfce4-terminal");
    QCOMPARE(A.mid(1, 6),
             QStringList({"[--disable-server]", "[--title]", "[Titel]", "[-x]", "[sh]", "[-c]"}));
    QCOMPARE(Recorded("konsole").mid(1, 3), QStringList({"[--nofork]", "[-e]", "[sh]"}));
    QCOMPARE(Recorded("xterm").mid(1, 4), QStringList({"[-T]", "[Titel]", "[-e]", "[sh]"}));
    QCOMPARE(Recorded("kitty").mid(1, 4), QStringList({"[--title]", "[Titel]", "[sh]", "[-c]"}));
    // One that takes one command line: quoted for the shell, the command last in it.
    const QString Line = Recorded("lxterminal").join(u'\n');
    QVERIFY2(Line.contains("\n[--no-remote]\n[--title]\n[Titel]\n[-e]\n['sh' '-c' 'd=$1 "),
             qPrintable(Line));
    QVERIFY(Line.contains("' 'Titel' '") && Line.contains("' 'true']"));
    // $TERMINAL's own options stay, in front of ours.
    qputenv("TERMINAL", "xterm -fa Mono");
    QFile::remove(Args);
    TTerminalRequest Req;
    Req.Command = {"true"};
    Req.StartTimeoutMs = 200;
    RunInTerminal(Req);
    QFile F(Args);
    QVERIFY(F.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(F.readAll()).split(u'\n').mid(1, 3),
             QStringList({"[-fa]", "[Mono]", "[-e]"}));
}

// The search walks the file system that holds the documents; where there is no documents
// folder, the home folder's, even when /home is a file system of its own.
void TestCore::searchStartsOnTheDocumentsFileSystem() {
    const QByteArray OldHome = qgetenv("HOME"), OldConfig = qgetenv("XDG_CONFIG_HOME");
    const auto Restore = qScopeGuard([&] {
        qputenv("HOME", OldHome);
        if (OldConfig.isEmpty())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", OldConfig);
    });
    TTinyDisk Home(64);
    QTemporaryDir Plain;
    const QString HomeDir = Home.Mounted() ? Home.Path(QString()).chopped(1) : Plain.path();
    qputenv("HOME", QFile::encodeName(HomeDir));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(HomeDir + "/.config"));
    QString Documents;
    GetDocumentsFolder(Documents);
    QVERIFY(!QFileInfo(Documents).exists());
    QCOMPARE(SearchStartFolder(), QStorageInfo(HomeDir).rootPath());
    if (Home.Mounted())
        QCOMPARE(SearchStartFolder(), HomeDir); // the mount, not "/"
    // With a documents folder, its file system.
    QVERIFY(QDir().mkpath(Documents));
    QCOMPARE(SearchStartFolder(), QStorageInfo(Documents).rootPath());
}

void TestCore::includeExcludeDelimiter() {
    QCOMPARE(IncludeDirDelimiter("/home/a"), QStringLiteral("/home/a/"));
    QCOMPARE(IncludeDirDelimiter("/home/a/"), QStringLiteral("/home/a/"));
    QCOMPARE(IncludeDirDelimiter(" \t/home/a \r\n"), QStringLiteral("/home/a/"));
    QCOMPARE(IncludeDirDelimiter(""), QStringLiteral("/"));
    QCOMPARE(IncludeDirDelimiter("   "), QStringLiteral("/"));
    QCOMPARE(IncludeDirDelimiter("C:\\x\\"), QStringLiteral("C:\\x\\/"));
    QCOMPARE(ExcludeDirDelimiter("/home/a/"), QStringLiteral("/home/a"));
    QCOMPARE(ExcludeDirDelimiter("/home/a"), QStringLiteral("/home/a"));
    QCOMPARE(ExcludeDirDelimiter("/"), QStringLiteral("/"));
    QCOMPARE(ExcludeDirDelimiter(""), QString());

    QTemporaryDir Dir;
    QVERIFY(DirExists(Dir.path()));
    QVERIFY(!DirExists(""));
    QVERIFY(!DirExists(Dir.filePath("nicht da")));
    QFile File(Dir.filePath("datei"));
    QVERIFY(File.open(QIODevice::WriteOnly));
    File.close();
    QVERIFY(!DirExists(File.fileName()));
    ForceDir(Dir.filePath("a/b c/d"));
    QVERIFY(DirExists(Dir.filePath("a/b c/d")));
}

void TestCore::specialAndUserDataFolders() {
    QTemporaryDir Home;
    const QString Data = Home.filePath("data"), Config = Home.filePath("config");
    qputenv("XDG_DATA_HOME", Data.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", Config.toLocal8Bit());
    QString Path;
    QVERIFY(GetSpecialFolderPath(CSIDL_LOCAL_APPDATA, Path));
    QCOMPARE(Path, Data);
    QVERIFY(GetSpecialFolderPath(CSIDL_APPDATA, Path));
    QCOMPARE(Path, Config);
    QVERIFY(GetDocumentsFolder(Path));
    QVERIFY(!Path.isEmpty());
    QVERIFY(!GetSpecialFolderPath(17, Path));
    QVERIFY(Path.isEmpty());
    QVERIFY(IsVistaOrLater());

    const bool Saved = RoamingMarkerFound;
    RoamingMarkerFound = false;
    QCOMPARE(GetUserDataFolder("Subversion", "KelvaroSoft"), Data + "/KelvaroSoft/Subversion/");
    QVERIFY(DirExists(Data + "/KelvaroSoft/Subversion"));
    QCOMPARE(GetUserDataFolder("", "Firma"), Data + "/Firma/");
    // No company: the bare folder, nothing created, the product ignored.
    QCOMPARE(GetUserDataFolder("Produkt", ""), Data + "/");
    QVERIFY(!QFileInfo::exists(Data + "/Produkt"));
    RoamingMarkerFound = true;
    QCOMPARE(GetUserDataFolder("Subversion", "KelvaroSoft"), Config + "/KelvaroSoft/Subversion/");
    QVERIFY(DirExists(Config + "/KelvaroSoft/Subversion"));
    RoamingMarkerFound = Saved;
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_CONFIG_HOME");
}

void TestCore::roamingMarker() {
    QCOMPARE(ProgramFolder(), QCoreApplication::applicationDirPath() + "/");
    const QString Marker = ProgramFolder() + "Roaming.kiv";
    QVERIFY(!QFileInfo::exists(Marker));
    InitRoamingMarker();
    QVERIFY(!RoamingMarkerFound);
    QVERIFY(QDir().mkdir(Marker)); // a folder of that name does not count
    InitRoamingMarker();
    QVERIFY(!RoamingMarkerFound);
    QVERIFY(QDir().rmdir(Marker));
    QFile File(Marker);
    QVERIFY(File.open(QIODevice::WriteOnly));
    File.close();
    InitRoamingMarker();
    QVERIFY(RoamingMarkerFound);
    QVERIFY(File.remove());
    InitRoamingMarker();
    QVERIFY(!RoamingMarkerFound);
}

void TestCore::fileVersionRecord() {
    // This test program links kiv_core, so it carries the record.
    QCOMPARE(GetFileVersionString(QCoreApplication::applicationFilePath()),
             QStringLiteral("1.3.0.0"));
    // The helper does not link kiv_core; nor do these files carry a record.
    QCOMPARE(GetFileVersionString(Helper), QString());
    QCOMPARE(GetFileVersionString("/nonexistent"), QString());
    QCOMPARE(GetFileVersionString(QDir::tempPath()), QString());
    QTemporaryDir Dir;
    const auto Write = [&](const QByteArray& Bytes) {
        QFile F(Dir.filePath("f.bin"));
        F.open(QIODevice::WriteOnly | QIODevice::Truncate);
        F.write(Bytes);
        return F.fileName();
    };
    QCOMPARE(GetFileVersionString(Write("")), QString());
    // Put together at run time, so that this program's own bytes hold no such record.
    const QByteArray Key = QByteArray(1, '\0') + "KIVFILE" + QByteArray("VERSION=");
    QCOMPARE(GetFileVersionString(Write("xx" + Key + QByteArray(1, '\0') + "yy")), QString());
    QCOMPARE(GetFileVersionString(Write(Key + "1.2")), QString()); // cut off at the end
    QCOMPARE(GetFileVersionString(Write(Key + "1.2.3" + QByteArray(1, '\0'))), QString());
    // A bad record first, a good one after it.
    QCOMPARE(GetFileVersionString(Write(Key + "abc" + Key + "2.10.0.7" + QByteArray(1, '\0'))),
             QStringLiteral("2.10.0.7"));
}

void TestCore::identity() {
    QStringList Lines;
    QCOMPARE(RunCaptured(Lines, "id -un"), 0);
    QCOMPARE(GetLogonUserName(), Lines.value(0));
    QCOMPARE(GetLocalComputerName(), QSysInfo::machineHostName());
    const QString Owner = GetRegisteredOwner();
    QVERIFY(!Owner.isEmpty());
    QVERIFY(!Owner.contains(','));
    Lines.clear();
    RunCaptured(Lines, "getent passwd " + GetLogonUserName());
    const QString Gecos = Lines.value(0).section(':', 4, 4).section(',', 0, 0).trimmed();
    QCOMPARE(Owner, Gecos.isEmpty() ? QStringLiteral("unknown User") : Gecos);

    const EkivOSError E(2);
    QCOMPARE(E.Code, 2);
    QCOMPARE(QString::fromStdString(E.what()),
             QStringLiteral("Systemfehler.  Code: 2.\nDatei oder Verzeichnis nicht gefunden"));
}

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
