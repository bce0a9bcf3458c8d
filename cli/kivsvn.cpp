// kivsvn: the task engine on the command line, over the same registry as the window.
// `kivsvn --help` lists the commands and options.
#include "kiv_XmlObjects.h"
#include "kiv_folders.h"
#include "kiv_registry.h"
#include "kiv_signals.h"
#include "kiv_system.h"
#include "svn_engine.h"
#include "svn_search.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <memory>

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
    "  search ORDNER    Arbeitskopien unter ORDNER suchen, die nicht eingetragen sind\n"
    "\n"
    "Optionen:\n"
    "  -u, --show-updates   bei status auch den Server fragen: veraltete Kopien zeigen\n"
    "      --short          kurze Anzeige: Projekte ohne Meldung weglassen\n"
    "      --jobs N         N Aufrufe von svn gleichzeitig (Vorgabe: \"Jobs\" der Liste,\n"
    "                       sonst die Zahl der Kerne, mindestens 2)\n"
    "      --timeout SEK    svn beenden, wenn es SEK Sekunden nichts ausgibt (Vorgabe:\n"
    "                       \"Zeitlimit\" der Liste, sonst 120)\n"
    "      --format FORMAT  text (Vorgabe) oder json: je Projekt ein JSON-Objekt pro Zeile\n"
    "      --registry DATEI diese Projektliste statt der des Benutzers\n"
    "  -h, --help           diese Hilfe anzeigen\n"
    "  -V, --version        die Version anzeigen\n"
    "\n"
    "Rückgabewert: 0 alles in Ordnung, 1 ein Projekt ist fehlgeschlagen oder hat Konflikte,\n"
    "2 falscher Aufruf oder nicht lesbare Projektliste. Meldungen gehen auf die\n"
    "Standardfehlerausgabe. svn fragt nie nach: Zugangsdaten einmal im Fenster mit\n"
    "\"in DOS-Box ausführen\" oder mit svn selbst speichern.\n";

void Write(std::FILE* To, const QString& Text) {
    const QByteArray Bytes = Text.toLocal8Bit();
    std::fwrite(Bytes.constData(), 1, size_t(Bytes.size()), To);
}

void Print(const QString& Line) {
    Write(stdout, Line + u'\n');
}

int Usage(const QString& Message) {
    Write(stderr, QStringLiteral("kivsvn: %1\nMehr mit »kivsvn --help«.\n").arg(Message));
    return ExitUsage;
}

// The element at TreePath below Root: names from below the root, joined by "/".
TkivXmlElement* FindPath(TkivXmlElement* Root, const QString& TreePath) {
    TkivXmlElement* E = Root;
    for (const QString& Name : TreePath.split(u'/', Qt::SkipEmptyParts)) {
        TkivXmlElement* Next = nullptr;
        for (int i = 0; i < E->ChildCount() && !Next; ++i)
            if (E->GetChild(i)->GetAttribute(QStringLiteral("Name")) == Name)
                Next = E->GetChild(i);
        if (!Next)
            return nullptr;
        E = Next;
    }
    return E;
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
    QString Registry;
    bool Short = false;
    bool ShowUpdates = false;
    bool Json = false;
    int Jobs = 0;
    int Timeout = 0;
};

