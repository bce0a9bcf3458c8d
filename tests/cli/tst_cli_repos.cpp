// A new workstation in one step, with kivsvn and the real peer tool (vcstool's "vcs"): .repos
// files both ways, the missing copies back from the registry, and bad input refused with a
// German message and nothing changed.
#include "kiv_test_svn.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kivtest;

namespace {

struct TKivsvn {
    QString Out, Err;
    int Code = -1;
};

TKivsvn Kivsvn(const QStringList& Args, const QString& Dir = QString()) {
    QProcess P;
    if (!Dir.isEmpty())
        P.setWorkingDirectory(Dir);
    P.start(QStringLiteral(KIV_KIVSVN_PATH), Args);
    P.waitForFinished(120000);
    TKivsvn R;
    R.Code = P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
    R.Out = QString::fromUtf8(P.readAllStandardOutput());
    R.Err = QString::fromUtf8(P.readAllStandardError());
    return R;
}

// vcstool's command; Input goes to its standard input.
QString Vcs(const QStringList& Args, const QString& Dir, const QByteArray& Input = QByteArray(),
            int* Code = nullptr) {
    QProcess P;
    P.setWorkingDirectory(Dir);
    P.setProcessChannelMode(QProcess::MergedChannels);
    P.start(QStringLiteral("vcs"), Args);
    P.write(Input);
    P.closeWriteChannel();
    P.waitForFinished(120000);
    if (Code)
        *Code = P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
    return QString::fromUtf8(P.readAll());
}

QString UrlOf(const QString& Folder) {
    return RunIn(Folder, {"info", "--show-item", "url"}).value(0).trimmed();
}

const QByteArray Head = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";

// The projects of a registry file: tree path (names joined by "/") -> attributes.
QMap<QString, QMap<QString, QString>> Projects(const QString& File) {
    QMap<QString, QMap<QString, QString>> Found;
    QStringList Path;
    const QString Text = QString::fromLatin1(ReadFile(File)); // names here are Latin-1 only
    static const QRegularExpression Tag(QStringLiteral("<(/?)(\\w+)([^>]*?)(/?)>"));
    static const QRegularExpression Attr(QStringLiteral("(\\w+)=\"([^\"]*)\""));
    for (auto M = Tag.globalMatch(Text); M.hasNext();) {
        const auto T = M.next();
        if (T.captured(1) == u"/") {
            Path.removeLast();
            continue;
        }
        QMap<QString, QString> A;
        for (auto N = Attr.globalMatch(T.captured(3)); N.hasNext();) {
            const auto X = N.next();
            A.insert(X.captured(1), X.captured(2).replace("&amp;", "&"));
        }
        if (T.captured(2) == u"Projekt")
            Found.insert((Path.mid(1) + QStringList{A.value("Name")}).join(u'/'), A);
        else if (T.captured(4).isEmpty())
            Path << A.value("Name");
    }
    return Found;
}

} // namespace

