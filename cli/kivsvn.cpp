// kivsvn: the task engine on the command line, over the same registry as the window.
// `kivsvn --help` lists the commands and options.
#include "kiv_FileText.h"
#include "kiv_XmlObjects.h"
#include "kiv_errors.h"
#include "kiv_folders.h"
#include "kiv_kinds.h"
#include "kiv_live.h"
#include "kiv_monitor.h"
#include "kiv_registry.h"
#include "kiv_repos.h"
#include "kiv_signals.h"
#include "kiv_system.h"
#include "kiv_watcher.h"
#include "kiv_workers.h"
#include "svn_engine.h"
#include "svn_search.h"
#include "svn_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSet>
#include <QTemporaryFile>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

enum TExit { ExitFine = 0, ExitFailed = 1, ExitUsage = 2 };

const char* const HelpText =
    "Aufruf: kivsvn [OPTION...] AUFGABE [GRUPPE/PROJEKT]\n"
    "Führt eine Subversion-Aufgabe für die Projekte der Projektliste aus, wie das Fenster\n"
    "von kivSubversion: für einen Eintrag (Gruppen und Projekte mit \"/\" verbunden) oder\n"
    "für alle Projekte, in der Reihenfolge des Baums.\n"
    "\n"
    "Aufgaben:\n"
    "  status           auf Änderungen testen (svn status)\n"
    "  update           aktualisieren (svn update)\n"
    "  info             Angaben zur Arbeitskopie (svn info)\n"
    "  checkout         fehlende Arbeitskopien aus ihrer URL auschecken (svn checkout)\n"
    "  state            den zuletzt festgestellten Zustand zeigen, ohne svn aufzurufen\n"
    "  watch            die Arbeitskopien überwachen: zuerst je Projekt eine Zeile, danach\n"
    "                   eine je Änderung eines Zustands, bis Strg+C oder SIGTERM\n"
    "  search ORDNER    Arbeitskopien unter ORDNER suchen, die nicht eingetragen sind\n"
    "  export           die Projekte als .repos-Datei (vcstool) ausgeben\n"
    "  import DATEI     die svn-Einträge einer .repos-Datei eintragen\n"
    "\n"
    "Optionen:\n"
    "  -u, --show-updates   bei status auch den Server fragen: veraltete Kopien zeigen\n"
    "      --short          kurze Anzeige: Projekte ohne Meldung weglassen (bei state:\n"
    "                       nur Projekte mit Handlungsbedarf)\n"
    "      --jobs N         N Aufrufe von svn gleichzeitig, 1 bis 64 (Vorgabe: \"Jobs\"\n"
    "                       der Liste, sonst die Zahl der Kerne, mindestens 2)\n"
    "      --timeout SEK    svn beenden, wenn es SEK Sekunden nichts ausgibt, 1 bis 86400\n"
    "                       (Vorgabe: \"Zeitlimit\" der Liste, sonst 120)\n"
    "      --format FORMAT  text (Vorgabe) oder json: je Projekt ein JSON-Objekt pro Zeile;\n"
    "                       bei export nur repos (Vorgabe)\n"
    "      --exact          bei export die Revision jeder Arbeitskopie als version angeben\n"
    "      --group GRUPPE   bei import: unter diese Gruppe (wird angelegt, wenn sie fehlt)\n"
    "      --into ORDNER    bei import: die Ordner der Projekte unter ORDNER (Vorgabe: der\n"
    "                       aktuelle Ordner), darunter der Pfad aus der Datei\n"
    "      --checkout       bei import: danach die fehlenden Arbeitskopien auschecken\n"
    "      --monitor MIN    bei watch den Server alle MIN Minuten fragen, 0 bis 1440, 0: nie\n"
    "                       (Vorgabe: \"ServerMinuten\" der Liste, sonst nie)\n"
    "      --registry DATEI diese Projektliste statt der des Benutzers\n"
    "  -h, --help           diese Hilfe anzeigen\n"
    "  -V, --version        die Version anzeigen\n"
    "\n"
    "Rückgabewert: 0 alles in Ordnung, 1 ein Projekt ist fehlgeschlagen oder hat Konflikte,\n"
    "2 falscher Aufruf, nicht lesbare Projektliste oder abgelehnte .repos-Datei (dann ist\n"
    "nichts geändert). Meldungen gehen auf die Standardfehlerausgabe. svn fragt nie nach:\n"
    "Zugangsdaten einmal im Fenster mit \"in DOS-Box ausführen\" oder mit svn selbst\n"
    "speichern. Die URL jedes Projekts, die ein Lauf erfährt, schreibt kivsvn in die\n"
    "Projektliste (Attribut URL), wenn sie sich geändert hat.\n";

// Set when standard output has gone (a closed pipe: "kivsvn update | head -1"): the run is
// cancelled as on SIGTERM, and nothing more is written.
bool OutputGone = false;
std::function<void()> OnOutputGone;

void Write(std::FILE* To, const QString& Text) {
    if (To == stdout && OutputGone)
        return;
    const QByteArray Bytes = Text.toLocal8Bit();
    if (std::fwrite(Bytes.constData(), 1, size_t(Bytes.size()), To) != size_t(Bytes.size()) &&
        To == stdout) {
        OutputGone = true;
        if (OnOutputGone)
            OnOutputGone();
    }
}

// Bytes as they are: a file's text that has its own encoding (a .repos file is UTF-8).
void WriteBytes(const QByteArray& Bytes) {
    if (OutputGone)
        return;
    if (std::fwrite(Bytes.constData(), 1, size_t(Bytes.size()), stdout) != size_t(Bytes.size())) {
        OutputGone = true;
        if (OnOutputGone)
            OnOutputGone();
    }
}

void Print(const QString& Line) {
    Write(stdout, Line + u'\n');
}

void Flush() {
    if (!OutputGone && std::fflush(stdout) != 0) {
        OutputGone = true;
        if (OnOutputGone)
            OnOutputGone();
    }
}

