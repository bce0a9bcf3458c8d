#include "kiv_FileText.h"

#include "kiv_XmlObjects.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>

QByteArray Windows1252FileText(const QStringList& Lines) {
    qsizetype Size = 0;
    for (const QString& L : Lines)
        Size += L.size() + 2;
    QByteArray Data;
    Data.reserve(Size);
    for (const QString& L : Lines) {
        Data += EncodeWindows1252(L);
        Data += "\r\n";
    }
    return Data;
}

QString SystemErrorText(int Code) {
    switch (Code) {
    case 0:
        return QStringLiteral("Unbekannter Fehler");
    case ENOSPC:
        return QStringLiteral("Auf dem Datenträger ist kein Platz mehr frei");
    case EDQUOT:
        return QStringLiteral("Das Speicherkontingent ist erschöpft");
    case EFBIG:
        return QStringLiteral("Die Datei ist zu groß");
    case EACCES:
    case EPERM:
        return QStringLiteral("Zugriff verweigert");
    case EROFS:
        return QStringLiteral("Das Dateisystem ist schreibgeschützt");
    case ENOENT:
        return QStringLiteral("Datei oder Verzeichnis nicht gefunden");
    case ENOTDIR:
        return QStringLiteral("Ein Teil des Pfades ist kein Verzeichnis");
    case EISDIR:
        return QStringLiteral("Der Pfad ist ein Verzeichnis");
    case ENAMETOOLONG:
        return QStringLiteral("Der Pfad ist zu lang");
    case EIO:
        return QStringLiteral("Ein-/Ausgabefehler des Datenträgers");
    case ELOOP:
        return QStringLiteral("Zu viele symbolische Verknüpfungen (sie führen womöglich im Kreis)");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("Zu viele offene Dateien");
    case ENOMEM:
        return QStringLiteral("Nicht genügend Speicher");
    case ETXTBSY:
    case EBUSY:
        return QStringLiteral("Die Datei ist in Benutzung");
    case EEXIST:
        return QStringLiteral("Die Datei existiert bereits");
    case ENOTEMPTY:
        return QStringLiteral("Das Verzeichnis ist nicht leer");
    case EXDEV:
        return QStringLiteral("Das geht nicht über die Grenze eines Dateisystems hinweg");
    case EAGAIN:
        return QStringLiteral("Die Ressource ist vorübergehend nicht verfügbar");
    case EINTR:
        return QStringLiteral("Der Aufruf wurde unterbrochen");
    case EINVAL:
        return QStringLiteral("Ungültiges Argument");
    case ENXIO:
    case ENODEV:
        return QStringLiteral("Kein solches Gerät");
    case ESPIPE:
        return QStringLiteral("Die Datei lässt sich nicht positionieren (eine Pipe)");
    case EPIPE:
        return QStringLiteral("Die Gegenseite der Pipe ist geschlossen");
    case ESTALE:
        return QStringLiteral("Die Datei auf dem Netzlaufwerk ist nicht mehr gültig");
    case ENOLCK:
        return QStringLiteral("Keine Sperren verfügbar");
    case EOPNOTSUPP:
        return QStringLiteral("Der Vorgang wird nicht unterstützt");
    case ENOSYS:
        return QStringLiteral("Die Funktion gibt es auf diesem System nicht");
    case EBADF:
        return QStringLiteral("Ungültiger Dateideskriptor");
    case EMLINK:
        return QStringLiteral("Zu viele Verknüpfungen");
    case EOVERFLOW:
    case ERANGE:
        return QStringLiteral("Der Wert ist zu groß");
    case ENOEXEC:
        return QStringLiteral("Die Datei ist kein ausführbares Programm");
    case E2BIG:
        return QStringLiteral("Die Argumentliste ist zu lang");
    case ECHILD:
        return QStringLiteral("Kein solcher Kindprozess");
    case ESRCH:
        return QStringLiteral("Kein solcher Prozess");
    case ETIMEDOUT:
        return QStringLiteral("Zeitüberschreitung");
    case ECONNREFUSED:
        return QStringLiteral("Die Verbindung wurde abgelehnt");
    case ECONNRESET:
        return QStringLiteral("Die Verbindung wurde von der Gegenseite zurückgesetzt");
    case ENETUNREACH:
    case EHOSTUNREACH:
        return QStringLiteral("Das Netz oder der Rechner ist nicht erreichbar");
    case ENOBUFS:
        return QStringLiteral("Kein Pufferspeicher mehr frei");
    case EDEADLK:
        return QStringLiteral("Eine Verklemmung wurde vermieden");
    default:
        break;
    }
    // A rare one: German first, the system's own words behind it.
    char Buffer[256];
    const char* Text = strerror_r(Code, Buffer, sizeof Buffer);
    return QStringLiteral("Systemfehler Nr. %1 (%2)").arg(Code).arg(QString::fromLocal8Bit(Text));
}

