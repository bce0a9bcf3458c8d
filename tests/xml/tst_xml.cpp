// Tests of kiv_XmlObjects: element model, reader, writer, file text, hostile input, and a
// comparison with libxml2 as a peer.
#include "kiv_FileText.h"
#include "kiv_XmlObjects.h"
#include "kiv_test_tmpfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <new>
#include <system_error>
#include <typeinfo>

#include <sys/stat.h>
#include <unistd.h>

#ifdef KIV_HAVE_LIBXML2
#include <libxml/parser.h>
#include <libxml/tree.h>
#endif

namespace {

class CountingElement : public TkivXmlElement {
public:
    int Changes = 0;
    void Change() override { ++Changes; }
};

// A root that counts Clear calls; its children are plain elements.
class ClearCountingElement : public TkivPlainXmlElement {
public:
    int Clears = 0;
    void Clear() override {
        ++Clears;
        TkivPlainXmlElement::Clear();
    }
};

// Creates plain elements and raises on the n-th CreateElement.
class FailingReader : public TCustomXmlReader {
public:
    explicit FailingReader(int FailAt) : FFailAt(FailAt) {}
    std::unique_ptr<ClearCountingElement> Root;
    TkivXmlElement* CreateElement(TkivXmlElement* Parent, const QString& Name) override {
        if (++FCount == FFailAt)
            throw std::runtime_error("factory failed");
        if (Parent)
            return Parent->AddChild(Name);
        Root = std::make_unique<ClearCountingElement>();
        return Root.get();
    }

private:
    int FFailAt;
    int FCount = 0;
};

// Compact picture of a tree: Name[a=1,b=2](child,child).
QString Dump(const TkivXmlElement* E) {
    if (!E)
        return QStringLiteral("null");
    QString S = E->Name() + QLatin1Char('[');
    for (int I = 0; I < E->AttributeCount(); ++I) {
        if (I)
            S += QLatin1Char(',');
        S += E->AttributeName(I) + QLatin1Char('=') + E->GetAttribute(E->AttributeName(I));
    }
    S += QLatin1Char(']');
    if (E->ChildCount() > 0) {
        S += QLatin1Char('(');
        for (int I = 0; I < E->ChildCount(); ++I) {
            if (I)
                S += QLatin1Char(',');
            S += Dump(E->GetChild(I));
        }
        S += QLatin1Char(')');
    }
    return S;
}

QString ReadDump(const QString& Text) {
    TPlainXmlReader R;
    R.LoadFromStrings(Text.split(QLatin1Char('\n')));
    return Dump(R.Root());
}

bool Fails(const QString& Text) {
    TPlainXmlReader R;
    try {
        R.LoadFromStrings(Text.split(QLatin1Char('\n')));
    } catch (const EkivXmlException& E) {
        // The reader names the line where it stopped.
        return E.Message().startsWith(QStringLiteral("Das XML-Dokument ist fehlerhaft (Zeile "));
    }
    return false;
}

// The bytes of a literal, NULs included.
template <size_t N> QByteArray Raw(const char (&Text)[N]) {
    return QByteArray(Text, qsizetype(N - 1));
}

QByteArray ReadFile(const QString& Path) {
    QFile F(Path);
    if (!F.open(QIODevice::ReadOnly))
        return QByteArray();
    return F.readAll();
}

void WriteFile(const QString& Path, const QByteArray& Data) {
    QFile F(Path);
    QVERIFY(F.open(QIODevice::WriteOnly));
    QCOMPARE(F.write(Data), Data.size());
}

const QString Decl = QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?>");

// Builds a sample registry; Fancy adds the characters that make files interesting.
std::unique_ptr<TkivPlainXmlElement> SampleRegistry(bool Fancy) {
    auto Root = std::make_unique<TkivPlainXmlElement>();
    Root->SetName(QStringLiteral("SubVersion"));
    Root->SetAttribute(QStringLiteral("Beschreibung"),
                       QStringLiteral("Alle Subversionsprojekte verwalten"));
    Root->SetBoolAttribute(QStringLiteral("Kurz"), true);
    auto* G = Root->AddChild(QStringLiteral("ProjektGruppe"));
    G->SetAttribute(QStringLiteral("Name"), QStringLiteral("Kunden"));
    auto* P = G->AddChild(QStringLiteral("Projekt"));
    P->SetAttribute(QStringLiteral("Name"), QStringLiteral("Web & Shop"));
    P->SetAttribute(QStringLiteral("Verzeichnis"), QStringLiteral("C:\\Projekte\\Shop"));
    if (Fancy) {
        auto* Q = G->AddChild(QStringLiteral("Projekt"));
        Q->SetAttribute(QStringLiteral("Name"), QStringLiteral("\"&'<>=äöüß€ – Ω 中文 ") +
                                                    QString::fromUcs4(U"\U0001F600"));
        Q->SetAttribute(QStringLiteral("Verzeichnis"), QStringLiteral("/home/jörg/Проекты/x"));
        Q->SetAttribute(QStringLiteral("Notiz"), QStringLiteral("zwei\r\nZeilen\tund\nmehr"));
        G->AddChild(QStringLiteral("ProjektGruppe")); // empty group, last child of a group
    }
    return Root;
}

} // namespace

class TestXml : public QObject {
    Q_OBJECT

private slots:
    // --- element model
    void attributesMatchWithoutCase();
    void setAttributeNotifiesOnlyRealChanges();
    void boolAttributes();
    void nameAndClear();
    void baseElementIsALeafWithAbstractChildren();
    void manyAttributesKeepTheRules();
    void plainElementChildren();
    void nulNeverReachesAnElement();

    // --- writer
    void writerLines();
    void writerTextOperations();
    void saveToFileBytes();
    void nonWindows1252CharactersAreReferenced();
    void saveToFileIsAtomic();
    void fullDiskKeepsTheOldFile();

    // --- reader
    void readerProlog();
    void readerElementsAndTextElements();
    void readerAttributes();
    void readerErrors();
    void readerClearsRootOnAnyException();
    void fileDecoding();
    void selfClosedLastChildOfSameName();
    void roundTrip();
    void valuesRoundTrip_data();
    void valuesRoundTrip();

    // --- hostile input
    void hostileDocuments_data();
    void hostileDocuments();
    void deepNesting();
    void bigFile();
    void garbageNeverCrashes();
    void fuzzFindings();

    // --- libxml2 as a peer
    void libxml2SeesWhatWeWrote();

    // --- issue 20, by its groups: data loss, hangs, wrong results
    void dataLossRoundThree();
    void hangsRoundThree();
    void wrongResultsRoundThree();
};

void TestXml::attributesMatchWithoutCase() {
    TkivPlainXmlElement E;
    E.SetAttribute(QStringLiteral("Name"), QStringLiteral("a=b=c"));
    QCOMPARE(E.GetAttribute(QStringLiteral("NAME")), QStringLiteral("a=b=c"));
    QVERIFY(E.HasAttribute(QStringLiteral("name")));
    QVERIFY(!E.HasAttribute(QStringLiteral("Nam")));
    QCOMPARE(E.GetAttribute(QStringLiteral("Fehlt")), QString());

    E.SetAttribute(QStringLiteral("Verzeichnis"), QStringLiteral("/x"));
    E.SetAttribute(QStringLiteral("NAME"), QStringLiteral("neu"));
    QCOMPARE(E.AttributeCount(), 2);
    QCOMPARE(E.AttributeName(0), QStringLiteral("NAME")); // same place, letter case of the call
    QCOMPARE(E.AttributeName(1), QStringLiteral("Verzeichnis"));

    try {
        E.AttributeName(2);
        QFAIL("no index error");
    } catch (const EListError& Err) {
        QCOMPARE(Err.Message(), QStringLiteral("Listenindex überschreitet das Maximum (2)"));
    }
    QVERIFY_THROWS_EXCEPTION(EListError, E.AttributeName(-1));
}

void TestXml::setAttributeNotifiesOnlyRealChanges() {
    CountingElement E;
    E.SetAttribute(QStringLiteral("Name"), QStringLiteral("x"));
    QCOMPARE(E.Changes, 1);
    QVERIFY(E.Modified());

    CountingElement F;
    F.SetAttribute(QStringLiteral("Leer"), QString()); // absent and empty: nothing
    QCOMPARE(F.Changes, 0);
    QVERIFY(!F.Modified());

    E.SetAttribute(QStringLiteral("NAME"), QStringLiteral("x")); // same value: nothing
    QCOMPARE(E.Changes, 1);
    QCOMPARE(E.AttributeName(0), QStringLiteral("Name"));
    E.SetAttribute(QStringLiteral("name"), QString()); // removal
    QCOMPARE(E.Changes, 2);
    QCOMPARE(E.AttributeCount(), 0);

    E.UpdateCount = 3; // the gate holds back Change and stays as it is
    E.SetAttribute(QStringLiteral("A"), QStringLiteral("1"));
    QCOMPARE(E.Changes, 2);
    QCOMPARE(E.UpdateCount, 3);
    E.UpdateCount = 0;
    E.SetAttribute(QStringLiteral("A"), QStringLiteral("2"));
    QCOMPARE(E.Changes, 3);
}

