#include "kiv_watcher.h"

#include "kiv_workers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

// The kernel keeps one watch per folder, and a second add with another mask replaces the
// first: every folder is added with the mask its name gives it.
constexpr uint32_t WatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE |
                               IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                               IN_ONLYDIR | IN_EXCL_UNLINK;
// Every svn command opens wc.db for writing, reading ones too: in ".svn" only real writes
// count, or each status run would mark its own copy again.
constexpr uint32_t MetaMask = WatchMask & ~uint32_t(IN_CLOSE_WRITE);

const QByteArray MetaName = QByteArrayLiteral(".svn");
// Where svn reads the settings that change what status prints (global-ignores and the like).
const QByteArray SettingsFile = QByteArrayLiteral("config");

bool IsInside(const QByteArray& Path, const QByteArray& Folder) {
    if (Folder == "/")
        return Path.startsWith('/');
    return Path.startsWith(Folder) && (Path.size() == Folder.size() || Path[Folder.size()] == '/');
}

QByteArray ParentOf(const QByteArray& Path) {
    const qsizetype Slash = Path.lastIndexOf('/');
    return Slash <= 0 ? QByteArray("/") : Path.left(Slash);
}

QByteArray Join(const QByteArray& Folder, const char* Name) {
    return Folder == "/" ? Folder + Name : Folder + '/' + Name;
}

QByteArray BaseName(const QByteArray& Path) {
    return Path.mid(Path.lastIndexOf('/') + 1);
}

bool IsFolder(const QByteArray& Path) {
    struct stat S;
    return ::stat(Path.constData(), &S) == 0 && S_ISDIR(S.st_mode);
}

// File systems whose changes can come from elsewhere, unseen by this kernel's inotify. Every
// FUSE file system counts, since the type alone does not tell sshfs from a local one.
const char* NetworkFileSystem(long Type) {
    switch (static_cast<unsigned long>(Type) & 0xFFFFFFFFul) {
    case 0x6969:
        return "NFS";
    case 0x517B:
        return "SMB";
    case 0xFF534D42:
        return "CIFS";
    case 0xFE534D42:
        return "SMB2";
    case 0x65735546:
        return "FUSE";
    case 0x01021997:
        return "9p";
    case 0x73757245:
        return "Coda";
    case 0x5346414F:
    case 0x6B414653:
        return "AFS";
    case 0x00C36400:
        return "Ceph";
    case 0x564C:
        return "NCP";
    case 0x01161970:
        return "GFS2";
    case 0x7461636F:
        return "OCFS2";
    }
    return nullptr;
}

QString Shown(const QByteArray& Path) {
    return QFile::decodeName(Path);
}

QString FolderText(const QByteArray& Path, int Error) {
    return QStringLiteral("Der Ordner %1 kann nicht überwacht werden (%2); die Arbeitskopie "
                          "wird regelmäßig geprüft.")
        .arg(Shown(Path), QString::fromLocal8Bit(strerror(Error)));
}

enum TProblemKind { pkLimit, pkFolder, pkNetwork, pkNoInotify, pkCount };

} // namespace

// A watched top folder: a working copy (recursive) or a folder of svn's settings (that folder
// alone).
struct TTarget {
    QByteArray Path;
    bool Settings = false;
    quint64 Gen = 0;
    int Pending = 0;           // folders of it still to be walked
    bool Complete = false;     // watched without a gap since Gen
    bool Unwatchable = false;  // the limit, a folder that cannot be read, a network file system
    bool Waiting = false;      // its folder does not exist: the nearest existing one is watched
    bool TellWhenDone = false; // a gap other than the first setup: told as a change at its end
    bool Removed = false;
};
using TTargetPtr = std::shared_ptr<TTarget>;
using TOwners = std::shared_ptr<const std::vector<TTargetPtr>>;

namespace {

// Calls F for each key of Map that is Folder or lies below it (keys are clean paths; a plain
// range from Folder would stop at "Folder-x", which sorts before "Folder/").
template <class Map, class F> void ForEachInside(const Map& M, const QByteArray& Folder, F Fn) {
    std::vector<QByteArray> Keys;
    if (M.count(Folder))
        Keys.push_back(Folder);
    const QByteArray Prefix = Folder == "/" ? Folder : Folder + '/';
    for (auto It = M.lower_bound(Prefix); It != M.end() && It->first.startsWith(Prefix); ++It)
        if (It->first != Folder)
            Keys.push_back(It->first);
    for (const QByteArray& K : Keys)
        Fn(K);
}

TOwners OwnersOne(const TTargetPtr& T) {
    return std::make_shared<const std::vector<TTargetPtr>>(1, T);
}

} // namespace

