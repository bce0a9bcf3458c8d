#include "svn_search.h"

#include "kiv_folders.h"
#include "kiv_system.h"
#include "kiv_XmlObjects.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

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

void TSvnSearch::Walk() {
    struct stat Top;
    const QByteArray StartBytes = QFile::encodeName(FStart);
    if (lstat(StartBytes.constData(), &Top) != 0 || !S_ISDIR(Top.st_mode))
        return;
    const dev_t Device = Top.st_dev;
    // Depth first in the order the file system lists the entries; an explicit stack of
    // folders still to enter, each list reversed so the first entry comes out first.
    std::vector<QByteArray> Pending{StartBytes};
    while (!Pending.empty() && !FCancel) {
        const QByteArray Folder = Pending.back();
        Pending.pop_back();
        const int Fd = open(Folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (Fd < 0)
            continue; // no access: passed over
        ++FFolders;
        struct stat Marker;
        if (fstatat(Fd, ".svn", &Marker, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(Marker.st_mode)) {
            close(Fd);
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
            continue;
        }
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
            Children.push_back(Folder + Entry->d_name + '/');
        }
        closedir(D);
        for (auto It = Children.rbegin(); It != Children.rend(); ++It)
            Pending.push_back(std::move(*It));
    }
}