void TestXml::boolAttributes() {
    TkivPlainXmlElement E;
    E.SetAttribute(QStringLiteral("Name"), QStringLiteral("n"));
    E.SetBoolAttribute(QStringLiteral("Kurz"), true);
    QCOMPARE(E.GetAttribute(QStringLiteral("Kurz")), QStringLiteral("True"));
    QVERIFY(E.GetBoolAttribute(QStringLiteral("kurz")));
    E.SetBoolAttribute(QStringLiteral("Kurz"), false);
    QCOMPARE(E.AttributeCount(), 1);
    E.SetAttribute(QStringLiteral("Kurz"), QStringLiteral("true"));
    QVERIFY(!E.GetBoolAttribute(QStringLiteral("Kurz")));
    E.SetAttribute(QStringLiteral("Kurz"), QStringLiteral("TRUE"));
    QVERIFY(!E.GetBoolAttribute(QStringLiteral("Kurz")));
}

void TestXml::nameAndClear() {
    CountingElement E;
    QCOMPARE(E.Name(), QString());
    E.SetName(QStringLiteral("Projekt"));
    E.SetName(QStringLiteral("Projekt"));
    QCOMPARE(E.Changes, 1);
    E.SetName(QStringLiteral("projekt"));
    QCOMPARE(E.Changes, 2);
    E.SetAttribute(QStringLiteral("A"), QStringLiteral("1"));
    E.SetAttribute(QStringLiteral("B"), QStringLiteral("2"));
    const int Before = E.Changes;
    E.Clear();
    QCOMPARE(E.Changes, Before + 1);
    QCOMPARE(E.AttributeCount(), 0);
    QCOMPARE(E.Name(), QStringLiteral("projekt"));
}

void TestXml::baseElementIsALeafWithAbstractChildren() {
    CountingElement E;
    QCOMPARE(E.ChildCount(), 0);
    QCOMPARE(E.GetChild(0), nullptr);
    QCOMPARE(E.GetParent(), nullptr);
    try {
        E.AddChild(QStringLiteral("x"));
        QFAIL("AddChild did not raise");
    } catch (const EAbstractError& Err) {
        QCOMPARE(Err.Message(), QStringLiteral("Abstrakter Fehler"));
    }
    QVERIFY_THROWS_EXCEPTION(EAbstractError, E.DeleteChild(0));
}

void TestXml::manyAttributesKeepTheRules() {
    // Past a handful of attributes the element looks names up through an index; the
    // rules must stay those of the plain list.
    CountingElement E;
    for (int I = 0; I < 100; ++I)
        E.SetAttribute(QStringLiteral("Attr%1").arg(I), QString::number(I));
    QCOMPARE(E.AttributeCount(), 100);
    QCOMPARE(E.GetAttribute(QStringLiteral("ATTR57")), QStringLiteral("57"));
    E.SetAttribute(QStringLiteral("attr57"), QStringLiteral("x"));
    QCOMPARE(E.AttributeName(57), QStringLiteral("attr57"));
    E.SetAttribute(QStringLiteral("Attr10"), QString());
    QCOMPARE(E.AttributeCount(), 99);
    QCOMPARE(E.AttributeName(10), QStringLiteral("Attr11"));
    QCOMPARE(E.GetAttribute(QStringLiteral("attr99")), QStringLiteral("99"));
    QCOMPARE(E.GetAttribute(QStringLiteral("Attr10")), QString());
    E.SetAttribute(QStringLiteral("Neu"), QStringLiteral("n"));
    QCOMPARE(E.AttributeName(99), QStringLiteral("Neu"));
    QCOMPARE(E.GetAttribute(QStringLiteral("NEU")), QStringLiteral("n"));
    E.Clear();
    QCOMPARE(E.GetAttribute(QStringLiteral("Attr5")), QString());
}

void TestXml::plainElementChildren() {
    TkivPlainXmlElement Root;
    auto* A = Root.AddChild(QStringLiteral("A"));
    auto* B = Root.AddChild(QStringLiteral("B"));
    QCOMPARE(Root.ChildCount(), 2);
    QCOMPARE(Root.GetChild(1), B);
    QCOMPARE(A->GetParent(), &Root);
    QCOMPARE(A->Name(), QStringLiteral("A"));
    try {
        Root.GetChild(2);
        QFAIL("no index error");
    } catch (const EListError& Err) {
        QCOMPARE(Err.Message(), QStringLiteral("Listenindex überschreitet das Maximum (2)"));
    }
    Root.DeleteChild(5); // names no child: nothing
    Root.DeleteChild(-1);
    QCOMPARE(Root.ChildCount(), 2);
    Root.DeleteChild(0);
    QCOMPARE(Root.GetChild(0), B);
    Root.SetAttribute(QStringLiteral("X"), QStringLiteral("1"));
    Root.Clear();
    QCOMPARE(Root.ChildCount(), 0);
    QCOMPARE(Root.AttributeCount(), 0);
}

void TestXml::nulNeverReachesAnElement() {
    const QChar Nul(0);
    CountingElement E;
    E.SetName(QStringLiteral("Pro") + Nul + QStringLiteral("jekt"));
    QCOMPARE(E.Name(), QStringLiteral("Projekt"));
    E.SetName(QStringLiteral("Projekt") + Nul); // the same name once stripped
    QCOMPARE(E.Changes, 1);

    E.SetAttribute(QStringLiteral("Name"), QStringLiteral("a") + Nul + QStringLiteral("b"));
    QCOMPARE(E.GetAttribute(QStringLiteral("Name")), QStringLiteral("ab"));
    QCOMPARE(E.Changes, 2);
    E.SetAttribute(QStringLiteral("Na") + Nul + QStringLiteral("me"),
                   QString(Nul) + QStringLiteral("ab") + Nul);
    QCOMPARE(E.Changes, 2); // equal after stripping: nothing changes
    QCOMPARE(E.AttributeCount(), 1);
    E.SetAttribute(QStringLiteral("Leer"), QString(2, Nul)); // empty once stripped, absent
    QCOMPARE(E.Changes, 2);
    QCOMPARE(E.AttributeCount(), 1);
    E.SetAttribute(QStringLiteral("Name"), QString(Nul)); // present: removed
    QCOMPARE(E.Changes, 3);
    QCOMPARE(E.AttributeCount(), 0);
}

void TestXml::writerLines() {
    auto Root = SampleRegistry(false);
    Root->SetBoolAttribute(QStringLiteral("Kurz"), false);
    TElementXmlWriter W(Root.get());
    QCOMPARE(
        W.DocumentLines(),
        QStringList(
            {Decl,
             QStringLiteral("<SubVersion Beschreibung=\"Alle Subversionsprojekte verwalten\">"),
             QStringLiteral("  <ProjektGruppe Name=\"Kunden\">"),
             QStringLiteral(
                 "    <Projekt Name=\"Web &amp; Shop\" Verzeichnis=\"C:\\Projekte\\Shop\"/>"),
             QStringLiteral("  </ProjektGruppe>"), QStringLiteral("</SubVersion>")}));

    const QStringList WithBoth =
        W.DocumentLines(QStringLiteral("a\"b.xsl"), QStringLiteral("Hallo <Welt>"));
    QCOMPARE(WithBoth.at(0), QStringLiteral("<!--Hallo &lt;Welt&gt;-->"));
    QCOMPARE(WithBoth.at(1), Decl);
    QCOMPARE(WithBoth.at(2),
             QStringLiteral("<?xml-stylesheet type=\"text/xsl\" href=\"a\"b.xsl\"?>"));

    TElementXmlWriter Null(nullptr);
    QCOMPARE(Null.DocumentLines(), QStringList{Decl});

    // Names, odd indentation, a leaf with neither attributes nor children.
    TkivPlainXmlElement E;
    E.SetName(QStringLiteral("Eine Gruppe"));
    E.SetAttribute(QStringLiteral("a.b:c"), QStringLiteral("v"));
    E.AddChild(QStringLiteral("Übersicht"));
    E.AddChild(QString());
    E.AddChild(QStringLiteral("Projekt"))->AddChild(QStringLiteral("Projekt"));
    QStringList Lines;
    W.WriteElement(&E, Lines, 3);
    QCOMPARE(
        Lines,
        QStringList({QStringLiteral("    <Eine_Gruppe a_b_c=\"v\">"),
                     QStringLiteral("      <_bersicht/>"), QStringLiteral("      <Item/>"),
                     QStringLiteral("      <Projekt>"), QStringLiteral("        <Projekt/>"),
                     QStringLiteral("      </Projekt>"), QStringLiteral("    </Eine_Gruppe>")}));
    Lines.clear();
    W.WriteElement(nullptr, Lines, 0);
    QVERIFY(Lines.isEmpty());
}

