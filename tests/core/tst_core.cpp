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