int Search(const TOptions& O) {
    if (O.Path.isEmpty())
        return Usage(QStringLiteral("search erwartet einen Ordner."));
    if (!QFileInfo(O.Path).isDir())
        return Usage(QStringLiteral("Der Ordner »%1« existiert nicht.").arg(O.Path));
    QSet<QString> Registered;
    if (QFileInfo(O.Registry).isFile()) {
        try {
            Registered = RegisteredKeys(ReadRegistryFile(O.Registry).get(), ProjectBase());
        } catch (const std::exception& E) {
            Write(stderr, QStringLiteral("kivsvn: %1\n").arg(QString::fromUtf8(E.what())));
            return ExitUsage;
        }
    }
    TSvnSearch Walk(O.Path, Registered);
    QObject::connect(&Walk, &TSvnSearch::Found, [&O](const QString& Folder) {
        if (O.Json)
            Print(QString::fromUtf8(
                QJsonDocument(QJsonObject{{QStringLiteral("folder"), Folder}})
                    .toJson(QJsonDocument::Compact)));
        else
            Print(Folder);
        std::fflush(stdout);
    });
    QObject::connect(&Walk, &TSvnSearch::Note, [](const QString& Text) {
        Write(stderr, QStringLiteral("kivsvn: übersprungen: %1\n").arg(Text));
    });
    QObject::connect(&Walk, &TSvnSearch::Finished, [] { QCoreApplication::quit(); });
    WatchSignals(&Walk, [&Walk] { Walk.Cancel(); });
    Walk.Start();
    QCoreApplication::exec();
    std::fflush(stdout);
    if (!Walk.StartError().isEmpty()) {
        Write(stderr, QStringLiteral("kivsvn: %1\n").arg(Walk.StartError()));
        return ExitUsage;
    }
    return Walk.Cancelled() ? ExitFailed : ExitFine;
}