// A string as a JSON value, quotes and escapes included.
QString JsonString(const QString& S) {
    const QByteArray A = QJsonDocument(QJsonArray{S}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(A.mid(1, A.size() - 2));
}

// The lines an outcome did not keep, from the file they were spilled to.
void ForEachSpilled(const TSvnOutcome& Out, const std::function<void(const QString&)>& Each) {
    if (!Out.Spill || !Out.Spill->seek(0))
        return;
    while (!Out.Spill->atEnd() && !OutputGone) {
        QByteArray L = Out.Spill->readLine();
        if (L.endsWith('\n'))
            L.chop(1);
        Each(QString::fromUtf8(L));
    }
}

// The state store both programs share; a note on stderr when its file was set aside.
void LoadStore(TStateStore& Store) {
    const QString Note = Store.Load(TStateStore::DefaultFileName());
    if (!Note.isEmpty())
        Write(stderr, QStringLiteral("kivsvn: %1\n").arg(Note));
}

int Usage(const QString& Message) {
    Write(stderr, QStringLiteral("kivsvn: %1\nMehr mit »kivsvn --help«.\n").arg(Message));
    return ExitUsage;
}

// An option's number out of its range: "--timeout erwartet eine ganze Zahl von Sekunden von 1
// bis 86400 (ein Tag), nicht »x«."
int BoundError(const QString& Option, const QString& Unit, int Min, int Max, const QString& Note,
               const QString& Given) {
    return Usage(QStringLiteral("%1 erwartet eine ganze Zahl %2von %3 bis %4%5, nicht »%6«.")
                     .arg(Option, Unit.isEmpty() ? QString() : QStringLiteral("von %1 ").arg(Unit))
                     .arg(Min)
                     .arg(Max)
                     .arg(Note, Given));
}

// The elements TreePath names below Root: names from below the root, joined by "/", compared
// by the program's rule (the letters A to Z in either case). A name may itself hold a "/", so
// every way of cutting the path is tried; a "/" at either end is allowed. More than one
// element: the path is ambiguous (two siblings of one name, or a name with "/").
QList<TkivXmlElement*> FindPath(TkivXmlElement* Root, const QString& TreePath) {
    const QString Path = UpperAZ(TreePath);
    const qsizetype Len = Path.size();
    QList<TkivXmlElement*> Found;
    QSet<QPair<TkivXmlElement*, qsizetype>> Seen;
    QList<QPair<TkivXmlElement*, qsizetype>> Work{{Root, 0}};
    if (Path.startsWith(u'/'))
        Work.append({Root, 1});
    while (!Work.isEmpty()) {
        const auto [E, Pos] = Work.takeLast();
        for (int i = 0; i < E->ChildCount(); ++i) {
            TkivXmlElement* Child = E->GetChild(i);
            const QString Name = UpperAZ(Child->GetAttribute(QStringLiteral("Name")));
            if (QStringView(Path).mid(Pos, Name.size()) != Name)
                continue;
            const qsizetype End = Pos + Name.size();
            if (End == Len || (End + 1 == Len && Path.at(End) == u'/')) {
                if (!Found.contains(Child))
                    Found.append(Child);
            } else if (End < Len && Path.at(End) == u'/' && !Seen.contains({Child, End + 1})) {
                Seen.insert({Child, End + 1});
                Work.append({Child, End + 1});
            }
        }
    }
    return Found;
}

// The names from below the root down to E, joined by "/".
QString PathOf(const TkivXmlElement* E, const TkivXmlElement* Root) {
    QStringList Names;
    for (; E && E != Root; E = E->GetParent())
        Names.prepend(E->GetAttribute(QStringLiteral("Name")));
    return Names.join(u'/');
}

// SIGINT, SIGTERM and SIGHUP cancel the run like the window's: the program ends only when
// its clients are gone. SIGQUIT too: dumping core would leave a running update behind,
// holding its copy.
void WatchSignals(QObject* Owner, std::function<void()> OnEachSignal) {
    auto* Watcher = new TSignalWatcher({SIGINT, SIGTERM, SIGHUP, SIGQUIT}, Owner);
    QObject::connect(Watcher, &TSignalWatcher::Received, Owner, OnEachSignal);
}

struct TOptions {
    QString Task;
    QString Path;
    bool PathGiven = false; // also when given empty: that is no entry, not the whole list
    QString Registry;
    bool RegistryGiven = false;
    bool Short = false;
    bool ShowUpdates = false;
    bool Json = false;
    bool Repos = false; // --format repos
    bool FormatGiven = false;
    int Jobs = 0;
    int Timeout = 0;
    int Monitor = -1; // watch: minutes between the server's checks; -1: the registry's
    bool Exact = false; // export: each copy's revision as its version
    QString Group;      // import: the group the entries go into
    bool GroupGiven = false;
    QString Into; // import: the folder below which the copies lie
    bool IntoGiven = false;
    bool CheckoutAfter = false; // import: check out what is missing afterwards
};

int Search(const TOptions& O) {
    if (O.Path.isEmpty())
        return Usage(QStringLiteral("search erwartet einen Ordner."));
    if (!QFileInfo(O.Path).isDir())
        return Usage(QStringLiteral("Der Ordner »%1« existiert nicht.").arg(O.Path));
    QSet<QString> Registered;
    // A registry that is there but is no file (a FIFO, a link that leads nowhere) is refused
    // like one that cannot be read; only a missing one means nothing is registered.
    bool Missing = false;
    RegistryFileProblem(O.Registry, &Missing);
    if (!Missing) {
        try {
            Registered = RegisteredKeys(ReadRegistryFile(O.Registry).get(), ProjectBase());
        } catch (const std::exception& E) {
            Write(stderr, QStringLiteral("kivsvn: %1\n").arg(ExceptionText(E)));
            return ExitUsage;
        }
    }
    TSvnSearch Walk(O.Path, Registered);
    QObject::connect(&Walk, &TSvnSearch::Found, [&O](const QString& Folder) {
        if (O.Json)
            Print(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("folder"), Folder}})
                                        .toJson(QJsonDocument::Compact)));
        else
            Print(Folder);
        Flush();
    });
    OnOutputGone = [&Walk] { Walk.Cancel(); };
    QObject::connect(&Walk, &TSvnSearch::Note, [](const QString& Text) {
        Write(stderr, QStringLiteral("kivsvn: übersprungen: %1\n").arg(Text));
    });
    QObject::connect(&Walk, &TSvnSearch::Finished, [] { QCoreApplication::quit(); });
    WatchSignals(&Walk, [&Walk] { Walk.Cancel(); });
    Walk.Start();
    QCoreApplication::exec();
    Flush();
    if (!Walk.StartError().isEmpty()) {
        Write(stderr, QStringLiteral("kivsvn: %1\n").arg(Walk.StartError()));
        return ExitUsage;
    }
    return Walk.Cancelled() ? ExitFailed : ExitFine;
}

