// A small file system of its own for a test, to see what writing does when the disk is full:
// a tmpfs of a few kilobytes mounted on a temporary folder (needs the right to mount, as root
// has it), and a filler file that takes all of its space.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

class TTinyDisk {
public:
    explicit TTinyDisk(int KiloBytes) {
        if (!FDir.isValid())
            return;
        QProcess P;
        P.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                          QStringLiteral("-o"),
                                          QStringLiteral("size=%1k,mode=0755").arg(KiloBytes),
                                          QStringLiteral("kivtest"), FDir.path()});
        FMounted = P.waitForFinished(10000) && P.exitCode() == 0;
        if (!FMounted)
            FWhy = QString::fromLocal8Bit(P.readAllStandardError()).trimmed();
    }
    ~TTinyDisk() {
        if (FMounted) {
            QProcess P;
            P.start(QStringLiteral("umount"), {FDir.path()});
            P.waitForFinished(10000);
        }
    }
    bool Mounted() const { return FMounted; }
    QString Why() const { return FWhy.isEmpty() ? QStringLiteral("cannot mount a tmpfs") : FWhy; }
    QString Path(const QString& Name) const { return FDir.path() + u'/' + Name; }
    // Writes a file until the disk has no room left.
    bool Fill() {
        const QByteArray Name = QFile::encodeName(Path(QStringLiteral("filler")));
        const int Fd = ::open(Name.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (Fd < 0)
            return false;
        const QByteArray Block(512, 'f');
        while (::write(Fd, Block.constData(), size_t(Block.size())) > 0) {
        }
        // Smaller pieces into what the blocks left over.
        while (::write(Fd, "f", 1) > 0) {
        }
        const bool Full = errno == ENOSPC;
        ::close(Fd);
        return Full;
    }
    // Frees Bytes of the filler again, so that a write can begin but not end.
    bool Free(qint64 Bytes) {
        QFile F(Path(QStringLiteral("filler")));
        return F.resize(std::max<qint64>(0, F.size() - Bytes));
    }
    QStringList Entries() const {
        QStringList E =
            QDir(FDir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        E.sort();
        return E;
    }

private:
    QTemporaryDir FDir;
    bool FMounted = false;
    QString FWhy;
};
