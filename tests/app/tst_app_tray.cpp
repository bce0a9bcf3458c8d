// The monitor's tray icon. Without a tray (offscreen) it never shows. With one, it is a
// StatusNotifierItem on a private session bus whose tray host (the watcher) the test serves
// from a thread of its own: the icon comes and goes with the monitor, says the count, and a
// click on it over the bus brings the window up.
#include "kiv_test_dbus.h"

#include "kiv_tray.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <cstdio>
#include <mutex>

using namespace kivtest;

namespace {

bool WithTray() {
    return qEnvironmentVariableIsSet("KIV_TRAY_WATCHER");
}

} // namespace

// The tray host's side: org.kde.StatusNotifierWatcher, as a desktop panel offers it.
class TTrayWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ HostRegistered)
    Q_PROPERTY(int ProtocolVersion READ Protocol)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ Items)
public:
    bool HostRegistered() const { return true; }
    int Protocol() const { return 0; }
    QStringList Items() const {
        const std::lock_guard<std::mutex> L(Lock);
        return FItems;
    }
    mutable std::mutex Lock;

public slots:
    void RegisterStatusNotifierItem(const QString& Service, const QDBusMessage& M) {
        const std::lock_guard<std::mutex> L(Lock);
        // A bare object path names the item at the caller's own name.
        FItems << (Service.startsWith(u'/') ? M.service() : Service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    QStringList FItems;
};

class TestAppTray : public QObject {
    Q_OBJECT
public:
    TPrivateBus* Bus = nullptr;
    TTrayWatcher* Watcher = nullptr;

private:
    // A call to the tray item, answered while this thread's event loop runs (the item is
    // served on it).
    QDBusMessage CallItem(const QString& Service, const QString& Interface, const QString& Method,
                          const QVariantList& Args) {
        QDBusConnection C(QStringLiteral("prober"));
        QDBusMessage M = QDBusMessage::createMethodCall(
            Service, QStringLiteral("/StatusNotifierItem"), Interface, Method);
        M.setArguments(Args);
        QDBusPendingCallWatcher W(C.asyncCall(M));
        if (!QTest::qWaitFor([&] { return W.isFinished(); }, 10000))
            return QDBusMessage();
        return W.reply();
    }
    QString ItemTitle(const QString& Service) {
        const QDBusMessage R = CallItem(
            Service, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
            {QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("ToolTip")});
        if (R.arguments().isEmpty())
            return QString();
        // (icon name, icon images a(iiay), title, text)
        // Const: the reading overloads of beginStructure and beginArray.
        const QDBusArgument A =
            R.arguments().first().value<QDBusVariant>().variant().value<QDBusArgument>();
        QString Icon, Title, Text;
        A.beginStructure();
        A >> Icon;
        A.beginArray();
        while (!A.atEnd()) {
            int W = 0, H = 0;
            QByteArray Data;
            A.beginStructure();
            A >> W >> H >> Data;
            A.endStructure();
        }
        A.endArray();
        A >> Title >> Text;
        A.endStructure();
        return Title;
    }

private slots:
    void theCountIsDrawnAndSaid() {
        TkivTray T(nullptr);
        T.SetCount(3);
        QCOMPARE(T.ToolTip(), QStringLiteral("kivSubversion: 3 Projekte haben neue Revisionen"));
        // The disc is drawn in the lower right corner; without news the plain icon shows.
        const QImage With = T.Icon().pixmap(32, 32).toImage();
        const QColor Corner = With.pixelColor(26, 26);
        QVERIFY2(Corner.red() > 150 && Corner.green() < 90, qPrintable(Corner.name()));
        T.SetCount(0);
        QCOMPARE(T.ToolTip(), QStringLiteral("kivSubversion: keine neuen Revisionen"));
        QVERIFY(T.Icon().pixmap(32, 32).toImage() != With);
        T.SetCount(250);
        QCOMPARE(T.Count(), 250);
    }

    void noTrayNoIcon() {
        if (WithTray())
            QSKIP("a tray is there");
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        TkivTray T(nullptr);
        T.SetMonitorOn(true);
        T.SetCount(2);
        QVERIFY(!T.IsShown());
    }

    void theIconFollowsTheMonitorAndAClickShowsTheWindow() {
        if (!WithTray())
            QSKIP("no tray here (run with a private bus and a tray host: tst_app_tray_dbus)");
        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        QWidget Window;
        TkivTray T(&Window);
        QSignalSpy Shown(&T, &TkivTray::ShowRequested);
        QTest::qWait(200);
        QVERIFY(!T.IsShown());
        QVERIFY(Watcher->Items().isEmpty());

        T.SetMonitorOn(true);
        T.SetCount(3);
        QVERIFY(T.IsShown());
        QTRY_COMPARE(Watcher->Items().size(), 1);
        const QString Item = Watcher->Items().first();
        QTRY_COMPARE(ItemTitle(Item),
                     QStringLiteral("kivSubversion: 3 Projekte haben neue Revisionen"));

        // A click in the panel.
        QVERIFY(!Window.isVisible());
        CallItem(Item, QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"),
                 {0, 0});
        QTRY_VERIFY(Window.isVisible());
        QCOMPARE(Shown.size(), 1);

        // The monitor off: the item leaves the bus.
        T.SetMonitorOn(false);
        QVERIFY(!T.IsShown());
        QTRY_VERIFY(
            !QDBusConnection(QStringLiteral("prober")).interface()->isServiceRegistered(Item));
    }
};

int main(int argc, char** argv) {
    // The bus and its tray host must be there before the application looks for a tray.
    TPrivateBus Bus;
    QThread HostThread;
    TTrayWatcher Watcher;
    if (WithTray()) {
        if (!Bus.Running()) {
            std::fprintf(stderr, "%s\n", qPrintable(Bus.Why()));
            return 1;
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", Bus.Address().toLocal8Bit());
        Bus.Connect(QStringLiteral("prober"));
        QDBusConnection Host = Bus.Connect(QStringLiteral("host"));
        HostThread.start();
        Watcher.moveToThread(&HostThread);
        if (!Host.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")) ||
            !Host.registerObject(QStringLiteral("/StatusNotifierWatcher"), &Watcher,
                                 QDBusConnection::ExportAllSlots |
                                     QDBusConnection::ExportAllProperties))
            return 1;
    }
    int Result = 0;
    {
        QApplication App(argc, argv);
        TestAppTray Test;
        Test.Watcher = &Watcher;
        Result = QTest::qExec(&Test, argc, argv);
    }
    HostThread.quit();
    HostThread.wait();
    return Result;
}

#include "moc_kiv_test_dbus.cpp"
#include "tst_app_tray.moc"