void TestXml::writerTextOperations() {
    QCOMPARE(EncodeXmlText(QStringLiteral("\"&'<>")), QStringLiteral("&quot;&amp;&apos;&lt;&gt;"));
    // TAB, LF and CR as references, CR LF as both: raw ones would read back as spaces.
    QCOMPARE(EncodeXmlText(QStringLiteral("a\r\nb\nc\rd\te\r\n\r\n")),
             QStringLiteral("a&#13;&#10;b&#10;c&#13;d&#9;e&#13;&#10;&#13;&#10;"));
    // NUL and the other control characters XML cannot hold are dropped.
    QCOMPARE(EncodeXmlText(QStringLiteral("x") + QChar(0) + QStringLiteral("y\x01\x1b")),
             QStringLiteral("xy"));
    TElementXmlWriter NoRoot(nullptr);
    QCOMPARE(NoRoot.DocumentLines(QString(), QStringLiteral("zwei\nZeilen")).at(0),
             QStringLiteral("<!--zwei&#10;Zeilen-->"));
    QCOMPARE(MakeXmlName(QStringLiteral(" ,./:;\\ÄÖÜäöüßx€")), QStringLiteral("_____________ßx€"));
    QCOMPARE(MakeXmlName(QString()), QStringLiteral("Item"));
    QCOMPARE(DecodeXmlText(QStringLiteral("&QUOT;&Amp;&apos;&lt;&GT;")), QStringLiteral("\"&'<>"));
    QCOMPARE(DecodeXmlText(QStringLiteral("&amp;lt; &nbsp; & &;")),
             QStringLiteral("&lt; &nbsp; & &;"));
    // Numeric references: decimal, hex in either case, supplementary planes; malformed ones
    // pass through.
    QCOMPARE(DecodeXmlText(QStringLiteral("&#8364;&#x20AC;&#X20ac;&#128512;&#65;")),
             QStringLiteral("€€€") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("A"));
    QCOMPARE(DecodeXmlText(QStringLiteral("&#; &#x; &#12 &#1114112; &#99999999999999; &#xG;")),
             QStringLiteral("&#; &#x; &#12 &#1114112; &#99999999999999; &#xG;"));
    // A reference to NUL is dropped, as a raw NUL is.
    QCOMPARE(DecodeXmlText(QStringLiteral("a&#0;b&#x0;c&#000;d&#9;&#10;&#13;")),
             QStringLiteral("abcd\t\n\r"));
    QCOMPARE(ReferenceNonWindows1252(QStringLiteral("aä€Ω") + QString::fromUcs4(U"\U0001F600") +
                                     QChar(0x81)),
             QStringLiteral("aä€&#937;&#128512;&#129;"));
    QCOMPARE(EncodeWindows1252(QStringLiteral("aä€Ω")), QByteArray("a\xE4\x80?"));
    QCOMPARE(DecodeWindows1252(QByteArray("a\xE4\x80\x9F\x81")),
             QStringLiteral("aä€Ÿ") + QChar(0x81));
    // Every character Windows-1252 holds goes through unchanged and comes back.
    QString All;
    for (int B = 1; B < 256; ++B)
        if (B != 0x81 && B != 0x8D && B != 0x8F && B != 0x90 && B != 0x9D) // undefined there
            All += DecodeWindows1252(QByteArray(1, char(B)));
    QCOMPARE(EncodeWindows1252(All).size(), 250);
    QVERIFY(!EncodeWindows1252(All).contains('?') || All.contains(QLatin1Char('?')));
    QCOMPARE(ReferenceNonWindows1252(All), All);
    QCOMPARE(DecodeWindows1252(EncodeWindows1252(All)), All);
}

void TestXml::saveToFileBytes() {
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("a.xml"));
    auto Root = SampleRegistry(false);
    Root->SetAttribute(QStringLiteral("Beschreibung"), QStringLiteral("Grüße €"));
    TElementXmlWriter W(Root.get());
    W.SaveToFile(Path);
    QCOMPARE(
        ReadFile(Path),
        QByteArray("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
                   "<SubVersion Beschreibung=\"Gr\xFC\xDF"
                   "e \x80\" Kurz=\"True\">\r\n"
                   "  <ProjektGruppe Name=\"Kunden\">\r\n"
                   "    <Projekt Name=\"Web &amp; Shop\" Verzeichnis=\"C:\\Projekte\\Shop\"/>\r\n"
                   "  </ProjektGruppe>\r\n"
                   "</SubVersion>\r\n"));
    TElementXmlWriter Null(nullptr);
    Null.SaveToFile(Path, QString(), QStringLiteral("c"));
    QCOMPARE(ReadFile(Path),
             QByteArray("<!--c-->\r\n<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"));
}

// On a full disk every write is checked, the flush too: the old file stays byte for byte and
// no piece of the new one is left behind.
void TestXml::fullDiskKeepsTheOldFile() {
    TTinyDisk Disk(64);
    if (!Disk.Mounted())
        QSKIP(qPrintable("a full disk needs a tmpfs of its own: " + Disk.Why()));
    const QString Path = Disk.Path(QStringLiteral("SubVersionVerzeichnisse.xml"));
    TkivPlainXmlElement Small;
    Small.SetName(QStringLiteral("SubVersion"));
    for (int I = 0; I < 120; ++I) {
        auto* P = Small.AddChild(QStringLiteral("Projekt"));
        P->SetAttribute(QStringLiteral("Name"), QStringLiteral("Projekt %1").arg(I));
        P->SetAttribute(QStringLiteral("Verzeichnis"), QStringLiteral("/home/anna/wc/p%1").arg(I));
    }
    TElementXmlWriter(&Small).SaveToFile(Path);
    const QByteArray Old = ReadFile(Path);
    QVERIFY(Old.size() > 4096); // more than one page: a first buffered write alone would not do
    auto* Extra = Small.AddChild(QStringLiteral("Projekt"));
    Extra->SetAttribute(QStringLiteral("Name"), QString(8000, u'x'));
    QVERIFY(Disk.Fill());
    // Entirely full, and with room for part of the new text only.
    for (const qint64 Room : {qint64(0), Old.size() / 2 + 4096}) {
        QVERIFY(Disk.Free(Room));
        try {
            TElementXmlWriter(&Small).SaveToFile(Path);
            QFAIL("a full disk raised nothing");
        } catch (const EFileError& E) {
            QVERIFY2(E.Message().contains(Path) &&
                         E.Message().contains(QStringLiteral("kein Platz mehr frei")),
                     qPrintable(E.Message()));
        }
        QCOMPARE(ReadFile(Path), Old);
        QCOMPARE(Disk.Entries(), QStringList({QStringLiteral("SubVersionVerzeichnisse.xml"),
                                              QStringLiteral("filler")}));
    }
}

void TestXml::nonWindows1252CharactersAreReferenced() {
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("u.xml"));
    TkivPlainXmlElement Root;
    Root.SetName(QStringLiteral("SubVersion"));
    auto* P = Root.AddChild(QStringLiteral("Projekt"));
    const QString Name = QStringLiteral("Ω-Projekt 中文 ") + QString::fromUcs4(U"\U0001F600") +
                         QStringLiteral(" &#8364;");
    const QString Dir2 = QStringLiteral("/home/jörg/Проекты/€");
    P->SetAttribute(QStringLiteral("Name"), Name);
    P->SetAttribute(QStringLiteral("Verzeichnis"), Dir2);
    TElementXmlWriter(&Root).SaveToFile(Path);
    const QByteArray Bytes = ReadFile(Path);
    QVERIFY(Bytes.contains("Name=\"&#937;-Projekt &#20013;&#25991; &#128512; &amp;#8364;\""));
    QVERIFY(Bytes.contains(
        "Verzeichnis=\"/home/j\xF6rg/&#1055;&#1088;&#1086;&#1077;&#1082;&#1090;&#1099;/\x80\""));
    QCOMPARE(Bytes.count('?'), 2); // those of the declaration: nothing was replaced

    TPlainXmlReader R;
    R.LoadFromFile(Path);
    QCOMPARE(R.Root()->GetChild(0)->GetAttribute(QStringLiteral("Name")), Name);
    QCOMPARE(R.Root()->GetChild(0)->GetAttribute(QStringLiteral("Verzeichnis")), Dir2);
}

void TestXml::saveToFileIsAtomic() {
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("SubVersionVerzeichnisse.xml"));
    const QByteArray Old = "<?xml version=\"1.0\"?>\r\n<SubVersion Alt=\"1\"/>\r\n";
    WriteFile(Path, Old);

    // A failure while the text is assembled leaves the file as it was.
    class ThrowingElement : public TkivPlainXmlElement {
    public:
        int ChildCount() const override { return 1; }
        TkivXmlElement* GetChild(int) const override { throw EListError(0); }
    } Bad;
    QVERIFY_THROWS_EXCEPTION(EListError, TElementXmlWriter(&Bad).SaveToFile(Path));
    QCOMPARE(ReadFile(Path), Old);

    // A target that cannot be replaced: the file layer's error, naming the file.
    auto Root = SampleRegistry(true);
    const QString Blocked = Dir.filePath(QStringLiteral("ordner"));
    QVERIFY(QDir(Dir.path()).mkpath(QStringLiteral("ordner/inhalt")));
    try {
        TElementXmlWriter(Root.get()).SaveToFile(Blocked);
        QFAIL("no error");
    } catch (const EFileError& Err) {
        QVERIFY2(Err.Message().startsWith(QStringLiteral("Die Datei ")),
                 qPrintable(Err.Message()));
        QVERIFY(Err.Message().contains(Blocked));
    }
    QVERIFY(QFileInfo(Blocked).isDir());
    const QString NoFolder = Dir.filePath(QStringLiteral("fehlt/x.xml"));
    QVERIFY_THROWS_EXCEPTION(EFileError, TElementXmlWriter(Root.get()).SaveToFile(NoFolder));
    QVERIFY(!QFileInfo::exists(NoFolder));

    // Success replaces the whole file and leaves no temporary file behind.
    TElementXmlWriter(Root.get()).SaveToFile(Path);
    QVERIFY(ReadFile(Path).startsWith(
        "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<SubVersion "));
    QCOMPARE(QDir(Dir.path()).entryList(QDir::Files),
             QStringList{QStringLiteral("SubVersionVerzeichnisse.xml")});

    // Read errors: the file layer's message with the path.
    try {
        TPlainXmlReader R;
        R.LoadFromFile(Dir.filePath(QStringLiteral("nicht-da.xml")));
        QFAIL("no error");
    } catch (const EFileError& Err) {
        QVERIFY(Err.Message().startsWith(QStringLiteral("Datei kann nicht geöffnet werden: ")));
        QVERIFY(Err.Message().contains(QStringLiteral("nicht-da.xml")));
    }
}

