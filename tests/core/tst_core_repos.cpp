// .repos files and the registry's URL: reading and writing vcstool's format (checked against
// PyYAML, the reader vcstool uses), planning an import against a registry, and changing the
// registry file while another program may hold it.
#include "kiv_test_svn.h"

#include "kiv_FileText.h"
#include "kiv_XmlObjects.h"
#include "kiv_errors.h"
#include "kiv_kinds.h"
#include "kiv_registry.h"
#include "kiv_repos.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace kivtest;

namespace {

// What PyYAML (vcstool's reader) makes of a text: the "repositories" map as JSON.
QJsonObject PyYaml(const QByteArray& Text) {
    QProcess P;
    P.start(QStringLiteral("python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import sys, yaml, json; d = yaml.safe_load(sys.stdin.buffer.read()); "
                            "print(json.dumps({str(k) + '|' + type(k).__name__: v for k, v in "
                            "d['repositories'].items()}, default=str))")});
    P.write(Text);
    P.closeWriteChannel();
    P.waitForFinished(30000);
    return QJsonDocument::fromJson(P.readAllStandardOutput()).object();
}

std::unique_ptr<TkivPlainXmlElement> Registry(const QByteArray& Xml) {
    TPlainXmlReader R;
    R.LoadFromBytes(Xml);
    return R.TakeRoot();
}

QString Fault(const QByteArray& Text) {
    try {
        ParseReposText(Text, QStringLiteral("»x.repos«"));
    } catch (const EInputError& E) {
        return E.Message();
    }
    return QString();
}

} // namespace

class TestCoreRepos : public QObject {
    Q_OBJECT
    QTemporaryDir FTmp;

private slots:
    void initTestCase() { QVERIFY(FTmp.isValid()); }

    // What the program writes, PyYAML reads back as the same names, types and URLs: keys with
    // umlauts, blanks and slashes plain, keys YAML 1.1 would take for numbers or truth values
    // quoted.
    void writtenFileReadsBackInVcstoolsReader() {
        const std::vector<TReposEntry> Entries = {
            {"Kunden/Grün Zeug", "svn", "file:///r/%C3%A4%20b/trunk", ""},
            {"2024", "svn", "svn://host/x", "17"},
            {"yes", "svn", "https://h/y", ""},
            {"-x/.a", "svn", "https://h/z", ""},
            {"a: b # c", "svn", "https://h/w#frag", ""},
        };
        const QByteArray Text = ReposFileText(Entries);
        QVERIFY2(Text.startsWith("repositories:\n  Kunden/Grün Zeug:\n    type: svn\n"),
                 Text.constData());
        const QJsonObject Read = PyYaml(Text);
        QCOMPARE(Read.size(), int(Entries.size()));
        for (const TReposEntry& E : Entries) {
            const QJsonObject V = Read.value(E.Key + "|str").toObject();
            QVERIFY2(!V.isEmpty(), qPrintable(E.Key + "\n" + Text));
            QCOMPARE(V.value("url").toString(), E.Url);
            QCOMPARE(V.value("type").toString(), E.Type);
            QCOMPARE(V.value("version").toVariant().toString(), E.Version);
        }
        // And our reader reads its own file back whole.
        const std::vector<TReposEntry> Again = ParseReposText(Text, "x");
        QCOMPARE(int(Again.size()), int(Entries.size()));
        for (size_t i = 0; i < Entries.size(); ++i) {
            QCOMPARE(Again[i].Key, Entries[i].Key);
            QCOMPARE(Again[i].Url, Entries[i].Url);
            QCOMPARE(Again[i].Version, Entries[i].Version);
        }
        QCOMPARE(ParseReposText(ReposFileText({}), "x").size(), size_t(0));
    }

    // vcstool's own form, other types among them, flow style and comments.
    void readsWhatVcstoolWrites() {
        const auto E = ParseReposText("# Satz\nrepositories:\n  vcstool:\n    type: git\n"
                                      "    url: git@github.com:x/vcstool.git\n    version: master\n"
                                      "  old_tools/rosinstall:\n    type: svn\n"
                                      "    url: https://h/rosinstall/trunk\n    version: 748\n"
                                      "  flow: {type: svn, url: 'svn://h/f'}\n",
                                      "x");
        QCOMPARE(int(E.size()), 3);
        QCOMPARE(E[1].Key, QStringLiteral("old_tools/rosinstall"));
        QCOMPARE(E[1].Version, QStringLiteral("748"));
        QCOMPARE(E[2].Url, QStringLiteral("svn://h/f"));
    }

