// A D-Bus session bus of the test's own (dbus-daemon), and a notification server on it that
// records what it is sent and can answer as a desktop's server does: desktop protocols are
// tested against a real bus and a real listener, never the user's desktop.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QVariantMap>

#include <csignal>
#include <sys/prctl.h>
#include <vector>

namespace kivtest {

class TPrivateBus {
public:
    TPrivateBus() {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
            FWhy = QStringLiteral("dbus-daemon is not installed (package dbus)");
            return;
        }
        // The bus ends with the test, also when the test crashes.
        FDaemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        FDaemon.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        if (!FDaemon.waitForStarted(5000) || !FDaemon.waitForReadyRead(5000)) {
            FWhy = QStringLiteral("dbus-daemon did not start");
            return;
        }
        FAddress = QString::fromLocal8Bit(FDaemon.readLine()).trimmed();
    }
    ~TPrivateBus() {
        for (const QString& N : FNames)
            QDBusConnection::disconnectFromBus(N);
        FDaemon.kill();
        FDaemon.waitForFinished(5000);
    }
    bool Running() const { return !FAddress.isEmpty(); }
    QString Address() const { return FAddress; }
    QString Why() const { return FWhy; }
    // A connection of its own to the bus, under Name.
    QDBusConnection Connect(const QString& Name) {
        FNames << Name;
        return QDBusConnection::connectToBus(FAddress, Name);
    }

private:
    QProcess FDaemon;
    QString FAddress, FWhy;
    QStringList FNames;
};

// org.freedesktop.Notifications as a desktop offers it, recording every call.
class TNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct TCall {
        QString AppName;
        uint ReplacesId;
        QString Icon, Summary, Body;
        QStringList Actions;
        QVariantMap Hints;
        int Timeout;
    };
    std::vector<TCall> Calls;
    std::vector<uint> Closes;

    explicit TNotificationServer(const QDBusConnection& Bus) : FBus(Bus) {}
    bool Register() {
        return FBus.registerService(QStringLiteral("org.freedesktop.Notifications")) &&
               FBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                   QDBusConnection::ExportAllSlots);
    }
    // The signals a server sends when the user acts on a notification or it goes.
    void SendAction(uint Id, const QString& Key) { Send("ActionInvoked", {Id, Key}); }
    void SendClosed(uint Id, uint Reason) { Send("NotificationClosed", {Id, Reason}); }

public slots:
    uint Notify(const QString& AppName, uint ReplacesId, const QString& Icon,
                const QString& Summary, const QString& Body, const QStringList& Actions,
                const QVariantMap& Hints, int Timeout) {
        Calls.push_back({AppName, ReplacesId, Icon, Summary, Body, Actions, Hints, Timeout});
        return ReplacesId != 0 ? ReplacesId : ++FLastId;
    }
    void CloseNotification(uint Id) {
        Closes.push_back(Id);
        SendClosed(Id, 3);
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

private:
    void Send(const char* Name, const QVariantList& Args) {
        QDBusMessage M = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QString::fromLatin1(Name));
        M.setArguments(Args);
        FBus.send(M);
    }
    QDBusConnection FBus;
    uint FLastId = 40;
};

} // namespace kivtest