void TestXml::readerProlog() {
    QCOMPARE(ReadDump(Decl), QStringLiteral("null")); // only the declaration: no element, no error
    QCOMPARE(
        ReadDump(QStringLiteral("  <!-- Kommentar <a> -->\n") + Decl + QStringLiteral("\n<a/>")),
        QStringLiteral("a[]"));
    QCOMPARE(
        ReadDump(Decl + QStringLiteral("\n<?xml-stylesheet type=\"text/xsl\" href=\"x\"?>\n<a/>")),
        QStringLiteral("a[]"));
    QCOMPARE(ReadDump(QStringLiteral("<?xml?><?xml ?>  <?xml-x?><a/>")), QStringLiteral("a[]"));
    QVERIFY(Fails(QString()));
    QVERIFY(Fails(QStringLiteral("   ")));
    QVERIFY(Fails(QStringLiteral("<a/>")));
    QVERIFY(Fails(Decl + QStringLiteral("\n<!-- spät -->\n<a/>")));
    QVERIFY(Fails(QStringLiteral("<!-- offen\n") + Decl));
    QVERIFY(Fails(QStringLiteral("<?xml version=\"1.0\"\n<a/>")));
    QVERIFY(Fails(Decl + QStringLiteral("<?php x ?><a/>")));
    QVERIFY(Fails(QStringLiteral("<!-- <?xml?> -->")));
    QVERIFY(Fails(QStringLiteral("<!-- ?> --><?xml?><a/>")));
}

void TestXml::readerElementsAndTextElements() {
    QCOMPARE(ReadDump(Decl + QStringLiteral("<a><b/><c></c></a>")), QStringLiteral("a[](b[])"));
    QCOMPARE(ReadDump(Decl + QStringLiteral(
                                 "<a>  <Beschreibung  >  zwei Wörter </Beschreibung>\n<b/></a>")),
             QStringLiteral("a[Beschreibung=  zwei Wörter ](b[])"));
    QCOMPARE(ReadDump(Decl + QStringLiteral("<a><t>x &amp; y</t></a>")),
             QStringLiteral("a[t=x &amp; y]"));
    QCOMPARE(ReadDump(Decl + QStringLiteral("<a><t>x\ny</t></a>")), QStringLiteral("a[t=x  y]"));
    QVERIFY(Fails(Decl + QStringLiteral("<t>x</t>")));                // outside any element
    QVERIFY(Fails(Decl + QStringLiteral("<a t=\"1\"><t>x</t></a>"))); // already set
    QVERIFY(Fails(Decl + QStringLiteral("<a></A>")));

    // Two top-level elements, each without parent; the first is the root.
    TPlainXmlReader R;
    R.LoadFromStrings({Decl, QStringLiteral("<a/>"), QStringLiteral("<b x=\"1\"/>")});
    QCOMPARE(Dump(R.Root()), QStringLiteral("a[]"));
    QCOMPARE(R.OtherTopLevel().size(), size_t(1));
    QCOMPARE(Dump(R.OtherTopLevel().front().get()), QStringLiteral("b[x=1]"));
    QCOMPARE(R.OtherTopLevel().front()->GetParent(), nullptr);
    // The reader can be used again.
    R.LoadFromStrings({Decl, QStringLiteral("<c/>")});
    QCOMPARE(Dump(R.Root()), QStringLiteral("c[]"));
    QVERIFY(R.OtherTopLevel().empty());
    R.LoadFromStrings({Decl});
    QCOMPARE(R.Root(), nullptr);
}

void TestXml::readerAttributes() {
    QCOMPARE(
        ReadDump(Decl + QStringLiteral(
                            "<a Name = \"x\"  Verz=\"y=z\" leer=\"\" Wert=\"&AMP;lt; &QUOT;\"/>")),
        QStringLiteral("a[Name=x,Verz=y=z,Wert=&lt; \"]"));
    // One name twice, also in another letter case, would lose a value: refused.
    QVERIFY(Fails(Decl + QStringLiteral("<a x=\"1\" X=\"2\" ohne/>")));
    // A name without a value is dropped; it does not run into the next name.
    QCOMPARE(ReadDump(Decl + QStringLiteral("<a ohne Name=\"n\"x=\"1\"/>")),
             QStringLiteral("a[Name=n,x=1]"));
    QCOMPARE(ReadDump(Decl + QStringLiteral("<a x=\"zwei\nZeilen\ttab\"/>")),
             QStringLiteral("a[x=zwei  Zeilen tab]"));
    QCOMPARE(ReadDump(Decl + QStringLiteral("<a Name=\"A &#x20AC; &#8364; &#128512;\"/>")),
             QStringLiteral("a[Name=A € € ") + QString::fromUcs4(U"\U0001F600") +
                 QStringLiteral("]"));
    // In a text element references stay as they are.
    QCOMPARE(ReadDump(Decl + QStringLiteral("<a><t>&#8364;</t></a>")),
             QStringLiteral("a[t=&#8364;]"));
    QCOMPARE(ReadDump(Decl + QStringLiteral("<a x=\"1\" / ></a>")), QStringLiteral("a[x=1]"));
}

void TestXml::readerErrors() {
    const QStringList Bad = {
        QStringLiteral("</a>"),
        QStringLiteral("<a>"),
        QStringLiteral("<a>text</a>"),
        QStringLiteral("<a/>text"),
        QStringLiteral("<a><b></a></b>"),
        QStringLiteral("<a x=\"1\""),
        QStringLiteral("<a"),
        QStringLiteral("<a/></a>"),
        QStringLiteral("<!-- x --><a/>"),
        QStringLiteral("<a/><?x?>"),
    };
    for (const QString& B : Bad)
        QVERIFY2(Fails(Decl + B), qPrintable(B));
}

void TestXml::readerClearsRootOnAnyException() {
    const QStringList Doc = {Decl, QStringLiteral("<r a=\"1\">"), QStringLiteral("  <b x=\"2\"/>"),
                             QStringLiteral("  <c/>"), QStringLiteral("</r>")};
    FailingReader R(3);
    try {
        R.LoadFromStrings(Doc);
        QFAIL("no exception");
    } catch (const std::runtime_error& E) {
        QCOMPARE(QByteArray(E.what()), QByteArray("factory failed"));
    }
    QCOMPARE(R.Root->Clears, 1);
    QCOMPARE(R.Root->AttributeCount(), 0);
    QCOMPARE(R.Root->ChildCount(), 0);

    FailingReader Format(100);
    QVERIFY_THROWS_EXCEPTION(EkivXmlException,
                             Format.LoadFromStrings({Decl, QStringLiteral("<r a=\"1\"><b/>")}));
    QCOMPARE(Format.Root->Clears, 1);
    QCOMPARE(Format.Root->ChildCount(), 0);
}

void TestXml::fileDecoding() {
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("d.xml"));
    auto Check = [&](const QByteArray& Bytes, const QString& Expected) {
        WriteFile(Path, Bytes);
        TPlainXmlReader R;
        R.LoadFromFile(Path);
        QCOMPARE(Dump(R.Root()), Expected);
    };
    const QString Doc = QStringLiteral("<?xml?><a n=\"äΩ€\"/>");
    Check(QByteArray("\xEF\xBB\xBF") + Doc.toUtf8(), QStringLiteral("a[n=äΩ€]"));
    QByteArray Le("\xFF\xFE"), Be("\xFE\xFF");
    for (QChar C : Doc) {
        Le += char(C.unicode() & 0xFF);
        Le += char(C.unicode() >> 8);
        Be += char(C.unicode() >> 8);
        Be += char(C.unicode() & 0xFF);
    }
    Check(Le, QStringLiteral("a[n=äΩ€]"));
    Check(Be, QStringLiteral("a[n=äΩ€]"));
    Check(QByteArray("<?xml?><a n=\"\xE4\x80\"/>"), QStringLiteral("a[n=ä€]"));
    // Each line break is two blanks, whatever its form; TAB one.
    Check(QByteArray("<?xml?>\r<a n=\"1\r\n2\r3\n4\t5\"/>\n"), QStringLiteral("a[n=1  2  3  4 5]"));
    // NUL is dropped in every encoding, also where the text goes on behind it.
    Check(Raw("\xEF\xBB\xBF<?xml?><a\0 n=\"\xC3\xA4\0\"/>"), QStringLiteral("a[n=ä]"));
    Check(Raw("\xFF\xFE<\0?\0x\0m\0l\0?\0>\0<\0a\0 \0\0\0/\0>\0"), QStringLiteral("a[]"));
}

