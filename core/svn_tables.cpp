#include "svn_tables.h"

#include <QLocale>

#include <algorithm>

namespace {

using L = TStateLook;
using G = TTallyGroup;

// Weights: what the copy is now outweighs what the task did. A lock must be cleaned up before
// anything else can run, an incomplete copy updated again before its conflicts can be seen
// whole; a failed client says less than either.
const QList<TStateRow> States = {
    {TSvnState::Clean, "clean", "keine Änderungen", L::Good, false, false, 10, G::None},
    {TSvnState::Changes, "changes", "lokale Änderungen", L::Changed, true, false, 50, G::Changed},
    {TSvnState::OutOfDate, "outdated", "veraltet", L::Behind, true, false, 60, G::Behind},
    {TSvnState::Conflict, "conflict", "Konflikt", L::Conflict, true, true, 96, G::Conflict},
    {TSvnState::Updated, "updated", "aktualisiert", L::Changed, false, false, 30, G::Updated},
    {TSvnState::Current, "current", "bereits aktuell", L::Good, false, false, 20, G::None},
    {TSvnState::Info, "info", "Info gelesen", L::Good, false, false, 10, G::None},
    {TSvnState::NotWorkingCopy, "not-a-working-copy", "kein Arbeitsverzeichnis", L::Error, true,
     true, 92, G::Failed},
    {TSvnState::Error, "error", "Fehler", L::Error, true, true, 90, G::Failed},
    {TSvnState::Missing, "missing", "Verzeichnis fehlt", L::Missing, true, true, 92, G::Missing},
    {TSvnState::NoAccess, "no-access", "kein Zugriff", L::Error, true, true, 92, G::Failed},
    {TSvnState::TooLong, "path-too-long", "Pfad zu lang", L::Error, true, true, 92, G::Failed},
    {TSvnState::NoClient, "no-client", "svn nicht gestartet", L::Error, true, true, 90, G::Failed},
    {TSvnState::NoTerminal, "no-terminal", "kein Terminal", L::Error, true, true, 90, G::Failed},
    {TSvnState::TimedOut, "timeout", "Zeitlimit überschritten", L::Error, true, true, 90,
     G::Failed},
    {TSvnState::Cancelled, "cancelled", "abgebrochen", L::Error, true, true, 80, G::Cancelled},
    {TSvnState::NotRun, "not-run", "nicht ausgeführt", L::Neutral, false, true, 0, G::NotRun},
    {TSvnState::Locked, "locked", "gesperrt – Aufräumen nötig", L::Error, true, true, 100,
     G::Locked},
    {TSvnState::Incomplete, "incomplete", "unvollständig – erneut aktualisieren", L::Error, true,
     true, 98, G::Incomplete},
    {TSvnState::ReposLocked, "repos-locked", "im Repository gesperrt", L::Good, false, false, 40,
     G::None},
    {TSvnState::CheckedOut, "checked-out", "ausgecheckt", L::Changed, false, false, 30,
     G::CheckedOut},
    {TSvnState::OtherUrl, "other-url", "Arbeitskopie einer anderen URL", L::Error, true, true, 92,
     G::Failed},
    // What kept the server monitor from knowing. An unreachable server (a laptop on the road)
    // says nothing about the copy: it weighs less than anything the copy itself shows.
    {TSvnState::NoServer, "no-server", "Server nicht erreichbar", L::Neutral, false, false, 15,
     G::None},
    {TSvnState::LoginNeeded, "login-needed", "Anmeldung nötig", L::Error, true, true, 70,
     G::Failed},
};

// A client given many folders pays their round trips to the server one after another: server
// work takes few folders per client and many clients. Local work pays for process starts:
// many folders per client; the cheapest gives each client one batch.
const QList<TTaskRow> Tasks = {
    {TSvnTask::Status, "status", {QStringLiteral("status")}, "Testen auf Änderungen", true, false,
     24, false, false, TTaskPlace::Folder, true, nullptr, nullptr, nullptr, true, true},
    {TSvnTask::StatusRemote, "status-u", {QStringLiteral("status"), QStringLiteral("-u")},
     "Testen auf Änderungen", true, true, 4, false, false, TTaskPlace::Folder, true, nullptr,
     nullptr, nullptr, true, false, true},
    {TSvnTask::Update, "update", {QStringLiteral("update")}, "Aktualisieren", true, true, 4, false,
     true, TTaskPlace::Folder, false,
     "Abgebrochen, während svn diese Arbeitskopie aktualisierte.", "Die Aktualisierung",
     "Die Arbeitskopie ist unvollständig, weil eine Aktualisierung unterbrochen wurde. Erneut "
     "»Aktualisieren« wählen."},
    {TSvnTask::Info, "info", {QStringLiteral("info")}, "Info", true, false, 24, true, false},
    // A client checks out one URL into one folder of any name: never batched.
    {TSvnTask::Checkout, "checkout", {QStringLiteral("checkout")},
     "Fehlende Arbeitskopien auschecken", false, true, 1, false, true, TTaskPlace::IntoFolder,
     false, "Abgebrochen, während svn diese Arbeitskopie auscheckte.", "Das Auschecken",
     "Die Arbeitskopie ist unvollständig, weil das Auschecken unterbrochen wurde. Erneut "
     "»Fehlende Arbeitskopien auschecken« wählen (oder »kivsvn checkout«): svn setzt es dort "
     "fort, wo es aufgehört hat."},
    // Whether the server knows a URL, before it is entered.
    {TSvnTask::UrlInfo, "info-url", {QStringLiteral("info")}, "URLs prüfen", false, true, 1,
     false, false, TTaskPlace::Url},
    // The changes window's tasks, each on one copy and on the items chosen in it. A commit
    // never asks for its message: the run gives it (and --force-log, since a message may well
    // be a file's name).
    {TSvnTask::Commit, "commit", {QStringLiteral("commit"), QStringLiteral("--force-log")},
     "Übertragen", false, true, 1, false, true, TTaskPlace::Folder, false,
     "Abgebrochen, während svn die Änderungen übertrug.", "Die Übertragung"},
    {TSvnTask::Revert, "revert", {QStringLiteral("revert")}, "Rückgängig machen", false, false, 1,
     false, true, TTaskPlace::Folder, false,
     "Abgebrochen, während svn Änderungen rückgängig machte.", "Das Rückgängigmachen"},
    {TSvnTask::Resolve, "resolve", {QStringLiteral("resolve")}, "Konflikt lösen", false, false, 1,
     false, true, TTaskPlace::Folder, false, "Abgebrochen, während svn einen Konflikt löste.",
     "Das Lösen des Konflikts"},
    {TSvnTask::Add, "add", {QStringLiteral("add")}, "Hinzufügen", false, false, 1, false, true,
     TTaskPlace::Folder, false, "Abgebrochen, während svn Dateien hinzufügte.", "Das Hinzufügen"},
    // The built-in diff always: a diff-cmd of the user's configuration could open a window.
    {TSvnTask::Diff, "diff", {QStringLiteral("diff"), QStringLiteral("--internal-diff")},
     "Unterschiede", false, false, 1, false, false, TTaskPlace::Folder, false, nullptr, nullptr,
     nullptr, false},
    {TSvnTask::Log, "log", {QStringLiteral("log"), QStringLiteral("--xml")}, "Log", false, true, 1,
     false, false},
};

// Plural and singular of each count of the summary, in the order they are named.
struct TTallyText {
    TTallyGroup Group;
    const char* One;
    const char* Many;
};
const TTallyText TallyTexts[] = {
    {G::Changed, "1 mit Änderungen", "%1 mit Änderungen"},
    {G::Behind, "1 veraltet", "%1 veraltet"},
    {G::Updated, "1 aktualisiert", "%1 aktualisiert"},
    {G::CheckedOut, "1 ausgecheckt", "%1 ausgecheckt"},
    {G::Conflict, "1 mit Konflikt", "%1 mit Konflikten"},
    {G::Locked, "1 gesperrt (Aufräumen nötig)", "%1 gesperrt (Aufräumen nötig)"},
    {G::Incomplete, "1 unvollständig", "%1 unvollständig"},
    {G::Missing, "1 Verzeichnis fehlt", "%1 Verzeichnisse fehlen"},
    {G::Failed, "1 Fehler", "%1 Fehler"},
    {G::Cancelled, "1 unterbrochen", "%1 unterbrochen"},
    {G::NotRun, "1 nicht ausgeführt", "%1 nicht ausgeführt"},
};

} // namespace

