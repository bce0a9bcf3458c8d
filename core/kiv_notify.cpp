#include "kiv_notify.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
// The key a click on the notification itself invokes.
const QString DefaultAction = QStringLiteral("default");

} // namespace

TkivNotifier::TkivNotifier(QObject* Parent) : TkivNotifier(QDBusConnection::sessionBus(), Parent) {}

TkivNotifier::TkivNotifier(const QDBusConnection& Bus, QObject* Parent)
    : QObject(Parent), FBusName(Bus.name()) {
    Connect();
}

TkivNotifier::~TkivNotifier() = default;

void TkivNotifier::Connect() {
    QDBusConnection Bus(FBusName);
    if (!Bus.isConnected())
        return;
    Bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                SLOT(OnActionInvoked(uint, QString)));
    Bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                SLOT(OnClosed(uint, uint)));
}

bool TkivNotifier::Available() const {
    const QDBusConnection Bus(FBusName);
    return Bus.isConnected() && Bus.interface() && Bus.interface()->isServiceRegistered(Service);
}

void TkivNotifier::Notify(const QString& Summary, const QString& Body) {
    const QDBusConnection Bus(FBusName);
    if (!Bus.isConnected()) {
        emit Failed(QStringLiteral("Keine Benachrichtigung möglich: keine Verbindung zum "
                                   "Sitzungsbus."));
        return;
    }
    QDBusMessage Call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    QVariantMap Hints;
    // The desktop names the program and takes its icon from its desktop entry.
    Hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("de.kelvarosoft.kivSubversion"));
    Hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    Call << QStringLiteral("kivSubversion") << uint(FCurrent)
         << QStringLiteral("de.kelvarosoft.kivSubversion") << Summary << Body
         << QStringList{DefaultAction, QStringLiteral("Fenster anzeigen")} << Hints << int(-1);
    auto* Watcher = new QDBusPendingCallWatcher(Bus.asyncCall(Call), this);
    connect(Watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* W) {
        W->deleteLater();
        const QDBusPendingReply<uint> Reply = *W;
        if (Reply.isError()) {
            emit Failed(
                QStringLiteral("Keine Benachrichtigung möglich: %1").arg(Reply.error().message()));
            return;
        }
        FCurrent = Reply.value();
        FOwn.insert(FCurrent);
    });
}

void TkivNotifier::Close() {
    if (FCurrent == 0)
        return;
    QDBusMessage Call = QDBusMessage::createMethodCall(Service, Path, Interface,
                                                       QStringLiteral("CloseNotification"));
    Call << uint(FCurrent);
    QDBusConnection(FBusName).asyncCall(Call);
    FCurrent = 0;
}

void TkivNotifier::OnActionInvoked(uint Id, const QString& Action) {
    if (!FOwn.count(Id))
        return;
    emit ActionInvoked(Id, Action);
    if (Action == DefaultAction)
        emit ShowRequested();
}

void TkivNotifier::OnClosed(uint Id, uint Reason) {
    if (!FOwn.erase(Id))
        return;
    if (FCurrent == Id)
        FCurrent = 0;
    emit Closed(Id, Reason);
}

QString NewRevisionsText(int Projects) {
    return Projects == 1 ? QStringLiteral("1 Projekt hat neue Revisionen")
                         : QStringLiteral("%1 Projekte haben neue Revisionen").arg(Projects);
}

// Compiled here, not with the other classes of the library: a program that does not notify
// (kivsvn) then pulls in neither this file nor QtDBus.
#include "moc_kiv_notify.cpp"
