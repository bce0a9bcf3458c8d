// The main window's place, size, splitter, page and selection between two windows in one
// process, with private folders; and that whatever is stored, the window lands inside a screen.
// Run a second time by ctest with QT_SCALE_FACTOR=2 and with two screens.
#include "kiv_test_folders.h"
#include "kiv_test_prompter.h"
#include "fm_main.h"
#include "kiv_windowstate.h"

#include "kiv_prompts.h"
#include "kiv_single.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidgetItemIterator>

#include <memory>

namespace {
const char* const Registry =
    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
    "<SubVersion Beschreibung=\"x\">\r\n"
    "  <ProjektGruppe Name=\"Kunden\">\r\n"
    "    <Projekt Name=\"Alpha\" Verzeichnis=\"/nix/alpha\"/>\r\n"
    "    <Projekt Name=\"Beta\" Verzeichnis=\"/nix/beta\"/>\r\n"
    "  </ProjektGruppe>\r\n"
    "  <Projekt Name=\"Epsilon\" Verzeichnis=\"/nix/eps\"/>\r\n"
    "</SubVersion>\r\n";

QByteArray Bytes(const QString& File) {
    QFile F(File);
    return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
}

// The window with its frame lies inside the available area of one screen.
bool Inside(const QWidget* W, QString* Why) {
    const QRect Outer = W->frameGeometry();
    for (QScreen* S : QGuiApplication::screens())
        if (S->availableGeometry().contains(Outer))
            return true;
    *Why = QStringLiteral("frame (%1,%2 %3x%4) outside every screen")
               .arg(Outer.x())
               .arg(Outer.y())
               .arg(Outer.width())
               .arg(Outer.height());
    return false;
}
} // namespace

class TestAppWindowState : public QObject {
    Q_OBJECT
    TTestFolders FFolders;
    TTestPrompter FPrompter;

