#include "kiv_FileText.h"

#include "kiv_XmlObjects.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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
        return QStringLiteral("Zu viele symbolische Verknüpfungen");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("Zu viele offene Dateien");
    case ENOMEM:
        return QStringLiteral("Nicht genügend Speicher");
    case ETXTBSY:
    case EBUSY:
        return QStringLiteral("Die Datei ist in Benutzung");
    default:
        break;
    }
    char Buffer[256];
    const char* Text = strerror_r(Code, Buffer, sizeof Buffer);
    return QStringLiteral("%1 (Fehler %2)").arg(QString::fromLocal8Bit(Text)).arg(Code);
}

namespace {

[[noreturn]] void Fail(const QString& FileName, int Code) {
    throw EFileError(QStringLiteral("Die Datei %1 kann nicht gespeichert werden: %2. Die "
                                    "bisherige Datei bleibt unverändert.")
                         .arg(FileName, SystemErrorText(Code)));
}

// The file a save replaces: a link stays a link, the file it points to is the one replaced.
QString ReplacedFile(const QString& FileName) {
    const QFileInfo Info(FileName);
    if (Info.isSymLink() && !Info.symLinkTarget().isEmpty())
        return Info.symLinkTarget();
    return FileName;
}

// What forbids replacing the file as it is (0: nothing): a folder in its place, a file made
// read-only (although the folder would let it be replaced). Old gets the file's data.
int ExistingFileRefuses(const QByteArray& Target, struct stat& Old, bool& Existed) {
    Existed = stat(Target.constData(), &Old) == 0;
    if (!Existed)
        return 0;
    if (S_ISDIR(Old.st_mode))
        return EISDIR;
    return access(Target.constData(), W_OK) != 0 ? errno : 0;
}

} // namespace

void WriteFileAtomically(const QString& FileName, const QByteArray& Bytes) {
    const QString Target = ReplacedFile(FileName);
    const QByteArray TargetBytes = QFile::encodeName(Target);
    struct stat Old;
    bool Existed = false;
    if (const int Code = ExistingFileRefuses(TargetBytes, Old, Existed))
        Fail(FileName, Code);

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
    const char* P = Bytes.constData();
    qsizetype Left = Bytes.size();
    while (Left > 0) {
        const ssize_t N = write(Fd, P, size_t(Left));
        if (N < 0) {
            if (errno == EINTR)
                continue;
            Abandon(errno);
        }
        if (N == 0)
            Abandon(EIO);
        P += N;
        Left -= N;
    }
    // A file system may report a full disk only when the data reaches it.
    if (fsync(Fd) != 0)
        Abandon(errno);
    const int Closed = close(Fd);
    Fd = -1;
    if (Closed != 0)
        Abandon(errno);
    if (rename(Temp.constData(), TargetBytes.constData()) != 0)
        Abandon(errno);
    // The rename itself reaches the disk with the folder.
    const QByteArray DirBytes = QFile::encodeName(Dir);
    const int DirFd = open(DirBytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DirFd >= 0) {
        fsync(DirFd);
        close(DirFd);
    }
}

bool CanReplaceFile(const QString& FileName, QString* Reason) {
    const QString Target = ReplacedFile(FileName);
    const QByteArray TargetBytes = QFile::encodeName(Target);
    const QByteArray Dir = QFile::encodeName(QFileInfo(Target).absolutePath());
    struct stat S;
    bool Existed = false;
    int Code = ExistingFileRefuses(TargetBytes, S, Existed);
    if (Code == 0 && access(Dir.constData(), W_OK | X_OK) != 0)
        Code = errno;
    // Room for at least as much as is there now: less, and a save cannot end well.
    struct statvfs Fs;
    if (Code == 0 && statvfs(Dir.constData(), &Fs) == 0) {
        const qint64 Free = qint64(Fs.f_bavail) * qint64(Fs.f_frsize);
        if (Free < (Existed ? qint64(S.st_size) : 0) + 4096)
            Code = ENOSPC;
    }
    if (Code != 0 && Reason)
        *Reason = SystemErrorText(Code);
    return Code == 0;
}

void WriteWindows1252File(const QString& FileName, const QStringList& Lines) {
    WriteFileAtomically(FileName, Windows1252FileText(Lines));
}