// The registry's element at the option's path, or an exit code and a message.
TkivXmlElement* NodeOf(const TOptions& O, std::unique_ptr<TkivPlainXmlElement>& Root, int& Exit) {
    try {
        Root = ReadRegistryFile(O.Registry);
    } catch (const std::exception& E) {
        Write(stderr, QStringLiteral("kivsvn: %1\n").arg(ExceptionText(E)));
        Exit = ExitUsage;
        return nullptr;
    }
    if (!O.PathGiven)
        return Root.get();
    const QList<TkivXmlElement*> Found = FindPath(Root.get(), O.Path);
    if (Found.isEmpty()) {
        Exit = Usage(QStringLiteral("Kein Eintrag »%1« in der Projektliste.").arg(O.Path));
        return nullptr;
    }
    if (Found.size() > 1) {
        Exit = Usage(QStringLiteral("»%1« passt auf %2 Einträge der Projektliste (Geschwister "
                                    "gleichen Namens, oder Namen mit »/«). Bitte die Namen in "
                                    "der Projektliste eindeutig machen.")
                         .arg(O.Path)
                         .arg(Found.size()));
        return nullptr;
    }
    return Found.first();
}

// The keys every project's JSON line has, whatever the command.
QJsonObject ProjectJson(const TSvnProject& P) {
    return QJsonObject{{QStringLiteral("path"), P.TreePath},
                       {QStringLiteral("name"), P.Name},
                       {QStringLiteral("folder"), P.Folder}};
}

// The run's settings: the list's, unless given here (a value out of range is said, not used).
TSvnRunOptions RunOptions(const TOptions& O, const TkivXmlElement* Root) {
    TSvnRunOptions Options;
    QString JobsProblem, TimeoutProblem;
    Options.Jobs = O.Jobs > 0 ? O.Jobs : JobCount(Root, &JobsProblem);
    Options.TimeoutSeconds = O.Timeout > 0 ? O.Timeout : TimeoutSeconds(Root, &TimeoutProblem);
    for (const QString& Problem : {JobsProblem, TimeoutProblem})
        if (!Problem.isEmpty())
            Write(stderr, QStringLiteral("kivsvn: %1\n").arg(Problem));
    return Options;
}

// Runs Task over Projects and waits for it, with Ctrl+C (and the other signals, and a closed
// output) cancelling it as the window's cancel does. Each project's result to Each, in tree
// order. True when it was cancelled.
bool RunAndWait(TSvnRun& Run, const std::function<void(int, const TSvnOutcome&)>& Each,
                const std::function<void(bool)>& AtEnd = nullptr) {
    QObject::connect(&Run, &TSvnRun::ProjectDone, Each);
    bool Cancelled = false;
    QObject::connect(&Run, &TSvnRun::Finished, [&](bool C) {
        Cancelled = C;
        if (AtEnd)
            AtEnd(C);
        QCoreApplication::quit();
    });
    auto Stop = [&Run] {
        if (!Run.Cancelling())
            Write(stderr, QStringLiteral("kivsvn: Abbruch – die laufenden Aufrufe von svn werden "
                                         "beendet.\n"));
        Run.Cancel();
    };
    WatchSignals(&Run, Stop);
    OnOutputGone = Stop;
    Run.Start();
    QCoreApplication::exec();
    Flush();
    OnOutputGone = nullptr;
    return Cancelled;
}

// The URLs the projects' runs learnt (Urls: folder -> URL), written into the registry where
// they differ from what it keeps, by the registry's rules (the file read anew under the lock,
// replaced atomically, what others wrote kept). Nothing happens when nothing differs. A
// registry that cannot take them is said on standard error; the store keeps them anyway.
void WriteLearntUrls(const TOptions& O, const std::vector<TSvnProject>& Projects,
                     const QHash<QString, QString>& Urls) {
    bool Differs = false;
    for (const TSvnProject& P : Projects) {
        const QString Url = Urls.value(P.Folder);
        Differs = Differs || (!Url.isEmpty() && Url != P.Url);
    }
    if (!Differs)
        return;
    try {
        EditRegistryFile(O.Registry, [&](TkivXmlElement* Root) {
            return SetProjectUrls(Root, Urls, ProjectBase()) > 0;
        });
    } catch (const std::exception& E) {
        Write(stderr, QStringLiteral("kivsvn: Die URLs der Projekte wurden nicht in die "
                                     "Projektliste geschrieben: %1\n")
                          .arg(ExceptionText(E)));
    }
}

