#include "svn_search.h"

#include "kiv_folders.h"
#include "kiv_system.h"
#include "kiv_XmlObjects.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

QSet<QString> RegisteredKeys(const TkivXmlElement* Root, const QString& Base) {
    QSet<QString> Keys;
    if (!Root)
        return Keys;
    std::vector<const TkivXmlElement*> Pending{Root};
    while (!Pending.empty()) {
        const TkivXmlElement* E = Pending.back();
        Pending.pop_back();
        if (E != Root) {
            const QString Dir = E->GetAttribute(QStringLiteral("Verzeichnis"));
            if (!Dir.isEmpty())
                Keys.insert(RegisteredKey(Dir, Base));
        }
        for (int i = E->ChildCount() - 1; i >= 0; --i)
            Pending.push_back(E->GetChild(i));
    }
    return Keys;
}

bool IsRegistered(const TkivXmlElement* Root, const QString& Folder, const QString& Base) {
    return RegisteredKeys(Root, Base).contains(RegisteredKey(Folder, Base));
}

QString SearchStartFolder() {
    const QString Override = qEnvironmentVariable("KIV_SEARCH_ROOT");
    if (!Override.isEmpty())
        return Override;
    QString Documents;
    GetDocumentsFolder(Documents);
    // A documents folder that does not exist has no file system; the home folder's is the one
    // meant then (on a separately mounted /home the root of "/" would never reach it).
    if (Documents.isEmpty() || !QFileInfo(Documents).isDir())
        Documents = QDir::homePath();
    const QString Root = QStorageInfo(Documents).rootPath();
    return Root.isEmpty() ? QDir::homePath() : Root;
}

QString SearchSystemRoot() {
    const QString Override = qEnvironmentVariable("KIV_SEARCH_ROOT");
    return Override.isEmpty() ? QStringLiteral("/") : Override;
}

const QStringList& SystemFolderNames() {
    static const QStringList Names = {
        QStringLiteral("proc"),      QStringLiteral("sys"),       QStringLiteral("dev"),
        QStringLiteral("run"),       QStringLiteral("boot"),      QStringLiteral("usr"),
        QStringLiteral("lib*"),      QStringLiteral("bin"),       QStringLiteral("sbin"),
        QStringLiteral("etc"),       QStringLiteral("snap"),      QStringLiteral("var/lib"),
        QStringLiteral("var/cache"), QStringLiteral("var/log"),   QStringLiteral("tmp"),
        QStringLiteral("var/tmp"),   QStringLiteral("lost+found")};
    return Names;
}

namespace {

// Root as the start of the paths below it: "/" for the root itself, else "ROOT/".
QByteArray Below(QByteArray Root) {
    while (Root.size() > 1 && Root.endsWith('/'))
        Root.chop(1);
    return Root == "/" ? Root : Root + '/';
}

// Folder: absolute, without a trailing "/"; RootBase as Below gives it.
bool IsSystemPath(const QByteArray& Folder, const QByteArray& RootBase) {
    if (!Folder.startsWith(RootBase))
        return false;
    const QByteArray Rel = Folder.mid(RootBase.size());
    for (const QString& Name : SystemFolderNames()) {
        const QByteArray N = Name.toLatin1();
        if (N.endsWith('*') ? (!Rel.contains('/') && Rel.startsWith(N.chopped(1))) : Rel == N)
            return true;
    }
    return false;
}

QByteArray RealPath(const QByteArray& Path) {
    char* Real = realpath(Path.constData(), nullptr);
    if (!Real)
        return Path;
    const QByteArray R(Real);
    free(Real);
    return R;
}

// The length of the valid UTF-8 sequence at Text[I], or 0.
int Utf8Length(const QByteArray& Text, qsizetype I) {
    const auto B = [&](qsizetype K) { return uchar(Text.at(K)); };
    const uchar C = B(I);
    int Len = 0;
    char32_t Min = 0;
    if (C < 0x80)
        return 1;
    if (C >= 0xC2 && C <= 0xDF)
        Len = 2, Min = 0x80;
    else if (C >= 0xE0 && C <= 0xEF)
        Len = 3, Min = 0x800;
    else if (C >= 0xF0 && C <= 0xF4)
        Len = 4, Min = 0x10000;
    else
        return 0;
    if (I + Len > Text.size())
        return 0;
    char32_t Code = C & (0x7F >> Len);
    for (int K = 1; K < Len; ++K) {
        if ((B(I + K) & 0xC0) != 0x80)
            return 0;
        Code = (Code << 6) | (B(I + K) & 0x3F);
    }
    if (Code < Min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF))
        return 0;
    return Len;
}

