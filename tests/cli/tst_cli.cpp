// kivsvn as a user or a script runs it: over a small real registry with real working copies,
// its text and JSON output, its options, exit codes and messages.
#include "kiv_test_servers.h"
#include "kiv_test_svn.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

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

    // SIGTERM or SIGINT during an update: kivsvn cancels as the window does, the update that
    // runs goes on until a second signal, and kivsvn ends only when its clients are gone,
    // leaving the copy unlocked.
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
            QVERIFY(!P.waitForFinished(700)); // the running update is not ended at once
            ::kill(pid_t(P.processId()), Signal);
            QVERIFY(P.waitForFinished(10000));
            QCOMPARE(P.exitStatus(), QProcess::NormalExit);
            QCOMPARE(P.exitCode(), 1);
            const QString Out = QString::fromUtf8(P.readAllStandardOutput());
            QVERIFY2(Out.endsWith("*** Abgebrochen\n"), qPrintable(Out));
            QVERIFY(Out.contains(QStringLiteral("»svn cleanup« hat die Arbeitskopie")));
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
