#include "html_ausgabe.h"

#include "kiv_XmlObjects.h"
#include "kiv_process.h"
#include "kiv_prompts.h"
#include "kiv_tools.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

const QString NameAttr = QStringLiteral("Name");
const QString DirAttr = QStringLiteral("Verzeichnis");
const QString ItemTail = QStringLiteral(
    "<br><br></small></font><span style=\"font-family: Tahoma; font-weight: bold;\"></li>");

// Folders per client process: large enough that start-up costs vanish, small enough that two
// or more processes share the work.
constexpr int BatchSize = 50;

// The client runs in the filesystem root, which always exists, so the "Path:" line of each
// folder is predictable and the process's own current directory plays no part.
const QString SvnWorkDir = QStringLiteral("/");

QString TrimBlanksAndControls(const QString& S) {
    qsizetype Start = 0, End = S.size();
    while (Start < End && S[Start].unicode() <= 32)
        ++Start;
    while (End > Start && S[End - 1].unicode() <= 32)
        --End;
    return S.mid(Start, End - Start);
}

void SnapshotChildren(const TkivXmlElement* Element, THtmlItem& Into) {
    const int N = Element->ChildCount();
    Into.Children.reserve(N);
    for (int I = 0; I < N; ++I) {
        const TkivXmlElement* Child = Element->GetChild(I);
        THtmlItem Item;
        Item.Name = Child->GetAttribute(NameAttr);
        Item.Directory = Child->GetAttribute(DirAttr);
        if (Item.IsProject())
            Item.AbsDirectory = AbsoluteProjectDir(Item.Directory);
        else
            SnapshotChildren(Child, Item);
        Into.Children.push_back(std::move(Item));
    }
}

void CollectProjectDirs(const THtmlItem& Item, QStringList& Dirs, QSet<QString>& Seen) {
    for (const THtmlItem& Child : Item.Children) {
        if (Child.IsProject()) {
            if (!Seen.contains(Child.AbsDirectory)) {
                Seen.insert(Child.AbsDirectory);
                Dirs.append(Child.AbsDirectory);
            }
        } else {
            CollectProjectDirs(Child, Dirs, Seen);
        }
    }
}

struct TQuery {
    const std::atomic<bool>* Cancel;
    int* ProcessCount;
    QHash<QString, QString>& Result;

    bool Cancelled() const { return Cancel && Cancel->load(); }

    // Resolves every folder of Pending: one client run over all of them, then again over
    // those the run did not account for. A folder the client rejects stops the client there
    // (or is only warned about, depending on the version), so the ones after it are run again.
    void Resolve(QStringList Pending) {
        while (!Pending.isEmpty() && !Cancelled()) {
            QStringList Args{QStringLiteral("info")};
            // A trailing "@" keeps an "@" inside a folder name from being read as a revision.
            for (const QString& P : Pending)
                Args.append(P + QLatin1Char('@'));
            QStringList Lines;
            TRunOptions Options;
            Options.WorkingDirectory = SvnWorkDir;
            Options.Cancel = Cancel;
            RunCapturedArgs(Lines, QStringLiteral("svn"), Args, Options);
            if (ProcessCount)
                ++*ProcessCount;
            if (Cancelled())
                return;

            QStringList Errors;
            const QList<TSvnInfoBlock> Blocks = SplitSvnInfoBlocks(Lines, &Errors);
            QHash<QString, QString> ByKey;
            for (const QString& P : Pending)
                ByKey.insert(SvnInfoPathKey(P, SvnWorkDir), P);
            QSet<QString> Done;
            for (const TSvnInfoBlock& B : Blocks) {
                const auto It = ByKey.constFind(B.Path);
                if (It == ByKey.constEnd())
                    continue;
                const QString Url = ExtractSvnUrl(B.Lines);
                if (!Url.isEmpty())
                    Result.insert(*It, Url);
                Done.insert(*It);
            }
            const QSet<QString> PendingSet(Pending.begin(), Pending.end());
            for (const QString& E : Errors) {
                for (QString Q : QuotedTexts(E)) {
                    if (Q.endsWith(QLatin1Char('@')))
                        Q.chop(1);
                    Q = QDir::cleanPath(Q);
                    if (PendingSet.contains(Q))
                        Done.insert(Q);
                }
            }
            if (Pending.size() == 1) {
                // A run for one folder: its one block is that folder's, however it is named.
                if (!Done.contains(Pending[0]) && Blocks.size() == 1) {
                    const QString Url = ExtractSvnUrl(Blocks[0].Lines);
                    if (!Url.isEmpty())
                        Result.insert(Pending[0], Url);
                }
                return;
            }
            QStringList Rest;
            for (const QString& P : Pending)
                if (!Done.contains(P))
                    Rest.append(P);
            if (Rest.size() == Pending.size()) {
                // Nothing could be matched (the client is missing, or prints paths in a form
                // we do not recognise): one run per folder, where no matching is needed.
                for (const QString& P : Rest)
                    Resolve(QStringList{P});
                return;
            }
            Pending = Rest;
        }
    }
};

} // namespace