class TWatchEngine : public QObject {
public:
    explicit TWatchEngine(TkivWatcher* Front) : FFront(Front) { Open(); }
    ~TWatchEngine() override {
        delete FNotifier; // before its descriptor goes
        if (FFd >= 0)
            ::close(FFd);
    }

    // The watcher's thread.
    void Begin();
    void SetCopies(const QStringList& Copies);
    void SetQuietTime(int Ms) { FQuiet = std::max(1, Ms); }

    // Any thread.
    quint64 Generation(const QByteArray& Copy);
    bool UnchangedSince(const QByteArray& Copy, quint64 G);
    QStringList NotWatchable();
    bool IsSettled();
    int WatchCount();
    std::atomic<int> FRequests{0}; // SetCopies calls posted and not yet taken

private:
    struct TWalk {
        QByteArray Path;
        TOwners Owners;
        dev_t Device; // of the folder above; 0 for a folder whose file system is to be checked
    };

    void Open();
    void Listen();
    bool OnThread() const { return QThread::currentThread() == thread(); }
    void Step(); // the watcher's thread: reads the queue, then walks
    void Wake(); // work was found on another thread: the watcher's thread takes it over
    void Drain();
    bool Handle(const inotify_event* E); // false: the queue was lost, the rest is stale
    void Overflow();
    void Reset();
    void Resolve(const TTargetPtr& T);
    void Anchor(const TTargetPtr& T);
    void Unwait(const QByteArray& Target);
    void FolderGone(const QByteArray& Folder);
    void DropUnder(const QByteArray& Folder, bool KeepNeeded);
    int AddWatch(const QByteArray& Path, const TOwners& Owners);
    void Push(const QByteArray& Path, const TOwners& Owners, dev_t Device);
    void WalkSome();
    void WalkOne(const TWalk& W);
    void Done(const TOwners& Owners);
    TOwners OwnersOf(const QByteArray& Path) const;
    void Mark(const TTargetPtr& T);
    void MarkAll();
    void Bump(TTarget& T) { T.Gen = ++FLastGen; }
    void SetUnwatchable(const TOwners& Owners, TProblemKind Kind, const QString& Message);
    void Say(TProblemKind Kind, const QString& Message);
    bool HasNews() const;
    void Flush(); // the watcher's thread: hands what the last steps found to the front
    void Quiet();
    TTargetPtr Copy(const QByteArray& Path) const;

    TkivWatcher* FFront;
    std::mutex FLock; // everything below; the queries come from other threads
    int FFd = -1;
    QSocketNotifier* FNotifier = nullptr;
    QTimer* FTimer = nullptr;
    int FQuiet = 300;
    QElapsedTimer FFirstMark, FLastMark;
    quint64 FLastGen = 0;
    std::map<QByteArray, TTargetPtr> FTargets; // copies and settings folders, by path
    std::unordered_map<int, QByteArray> FWdPath;
    std::map<QByteArray, int> FPathWd;
    std::map<QByteArray, QByteArray> FWaiting;      // target -> the folder watched for it
    std::multimap<QByteArray, QByteArray> FAnchors; // the same, by that folder
    std::vector<TWalk> FStack;
    std::set<QByteArray> FMarked;
    bool FSaid[pkCount] = {};
    std::vector<QString> FMessages;   // to be said
    bool FUnwatchableChanged = false; // to be told
    bool FSettledPending = false;     // Settled to be told when the stack empties
    bool FResetPending = false;       // the queue overflowed: start afresh on the thread
    bool FWakePosted = false;
    bool FWalkQueued = false; // the watcher's thread only
};

