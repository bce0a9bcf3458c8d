// Servers that the run tests talk to over the loopback: a real svnserve (that may demand a
// login), and a listener that takes connections and never says a word.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kivtest {

// A socket listening on 127.0.0.1 (Port 0: any free one); -1 on failure.
inline int ListenOn(int& Port) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Fd < 0)
        return -1;
    const int On = 1;
    ::setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = htons(quint16(Port));
    socklen_t Len = sizeof A;
    if (::bind(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || ::listen(Fd, 64) != 0 ||
        ::getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &Len) != 0) {
        ::close(Fd);
        return -1;
    }
    Port = ntohs(A.sin_port);
    return Fd;
}

// Takes connections (the system completes them from the backlog) and never answers: a server
// that has stopped working. Closing it makes every client see the end.
class TSilentServer {
public:
    explicit TSilentServer(int Port) : FPort(Port) { FFd = ListenOn(FPort); }
    ~TSilentServer() {
        if (FFd >= 0)
            ::close(FFd);
    }
    bool Listening() const { return FFd >= 0; }
    int Port() const { return FPort; }

private:
    int FPort;
    int FFd = -1;
};

// svnserve over one repository folder; with a login, "anna" / "geheim" is the only user and
// nobody else may read.
class TSvnServe {
public:
    TSvnServe(const QString& Root, bool Login) {
        if (QStandardPaths::findExecutable(QStringLiteral("svnserve")).isEmpty()) {
            FWhy = QStringLiteral("svnserve is not installed");
            return;
        }
        const QString Conf = Root + QStringLiteral("/conf/svnserve.conf");
        QFile C(Conf);
        if (C.open(QIODevice::WriteOnly | QIODevice::Truncate))
            C.write(Login ? "[general]\nanon-access = none\nauth-access = write\n"
                            "password-db = passwd\n"
                          : "[general]\nanon-access = read\n");
        QFile P(Root + QStringLiteral("/conf/passwd"));
        if (P.open(QIODevice::WriteOnly | QIODevice::Truncate))
            P.write("[users]\nanna = geheim\n");
        // A free port: taken by a socket that is closed just before svnserve binds it.
        int Port = 0;
        const int Probe = ListenOn(Port);
        if (Probe >= 0)
            ::close(Probe);
        FPort = Port;
        FProcess.setProcessChannelMode(QProcess::ForwardedChannels);
        FProcess.start(QStringLiteral("svnserve"),
                       {QStringLiteral("-d"), QStringLiteral("--foreground"),
                        QStringLiteral("--listen-host"), QStringLiteral("127.0.0.1"),
                        QStringLiteral("--listen-port"), QString::number(Port), QStringLiteral("-r"),
                        QFileInfo(Root).path()});
        if (!FProcess.waitForStarted(5000)) {
            FWhy = QStringLiteral("svnserve did not start");
            return;
        }
        QThread::msleep(300); // until it listens
        FUrl = QStringLiteral("svn://127.0.0.1:%1/%2").arg(Port).arg(QFileInfo(Root).fileName());
    }
    ~TSvnServe() { Stop(); }
    void Stop() {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }
    bool Running() const { return FProcess.state() == QProcess::Running; }
    QString Why() const { return FWhy; }
    QString Url() const { return FUrl; }
    int Port() const { return FPort; }

private:
    QProcess FProcess;
    QString FWhy;
    QString FUrl;
    int FPort = 0;
};

} // namespace kivtest