const QList<TStateRow>& StateRows() {
    return States;
}

const TStateRow& StateRow(TSvnState State) {
    return States.at(int(State));
}

bool StateFromKey(const QString& Key, TSvnState& State) {
    for (const TStateRow& R : States)
        if (Key == QLatin1String(R.Key)) {
            State = R.State;
            return true;
        }
    return false;
}

TSvnState Heavier(TSvnState A, TSvnState B) {
    return StateRow(B).Weight > StateRow(A).Weight ? B : A;
}

const QList<TTaskRow>& TaskRows() {
    return Tasks;
}

const TTaskRow& TaskRow(TSvnTask Task) {
    return Tasks.at(int(Task));
}

int BatchSizeFor(const TTaskRow& Row, int Units, int Clients) {
    Clients = std::max(1, Clients);
    const int PerClient = (Units + Clients - 1) / Clients;
    if (Row.Server) // two batches per client, so that the last ones to finish are small
        return std::clamp((Units + 2 * Clients - 1) / (2 * Clients), 1, Row.BatchSize);
    if (Row.Spread)
        return std::max(Row.BatchSize, PerClient);
    return Row.BatchSize;
}

bool TaskFromKey(const QString& Key, TSvnTask& Task) {
    for (const TTaskRow& R : Tasks)
        if (Key == QLatin1String(R.Key)) {
            Task = R.Task;
            return true;
        }
    return false;
}

void TRunTally::Add(TSvnState State, bool HasChanges, bool IsBehind, bool RevisionChanged) {
    ++Projects;
    const TStateRow& Row = StateRow(State);
    bool In[int(G::NotRun) + 1] = {};
    In[int(Row.Tally)] = true;
    // A copy in trouble counts once, as its trouble; one that is fine may be several things
    // at once: changed, behind and updated.
    if (!Row.Failure) {
        In[int(G::Changed)] = In[int(G::Changed)] || HasChanges;
        In[int(G::Behind)] = In[int(G::Behind)] || IsBehind;
        In[int(G::Updated)] = In[int(G::Updated)] || RevisionChanged;
    }
    for (int g = 1; g <= int(G::NotRun); ++g)
        Counts[g] += In[g];
}

QString TallyText(const TRunTally& T) {
    const QLocale German(QLocale::German);
    QStringList Parts;
    for (const TTallyText& Text : TallyTexts) {
        const int N = T.Count(Text.Group);
        if (N == 1)
            Parts << QString::fromUtf8(Text.One);
        else if (N > 1)
            Parts << QString::fromUtf8(Text.Many).arg(German.toString(N));
    }
    const QString Head = T.Projects == 1
                             ? QStringLiteral("1 Projekt")
                             : QStringLiteral("%1 Projekte").arg(German.toString(T.Projects));
    return Head + QStringLiteral(": ") +
           (Parts.isEmpty() ? QStringLiteral("alles in Ordnung") : Parts.join(QStringLiteral(", ")));
}
