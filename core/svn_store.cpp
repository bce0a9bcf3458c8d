#include "svn_store.h"

#include "kiv_FileText.h"
#include "svn_engine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString FormatName = QStringLiteral("kivSubversion-Zustände");
constexpr int FormatVersion = 1;
// A cache file beyond this is no file this program wrote.
constexpr qint64 MaxFileSize = 256ll * 1024 * 1024;

QJsonObject ServerJson(const TServerNews& N) {
    QJsonObject J{{QStringLiteral("time"), N.Time.toUTC().toString(Qt::ISODateWithMs)},
                  {QStringLiteral("state"), StateKey(N.State)}};
    if (N.Head >= 0)
        J.insert(QStringLiteral("head"), N.Head);
    if (N.Base >= 0)
        J.insert(QStringLiteral("base"), N.Base);
    if (N.Told >= 0)
        J.insert(QStringLiteral("told"), N.Told);
    if (N.NewRevisions >= 0)
        J.insert(QStringLiteral("newRevisions"), N.NewRevisions);
    if (N.More)
        J.insert(QStringLiteral("more"), true);
    if (!N.Log.isEmpty()) {
        QJsonArray Log;
        for (const TLogEntry& E : N.Log) {
            QJsonObject L{{QStringLiteral("revision"), E.Revision},
                          {QStringLiteral("author"), E.Author},
                          {QStringLiteral("message"), E.Message}};
            if (E.Date.isValid())
                L.insert(QStringLiteral("date"), E.Date.toUTC().toString(Qt::ISODate));
            Log.append(L);
        }
        J.insert(QStringLiteral("log"), Log);
    }
    if (!N.Notes.isEmpty())
        J.insert(QStringLiteral("notes"), QJsonArray::fromStringList(N.Notes));
    return J;
}

QJsonObject ToJson(const TStoredState& S) {
    QJsonObject J{{QStringLiteral("state"), StateKey(S.State)},
                  {QStringLiteral("task"), QString::fromLatin1(TaskRow(S.Task).Key)},
                  {QStringLiteral("time"), S.Time.toUTC().toString(Qt::ISODateWithMs)},
                  {QStringLiteral("exitCode"), S.ExitCode}};
    if (S.Revision >= 0)
        J.insert(QStringLiteral("revision"), S.Revision);
    if (S.ServerRevision >= 0)
        J.insert(QStringLiteral("serverRevision"), S.ServerRevision);
    if (!S.Url.isEmpty())
        J.insert(QStringLiteral("url"), S.Url);
    if (!S.Lines.isEmpty())
        J.insert(QStringLiteral("lines"), QJsonArray::fromStringList(S.Lines));
    if (S.Omitted > 0)
        J.insert(QStringLiteral("omitted"), S.Omitted);
    if (!S.Notes.isEmpty())
        J.insert(QStringLiteral("notes"), QJsonArray::fromStringList(S.Notes));
    if (S.Files >= 0)
        J.insert(QStringLiteral("files"), S.Files);
    if (S.HasChanges)
        J.insert(QStringLiteral("changes"), true);
    if (S.IsBehind)
        J.insert(QStringLiteral("behind"), true);
    if (S.RevisionChanged)
        J.insert(QStringLiteral("revisionChanged"), true);
    if (S.Switched)
        J.insert(QStringLiteral("switched"), true);
    if (S.Server.Known())
        J.insert(QStringLiteral("server"), ServerJson(S.Server));
    return J;
}

QStringList Strings(const QJsonValue& V) {
    QStringList L;
    for (const QJsonValue& E : V.toArray())
        L << E.toString();
    return L;
}

