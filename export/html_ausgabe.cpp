#include "html_ausgabe.h"

#include "kiv_FileText.h"
#include "kiv_XmlObjects.h"
#include "kiv_folders.h"
#include "kiv_kinds.h"
#include "kiv_prompts.h"
#include "kiv_registry.h"
#include "kiv_system.h"
#include "svn_engine.h"

#include <QDir>
#include <QSet>

namespace {

const QString NameAttr = QStringLiteral("Name");
const QString DirAttr = QStringLiteral("Verzeichnis");
const QString ItemTail = QStringLiteral(
    "<br><br></small></font><span style=\"font-family: Tahoma; font-weight: bold;\"></li>");

void CollectFolders(const THtmlItem& Root, std::vector<TSvnProject>& Projects) {
    QSet<QString> Seen;
    std::vector<const THtmlItem*> Pending{&Root};
    while (!Pending.empty()) {
        const THtmlItem* I = Pending.back();
        Pending.pop_back();
        for (auto C = I->Children.rbegin(); C != I->Children.rend(); ++C) {
            if (!C->IsProject()) {
                Pending.push_back(&*C);
            } else if (!Seen.contains(C->Folder)) {
                Seen.insert(C->Folder);
                Projects.push_back({C->Name, C->Directory, C->Folder, QString(), 0});
            }
        }
    }
}

} // namespace

THtmlItem SnapshotHtmlTree(const TkivXmlElement* Root) {
    THtmlItem Top;
    if (!Root)
        return Top;
    const QString Base = ProjectBase();
    // Element and the item it fills, depth first without recursion.
    std::vector<std::pair<const TkivXmlElement*, THtmlItem*>> Pending{{Root, &Top}};
    while (!Pending.empty()) {
        auto [Element, Into] = Pending.back();
        Pending.pop_back();
        const int N = Element->ChildCount();
        Into->Children.resize(size_t(N));
        for (int I = 0; I < N; ++I) {
            const TkivXmlElement* Child = Element->GetChild(I);
            THtmlItem& Item = Into->Children[size_t(I)];
            Item.Name = Child->GetAttribute(NameAttr);
            Item.Directory = Child->GetAttribute(DirAttr);
            Item.Url = Child->GetAttribute(UrlAttribute);
            if (Item.IsProject())
                Item.Folder = ProjectFolder(Item.Directory, Base);
            else
                Pending.push_back({Child, &Item});
        }
    }
    return Top;
}

QString HtmlText(const QString& Text) {
    QString Escaped;
    Escaped.reserve(Text.size());
    for (const QChar C : Text) {
        switch (C.unicode()) {
        case u'&':
            Escaped += QLatin1String("&amp;");
            break;
        case u'<':
            Escaped += QLatin1String("&lt;");
            break;
        case u'>':
            Escaped += QLatin1String("&gt;");
            break;
        case u'"':
            Escaped += QLatin1String("&quot;");
            break;
        default:
            Escaped += C;
        }
    }
    QString Out = ReferenceNonWindows1252(Escaped);
    // What is left above U+00FF is what Windows-1252 keeps in 0x80..0x9F, where ISO-8859-1 (the
    // page's declared set) has control codes: written as references, the bytes mean the same
    // in both.
    for (qsizetype I = 0; I < Out.size(); ++I) {
        const char16_t C = Out[I].unicode();
        if (C > 0xFF) {
            const QString Ref = QStringLiteral("&#%1;").arg(uint(C));
            Out.replace(I, 1, Ref);
            I += Ref.size() - 1;
        }
    }
    return Out;
}

void WriteHtmlHeader(QStringList& Page, const QString& Owner) {
    Page << QStringLiteral("<html>") << QStringLiteral("<head>")
         << QStringLiteral("<meta content=\"text/html; charset=ISO-8859-1\"")
         << QStringLiteral("http-equiv=\"content-type\">")
         << QStringLiteral("<title>kivSubversion</title>") << QStringLiteral("</head>")
         << QStringLiteral("<body>") << QStringLiteral("<div style=\"text-align: center;\">")
         << QStringLiteral("<span style=\"font-family: Tahoma; font-weight: bold; "
                           "text-decoration: underline;\">Subversion Projekte von: ") +
                HtmlText(Owner) + QStringLiteral("<br><br></span></div>")
         << QStringLiteral("<div style=\"text-align: left;\">")
         << QStringLiteral("<span style=\"font-family: Tahoma; font-weight: bold;\">");
}