class TestCliRepos : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;
    QString FUrl;

    QString At(const QString& Rel) const { return FTmp.path() + u'/' + Rel; }

    // A registry of four copies in groups, names and folders with umlauts and blanks.
    QString MakeRegistry(const QString& Name, const QString& Under, bool WithUrls) {
        const QStringList Names = {"Kunden/Grüne Wiese", "Kunden/Shop & Co", "Werkzeug", "Ä b/c"};
        QByteArray Xml =
            Head + "<SubVersion Beschreibung=\"Alle Subversionsprojekte verwalten\">\r\n";
        QString Group;
        for (const QString& N : Names) {
            const QString G = N.contains('/') ? N.section('/', 0, 0) : QString();
            if (G != Group) {
                if (!Group.isEmpty())
                    Xml += "  </ProjektGruppe>\r\n";
                if (!G.isEmpty())
                    Xml += "  <ProjektGruppe Name=\"" + G.toLatin1() + "\">\r\n";
                Group = G;
            }
            const QString Folder = Under + "/" + N;
            const QString Url = FUrl + "/" + QString(N).replace(' ', "%20").replace('&', "%26");
            if (!QFileInfo::exists(Folder))
                Svn({"checkout", "-q", Url, Folder});
            auto Esc = [](QString V) { return V.replace('&', "&amp;"); };
            QString Attrs =
                "Name=\"" + Esc(N.section('/', -1)) + "\" Verzeichnis=\"" + Esc(Folder) + "\"";
            if (WithUrls)
                Attrs += " URL=\"" + Esc(UrlOf(Folder)) + "\"";
            Xml +=
                QByteArray(G.isEmpty() ? "  " : "    ") + "<Projekt " + Attrs.toLatin1() + "/>\r\n";
        }
        if (!Group.isEmpty())
            Xml += "  </ProjektGruppe>\r\n";
        Xml += "</SubVersion>\r\n";
        const QString File = At(Name);
        WriteFile(File, Xml);
        return File;
    }