// A task over Projects, its output streamed, its results in the store, the URLs it learnt in
// the registry.
int RunProjects(const TOptions& O, TSvnTask Task, std::vector<TSvnProject> Projects,
                const TkivXmlElement* Root) {
    TStateStore Store;
    LoadStore(Store);
    // The registry's own URLs, to tell afterwards what is new to it.
    const std::vector<TSvnProject> Kept = Projects;
    // What the registry does not keep, the store may know: the URL a checkout needs.
    for (TSvnProject& P : Projects)
        if (const TStoredState* S = P.Url.isEmpty() ? Store.Find(P.Folder) : nullptr)
            P.Url = S->Url;
    TSvnRunOptions Options = RunOptions(O, Root);
    // Every line the client prints is passed on, however many: those beyond what is held
    // wait in a file, not in memory.
    Options.SpillOmitted = true;
    Options.Store = &Store;
    TSvnRun Run(std::move(Projects), Task, Options);

    int FailedCount = 0;
    if (!O.Json)
        Print(QStringLiteral("*** ") + TaskTitle(Task));
    const bool Cancelled = RunAndWait(
        Run,
        [&](int Index, const TSvnOutcome& Out) {
            const TSvnProject& P = Run.Projects()[size_t(Index)];
            if (IsFailure(Out.State))
                ++FailedCount;
            if (O.Json) {
                QJsonObject J = ProjectJson(P);
                J.insert(QStringLiteral("task"), O.Task);
                J.insert(QStringLiteral("state"), StateKey(Out.State));
                J.insert(QStringLiteral("exitCode"), Out.ExitCode);
                J.insert(QStringLiteral("notes"), QJsonArray::fromStringList(Out.Notes));
                if (Task == TSvnTask::Update && Out.Verdict.Files >= 0)
                    J.insert(QStringLiteral("files"), Out.Verdict.Files);
                if (Task == TSvnTask::Info || Task == TSvnTask::Checkout)
                    J.insert(QStringLiteral("url"), Out.Verdict.Url);
                // The lines are written as they come, not gathered into one document first.
                QString Head = QString::fromUtf8(QJsonDocument(J).toJson(QJsonDocument::Compact));
                Head.chop(1);
                Write(stdout, Head + QStringLiteral(",\"lines\":["));
                bool First = true;
                auto Line = [&](const QString& L) {
                    Write(stdout, (First ? QString() : QStringLiteral(",")) + JsonString(L));
                    First = false;
                };
                for (const QString& L : Out.Lines)
                    Line(L);
                ForEachSpilled(Out, Line);
                Write(stdout, QStringLiteral("]}\n"));
            } else if (!Out.Spill) {
                for (const QString& L : ProjectBlock(P, Out, O.Short))
                    Print(L);
            } else {
                TSvnOutcome Head = Out;
                Head.Omitted = 0;
                Head.Notes.clear();
                for (const QString& L : ProjectBlock(P, Head, false))
                    Print(L);
                ForEachSpilled(Out, Print);
                for (const QString& L : Out.Notes)
                    Print(L);
            }
            Flush();
        },
        [&](bool C) {
            if (!O.Json)
                Print(C ? QStringLiteral("*** Abgebrochen") : QStringLiteral("*** Ende"));
        });
    QString Error;
    if (!Store.Save(TStateStore::DefaultFileName(), &Error))
        Write(stderr, QStringLiteral("kivsvn: %1\n").arg(Error));
    // The registry keeps the user's copy of each URL the store now knows.
    QHash<QString, QString> Urls;
    for (const TSvnProject& P : Run.Projects())
        if (const TStoredState* S = Store.Find(P.Folder); S && !S->Url.isEmpty())
            Urls.insert(P.Folder, S->Url);
    WriteLearntUrls(O, Kept, Urls);
    return FailedCount > 0 || Cancelled ? ExitFailed : ExitFine;
}

// When the project's state was last decided: its own check, or the server's answer after it.
QDateTime StateTime(const TStoredState& S) {
    return S.Server.Known() && S.Server.Time > S.Time ? S.Server.Time : S.Time;
}

// A stored state as a JSON line: the keys of a run's line and its time; with new revisions on
// the server, their number and the log entries read.
QJsonObject StoredJson(const TSvnProject& P, const TStoredState* S) {
    QJsonObject J = ProjectJson(P);
    if (!S) {
        J.insert(QStringLiteral("state"), QJsonValue::Null);
        J.insert(QStringLiteral("time"), QJsonValue::Null);
        return J;
    }
    J.insert(QStringLiteral("task"), TaskCommand(S->Task));
    J.insert(QStringLiteral("state"), StateKey(S->Shown()));
    J.insert(QStringLiteral("time"), StateTime(*S).toLocalTime().toString(Qt::ISODate));
    J.insert(QStringLiteral("exitCode"), S->ExitCode);
    J.insert(QStringLiteral("lines"), QJsonArray::fromStringList(S->Lines));
    J.insert(QStringLiteral("notes"), QJsonArray::fromStringList(S->Notes + S->Server.Notes));
    if (S->Files >= 0)
        J.insert(QStringLiteral("files"), S->Files);
    if (!S->Url.isEmpty())
        J.insert(QStringLiteral("url"), S->Url);
    if (S->Revision >= 0)
        J.insert(QStringLiteral("revision"), S->Revision);
    if (S->Server.Behind()) {
        if (S->Server.NewRevisions >= 0)
            J.insert(QStringLiteral("newRevisions"), S->Server.NewRevisions);
        QJsonArray Log;
        for (const TLogEntry& E : S->Server.Log)
            Log.append(QJsonObject{{QStringLiteral("revision"), E.Revision},
                                   {QStringLiteral("author"), E.Author},
                                   {QStringLiteral("message"), E.Message}});
        J.insert(QStringLiteral("log"), Log);
    }
    return J;
}

// The caption of a stored state, with the number of new revisions where the server has some.
QString StoredCaption(const TStoredState& S) {
    QString Text = StateText(S.Shown());
    if (S.Server.Behind() && S.Server.NewRevisions > 0)
        Text += S.Server.NewRevisions == 1
                    ? QStringLiteral(" (1 neue Revision)")
                    : QStringLiteral(" (%1%2 neue Revisionen)")
                          .arg(S.Server.More ? QStringLiteral("mindestens ") : QString())
                          .arg(S.Server.NewRevisions);
    return Text;
}

