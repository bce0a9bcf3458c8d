// Desktop notifications over D-Bus (the freedesktop interface org.freedesktop.Notifications
// that every desktop's notification server offers). One notifier stands for one kind of news:
// a new notification replaces the one it showed before, so the desktop never piles up stale
// ones. Nothing here waits for the bus.
#pragma once

#include <QObject>
#include <QString>

#include <set>

class QDBusConnection;
class QDBusPendingCallWatcher;

class TkivNotifier : public QObject {
    Q_OBJECT
public:
    // On the user's session bus.
    explicit TkivNotifier(QObject* Parent = nullptr);
    // On the given bus (tests use a private one).
    explicit TkivNotifier(const QDBusConnection& Bus, QObject* Parent = nullptr);
    ~TkivNotifier() override;

    // Whether a notification server is on the bus now.
    bool Available() const;
    // Shows Summary and Body, with the action "Fenster anzeigen" (also taken by a click on the
    // notification), in place of the one shown before if that is still open. Returns at once;
    // a bus or server that fails is told by Failed.
    void Notify(const QString& Summary, const QString& Body);
    // Takes the notification shown last off the screen, if it is still open.
    void Close();
    // The server's id of the notification shown last and still open; 0 when there is none.
    quint32 CurrentId() const { return FCurrent; }

signals:
    // The user asked to see the window (the action, or a click on the notification).
    void ShowRequested();
    // Any action on one of this notifier's notifications, with the server's id.
    void ActionInvoked(quint32 Id, const QString& Action);
    // One of this notifier's notifications went: 1 expired, 2 dismissed by the user, 3 closed
    // by Close, 4 other.
    void Closed(quint32 Id, quint32 Reason);
    // A German sentence: the notification could not be shown.
    void Failed(const QString& Message);

private Q_SLOTS:
    // The server's signals, for every client: only this notifier's ids count.
    void OnActionInvoked(uint Id, const QString& Action);
    void OnClosed(uint Id, uint Reason);

private:
    void Connect();
    QString FBusName; // the connection's name, to find it again
    quint32 FCurrent = 0;
    std::set<quint32> FOwn; // ids shown and not yet closed
};

// The summary for new revisions: "1 Projekt hat neue Revisionen",
// "3 Projekte haben neue Revisionen".
QString NewRevisionsText(int Projects);