QString AbsoluteProjectDir(const QString& Directory) {
    return QDir::cleanPath(QDir::current().absoluteFilePath(Directory));
}

THtmlItem SnapshotHtmlTree(const TkivXmlElement* Root) {
    THtmlItem Top;
    if (Root)
        SnapshotChildren(Root, Top);
    return Top;
}

QList<TSvnInfoBlock> SplitSvnInfoBlocks(const QStringList& Lines, QStringList* Errors) {
    QList<TSvnInfoBlock> Blocks;
    bool InBlock = false;
    for (const QString& Line : Lines) {
        if (Line.isEmpty()) {
            InBlock = false;
            continue;
        }
        if (Line.startsWith(QLatin1String("svn: "))) {
            // Error lines can stand between blocks and also right after one without a blank.
            if (Errors)
                Errors->append(Line);
            InBlock = false;
            continue;
        }
        if (!InBlock) {
            TSvnInfoBlock B;
            // The label ("Path", or its translation) ends at the first ": ".
            const qsizetype Colon = Line.indexOf(QLatin1String(": "));
            B.Path = Colon >= 0 ? Line.mid(Colon + 2) : QString();
            Blocks.append(B);
            InBlock = true;
        }
        Blocks.back().Lines.append(Line);
    }
    return Blocks;
}

QString ExtractSvnUrl(const QStringList& BlockLines) {
    for (const QString& Line : BlockLines)
        if (Line.startsWith(QLatin1String("URL:")))
            return TrimBlanksAndControls(Line.mid(4));
    return QString();
}

QString SvnInfoPathKey(const QString& AbsPath, const QString& WorkDir) {
    if (AbsPath == WorkDir)
        return QStringLiteral(".");
    const QString Prefix = WorkDir.endsWith(PathDelim) ? WorkDir : WorkDir + PathDelim;
    if (AbsPath.startsWith(Prefix))
        return AbsPath.mid(Prefix.size());
    return AbsPath;
}

QStringList QuotedTexts(const QString& Line) {
    static const QList<QPair<QChar, QChar>> Pairs{{u'\'', u'\''},         {u'\u2018', u'\u2019'},
                                                  {u'\u201C', u'\u201D'}, {u'\u201E', u'\u201C'},
                                                  {u'\u00BB', u'\u00AB'}, {u'\u00AB', u'\u00BB'}};
    QStringList Out;
    for (const auto& [Open, Close] : Pairs) {
        const qsizetype A = Line.indexOf(Open);
        if (A < 0)
            continue;
        // The last closing quote: a quoted path may itself hold the quote character.
        const qsizetype B = Line.lastIndexOf(Close);
        if (B > A)
            Out.append(Line.mid(A + 1, B - A - 1));
    }
    return Out;
}