int RunTask(const TOptions& O) {
    std::unique_ptr<TkivPlainXmlElement> Root;
    try {
        Root = ReadRegistryFile(O.Registry);
    } catch (const std::exception& E) {
        Write(stderr, QStringLiteral("kivsvn: %1\n").arg(QString::fromUtf8(E.what())));
        return ExitUsage;
    }
    TkivXmlElement* Node = FindPath(Root.get(), O.Path);
    if (!Node)
        return Usage(QStringLiteral("Kein Eintrag »%1« in der Projektliste.").arg(O.Path));

    const TSvnTask Task = O.Task == u"status"   ? TSvnTask::Status
                          : O.Task == u"update" ? TSvnTask::Update
                                                : TSvnTask::Info;
    std::vector<TSvnProject> Projects;
    // In the window's order: siblings sorted by caption. Folders are resolved once, here.
    CollectProjectsInCaptionOrder(Node, O.Path, ProjectBase(), Projects);
    TSvnRunOptions Options;
    Options.ShowUpdates = O.ShowUpdates;
    Options.Jobs = O.Jobs > 0 ? O.Jobs : JobCount(Root.get());
    Options.TimeoutSeconds = O.Timeout > 0 ? O.Timeout : TimeoutSeconds(Root.get());
    TSvnRun Run(std::move(Projects), Task, Options);

    int FailedCount = 0;
    const QString Title = Task == TSvnTask::Status   ? QStringLiteral("Testen auf Änderungen")
                          : Task == TSvnTask::Update ? QStringLiteral("Aktualisieren")
                                                     : QStringLiteral("Info");
    if (!O.Json)
        Print(QStringLiteral("*** ") + Title);
    QObject::connect(&Run, &TSvnRun::ProjectDone, [&](int Index, const TSvnOutcome& Out) {
        const TSvnProject& P = Run.Projects()[size_t(Index)];
        if (IsFailure(Out.State))
            ++FailedCount;
        if (O.Json) {
            QJsonObject J{{QStringLiteral("path"), P.TreePath},
                          {QStringLiteral("name"), P.Name},
                          {QStringLiteral("folder"), P.Folder},
                          {QStringLiteral("task"), O.Task},
                          {QStringLiteral("state"), StateKey(Out.State)},
                          {QStringLiteral("exitCode"), Out.ExitCode},
                          {QStringLiteral("lines"), QJsonArray::fromStringList(Out.Lines)},
                          {QStringLiteral("notes"), QJsonArray::fromStringList(Out.Notes)}};
            if (Task == TSvnTask::Update && Out.Verdict.Files >= 0)
                J.insert(QStringLiteral("files"), Out.Verdict.Files);
            if (Task == TSvnTask::Info)
                J.insert(QStringLiteral("url"), Out.Verdict.Url);
            Print(QString::fromUtf8(QJsonDocument(J).toJson(QJsonDocument::Compact)));
        } else {
            for (const QString& L : ProjectBlock(P, Out, O.Short))
                Print(L);
        }
        std::fflush(stdout);
    });
    bool Cancelled = false;
    QObject::connect(&Run, &TSvnRun::Finished, [&](bool C) {
        Cancelled = C;
        if (!O.Json)
            Print(C ? QStringLiteral("*** Abgebrochen") : QStringLiteral("*** Ende"));
        QCoreApplication::quit();
    });
    WatchSignals(&Run, [&Run] {
        Run.Cancel();
        Write(stderr, Run.WaitingForUpdates()
                          ? QStringLiteral("kivsvn: Abbruch – die laufenden Aktualisierungen "
                                           "werden noch beendet (noch einmal: sofort).\n")
                          : QStringLiteral("kivsvn: Abbruch.\n"));
    });
    Run.Start();
    QCoreApplication::exec();
    std::fflush(stdout);
    return FailedCount > 0 || Cancelled ? ExitFailed : ExitFine;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kivSubversion"));
    InitRoamingMarker();
    const QStringList Args = App.arguments().mid(1);
    TOptions O;
    auto Value = [&](int& i, const QString& A, const QString& Name, QString& Out) {
        if (A.startsWith(Name + u'=')) {
            Out = A.mid(Name.size() + 1);
            return true;
        }
        if (A == Name && i + 1 < Args.size()) {
            Out = Args.at(++i);
            return true;
        }
        return false;
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
            else if (O.Path.isEmpty())
                O.Path = A;
            else
                return Usage(QStringLiteral("Nur ein Eintrag der Projektliste ist erlaubt."));
            continue;
        }
        if (A == u"-h" || A == u"--help") {
            Write(stdout, QString::fromUtf8(HelpText));
            return ExitFine;
        }
        if (A == u"-V" || A == u"--version") {
            Print(QStringLiteral("kivsvn %1").arg(
                GetFileVersionString(QCoreApplication::applicationFilePath())));
            return ExitFine;
        }
        if (A == u"--short") {
            O.Short = true;
        } else if (A == u"-u" || A == u"--show-updates") {
            O.ShowUpdates = true;
        } else if (Value(i, A, QStringLiteral("--jobs"), V)) {
            bool Ok = false;
            O.Jobs = V.toInt(&Ok);
            if (!Ok || O.Jobs < 1)
                return Usage(QStringLiteral("--jobs erwartet eine Zahl ab 1."));
        } else if (Value(i, A, QStringLiteral("--timeout"), V)) {
            bool Ok = false;
            O.Timeout = V.toInt(&Ok);
            if (!Ok || O.Timeout < 1)
                return Usage(QStringLiteral("--timeout erwartet eine Zahl von Sekunden ab 1."));
        } else if (Value(i, A, QStringLiteral("--format"), V)) {
            if (V != u"text" && V != u"json")
                return Usage(QStringLiteral("--format erwartet text oder json."));
            O.Json = V == u"json";
        } else if (Value(i, A, QStringLiteral("--registry"), V)) {
            O.Registry = V;
        } else if (A.startsWith(u'-') && A != u"-") {
            return Usage(QStringLiteral("Unbekannte Option: %1").arg(A));
        } else if (O.Task.isEmpty()) {
            O.Task = A;
        } else if (O.Path.isEmpty()) {
            O.Path = A;
        } else {
            return Usage(QStringLiteral("Nur ein Eintrag der Projektliste ist erlaubt."));
        }
    }
    if (O.Task.isEmpty())
        return Usage(QStringLiteral("Keine Aufgabe angegeben."));
    if (O.Task != u"status" && O.Task != u"update" && O.Task != u"info" && O.Task != u"search")
        return Usage(QStringLiteral("Unbekannte Aufgabe: %1").arg(O.Task));
    if (O.ShowUpdates && O.Task != u"status")
        return Usage(QStringLiteral("-u gilt nur für status."));
    if (O.Registry.isEmpty())
        O.Registry = RegistryFilePath();
    return O.Task == u"search" ? Search(O) : RunTask(O);
}
