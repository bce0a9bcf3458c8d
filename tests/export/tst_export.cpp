// The HTML export: svn info parsing, the page lines, the batched client runs against real
// working copies, the atomic file, and the dialog driven headless.
#include "kiv_test_prompter.h"
#include "kiv_test_tmpfs.h"
#include "fm_html_ausgabe.h"
#include "html_ausgabe.h"

#include "kivButtonEdit.h"
#include "kiv_FileText.h"
#include "kiv_XmlObjects.h"
#include "kiv_prompts.h"
#include "kiv_system.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <langinfo.h>
#include <memory>
#include <sys/stat.h>

namespace {

QByteArray ReadFile(const QString& Path) {
    QFile F(Path);
    return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
}

const QString RedTail = QStringLiteral(
    "<br></span><font color=\"#FF0000\">{ keine URL vorhanden }<br><br></small></font><span "
    "style=\"font-family: Tahoma; font-weight: bold;\"></li>");

QString UrlTail(const QString& U) {
    return QStringLiteral("<br></span><font color=\"#0000FF\">{ <a href=\"") + U +
           QStringLiteral("\">") + U +
           QStringLiteral("</a> }<br><br></small></font><span style=\"font-family: Tahoma; "
                          "font-weight: bold;\"></li>");
}

QStringList Header(const QString& Owner) {
    return {QStringLiteral("<html>"),
            QStringLiteral("<head>"),
            QStringLiteral("<meta content=\"text/html; charset=ISO-8859-1\""),
            QStringLiteral("http-equiv=\"content-type\">"),
            QStringLiteral("<title>kivSubversion</title>"),
            QStringLiteral("</head>"),
            QStringLiteral("<body>"),
            QStringLiteral("<div style=\"text-align: center;\">"),
            QStringLiteral("<span style=\"font-family: Tahoma; font-weight: bold; "
                           "text-decoration: underline;\">Subversion Projekte von: ") +
                Owner + QStringLiteral("<br><br></span></div>"),
            QStringLiteral("<div style=\"text-align: left;\">"),
            QStringLiteral("<span style=\"font-family: Tahoma; font-weight: bold;\">")};
}

TkivXmlElement* AddGroup(TkivXmlElement* Parent, const QString& Name) {
    TkivXmlElement* E = Parent->AddChild(QStringLiteral("ProjektGruppe"));
    E->SetAttribute(QStringLiteral("Name"), Name);
    return E;
}

TkivXmlElement* AddProject(TkivXmlElement* Parent, const QString& Name, const QString& Dir) {
    TkivXmlElement* E = Parent->AddChild(QStringLiteral("Projekt"));
    E->SetAttribute(QStringLiteral("Name"), Name);
    E->SetAttribute(QStringLiteral("Verzeichnis"), Dir);
    return E;
}

int Run(const QString& Program, const QStringList& Args, const QString& Dir = QString()) {
    QProcess P;
    P.setProcessChannelMode(QProcess::MergedChannels);
    if (!Dir.isEmpty())
        P.setWorkingDirectory(Dir);
    P.start(Program, Args);
    P.waitForFinished(60000);
    if (P.exitCode() != 0)
        qWarning().noquote() << Program << Args.join(' ') << P.readAll();
    return P.exitCode();
}

// A folder name with a blank and an "@", and an umlaut where the locale lets the client take
// one on its command line (not in the plain C locale).
QString OddName() {
    const bool Utf8 = qstrcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    return Utf8 ? QStringLiteral("\u00e4 b@c") : QStringLiteral("o b@c");
}

// Runs Action on the dialog once it is shown modally.
void OnDialog(std::function<void(TfmHTML_Ausgabe*)> Action) {
    QTimer::singleShot(0, [Action] {
        auto* D = qobject_cast<TfmHTML_Ausgabe*>(QApplication::activeModalWidget());
        if (!D) { // not up yet: try again
            OnDialog(Action);
            return;
        }
        Action(D);
        if (D->isVisible()) // a failed check inside left it open
            D->reject();
    });
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT

    QTemporaryDir FTmp;
    QString FRepoUrl;
    QString FWc;    // working copies live here
    QString FOwner; // the registered owner as the page writes it
    TTestPrompter FPrompter;

    QString Wc(const QString& Name) const { return FWc + QLatin1Char('/') + Name; }

private slots:
    void initTestCase();
    void cleanup() { FPrompter.Reset(); }

    void htmlTextEscapesAndReferences();
    void pageLinesForTreeShapes();
    void exportWritesPageThroughDialog();
    void failedWriteKeepsEarlierFile();
    void destroyedJobEndsQuietly();
    void dialogRules();
    void dialogCancelKeepsArguments();
    // Issue 20, data loss: an existing file is replaced only when the user says so, a link at
    // the name is never written through, and the page stays in the chosen folder.
    void dataLossRoundThree();
    // Issue 20, hangs: an export ended early says that its page was not written.
    void hangsRoundThree();
};

void TestExport::initTestCase() {
    QVERIFY(FTmp.isValid());
    SetPrompter(&FPrompter);
    FOwner = HtmlText(GetRegisteredOwner());
    const QString Repo = FTmp.filePath(QStringLiteral("repo"));
    QCOMPARE(Run(QStringLiteral("svnadmin"), {QStringLiteral("create"), Repo}), 0);
    FRepoUrl = QStringLiteral("file://") + Repo;
    FWc = FTmp.filePath(QStringLiteral("wc"));
    QVERIFY(QDir().mkpath(FWc));
    // The working copy "\u00e4 b@c" has a blank, an umlaut and an "@" in its folder name.
    const QStringList Names{QStringLiteral("alpha"), QStringLiteral("beta"),
                            QStringLiteral("gamma"), QStringLiteral("odd")};
    QStringList Args{QStringLiteral("mkdir"), QStringLiteral("-m"), QStringLiteral("x")};
    for (const QString& N : Names)
        Args << FRepoUrl + QLatin1Char('/') + N;
    QCOMPARE(Run(QStringLiteral("svn"), Args), 0);
    for (const QString& N : Names) {
        const QString Local = N == QLatin1String("odd") ? OddName() : N;
        QCOMPARE(Run(QStringLiteral("svn"), {QStringLiteral("checkout"), QStringLiteral("-q"),
                                             FRepoUrl + QLatin1Char('/') + N, Wc(Local)}),
                 0);
    }
    QVERIFY(QDir().mkpath(Wc(QStringLiteral("plain")))); // a folder that is no working copy
}

void TestExport::htmlTextEscapesAndReferences() {
    QCOMPARE(HtmlText(QStringLiteral("<script>alert(\"x\")</script> & co")),
             QStringLiteral("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; co"));
    // Latin-1 stays a character (one byte in the file); the rest become references, including
    // what Windows-1252 keeps where ISO-8859-1 has control codes (the euro sign).
    QCOMPARE(HtmlText(QStringLiteral("M\u00fcller \u20ac \u4e2d \U0001F600")),
             QStringLiteral("M\u00fcller &#8364; &#20013; &#128512;"));
    QCOMPARE(HtmlText(QStringLiteral("&#65;")), QStringLiteral("&amp;#65;"));
}

void TestExport::pageLinesForTreeShapes() {
    QStringList Expected = Header(QStringLiteral("O&amp;B"));
    TkivPlainXmlElement Root;
    Root.SetName(QStringLiteral("SubVersion"));
    const QStringList Empty{"<ul>", "</ul>", "</span></body>", "</html>"};
    QCOMPARE(HtmlPageLines(SnapshotHtmlTree(&Root), {}, QStringLiteral("O&B")), Expected + Empty);

    TkivXmlElement* G = AddGroup(&Root, QStringLiteral("G<1>"));
    TkivXmlElement* Inner = AddGroup(G, QStringLiteral("Inner"));
    AddProject(Inner, QStringLiteral("P\"1\""), QStringLiteral("/w/p1/"));
    AddGroup(G, QStringLiteral("Leer"));
    AddProject(&Root, QStringLiteral("NoDir"), QString()); // written as a group
    AddProject(&Root, QStringLiteral("P2"), QStringLiteral("/w/p2"));
    const THtmlItem Tree = SnapshotHtmlTree(&Root);
    QCOMPARE(Tree.Children[0].Children[0].Children[0].Folder, QStringLiteral("/w/p1"));
    const QHash<QString, QString> Urls{{QStringLiteral("/w/p1"), QStringLiteral("file:///r?a&b")}};
    Expected << "<ul>"
             << "<li><big>[G&lt;1&gt;]</big><br><br>"
             << "<ul>"
             << "<li><big>[Inner]</big><br><br>"
             << "<ul>"
             << "<li><small><b>P&quot;1&quot;</b>  (/w/p1/)" << UrlTail("file:///r?a&amp;b")
             << "</ul>"
             << "</li>"
             << "<li><big>[Leer]</big><br><br>"
             << "<ul>"
             << "</ul>"
             << "</li>"
             << "</ul>"
             << "</li>"
             << "<li><big>[NoDir]</big><br><br>"
             << "<ul>"
             << "</ul>"
             << "</li>"
             << "<li><small>P2" << RedTail << "</ul>"
             << "</span></body>"
             << "</html>";
    QCOMPARE(HtmlPageLines(Tree, Urls, QStringLiteral("O&B")), Expected);
}

void TestExport::exportWritesPageThroughDialog() {
    QTemporaryDir Out;
    TkivPlainXmlElement Root;
    Root.SetName(QStringLiteral("SubVersion"));
    Root.SetAttribute(QStringLiteral("HTML_Export"), Out.path());
    TkivXmlElement* G = AddGroup(&Root, QStringLiteral("Gruppe & \u00dcbersicht"));
    AddProject(G, QStringLiteral("<script>alert(1)</script>"), Wc("alpha") + "/");
    AddGroup(G, QStringLiteral("Leer"));
    // Missing, and relative to the current directory, which is a working copy: it must not
    // get that copy's URL.
    AddProject(&Root, QStringLiteral("Weg \u20ac \u4e2d"), QStringLiteral("missing"));
    // A folder that is there but no copy: the URL the registry keeps is not its.
    AddProject(&Root, QStringLiteral("Plain"), Wc("plain"))
        ->SetAttribute(QStringLiteral("URL"), QStringLiteral("svn://h/plain"));
    AddProject(&Root, QStringLiteral("Beta"), Wc("beta"));
    // A copy that is gone: the URL the registry keeps, marked as kept.
    AddProject(&Root, QStringLiteral("Fort"), Wc("fort"))
        ->SetAttribute(QStringLiteral("URL"), QStringLiteral("svn://h/fort"));

    const QString Before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(Wc("gamma")));
    OnDialog([](TfmHTML_Ausgabe* D) {
        QVERIFY(D->btnOK->isEnabled());
        D->cmb_HTMLName->setEditText(QStringLiteral("bericht"));
        QTest::mouseClick(D->btnOK, Qt::LeftButton);
    });
    int Started = 0, Stopped = 0;
    THtmlExportJob* Job = ExportProjectsAsHtml(
        &Root, nullptr, [&] { ++Started; }, [&] { ++Stopped; });
    QVERIFY(Job);
    // Returned at once: the runs go on while the event loop turns.
    QVERIFY(!Job->IsFinished());
    QCOMPARE(Started, 1);
    QCOMPARE(Stopped, 0);
    QCOMPARE(Root.GetAttribute(QStringLiteral("HTML_Export")), Out.path());
    QSignalSpy Done(Job, &THtmlExportJob::Finished);
    QSignalSpy Learnt(Job, &THtmlExportJob::UrlLearned);
    QVERIFY(Done.wait(30000));
    // Every URL svn gave goes to whoever keeps the registry.
    QCOMPARE(Learnt.size(), 2);
    QVERIFY(Learnt.contains(QVariantList({Wc("alpha"), FRepoUrl + "/alpha"})));
    QCOMPARE(Done[0][0].toBool(), true);
    QCOMPARE(Stopped, 1);
    QCOMPARE(QDir::currentPath(), Wc("gamma"));
    QVERIFY(QDir::setCurrent(Before));
    QVERIFY(FPrompter.Errors.isEmpty());

