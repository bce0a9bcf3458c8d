#include "kiv_single.h"

#include "kiv_errors.h"
#include "kiv_system.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TSingleInstance::TSingleInstance(QObject* Owner) : QObject(Owner) {}

TSingleInstance::~TSingleInstance() {
    // Closing the descriptor releases the lock. The file stays: removing it would let a new
    // start lock a fresh file while a starting instance still holds the old one.
    if (FFd >= 0)
        close(FFd);
}

QString TSingleInstance::MutexName() const {
    QString Prefix = QStringLiteral("Kelvaro_Soft");
    if (TestOnlyDir) {
        QString Folder = ProgramFolder();
        Folder.remove(u'/');
        Folder.remove(u':');
        Prefix = QStringLiteral("kiv") + Folder;
    }
    return Prefix + QCoreApplication::applicationName();
}

QString TSingleInstance::LockFilePath() const {
    // Never the shared temporary folder itself: another user could hold the lock there and
    // keep this user's program from starting.
    const QString Dir = PrivateRuntimeFolder();
    if (Dir.isEmpty())
        return QString();
    QString Name = MutexName();
    Name.replace(u'/', u'_'); // a title may hold a slash; the name is one file
    return Dir + Name;
}

void TSingleInstance::Loaded() {
    if (!qobject_cast<QWidget*>(parent()))
        throw EProgramError(QStringLiteral(
            "Der Besitzer von TSingleInstance muss das Hauptfenster des Programms sein."));
    if (QCoreApplication::applicationName().isEmpty())
        throw EProgramError(QStringLiteral("Das Programm braucht einen Namen, bevor sein "
                                           "Hauptfenster entsteht."));
    if (FFd >= 0)
        return;
    const QByteArray Path = QFile::encodeName(LockFilePath());
    const int Fd = Path.isEmpty() ? -1 : open(Path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (Fd < 0) {
        // No lock to be had for another reason than a running instance: run normally.
        FFirstInstance = true;
        return;
    }
    int Rc;
    do {
        Rc = flock(Fd, LOCK_EX | LOCK_NB);
    } while (Rc != 0 && errno == EINTR);
    if (Rc == 0) {
        FFd = Fd;
        FFirstInstance = true;
        return;
    }
    const bool Held = errno == EWOULDBLOCK;
    close(Fd);
    FFirstInstance = !Held;
    if (Held)
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
}