void TestXml::selfClosedLastChildOfSameName() {
    // A group with an empty name inside a group: <ProjektGruppe/> right before </ProjektGruppe>.
    TkivPlainXmlElement Root;
    Root.SetName(QStringLiteral("SubVersion"));
    auto* G = Root.AddChild(QStringLiteral("ProjektGruppe"));
    G->SetAttribute(QStringLiteral("Name"), QStringLiteral("Außen"));
    G->AddChild(QStringLiteral("ProjektGruppe"));
    Root.AddChild(QStringLiteral("Projekt"))->AddChild(QStringLiteral("Projekt"));
    const QStringList Lines = TElementXmlWriter(&Root).DocumentLines();
    TPlainXmlReader R;
    R.LoadFromStrings(Lines);
    QCOMPARE(Dump(R.Root()), Dump(&Root));
    QCOMPARE(ReadDump(Decl + QStringLiteral("<a><a/></a>")), QStringLiteral("a[](a[])"));
    QCOMPARE(ReadDump(Decl + QStringLiteral("<a><b><a/></b></a>")),
             QStringLiteral("a[](b[](a[]))"));
}

void TestXml::roundTrip() {
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("r.xml"));
    auto Root = SampleRegistry(true); // its line breaks and TABs come back too
    TElementXmlWriter(Root.get()).SaveToFile(Path);
    TPlainXmlReader R;
    R.LoadFromFile(Path);
    QCOMPARE(Dump(R.Root()), Dump(Root.get()));
    // Written again, the file is the same to the byte.
    const QByteArray First = ReadFile(Path);
    TElementXmlWriter(R.Root()).SaveToFile(Path);
    QCOMPARE(ReadFile(Path), First);
}

void TestXml::valuesRoundTrip_data() {
    QTest::addColumn<QString>("Value");
    QTest::addColumn<QString>("Expected"); // read back; differs only where a NUL was dropped
    const QChar Nul(0);
    auto Row = [](const char* Tag, const QString& V) { QTest::newRow(Tag) << V << V; };
    Row("tab", QStringLiteral("a\tb\t"));
    Row("lf", QStringLiteral("/home/x/nl\nline"));
    Row("cr", QStringLiteral("a\rb"));
    Row("cr lf", QStringLiteral("zwei\r\nZeilen"));
    Row("line breaks mixed", QStringLiteral("\r\n\r\n\n\r\r\n\t \n"));
    Row("spaces kept", QStringLiteral("  a  b  "));
    Row("quotes", QStringLiteral("sagt \"hallo\" und 'tschüss' \"'"));
    Row("markup", QStringLiteral("a & b < c > d = e"));
    Row("references as text", QStringLiteral("&amp; &#10; &lt; &#0; &#x41; &"));
    Row("outside Windows-1252", QStringLiteral("Ω 中文 ") + QString::fromUcs4(U"\U0001F600") +
                                    QChar(0x81) + QStringLiteral(" €äß"));
    QTest::newRow("nul") << (QStringLiteral("a") + Nul + QStringLiteral("\tb") + Nul)
                         << QStringLiteral("a\tb");
    QTest::newRow("nul only") << QString(Nul) << QString();
}

void TestXml::valuesRoundTrip() {
    // Save and load give back every value as it was: nothing folded, nothing lost.
    QFETCH(QString, Value);
    QFETCH(QString, Expected);
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("v.xml"));
    TkivPlainXmlElement Root;
    Root.SetName(QStringLiteral("SubVersion"));
    Root.SetAttribute(QStringLiteral("Beschreibung"), Value);
    auto* P = Root.AddChild(QStringLiteral("Projekt"));
    P->SetAttribute(QStringLiteral("Name"), Value);
    P->SetAttribute(QStringLiteral("Verzeichnis"), QStringLiteral("/w/") + Value);
    TElementXmlWriter(&Root).SaveToFile(Path);

    const QByteArray Bytes = ReadFile(Path);
    QVERIFY(!Bytes.contains('\0'));
    QVERIFY(!Bytes.contains('\t'));
    // One line per element: no line break of a value reached the file.
    QCOMPARE(Bytes.count('\r'), 4);
    QCOMPARE(Bytes.count('\n'), 4);

    TPlainXmlReader R;
    R.LoadFromFile(Path);
    QVERIFY(R.Root());
    QCOMPARE(R.Root()->GetAttribute(QStringLiteral("Beschreibung")), Expected);
    QCOMPARE(R.Root()->ChildCount(), 1);
    const TkivXmlElement* Q = R.Root()->GetChild(0);
    QCOMPARE(Q->GetAttribute(QStringLiteral("Name")), Expected);
    QCOMPARE(Q->GetAttribute(QStringLiteral("Verzeichnis")), QStringLiteral("/w/") + Expected);
    TElementXmlWriter(R.Root()).SaveToFile(Path);
    QCOMPARE(ReadFile(Path), Bytes);
}

namespace {

// The class of a reader error as the caller sees it.
QString ErrorClass(const EkivXmlException& E) {
    if (typeid(E) == typeid(EXmlDepthError))
        return QStringLiteral("EXmlDepthError");
    if (typeid(E) == typeid(EXmlRootError))
        return QStringLiteral("EXmlRootError");
    if (typeid(E) == typeid(EkivXmlException))
        return QStringLiteral("EkivXmlException");
    return QString::fromLatin1(typeid(E).name());
}

// Levels nested elements, each named "a" and holding x="1".
QByteArray Nested(int Levels) {
    QByteArray B = "<?xml version=\"1.0\"?>\r\n";
    for (int I = 0; I < Levels; ++I)
        B += "<a x=\"1\">";
    for (int I = 0; I < Levels; ++I)
        B += "</a>";
    return B;
}

QString NestedDump(int Levels) {
    QString S;
    for (int I = 0; I < Levels; ++I)
        S += I + 1 < Levels ? QStringLiteral("a[x=1](") : QStringLiteral("a[x=1]");
    return S + QString(Levels - 1, QLatin1Char(')'));
}

} // namespace

void TestXml::hostileDocuments_data() {
    QTest::addColumn<QByteArray>("Bytes");
    QTest::addColumn<int>("MaxDepth");
    QTest::addColumn<bool>("SingleRoot");
    QTest::addColumn<QString>("Error");    // exception class; empty: the document reads
    QTest::addColumn<QString>("Expected"); // the message, or the tree read
    const QByteArray D = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";
    // Every refusal names the line where the reader stopped; these are all on line 2.
    const QString Bad = QStringLiteral("Das XML-Dokument ist fehlerhaft (Zeile 2)");
    const QString Xml = QStringLiteral("EkivXmlException");
    auto Reads = [](const char* Tag, const QByteArray& B, const QString& Tree, int Max = 0,
                    bool Single = false) {
        QTest::newRow(Tag) << B << Max << Single << QString() << Tree;
    };
    auto Fails = [](const char* Tag, const QByteArray& B, const QString& Class,
                    const QString& Message, int Max = 0, bool Single = false) {
        QTest::newRow(Tag) << B << Max << Single << Class << Message;
    };

    // Quotes: both kinds delimit, the other kind is plain text inside.
    Reads("single quotes",
          D + "<Projekt Name='sq' Verzeichnis=\"/d\" a='say \"hi\"' b=\"it's\" c = 'x=y'/>",
          QStringLiteral("Projekt[Name=sq,Verzeichnis=/d,a=say \"hi\",b=it's,c=x=y]"));
    Reads("single quotes decode references", D + "<a x='&apos;&#10;&amp;'/>",
          QStringLiteral("a[x='\n&]"));
    Fails("unquoted value", D + "<Projekt Name=uq/>", Xml, Bad);
    Fails("equals without value", D + "<Projekt Name=/>", Xml, Bad);
    Fails("equals at the end", D + "<Projekt Name= ></Projekt>", Xml, Bad);
    Fails("value without equals", D + "<Projekt Name\"x\"/>", Xml, Bad);
    Fails("value without name", D + "<Projekt =\"x\"/>", Xml, Bad);
    Fails("unterminated double quote", D + "<a x=\"1></a>", Xml, Bad);
    Fails("unterminated single quote", D + "<a x='1/>", Xml, Bad);
    Fails("quotes that do not match", D + "<a x=\"1'/>", Xml, Bad);
    Fails("markup in a value", D + "<a x=\"1>2\"/>", Xml, Bad);

    // NUL: dropped wherever it stands, raw or as a reference.
    Reads("nul bytes", Raw("\0<?xml?>\0<Pro\0jekt Na\0me=\"a\0b\"/\0>\0\0"),
          QStringLiteral("Projekt[Name=ab]"));
    Reads("nul in a text element", Raw("<?xml?><a><t>x\0y</t></a>"), QStringLiteral("a[t=xy]"));
    Reads("nul references", D + "<a n=\"x&#0;y&#x0;z\" m=\"&#0;\"/>", QStringLiteral("a[n=xyz]"));

    // One document element, when asked for.
    Reads("two roots allowed", D + "<a/><b/>", QStringLiteral("a[]"));
    Fails("two roots", D + "<a/><b/>", QStringLiteral("EXmlRootError"),
          QStringLiteral("Die Datei hat in Zeile 2 mehr als ein oberstes Element."), 0, true);
    Fails("element after the registry",
          D + "<SubVersion>\r\n  <Projekt Name=\"p\"/>\r\n"
              "</SubVersion>\r\n<Projekt Name=\"Alt\"/>\r\n",
          QStringLiteral("EXmlRootError"),
          QStringLiteral("Die Datei hat in Zeile 5 mehr als ein oberstes Element."), 0, true);
    Reads("one root", D + "<a><b/><c/></a>", QStringLiteral("a[](b[],c[])"), 0, true);

    // Depth.
    Reads("1000 levels", Nested(1000), NestedDump(1000), RegistryMaxDepth);
    Fails("1001 levels", Nested(1001), QStringLiteral("EXmlDepthError"),
          QStringLiteral("Die Datei ist in Zeile 2 zu tief verschachtelt (mehr als 1000 Ebenen)."),
          RegistryMaxDepth);
    Fails("limit 3", Nested(4), QStringLiteral("EXmlDepthError"),
          QStringLiteral("Die Datei ist in Zeile 2 zu tief verschachtelt (mehr als 3 Ebenen)."), 3);
    Reads("text elements are no level", D + "<a><b><t>x</t></b></a>", QStringLiteral("a[](b[t=x])"),
          2);
    Fails("the limit before an open end", Nested(5).left(Nested(5).indexOf("</a>")),
          QStringLiteral("EXmlDepthError"),
          QStringLiteral("Die Datei ist in Zeile 2 zu tief verschachtelt (mehr als 4 Ebenen)."), 4);
}