private slots:
    void initTestCase() {
        QVERIFY(FTmp.isValid());
        if (QStandardPaths::findExecutable("vcs").isEmpty())
            QSKIP("vcstool (vcs) is not installed");
        Svn({"create", At("repo")}, QString(), QStringLiteral("svnadmin"));
        FUrl = "file://" + At("repo");
        for (const char* P : {"Kunden/Grüne Wiese", "Kunden/Shop & Co", "Werkzeug", "Ä b/c"})
            WriteFile(At("imp/") + P + "/datei.txt", "eins\n");
        Svn({"import", "-q", "-m", "init", At("imp"), FUrl});
    }

    // The registry exported, the file given to vcstool on an empty folder: every copy comes
    // back, from the same URL; with --exact at the same revision.
    void exportedFileIsWhatVcsImportNeeds() {
        const QString Reg = MakeRegistry("export.xml", At("wc"), false);
        const TKivsvn R = Kivsvn({"export", "--format", "repos", "--exact", "--registry", Reg});
        QVERIFY2(R.Code == 0, qPrintable(R.Err));
        QVERIFY2(R.Out.startsWith("repositories:\n"), qPrintable(R.Out));
        QVERIFY(R.Out.contains("version: 1\n"));
        QDir().mkpath(At("leer"));
        int Code = -1;
        const QString Said =
            Vcs({"import", "--input", "-", "."}, At("leer"), R.Out.toUtf8(), &Code);
        QVERIFY2(Code == 0, qPrintable(Said));
        const QMap<QString, QMap<QString, QString>> Reg1 = Projects(Reg);
        QCOMPARE(Reg1.size(), 4);
        for (auto It = Reg1.constBegin(); It != Reg1.constEnd(); ++It) {
            const QString There = At("leer/") + It.key();
            QVERIFY2(QFileInfo(There + "/datei.txt").isFile(), qPrintable(There + "\n" + Said));
            QCOMPARE(UrlOf(There), UrlOf(It->value("Verzeichnis")));
        }
        // The node's own projects, keys below the node; the export learnt the URLs.
        const TKivsvn G = Kivsvn({"export", "Kunden", "--registry", Reg});
        QCOMPARE(G.Code, 0);
        QVERIFY2(G.Out.contains("\n  Grüne Wiese:\n") && !G.Out.contains("Werkzeug"),
                 qPrintable(G.Out));
        QCOMPARE(Projects(Reg).value("Werkzeug").value("URL"), FUrl + "/Werkzeug");
    }

    // vcstool's export of a folder of copies, imported: every copy registered with its URL,
    // named as the file's keys; entries of other kinds are passed over and said.
    void vcsExportIsImportedWhole() {
        const QString Under = At("vonvcs");
        for (const char* P : {"Kunden/Grüne Wiese", "Kunden/Shop & Co", "Werkzeug", "Ä b/c"})
            Svn({"checkout", "-q", FUrl + "/" + QString(P).replace(' ', "%20").replace('&', "%26"),
                 Under + "/" + P});
        int Code = -1;
        QString File = Vcs({"export", "."}, Under, QByteArray(), &Code);
        QVERIFY2(Code == 0, qPrintable(File));
        File += "  fremd:\n    type: git\n    url: https://example.org/x.git\n";
        WriteFile(At("vcs.repos"), File.toUtf8());
        const QString Reg = At("import.xml");
        WriteFile(Reg, Head + "<SubVersion Beschreibung=\"x\">\r\n</SubVersion>\r\n");
        const TKivsvn R =
            Kivsvn({"import", At("vcs.repos"), "--group", "Vom Server", "--registry", Reg}, Under);
        QVERIFY2(R.Code == 0, qPrintable(R.Err + R.Out));
        QVERIFY2(R.Out.contains("übergangen (kein svn): git: fremd"), qPrintable(R.Out));
        const auto Got = Projects(Reg);
        QCOMPARE(Got.keys(),
                 QStringList({"Vom Server/Kunden/Grüne Wiese", "Vom Server/Kunden/Shop & Co",
                              "Vom Server/Werkzeug", "Vom Server/Ä b/c"}));
        for (auto It = Got.constBegin(); It != Got.constEnd(); ++It) {
            const QString Key = It.key().section('/', 1);
            QCOMPARE(It->value("Verzeichnis"), Under + "/" + Key);
            QCOMPARE(It->value("URL"), UrlOf(Under + "/" + Key));
        }
        // And the copies are the registry's now: status over them is clean.
        const TKivsvn S = Kivsvn({"status", "--registry", Reg});
        QCOMPARE(S.Code, 0);
    }

    // A machine with only the registry: two copies deleted, one command brings them back from
    // the same URL, clean; the registry file is byte for byte as it was.
    void checkoutBringsBackWhatIsMissing() {
        const QString Reg = MakeRegistry("checkout.xml", At("co"), true);
        const QByteArray Before = ReadFile(Reg);
        const QString Url1 = UrlOf(At("co/Werkzeug")), Url2 = UrlOf(At("co/Ä b/c"));
        QVERIFY(QDir(At("co/Werkzeug")).removeRecursively());
        QVERIFY(QDir(At("co/Ä b")).removeRecursively());
        const TKivsvn R = Kivsvn({"checkout", "--registry", Reg});
        QVERIFY2(R.Code == 0, qPrintable(R.Out + R.Err));
        QVERIFY2(R.Out.contains("--> " + At("co/Werkzeug") +
                                "\nA    Werkzeug/datei.txt\n"
                                "Checked out revision 1."),
                 qPrintable(R.Out));
        QCOMPARE(UrlOf(At("co/Werkzeug")), Url1);
        QCOMPARE(UrlOf(At("co/Ä b/c")), Url2);
        QVERIFY(RunIn(At("co/Werkzeug"), {"status"}).isEmpty());
        QVERIFY(RunIn(At("co/Ä b/c"), {"status"}).isEmpty());
        QCOMPARE(ReadFile(Reg), Before);
        // A folder in the way that is no copy: said, untouched, and the run fails.
        QVERIFY(QDir(At("co/Werkzeug")).removeRecursively());
        WriteFile(At("co/Werkzeug/eigen.txt"), "meins\n");
        const TKivsvn F = Kivsvn({"checkout", "Werkzeug", "--format", "json", "--registry", Reg});
        QCOMPARE(F.Code, 1);
        QVERIFY2(F.Out.contains("\"state\":\"not-a-working-copy\""), qPrintable(F.Out));
        QVERIFY(!QFileInfo::exists(At("co/Werkzeug/.svn")));
        QCOMPARE(ReadFile(Reg), Before);
    }

    // A registry without URLs learns them from a status run, and only there; a second run
    // changes nothing.
    void statusFillsInTheUrls() {
        const QString Reg = MakeRegistry("lernen.xml", At("wc"), false);
        const QByteArray Before = ReadFile(Reg);
        QVERIFY(!Before.contains("URL="));
        const TKivsvn R = Kivsvn({"status", "--registry", Reg});
        QCOMPARE(R.Code, 0);
        const QByteArray After = ReadFile(Reg);
        QByteArray Expected = Before;
        for (const auto& P : Projects(Reg)) {
            const QByteArray Dir =
                "Verzeichnis=\"" + P.value("Verzeichnis").replace('&', "&amp;").toLatin1() + "\"";
            const QByteArray Url = UrlOf(P.value("Verzeichnis")).replace('&', "&amp;").toLatin1();
            Expected.replace(Dir + "/>", Dir + " URL=\"" + Url + "\"/>");
        }
        QCOMPARE(QString::fromLatin1(After).split("\r\n"),
                 QString::fromLatin1(Expected).split("\r\n"));
        const QDateTime Written = QFileInfo(Reg).lastModified();
        QTest::qWait(20);
        QCOMPARE(Kivsvn({"status", "--registry", Reg}).Code, 0);
        QCOMPARE(QFileInfo(Reg).lastModified(), Written);
    }

    // Bad input is refused in German, and the registry stays byte for byte as it was.
    void badImportsChangeNothing() {
        const QString Reg = MakeRegistry("bad.xml", At("wc"), true);
        const QByteArray Before = ReadFile(Reg);
        auto Refused = [&](const QByteArray& File, const QStringList& Extra, const QString& Said) {
            WriteFile(At("bad.repos"), File);
            const TKivsvn R =
                Kivsvn(QStringList{"import", At("bad.repos"), "--registry", Reg} + Extra, At("wc"));
            QVERIFY2(R.Code == 2, qPrintable(R.Out + R.Err));
            QVERIFY2(R.Err.contains(Said), qPrintable(R.Err));
            QVERIFY2(R.Err.contains("Nichts wurde eingetragen."), qPrintable(R.Err));
            QCOMPARE(ReadFile(Reg), Before);
        };
        Refused("repositories:\n  a:\n    type: svn\n   url: x\n", {},
                "ist keine gültige .repos-Datei");
        Refused("repositories:\n  neu:\n    type: svn\n    url: " + FUrl.toUtf8() +
                    "/gibt-es-nicht\n",
                {}, "der Server nimmt die URL");
        Refused("repositories:\n  werkzeug:\n    type: svn\n    url: " + FUrl.toUtf8() +
                    "/Werkzeug\n",
                {}, "Diese Gruppe existiert schon");
        Refused("repositories:\n  Grüne Wiese/innen:\n    type: svn\n    url: " + FUrl.toUtf8() +
                    "/Werkzeug\n",
                {"--into", At("wc/Kunden")}, "Dieses Verzeichnis existiert schon");
        Refused("repositories:\n  ../weg:\n    type: svn\n    url: " + FUrl.toUtf8() +
                    "/Werkzeug\n",
                {}, "»..«");
        // Wrong usage.
        for (const QStringList& Bad :
             {QStringList{"import", "--registry", Reg},
              QStringList{"export", "--format", "json", "--registry", Reg},
              QStringList{"status", "--exact", "--registry", Reg},
              QStringList{"status", "--format", "repos", "--registry", Reg},
              QStringList{"checkout", "--into", "x", "--registry", Reg}}) {
            const TKivsvn R = Kivsvn(Bad);
            QVERIFY2(R.Code == 2 && R.Err.startsWith("kivsvn: "),
                     qPrintable(Bad.join(' ') + R.Err));
        }
        QCOMPARE(ReadFile(Reg), Before);
    }
};

QTEST_GUILESS_MAIN(TestCliRepos)
#include "tst_cli_repos.moc"