    // Whatever is wrong is said in German, with the file and the line; nothing is half read.
    void malformedFilesAreRefusedWithTheLine() {
        const QString Bad = Fault("repositories:\n  a:\n    type: svn\n   url: x\n");
        QVERIFY2(Bad.startsWith("Die Datei »x.repos« ist keine gültige .repos-Datei (Zeile "),
                 qPrintable(Bad));
        QVERIFY2(Bad.contains("das YAML ist fehlerhaft"), qPrintable(Bad));
        QVERIFY(Fault("").contains("»repositories:«"));
        QVERIFY(Fault("- a\n- b\n").contains("»repositories:«"));
        QVERIFY(Fault("repositories: [a, b]\n").contains("keine Zuordnung"));
        QVERIFY(Fault("repositories:\n  a: svn\n").contains("»a« ist keine Zuordnung"));
        QVERIFY(Fault("repositories:\n  a:\n    type: svn\n").contains("fehlt »url«"));
        QVERIFY(Fault("repositories:\n  a:\n    url: x\n").contains("fehlt »type«"));
        QVERIFY(Fault("repositories:\n  a:\n    type: svn\n    url: [x]\n")
                    .contains("kein einzelner Wert"));
        QVERIFY(Fault("repositories:\n  a: {type: svn, url: x}\n  a: {type: svn, url: y}\n")
                    .contains("zweimal"));
        QVERIFY(Fault("repositories:\n  a: {type: svn, url: \"\"}\n").contains("leer"));
        QVERIFY(Fault(QByteArray(3000, '[')).contains("ist keine gültige"));
        // The file itself: missing, a folder.
        try {
            ReadReposFile(FTmp.path());
            QFAIL("a folder was read");
        } catch (const EInputError& E) {
            QVERIFY2(E.Message().contains(FTmp.path()), qPrintable(E.Message()));
        }
    }

    // An import is planned against the registry as the new-entry dialog checks a new entry:
    // names against the children there (groups on the way are used), folders against every
    // registered project and against the file's other entries. Other types are passed over.
    void importPlanFollowsTheEntryRules() {
        const auto Root =
            Registry("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<SubVersion>\r\n"
                     "  <ProjektGruppe Name=\"Kunden\">\r\n"
                     "    <Projekt Name=\"Shop\" Verzeichnis=\"/w/kunden/shop\"/>\r\n"
                     "  </ProjektGruppe>\r\n"
                     "  <Projekt Name=\"Alt\" Verzeichnis=\"/w/inner/alt\"/>\r\n</SubVersion>\r\n");
        const std::vector<TReposEntry> Entries = {
            {"kunden/Neu", "svn", "svn://h/neu", "5"},  // into the group "Kunden"
            {"Kunden/SHOP", "svn", "svn://h/shop", ""}, // the name is there
            {"Alt/x", "svn", "svn://h/x", ""},          // "Alt" is a project, not a group
            {"inner", "svn", "svn://h/i", ""},          // folder /w/inner: holds "Alt"
            {"git", "git", "https://h/g.git", ""},
            {"../weg", "svn", "svn://h/w", ""},
            {"Paar", "svn", "svn://h/p", ""},
            {"paar/kind", "svn", "svn://h/k", ""}, // "Paar" is a project of this file
        };
        const TReposImport Plan = PlanReposImport(Entries, Root.get(), {}, "/w/x/..");
        QCOMPARE(Plan.PassedOver, QStringList{"git: git"});
        QVERIFY(Plan.Versions);
        QCOMPARE(int(Plan.Projects.size()), 2);
        QCOMPARE(Plan.Projects[0].Groups, QStringList{"kunden"});
        // Into a group that is not there yet, or below a project: the same rules on the way.
        const TReposImport Deeper =
            PlanReposImport({Entries[0]}, Root.get(), {"Neu", "Tief"}, "/v");
        QCOMPARE(Deeper.Projects.at(0).Groups, QStringList({"Neu", "Tief", "kunden"}));
        QVERIFY(PlanReposImport({Entries[0]}, Root.get(), {"Alt"}, "/v").Projects.empty());
        QCOMPARE(Plan.Projects[0].Folder, QStringLiteral("/w/kunden/Neu"));
        QCOMPARE(Plan.Projects[1].Name, QStringLiteral("Paar"));
        QCOMPARE(Plan.Problems.size(), 5);
        QVERIFY(Plan.Problems[0].contains("Diese Gruppe existiert schon"));
        QVERIFY(Plan.Problems[1].contains("»Alt« ist schon ein Projekt"));
        QVERIFY(Plan.Problems[2].contains("Dieses Verzeichnis existiert schon"));
        QVERIFY(Plan.Problems[2].contains("»Alt«"));
        QVERIFY(Plan.Problems[3].contains(".."));
        QVERIFY(Plan.Problems[4].contains("»Paar«"));

        // Applied: the group there is used, the project carries its URL.
        TkivPlainXmlElement* R = Root.get();
        const auto Added = ApplyReposImport(Plan, R);
        QCOMPARE(R->ChildCount(), 3);
        QCOMPARE(R->GetChild(0)->ChildCount(), 2);
        QCOMPARE(Added[0]->GetParent(), R->GetChild(0));
        QCOMPARE(Added[0]->GetAttribute("URL"), QStringLiteral("svn://h/neu"));
        QCOMPARE(Added[0]->GetAttribute("Verzeichnis"), QStringLiteral("/w/kunden/Neu"));
        QCOMPARE(Added[1]->GetAttribute("Name"), QStringLiteral("Paar"));
    }