void TestXml::hostileDocuments() {
    QFETCH(QByteArray, Bytes);
    QFETCH(int, MaxDepth);
    QFETCH(bool, SingleRoot);
    QFETCH(QString, Error);
    QFETCH(QString, Expected);
    TPlainXmlReader R;
    R.SetMaxDepth(MaxDepth);
    R.SetSingleRoot(SingleRoot);
    try {
        R.LoadFromBytes(Bytes);
    } catch (const EkivXmlException& E) {
        QCOMPARE(ErrorClass(E), Error);
        QCOMPARE(E.Message(), Expected);
        // What was read is cleared, nothing half-read remains.
        if (R.Root()) {
            QCOMPARE(R.Root()->ChildCount(), 0);
            QCOMPARE(R.Root()->AttributeCount(), 0);
        }
        return;
    }
    QVERIFY2(Error.isEmpty(), "the document was read");
    QCOMPARE(Dump(R.Root()), Expected);
}

void TestXml::deepNesting() {
    constexpr int Depth = 100000;
    QString Text = Decl;
    Text.reserve(Depth * 12);
    for (int I = 0; I < Depth; ++I)
        Text += QStringLiteral("<a x=\"1\">");
    {
        // Unclosed: the error path clears the whole deep tree.
        TPlainXmlReader R;
        QVERIFY_THROWS_EXCEPTION(EkivXmlException, R.LoadFromStrings({Text}));
        QCOMPARE(R.Root()->ChildCount(), 0);
    }
    for (int I = 0; I < Depth; ++I)
        Text += QStringLiteral("</a>");
    auto R = std::make_unique<TPlainXmlReader>();
    R->LoadFromStrings({Text});
    const TkivXmlElement* E = R->Root();
    int Levels = 1;
    while (E->ChildCount() == 1) {
        E = E->GetChild(0);
        ++Levels;
    }
    QCOMPARE(Levels, Depth);
    // The writer walks it without recursion; a very negative indent keeps the lines short.
    QStringList Lines;
    TElementXmlWriter W(R->Root());
    W.WriteElement(R->Root(), Lines, -4 * Depth);
    QCOMPARE(Lines.size(), 2 * Depth - 1);
    QCOMPARE(Lines.at(Depth - 1), QStringLiteral("<a x=\"1\"/>"));
    QCOMPARE(Lines.last(), QStringLiteral("</a>"));
    R.reset(); // destruction of the deep tree must not recurse either
}

void TestXml::bigFile() {
    // About 50 MB: one big registry.
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("gross.xml"));
    {
        QFile F(Path);
        QVERIFY(F.open(QIODevice::WriteOnly));
        F.write("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<SubVersion>\r\n");
        const QByteArray Line =
            "    <Projekt Name=\"Projekt mit einem recht langen Namen\" "
            "Verzeichnis=\"/home/benutzer/Projekte/gruppe/projekt/trunk\"/>\r\n";
        int N = 0;
        while (F.size() < 50 * 1024 * 1024) {
            F.write("  <ProjektGruppe Name=\"G\">\r\n");
            for (int I = 0; I < 1000; ++I, ++N)
                F.write(Line);
            F.write("  </ProjektGruppe>\r\n");
        }
        F.write("</SubVersion>\r\n");
        QVERIFY(N > 400000);
    }
    TPlainXmlReader R;
    R.LoadFromFile(Path);
    QVERIFY(R.Root()->ChildCount() > 400);
    QCOMPARE(R.Root()->GetChild(7)->GetChild(999)->GetAttribute(QStringLiteral("Name")),
             QStringLiteral("Projekt mit einem recht langen Namen"));

    // 20 MB of one unterminated tag, and of one unterminated attribute value.
    TPlainXmlReader G;
    QVERIFY_THROWS_EXCEPTION(
        EkivXmlException, G.LoadFromStrings({Decl + QString(20 * 1024 * 1024, QLatin1Char('<'))}));
    QVERIFY_THROWS_EXCEPTION(EkivXmlException,
                             G.LoadFromStrings({Decl + QStringLiteral("<a x=\"") +
                                                QString(20 * 1024 * 1024, QLatin1Char('x'))}));
}

void TestXml::garbageNeverCrashes() {
    // Random text biased towards markup: every input reads or raises the reader's error, and
    // a failed read leaves the root empty.
    QRandomGenerator Rng(20261208);
    const char Alphabet[] = "<<<>>>//\"\"== ab?x!-&#;\r\n\t\0\xE4\x80";
    int Read = 0, Rejected = 0;
    for (int Round = 0; Round < 3000; ++Round) {
        QByteArray Bytes = "<?xml?>";
        if (Round % 3 == 0)
            Bytes.clear();
        const int Len = int(Rng.bounded(1, 400));
        for (int I = 0; I < Len; ++I)
            Bytes += Round % 5 == 4 ? char(Rng.bounded(256))
                                    : Alphabet[Rng.bounded(int(sizeof Alphabet) - 1)];
        TPlainXmlReader R;
        try {
            R.LoadFromBytes(Bytes);
            ++Read;
        } catch (const EkivXmlException&) {
            ++Rejected;
            if (R.Root()) {
                QCOMPARE(R.Root()->ChildCount(), 0);
                QCOMPARE(R.Root()->AttributeCount(), 0);
            }
        }
    }
    QVERIFY(Rejected > 0);
    QCOMPARE(Read + Rejected, 3000);
}

void TestXml::fuzzFindings() {
    // Inputs the fuzzer found. This one has quoted values without "Name=" before them, which
    // the reader refuses now.
    const QByteArray Bytes = ReadFile(QStringLiteral(KIV_XML_TEST_DATA "/fuzz-merged-names.bin"));
    QVERIFY(!Bytes.isEmpty());
    TPlainXmlReader Refused;
    QVERIFY_THROWS_EXCEPTION(EkivXmlException, Refused.LoadFromBytes(Bytes));
    // Its byte-order mark says UTF-8, and its bytes are none: now it is refused before any
    // element is made.
    QCOMPARE(Refused.Root(), nullptr);
    // What it found besides: two attribute names that become the same name when written ("/"
    // and "," both turn into "_"); the second writing must be stable.
    TPlainXmlReader R;
    R.LoadFromStrings(
        {Decl, QStringLiteral("<a b/c=\"1\" b,c=\"2\" b_c=\"3\"><b x.y=\"4\" x:y=\"5\"/></a>")});
    QCOMPARE(Dump(R.Root()), QStringLiteral("a[b/c=1,b,c=2,b_c=3](b[x.y=4,x:y=5])"));
    TPlainXmlReader Second;
    Second.LoadFromStrings(TElementXmlWriter(R.Root()).DocumentLines());
    QCOMPARE(Dump(Second.Root()), QStringLiteral("a[b_c=3](b[x_y=5])"));
    const QStringList Lines = TElementXmlWriter(Second.Root()).DocumentLines();
    TPlainXmlReader Third;
    Third.LoadFromStrings(Lines);
    QCOMPARE(TElementXmlWriter(Third.Root()).DocumentLines(), Lines);
}

#ifdef KIV_HAVE_LIBXML2
namespace {

// What libxml2 sees: the same picture as Dump.
QString DumpLibxml(xmlNode* N) {
    QString S = QString::fromUtf8(reinterpret_cast<const char*>(N->name)) + QLatin1Char('[');
    bool First = true;
    for (xmlAttr* A = N->properties; A; A = A->next) {
        if (!First)
            S += QLatin1Char(',');
        First = false;
        xmlChar* V = xmlNodeListGetString(N->doc, A->children, 1);
        S += QString::fromUtf8(reinterpret_cast<const char*>(A->name)) + QLatin1Char('=') +
             QString::fromUtf8(reinterpret_cast<const char*>(V));
        xmlFree(V);
    }
    S += QLatin1Char(']');
    QStringList Children;
    for (xmlNode* C = N->children; C; C = C->next)
        if (C->type == XML_ELEMENT_NODE)
            Children += DumpLibxml(C);
    if (!Children.isEmpty())
        S += QLatin1Char('(') + Children.join(QLatin1Char(',')) + QLatin1Char(')');
    return S;
}

// The tree as an XML parser must see it: names as written, values exactly (TAB, CR and LF
// are written as references, which attribute normalisation leaves alone).
QString DumpAsWritten(const TkivXmlElement* E) {
    QString S = MakeXmlName(E->Name()) + QLatin1Char('[');
    for (int I = 0; I < E->AttributeCount(); ++I) {
        if (I)
            S += QLatin1Char(',');
        S += MakeXmlName(E->AttributeName(I)) + QLatin1Char('=') +
             E->GetAttribute(E->AttributeName(I));
    }
    S += QLatin1Char(']');
    if (E->ChildCount() > 0) {
        S += QLatin1Char('(');
        for (int I = 0; I < E->ChildCount(); ++I)
            S += (I ? QStringLiteral(",") : QString()) + DumpAsWritten(E->GetChild(I));
        S += QLatin1Char(')');
    }
    return S;
}

QString RandomText(QRandomGenerator& Rng, int MaxLen) {
    // ESC and 0x01 enter too: they are dropped on the way in, so what is written stays XML.
    static const QString Pool =
        QStringLiteral("abcXYZ 019\"&'<>=;/\\.:äöüßÄ€ŸœΩжд中文\r\n\t#\x1b\x01");
    QString S;
    const int Len = int(Rng.bounded(MaxLen + 1));
    for (int I = 0; I < Len; ++I) {
        if (Rng.bounded(20) == 0)
            S += QString::fromUcs4(U"\U0001F600");
        else
            S += Pool.at(int(Rng.bounded(int(Pool.size()))));
    }
    return S;
}

} // namespace
#endif