// An entry's server part; false (and nothing known) for one this program did not write.
bool ServerFromJson(const QJsonObject& J, TServerNews& N) {
    if (!StateFromKey(J.value(QStringLiteral("state")).toString(), N.State))
        return false;
    N.Time = QDateTime::fromString(J.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    if (!N.Time.isValid())
        return false;
    N.Head = qint64(J.value(QStringLiteral("head")).toDouble(-1));
    N.Base = qint64(J.value(QStringLiteral("base")).toDouble(-1));
    N.Told = qint64(J.value(QStringLiteral("told")).toDouble(-1));
    N.NewRevisions = J.value(QStringLiteral("newRevisions")).toInt(-1);
    N.More = J.value(QStringLiteral("more")).toBool();
    for (const QJsonValue& V : J.value(QStringLiteral("log")).toArray()) {
        const QJsonObject L = V.toObject();
        TLogEntry E;
        E.Revision = qint64(L.value(QStringLiteral("revision")).toDouble(-1));
        E.Author = L.value(QStringLiteral("author")).toString();
        E.Date = QDateTime::fromString(L.value(QStringLiteral("date")).toString(), Qt::ISODate);
        E.Message = L.value(QStringLiteral("message")).toString();
        N.Log << E;
    }
    N.Notes = Strings(J.value(QStringLiteral("notes")));
    return true;
}

// False for an entry this program did not write (an unknown state or task, no time).
bool FromJson(const QJsonObject& J, TStoredState& S) {
    if (!StateFromKey(J.value(QStringLiteral("state")).toString(), S.State) ||
        !TaskFromKey(J.value(QStringLiteral("task")).toString(), S.Task))
        return false;
    S.Time = QDateTime::fromString(J.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    if (!S.Time.isValid())
        return false;
    S.Revision = qint64(J.value(QStringLiteral("revision")).toDouble(-1));
    S.ServerRevision = qint64(J.value(QStringLiteral("serverRevision")).toDouble(-1));
    S.Url = J.value(QStringLiteral("url")).toString();
    S.Lines = Strings(J.value(QStringLiteral("lines")));
    S.Omitted = qint64(J.value(QStringLiteral("omitted")).toDouble(0));
    S.Notes = Strings(J.value(QStringLiteral("notes")));
    S.ExitCode = J.value(QStringLiteral("exitCode")).toInt(0);
    S.Files = J.value(QStringLiteral("files")).toInt(-1);
    S.HasChanges = J.value(QStringLiteral("changes")).toBool();
    S.IsBehind = J.value(QStringLiteral("behind")).toBool();
    S.RevisionChanged = J.value(QStringLiteral("revisionChanged")).toBool();
    S.Switched = J.value(QStringLiteral("switched")).toBool();
    // A server part a newer program wrote is passed over, not the entry.
    if (J.value(QStringLiteral("server")).isObject() &&
        !ServerFromJson(J.value(QStringLiteral("server")).toObject(), S.Server))
        S.Server = TServerNews();
    return true;
}

enum class TRead { Missing, Fine, Damaged, Unreadable };

TRead ReadStoreFile(const QString& FileName, QHash<QString, TStoredState>& States,
                    QString* Reason) {
    // Only a regular file is read, and never blocking: a FIFO put there must not hang a start.
    const QByteArray Name = QFile::encodeName(FileName);
    const int Fd = open(Name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (Fd < 0) {
        if (errno == ENOENT)
            return TRead::Missing;
        if (errno == ELOOP) {
            *Reason = QStringLiteral("die Datei ist eine symbolische Verknüpfung");
            return TRead::Damaged;
        }
        *Reason = SystemErrorText(errno);
        return TRead::Unreadable;
    }
    QFile F;
    struct stat St;
    if (fstat(Fd, &St) != 0 || !S_ISREG(St.st_mode) || St.st_size > MaxFileSize) {
        close(Fd);
        *Reason = QStringLiteral("keine gewöhnliche Datei dieses Programms");
        return TRead::Damaged;
    }
    if (!F.open(Fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *Reason = SystemErrorText(errno); // in German, not the toolkit's English
        close(Fd);
        return TRead::Unreadable;
    }
    const QByteArray Text = F.readAll();
    if (F.error() != QFileDevice::NoError) {
        *Reason = SystemErrorText(errno);
        return TRead::Unreadable;
    }
    if (!ParseStoreFileText(Text, States)) {
        *Reason = QStringLiteral("der Inhalt ist beschädigt oder stammt nicht von diesem "
                                 "Programm");
        return TRead::Damaged;
    }
    return TRead::Fine;
}

// Moves a damaged file aside under a name nobody has taken yet.
QString SetAside(const QString& FileName) {
    const QString Stem = FileName + QStringLiteral(".beschaedigt-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int N = 0; N < 1000; ++N) {
        const QString Target = N == 0 ? Stem : Stem + QStringLiteral("-%1").arg(N);
        // link() fails when the name exists: no other file is ever replaced.
        if (link(QFile::encodeName(FileName).constData(), QFile::encodeName(Target).constData()) ==
            0) {
            QFile::remove(FileName);
            return Target;
        }
        if (errno != EEXIST)
            break;
    }
    return QString();
}

} // namespace

QByteArray StoreFileText(const QHash<QString, TStoredState>& States) {
    QJsonObject Projects;
    for (auto It = States.constBegin(); It != States.constEnd(); ++It)
        Projects.insert(It.key(), ToJson(It.value()));
    const QJsonObject Root{{QStringLiteral("format"), FormatName},
                           {QStringLiteral("version"), FormatVersion},
                           {QStringLiteral("projects"), Projects}};
    return QJsonDocument(Root).toJson(QJsonDocument::Compact);
}

bool ParseStoreFileText(const QByteArray& Text, QHash<QString, TStoredState>& States) {
    QJsonParseError Error;
    const QJsonDocument Doc = QJsonDocument::fromJson(Text, &Error);
    if (Error.error != QJsonParseError::NoError || !Doc.isObject())
        return false;
    const QJsonObject Root = Doc.object();
    if (Root.value(QStringLiteral("format")).toString() != FormatName ||
        Root.value(QStringLiteral("version")).toInt() != FormatVersion ||
        !Root.value(QStringLiteral("projects")).isObject())
        return false;
    const QJsonObject Projects = Root.value(QStringLiteral("projects")).toObject();
    for (auto It = Projects.constBegin(); It != Projects.constEnd(); ++It) {
        TStoredState S;
        // A single entry a newer program wrote is passed over, not the whole file.
        if (!It.key().startsWith(u'/') || !FromJson(It.value().toObject(), S))
            continue;
        States.insert(It.key(), S);
    }
    return true;
}

TStateStore::TStateStore(QObject* Parent)
    : QObject(Parent), FSessionStart(QDateTime::currentDateTimeUtc()) {}

QString TStateStore::DefaultFileName() {
    QString Cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (Cache.isEmpty() || !QDir::isAbsolutePath(Cache))
        Cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (Cache.isEmpty())
        Cache = QDir::homePath() + QStringLiteral("/.cache");
    return Cache + QStringLiteral("/kivSubversion/zustaende.json");
}

const TStoredState* TStateStore::Find(const QString& Folder) const {
    const auto It = FStates.constFind(Folder);
    return It == FStates.constEnd() ? nullptr : &It.value();
}

TServerNews ServerNewsOf(const TSvnOutcome& O, const QDateTime& When, const TServerNews* Old) {
    TServerNews N;
    N.Time = When;
    N.Head = O.Verdict.ServerRevision;
    if (Old)
        N.Told = Old->Told;
    if (IsFailure(O.State) && O.State != TSvnState::Conflict) {
        const TSvnState Problem = ServerProblemOf(O.Lines);
        N.State = Problem != TSvnState::Clean ? Problem : O.State;
        for (const QString& L : O.Lines)
            if (L.startsWith(QLatin1String("svn: E")) && N.Notes.size() < 3)
                N.Notes << L;
        N.Notes << O.Notes;
        return N;
    }
    N.State = O.Verdict.IsBehind ? TSvnState::OutOfDate : TSvnState::Clean;
    if (N.State == TSvnState::Clean)
        N.Told = -1; // caught up: what comes next is news again
    // The log read for the same revisions still holds.
    if (Old && Old->Behind() && N.State == TSvnState::OutOfDate && Old->Head == N.Head) {
        N.Base = Old->Base;
        N.NewRevisions = Old->NewRevisions;
        N.More = Old->More;
        N.Log = Old->Log;
    }
    return N;
}

void TStateStore::Record(const QString& Folder, TSvnTask Task, const TSvnOutcome& O) {
    if (O.State == TSvnState::NotRun || Folder.isEmpty())
        return;
    const QDateTime Now = QDateTime::currentDateTimeUtc();
    const TSvnState Problem =
        TaskRow(Task).ServerView && IsFailure(O.State) && O.State != TSvnState::Conflict
            ? ServerProblemOf(O.Lines)
            : TSvnState::Clean;
    if (Problem != TSvnState::Clean) {
        // A server that did not answer says nothing about the copy but that: what the last
        // check found of the copy itself still holds.
        if (const TStoredState* Old = Find(Folder)) {
            TStoredState S = *Old;
            S.Server = ServerNewsOf(O, Now, Old->Server.Known() ? &Old->Server : nullptr);
            Put(Folder, S);
            return;
        }
    }
    TStoredState S;
    if (const TStoredState* Old = Find(Folder)) {
        // What a task does not learn stays as the last one found it.
        S.Revision = Old->Revision;
        S.Url = Old->Url;
        S.Server = Old->Server;
    }
    if (TaskRow(Task).Server) {
        if (TaskRow(Task).ServerView)
            S.Server = ServerNewsOf(O, Now, S.Server.Known() ? &S.Server : nullptr);
        else if (O.Verdict.Revision >= 0) // an update that reached a revision: nothing new left
            S.Server = TServerNews();
    }
    S.Generation = O.Generation;
    S.State = Problem != TSvnState::Clean ? Problem : O.State;
    S.Task = Task;
    S.Time = Now;
    if (O.Verdict.Revision >= 0)
        S.Revision = O.Verdict.Revision;
    S.ServerRevision = O.Verdict.ServerRevision;
    if (!O.Verdict.Url.isEmpty())
        S.Url = O.Verdict.Url;
    S.Lines = O.Lines.mid(0, KeptLines);
    S.Omitted = O.Omitted + qMax(0, int(O.Lines.size()) - KeptLines);
    S.Notes = O.Notes;
    S.ExitCode = O.ExitCode;
    S.Files = O.Verdict.Files;
    S.HasChanges = O.Verdict.HasChanges;
    S.IsBehind = O.Verdict.IsBehind;
    S.Switched = O.Verdict.Switched;
    S.RevisionChanged = O.RevisionChanged;
    Put(Folder, S);
}

void TStateStore::RecordServer(const QString& Folder, const TServerNews& News,
                               const TSvnOutcome* Outcome) {
    if (Folder.isEmpty())
        return;
    if (!Find(Folder)) {
        if (!Outcome || Outcome->State == TSvnState::NotRun)
            return;
        // A server that did not answer says nothing about the copy but that.
        TSvnOutcome O = *Outcome;
        if (ServerProblemOf(O.Lines) != TSvnState::Clean)
            O.State = News.State;
        Record(Folder, TSvnTask::StatusRemote, O);
    }
    TStoredState S = *Find(Folder);
    S.Server = News;
    Put(Folder, S);
}

void TStateStore::Put(const QString& Folder, const TStoredState& State) {
    FStates.insert(Folder, State);
    FDirty = true;
    emit Changed(Folder);
}

bool TStateStore::Merge(const QHash<QString, TStoredState>& Other) {
    // The copy's state and the server's news are merged apart: each the newer of the two.
    bool Any = false;
    for (auto It = Other.constBegin(); It != Other.constEnd(); ++It) {
        const auto Mine = FStates.find(It.key());
        if (Mine == FStates.end()) {
            FStates.insert(It.key(), It.value());
            Any = true;
            continue;
        }
        if (Mine->Time < It->Time) {
            const TServerNews Kept = Mine->Server;
            *Mine = It.value();
            Mine->Server = Kept;
            Any = true;
        }
        if (It->Server.Known() && (!Mine->Server.Known() || Mine->Server.Time < It->Server.Time)) {
            Mine->Server = It->Server;
            Any = true;
        }
    }
    return Any;
}

QString TStateStore::Load(const QString& FileName) {
    QHash<QString, TStoredState> Read;
    QString Reason;
    switch (ReadStoreFile(FileName, Read, &Reason)) {
    case TRead::Missing:
        return QString();
    case TRead::Unreadable:
        return QStringLiteral("Die gespeicherten Zustände in „%1“ konnten nicht gelesen werden "
                              "(%2); der Baum zeigt sie erst nach dem nächsten Lauf.")
            .arg(FileName, Reason);
    case TRead::Damaged: {
        const QString Aside = SetAside(FileName);
        return Aside.isEmpty()
                   ? QStringLiteral("Die gespeicherten Zustände in „%1“ sind unbrauchbar (%2) "
                                    "und werden beim nächsten Speichern ersetzt.")
                         .arg(FileName, Reason)
                   : QStringLiteral("Die gespeicherten Zustände in „%1“ waren unbrauchbar (%2); "
                                    "die Datei liegt jetzt in „%3“.")
                         .arg(FileName, Reason, Aside);
    }
    case TRead::Fine:
        break;
    }
    if (Merge(Read))
        emit Reloaded();
    return QString();
}

bool TStateStore::Save(const QString& FileName, QString* Error) {
    auto Fail = [&](const QString& Why) {
        if (Error)
            *Error = QStringLiteral("Die Zustände der Projekte konnten nicht in „%1“ gespeichert "
                                    "werden: %2")
                         .arg(FileName, Why);
        return false;
    };
    const QString Folder = QFileInfo(FileName).absolutePath();
    if (!QDir().mkpath(Folder))
        return Fail(QStringLiteral("der Ordner „%1“ kann nicht angelegt werden").arg(Folder));
    // The window and kivsvn may save at the same moment: one after the other, each merging
    // what the other wrote.
    QLockFile Lock(FileName + QStringLiteral(".lock"));
    Lock.setStaleLockTime(30000);
    if (!Lock.tryLock(10000))
        return Fail(QStringLiteral("ein anderes Programm hält die Datei gesperrt"));
    QHash<QString, TStoredState> OnDisk;
    QString Reason;
    const TRead R = ReadStoreFile(FileName, OnDisk, &Reason);
    if (R == TRead::Damaged)
        SetAside(FileName);
    if (R == TRead::Fine && Merge(OnDisk))
        emit Reloaded();
    try {
        WriteFileAtomically(FileName, StoreFileText(FStates));
    } catch (const std::exception& E) {
        return Fail(ExceptionText(E));
    }
    FDirty = false;
    return true;
}