    // kivsvn changes the registry only through here: an unchanged file stays byte for byte,
    // a changed one keeps everything else byte for byte, what another program wrote meanwhile
    // is kept, and a file that cannot be read is neither read nor replaced.
    void registryFileChangesKeepTheRest() {
        const QString File = FTmp.path() + "/reg.xml";
        const QByteArray Text =
            "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
            "<SubVersion Beschreibung=\"Alle Subversionsprojekte verwalten\" Kurz=\"True\">\r\n"
            "  <ProjektGruppe Name=\"K\xfc"
            "che\">\r\n"
            "    <Projekt Name=\"a &amp; b\" Verzeichnis=\"/w/a\" Farbe=\"rot\"/>\r\n"
            "    <Projekt Name=\"c\" Verzeichnis=\"w/c\" URL=\"svn://h/c\"/>\r\n"
            "  </ProjektGruppe>\r\n</SubVersion>\r\n";
        WriteFile(File, Text);
        const QHash<QString, QString> Same{{QDir::homePath() + "/w/c", "svn://h/c"}};
        QVERIFY(!EditRegistryFile(File, [&](TkivXmlElement* R) {
            return SetProjectUrls(R, Same, QDir::homePath()) > 0;
        }));
        QCOMPARE(ReadFile(File), Text);
        const QHash<QString, QString> New{{"/w/a", "svn://h/%C3%A4"}};
        QVERIFY(EditRegistryFile(
            File, [&](TkivXmlElement* R) { return SetProjectUrls(R, New, QDir::homePath()) > 0; }));
        QByteArray Expected = Text;
        Expected.replace("Farbe=\"rot\"/>", "Farbe=\"rot\" URL=\"svn://h/%C3%A4\"/>");
        QCOMPARE(ReadFile(File), Expected);

        // Something that is no registry is left alone, with the reason.
        const QString Broken = FTmp.path() + "/broken.xml";
        WriteFile(Broken, "<?xml version=\"1.0\"?>\r\n<SubVersion>\r\n");
        bool Called = false;
        try {
            EditRegistryFile(Broken, [&](TkivXmlElement*) { return Called = true; });
            QFAIL("a broken registry was edited");
        } catch (const ERegistryError& E) {
            QVERIFY(E.Message().contains(Broken));
        }
        QVERIFY(!Called);
        QCOMPARE(ReadFile(Broken), QByteArray("<?xml version=\"1.0\"?>\r\n<SubVersion>\r\n"));
        // A registry that is not there yet starts as the window starts one.
        const QString Fresh = FTmp.path() + "/neu/reg.xml";
        QDir().mkpath(FTmp.path() + "/neu");
        QVERIFY(EditRegistryFile(Fresh, [](TkivXmlElement* R) {
            R->AddChild("Projekt")->SetAttribute("Name", "p");
            return true;
        }));
        QCOMPARE(ReadFile(Fresh),
                 QByteArray("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
                            "<SubVersion Beschreibung=\"Alle Subversionsprojekte verwalten\">\r\n"
                            "  <Projekt Name=\"p\"/>\r\n</SubVersion>\r\n"));
    }

    // Two URLs are the same place whether svn encoded them or a person typed them.
    void urlsCompareAsPlaces() {
        QVERIFY(SameRepositoryUrl("file:///r/%C3%A4%20b/trunk", "file:///r/ä b/trunk/"));
        QVERIFY(SameRepositoryUrl("SVN://Host/x", "svn://host/x"));
        QVERIFY(!SameRepositoryUrl("svn://host/x", "svn://host/X"));
        QVERIFY(!SameRepositoryUrl("svn://host/x", "svn://host/x/y"));
        QVERIFY(!SameRepositoryUrl("svn://host/x", ""));
    }
};

QTEST_GUILESS_MAIN(TestCoreRepos)
#include "tst_core_repos.moc"