// Why the start folder cannot be searched, in German.
QString StartErrorText(const QString& Folder, int Error) {
    QString Why;
    switch (Error) {
    case EACCES:
    case EPERM:
        Why = QStringLiteral("keine Berechtigung, ihn zu lesen");
        break;
    case ENOENT:
        Why = QStringLiteral("es gibt ihn nicht");
        break;
    case ENOTDIR:
        Why = QStringLiteral("das ist kein Ordner");
        break;
    case ELOOP:
        Why = QStringLiteral("zu viele symbolische Verknüpfungen");
        break;
    case ENAMETOOLONG:
        Why = QStringLiteral("der Pfad ist zu lang");
        break;
    default:
        Why = QStringLiteral("Systemfehler %1").arg(Error);
        break;
    }
    return QStringLiteral("Der Ordner \"%1\" kann nicht durchsucht werden: %2.").arg(Folder, Why);
}

} // namespace

bool IsSystemFolder(const QString& Folder, const QString& Root) {
    QByteArray F = QFile::encodeName(Folder);
    while (F.size() > 1 && F.endsWith('/'))
        F.chop(1);
    return IsSystemPath(F, Below(QFile::encodeName(Root)));
}

QSet<QByteArray> MountPoints(const QByteArray& MountInfo) {
    QSet<QByteArray> Points;
    for (const QByteArray& Line : MountInfo.split('\n')) {
        // "ID PARENT MAJ:MIN ROOT MOUNTPOINT OPTIONS ...": the fifth field, blanks and other
        // special bytes written as octal escapes.
        const QList<QByteArray> Fields = Line.split(' ');
        if (Fields.size() < 5)
            continue;
        const QByteArray& Escaped = Fields.at(4);
        QByteArray Point;
        for (qsizetype I = 0; I < Escaped.size(); ++I) {
            if (Escaped.at(I) == '\\' && I + 3 < Escaped.size() &&
                QByteArray("01234567").contains(Escaped.at(I + 1))) {
                Point += char(Escaped.mid(I + 1, 3).toInt(nullptr, 8));
                I += 3;
            } else {
                Point += Escaped.at(I);
            }
        }
        while (Point.size() > 1 && Point.endsWith('/'))
            Point.chop(1);
        Points.insert(Point);
    }
    return Points;
}

QString DisplayPath(const QByteArray& Path) {
    QString Shown;
    for (qsizetype I = 0; I < Path.size();) {
        const int Len = Utf8Length(Path, I);
        if (Len > 0) {
            Shown += QString::fromUtf8(Path.mid(I, Len));
            I += Len;
        } else {
            Shown += QStringLiteral("\\%1").arg(uchar(Path.at(I)), 3, 8, QLatin1Char('0'));
            ++I;
        }
    }
    return Shown;
}

QString SearchNotesText(const QStringList& Notes) {
    constexpr int Shown = 15;
    QStringList Lines = Notes.mid(0, Shown);
    if (Notes.size() > Shown)
        Lines << QStringLiteral("… und %1 weitere.").arg(Notes.size() - Shown);
    return (Notes.size() == 1
                ? QStringLiteral("Die Suche hat einen Ordner übersprungen:\n\n")
                : QStringLiteral("Die Suche hat %1 Ordner übersprungen:\n\n").arg(Notes.size())) +
           Lines.join(u'\n');
}

TSvnSearch::TSvnSearch(QString StartFolder, QSet<QString> Registered, QObject* Parent)
    : QObject(Parent), FStart(IncludeDirDelimiter(StartFolder)),
      FRegistered(std::move(Registered)) {}

TSvnSearch::~TSvnSearch() {
    FCancel = true;
    FWorker.Join();
}