void WriteHtmlItems(QStringList& Page, const THtmlItem& Item, const QHash<QString, QString>& Urls,
                    const QSet<QString>& Missing) {
    // Each open list: its item and the next child to write; a group's lines wrap its list.
    std::vector<std::pair<const THtmlItem*, size_t>> Open{{&Item, 0}};
    Page << QStringLiteral("<ul>");
    while (!Open.empty()) {
        auto& [List, Next] = Open.back();
        if (Next >= List->Children.size()) {
            Page << QStringLiteral("</ul>");
            Open.pop_back();
            if (!Open.empty())
                Page << QStringLiteral("</li>");
            continue;
        }
        const THtmlItem& Child = List->Children[Next++];
        const QString Name = HtmlText(Child.Name);
        if (Child.IsProject()) {
            QString Url = Urls.value(Child.Folder);
            // A copy that is gone still has the URL it came from: the page says it is kept.
            const bool Kept =
                Url.isEmpty() && !Child.Url.isEmpty() && Missing.contains(Child.Folder);
            if (Kept)
                Url = Child.Url;
            if (!Url.isEmpty()) {
                const QString U = HtmlText(Url);
                Page << QStringLiteral("<li><small><b>") + Name + QStringLiteral("</b>  (") +
                            HtmlText(Child.Directory) + QLatin1Char(')');
                Page << QStringLiteral("<br></span><font color=\"#0000FF\">{ <a href=\"") + U +
                            QStringLiteral("\">") + U + QStringLiteral("</a> }") +
                            (Kept ? QStringLiteral(" <font color=\"#FF0000\">") +
                                        HtmlText(QStringLiteral("(Verzeichnis fehlt – "
                                                                "gespeicherte URL)")) +
                                        QStringLiteral("</font>")
                                  : QString()) +
                            ItemTail;
            } else {
                Page << QStringLiteral("<li><small>") + Name;
                Page << QStringLiteral(
                            "<br></span><font color=\"#FF0000\">{ keine URL vorhanden }") +
                            ItemTail;
            }
        } else {
            Page << QStringLiteral("<li><big>[") + Name + QStringLiteral("]</big><br><br>");
            Page << QStringLiteral("<ul>");
            Open.push_back({&Child, 0}); // may move the vector: List and Next are not used again
        }
    }
}

void WriteHtmlFooter(QStringList& Page) {
    Page << QStringLiteral("</span></body>") << QStringLiteral("</html>");
}

QStringList HtmlPageLines(const THtmlItem& Root, const QHash<QString, QString>& Urls,
                          const QString& Owner, const QSet<QString>& Missing) {
    QStringList Page;
    WriteHtmlHeader(Page, Owner);
    WriteHtmlItems(Page, Root, Urls, Missing);
    WriteHtmlFooter(Page);
    return Page;
}

void SaveHtmlPage(const QString& FileName, const QStringList& Page, TWriteMode Mode) {
    // Never through a link: the proposed names are predictable, and a link planted at one
    // must not let the page replace the file it points to.
    WriteWindows1252File(FileName, Page,
                         Mode == TWriteMode::ThroughLinks ? TWriteMode::ReplaceName : Mode);
}

THtmlExportJob::THtmlExportJob(const TkivXmlElement* Root, const QString& FileName, QObject* Parent,
                               std::function<void()> OnStart, std::function<void()> OnStop,
                               TWriteMode Mode)
    : QObject(Parent), FTree(SnapshotHtmlTree(Root)), FOwner(GetRegisteredOwner()),
      FFileName(FileName), FMode(Mode), FOnStop(std::move(OnStop)) {
    if (OnStart)
        OnStart();
    std::vector<TSvnProject> Projects;
    CollectFolders(FTree, Projects);
    TSvnRunOptions Options;
    Options.Jobs = JobCount(Root);
    Options.TimeoutSeconds = TimeoutSeconds(Root);
    FRun = new TSvnRun(std::move(Projects), TSvnTask::Info, Options, this);
    connect(FRun, &TSvnRun::ProjectDone, this, [this](int Index, const TSvnOutcome& O) {
        const QString& Folder = FRun->Projects()[size_t(Index)].Folder;
        if (O.State == TSvnState::Missing)
            FMissing.insert(Folder);
        if (O.Verdict.Url.isEmpty())
            return;
        FUrls.insert(Folder, O.Verdict.Url);
        emit UrlLearned(Folder, O.Verdict.Url);
    });
    connect(FRun, &TSvnRun::Finished, this, [this](bool) { Complete(); });
    FRun->Start();
}

THtmlExportJob::~THtmlExportJob() {
    // The run is a child: its clients end and its threads are joined before the job's own
    // members go.
    delete FRun;
}

QString THtmlExportJob::Abandon() {
    if (FFinished)
        return QString();
    FFinished = true;
    delete FRun; // its clients end, its threads are joined
    FRun = nullptr;
    if (FOnStop)
        FOnStop();
    const QString Message =
        QStringLiteral("Die HTML-Seite %1 wurde nicht geschrieben: das Programm wurde beendet, "
                       "bevor die Adressen aller Projekte gelesen waren.")
            .arg(FFileName);
    emit Finished(false, Message);
    deleteLater();
    return Message;
}

void THtmlExportJob::Complete() {
    if (FFinished)
        return;
    QString Error;
    try {
        SaveHtmlPage(FFileName, HtmlPageLines(FTree, FUrls, FOwner, FMissing), FMode);
    } catch (const std::exception& E) {
        Error = ExceptionText(E);
    }
    FFinished = true;
    if (FOnStop)
        FOnStop();
    if (!Error.isEmpty())
        ShowError(Error);
    emit Finished(Error.isEmpty(), Error);
    deleteLater();
}

THtmlExportJob* ExportProjectsAsHtml(TkivXmlElement* Root, QObject* Parent,
                                     std::function<void()> OnStart, std::function<void()> OnStop) {
    const QString Key = QStringLiteral("HTML_Export");
    QString Directory = Root->GetAttribute(Key);
    QString FileName;
    bool Replace = false;
    if (!ShowHtmlExportDialog(Directory, FileName, &Replace))
        return nullptr;
    // The page stays in the chosen folder, whatever the name.
    if (const QString Problem = HtmlFileNameProblem(FileName); !Problem.isEmpty())
        throw EInputError(Problem);
    Root->SetAttribute(Key, Directory);
    return new THtmlExportJob(Root, IncludeDirDelimiter(Directory) + FileName, Parent,
                              std::move(OnStart), std::move(OnStop),
                              Replace ? TWriteMode::ReplaceName : TWriteMode::NewName);
}
