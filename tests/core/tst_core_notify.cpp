// Desktop notifications on a private session bus, with a notification server that the test
// puts on it: what arrives there, and what the server's signals make of it on our side.
#include "kiv_test_dbus.h"

#include "kiv_notify.h"

#include <QSignalSpy>
#include <QTest>

using namespace kivtest;

class TestCoreNotify : public QObject {
    Q_OBJECT
    TPrivateBus* FBus = nullptr;
    TNotificationServer* FServer = nullptr;

private slots:
    void init() {
        FBus = new TPrivateBus;
        if (!FBus->Running())
            QSKIP(qPrintable(FBus->Why()));
        FServer = new TNotificationServer(FBus->Connect(QStringLiteral("server")));
        QVERIFY(FServer->Register());
    }
    void cleanup() {
        delete FServer;
        FServer = nullptr;
        delete FBus;
        FBus = nullptr;
    }

    void notificationArrivesAndReplacesItsPredecessor() {
        TkivNotifier N(FBus->Connect(QStringLiteral("client")));
        QVERIFY(N.Available());
        N.Notify(NewRevisionsText(3), QStringLiteral("alpha: r12 anna – Fehler behoben"));
        QTRY_COMPARE(FServer->Calls.size(), size_t(1));
        const auto& C = FServer->Calls.front();
        QCOMPARE(C.AppName, QStringLiteral("kivSubversion"));
        QCOMPARE(C.Summary, QStringLiteral("3 Projekte haben neue Revisionen"));
        QCOMPARE(C.Body, QStringLiteral("alpha: r12 anna – Fehler behoben"));
        QCOMPARE(C.ReplacesId, 0u);
        // A click on the notification and its one button both ask for the window.
        QCOMPARE(C.Actions, (QStringList{"default", "Fenster anzeigen"}));
        QCOMPARE(C.Hints.value("desktop-entry").toString(),
                 QStringLiteral("de.kelvarosoft.kivSubversion"));
        QCOMPARE(C.Timeout, -1);
        QTRY_COMPARE(N.CurrentId(), 41u);

        N.Notify(NewRevisionsText(1), QString());
        QTRY_COMPARE(FServer->Calls.size(), size_t(2));
        QCOMPARE(FServer->Calls.back().ReplacesId, 41u);
        QCOMPARE(FServer->Calls.back().Summary, QStringLiteral("1 Projekt hat neue Revisionen"));
    }

    void theServersSignalsReachTheSender() {
        TkivNotifier N(FBus->Connect(QStringLiteral("client")));
        QSignalSpy Show(&N, &TkivNotifier::ShowRequested);
        QSignalSpy Actions(&N, &TkivNotifier::ActionInvoked);
        QSignalSpy Closed(&N, &TkivNotifier::Closed);
        N.Notify(NewRevisionsText(2), QString());
        QTRY_COMPARE(N.CurrentId(), 41u);

        // Another program's notification is none of ours.
        FServer->SendAction(7, QStringLiteral("default"));
        FServer->SendAction(41, QStringLiteral("default"));
        QTRY_COMPARE(Show.size(), 1);
        QCOMPARE(Actions.size(), 1);
        QCOMPARE(Actions.first().at(0).toUInt(), 41u);

        // Dismissed by the user: the next one is a new notification, not a replacement.
        FServer->SendClosed(7, 2);
        FServer->SendClosed(41, 2);
        QTRY_COMPARE(Closed.size(), 1);
        QCOMPARE(Closed.first().at(1).toUInt(), 2u);
        QCOMPARE(N.CurrentId(), 0u);
        N.Notify(NewRevisionsText(2), QString());
        QTRY_COMPARE(FServer->Calls.size(), size_t(2));
        QCOMPARE(FServer->Calls.back().ReplacesId, 0u);
        QTRY_COMPARE(N.CurrentId(), 42u);

        // Taken off by the program.
        N.Close();
        QTRY_COMPARE(FServer->Closes, std::vector<uint>{42});
        QTRY_COMPARE(Closed.size(), 2);
        QCOMPARE(Closed.last().at(1).toUInt(), 3u);
    }

    void noServerIsToldNotThrown() {
        QVERIFY(QDBusConnection(QStringLiteral("server"))
                    .unregisterService(QStringLiteral("org.freedesktop.Notifications")));
        TkivNotifier N(FBus->Connect(QStringLiteral("client")));
        QSignalSpy Failed(&N, &TkivNotifier::Failed);
        QVERIFY(!N.Available());
        N.Notify(NewRevisionsText(3), QString());
        QTRY_COMPARE(Failed.size(), 1);
        QVERIFY(Failed.first().first().toString().startsWith("Keine Benachrichtigung möglich"));
        QCOMPARE(N.CurrentId(), 0u);
    }
};

QTEST_GUILESS_MAIN(TestCoreNotify)
#include "moc_kiv_test_dbus.cpp"
#include "tst_core_notify.moc"