int RunTask(const TOptions& O) {
    std::unique_ptr<TkivPlainXmlElement> Root;
    int Exit = ExitFine;
    TkivXmlElement* Node = NodeOf(O, Root, Exit);
    if (!Node)
        return Exit;
    const TSvnTask Task = O.Task == u"status"
                              ? (O.ShowUpdates ? TSvnTask::StatusRemote : TSvnTask::Status)
                          : O.Task == u"update"   ? TSvnTask::Update
                          : O.Task == u"checkout" ? TSvnTask::Checkout
                                                  : TSvnTask::Info;
    std::vector<TSvnProject> Projects;
    // In the window's order: siblings sorted by caption. Folders are resolved once, here.
    CollectProjectsInCaptionOrder(Node, PathOf(Node, Root.get()), ProjectBase(), Projects);
    return RunProjects(O, Task, std::move(Projects), Root.get());
}

// The node's projects as a .repos file on standard output, each key its path below the node.
// Their URLs and revisions are read from the copies (svn info, local); a copy that is gone is
// named by the URL the registry or the store keeps for it.
int Export(const TOptions& O) {
    std::unique_ptr<TkivPlainXmlElement> Root;
    int Exit = ExitFine;
    TkivXmlElement* Node = NodeOf(O, Root, Exit);
    if (!Node)
        return Exit;
    std::vector<TSvnProject> Projects;
    CollectProjectsInCaptionOrder(Node, QString(), ProjectBase(), Projects);
    TStateStore Store;
    LoadStore(Store);
    const std::vector<TSvnProject> Kept = Projects;
    TSvnRun Run(std::move(Projects), TSvnTask::Info, RunOptions(O, Root.get()));
    std::vector<TSvnOutcome> Out(Run.Projects().size());
    if (RunAndWait(Run, [&](int I, const TSvnOutcome& R) { Out[size_t(I)] = R; }))
        return ExitFailed;
    std::vector<TReposEntry> Entries;
    QSet<QString> Keys;
    QHash<QString, QString> Learnt;
    int Passed = 0;
    auto PassOver = [&](const QString& Key, const QString& Why) {
        Write(stderr, QStringLiteral("kivsvn: übergangen: %1 (%2)\n").arg(Key, Why));
        ++Passed;
    };
    for (size_t i = 0; i < Kept.size(); ++i) {
        const TSvnProject& P = Kept[i];
        const QString Key = P.TreePath.isEmpty() ? P.Name : P.TreePath;
        QString Url = Out[i].Verdict.Url;
        if (!Url.isEmpty())
            Learnt.insert(P.Folder, Url);
        if (Url.isEmpty() && Out[i].State == TSvnState::Missing) {
            const TStoredState* S = Store.Find(P.Folder);
            Url = !P.Url.isEmpty() ? P.Url : S ? S->Url : QString();
        }
        if (const QString Problem = ReposKeyProblem(Key); !Problem.isEmpty()) {
            PassOver(Key, Problem);
            continue;
        }
        if (Url.isEmpty()) {
            PassOver(Key,
                     Out[i].State == TSvnState::Missing
                         ? QStringLiteral("Verzeichnis fehlt, keine URL bekannt")
                         : QStringLiteral("keine Arbeitskopie: %1").arg(StateText(Out[i].State)));
            continue;
        }
        if (Keys.contains(Key)) {
            PassOver(Key, QStringLiteral("ein Projekt dieses Pfades steht schon in der Datei"));
            continue;
        }
        Keys.insert(Key);
        TReposEntry E{Key, QStringLiteral("svn"), Url, QString()};
        if (O.Exact) {
            if (Out[i].Verdict.Revision >= 0)
                E.Version = QString::number(Out[i].Verdict.Revision);
            else
                Write(stderr,
                      QStringLiteral("kivsvn: ohne Revision: %1 (Verzeichnis fehlt)\n").arg(Key));
        }
        Entries.push_back(std::move(E));
    }
    WriteBytes(ReposFileText(Entries));
    Flush();
    WriteLearntUrls(O, Kept, Learnt);
    return Passed > 0 ? ExitFailed : ExitFine;
}