    QString RegistryPath() const {
        return FFolders.Data.path() + "/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml";
    }
    std::unique_ptr<TfmMain> Open(bool First = true) {
        auto W = std::make_unique<TfmMain>();
        W->show();
        if (First) {
            if (!QTest::qWaitFor([&] { return W->RegistryLoaded(); }))
                qWarning("registry not loaded");
        } else {
            QTest::qWait(50);
        }
        return W;
    }
    TXMLTreeNode* Node(TfmMain& W, const QString& Caption) {
        for (QTreeWidgetItemIterator It(W.lvDir); *It; ++It)
            if ((*It)->text(0) == Caption)
                return static_cast<TXMLTreeNode*>(*It);
        return nullptr;
    }
    // Stores Geometry as a run would that ended with the window there.
    void StoreGeometry(const QRect& Geometry) {
        auto W = Open();
        W->setGeometry(Geometry);
        W->close();
    }

private slots:
    void initTestCase() {
        QVERIFY(FFolders.Apply());
        SetPrompter(&FPrompter);
        QVERIFY(TWindowState::FileName().startsWith(FFolders.Config.path() + "/KelvaroSoft/"));
    }
    void init() {
        FPrompter.Reset();
        QFile::remove(TWindowState::FileName());
        QDir().mkpath(QFileInfo(RegistryPath()).path());
        QFile F(RegistryPath());
        QVERIFY(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
        F.write(Registry);
    }
    void cleanupTestCase() { SetPrompter(nullptr); }

    // The design's size at the first start, centred, as far as the screen allows.
    void firstStartFitsTheScreen() {
        auto W = Open();
        const QRect Avail = W->screen()->availableGeometry();
        QString Why;
        QVERIFY2(Inside(W.get(), &Why), qPrintable(Why));
        const QRect Outer = W->frameGeometry();
        if (Outer.width() < Avail.width() && Outer.height() < Avail.height()) {
            QCOMPARE(W->size(), QSize(751, 446));
            QVERIFY(qAbs(Outer.center().x() - Avail.center().x()) <= 2);
            QVERIFY(qAbs(Outer.center().y() - Avail.center().y()) <= 2);
        } else {
            // Shrunk (a small screen, or a scale factor of 2) rather than off the screen.
            QVERIFY(W->width() <= 751 && W->height() <= 446);
        }
    }

    void rememberedBetweenStarts() {
        QByteArray Plain;
        {
            auto W = Open();
            W->close();
            Plain = Bytes(RegistryPath());
        }
        QVERIFY(!Plain.isEmpty());
        QFile::remove(TWindowState::FileName());
        const QRect Avail = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect Geometry(Avail.left() + 30, Avail.top() + 40, std::min(560, Avail.width() - 40),
                             std::min(300, Avail.height() - 50));
        int Tree = 0;
        {
            auto W = Open();
            W->setGeometry(Geometry);
            QTRY_COMPARE(W->geometry(), Geometry);
            W->Splitter1->setSizes({150, Geometry.width() - 150 - W->Splitter1->handleWidth()});
            Tree = W->Splitter1->sizes().first();
            W->lvDir->SetSelected(Node(*W, "Beta"));
            W->pag1->setCurrentIndex(1);
            W->close();
        }
        QVERIFY(QFile::exists(TWindowState::FileName()));
        // The registry holds nothing of it.
        QCOMPARE(Bytes(RegistryPath()), Plain);

        auto W = Open();
        QCOMPARE(W->geometry(), Geometry);
        QCOMPARE(W->Splitter1->sizes().first(), Tree);
        QVERIFY(W->lvDir->Selected());
        QCOMPARE(W->lvDir->Selected(), Node(*W, "Beta"));
        QCOMPARE(W->edVerzeichnis->text(), QStringLiteral("/nix/beta"));
        QCOMPARE(W->pag1->currentIndex(), 1);
        // Beta goes from the registry: its group is what is left of the path.
        W->close();
        W.reset();
        QString Text = QString::fromLatin1(Bytes(RegistryPath()));
        Text.replace(QStringLiteral("Name=\"Beta\""), QStringLiteral("Name=\"Gamma\""));
        QFile F(RegistryPath());
        QVERIFY(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
        F.write(Text.toLatin1());
        F.close();
        W = Open();
        QCOMPARE(W->lvDir->Selected(), Node(*W, "Kunden"));
    }

    // A second instance quits at once and leaves the first one's file alone.
    void secondInstanceWritesNothing() {
        auto First = Open();
        First->setGeometry(First->geometry().adjusted(10, 10, -10, -10));
        QVERIFY(!QFile::exists(TWindowState::FileName()));
        {
            auto Second = Open(false);
            QVERIFY(!Second->SingleInstance1->FirstInstance());
            Second->close();
        }
        QVERIFY(!QFile::exists(TWindowState::FileName()));
        First->close();
        QVERIFY(QFile::exists(TWindowState::FileName()));
    }

    void storedPlaceOutsideTheScreen_data() {
        QTest::addColumn<QRect>("Stored");
        const QRect A = QGuiApplication::primaryScreen()->availableGeometry();
        QTest::newRow("far right") << QRect(A.right() + 2000, A.top() + 50, 500, 300);
        QTest::newRow("title bar above the top") << QRect(A.left() + 50, A.top() - 200, 500, 300);
        QTest::newRow("left and below") << QRect(A.left() - 450, A.bottom() - 100, 500, 300);
        QTest::newRow("larger than the screen")
            << QRect(A.left() - 10, A.top() - 10, A.width() * 3, A.height() * 3);
    }
    void storedPlaceOutsideTheScreen() {
        QFETCH(QRect, Stored);
        StoreGeometry(Stored);
        auto W = Open();
        QString Why;
        QVERIFY2(Inside(W.get(), &Why), qPrintable(Why));
        // Only what does not fit changes.
        if (Stored.width() < W->screen()->availableGeometry().width())
            QCOMPARE(W->size(), Stored.size());
    }

    // With two screens, a window stored on the second one stays there.
    void staysOnItsScreen() {
        const QList<QScreen*> Screens = QGuiApplication::screens();
        if (Screens.size() < 2)
            QSKIP("one screen only (ctest runs this again with two)");
        QScreen* Second = Screens.at(1) == QGuiApplication::primaryScreen() ? Screens.at(0)
                                                                            : Screens.at(1);
        const QRect A = Second->availableGeometry();
        // Partly below the second screen's bottom edge, its centre still on it.
        StoreGeometry(QRect(A.left() + 100, A.bottom() - 250, 600, 350));
        auto W = Open();
        QCOMPARE(W->screen(), Second);
        QVERIFY(A.contains(W->frameGeometry()));
        QCOMPARE(W->geometry().left(), A.left() + 100);
        QCOMPARE(W->size(), QSize(600, 350));
    }

    void placeOnScreen() {
        const QList<QRect> Screens = {QRect(0, 0, 1920, 1040), QRect(1920, 0, 1280, 1024)};
        const QMargins Frame(3, 30, 3, 3);
        // Centre on the second screen, partly off its bottom: moved up there, not to the
        // primary one.
        QCOMPARE(PlaceOnScreen(QRect(2400, 750, 700, 400), Frame, Screens, 0),
                 QRect(2400, 1024 - 3 - 400, 700, 400));
        // Centre below the second screen: onto the primary one, as far down as it goes.
        QCOMPARE(PlaceOnScreen(QRect(2400, 900, 700, 400), Frame, Screens, 0),
                 QRect(1920 - 3 - 700, 1040 - 3 - 400, 700, 400));
        // The title bar above the top edge comes down to it.
        QCOMPARE(PlaceOnScreen(QRect(100, 10, 700, 400), Frame, Screens, 0),
                 QRect(100, 30, 700, 400));
        // Centre on no screen: the primary one, here the second.
        QCOMPARE(PlaceOnScreen(QRect(-5000, -5000, 700, 400), Frame, Screens, 1),
                 QRect(1920 + 3, 30, 700, 400));
        // Too large for the screen that holds its centre: as large as that screen.
        QCOMPARE(PlaceOnScreen(QRect(1930, 10, 2000, 1500), Frame, Screens, 0),
                 QRect(1920 + 3, 30, 1280 - 6, 1024 - 33));
        // Inside already: unchanged.
        QCOMPARE(PlaceOnScreen(QRect(200, 200, 751, 446), Frame, Screens, 0),
                 QRect(200, 200, 751, 446));
    }
};

QTEST_MAIN(TestAppWindowState)
#include "tst_app_windowstate.moc"