QHash<QString, QString> QuerySvnUrls(const QStringList& Folders, const std::atomic<bool>* Cancel,
                                     int* ProcessCount) {
    QHash<QString, QString> Result;
    QStringList Existing;
    QSet<QString> Seen;
    for (const QString& F : Folders) {
        // A missing folder never reaches the client: it has no URL.
        if (Seen.contains(F) || !QFileInfo(F).isDir())
            continue;
        Seen.insert(F);
        Existing.append(F);
    }
    TQuery Q{Cancel, ProcessCount, Result};
    for (qsizetype I = 0; I < Existing.size() && !Q.Cancelled(); I += BatchSize)
        Q.Resolve(Existing.mid(I, BatchSize));
    return Result;
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

void WriteHtmlItems(QStringList& Page, const THtmlItem& Item, const QHash<QString, QString>& Urls) {
    Page << QStringLiteral("<ul>");
    for (const THtmlItem& Child : Item.Children) {
        const QString Name = HtmlText(Child.Name);
        if (Child.IsProject()) {
            const QString Url = Urls.value(Child.AbsDirectory);
            if (!Url.isEmpty()) {
                const QString U = HtmlText(Url);
                Page << QStringLiteral("<li><small><b>") + Name + QStringLiteral("</b>  (") +
                            HtmlText(Child.Directory) + QLatin1Char(')');
                Page << QStringLiteral("<br></span><font color=\"#0000FF\">{ <a href=\"") + U +
                            QStringLiteral("\">") + U + QStringLiteral("</a> }") + ItemTail;
            } else {
                Page << QStringLiteral("<li><small>") + Name;
                Page << QStringLiteral(
                            "<br></span><font color=\"#FF0000\">{ keine URL vorhanden }") +
                            ItemTail;
            }
        } else {
            Page << QStringLiteral("<li><big>[") + Name + QStringLiteral("]</big><br><br>");
            WriteHtmlItems(Page, Child, Urls);
            Page << QStringLiteral("</li>");
        }
    }
    Page << QStringLiteral("</ul>");
}

void WriteHtmlFooter(QStringList& Page) {
    Page << QStringLiteral("</span></body>") << QStringLiteral("</html>");
}

QStringList HtmlPageLines(const THtmlItem& Root, const QHash<QString, QString>& Urls,
                          const QString& Owner) {
    QStringList Page;
    WriteHtmlHeader(Page, Owner);
    WriteHtmlItems(Page, Root, Urls);
    WriteHtmlFooter(Page);
    return Page;
}

void SaveHtmlPage(const QString& FileName, const QStringList& Page) {
    QByteArray Bytes;
    for (const QString& Line : Page) {
        Bytes += EncodeWindows1252(Line);
        Bytes += "\r\n";
    }
    QSaveFile File(FileName);
    errno = 0;
    auto Fail = [&](const QString& What) {
        // The system's reason where there is one: Qt's text is often just "Unknown error".
        const int Code = errno;
        const QString Reason =
            Code ? QString::fromLocal8Bit(std::strerror(Code)) : File.errorString();
        throw EkivError(QStringLiteral("Die HTML-Datei %1: %2 (%3)")
                            .arg(What, QDir::toNativeSeparators(FileName), Reason));
    };
    if (!File.open(QIODevice::WriteOnly))
        Fail(QStringLiteral("kann nicht angelegt werden"));
    if (File.write(Bytes) != Bytes.size()) {
        File.cancelWriting();
        Fail(QStringLiteral("kann nicht geschrieben werden"));
    }
    if (!File.commit())
        Fail(QStringLiteral("kann nicht gespeichert werden"));
}

THtmlExportJob::THtmlExportJob(const TkivXmlElement* Root, const QString& FileName, QObject* Parent,
                               std::function<void()> OnStart, std::function<void()> OnStop)
    : QObject(Parent), FTree(SnapshotHtmlTree(Root)), FOwner(GetRegisteredOwner()),
      FFileName(FileName), FOnStop(std::move(OnStop)),
      FCancel(std::make_shared<std::atomic<bool>>(false)) {
    if (OnStart)
        OnStart();
    QStringList Dirs;
    QSet<QString> Seen;
    CollectProjectDirs(FTree, Dirs, Seen);

    FPool = new QThreadPool(this);
    FPool->setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 2, 8));
    // Enough batches to keep every thread busy, none larger than a client run needs.
    const int Threads = FPool->maxThreadCount();
    const int Chunk = std::clamp(int((Dirs.size() + Threads - 1) / Threads), 1, BatchSize);
    for (qsizetype I = 0; I < Dirs.size(); I += Chunk) {
        const QStringList Part = Dirs.mid(I, Chunk);
        ++FPending;
        auto Cancel = FCancel;
        FPool->start([this, Part, Cancel] {
            int Runs = 0;
            const QHash<QString, QString> Urls = QuerySvnUrls(Part, Cancel.get(), &Runs);
            FProcessCount += Runs;
            // The destructor waits for the pool, so `this` is alive here; the call is dropped
            // if the job is gone by the time the GUI thread would run it.
            QMetaObject::invokeMethod(
                this, [this, Urls] { BatchDone(Urls); }, Qt::QueuedConnection);
        });
    }
    if (FPending == 0) // nothing to ask the client: the page is written from the event loop
        QMetaObject::invokeMethod(
            this, [this] { Complete(); }, Qt::QueuedConnection);
}

THtmlExportJob::~THtmlExportJob() {
    FCancel->store(true);
    FPool->waitForDone();
}

void THtmlExportJob::BatchDone(const QHash<QString, QString>& Urls) {
    FUrls.insert(Urls);
    if (--FPending == 0)
        Complete();
}

void THtmlExportJob::Complete() {
    QString Error;
    try {
        SaveHtmlPage(FFileName, HtmlPageLines(FTree, FUrls, FOwner));
    } catch (const std::exception& E) {
        Error = QString::fromUtf8(E.what());
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
    if (!ShowHtmlExportDialog(Directory, FileName))
        return nullptr;
    Root->SetAttribute(Key, Directory);
    return new THtmlExportJob(Root, IncludeDirDelimiter(Directory) + FileName, Parent,
                              std::move(OnStart), std::move(OnStop));
}