void TWatchEngine::Open() {
    FFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

void TWatchEngine::Listen() {
    if (FFd < 0)
        return;
    FNotifier = new QSocketNotifier(FFd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { Step(); });
}

void TWatchEngine::Begin() {
    FTimer = new QTimer(this);
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, this, [this] { Quiet(); });
    const std::lock_guard<std::mutex> L(FLock);
    Listen();
    if (FFd < 0)
        Say(pkNoInotify, QStringLiteral("Die Arbeitskopien können nicht überwacht werden (%1); "
                                        "sie werden regelmäßig geprüft.")
                             .arg(QString::fromLocal8Bit(strerror(errno))));
    for (const QByteArray& Dir :
         {QFile::encodeName(QDir::homePath()) + "/.subversion", QByteArray("/etc/subversion")}) {
        auto T = std::make_shared<TTarget>();
        T->Path = QFile::encodeName(QDir::cleanPath(QFile::decodeName(Dir)));
        T->Settings = true;
        FTargets[T->Path] = T;
        Resolve(T);
    }
    Flush();
}

void TWatchEngine::SetCopies(const QStringList& Copies) {
    std::set<QByteArray> Wanted;
    for (const QString& C : Copies)
        if (!C.isEmpty())
            Wanted.insert(QFile::encodeName(QDir::cleanPath(C)));
    {
        const std::lock_guard<std::mutex> L(FLock);
        Drain();
        std::vector<QByteArray> Gone;
        for (const auto& [Path, T] : FTargets)
            if (!T->Settings && !Wanted.count(Path))
                Gone.push_back(Path);
        for (const QByteArray& P : Gone) {
            TTarget& T = *FTargets.at(P);
            T.Removed = true;
            FUnwatchableChanged = FUnwatchableChanged || T.Unwatchable;
            Unwait(P);
            FMarked.erase(P);
            FTargets.erase(P);
            DropUnder(P, true);
        }
        for (const QByteArray& P : Wanted) {
            TTargetPtr& T = FTargets[P];
            if (T && T->Settings)
                continue; // a copy cannot be a settings folder
            if (T && !T->Unwatchable)
                continue;
            if (T) {
                T->Removed = true; // walks still queued for the old entry no longer count
                FUnwatchableChanged = true;
            }
            T = std::make_shared<TTarget>();
            T->Path = P;
            Bump(*T);
            if (FFd < 0) {
                T->Unwatchable = true;
                FUnwatchableChanged = true;
                continue;
            }
            Resolve(T);
        }
        FSettledPending = true;
        --FRequests;
        Flush();
    }
    WalkSome();
}

TTargetPtr TWatchEngine::Copy(const QByteArray& Path) const {
    const auto It = FTargets.find(Path);
    return It == FTargets.end() || It->second->Settings ? nullptr : It->second;
}

quint64 TWatchEngine::Generation(const QByteArray& Copy) {
    const std::lock_guard<std::mutex> L(FLock);
    Drain();
    const TTargetPtr T = this->Copy(Copy);
    return T ? T->Gen : 0;
}

bool TWatchEngine::UnchangedSince(const QByteArray& Copy, quint64 G) {
    const std::lock_guard<std::mutex> L(FLock);
    Drain();
    const TTargetPtr T = this->Copy(Copy);
    return T && T->Complete && T->Gen == G;
}

QStringList TWatchEngine::NotWatchable() {
    const std::lock_guard<std::mutex> L(FLock);
    QStringList R;
    for (const auto& [Path, T] : FTargets)
        if (T->Unwatchable && !T->Settings)
            R << Shown(Path);
    return R;
}

bool TWatchEngine::IsSettled() {
    const std::lock_guard<std::mutex> L(FLock);
    return FStack.empty() && FRequests == 0 && !FResetPending;
}

int TWatchEngine::WatchCount() {
    const std::lock_guard<std::mutex> L(FLock);
    return int(FWdPath.size());
}

void TWatchEngine::Step() {
    {
        const std::lock_guard<std::mutex> L(FLock);
        FWakePosted = false;
        if (FResetPending)
            Reset();
        Drain();
        Flush();
    }
    WalkSome();
}

bool TWatchEngine::HasNews() const {
    return FResetPending || !FStack.empty() || !FMarked.empty() || !FMessages.empty() ||
           FUnwatchableChanged || FSettledPending;
}

void TWatchEngine::Wake() {
    // Timers, the notifier and the walk belong to the watcher's thread.
    if (OnThread() || FWakePosted || !HasNews())
        return;
    FWakePosted = true;
    PostTo(this, [this] { Step(); });
}