void TSvnSearch::Start() {
    FWorker.Start(1, [this] { Walk(); }, this, [this] { emit Finished(FCancel.load()); });
}

void TSvnSearch::AddNote(const QString& Text) {
    PostTo(this, [this, Text] {
        FNotes << Text;
        emit Note(Text);
    });
}

void TSvnSearch::Walk() {
    const QByteArray StartBytes = QFile::encodeName(FStart);
    // The start folder is the caller's choice: a link to a folder is followed there, and only
    // there.
    int Fd = open(StartBytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd < 0) {
        FStartError = StartErrorText(QDir::toNativeSeparators(FStart), errno);
        return;
    }
    struct stat Top;
    if (fstat(Fd, &Top) != 0) {
        FStartError = StartErrorText(QDir::toNativeSeparators(FStart), errno);
        close(Fd);
        return;
    }
    const dev_t Device = Top.st_dev;
    // Below the start the walk sees no links, so a folder's real path is the start's real
    // path and the rest of its own: what the mount table and the system folders are about.
    const QByteArray RealBase = Below(RealPath(StartBytes));
    const QByteArray SystemBase = Below(RealPath(QFile::encodeName(SystemRoot)));
    QSet<QByteArray> Mounts;
    {
        QFile Info(QStringLiteral("/proc/self/mountinfo"));
        if (Info.open(QIODevice::ReadOnly))
            Mounts = MountPoints(Info.readAll());
    }
    // Depth first in the order the file system lists the entries; an explicit stack of
    // folders still to enter, each list reversed so the first entry comes out first.
    std::vector<QByteArray> Pending{StartBytes};
    while (!Pending.empty() && !FCancel) {
        const QByteArray Folder = Pending.back();
        Pending.pop_back();
        if (Fd < 0)
            Fd = open(Folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (Fd < 0)
            continue; // no access: passed over
        ++FFolders;
        struct stat Marker;
        if (fstatat(Fd, ".svn", &Marker, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(Marker.st_mode)) {
            close(Fd);
            Fd = -1;
            const QString Path = QFile::decodeName(Folder);
            if (!FRegistered.contains(RegisteredKey(Path, QStringLiteral("/"))))
                PostTo(this, [this, Path] {
                    if (!FCancel)
                        emit Found(Path);
                });
            continue; // nothing inside a working copy is searched
        }
        DIR* D = fdopendir(Fd);
        if (!D) {
            close(Fd);
            Fd = -1;
            continue;
        }
        Fd = -1;
        std::vector<QByteArray> Children;
        while (dirent* Entry = readdir(D)) {
            if (Entry->d_name[0] == '.')
                continue; // hidden, and "." and ".."
            bool IsDir = Entry->d_type == DT_DIR;
            if (Entry->d_type == DT_UNKNOWN) {
                struct stat S;
                IsDir = fstatat(dirfd(D), Entry->d_name, &S, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISDIR(S.st_mode);
            }
            if (!IsDir)
                continue; // files and symbolic links
            struct stat S;
            if (fstatat(dirfd(D), Entry->d_name, &S, AT_SYMLINK_NOFOLLOW) != 0 ||
                S.st_dev != Device)
                continue; // another filesystem
            const QByteArray Name(Entry->d_name);
            const QByteArray Real = RealBase + Folder.mid(StartBytes.size()) + Name;
            // A mount point of the same file system is a bind mount: a second way to folders
            // that are searched anyway (or not meant to be).
            if (Mounts.contains(Real) || IsSystemPath(Real, SystemBase))
                continue;
            if (QFile::encodeName(QFile::decodeName(Name)) != Name) {
                AddNote(QStringLiteral("\"%1\": der Name ist kein gültiges UTF-8 (ungültige Bytes "
                                       "als \\ooo, wie »ls -b« sie zeigt); der Ordner kann "
                                       "nicht eingetragen werden.")
                            .arg(DisplayPath(Folder + Name)));
                continue;
            }
            Children.push_back(Folder + Name + '/');
        }
        closedir(D);
        for (auto It = Children.rbegin(); It != Children.rend(); ++It)
            Pending.push_back(std::move(*It));
    }
    if (Fd >= 0)
        close(Fd);
}