    QFile F(Out.filePath(QStringLiteral("bericht"))); // exactly as typed, no ".html"
    QVERIFY(F.open(QIODevice::ReadOnly));
    const QByteArray Bytes = F.readAll();
    F.close();
    QVERIFY(Bytes.endsWith("</html>\r\n"));
    QCOMPARE(Bytes.count("\r\n"), Bytes.count('\n'));
    QVERIFY(Bytes.contains("[Gruppe &amp; \xdc"
                           "bersicht]")); // one Windows-1252 byte
    const QStringList Lines = DecodeWindows1252(Bytes).split(QStringLiteral("\r\n"));
    QStringList Expected = Header(FOwner);
    Expected << "<ul>"
             << "<li><big>[Gruppe &amp; \u00dcbersicht]</big><br><br>"
             << "<ul>"
             << "<li><small><b>&lt;script&gt;alert(1)&lt;/script&gt;</b>  (" + Wc("alpha") + "/)"
             << UrlTail(FRepoUrl + "/alpha") << "<li><big>[Leer]</big><br><br>"
             << "<ul>"
             << "</ul>"
             << "</li>"
             << "</ul>"
             << "</li>"
             << "<li><small>Weg &#8364; &#20013;" << RedTail << "<li><small>Plain" << RedTail
             << "<li><small><b>Beta</b>  (" + Wc("beta") + ")" << UrlTail(FRepoUrl + "/beta")
             << "<li><small><b>Fort</b>  (" + Wc("fort") + ")"
             << UrlTail("svn://h/fort")
                    .replace(" }<br>",
                             " } <font color=\"#FF0000\">(Verzeichnis fehlt &#8211; gespeicherte "
                             "URL)</font><br>")
             << "</ul>"
             << "</span></body>"
             << "</html>"
             << "";
    QCOMPARE(Lines, Expected);