void TWatchEngine::Drain() {
    alignas(inotify_event) char Buffer[64 * 1024];
    bool Lost = false;
    while (FFd >= 0 && !FResetPending && !Lost) {
        const ssize_t N = ::read(FFd, Buffer, sizeof Buffer);
        if (N <= 0)
            break;
        for (ssize_t At = 0; At < N && !Lost;) {
            const auto* E = reinterpret_cast<const inotify_event*>(Buffer + At);
            At += ssize_t(sizeof(inotify_event) + E->len);
            Lost = !Handle(E);
        }
    }
    Wake();
}

bool TWatchEngine::Handle(const inotify_event* E) {
    if (E->mask & IN_Q_OVERFLOW) {
        Overflow();
        return false;
    }
    const auto It = FWdPath.find(E->wd);
    if (It == FWdPath.end())
        return true; // a watch dropped before its last events were read
    const QByteArray Dir = It->second;
    if (E->mask & IN_IGNORED) {
        FWdPath.erase(It);
        if (const auto P = FPathWd.find(Dir); P != FPathWd.end() && P->second == E->wd)
            FPathWd.erase(P);
        FolderGone(Dir);
        return true;
    }
    if (E->mask & IN_MOVE_SELF) {
        // Only a top folder gets here with its watch still on (a folder below is dropped at
        // its parent's event): it lives on elsewhere, and its watches would report under a
        // path that is no longer true.
        DropUnder(Dir, false);
        FolderGone(Dir);
        return true;
    }
    if (E->mask & IN_DELETE_SELF)
        return true; // IN_IGNORED follows
    const TOwners Owners = OwnersOf(Dir);
    for (const TTargetPtr& T : *Owners)
        Mark(T);
    if (E->len == 0)
        return true;
    const QByteArray Name(E->name);
    const QByteArray Full = Join(Dir, E->name);
    if (E->mask & IN_ISDIR) {
        if (E->mask & (IN_MOVED_FROM | IN_DELETE)) {
            DropUnder(Full, false);
            FolderGone(Full);
        }
        if ((E->mask & (IN_CREATE | IN_MOVED_TO)) && !Owners->empty() && BaseName(Dir) != MetaName)
            Push(Full, OwnersOf(Full), 0);
    }
    // A folder somebody waits for may have come.
    std::vector<TTargetPtr> Again;
    const auto [From, To] = FAnchors.equal_range(Dir);
    for (auto A = From; A != To; ++A)
        if (IsInside(A->second, Full))
            Again.push_back(FTargets.at(A->second));
    for (const TTargetPtr& T : Again) {
        if (!T->Settings)
            Mark(T);
        Resolve(T);
    }
    if (const auto S = FTargets.find(Dir);
        S != FTargets.end() && S->second->Settings && Name == SettingsFile)
        MarkAll();
    return true;
}

void TWatchEngine::Overflow() {
    // Events were lost: every copy has a gap and is told as changed. Which folders went
    // where is unknown, so the watcher's thread drops every watch and starts afresh.
    for (const auto& [Path, T] : FTargets) {
        T->Complete = false;
        Bump(*T);
        T->TellWhenDone = !T->Settings;
        Mark(T);
    }
    FResetPending = true;
}

void TWatchEngine::Reset() {
    FResetPending = false;
    if (FNotifier) {
        // Reset may run inside the notifier's own signal.
        FNotifier->setEnabled(false);
        FNotifier->deleteLater();
        FNotifier = nullptr;
    }
    ::close(FFd);
    FWdPath.clear();
    FPathWd.clear();
    FWaiting.clear();
    FAnchors.clear();
    FStack.clear();
    Open();
    Listen();
    for (const auto& [Path, T] : FTargets) {
        T->Pending = 0;
        T->Waiting = false;
        if (FFd < 0 && !T->Settings) {
            T->Unwatchable = true;
            FUnwatchableChanged = true;
        }
    }
    std::vector<TTargetPtr> All;
    for (const auto& [Path, T] : FTargets)
        All.push_back(T);
    for (const TTargetPtr& T : All)
        if (!T->Unwatchable)
            Resolve(T);
    FSettledPending = true;
}

void TWatchEngine::Resolve(const TTargetPtr& T) {
    if (T->Removed || FFd < 0)
        return;
    Unwait(T->Path);
    const bool WasWaiting = T->Waiting;
    T->Complete = false;
    Bump(*T);
    if (!IsFolder(T->Path)) {
        Anchor(T);
        return;
    }
    T->Waiting = false;
    if (!T->Settings) {
        Push(T->Path, OwnersOne(T), 0);
        return;
    }
    // A settings folder alone; when it comes, settings may come with it.
    if (AddWatch(T->Path, std::make_shared<std::vector<TTargetPtr>>()) >= 0) {
        T->Complete = true;
        if (WasWaiting)
            MarkAll();
    }
}

