#include "kiv_system.h"

#include "kiv_kinds.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

// The account entry of the effective user; nullptr with Error set when there is none.
passwd* OwnAccount(std::vector<char>& Buffer, passwd& Entry, int& Error) {
    long Size = sysconf(_SC_GETPW_R_SIZE_MAX);
    Buffer.resize(Size > 0 ? size_t(Size) : 16384);
    passwd* Result = nullptr;
    for (;;) {
        Error = getpwuid_r(geteuid(), &Entry, Buffer.data(), Buffer.size(), &Result);
        if (Error != ERANGE)
            break;
        Buffer.resize(Buffer.size() * 2);
    }
    if (!Result && Error == 0)
        Error = ENOENT; // no entry for this user id
    return Result;
}

} // namespace

bool RoamingMarkerFound = false;

void InitRoamingMarker() {
    // Only a file counts; a directory of that name does not.
    RoamingMarkerFound = QFileInfo(ProgramFolder() + QStringLiteral("Roaming.kiv")).isFile();
}

QString ProgramFolder() {
    QString Dir;
    if (QCoreApplication::instance())
        Dir = QCoreApplication::applicationDirPath();
    else
        Dir = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    return IncludeDirDelimiter(Dir);
}

namespace {

// Path is a folder of our own that nobody else can enter (made so if it is ours); never a
// link, so nobody can point it elsewhere.
bool OwnPrivateFolder(const QString& Path) {
    const QByteArray P = QFile::encodeName(Path);
    if (mkdir(P.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat S;
    if (lstat(P.constData(), &S) != 0 || !S_ISDIR(S.st_mode) || S.st_uid != geteuid())
        return false;
    if ((S.st_mode & 077) != 0 && chmod(P.constData(), 0700) != 0)
        return false;
    return true;
}

} // namespace

QString PrivateRuntimeFolder() {
    const QString Runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!Runtime.isEmpty() && QFileInfo(Runtime).isDir())
        return IncludeDirDelimiter(Runtime);
    const QString Temp =
        QDir::tempPath() + QStringLiteral("/kivSubversion-%1").arg(uint(geteuid()));
    if (OwnPrivateFolder(Temp))
        return IncludeDirDelimiter(Temp);
    // The shared temporary folder holds a folder of that name that is not ours: the user's
    // own cache folder, which nobody else can enter anyway.
    const QString Cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!Cache.isEmpty()) {
        QDir().mkpath(Cache);
        const QString Own = Cache + QStringLiteral("/kivSubversion");
        if (OwnPrivateFolder(Own))
            return IncludeDirDelimiter(Own);
    }
    return QString();
}

bool GetSpecialFolderPath(int Csidl, QString& Path) {
    Path.clear();
    QStandardPaths::StandardLocation Location;
    switch (Csidl) {
    case CSIDL_PERSONAL:
        Location = QStandardPaths::DocumentsLocation;
        break;
    case CSIDL_APPDATA:
        Location = QStandardPaths::GenericConfigLocation;
        break;
    case CSIDL_LOCAL_APPDATA:
        Location = QStandardPaths::GenericDataLocation;
        break;
    default:
        return false;
    }
    Path = QStandardPaths::writableLocation(Location);
    return !Path.isEmpty();
}

QString GetUserDataFolder(const QString& Product, const QString& Company) {
    const int Csidl =
        (IsVistaOrLater() && !RoamingMarkerFound) ? CSIDL_LOCAL_APPDATA : CSIDL_APPDATA;
    QString Folder;
    if (!GetSpecialFolderPath(Csidl, Folder) || Folder.isEmpty())
        return ProgramFolder();
    QString Result = IncludeDirDelimiter(Folder);
    if (Company.isEmpty())
        return Result;
    Result += Company + PathDelim;
    if (!Product.isEmpty())
        Result += Product + PathDelim;
    ForceDir(Result);
    return Result;
}

bool GetDocumentsFolder(QString& Path) {
    return GetSpecialFolderPath(CSIDL_PERSONAL, Path);
}

bool IsVistaOrLater() {
    return true;
}

bool DirExists(const QString& Path) {
    return !Path.isEmpty() && QFileInfo(Path).isDir();
}

void ForceDir(const QString& Path) {
    if (!Path.isEmpty())
        QDir().mkpath(Path);
}

QString IncludeDirDelimiter(const QString& Path) {
    QString Result = TrimBlanksAndControls(Path);
    if (Result.isEmpty() || Result.back() != PathDelim)
        Result += PathDelim;
    return Result;
}

QString ExcludeDirDelimiter(const QString& Path) {
    QString Result = Path;
    while (Result.size() > 1 && Result.back() == PathDelim)
        Result.chop(1);
    return Result;
}

QString GetFileVersionString(const QString& FileName) {
    const QByteArray Name = QFile::encodeName(FileName);
    const int Fd = open(Name.constData(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0)
        return QString();
    struct stat St;
    if (fstat(Fd, &St) != 0 || !S_ISREG(St.st_mode) || St.st_size <= 0) {
        close(Fd);
        return QString();
    }
    const size_t Size = size_t(St.st_size);
    void* Map = mmap(nullptr, Size, PROT_READ, MAP_PRIVATE, Fd, 0);
    close(Fd);
    if (Map == MAP_FAILED)
        return QString();

    // The record is "\0KIVFILEVERSION=a.b.c.d\0". The needle is put together at run time so
    // that this function's own text is no match; a match must still carry four numbers.
    char Needle[17];
    std::memcpy(Needle + 1, "KIVFILEVERSION", 14);
    Needle[0] = '\0';
    Needle[15] = '=';
    Needle[16] = '\0';
    static const QRegularExpression Version(QStringLiteral("^\\d{1,5}(\\.\\d{1,5}){3}$"));
    QString Result;
    const char* Begin = static_cast<const char*>(Map);
    const char* End = Begin + Size;
    const char* From = Begin;
    while (From < End) {
        const void* Hit = memmem(From, size_t(End - From), Needle, 16);
        if (!Hit)
            break;
        const char* Value = static_cast<const char*>(Hit) + 16;
        const char* Stop = Value;
        while (Stop < End && *Stop != '\0' && Stop - Value < 32)
            ++Stop;
        if (Stop < End && *Stop == '\0') {
            const QString Text = QString::fromLatin1(Value, Stop - Value);
            if (Version.match(Text).hasMatch()) {
                Result = Text;
                break;
            }
        }
        From = static_cast<const char*>(Hit) + 1;
    }
    munmap(Map, Size);
    return Result;
}

QString GetLogonUserName() {
    std::vector<char> Buffer;
    passwd Entry;
    int Error = 0;
    passwd* Account = OwnAccount(Buffer, Entry, Error);
    if (!Account)
        throw EkivOSError(Error);
    return QString::fromLocal8Bit(Account->pw_name);
}

QString GetLocalComputerName() {
    char Name[256 + 1] = {};
    if (gethostname(Name, sizeof Name - 1) != 0)
        throw EkivOSError(errno);
    return QString::fromLocal8Bit(Name);
}

QString GetRegisteredOwner() {
    std::vector<char> Buffer;
    passwd Entry;
    int Error = 0;
    passwd* Account = OwnAccount(Buffer, Entry, Error);
    if (Account && Account->pw_gecos) {
        // The real name is the first of the comma-separated fields.
        const QString Name =
            QString::fromLocal8Bit(Account->pw_gecos).section(u',', 0, 0).trimmed();
        if (!Name.isEmpty())
            return Name;
    }
    return QStringLiteral("unknown User");
}