    // KIV_KEEP_HTML=<path> keeps a copy, to look at it in a browser.
    if (qEnvironmentVariableIsSet("KIV_KEEP_HTML")) {
        QFile::remove(qEnvironmentVariable("KIV_KEEP_HTML"));
        QFile::copy(F.fileName(), qEnvironmentVariable("KIV_KEEP_HTML"));
    }
    // A real HTML checker finds no errors in it.
    const QString Tidy = QStandardPaths::findExecutable(QStringLiteral("tidy"));
    if (Tidy.isEmpty())
        QSKIP("tidy is not installed");
    QProcess T;
    T.start(Tidy, {QStringLiteral("-errors"), QStringLiteral("-q"), F.fileName()});
    QVERIFY(T.waitForFinished(30000));
    const QString Report = QString::fromLocal8Bit(T.readAllStandardError());
    QVERIFY2(T.exitCode() < 2, qPrintable(Report)); // 1: warnings only, 2: errors
    QVERIFY2(!Report.contains(QStringLiteral("Error:")), qPrintable(Report));
}

void TestExport::failedWriteKeepsEarlierFile() {
    QTemporaryDir Out;
    TkivPlainXmlElement Root;
    AddProject(&Root, QStringLiteral("P"), Wc("beta"));
    const QStringList Page = HtmlPageLines(SnapshotHtmlTree(&Root), {}, QStringLiteral("o"));

    // A name of 250 characters can exist, but the temporary file beside it cannot (its name
    // would pass the filesystem's limit of 255): the write fails after the old file exists.
    const QString Long = Out.filePath(QString(250, u'x'));
    {
        QFile Old(Long);
        QVERIFY(Old.open(QIODevice::WriteOnly));
        Old.write("earlier page");
    }
    try {
        SaveHtmlPage(Long, Page);
        QFAIL("no error raised");
    } catch (const EkivError& E) {
        QVERIFY2(E.Message().startsWith(QStringLiteral("Die Datei ")) &&
                     E.Message().contains(Long) &&
                     E.Message().contains(QStringLiteral("kann nicht gespeichert werden")),
                 qPrintable(E.Message()));
    }
    QFile Old(Long);
    QVERIFY(Old.open(QIODevice::ReadOnly));
    QCOMPARE(Old.readAll(), QByteArray("earlier page"));
    QCOMPARE(QDir(Out.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 1);

    // On a full disk: the earlier page stays byte for byte, nothing of the new one is left.
    {
        TTinyDisk Disk(64);
        if (Disk.Mounted()) {
            const QString Page = Disk.Path(QStringLiteral("bericht.html"));
            QStringList Lines = HtmlPageLines(SnapshotHtmlTree(&Root), {}, QStringLiteral("o"));
            SaveHtmlPage(Page, Lines);
            const QByteArray Earlier = ReadFile(Page);
            for (int I = 0; I < 400; ++I)
                Lines.insert(12, QStringLiteral("<li><small>Projekt %1 mit langem Namen").arg(I));
            QVERIFY(Disk.Fill());
            QVERIFY(Disk.Free(Earlier.size() + 4096));
            QVERIFY_THROWS_EXCEPTION(EFileError, SaveHtmlPage(Page, Lines));
            QCOMPARE(ReadFile(Page), Earlier);
            QCOMPARE(Disk.Entries().size(), 2);
        } else {
            qWarning("full disk not tried: %s", qPrintable(Disk.Why()));
        }
    }

    // Through the export: the user hears of it, the job reports failure.
    const QString Target = Out.filePath(QStringLiteral("sub/none.html")); // folder missing
    THtmlExportJob* Job = new THtmlExportJob(&Root, Target, nullptr, {}, {});
    QSignalSpy Done(Job, &THtmlExportJob::Finished);
    QVERIFY(Done.wait(30000));
    QCOMPARE(Done[0][0].toBool(), false);
    QCOMPARE(FPrompter.Errors.size(), 1);
    QVERIFY(FPrompter.Errors[0].contains(Target));
    QVERIFY(!QFile::exists(Target));
}

void TestExport::destroyedJobEndsQuietly() {
    QTemporaryDir Out;
    TkivPlainXmlElement Root;
    for (int I = 0; I < 20; ++I)
        AddProject(&Root, QStringLiteral("P%1").arg(I), Wc(I % 2 ? "alpha" : "plain"));
    const QString Target = Out.filePath(QStringLiteral("x.html"));
    auto Job = std::make_unique<THtmlExportJob>(&Root, Target, nullptr, nullptr, nullptr);
    QSignalSpy Done(Job.get(), &THtmlExportJob::Finished);
    Job.reset(); // the window closing mid-export
    QTest::qWait(50);
    QVERIFY(!QFile::exists(Target));
}

void TestExport::dialogRules() {
    QTemporaryDir Out;
    const QString User = GetLogonUserName(), Computer = GetLocalComputerName();
    bool Checked = false;
    OnDialog([&](TfmHTML_Ausgabe* D) {
        QCOMPARE(D->windowTitle(), QStringLiteral("HTML Ausgabe"));
        QCOMPARE(D->size(), QSize(577, 104));
        QCOMPARE(D->dirEd_HTML->geometry(), QRect(8, 24, 457, 21));
        QCOMPARE(D->cmb_HTMLName->geometry(), QRect(8, 72, 457, 21));
        QCOMPARE(D->btnOK->geometry(), QRect(480, 40, 89, 25));
        QCOMPARE(D->btnAbort->geometry(), QRect(480, 70, 89, 25));
        QCOMPARE(D->lbSpeicherort->text(), QStringLiteral("Zielverzeichnis der HTML:"));
        QCOMPARE(D->Label1->text(), QStringLiteral("Dateiname:"));
        QVERIFY(D->btnOK->isDefault());
        QList<QWidget*> Chain; // the widgets Tab visits, from OK on
        for (QWidget* W = D->btnOK; Chain.size() < 4; W = W->nextInFocusChain())
            if (W->focusPolicy() & Qt::TabFocus)
                Chain << W;
        const QList<QWidget*> Order{D->btnOK, D->btnAbort, D->dirEd_HTML, D->cmb_HTMLName};
        QCOMPARE(Chain, Order);
        // Opened with a missing folder: OK stays off, the first proposal is in the field.
        QVERIFY(!D->btnOK->isEnabled());
        QCOMPARE(D->cmb_HTMLName->count(), 3);
        QCOMPARE(D->cmb_HTMLName->itemText(0), User + ".html");
        QCOMPARE(D->cmb_HTMLName->itemText(1), Computer + ".html");
        QCOMPARE(D->cmb_HTMLName->itemText(2), Computer + "_" + User + ".html");
        QCOMPARE(D->cmb_HTMLName->currentText(), User + ".html");
        D->dirEd_HTML->setFocus();
        D->dirEd_HTML->selectAll();
        QTest::keyClicks(D->dirEd_HTML, Out.path());
        QVERIFY(D->btnOK->isEnabled());
        D->cmb_HTMLName->lineEdit()->clear();
        QVERIFY(!D->btnOK->isEnabled());
        QTest::keyClicks(D->cmb_HTMLName->lineEdit(), QStringLiteral("r"));
        QVERIFY(D->btnOK->isEnabled());
        QTest::keyClicks(D->dirEd_HTML, QStringLiteral("/nix"));
        QVERIFY(!D->btnOK->isEnabled());
        D->dirEd_HTML->setText(Out.path() + "/");
        QVERIFY(D->btnOK->isEnabled());
        D->cmb_HTMLName->setCurrentIndex(2); // chosen from the list
        QCOMPARE(D->cmb_HTMLName->currentText(), Computer + "_" + User + ".html");
        QVERIFY(D->btnOK->isEnabled());
        Checked = true;
        QTest::keyClick(D->cmb_HTMLName, Qt::Key_Return); // the default button
    });
    QString Dir = Out.filePath(QStringLiteral("missing")), Name = QStringLiteral("ignored");
    QVERIFY(ShowHtmlExportDialog(Dir, Name));
    QVERIFY(Checked);
    QCOMPARE(Dir, Out.path() + "/");
    QCOMPARE(Name, Computer + "_" + User + ".html");

    // Opened with an existing folder: OK is on at once.
    bool Enabled = false;
    OnDialog([&](TfmHTML_Ausgabe* D) {
        Enabled = D->btnOK->isEnabled();
        D->btnOK->click();
    });
    Dir = Out.path();
    QVERIFY(ShowHtmlExportDialog(Dir, Name));
    QVERIFY(Enabled);
    QCOMPARE(Name, User + ".html");
}

void TestExport::dialogCancelKeepsArguments() {
    QTemporaryDir Out;
    for (int Way = 0; Way < 3; ++Way) {
        OnDialog([Way](TfmHTML_Ausgabe* D) {
            D->cmb_HTMLName->setEditText(QStringLiteral("changed"));
            D->dirEd_HTML->setText(QStringLiteral("/"));
            if (Way == 0)
                QTest::keyClick(D, Qt::Key_Escape);
            else if (Way == 1)
                D->btnAbort->click();
            else
                D->close();
        });
        QString Dir = Out.path(), Name = QStringLiteral("kept");
        QVERIFY(!ShowHtmlExportDialog(Dir, Name));
        QCOMPARE(Dir, Out.path());
        QCOMPARE(Name, QStringLiteral("kept"));
    }
}

void TestExport::dataLossRoundThree() {
    QTemporaryDir Out;
    TkivPlainXmlElement Root;
    Root.SetName(QStringLiteral("SubVersion"));
    Root.SetAttribute(QStringLiteral("HTML_Export"), Out.path());
    AddProject(&Root, QStringLiteral("Beta"), Wc("beta"));
    auto Dialog = [&](const QString& Name, bool* Replace, bool* StayedOpen = nullptr) {
        OnDialog([Name, StayedOpen](TfmHTML_Ausgabe* D) {
            D->cmb_HTMLName->setEditText(Name);
            D->btnOK->click();
            if (StayedOpen)
                *StayedOpen = D->isVisible();
        });
        QString Dir = Out.path(), File;
        return ShowHtmlExportDialog(Dir, File, Replace);
    };

    // An existing page: asked first; No keeps the dialog open, Yes replaces.
    const QString Existing = Out.filePath(QStringLiteral("alt.html"));
    {
        QFile F(Existing);
        QVERIFY(F.open(QIODevice::WriteOnly));
        F.write("alte Seite");
    }
    bool Replace = true, StayedOpen = false;
    FPrompter.Answers = {false};
    QVERIFY(!Dialog(QStringLiteral("alt.html"), &Replace, &StayedOpen));
    QVERIFY(StayedOpen);
    QCOMPARE(FPrompter.Questions.size(), 1);
    QVERIFY2(FPrompter.Questions[0].contains(Existing) &&
                 FPrompter.Questions[0].contains(QStringLiteral("gibt es schon")),
             qPrintable(FPrompter.Questions[0]));
    FPrompter.Answers = {true};
    QVERIFY(Dialog(QStringLiteral("alt.html"), &Replace));
    QVERIFY(Replace);
    // A new name asks nothing and replaces nothing.
    FPrompter.Reset();
    QVERIFY(Dialog(QStringLiteral("neu.html"), &Replace));
    QVERIFY(!Replace);
    QVERIFY(FPrompter.Questions.isEmpty());

    // Names that would leave the folder, or name none: refused, the dialog stays open.
    for (const QString& Name : {QStringLiteral("../raus.html"), QStringLiteral("sub/x.html"),
                                QStringLiteral(".."), QStringLiteral("a\x1b.html")}) {
        FPrompter.Reset();
        StayedOpen = false;
        QVERIFY(!Dialog(Name, &Replace, &StayedOpen));
        QVERIFY(StayedOpen);
        QCOMPARE(FPrompter.Errors.size(), 1);
        QVERIFY(!HtmlFileNameProblem(Name).isEmpty());
    }
    QVERIFY(!QFileInfo::exists(QFileInfo(Out.path()).path() + QStringLiteral("/raus.html")));
    // Something at the name that can take no page: refused.
    const QString Fifo = Out.filePath(QStringLiteral("pipe.html"));
    QCOMPARE(mkfifo(QFile::encodeName(Fifo).constData(), 0600), 0);
    FPrompter.Reset();
    QVERIFY(!Dialog(QStringLiteral("pipe.html"), &Replace, &StayedOpen));
    QVERIFY(FPrompter.Errors.value(0).contains(QStringLiteral("benannte Pipe")));

    // A link planted at a proposed name: the page replaces the link, never its target.
    QTemporaryDir Home;
    const QString Bashrc = Home.filePath(QStringLiteral(".bashrc"));
    {
        QFile F(Bashrc);
        QVERIFY(F.open(QIODevice::WriteOnly));
        F.write("export PS1=x\n");
    }
    const QString Planted = Out.filePath(QStringLiteral("vorschlag.html"));
    QVERIFY(QFile::link(Bashrc, Planted));
    FPrompter.Reset();
    FPrompter.Answers = {true};
    OnDialog([](TfmHTML_Ausgabe* D) {
        D->cmb_HTMLName->setEditText(QStringLiteral("vorschlag.html"));
        D->btnOK->click();
    });
    THtmlExportJob* Job = ExportProjectsAsHtml(&Root);
    QVERIFY(Job);
    QVERIFY(FPrompter.Questions.value(0).contains(QStringLiteral("symbolische Verknüpfung")));
    QSignalSpy Done(Job, &THtmlExportJob::Finished);
    QVERIFY(Done.wait(30000));
    QCOMPARE(Done[0][0].toBool(), true);
    QCOMPARE(ReadFile(Bashrc), QByteArray("export PS1=x\n"));
    QVERIFY(!QFileInfo(Planted).isSymLink());
    QVERIFY(ReadFile(Planted).endsWith("</html>\r\n"));

    // Agreed to nothing, and a file appears while the clients run: it is not replaced.
    const QString Late = Out.filePath(QStringLiteral("spaet.html"));
    FPrompter.Reset();
    auto* NewJob = new THtmlExportJob(&Root, Late, nullptr, {}, {}, TWriteMode::NewName);
    {
        QFile F(Late);
        QVERIFY(F.open(QIODevice::WriteOnly));
        F.write("von jemand anderem");
    }
    QSignalSpy LateDone(NewJob, &THtmlExportJob::Finished);
    QVERIFY(LateDone.wait(30000));
    QCOMPARE(LateDone[0][0].toBool(), false);
    QCOMPARE(ReadFile(Late), QByteArray("von jemand anderem"));
    QVERIFY2(FPrompter.Errors.value(0).contains(QStringLiteral("nicht ersetzt")),
             qPrintable(FPrompter.Errors.value(0)));
}

void TestExport::hangsRoundThree() {
    QTemporaryDir Out;
    TkivPlainXmlElement Root;
    for (int I = 0; I < 4; ++I)
        AddProject(&Root, QStringLiteral("P%1").arg(I), Wc(I % 2 ? "alpha" : "beta"));
    const QString Target = Out.filePath(QStringLiteral("x.html"));
    int Stopped = 0;
    auto* Job = new THtmlExportJob(&Root, Target, nullptr, {}, [&] { ++Stopped; });
    QSignalSpy Done(Job, &THtmlExportJob::Finished);
    const QString Message = Job->Abandon();
    QVERIFY2(Message.contains(Target + QStringLiteral(" wurde nicht geschrieben")),
             qPrintable(Message));
    QCOMPARE(Done.size(), 1);
    QCOMPARE(Done[0][0].toBool(), false);
    QCOMPARE(Stopped, 1);
    QVERIFY(Job->Abandon().isEmpty()); // once
    QTest::qWait(50);
    QVERIFY(!QFile::exists(Target));
    QVERIFY(FPrompter.Errors.isEmpty()); // the caller says it, in a box or on standard error
}

QTEST_MAIN(TestExport)
#include "tst_export.moc"