void TWatchEngine::Anchor(const TTargetPtr& T) {
    // The nearest folder that exists is watched for the next step of the path to appear.
    QByteArray Dir = ParentOf(T->Path);
    while (Dir != "/" && !IsFolder(Dir))
        Dir = ParentOf(Dir);
    T->Waiting = true;
    if (!FPathWd.count(Dir) &&
        AddWatch(Dir, T->Settings ? std::make_shared<std::vector<TTargetPtr>>() : OwnersOne(T)) < 0)
        return;
    FWaiting[T->Path] = Dir;
    FAnchors.emplace(Dir, T->Path);
    // A step made between the look and the watch is taken at once.
    const QByteArray Rest = T->Path.mid(Dir == "/" ? 1 : Dir.size() + 1);
    if (IsFolder(Join(Dir, Rest.split('/').value(0).constData()))) {
        Resolve(T);
        return;
    }
    T->Complete = true;
}

void TWatchEngine::Unwait(const QByteArray& Target) {
    const auto W = FWaiting.find(Target);
    if (W == FWaiting.end())
        return;
    const auto [From, To] = FAnchors.equal_range(W->second);
    for (auto A = From; A != To; ++A)
        if (A->second == Target) {
            FAnchors.erase(A);
            break;
        }
    FWaiting.erase(W);
}

void TWatchEngine::FolderGone(const QByteArray& Folder) {
    // Targets at or below it, and those whose watched folder it was, look again.
    std::set<QByteArray> Again;
    ForEachInside(FTargets, Folder, [&](const QByteArray& K) { Again.insert(K); });
    ForEachInside(FAnchors, Folder, [&](const QByteArray& K) {
        const auto [From, To] = FAnchors.equal_range(K);
        for (auto A = From; A != To; ++A)
            Again.insert(A->second);
    });
    for (const QByteArray& K : Again) {
        const TTargetPtr T = FTargets.at(K);
        if (T->Settings) {
            if (K == Folder)
                MarkAll();
        } else {
            Mark(T);
        }
        Resolve(T);
    }
}

void TWatchEngine::DropUnder(const QByteArray& Folder, bool KeepNeeded) {
    ForEachInside(FPathWd, Folder, [&](const QByteArray& P) {
        if (KeepNeeded) {
            // Still inside another copy, or watched for a target that waits.
            for (QByteArray Up = P;; Up = ParentOf(Up)) {
                if (FTargets.count(Up) && (Up == P || !FTargets.at(Up)->Settings))
                    return;
                if (Up == "/")
                    break;
            }
            if (FAnchors.count(P))
                return;
        }
        const auto It = FPathWd.find(P);
        ::inotify_rm_watch(FFd, It->second);
        FWdPath.erase(It->second);
        FPathWd.erase(It);
    });
}

int TWatchEngine::AddWatch(const QByteArray& Path, const TOwners& Owners) {
    const int Wd = ::inotify_add_watch(FFd, Path.constData(),
                                       BaseName(Path) == MetaName ? MetaMask : WatchMask);
    if (Wd < 0) {
        const int Error = errno;
        if (Error == ENOENT || Error == ENOTDIR)
            return -1; // gone meanwhile: the event of its going marks the copy
        if (Error == ENOSPC)
            SetUnwatchable(Owners, pkLimit,
                           QStringLiteral("Die Grenze der überwachten Ordner ist erreicht "
                                          "(fs.inotify.max_user_watches); Arbeitskopien, die "
                                          "nicht mehr überwacht werden können, werden "
                                          "regelmäßig geprüft."));
        else
            SetUnwatchable(Owners, pkFolder, FolderText(Path, Error));
        return -1;
    }
    const auto Known = FWdPath.find(Wd);
    if (Known != FWdPath.end() && Known->second != Path && FPathWd.count(Known->second))
        return -2; // the same folder under another path (a bind mount): watched already
    FWdPath[Wd] = Path;
    FPathWd[Path] = Wd;
    return Wd;
}