void TestXml::libxml2SeesWhatWeWrote() {
#ifndef KIV_HAVE_LIBXML2
    QSKIP("libxml2 not found at build time");
#else
    const QString Xmllint = QStandardPaths::findExecutable(QStringLiteral("xmllint"));
    if (Xmllint.isEmpty())
        QSKIP("xmllint not installed (Debian package libxml2-utils)");
    QTemporaryDir Dir;
    QRandomGenerator Rng(4711);
    std::vector<std::unique_ptr<TkivPlainXmlElement>> Trees;
    Trees.push_back(SampleRegistry(false));
    Trees.push_back(SampleRegistry(true));
    const QStringList Names = {QStringLiteral("SubVersion"), QStringLiteral("ProjektGruppe"),
                               QStringLiteral("Projekt"),    QStringLiteral("Eine Gruppe"),
                               QStringLiteral("Übersicht"),  QString(),
                               QStringLiteral("a.b:c")};
    for (int T = 0; T < 20; ++T) {
        auto Root = std::make_unique<TkivPlainXmlElement>();
        Root->SetName(QStringLiteral("SubVersion"));
        std::vector<TkivXmlElement*> Open = {Root.get()};
        for (int I = 0; I < 60; ++I) {
            TkivXmlElement* Parent = Open.at(Rng.bounded(int(Open.size())));
            TkivXmlElement* E = Parent->AddChild(Names.at(int(Rng.bounded(int(Names.size())))));
            const int Attrs = int(Rng.bounded(4));
            for (int A = 0; A < Attrs; ++A)
                E->SetAttribute(QStringList({QStringLiteral("Name"), QStringLiteral("Verzeichnis"),
                                             QStringLiteral("Ä b"), QStringLiteral("x.y")})
                                    .at(A),
                                RandomText(Rng, 30));
            Open.push_back(E);
        }
        Trees.push_back(std::move(Root));
    }
    QStringList Files;
    for (size_t T = 0; T < Trees.size(); ++T) {
        const QString Path = Dir.filePath(QStringLiteral("t%1.xml").arg(T));
        TElementXmlWriter(Trees[T].get())
            .SaveToFile(Path, T == 1 ? QStringLiteral("style.xsl") : QString(), QString());
        Files += Path;

        xmlDocPtr Doc = xmlReadFile(QFile::encodeName(Path).constData(), nullptr, XML_PARSE_NONET);
        QVERIFY2(Doc, qPrintable(Path));
        const QString Theirs = DumpLibxml(xmlDocGetRootElement(Doc));
        xmlFreeDoc(Doc);
        QCOMPARE(Theirs, DumpAsWritten(Trees[T].get()));
    }
    QProcess Lint;
    Lint.start(Xmllint, QStringList{QStringLiteral("--noout")} + Files);
    QVERIFY(Lint.waitForFinished(60000));
    QCOMPARE(Lint.readAllStandardError(), QByteArray());
    QCOMPARE(Lint.exitCode(), 0);
#endif
}

namespace {

// The message of the reader's error for Bytes, or "" when they read.
QString ReadError(const QByteArray& Bytes, QString* Tree = nullptr) {
    TPlainXmlReader R;
    R.SetSingleRoot(true);
    try {
        R.LoadFromBytes(Bytes);
    } catch (const EkivXmlException& E) {
        return E.Message();
    }
    if (Tree)
        *Tree = Dump(R.Root());
    return QString();
}

} // namespace

// Files that declare UTF-8 are read as UTF-8 (and written back as always), repeated attributes
// refuse the file with the line, and writes through links or onto names taken meanwhile never
// replace what they must not.
void TestXml::dataLossRoundThree() {
    QTemporaryDir Dir;
    // UTF-8 without a byte-order mark, as editors and other programs write it.
    const QByteArray Utf8Body =
        "<SubVersion>\r\n  <Projekt Name=\"M\xc3\xbcller\" "
        "Verzeichnis=\"/home/m\xc3\xbcller/\xe2\x82\xac\"/>\r\n</SubVersion>\r\n";
    for (const QByteArray& Declaration :
         {QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
          QByteArray("<?xml version='1.0' encoding = 'utf-8' standalone='yes'?>"),
          QByteArray("<!-- von Hand -->\r\n<?xml version=\"1.0\" encoding=\"utf8\"?>")}) {
        const QString Path = Dir.filePath(QStringLiteral("utf8.xml"));
        WriteFile(Path, Declaration + "\r\n" + Utf8Body);
        TPlainXmlReader R;
        R.LoadFromFile(Path);
        QCOMPARE(Dump(R.Root()),
                 QStringLiteral("SubVersion[](Projekt[Name=Müller,Verzeichnis=/home/"
                                "müller/€])"));
        // Written back as this program always writes: Windows-1252, declared so.
        TElementXmlWriter(R.Root()).SaveToFile(Path);
        const QByteArray Back = ReadFile(Path);
        QVERIFY(Back.startsWith("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"));
        QVERIFY(Back.contains("Name=\"M\xfcller\" Verzeichnis=\"/home/m\xfcller/\x80\""));
    }
    // A file that declares Windows-1252 keeps its bytes' meaning.
    QCOMPARE(ReadError(Decl.toLatin1() + "<a n=\"M\xc3\xbc\"/>"), QString());
    QString Tree;
    ReadError(Decl.toLatin1() + "<a n=\"M\xc3\xbc\"/>", &Tree);
    QCOMPARE(Tree, QStringLiteral("a[n=MÃ¼]"));
    // Declared UTF-8, and bytes that are none: refused with the line, never guessed at.
    const QString Bad = ReadError("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a>\r\n"
                                  "<b n=\"M\xfcller\"/></a>");
    QVERIFY2(Bad.startsWith(QStringLiteral("Das XML-Dokument ist fehlerhaft (Zeile 3)")) &&
                 Bad.contains(QStringLiteral("UTF-8")),
             qPrintable(Bad));
    QVERIFY(!ReadError("\xef\xbb\xbf<?xml?>\n\n\n<a n=\"\xc0\xaf\"/>").isEmpty()); // overlong

    // One attribute twice, also in another letter case (the program's rule of names): the file
    // is refused like any other broken one, with the line.
    const QByteArray D = Decl.toLatin1() + "\r\n<SubVersion>\r\n";
    QString E = ReadError(D + "  <ProjektGruppe Name=\"G1\" Name=\"G2\"/>\r\n</SubVersion>");
    QVERIFY2(E.startsWith(QStringLiteral("Das XML-Dokument ist fehlerhaft (Zeile 3)")) &&
                 E.contains(QStringLiteral("»Name« zweimal")),
             qPrintable(E));
    E = ReadError(D + "\r\n  <Projekt Name=\"p\" Verzeichnis=\"/a\"\r\n"
                      "           verzeichnis=\"/b\"/>\r\n</SubVersion>");
    QVERIFY2(E.contains(QStringLiteral("(Zeile 5)")) &&
                 E.contains(QStringLiteral("»Verzeichnis«")) &&
                 E.contains(QStringLiteral("»verzeichnis«")),
             qPrintable(E));
    // An empty value counts as given, and so does a name given as a text element.
    QVERIFY(!ReadError(D + "<Projekt Name=\"\" NAME=\"x\"/></SubVersion>").isEmpty());
    QVERIFY(ReadError(D + "<Projekt Name=\"x\">\r\n<Name>y</Name></Projekt></SubVersion>")
                .contains(QStringLiteral("(Zeile 4)")));
    // Many attributes (the reader's look-up table) and the repeat at the end.
    QByteArray Many = D + "<Projekt";
    for (int I = 0; I < 40; ++I)
        Many += " a" + QByteArray::number(I) + "=\"v\"";
    QVERIFY(!ReadError(Many + " A39=\"w\"/></SubVersion>").isEmpty());
    QCOMPARE(ReadError(Many + " b=\"w\"/></SubVersion>"), QString());
    // What the writer makes is always read again: names it would write alike are written once.
    {
        TkivPlainXmlElement Root;
        Root.SetName(QStringLiteral("a"));
        Root.SetAttribute(QStringLiteral("x.y"), QStringLiteral("1"));
        Root.SetAttribute(QStringLiteral("X_Y"), QStringLiteral("2"));
        const QString Path = Dir.filePath(QStringLiteral("alike.xml"));
        TElementXmlWriter(&Root).SaveToFile(Path);
        TPlainXmlReader R;
        R.LoadFromFile(Path);
        QCOMPARE(Dump(R.Root()), QStringLiteral("a[X_Y=2]"));
    }

    // Links: a save through one that leads nowhere or in a circle is refused, and the link stays.
    const QString Dangling = Dir.filePath(QStringLiteral("dangling.xml"));
    QVERIFY(QFile::link(Dir.filePath(QStringLiteral("fehlt/weg.xml")), Dangling));
    QVERIFY(QFile::link(Dir.filePath(QStringLiteral("loop-b")),
                        Dir.filePath(QStringLiteral("loop-a"))));
    QVERIFY(QFile::link(Dir.filePath(QStringLiteral("loop-a")),
                        Dir.filePath(QStringLiteral("loop-b"))));
    QDir().mkpath(Dir.filePath(QStringLiteral("fehlt")));
    for (const QString& Link : {Dangling, Dir.filePath(QStringLiteral("loop-a"))}) {
        const QString Target = QFileInfo(Link).symLinkTarget();
        try {
            WriteFileAtomically(Link, "neu");
            QFAIL("written through a broken link");
        } catch (const EFileError& Err) {
            QVERIFY2(Err.Message().contains(QStringLiteral("das es nicht gibt")) ||
                         Err.Message().contains(QStringLiteral("im Kreis")),
                     qPrintable(Err.Message()));
        }
        QVERIFY(QFileInfo(Link).isSymLink());
        QCOMPARE(QFileInfo(Link).symLinkTarget(), Target);
    }
    QVERIFY(!QFileInfo::exists(Dir.filePath(QStringLiteral("fehlt/weg.xml"))));
    // A chain of links that ends in a file: the file is replaced, the links stay.
    const QString Real = Dir.filePath(QStringLiteral("real.xml"));
    WriteFile(Real, "alt");
    QVERIFY(QFile::link(Real, Dir.filePath(QStringLiteral("chain-1"))));
    QVERIFY(QFile::link(Dir.filePath(QStringLiteral("chain-1")),
                        Dir.filePath(QStringLiteral("chain-2"))));
    WriteFileAtomically(Dir.filePath(QStringLiteral("chain-2")), "neu");
    QCOMPARE(ReadFile(Real), QByteArray("neu"));
    QVERIFY(QFileInfo(Dir.filePath(QStringLiteral("chain-2"))).isSymLink());
    QVERIFY(QFileInfo(Dir.filePath(QStringLiteral("chain-1"))).isSymLink());
    // ReplaceName replaces a link itself, never what it points to; NewName replaces nothing.
    const QString Page = Dir.filePath(QStringLiteral("page.html"));
    QVERIFY(QFile::link(Real, Page));
    WriteFileAtomically(Page, "seite", TWriteMode::ReplaceName);
    QVERIFY(!QFileInfo(Page).isSymLink());
    QCOMPARE(ReadFile(Page), QByteArray("seite"));
    QCOMPARE(ReadFile(Real), QByteArray("neu"));
    QVERIFY_THROWS_EXCEPTION(EFileError, WriteFileAtomically(Page, "x", TWriteMode::NewName));
    QCOMPARE(ReadFile(Page), QByteArray("seite"));
    WriteFileAtomically(Dir.filePath(QStringLiteral("new.html")), "frisch", TWriteMode::NewName);
    QCOMPARE(ReadFile(Dir.filePath(QStringLiteral("new.html"))), QByteArray("frisch"));

    // Kept copies: a name that is taken counts up, created exclusively, never replaced.
    const QString Base = Dir.filePath(QStringLiteral("reg.xml.extern-20260101-120000"));
    WriteFile(Base, "erste");
    WriteFile(Base + "-2", "zweite");
    QCOMPARE(WriteNewFile(Base, "dritte"), Base + "-3");
    QCOMPARE(WriteNewFile(Base, "vierte"), Base + "-4");
    QCOMPARE(ReadFile(Base), QByteArray("erste"));
    QCOMPARE(ReadFile(Base + "-3"), QByteArray("dritte"));
    QVERIFY_THROWS_EXCEPTION(EFileError, WriteNewFile(Dir.filePath(QStringLiteral("nix/x")), "y"));
}