// The svn entries of a .repos file into the registry: checked first (names and folders by the
// new-entry rules, every URL asked of its server), then all of them at once, or none.
int Import(const TOptions& O) {
    std::vector<TReposEntry> Entries;
    try {
        Entries = ReadReposFile(O.Path);
    } catch (const std::exception& E) {
        Write(stderr,
              QStringLiteral("kivsvn: %1\nNichts wurde eingetragen.\n").arg(ExceptionText(E)));
        return ExitUsage;
    }
    const QString Base = QDir::cleanPath(
        QDir::current().absoluteFilePath(O.IntoGiven ? O.Into : QStringLiteral(".")));
    const QStringList Group =
        O.GroupGiven ? O.Group.split(u'/', Qt::SkipEmptyParts) : QStringList();
    std::unique_ptr<TkivPlainXmlElement> Root;
    bool Missing = false;
    RegistryFileProblem(O.Registry, &Missing);
    try {
        if (Missing) {
            Root = std::make_unique<TkivPlainXmlElement>();
            MakeFreshRegistryRoot(Root.get());
        } else {
            Root = ReadRegistryFile(O.Registry);
        }
    } catch (const std::exception& E) {
        Write(stderr, QStringLiteral("kivsvn: %1\n").arg(ExceptionText(E)));
        return ExitUsage;
    }
    auto Refuse = [](const QStringList& Problems) {
        Write(stderr,
              QStringLiteral("kivsvn: Die .repos-Datei kann so nicht eingetragen werden:\n"));
        for (const QString& P : Problems)
            Write(stderr, QStringLiteral("  %1\n").arg(P));
        Write(stderr, QStringLiteral("Nichts wurde eingetragen.\n"));
        return ExitUsage;
    };
    TReposImport Plan = PlanReposImport(Entries, Root.get(), Group, Base);
    for (const QString& P : std::as_const(Plan.PassedOver))
        Print(QStringLiteral("übergangen (kein svn): %1").arg(P));
    if (!Plan.Problems.isEmpty())
        return Refuse(Plan.Problems);
    if (Plan.Projects.empty()) {
        Print(QStringLiteral("Keine svn-Einträge: nichts einzutragen."));
        return ExitFine;
    }
    // Each URL asked of its server: one it refuses is not entered, and then nothing is.
    std::vector<TSvnProject> Asked;
    for (const TReposImport::TNew& N : Plan.Projects)
        Asked.push_back({N.Name, QString(), QString(), N.Key, 0, N.Url});
    TSvnRun Probe(std::move(Asked), TSvnTask::UrlInfo, RunOptions(O, Root.get()));
    QStringList Refused;
    const bool Cancelled = RunAndWait(Probe, [&](int I, const TSvnOutcome& R) {
        if (R.State == TSvnState::Info)
            return;
        const TReposImport::TNew& N = Plan.Projects[size_t(I)];
        QStringList Said = R.Lines.filter(QStringLiteral("svn: E"));
        Said += R.Notes;
        Refused << QStringLiteral("»%1«: der Server nimmt die URL %2 nicht an: %3")
                       .arg(N.Key, N.Url, Said.isEmpty() ? StateText(R.State) : Said.join(u' '));
    });
    if (Cancelled) {
        Write(stderr, QStringLiteral("kivsvn: Abgebrochen. Nichts wurde eingetragen.\n"));
        return ExitFailed;
    }
    if (!Refused.isEmpty())
        return Refuse(Refused);
    if (Plan.Versions)
        Write(stderr, QStringLiteral("kivsvn: Die Versionsangaben der Datei werden nicht "
                                     "übernommen; die Projekte folgen dem neuesten Stand.\n"));
    // Into the file as it is now: what changed meanwhile is checked again, and kept.
    std::vector<TSvnProject> Added;
    try {
        EditRegistryFile(O.Registry, [&](TkivXmlElement* Now) {
            TReposImport Again = PlanReposImport(Entries, Now, Group, Base);
            if (!Again.Problems.isEmpty())
                throw EInputError(Again.Problems.join(u'\n'));
            for (TkivXmlElement* E : ApplyReposImport(Again, Now)) {
                const QString Dir = E->GetAttribute(QStringLiteral("Verzeichnis"));
                Added.push_back({E->GetAttribute(QStringLiteral("Name")), Dir, ProjectFolder(Dir),
                                 PathOf(E, Now), 0, E->GetAttribute(UrlAttribute)});
            }
            return true;
        });
    } catch (const EInputError& E) {
        return Refuse(E.Message().split(u'\n'));
    } catch (const std::exception& E) {
        Write(stderr,
              QStringLiteral("kivsvn: %1\nNichts wurde eingetragen.\n").arg(ExceptionText(E)));
        return ExitUsage;
    }
    for (const TSvnProject& P : Added)
        Print(QStringLiteral("eingetragen: %1 → %2").arg(P.TreePath, P.Folder));
    Flush();
    if (!O.CheckoutAfter)
        return ExitFine;
    return RunProjects(O, TSvnTask::Checkout, std::move(Added), Root.get());
}

// What the store knows of the node's projects, without running svn.
int ShowState(const TOptions& O) {
    std::unique_ptr<TkivPlainXmlElement> Root;
    int Exit = ExitFine;
    TkivXmlElement* Node = NodeOf(O, Root, Exit);
    if (!Node)
        return Exit;
    std::vector<TSvnProject> Projects;
    CollectProjectsInCaptionOrder(Node, PathOf(Node, Root.get()), ProjectBase(), Projects);
    TStateStore Store;
    LoadStore(Store);
    const QLocale German(QLocale::German);
    int FailedCount = 0;
    for (const TSvnProject& P : Projects) {
        const TStoredState* S = Store.Find(P.Folder);
        if (S && IsFailure(S->Shown()))
            ++FailedCount;
        if (O.Short && (!S || !NeedsAttention(S->Shown())))
            continue;
        if (O.Json) {
            Print(
                QString::fromUtf8(QJsonDocument(StoredJson(P, S)).toJson(QJsonDocument::Compact)));
        } else if (!S) {
            Print(QStringLiteral("%1: noch nie geprüft").arg(P.TreePath));
        } else {
            const QDateTime T = S->Time.toLocalTime();
            Print(QStringLiteral("%1: %2 – %3 am %4 um %5")
                      .arg(P.TreePath, StoredCaption(*S), TaskTitle(S->Task),
                           German.toString(T.date(), QStringLiteral("dd.MM.yyyy")),
                           German.toString(T.time(), QStringLiteral("HH:mm"))));
        }
    }
    Flush();
    return FailedCount > 0 ? ExitFailed : ExitFine;
}

