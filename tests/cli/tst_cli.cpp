// kivsvn as a user or a script runs it: over a small real registry with real working copies,
// its text and JSON output, its options, exit codes and messages.
#include "kiv_test_servers.h"
#include "kiv_test_svn.h"

#include "kiv_monitor.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <QElapsedTimer>
#include <QHash>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace kivtest;

namespace {
const QString Head = QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n");

struct TKivsvn {
    QStringList Out;
    QString Err;
    int Code = -1;
};

TKivsvn Kivsvn(const QStringList& Args) {
    QProcess P;
    P.start(QStringLiteral(KIV_KIVSVN_PATH), Args);
    P.waitForFinished(60000);
    TKivsvn R;
    R.Code = P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
    QString Out = QString::fromUtf8(P.readAllStandardOutput());
    if (Out.endsWith(u'\n'))
        Out.chop(1);
    R.Out = Out.isEmpty() ? QStringList() : Out.split(u'\n');
    R.Err = QString::fromUtf8(P.readAllStandardError());
    return R;
}
} // namespace

class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    QString FUrl, FWc, FReg;

    QString Wc(const QString& Name) const { return FWc + u'/' + Name; }
    QString Project(const QString& Name, const QString& Dir) const {
        return "<Projekt Name=\"" + Name + "\" Verzeichnis=\"" + Dir + "\"/>\r\n";
    }
    void ResetDelta() { Svn({"update", "-q", "-r", "1"}, Wc("delta")); }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid());
        qputenv("LC_ALL", "C");
        const QString T = FTmp.path();
        MakeFourCopies(T, FUrl, FWc);
        QDir().mkpath(Wc("plain"));
        // Groups and projects out of caption order; a folder with blanks around it.
        FReg = T + "/reg.xml";
        WriteFile(FReg, (Head + "<SubVersion Beschreibung=\"x\">\r\n<ProjektGruppe Name=\"Zwei\">\r\n" +
                         Project("gamma", Wc("gamma")) + Project("delta", Wc("delta") + "/") +
                         "</ProjektGruppe>\r\n<ProjektGruppe Name=\"Eins\">\r\n" +
                         Project("beta", Wc("beta")) + Project("fehlt", Wc("fehlt")) +
                         Project("alpha", " " + Wc("alpha") + "/ ") +
                         "</ProjektGruppe>\r\n<ProjektGruppe Name=\"Leer\"/>\r\n</SubVersion>\r\n")
                            .toUtf8());
    }

    // The memo's lines, in the tree's order, and the exit code that says whether all went well.
    void textOutputAndExitCodes() {
        TKivsvn R = Kivsvn({"status", "Eins/beta", "--registry", FReg});
        QCOMPARE(R.Out, QStringList({"*** Testen auf Änderungen", "--> " + Wc("beta"),
                                     "M       datei.txt", "*** Ende"}));
        QCOMPARE(R.Code, 0);
        R = Kivsvn({"status", "Zwei", "--short", "--jobs", "1", "--registry", FReg});
        QCOMPARE(R.Out, QStringList({"*** Testen auf Änderungen", "--> " + Wc("gamma"),
                                     "?       neu.txt", "*** Ende"}));
        QCOMPARE(R.Code, 0);
        // After "--" a word that looks like an option is an entry (here one that is not there).
        QVERIFY(Kivsvn({"--registry", FReg, "--", "status", "--short"}).Err.contains("»--short«"));
        R = Kivsvn({"--short", "status", "--registry=" + FReg});
        QCOMPARE(R.Out, QStringList({"*** Testen auf Änderungen", "--> " + Wc("beta"),
                                     "M       datei.txt", "--> " + Wc("fehlt"),
                                     "Verzeichnis nicht gefunden", "--> " + Wc("gamma"),
                                     "?       neu.txt", "*** Ende"}));
        QCOMPARE(R.Code, 1); // a missing folder is a failure
        ResetDelta();
        R = Kivsvn({"update", "Zwei/delta", "--registry", FReg});
        QCOMPARE(R.Out, QStringList({"*** Aktualisieren", "--> " + Wc("delta"), "U    datei.txt",
                                     "Updated to revision 2.", "*** Ende"}));
        QCOMPARE(R.Code, 0);
        R = Kivsvn({"info", "Eins/beta", "--registry", FReg});
        QCOMPARE(R.Code, 0);
        QCOMPARE(R.Out.value(0), QStringLiteral("*** Info"));
        QCOMPARE(R.Out.value(1), "--> " + Wc("beta"));
        QVERIFY(R.Out.contains("URL: " + FUrl + "/beta"));
        QVERIFY(R.Out.contains("Path: ."));
        QCOMPARE(R.Out.last(), QStringLiteral("*** Ende"));

        // A folder that is no working copy fails, with svn's own warning.
        const QString Plain = FTmp.path() + "/plain.xml";
        WriteFile(Plain, (Head + "<SubVersion>" + Project("p", Wc("plain")) + "</SubVersion>")
                             .toUtf8());
        R = Kivsvn({"status", "--registry", Plain});
        QCOMPARE(R.Code, 1);
        QVERIFY(R.Out.join(u'\n').contains("W155007"));

        // Wrong usage and unreadable registries: a message on standard error, nothing on
        // standard output, exit code 2, and the registry only read.
        const QByteArray Before = ReadFile(FReg);
        const QString Broken = FTmp.path() + "/broken.xml";
        WriteFile(Broken, "<?xml version=\"1.0\"?>\r\n<SubVersion>\r\n");
        const QString TwoRoots = FTmp.path() + "/two.xml";
        WriteFile(TwoRoots, (Head + "<SubVersion/>\r\n<Projekt Name=\"Alt\" Verzeichnis=\"/tmp\"/>")
                                .toUtf8());
        for (const QStringList& Bad :
             {QStringList{"status", "Nix", "--registry", FReg},
              QStringList{"commit", "--registry", FReg},
              QStringList{"status", "--jobs", "0", "--registry", FReg},
              QStringList{"status", "--timeout", "x", "--registry", FReg},
              QStringList{"status", "--format", "xml", "--registry", FReg},
              QStringList{"update", "-u", "--registry", FReg},
              QStringList{"status", "--bogus", "--registry", FReg},
              QStringList{"status", "--registry", FReg + ".nix"},
              QStringList{"status", "--registry", Broken},
              QStringList{"status", "--registry", TwoRoots},
              QStringList{"status", "--registry", FTmp.path()},
              QStringList{"search", FTmp.path() + "/nirgends", "--registry", FReg},
              QStringList{"status", "--registry", FReg, "--", "-u"}, QStringList{}}) {
            R = Kivsvn(Bad);
            QVERIFY2(R.Out.isEmpty(), qPrintable(Bad.join(' ')));
            QCOMPARE(R.Code, 2);
            QVERIFY2(R.Err.startsWith("kivsvn: "), qPrintable(R.Err));
        }
        QCOMPARE(ReadFile(FReg), Before);
    }

    // On a German system the client's messages stay English (the short display reads them),
    // while file names keep the user's character set.
    void germanSystem() {
        QProcess L;
        L.start("locale", {"-a"});
        L.waitForFinished();
        const QString Locales = QString::fromLocal8Bit(L.readAll());
        if (!Locales.contains("de_DE.utf8") && !Locales.contains("de_DE.UTF-8"))
            QSKIP("the German locale de_DE.UTF-8 is not installed (package locales)");
        WriteFile(Wc("gamma") + QStringLiteral("/\u00e4rger.txt"), "\u00e4\n");
        auto German = [&](const QStringList& Args) {
            QProcess P;
            QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
            Env.insert("LC_ALL", "de_DE.UTF-8");
            Env.insert("LANG", "de_DE.UTF-8");
            Env.insert("LANGUAGE", "de");
            P.setProcessEnvironment(Env);
            P.start(QStringLiteral(KIV_KIVSVN_PATH), Args);
            P.waitForFinished(60000);
            return QString::fromUtf8(P.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        };
        // Everything current: the short display shows nothing but the missing folder.
        Svn({"update", "-q"}, Wc("delta"));
        QCOMPARE(German({"update", "--short", "--registry", FReg}),
                 QStringList({"*** Aktualisieren", "--> " + Wc("fehlt"),
                              "Verzeichnis nicht gefunden", "*** Ende"}));
        const QStringList Status = German({"status", "Zwei/gamma", "--registry", FReg});
        QVERIFY2(Status.contains(QStringLiteral("?       \u00e4rger.txt")), qPrintable(Status.join('|')));
        QFile::remove(Wc("gamma") + QStringLiteral("/\u00e4rger.txt"));
    }

    // One JSON object per project and line, in tree order, read with a real JSON reader.
    void jsonOutput() {
        ResetDelta();
        const TKivsvn R = Kivsvn({"--format", "json", "update", "--registry", FReg});
        QCOMPARE(R.Code, 1); // "fehlt" is missing
        QStringList Paths;
        QHash<QString, QJsonObject> ByPath;
        for (const QString& Line : R.Out) {
            QJsonParseError E;
            const QJsonDocument D = QJsonDocument::fromJson(Line.toUtf8(), &E);
            QVERIFY2(E.error == QJsonParseError::NoError && D.isObject(), qPrintable(Line));
            const QJsonObject O = D.object();
            Paths << O.value("path").toString();
            ByPath.insert(O.value("path").toString(), O);
            QCOMPARE(O.value("task").toString(), QStringLiteral("update"));
            QVERIFY(O.value("lines").isArray());
        }
        QCOMPARE(Paths, QStringList({"Eins/alpha", "Eins/beta", "Eins/fehlt", "Zwei/delta",
                                     "Zwei/gamma"}));
        QCOMPARE(ByPath["Zwei/delta"].value("state").toString(), QStringLiteral("updated"));
        QCOMPARE(ByPath["Zwei/delta"].value("files").toInt(), 1);
        QCOMPARE(ByPath["Zwei/delta"].value("folder").toString(), Wc("delta"));
        QCOMPARE(ByPath["Zwei/delta"].value("lines").toArray().first().toString(),
                 QStringLiteral("Updating '.':"));
        QCOMPARE(ByPath["Eins/alpha"].value("state").toString(), QStringLiteral("current"));
        QCOMPARE(ByPath["Eins/alpha"].value("folder").toString(), Wc("alpha"));
        QCOMPARE(ByPath["Eins/fehlt"].value("state").toString(), QStringLiteral("missing"));
        QCOMPARE(ByPath["Eins/alpha"].value("exitCode").toInt(), 0);

        const TKivsvn S = Kivsvn({"status", "Eins", "--format=json", "--registry", FReg});
        QCOMPARE(S.Out.size(), 3);
        const QJsonObject Beta = QJsonDocument::fromJson(S.Out[1].toUtf8()).object();
        QCOMPARE(Beta.value("state").toString(), QStringLiteral("changes"));
        QCOMPARE(Beta.value("lines").toArray().first().toString(),
                 QStringLiteral("M       datei.txt"));
    }

    void helpAndVersion() {
        TKivsvn R = Kivsvn({"--help"});
        QCOMPARE(R.Code, 0);
        const QString Help = R.Out.join(u'\n');
        for (const char* Word : {"status", "update", "info", "search", "--short", "--jobs",
                                 "--timeout", "--format", "--registry", "--show-updates",
                                 "--help", "--version", "Rückgabewert"})
            QVERIFY2(Help.contains(QString::fromUtf8(Word)), Word);
        R = Kivsvn({"-V"});
        QCOMPARE(R.Code, 0);
        QCOMPARE(R.Out, QStringList{QStringLiteral("kivsvn 1.3.0.0")});
    }

    // The command-line tool needs no window system: it links no Widgets and no Gui.
    void linksNoWindowLibraries() {
        if (QStandardPaths::findExecutable("ldd").isEmpty())
            QSKIP("ldd is not installed");
        QProcess P;
        P.start("ldd", {QStringLiteral(KIV_KIVSVN_PATH)});
        QVERIFY(P.waitForFinished());
        const QString Libs = QString::fromLocal8Bit(P.readAll());
        QVERIFY(Libs.contains("Qt6Core"));
        QVERIFY2(!Libs.contains("Qt6Widgets") && !Libs.contains("Qt6Gui") &&
                     !Libs.contains("Qt6DBus"),
                 qPrintable(Libs));
    }

    // SIGTERM or SIGINT during an update: kivsvn cancels as the window does, interrupting the
    // running update at once, and ends only when its clients are gone, leaving the copy
    // unlocked.
    void signalsCancelLikeTheWindow() {
        const QString Repo = FTmp.path() + "/served";
        Svn({"create", Repo}, QString(), QStringLiteral("svnadmin"));
        TSvnServe Server(Repo, false);
        if (!Server.Running())
            QSKIP(qPrintable(Server.Why()));
        const QString Wc = FTmp.path() + "/served-wc";
        Svn({"checkout", "-q", Server.Url(), Wc});
        Server.Stop();
        TSilentServer Silent(Server.Port());
        QVERIFY(Silent.Listening());
        const QString Reg = FTmp.path() + "/served.xml";
        WriteFile(Reg, (Head + "<SubVersion>" + Project("s", Wc) + "</SubVersion>").toUtf8());
        for (const int Signal : {SIGTERM, SIGINT}) {
            QProcess P;
            P.start(QStringLiteral(KIV_KIVSVN_PATH), {"update", "--registry", Reg});
            QVERIFY(P.waitForStarted());
            QTest::qWait(800);
            ::kill(pid_t(P.processId()), Signal);
            QVERIFY(P.waitForFinished(10000));
            QCOMPARE(P.exitStatus(), QProcess::NormalExit);
            QCOMPARE(P.exitCode(), 1);
            const QString Out = QString::fromUtf8(P.readAllStandardOutput());
            QVERIFY2(Out.endsWith("*** Abgebrochen\n"), qPrintable(Out));
            QVERIFY2(Out.contains(QStringLiteral("Abgebrochen, während svn diese Arbeitskopie "
                                                 "aktualisierte.")),
                     qPrintable(Out));
            QVERIFY(QString::fromUtf8(P.readAllStandardError()).contains("Abbruch"));
            // No client is left behind, and the copy is free.
            QProcess Ps;
            Ps.start("ps", {"-eo", "args"});
            QVERIFY(Ps.waitForFinished());
            QVERIFY(!QString::fromLocal8Bit(Ps.readAll()).contains("update --non-interactive " + Wc));
            for (const QString& L : RunIn(Wc, {"status"}))
                QVERIFY2(!(L.size() > 2 && L.at(2) == u'L'), qPrintable(L));
        }
    }

    // kivsvn watch: a line per project after the first check, then one per change of a
    // state (a file saved, reverted; new revisions on the server with their log), as text or
    // JSON with the keys of a run's line and the time; the store is fed meanwhile.
    void watchTellsChanges() {
        const QByteArray OldCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(FTmp.path() + "/cache-watch"));
        qputenv(MonitorSecondsVariable, "1");
        ResetDelta();
        QProcess P;
        P.start(QStringLiteral(KIV_KIVSVN_PATH),
                {"watch", "--format", "json", "--monitor", "5", "--registry", FReg});
        QVERIFY(P.waitForStarted());
        QHash<QString, QJsonObject> Last; // path -> its last line
        QList<QJsonObject> All;
        auto Read = [&](const std::function<bool()>& Done, int Ms) {
            QElapsedTimer Clock;
            Clock.start();
            while (!Done() && Clock.elapsed() < Ms) {
                P.waitForReadyRead(100);
                while (P.canReadLine()) {
                    const QJsonObject J = QJsonDocument::fromJson(P.readLine()).object();
                    All << J;
                    Last.insert(J.value("path").toString(), J);
                }
            }
            return Done();
        };
        QVERIFY(Read([&] { return Last.size() == 5; }, 20000));
        for (const char* Key :
             {"path", "name", "folder", "task", "state", "exitCode", "notes", "lines", "time"})
            QVERIFY2(All.first().contains(QLatin1String(Key)), Key);
        QCOMPARE(Last.value("Eins/beta").value("state").toString(), QStringLiteral("changes"));
        QCOMPARE(Last.value("Eins/alpha").value("state").toString(), QStringLiteral("clean"));
        QCOMPARE(Last.value("Eins/fehlt").value("state").toString(), QStringLiteral("missing"));
        QVERIFY(QDateTime::fromString(All.first().value("time").toString(), Qt::ISODate).isValid());
        // The monitor finds delta a revision behind, with the log entry.
        QVERIFY(Read([&] { return Last.value("Zwei/delta").value("state") == "outdated"; }, 20000));
        const QJsonObject Delta = Last.value("Zwei/delta");
        QCOMPARE(Delta.value("newRevisions").toInt(), 1);
        QCOMPARE(Delta.value("log").toArray().at(0).toObject().value("message").toString(),
                 QStringLiteral("zwei"));

        const int Before = int(All.size());
        WriteFile(Wc("alpha") + "/datei.txt", "geändert\n");
        QVERIFY(Read([&] { return Last.value("Eins/alpha").value("state") == "changes"; }, 5000));
        QCOMPARE(Last.value("Eins/alpha").value("lines").toArray().at(0).toString(),
                 QStringLiteral("M       datei.txt"));
        Svn({"revert", "-q", Wc("alpha") + "/datei.txt"});
        QVERIFY(Read([&] { return Last.value("Eins/alpha").value("state") == "clean"; }, 5000));
        // Only what changed was told: alpha twice, and nothing else meanwhile.
        QTest::qWait(1500);
        Read([] { return false; }, 100);
        QCOMPARE(int(All.size()) - Before, 2);

        ::kill(pid_t(P.processId()), SIGTERM);
        QVERIFY(P.waitForFinished(10000));
        QCOMPARE(P.exitStatus(), QProcess::NormalExit);
        QCOMPARE(P.exitCode(), 0);
        // What it found is in the store, for kivsvn state and the window.
        const TKivsvn S = Kivsvn({"state", "Zwei/delta", "--registry", FReg});
        QVERIFY2(S.Out.value(0).startsWith("Zwei/delta: veraltet (1 neue Revision)"),
                 qPrintable(S.Out.join(u'\n')));
        qunsetenv(MonitorSecondsVariable);
        qputenv("XDG_CACHE_HOME", OldCache);
    }

    // kivsvn watch ends on SIGINT and SIGTERM, and when its reader goes while nothing is
    // written, also with a client waiting for a server that never answers: none is left.
    void watchEndsCleanly() {
        const QString Repo = FTmp.path() + "/watched";
        Svn({"create", Repo}, QString(), QStringLiteral("svnadmin"));
        TSvnServe Server(Repo, false);
        if (!Server.Running())
            QSKIP(qPrintable(Server.Why()));
        const QString Copy = FTmp.path() + "/watched-wc";
        Svn({"checkout", "-q", Server.Url(), Copy});
        Server.Stop();
        TSilentServer Silent(Server.Port());
        QVERIFY(Silent.Listening());
        const QString Reg = FTmp.path() + "/watched.xml";
        WriteFile(Reg, (Head + "<SubVersion>" + Project("s", Copy) + "</SubVersion>").toUtf8());
        qputenv(MonitorSecondsVariable, "1");
        // A client for the copy: one running in it, or given it.
        auto NoClient = [&] {
            const QString Real = QFileInfo(Copy).canonicalFilePath();
            for (const QString& Pid : QDir("/proc").entryList(QDir::Dirs)) {
                if (Pid.toInt() <= 0)
                    continue;
                const QString Cmd = QString::fromLocal8Bit(ReadFile("/proc/" + Pid + "/cmdline"));
                if (!Cmd.startsWith("svn"))
                    continue;
                if (QFileInfo("/proc/" + Pid + "/cwd").canonicalFilePath() == Real ||
                    Cmd.contains(Real))
                    return false;
            }
            return true;
        };
        for (const int Signal : {SIGTERM, SIGINT}) {
            QProcess P;
            P.start(QStringLiteral(KIV_KIVSVN_PATH),
                    {"watch", "--monitor", "1", "--registry", Reg});
            QVERIFY(P.waitForStarted());
            // The first line, then the monitor's client waits for the silent server.
            QVERIFY(P.waitForReadyRead(20000));
            QTRY_VERIFY_WITH_TIMEOUT(!NoClient(), 10000);
            ::kill(pid_t(P.processId()), Signal);
            QVERIFY(P.waitForFinished(10000));
            QCOMPARE(P.exitStatus(), QProcess::NormalExit);
            QCOMPARE(P.exitCode(), 0);
            QVERIFY(NoClient());
        }
        // The reader goes away while nothing changes: kivsvn notices at once, not at its next
        // line.
        QProcess P;
        P.start("bash", {"-c", QStringLiteral("'%1' watch --registry '%2' | head -1; "
                                              "echo \"rc=${PIPESTATUS[0]}\"")
                                   .arg(QStringLiteral(KIV_KIVSVN_PATH), Reg)});
        QVERIFY(P.waitForFinished(20000));
        const QStringList Out = QString::fromUtf8(P.readAllStandardOutput()).trimmed().split(u'\n');
        QCOMPARE(Out.size(), 2);
        QVERIFY2(Out[0].endsWith(" s: keine Änderungen"), qPrintable(Out[0]));
        QCOMPARE(Out[1], QStringLiteral("rc=0"));
        QVERIFY(NoClient());
        QCOMPARE(Kivsvn({"status", "--monitor", "3", "--registry", Reg}).Code, 2);
        qunsetenv(MonitorSecondsVariable);
    }

    // What the last runs found, told without running svn: in a line per project or as JSON,
    // also by a new kivsvn that never ran these projects itself; never-checked projects say so.
    void storedState() {
        const QByteArray OldCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(FTmp.path() + "/cache-state"));
        TKivsvn R = Kivsvn({"state", "Eins", "--registry", FReg});
        QCOMPARE(R.Code, 0);
        QCOMPARE(R.Out, QStringList({"Eins/alpha: noch nie geprüft", "Eins/beta: noch nie geprüft",
                                     "Eins/fehlt: noch nie geprüft"}));
        QCOMPARE(Kivsvn({"status", "Eins", "--registry", FReg}).Code, 1);
        R = Kivsvn({"state", "Eins", "--registry", FReg});
        QCOMPARE(R.Code, 1); // the missing folder is a failure, as in the run
        QCOMPARE(R.Out.size(), 3);
        QVERIFY2(QRegularExpression("^Eins/beta: lokale Änderungen – Testen auf Änderungen am "
                                    "\\d\\d\\.\\d\\d\\.\\d{4} um \\d\\d:\\d\\d$")
                     .match(R.Out[1])
                     .hasMatch(),
                 qPrintable(R.Out[1]));
        QVERIFY(R.Out[2].startsWith("Eins/fehlt: Verzeichnis fehlt"));
        R = Kivsvn({"state", "--short", "--registry", FReg});
        QCOMPARE(R.Out.size(), 2); // beta and the missing one need a look; the rest not
        R = Kivsvn({"state", "--format", "json", "--registry", FReg});
        QCOMPARE(R.Out.size(), 5);
        for (const QString& L : R.Out) {
            const QJsonObject J = QJsonDocument::fromJson(L.toUtf8()).object();
            const QString Path = J.value("path").toString();
            if (Path.startsWith("Zwei/")) {
                QVERIFY(J.value("state").isNull());
                continue;
            }
            QVERIFY(J.contains("lines") && J.contains("notes") && J.contains("exitCode"));
            QCOMPARE(J.value("task").toString(), QStringLiteral("status"));
            QVERIFY(QDateTime::fromString(J.value("time").toString(), Qt::ISODate).isValid());
            if (Path == u"Eins/beta") {
                QCOMPARE(J.value("state").toString(), QStringLiteral("changes"));
                QCOMPARE(J.value("lines").toArray().at(0).toString(),
                         QStringLiteral("M       datei.txt"));
            }
        }
        qputenv("XDG_CACHE_HOME", OldCache);
    }

    // Output that goes away ("kivsvn update | head -1") ends the run as SIGTERM does: no
    // death by SIGPIPE, no client left running, no copy locked.
    void closedOutputEndsTheRun() {
        ResetDelta();
        QProcess P;
        P.start("bash", {"-c", QStringLiteral("'%1' update --jobs 1 --registry '%2' | head -1; "
                                              "echo \"rc=${PIPESTATUS[0]}\"")
                                   .arg(QStringLiteral(KIV_KIVSVN_PATH), FReg)});
        QVERIFY(P.waitForFinished(60000));
        const QStringList Out = QString::fromUtf8(P.readAllStandardOutput()).trimmed().split(u'\n');
        QCOMPARE(Out, QStringList({"*** Aktualisieren", "rc=1"}));
        QProcess Ps;
        Ps.start("ps", {"-eo", "args"});
        QVERIFY(Ps.waitForFinished());
        // (Other tests may run updates of their own meanwhile: only these copies count.)
        for (const QString& L : QString::fromLocal8Bit(Ps.readAll()).split(u'\n'))
            QVERIFY2(!(L.contains("update --non-interactive") && L.contains(FWc)), qPrintable(L));
        for (const char* C : {"alpha", "beta", "gamma", "delta"})
            for (const QString& L : RunIn(Wc(C), {"status"}))
                QVERIFY2(!(L.size() > 2 && L.at(2) == u'L'), qPrintable(L));
        ResetDelta();
    }

    // Paths outside ASCII work without a UTF-8 locale (LANG=C, or none, as under cron); every
    // line of a client that prints without end reaches the output; a client that cannot be
    // started names the cause.
    void hostileEnvironments() {
        const QString Umlaut = FTmp.path() + QStringLiteral("/Müller Übersicht");
        qputenv("LC_ALL", "C.UTF-8"); // the fixture's own client needs one
        Svn({"checkout", "-q", FUrl + "/alpha", Umlaut});
        qputenv("LC_ALL", "C");
        const QString Reg = FTmp.path() + "/umlaut.xml";
        QFile F(Reg);
        QVERIFY(F.open(QIODevice::WriteOnly));
        F.write(Head.toLatin1() + "<SubVersion><Projekt Name=\"m\" Verzeichnis=\"" +
                Umlaut.toLatin1() + "\"/></SubVersion>\r\n");
        F.close();
        for (const char* Env : {"LANG=C", "LANG="}) {
            QProcess P;
            P.start("env", {"-u", "LC_ALL", "-u", "LC_CTYPE", Env, QStringLiteral(KIV_KIVSVN_PATH),
                            "status", "--registry", Reg});
            QVERIFY(P.waitForFinished(30000));
            const QString Out = QString::fromUtf8(P.readAll());
            QVERIFY2(P.exitCode() == 0 && !Out.contains("E000022"), qPrintable(Out));
        }

        const QString Bin = FTmp.path() + "/flood";
        WriteFile(Bin + "/svn", "#!/bin/sh\nseq -f '?       obj%g.o' 1 70000\n");
        QFile::setPermissions(Bin + "/svn", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray Path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(Bin) + ':' + Path);
        TKivsvn R = Kivsvn({"status", "Eins/beta", "--registry", FReg});
        QCOMPARE(R.Out.size(), 70003);
        QCOMPARE(R.Out.at(70001), QStringLiteral("?       obj70000.o"));
        R = Kivsvn({"status", "Eins/beta", "--format", "json", "--registry", FReg});
        QCOMPARE(R.Out.size(), 1);
        const QJsonObject J = QJsonDocument::fromJson(R.Out[0].toUtf8()).object();
        QCOMPARE(J.value("lines").toArray().size(), 70000);
        QCOMPARE(J.value("state").toString(), QStringLiteral("changes"));
        qputenv("PATH", Path);

        // Too few file descriptors for the clients: the cause, not only the fact.
        QProcess P;
        P.start("bash", {"-c", QStringLiteral("ulimit -n 6; exec '%1' status --jobs 4 --registry '%2'")
                                   .arg(QStringLiteral(KIV_KIVSVN_PATH), FReg)});
        QVERIFY(P.waitForFinished(30000));
        const QString Out = QString::fromUtf8(P.readAll());
        QVERIFY2(Out.contains("svn konnte nicht gestartet werden: zu viele offene Dateien"),
                 qPrintable(Out));
    }

    // Folders a client cannot run in say what is wrong with them: no access, a path longer than
    // the system takes, nothing there.
    void folderProblemsAreNamed() {
        const QString Base = FTmp.path() + "/probleme";
        QDir().mkpath(Base + "/zu");
        QVERIFY(QFile::setPermissions(Base + "/zu", QFileDevice::Permissions()));
        QString Long = Base + "/lang";
        QDir().mkpath(Long);
        {
            const QString Back = QDir::currentPath();
            QVERIFY(QDir::setCurrent(Long));
            while (QFile::encodeName(Long).size() < 5000) {
                const QString Step(200, u'd');
                QVERIFY(QDir().mkdir(Step) && QDir::setCurrent(Step));
                Long += u'/' + Step;
            }
            QVERIFY(QDir::setCurrent(Back));
        }
        const QString Reg = Base + "/reg.xml";
        WriteFile(Reg, (Head + "<SubVersion>" + Project("a", Base + "/zu") + Project("b", Long) +
                        Project("c", Base + "/weg") + "</SubVersion>")
                           .toUtf8());
        // Root may enter any folder: the test then runs kivsvn as nobody, as a user would be.
        QStringList Args{"status", "--registry", Reg};
        QString Program = QStringLiteral(KIV_KIVSVN_PATH);
        if (geteuid() == 0) {
            if (QStandardPaths::findExecutable("setpriv").isEmpty())
                QSKIP("setpriv is not installed: cannot run as another user");
            for (QString D = Base; D.size() > 1; D = QFileInfo(D).path())
                QFile::setPermissions(D, QFile::permissions(D) | QFile::ExeOther | QFile::ReadOther);
            for (QString D = QFileInfo(Program).path(); D.size() > 1; D = QFileInfo(D).path())
                QFile::setPermissions(D, QFile::permissions(D) | QFile::ExeOther | QFile::ReadOther);
            QFile::setPermissions(Reg, QFile::permissions(Reg) | QFile::ReadOther);
            Args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", Program} + Args;
            Program = "setpriv";
        }
        QProcess P;
        P.start(Program, Args);
        QVERIFY(P.waitForFinished(30000));
        const QStringList Out = QString::fromUtf8(P.readAllStandardOutput()).split(u'\n');
        QCOMPARE(P.exitCode(), 1);
        QVERIFY2(Out.contains("Kein Zugriff auf das Verzeichnis (fehlende Leserechte)"),
                 qPrintable(Out.join(u'|') + QString::fromUtf8(P.readAllStandardError())));
        QVERIFY(Out.contains(QStringLiteral("Verzeichnis nicht gefunden")));
        bool TooLong = false;
        for (const QString& L : Out)
            TooLong = TooLong || L.startsWith(QStringLiteral("Der Pfad ist zu lang für das System ("));
        QVERIFY2(TooLong, qPrintable(Out.join(u'|')));
        QVERIFY(!Out.join(u'|').contains(QStringLiteral("svn konnte nicht gestartet werden")));
        QFile::setPermissions(Base + "/zu", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcess Rm;
        Rm.start("rm", {"-rf", Base + "/lang"});
        QVERIFY(Rm.waitForFinished());
    }

    // Issue 20, data loss: a registry that declares UTF-8 is read as such, one that names an
    // attribute twice is refused with the line, links that lead nowhere are named.
    void dataLossRoundThree() {
        const QString T = FTmp.path() + "/runde3";
        const QString Utf8 = T + "/utf8.xml";
        WriteFile(Utf8, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SubVersion>\r\n"
                        "<ProjektGruppe Name=\"M\xc3\xbcller\">" +
                            Project("alpha", Wc("alpha")).toUtf8() +
                            "</ProjektGruppe>\r\n</SubVersion>\r\n");
        TKivsvn R = Kivsvn({"--format", "json", "status", "Müller/alpha", "--registry", Utf8});
        QCOMPARE(R.Code, 0);
        QCOMPARE(QJsonDocument::fromJson(R.Out.value(0).toUtf8()).object().value("path").toString(),
                 QStringLiteral("Müller/alpha"));
        const QString Twice = T + "/twice.xml";
        WriteFile(Twice, (Head + "<SubVersion>\r\n<Projekt Name=\"a\" Name=\"b\" Verzeichnis=\"" +
                          Wc("alpha") + "\"/>\r\n</SubVersion>\r\n")
                             .toUtf8());
        R = Kivsvn({"status", "--registry", Twice});
        QCOMPARE(R.Code, 2);
        QVERIFY(R.Out.isEmpty());
        QVERIFY2(R.Err.contains("(Zeile 3)") && R.Err.contains("»Name« zweimal"),
                 qPrintable(R.Err));
        QVERIFY(QFile::link(T + "/nirgends.xml", T + "/dangling.xml"));
        QVERIFY(QFile::link(T + "/loop-b.xml", T + "/loop-a.xml"));
        QVERIFY(QFile::link(T + "/loop-a.xml", T + "/loop-b.xml"));
        for (const QString& Task : {QStringLiteral("status"), QStringLiteral("search")}) {
            const QStringList Args =
                Task == u"search" ? QStringList{"search", T} : QStringList{"status"};
            R = Kivsvn(Args + QStringList{"--registry", T + "/dangling.xml"});
            QCOMPARE(R.Code, 2);
            QVERIFY2(R.Err.contains("symbolische Verknüpfung auf »" + T +
                                    "/nirgends.xml«, das es nicht gibt"),
                     qPrintable(R.Err));
            R = Kivsvn(Args + QStringList{"--registry", T + "/loop-a.xml"});
            QCOMPARE(R.Code, 2);
            QVERIFY2(R.Err.contains("im Kreis"), qPrintable(R.Err));
        }
        QVERIFY(QFileInfo(T + "/dangling.xml").isSymLink());
    }

    // Issue 20, hangs: a registry that is no file is refused at once, without blocking, in
    // German, by every command.
    void hangsRoundThree() {
        const QString T = FTmp.path() + "/runde3-haengt";
        QDir().mkpath(T);
        QCOMPARE(mkfifo(QFile::encodeName(T + "/fifo.xml").constData(), 0600), 0);
        {
            QFile Big(T + "/gross.xml");
            QVERIFY(Big.open(QIODevice::WriteOnly));
            QVERIFY(Big.resize(qint64(300) * 1024 * 1024)); // sparse
        }
        const QList<QPair<QString, QString>> Cases{
            {T + "/fifo.xml", "sie ist eine benannte Pipe (FIFO), keine gewöhnliche Datei"},
            {"/dev/zero", "sie ist ein Gerät, keine gewöhnliche Datei"},
            {T + "/gross.xml", "sie ist 300 MB groß; gelesen werden höchstens 128 MB"}};
        QElapsedTimer Took;
        Took.start();
        for (const auto& [Registry, Reason] : Cases) {
            for (const QStringList& Args :
                 {QStringList{"status"}, QStringList{"info", "Eins"}, QStringList{"search", T}}) {
                const TKivsvn R = Kivsvn(Args + QStringList{"--registry", Registry});
                QCOMPARE(R.Code, 2);
                QVERIFY(R.Out.isEmpty());
                QVERIFY2(R.Err.contains(Reason), qPrintable(R.Err));
            }
        }
        QVERIFY(Took.elapsed() < 10000);
    }

    // Issue 20, wrong results: entries that name nothing or more than one node, options and
    // settings out of range, and German reasons.
    void wrongResultsRoundThree() {
        const QString T = FTmp.path() + "/runde3-namen";
        const QString Reg = T + "/reg.xml";
        WriteFile(Reg,
                  (Head +
                   "<SubVersion Zeitlimit=\"4294968\" Jobs=\"1000\">\r\n"
                   "<ProjektGruppe Name=\"Kunden/Alt\">" +
                   Project("alpha", Wc("alpha")) +
                   "</ProjektGruppe>\r\n<ProjektGruppe Name=\"K\">" + Project("beta", Wc("beta")) +
                   "</ProjektGruppe><ProjektGruppe Name=\"k\"/>\r\n"
                   "<ProjektGruppe Name=\"Farbe\x1b[31m\">" +
                   Project("gamma", Wc("gamma")) + "</ProjektGruppe>\r\n</SubVersion>\r\n")
                      .toUtf8());
        // An empty entry, or one of "/" only, is no entry: the whole list is not meant.
        for (const QString& Entry : {QString(), QStringLiteral("/"), QStringLiteral("///")}) {
            const TKivsvn R = Kivsvn({"update", Entry, "--registry", Reg});
            QCOMPARE(R.Code, 2);
            QVERIFY(R.Out.isEmpty());
            QVERIFY2(R.Err.contains("für alle Projekte keinen Eintrag angeben"), qPrintable(R.Err));
        }
        for (const QStringList& Args :
             {QStringList{"status", "--registry", ""}, QStringList{"status", "--registry="},
              QStringList{"status", "--registry"}}) {
            const TKivsvn R = Kivsvn(Args);
            QCOMPARE(R.Code, 2);
            QVERIFY2(R.Err.startsWith("kivsvn: --registry erwartet"), qPrintable(R.Err));
        }
        // A name with "/" is addressed as it is written; letter case counts as in the window;
        // siblings of one name are refused.
        TKivsvn R = Kivsvn({"--format=json", "status", "kunden/alt/ALPHA", "--registry", Reg});
        QCOMPARE(R.Out.size(), 1);
        QCOMPARE(QJsonDocument::fromJson(R.Out[0].toUtf8()).object().value("path").toString(),
                 QStringLiteral("Kunden/Alt/alpha"));
        QVERIFY2(R.Err.contains("»Jobs« der Projektliste (»1000«)") &&
                     R.Err.contains("»Zeitlimit« der Projektliste (»4294968«)"),
                 qPrintable(R.Err));
        R = Kivsvn({"status", "/Kunden/Alt/", "--registry", Reg, "--jobs", "2", "--timeout", "60"});
        QCOMPARE(R.Out.value(1), "--> " + Wc("alpha"));
        QVERIFY(R.Err.isEmpty());
        R = Kivsvn({"status", "K", "--registry", Reg});
        QCOMPARE(R.Code, 2);
        QVERIFY2(R.Err.contains("passt auf 2 Einträge"), qPrintable(R.Err));
        // A control character read from the file is dropped like a NUL.
        R = Kivsvn({"--format=json", "status", "Farbe[31m", "--registry", Reg, "--jobs", "1"});
        QCOMPARE(QJsonDocument::fromJson(R.Out.value(0).toUtf8()).object().value("path").toString(),
                 QStringLiteral("Farbe[31m/gamma"));
        // Limits: no wrap, no silent "no limit", a sane number of clients.
        for (const QStringList& Args :
             {QStringList{"--timeout", "4294968"}, QStringList{"--timeout", "2147484"},
              QStringList{"--timeout", "0"}, QStringList{"--timeout=99999999999999999999"},
              QStringList{"--jobs", "65"}, QStringList{"--jobs", "1000000"},
              QStringList{"--jobs=-1"}}) {
            R = Kivsvn(QStringList{"status", "--registry", Reg} + Args);
            QCOMPARE(R.Code, 2);
            QVERIFY2(R.Err.contains(Args.join(' ').startsWith("--t") ? "von 1 bis 86400"
                                                                     : "von 1 bis 64"),
                     qPrintable(R.Err));
        }
        QCOMPARE(Kivsvn({"status", "Kunden/Alt", "--registry", Reg, "--timeout", "86400", "--jobs",
                         "64"})
                     .Code,
                 0);
        // A registry nobody may read: the reason in German, whatever the locale (C here).
        QFile::setPermissions(Reg, QFile::ReadOwner | QFile::WriteOwner);
        QStringList Args{"status", "--registry", Reg};
        QString Program = QStringLiteral(KIV_KIVSVN_PATH);
        if (geteuid() == 0) {
            if (QStandardPaths::findExecutable("setpriv").isEmpty())
                QSKIP("setpriv is not installed: cannot run as another user");
            for (QString D = T; D.size() > 1; D = QFileInfo(D).path())
                QFile::setPermissions(D, QFile::permissions(D) | QFile::ExeOther);
            for (QString D = QFileInfo(Program).path(); D.size() > 1; D = QFileInfo(D).path())
                QFile::setPermissions(D,
                                      QFile::permissions(D) | QFile::ExeOther | QFile::ReadOther);
            Args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", Program} + Args;
            Program = "setpriv";
        } else {
            QFile::setPermissions(Reg, QFileDevice::Permissions());
        }
        QProcess P;
        P.start(Program, Args);
        QVERIFY(P.waitForFinished(30000));
        QCOMPARE(P.exitCode(), 2);
        const QString Err = QString::fromUtf8(P.readAllStandardError());
        QVERIFY2(Err.contains("(Zugriff verweigert)"), qPrintable(Err));
    }

    // The search walk alone prints the copies the registry does not list.
    void search() {
        const QString Tree = FTmp.path() + "/baum";
        Svn({"checkout", "-q", FUrl + "/alpha", Tree + "/a/eins"});
        Svn({"checkout", "-q", FUrl + "/beta", Tree + "/b/zwei"});
        const QString Reg = FTmp.path() + "/search.xml";
        WriteFile(Reg, (Head + "<SubVersion>" + Project("x", " " + Tree + "/a/eins/ ") +
                        "</SubVersion>")
                           .toUtf8());
        TKivsvn R = Kivsvn({"search", Tree, "--registry", Reg});
        QCOMPARE(R.Code, 0);
        QCOMPARE(R.Out, QStringList{Tree + "/b/zwei/"});
        R = Kivsvn({"search", Tree, "--format", "json", "--registry", Reg});
        QCOMPARE(QJsonDocument::fromJson(R.Out.value(0).toUtf8()).object().value("folder"),
                 QJsonValue(Tree + "/b/zwei/"));

        // A folder whose name is no UTF-8 is passed over, and named as the system shows it.
        const QByteArray Bad = QFile::encodeName(Tree) + "/c/Gr\xf6\xdf"
                                                         "e";
        for (const QByteArray& D :
             {QFile::encodeName(Tree) + "/c", Bad, Bad + "/kopie", Bad + "/kopie/.svn"})
            QCOMPARE(mkdir(D.constData(), 0755), 0);
        R = Kivsvn({"search", Tree, "--registry", Reg});
        QCOMPARE(R.Code, 0);
        QCOMPARE(R.Out, QStringList{Tree + "/b/zwei/"});
        QVERIFY2(R.Err.startsWith("kivsvn: übersprungen: \"" + Tree + "/c/Gr\\366\\337e\": "),
                 qPrintable(R.Err));

        // A start folder that cannot be read: said so, nothing found, exit 2. Root reads every
        // folder, so then the search runs as nobody.
        QTemporaryDir Open;
        QFile::setPermissions(Open.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther | QFile::ExeOther |
                                               QFile::ReadGroup | QFile::ExeGroup);
        const QString Secret = Open.path() + "/geheim";
        Svn({"checkout", "-q", FUrl + "/alpha", Secret + "/kopie"});
        QFile::setPermissions(Secret, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (geteuid() == 0) {
            QProcess P;
            P.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                QStringLiteral(KIV_KIVSVN_PATH), "search", Secret, "--registry",
                                Open.path() + "/keine.xml"});
            QVERIFY(P.waitForFinished(60000));
            R.Code = P.exitCode();
            R.Out = QString::fromUtf8(P.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
            R.Err = QString::fromUtf8(P.readAllStandardError());
        } else {
            QFile::setPermissions(Secret, {});
            R = Kivsvn({"search", Secret, "--registry", Open.path() + "/keine.xml"});
            QFile::setPermissions(Secret, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QCOMPARE(R.Code, 2);
        QVERIFY(R.Out.isEmpty());
        QCOMPARE(R.Err, "kivsvn: Der Ordner \"" + Secret +
                            "/\" kann nicht durchsucht werden: "
                            "keine Berechtigung, ihn zu lesen.\n");
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