// What is no file is refused before it is read, without blocking: a FIFO nobody writes to, a
// device that never ends, a file larger than the bound. Each with a German reason.
void TestXml::hangsRoundThree() {
    QTemporaryDir Dir;
    const QString Fifo = Dir.filePath(QStringLiteral("fifo.xml"));
    QCOMPARE(mkfifo(QFile::encodeName(Fifo).constData(), 0600), 0);
    const QString Big = Dir.filePath(QStringLiteral("big.xml"));
    {
        QFile F(Big);
        QVERIFY(F.open(QIODevice::WriteOnly));
        QVERIFY(F.resize(MaxReadFileBytes + 1)); // sparse: nothing is written
    }
    const QString ZeroLink = Dir.filePath(QStringLiteral("zero.xml"));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), ZeroLink));
    struct Case {
        QString Path, Reason;
    };
    const QList<Case> Cases{{Fifo, QStringLiteral("benannte Pipe (FIFO), keine gewöhnliche Datei")},
                            {QStringLiteral("/dev/zero"), QStringLiteral("ein Gerät")},
                            {ZeroLink, QStringLiteral("ein Gerät")},
                            {Big, QStringLiteral("gelesen werden höchstens 128 MB")},
                            {Dir.path(), QStringLiteral("ein Ordner")}};
    QElapsedTimer Took;
    Took.start();
    for (const Case& C : Cases) {
        QCOMPARE(FileTypeProblem(C.Path).isEmpty(), C.Path == Big);
        TPlainXmlReader R;
        try {
            R.LoadFromFile(C.Path);
            QFAIL(qPrintable("read: " + C.Path));
        } catch (const EFileError& E) {
            QVERIFY2(E.Message().contains(C.Path) && E.Message().contains(C.Reason),
                     qPrintable(E.Message()));
        }
        // Nor is any of them replaced by a save.
        if (C.Path != Big && C.Path != QStringLiteral("/dev/zero"))
            QVERIFY_THROWS_EXCEPTION(EFileError, WriteFileAtomically(C.Path, "x"));
    }
    QVERIFY(Took.elapsed() < 5000);
    QVERIFY(QFileInfo(Fifo).exists() && !QFileInfo(Fifo).isFile());
    QVERIFY(QFileInfo(ZeroLink).isSymLink());
    // A file whose size says nothing is read only up to the bound.
    QVERIFY_THROWS_EXCEPTION(EFileError, ReadFileBounded(QStringLiteral("/proc/self/maps"), 16));
    QVERIFY(!ReadFileBounded(QStringLiteral("/proc/self/maps")).isEmpty());
}

// Control characters other than TAB, LF and CR are dropped like NUL wherever text enters, and
// the system's reasons come in German.
void TestXml::wrongResultsRoundThree() {
    QString Tree;
    QCOMPARE(
        ReadError(Raw("<?xml?>\r\n<a n=\"x\x1b[31my\x01\" m=\"&#27;&#x1;&#x7;z&#9;\"/>"), &Tree),
        QString());
    QCOMPARE(Tree, QStringLiteral("a[n=x[31my,m=z\t]"));
    TkivPlainXmlElement E;
    E.SetName(QStringLiteral("Pro\x1bjekt"));
    E.SetAttribute(QStringLiteral("Na\x01me"), QStringLiteral("a\x1b") + QChar(0xD800) +
                                                   QStringLiteral("b\tc") + QChar(0xFFFF));
    QCOMPARE(Dump(&E), QStringLiteral("Projekt[Name=ab\tc]"));
    QCOMPARE(StorableText(QStringLiteral("ok ") + QString::fromUcs4(U"\U0001F600")),
             QStringLiteral("ok ") + QString::fromUcs4(U"\U0001F600")); // a pair stays

    // German reasons, also for what the standard library raises.
    QCOMPARE(SystemErrorText(EACCES), QStringLiteral("Zugriff verweigert"));
    QCOMPARE(SystemErrorText(EMFILE), QStringLiteral("Zu viele offene Dateien"));
    QVERIFY(SystemErrorText(EHWPOISON).startsWith(QStringLiteral("Systemfehler Nr. ")));
    QCOMPARE(ExceptionText(std::bad_alloc()),
             QStringLiteral("Nicht genügend Arbeitsspeicher für diesen Vorgang."));
    QCOMPARE(ExceptionText(std::system_error(ENOSPC, std::generic_category())),
             QStringLiteral("Auf dem Datenträger ist kein Platz mehr frei."));
    QCOMPARE(ExceptionText(EFileError(QStringLiteral("Eigen"))), QStringLiteral("Eigen"));
    QVERIFY(ExceptionText(std::logic_error("x")).startsWith(QStringLiteral("Interner Fehler")));
    // A file the user may not read says so in German, whatever the locale.
    if (geteuid() != 0) {
        QTemporaryDir Dir;
        const QString Path = Dir.filePath(QStringLiteral("zu.xml"));
        WriteFile(Path, "<?xml?><a/>");
        QVERIFY(QFile::setPermissions(Path, QFileDevice::Permissions()));
        try {
            ReadFileBounded(Path);
            QFAIL("read");
        } catch (const EFileError& Err) {
            QVERIFY2(Err.Message().endsWith(QStringLiteral("(Zugriff verweigert)")),
                     qPrintable(Err.Message()));
        }
    }
}

QTEST_GUILESS_MAIN(TestXml)
#include "tst_xml.moc"