// A reader of standard output that goes away while nothing is written ("kivsvn watch | head -3"
// when no state changes) is noticed too: a thread waits for the pipe's error (or a terminal's
// hang-up); poll reports both without being asked, and nothing else.
class TOutputReaderWatch {
public:
    explicit TOutputReaderWatch(std::function<void()> OnGone) {
        if (::pipe2(FWake, O_CLOEXEC) != 0)
            return;
        FThread = std::thread([this, OnGone] {
            pollfd P[2] = {{STDOUT_FILENO, 0, 0}, {FWake[0], POLLIN, 0}};
            for (;;) {
                if (::poll(P, 2, -1) < 0) {
                    if (errno == EINTR)
                        continue;
                    return;
                }
                if (P[1].revents)
                    return;
                if (P[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                    PostTo(QCoreApplication::instance(), OnGone);
                    return;
                }
            }
        });
    }
    ~TOutputReaderWatch() {
        if (FThread.joinable()) {
            const char Byte = 0;
            while (::write(FWake[1], &Byte, 1) < 0 && errno == EINTR) {
            }
            FThread.join();
        }
        for (int Fd : FWake)
            if (Fd >= 0)
                ::close(Fd);
    }

private:
    int FWake[2] = {-1, -1};
    std::thread FThread;
};

// The node's copies watched, and the server asked as the monitor does, without a window: first
// one line per project (after a first check of every copy), then one for each change of a
// project's state, until a signal or the end of the output. The store is fed as in the window.
int Watch(const TOptions& O) {
    std::unique_ptr<TkivPlainXmlElement> Root;
    int Exit = ExitFine;
    TkivXmlElement* Node = NodeOf(O, Root, Exit);
    if (!Node)
        return Exit;
    std::vector<TSvnProject> Projects;
    CollectProjectsInCaptionOrder(Node, PathOf(Node, Root.get()), ProjectBase(), Projects);
    TStateStore Store;
    LoadStore(Store);
    QString JobsProblem, TimeoutProblem, MonitorProblem;
    const int Jobs = O.Jobs > 0 ? O.Jobs : JobCount(Root.get(), &JobsProblem);
    const int Timeout = O.Timeout > 0 ? O.Timeout : TimeoutSeconds(Root.get(), &TimeoutProblem);
    const int Minutes = O.Monitor >= 0 ? O.Monitor : MonitorMinutes(Root.get(), &MonitorProblem);
    for (const QString& Problem : {JobsProblem, TimeoutProblem, MonitorProblem})
        if (!Problem.isEmpty())
            Write(stderr, QStringLiteral("kivsvn: %1\n").arg(Problem));

    auto Live = std::make_unique<TLiveCopies>(&Store);
    auto Monitor = std::make_unique<TServerMonitor>(&Store);
    Live->SetRunOptions(Jobs, Timeout);
    Monitor->SetRunOptions(Jobs, Timeout);
    Monitor->SetProjects(Projects);
    QHash<QString, QList<int>> ByFolder;
    QStringList Folders;
    for (int i = 0; i < int(Projects.size()); ++i) {
        if (!ByFolder.contains(Projects[size_t(i)].Folder))
            Folders << Projects[size_t(i)].Folder;
        ByFolder[Projects[size_t(i)].Folder] << i;
    }
    QObject::connect(Live.get(), &TLiveCopies::Problem, [](const QString& M) {
        Write(stderr, QStringLiteral("kivsvn: %1\n").arg(M));
    });

    // A project is told once it has been checked in this run, and again whenever what it shows
    // changes: its state, or the revisions the server has for it.
    std::vector<QString> Told(Projects.size());
    auto Tell = [&](int i) {
        const TSvnProject& P = Projects[size_t(i)];
        const TStoredState* S = Store.Find(P.Folder);
        if (!S || !Store.Fresh(*S))
            return;
        const QString Key =
            QStringLiteral("%1|%2|%3")
                .arg(StateKey(S->Shown()))
                .arg(S->Server.Behind() ? S->Server.NewRevisions : -2)
                .arg(S->Server.Behind() && !S->Server.Log.isEmpty() ? S->Server.Log.first().Revision
                                                                    : -1);
        if (Told[size_t(i)] == Key)
            return;
        Told[size_t(i)] = Key;
        if (O.Json)
            Print(
                QString::fromUtf8(QJsonDocument(StoredJson(P, S)).toJson(QJsonDocument::Compact)));
        else
            Print(QStringLiteral("%1 %2: %3")
                      .arg(StateTime(*S).toLocalTime().toString(QStringLiteral("HH:mm:ss")),
                           P.TreePath, StoredCaption(*S)));
    };
    QObject::connect(&Store, &TStateStore::Changed, [&](const QString& Folder) {
        for (int i : ByFolder.value(Folder))
            Tell(i);
        Flush();
    });
    QObject::connect(&Store, &TStateStore::Reloaded, [&] {
        for (int i = 0; i < int(Projects.size()); ++i)
            Tell(i);
        Flush();
    });
    // The states are written a moment after they change, as the window does.
    QTimer SaveLater;
    SaveLater.setSingleShot(true);
    SaveLater.setInterval(2000);
    QObject::connect(&Store, &TStateStore::Changed, &SaveLater, qOverload<>(&QTimer::start));
    QObject::connect(&SaveLater, &QTimer::timeout, [&Store] {
        QString Error;
        if (!Store.Save(TStateStore::DefaultFileName(), &Error))
            Write(stderr, QStringLiteral("kivsvn: %1\n").arg(Error));
    });
    // The first check once every copy is watched: nothing that changes after it goes unseen.
    bool Started = false;
    QObject::connect(Live->Watcher(), &TkivWatcher::Settled, [&] {
        if (Started)
            return;
        Started = true;
        Live->CheckSoon(Folders);
        Monitor->SetInterval(Minutes);
    });
    Live->SetProjects(Projects);

    auto End = [] { QCoreApplication::quit(); };
    auto* Signals = new TSignalWatcher({SIGINT, SIGTERM, SIGHUP, SIGQUIT}, &Store);
    QObject::connect(Signals, &TSignalWatcher::Received, End);
    OnOutputGone = End;
    TOutputReaderWatch Reader(End);
    QCoreApplication::exec();
    OnOutputGone = nullptr;
    // Every client ends before the program does.
    Monitor.reset();
    Live.reset();
    QString Error;
    if (!Store.Save(TStateStore::DefaultFileName(), &Error))
        Write(stderr, QStringLiteral("kivsvn: %1\n").arg(Error));
    return ExitFine;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kivSubversion"));
    InitRoamingMarker();
    const QStringList Args = App.arguments().mid(1);
    TOptions O;
    QString Missing; // an option given last, without its value
    auto Value = [&](int& i, const QString& A, const QString& Name, QString& Out) {
        if (A.startsWith(Name + u'=')) {
            Out = A.mid(Name.size() + 1);
            return true;
        }
        if (A == Name && i + 1 < Args.size()) {
            Out = Args.at(++i);
            return true;
        }
        if (A == Name)
            Missing = Name;
        return false;
    };
    // The entry of the registry: given at most once, and never as nothing at all.
    auto SetPath = [&](const QString& A) {
        O.Path = A;
        O.PathGiven = true;
    };
    bool Options = true; // until "--": what follows is a task and an entry, whatever it looks like
    for (int i = 0; i < Args.size(); ++i) {
        const QString& A = Args.at(i);
        QString V;
        if (Options && A == u"--") {
            Options = false;
            continue;
        }
        if (!Options) {
            if (O.Task.isEmpty())
                O.Task = A;
            else if (!O.PathGiven)
                SetPath(A);
            else
                return Usage(QStringLiteral("Nur ein Eintrag der Projektliste ist erlaubt."));
            continue;
        }
        if (A == u"-h" || A == u"--help") {
            Write(stdout, QString::fromUtf8(HelpText));
            return ExitFine;
        }
        if (A == u"-V" || A == u"--version") {
            Print(QStringLiteral("kivsvn %1")
                      .arg(GetFileVersionString(QCoreApplication::applicationFilePath())));
            return ExitFine;
        }
        if (A == u"--short") {
            O.Short = true;
        } else if (A == u"-u" || A == u"--show-updates") {
            O.ShowUpdates = true;
        } else if (Value(i, A, QStringLiteral("--jobs"), V)) {
            if (!ParseBoundedInt(V, 1, MaxJobs, O.Jobs))
                return BoundError(QStringLiteral("--jobs"), QString(), 1, MaxJobs, QString(), V);
        } else if (Value(i, A, QStringLiteral("--timeout"), V)) {
            if (!ParseBoundedInt(V, 1, MaxTimeoutSeconds, O.Timeout))
                return BoundError(QStringLiteral("--timeout"), QStringLiteral("Sekunden"), 1, MaxTimeoutSeconds,
                                  QStringLiteral(" (ein Tag)"), V);
        } else if (Value(i, A, QStringLiteral("--monitor"), V)) {
            if (!ParseBoundedInt(V, 0, MaxMonitorMinutes, O.Monitor))
                return BoundError(QStringLiteral("--monitor"), QStringLiteral("Minuten"), 0, MaxMonitorMinutes, QString(), V);
        } else if (Value(i, A, QStringLiteral("--format"), V)) {
            if (V != u"text" && V != u"json" && V != u"repos")
                return Usage(QStringLiteral("--format erwartet text, json oder (bei export) "
                                            "repos."));
            O.Json = V == u"json";
            O.Repos = V == u"repos";
            O.FormatGiven = true;
        } else if (A == u"--exact") {
            O.Exact = true;
        } else if (A == u"--checkout") {
            O.CheckoutAfter = true;
        } else if (Value(i, A, QStringLiteral("--group"), V)) {
            if (QString(V).remove(u'/').trimmed().isEmpty())
                return Usage(QStringLiteral("--group erwartet den Namen einer Gruppe."));
            O.Group = V;
            O.GroupGiven = true;
        } else if (Value(i, A, QStringLiteral("--into"), V)) {
            if (V.isEmpty())
                return Usage(QStringLiteral("--into erwartet einen Ordner."));
            O.Into = V;
            O.IntoGiven = true;
        } else if (Value(i, A, QStringLiteral("--registry"), V)) {
            if (V.isEmpty())
                return Usage(QStringLiteral("--registry erwartet den Namen einer Datei."));
            O.Registry = V;
            O.RegistryGiven = true;
        } else if (!Missing.isEmpty()) {
            return Usage(QStringLiteral("%1 erwartet einen Wert.").arg(Missing));
        } else if (A.startsWith(u'-') && A != u"-") {
            return Usage(QStringLiteral("Unbekannte Option: %1").arg(A));
        } else if (O.Task.isEmpty()) {
            O.Task = A;
        } else if (!O.PathGiven) {
            SetPath(A);
        } else {
            return Usage(QStringLiteral("Nur ein Eintrag der Projektliste ist erlaubt."));
        }
    }
    if (O.Task.isEmpty())
        return Usage(QStringLiteral("Keine Aufgabe angegeben."));
    const QStringList Tasks = {"status", "update", "info",   "checkout",
                               "search", "state",  "export", "import", "watch"};
    if (!Tasks.contains(O.Task))
        return Usage(QStringLiteral("Unbekannte Aufgabe: %1").arg(O.Task));
    if (O.ShowUpdates && O.Task != u"status")
        return Usage(QStringLiteral("-u gilt nur für status."));
    if (O.Monitor >= 0 && O.Task != u"watch")
        return Usage(QStringLiteral("--monitor gilt nur für watch."));
    if (O.Exact && O.Task != u"export")
        return Usage(QStringLiteral("--exact gilt nur für export."));
    if ((O.GroupGiven || O.IntoGiven || O.CheckoutAfter) && O.Task != u"import")
        return Usage(QStringLiteral("--group, --into und --checkout gelten nur für import."));
    if (O.Repos != (O.Task == u"export" && O.FormatGiven))
        return Usage(O.Repos ? QStringLiteral("--format repos gilt nur für export.")
                             : QStringLiteral("export schreibt nur --format repos."));
    if (O.Task == u"import" && O.FormatGiven)
        return Usage(QStringLiteral("import kennt kein --format."));
    if (O.Task == u"import" && (!O.PathGiven || O.Path.isEmpty()))
        return Usage(QStringLiteral("import erwartet eine .repos-Datei."));
    // An empty entry, or one of "/" only, names nothing: the whole list is meant by giving none.
    if (O.PathGiven && O.Task != u"search" && O.Task != u"import" &&
        QString(O.Path).remove(u'/').isEmpty())
        return Usage((O.Path.isEmpty() ? QStringLiteral("Der Eintrag ist leer")
                                       : QStringLiteral("»%1« nennt keinen Eintrag").arg(O.Path)) +
                     QStringLiteral("; für alle Projekte keinen Eintrag angeben."));
    if (!O.RegistryGiven)
        O.Registry = RegistryFilePath();
    // A closed output ends the run as SIGTERM does, not the process at the next write.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        if (O.Task == u"search")
            return Search(O);
        if (O.Task == u"watch")
            return Watch(O);
        if (O.Task == u"export")
            return Export(O);
        if (O.Task == u"import")
            return Import(O);
        return O.Task == u"state" ? ShowState(O) : RunTask(O);
    } catch (const std::exception& E) {
        // In German, also what the standard library raises (memory, threads).
        Write(stderr, QStringLiteral("kivsvn: %1\n").arg(ExceptionText(E)));
        return ExitUsage;
    }
}
