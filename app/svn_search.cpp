#include "svn_search.h"

#include "fm_main.h"
#include "kiv_tools.h"
#include "kiv_XmlObjects.h"

#include <QFile>
#include <QMetaObject>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

QString RegisteredKey(const QString& Directory) { return IncludeDirDelimiter(Directory); }

QSet<QString> RegisteredKeys(const TkivXmlElement* Root) {
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
                Keys.insert(RegisteredKey(Dir));
        }
        for (int i = E->ChildCount() - 1; i >= 0; --i)
            Pending.push_back(E->GetChild(i));
    }
    return Keys;
}

bool IsRegistered(const TkivXmlElement* Root, const QString& Folder) {
    return RegisteredKeys(Root).contains(RegisteredKey(Folder));
}

TSvnSearch::TSvnSearch(QString StartFolder, QSet<QString> Registered, QObject* Parent)
    : QObject(Parent), FStart(IncludeDirDelimiter(StartFolder)),
      FRegistered(std::move(Registered)) {}

TSvnSearch::~TSvnSearch() {
    FCancel = true;
    if (FThread.joinable())
        FThread.join();
}

void TSvnSearch::Start() {
    FThread = std::thread([this] {
        Walk();
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (FThread.joinable())
                    FThread.join();
                emit Finished(FCancel.load());
            },
            Qt::QueuedConnection);
    });
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
        struct stat Marker;
        if (fstatat(Fd, ".svn", &Marker, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(Marker.st_mode)) {
            close(Fd);
            const QString Path = QFile::decodeName(Folder);
            if (!FRegistered.contains(RegisteredKey(Path))) {
                QMetaObject::invokeMethod(
                    this, [this, Path] { if (!FCancel) emit Found(Path); }, Qt::QueuedConnection);
            }
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