void TWatchEngine::Push(const QByteArray& Path, const TOwners& Owners, dev_t Device) {
    for (const TTargetPtr& T : *Owners) {
        ++T->Pending;
        if (T->Complete) {
            // A folder still to be walked is a gap until it is watched.
            T->Complete = false;
            Bump(*T);
        }
    }
    FStack.push_back({Path, Owners, Device});
}

void TWatchEngine::WalkSome() {
    // In slices, so that events are read between them and queries are not held up long.
    const std::lock_guard<std::mutex> L(FLock);
    QElapsedTimer Slice;
    Slice.start();
    while (!FStack.empty() && !FResetPending && Slice.elapsed() < 10) {
        const TWalk W = std::move(FStack.back());
        FStack.pop_back();
        WalkOne(W);
    }
    if (FResetPending)
        Reset();
    Drain();
    Flush();
    if (!FStack.empty() && !FWalkQueued) {
        FWalkQueued = true;
        QTimer::singleShot(0, this, [this] {
            FWalkQueued = false;
            WalkSome();
        });
    }
}

void TWatchEngine::WalkOne(const TWalk& W) {
    bool Wanted = false;
    for (const TTargetPtr& T : *W.Owners)
        Wanted = Wanted || (!T->Removed && !T->Unwatchable);
    if (!Wanted || FFd < 0) {
        Done(W.Owners);
        return;
    }
    const int Fd = ::open(W.Path.constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | (W.Device == 0 ? 0 : O_NOFOLLOW));
    if (Fd < 0) {
        const int Error = errno;
        if (Error != ENOENT && Error != ENOTDIR && Error != ELOOP)
            SetUnwatchable(W.Owners, pkFolder, FolderText(W.Path, Error));
        Done(W.Owners);
        return;
    }
    struct stat S;
    ::fstat(Fd, &S);
    if (S.st_dev != W.Device) {
        struct statfs F;
        if (const char* Net =
                ::fstatfs(Fd, &F) == 0 ? NetworkFileSystem(long(F.f_type)) : nullptr) {
            ::close(Fd);
            SetUnwatchable(W.Owners, pkNetwork,
                           QStringLiteral("%1 liegt auf einem Netzlaufwerk (%2), dessen "
                                          "Änderungen nicht gemeldet werden; solche "
                                          "Arbeitskopien werden regelmäßig geprüft.")
                               .arg(Shown(W.Path), QString::fromLatin1(Net)));
            Done(W.Owners);
            return;
        }
    }
    // The watch first, then the listing: a folder made in between is seen by one or the other.
    const int Wd = AddWatch(W.Path, W.Owners);
    DIR* D = Wd < 0 || BaseName(W.Path) == MetaName ? nullptr : ::fdopendir(Fd);
    if (!D) {
        ::close(Fd);
        Done(W.Owners);
        return;
    }
    while (const dirent* E = ::readdir(D)) {
        const QByteArray Name(E->d_name);
        if (Name == "." || Name == "..")
            continue;
        bool Dir = E->d_type == DT_DIR;
        if (E->d_type == DT_UNKNOWN) {
            struct stat C;
            Dir = ::fstatat(Fd, E->d_name, &C, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(C.st_mode);
        }
        if (!Dir)
            continue;
        const QByteArray Child = Join(W.Path, E->d_name);
        TOwners Owners = W.Owners;
        if (const TTargetPtr Inner = Copy(Child)) {
            auto More = std::make_shared<std::vector<TTargetPtr>>(*W.Owners);
            More->push_back(Inner);
            Owners = More;
        }
        Push(Child, Owners, S.st_dev);
    }
    ::closedir(D);
    Done(W.Owners);
}

void TWatchEngine::Done(const TOwners& Owners) {
    for (const TTargetPtr& T : *Owners) {
        if (--T->Pending > 0 || T->Removed || T->Unwatchable || T->Waiting)
            continue;
        // The end of a gap moves the generation too: a run during it may have missed a change.
        T->Complete = true;
        Bump(*T);
        if (T->TellWhenDone)
            Mark(T);
        T->TellWhenDone = false;
    }
}

TOwners TWatchEngine::OwnersOf(const QByteArray& Path) const {
    auto R = std::make_shared<std::vector<TTargetPtr>>();
    for (QByteArray Up = Path;; Up = ParentOf(Up)) {
        if (const TTargetPtr T = Copy(Up))
            R->push_back(T);
        if (Up == "/")
            break;
    }
    return R;
}

void TWatchEngine::Mark(const TTargetPtr& T) {
    if (T->Removed || T->Settings)
        return;
    Bump(*T);
    if (FMarked.empty())
        FFirstMark.start();
    FMarked.insert(T->Path);
    FLastMark.start();
}

void TWatchEngine::MarkAll() {
    for (const auto& [Path, T] : FTargets)
        Mark(T);
}

void TWatchEngine::SetUnwatchable(const TOwners& Owners, TProblemKind Kind,
                                  const QString& Message) {
    for (const TTargetPtr& T : *Owners) {
        if (T->Removed || T->Settings || T->Unwatchable)
            continue;
        T->Unwatchable = true;
        T->Complete = false;
        Bump(*T);
        FUnwatchableChanged = true;
    }
    Say(Kind, Message);
}

void TWatchEngine::Say(TProblemKind Kind, const QString& Message) {
    if (FSaid[Kind])
        return;
    FSaid[Kind] = true;
    FMessages.push_back(Message);
}

void TWatchEngine::Flush() {
    if (!OnThread()) {
        Wake();
        return;
    }
    const QPointer<TkivWatcher> Front = FFront;
    for (const QString& M : FMessages)
        PostTo(FFront, [Front, M] { emit Front->Problem(M); });
    FMessages.clear();
    if (FUnwatchableChanged) {
        FUnwatchableChanged = false;
        QStringList R;
        for (const auto& [Path, T] : FTargets)
            if (T->Unwatchable && !T->Settings)
                R << Shown(Path);
        PostTo(FFront, [Front, R] { emit Front->NotWatchableChanged(R); });
    }
    if (FSettledPending && FStack.empty() && FRequests == 0) {
        FSettledPending = false;
        PostTo(FFront, [Front] { emit Front->Settled(); });
    }
    if (!FMarked.empty() && FTimer && !FTimer->isActive())
        FTimer->start(FQuiet);
}

void TWatchEngine::Quiet() {
    QStringList Told;
    {
        const std::lock_guard<std::mutex> L(FLock);
        Drain();
        if (FMarked.empty())
            return;
        // Quiet for a while, or marked long enough ago that constant changes do not hold
        // every other copy back.
        const qint64 Wait = std::min<qint64>(FQuiet - FLastMark.elapsed(),
                                             4 * qint64(FQuiet) - FFirstMark.elapsed());
        if (Wait > 0) {
            FTimer->start(int(Wait));
            return;
        }
        for (const QByteArray& P : FMarked)
            Told << Shown(P);
        FMarked.clear();
    }
    const QPointer<TkivWatcher> Front = FFront;
    PostTo(FFront, [Front, Told] { emit Front->Changed(Told); });
}

TkivWatcher::TkivWatcher(QObject* Parent) : QObject(Parent) {
    FEngine = new TWatchEngine(this);
    FThread = new QThread(this);
    FThread->setObjectName(QStringLiteral("kiv-watcher"));
    FEngine->moveToThread(FThread);
    connect(FThread, &QThread::finished, FEngine, &QObject::deleteLater);
    FThread->start(QThread::LowPriority);
    TWatchEngine* E = FEngine;
    PostTo(FEngine, [E] { E->Begin(); });
}

TkivWatcher::~TkivWatcher() {
    FThread->quit();
    FThread->wait();
}

void TkivWatcher::SetQuietTime(int Milliseconds) {
    TWatchEngine* E = FEngine;
    PostTo(FEngine, [E, Milliseconds] { E->SetQuietTime(Milliseconds); });
}

void TkivWatcher::SetCopies(const QStringList& Copies) {
    TWatchEngine* E = FEngine;
    ++E->FRequests;
    PostTo(FEngine, [E, Copies] { E->SetCopies(Copies); });
}

quint64 TkivWatcher::Generation(const QString& Copy) const {
    return FEngine->Generation(QFile::encodeName(QDir::cleanPath(Copy)));
}

bool TkivWatcher::UnchangedSince(const QString& Copy, quint64 G) const {
    return FEngine->UnchangedSince(QFile::encodeName(QDir::cleanPath(Copy)), G);
}

QStringList TkivWatcher::NotWatchable() const {
    return FEngine->NotWatchable();
}

bool TkivWatcher::IsSettled() const {
    return FEngine->IsSettled();
}

int TkivWatcher::WatchCount() const {
    return FEngine->WatchCount();
}