QString ExceptionText(const std::exception& E) {
    if (dynamic_cast<const EkivError*>(&E))
        return QString::fromUtf8(E.what());
    if (dynamic_cast<const std::bad_alloc*>(&E))
        return QStringLiteral("Nicht genügend Arbeitsspeicher für diesen Vorgang.");
    if (const auto* S = dynamic_cast<const std::system_error*>(&E)) {
        if (S->code().category() == std::generic_category() ||
            S->code().category() == std::system_category())
            return SystemErrorText(S->code().value()) + u'.';
    }
    if (dynamic_cast<const std::length_error*>(&E))
        return QStringLiteral("Die Daten sind zu groß für den Arbeitsspeicher.");
    return QStringLiteral("Interner Fehler (%1).").arg(QString::fromLocal8Bit(E.what()));
}

namespace {

[[noreturn]] void Fail(const QString& FileName, const QString& Reason) {
    throw EFileError(QStringLiteral("Die Datei %1 kann nicht gespeichert werden: %2. Die "
                                    "bisherige Datei bleibt unverändert.")
                         .arg(FileName, Reason));
}

[[noreturn]] void Fail(const QString& FileName, int Code) {
    Fail(FileName, SystemErrorText(Code));
}

// The target of one link, absolute (a relative target counts from the link's folder).
QString ReadLink(const QString& Link) {
    const QByteArray P = QFile::encodeName(Link);
    QByteArray Buffer(4096, Qt::Uninitialized);
    const ssize_t N = readlink(P.constData(), Buffer.data(), size_t(Buffer.size()));
    if (N < 0)
        return QString();
    const QString Target = QFile::decodeName(Buffer.left(N));
    if (Target.startsWith(u'/'))
        return Target;
    return QFileInfo(Link).absolutePath() + u'/' + Target;
}

// The most links a chain may have, as the system counts them.
constexpr int MaxLinkLevels = 40;

// Where a chain of links at FileName ends: FileName itself when it is no link (or nothing is
// there). Code is ENOENT for a link that leads to nothing (End is then the missing name) and
// ELOOP for a chain that does not end.
QString LinkChainEnd(const QString& FileName, int& Code) {
    Code = 0;
    QString Current = FileName;
    for (int Level = 0; Level <= MaxLinkLevels; ++Level) {
        struct stat S;
        if (lstat(QFile::encodeName(Current).constData(), &S) != 0) {
            Code = Level > 0 && errno == ENOENT ? ENOENT : 0;
            return Current;
        }
        if (!S_ISLNK(S.st_mode))
            return Current;
        const QString Next = ReadLink(Current);
        if (Next.isEmpty()) {
            Code = errno ? errno : EINVAL;
            return Current;
        }
        Current = Next;
    }
    Code = ELOOP;
    return Current;
}

// What a link chain's trouble is, as FileTypeProblem says it.
QString LinkProblem(int Code, const QString& End) {
    if (Code == ELOOP)
        return QStringLiteral("ihre symbolischen Verknüpfungen führen im Kreis");
    if (Code == ENOENT)
        return QStringLiteral("sie ist eine symbolische Verknüpfung auf »%1«, das es nicht gibt")
            .arg(End);
    return SystemErrorText(Code);
}

// What a file of this kind is, when it is none a reader or writer takes; empty for a regular
// file.
QString KindProblem(mode_t Mode) {
    if (S_ISREG(Mode))
        return QString();
    if (S_ISDIR(Mode))
        return QStringLiteral("sie ist ein Ordner, keine Datei");
    if (S_ISFIFO(Mode))
        return QStringLiteral("sie ist eine benannte Pipe (FIFO), keine gewöhnliche Datei");
    if (S_ISCHR(Mode) || S_ISBLK(Mode))
        return QStringLiteral("sie ist ein Gerät, keine gewöhnliche Datei");
    if (S_ISSOCK(Mode))
        return QStringLiteral("sie ist ein Socket, keine gewöhnliche Datei");
    return QStringLiteral("sie ist keine gewöhnliche Datei");
}

QString SizeProblem(qint64 Size, qint64 MaxBytes) {
    constexpr qint64 MB = 1024 * 1024;
    return QStringLiteral("sie ist %1 MB groß; gelesen werden höchstens %2 MB")
        .arg((Size + MB - 1) / MB)
        .arg(MaxBytes / MB);
}

// The file a save replaces, and what forbids replacing it (empty: nothing). ThroughLinks
// follows a chain of links to its end; the other modes take the name itself. Old gets the data
// of a regular file there; Existed tells whether there is one whose mode is to be kept.
QString ReplacedFile(const QString& FileName, TWriteMode Mode, QString& Target, struct stat& Old,
                     bool& Existed) {
    Existed = false;
    Target = FileName;
    if (Mode == TWriteMode::ThroughLinks) {
        int Code = 0;
        Target = LinkChainEnd(FileName, Code);
        if (Code != 0)
            return LinkProblem(Code, Target);
    }
    const QByteArray T = QFile::encodeName(Target);
    if (lstat(T.constData(), &Old) != 0)
        return errno == ENOENT ? QString() : SystemErrorText(errno);
    if (Mode == TWriteMode::NewName)
        return QStringLiteral(
            "inzwischen gibt es eine Datei dieses Namens; sie wird nicht ersetzt");
    if (S_ISLNK(Old.st_mode))
        return QString(); // ReplaceName: the link itself goes, its target stays untouched
    if (S_ISDIR(Old.st_mode))
        return SystemErrorText(EISDIR);
    if (const QString Kind = KindProblem(Old.st_mode); !Kind.isEmpty())
        return Kind;
    // A file made read-only is not replaced, although the folder would let it be.
    if (access(T.constData(), W_OK) != 0)
        return SystemErrorText(errno);
    Existed = true;
    return QString();
}

// Moves Temp to Target without replacing anything there; false with errno when that cannot be
// done (EEXIST: something is there now).
bool RenameNoReplace(const QByteArray& Temp, const QByteArray& Target) {
    if (renameat2(AT_FDCWD, Temp.constData(), AT_FDCWD, Target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without that rename: a hard link is exclusive as well.
    if (link(Temp.constData(), Target.constData()) == 0) {
        unlink(Temp.constData());
        return true;
    }
    return false;
}

void SyncFolder(const QString& Dir) {
    const QByteArray DirBytes = QFile::encodeName(Dir);
    const int DirFd = open(DirBytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DirFd >= 0) {
        fsync(DirFd);
        close(DirFd);
    }
}

// Writes all of Bytes to Fd and flushes them to the disk; 0 or the error number.
int WriteAllAndSync(int Fd, const QByteArray& Bytes) {
    const char* P = Bytes.constData();
    qsizetype Left = Bytes.size();
    while (Left > 0) {
        const ssize_t N = write(Fd, P, size_t(std::min<qsizetype>(Left, 1 << 20)));
        if (N < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (N == 0)
            return EIO;
        P += N;
        Left -= N;
    }
    // A file system may report a full disk only when the data reaches it.
    return fsync(Fd) != 0 ? errno : 0;
}

} // namespace

void WriteFileAtomically(const QString& FileName, const QByteArray& Bytes, TWriteMode Mode) {
    QString Target;
    struct stat Old;
    bool Existed = false;
    if (const QString Refused = ReplacedFile(FileName, Mode, Target, Old, Existed);
        !Refused.isEmpty())
        Fail(FileName, Refused);
    const QByteArray TargetBytes = QFile::encodeName(Target);

    const QFileInfo TargetInfo(Target);
    const QString Dir = TargetInfo.absolutePath();
    int Fd = -1;
    QByteArray Temp;
    for (int Try = 0; Try < 100 && Fd < 0; ++Try) {
        Temp = QFile::encodeName(QStringLiteral("%1/.%2.%3~")
                                     .arg(Dir, TargetInfo.fileName())
                                     .arg(QRandomGenerator::global()->generate(), 8, 16,
                                          QLatin1Char('0')));
        // The umask applies as to any new file; an existing file's mode is copied below.
        Fd = open(Temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (Fd < 0 && errno != EEXIST)
            Fail(FileName, errno);
    }
    if (Fd < 0)
        Fail(FileName, EEXIST);

    auto Abandon = [&](int Code) {
        if (Fd >= 0)
            close(Fd);
        unlink(Temp.constData());
        Fail(FileName, Code);
    };
    if (Existed) {
        if (fchmod(Fd, Old.st_mode & 07777) != 0)
            Abandon(errno);
        // Keeping the owner works only for root; a failure changes nothing for the user.
        [[maybe_unused]] const int Ignored = fchown(Fd, Old.st_uid, Old.st_gid);
    }
    if (const int Code = WriteAllAndSync(Fd, Bytes))
        Abandon(Code);
    const int Closed = close(Fd);
    Fd = -1;
    if (Closed != 0)
        Abandon(errno);
    if (Mode == TWriteMode::NewName) {
        if (!RenameNoReplace(Temp, TargetBytes)) {
            const int Code = errno;
            unlink(Temp.constData());
            if (Code == EEXIST)
                Fail(FileName, QStringLiteral("inzwischen gibt es eine Datei dieses Namens; sie "
                                              "wird nicht ersetzt"));
            Fail(FileName, Code);
        }
    } else if (rename(Temp.constData(), TargetBytes.constData()) != 0) {
        Abandon(errno);
    }
    // The rename itself reaches the disk with the folder.
    SyncFolder(Dir);
}

QString WriteNewFile(const QString& Base, const QByteArray& Bytes) {
    auto FailNew = [](const QString& Name, int Code) {
        throw EFileError(QStringLiteral("Die Datei %1 kann nicht angelegt werden: %2.")
                             .arg(Name, SystemErrorText(Code)));
    };
    for (int N = 1; N <= 10000; ++N) {
        const QString Name = N == 1 ? Base : QStringLiteral("%1-%2").arg(Base).arg(N);
        const QByteArray Path = QFile::encodeName(Name);
        const int Fd = open(Path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (Fd < 0) {
            if (errno == EEXIST)
                continue;
            FailNew(Name, errno);
        }
        int Code = WriteAllAndSync(Fd, Bytes);
        if (close(Fd) != 0 && Code == 0)
            Code = errno;
        if (Code != 0) {
            unlink(Path.constData());
            FailNew(Name, Code);
        }
        SyncFolder(QFileInfo(Name).absolutePath());
        return Name;
    }
    FailNew(Base, EEXIST);
    return QString();
}

bool CanReplaceFile(const QString& FileName, QString* Reason) {
    QString Target;
    struct stat S;
    bool Existed = false;
    QString Problem = ReplacedFile(FileName, TWriteMode::ThroughLinks, Target, S, Existed);
    const QByteArray Dir = QFile::encodeName(QFileInfo(Target).absolutePath());
    if (Problem.isEmpty() && access(Dir.constData(), W_OK | X_OK) != 0)
        Problem = SystemErrorText(errno);
    // Room for at least as much as is there now: less, and a save cannot end well.
    struct statvfs Fs;
    if (Problem.isEmpty() && statvfs(Dir.constData(), &Fs) == 0) {
        const qint64 Free = qint64(Fs.f_bavail) * qint64(Fs.f_frsize);
        if (Free < (Existed ? qint64(S.st_size) : 0) + 4096)
            Problem = SystemErrorText(ENOSPC);
    }
    if (!Problem.isEmpty() && Reason)
        *Reason = Problem;
    return Problem.isEmpty();
}

QString FileTypeProblem(const QString& FileName, bool* Missing) {
    if (Missing)
        *Missing = false;
    const QByteArray P = QFile::encodeName(FileName);
    struct stat S;
    if (P.isEmpty() || lstat(P.constData(), &S) != 0) {
        const int Code = P.isEmpty() ? ENOENT : errno;
        if (Missing)
            *Missing = Code == ENOENT;
        return SystemErrorText(Code);
    }
    if (S_ISLNK(S.st_mode)) {
        int Code = 0;
        const QString End = LinkChainEnd(FileName, Code);
        if (Code != 0)
            return LinkProblem(Code, End);
        if (stat(P.constData(), &S) != 0)
            return SystemErrorText(errno);
    }
    return KindProblem(S.st_mode);
}

QByteArray ReadFileBounded(const QString& FileName, qint64 MaxBytes) {
    bool Missing = false;
    if (const QString Problem = FileTypeProblem(FileName, &Missing); !Problem.isEmpty())
        throw EFileError((Missing ? QStringLiteral("Datei kann nicht geöffnet werden: %1 (%2)")
                                  : QStringLiteral("Datei kann nicht gelesen werden: %1 (%2)"))
                             .arg(FileName, Problem));
    auto Refuse = [&](const QString& Reason) {
        throw EFileError(
            QStringLiteral("Datei kann nicht gelesen werden: %1 (%2)").arg(FileName, Reason));
    };
    const QByteArray P = QFile::encodeName(FileName);
    int Fd;
    // Non-blocking: should a FIFO or a device have taken the file's place since the look
    // above, opening it still returns at once.
    do {
        Fd = open(P.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (Fd < 0 && errno == EINTR);
    if (Fd < 0)
        throw EFileError(QStringLiteral("Datei kann nicht geöffnet werden: %1 (%2)")
                             .arg(FileName, SystemErrorText(errno)));
    struct Closer {
        int Fd;
        ~Closer() { close(Fd); }
    } Close{Fd};
    struct stat S;
    if (fstat(Fd, &S) != 0)
        Refuse(SystemErrorText(errno));
    if (const QString Kind = KindProblem(S.st_mode); !Kind.isEmpty())
        Refuse(Kind);
    if (S.st_size > MaxBytes)
        Refuse(SizeProblem(S.st_size, MaxBytes));
    // A regular file: reading it may block for the disk, as it should.
    fcntl(Fd, F_SETFL, fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
    QByteArray Data;
    Data.reserve(qsizetype(S.st_size) + 1);
    // Files whose size says nothing (those of /proc) are read until the bound, no further.
    constexpr qsizetype Chunk = 1 << 20;
    for (;;) {
        const qsizetype Have = Data.size();
        const qsizetype Want = qsizetype(std::min<qint64>(Chunk, MaxBytes + 1 - Have));
        if (Want <= 0)
            Refuse(SizeProblem(Have, MaxBytes));
        Data.resize(Have + Want);
        const ssize_t N = read(Fd, Data.data() + Have, size_t(Want));
        if (N < 0) {
            Data.resize(Have);
            if (errno == EINTR)
                continue;
            Refuse(SystemErrorText(errno));
        }
        Data.resize(Have + N);
        if (N == 0)
            break;
    }
    return Data;
}

TFolderLock::TFolderLock(const QString& Folder, int TimeoutMs) {
    const QByteArray P = QFile::encodeName(Folder);
    const int Fd = open(P.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd < 0)
        return;
    QElapsedTimer Waited;
    Waited.start();
    for (;;) {
        if (flock(Fd, LOCK_EX | LOCK_NB) == 0) {
            FFd = Fd;
            return;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || Waited.elapsed() >= TimeoutMs)
            break;
        usleep(20 * 1000);
    }
    close(Fd);
}

TFolderLock::~TFolderLock() {
    if (FFd >= 0)
        close(FFd); // releases the lock
}

void WriteWindows1252File(const QString& FileName, const QStringList& Lines, TWriteMode Mode) {
    WriteFileAtomically(FileName, Windows1252FileText(Lines), Mode);
}
