// The folder list on the page "Verzeichnis", run under the C locale: German columns, sizes and
// dates, sorting by the real values, the theme's icons, and what opening an entry that nothing
// can open tells the user.
#include "fm_main.h"
#include "kiv_folderlist.h"
#include "kiv_opener.h"
#include "kiv_statusbar.h"
#include "kiv_test_folders.h"
#include "kiv_test_prompter.h"

#include "kiv_prompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <memory>

class TestAppFolderList : public QObject {
    Q_OBJECT
    TTestFolders FFolders;
    TTestPrompter FPrompter;
    QTemporaryDir FWork;
    QString FDir;
    std::unique_ptr<TfmMain> W;

    void MakeFile(const QString& Name, qint64 Size, const QDateTime& Time) {
        QFile F(FDir + u'/' + Name);
        QVERIFY(F.open(QIODevice::WriteOnly));
        QVERIFY(F.resize(Size));
        QVERIFY(F.setFileTime(Time, QFileDevice::FileModificationTime));
    }
    QFileSystemModel* Model() { return W->lvShellModel; }
    QModelIndex Entry(const QString& Name, int Column = 0) {
        const QModelIndex Root = W->lvShell->rootIndex();
        for (int r = 0; r < Model()->rowCount(Root); ++r)
            if (Model()->fileName(Model()->index(r, 0, Root)) == Name)
                return Model()->index(r, Column, Root);
        return {};
    }
    QString Text(const QString& Name, int Column) {
        return Model()->data(Entry(Name, Column), Qt::DisplayRole).toString();
    }
    // The files in the order the list shows them.
    QStringList FileOrder() {
        QStringList R;
        const QModelIndex Root = W->lvShell->rootIndex();
        for (int r = 0; r < Model()->rowCount(Root); ++r) {
            const QModelIndex I = Model()->index(r, 0, Root);
            if (!Model()->isDir(I))
                R << Model()->fileName(I);
        }
        return R;
    }
    QString Script(const QString& Name, const QString& Body) {
        const QString Path = FWork.path() + u'/' + Name;
        QFile F(Path);
        if (!F.open(QIODevice::WriteOnly))
            return {};
        F.write("#!/bin/sh\n" + Body.toUtf8() + "\n");
        F.close();
        F.setPermissions(F.permissions() | QFileDevice::ExeOwner);
        return Path;
    }

private slots:
    void initTestCase() {
        QVERIFY(FWork.isValid() && FFolders.Apply());
        SetPrompter(&FPrompter);
        qInfo("system locale: %s", qPrintable(QLocale::system().name()));
        FDir = FWork.path() + "/wc";
        QVERIFY(QDir().mkpath(FDir + "/unterordner"));
        const QDateTime Dec(QDate(2026, 12, 9), QTime(14, 3));
        // As text "10,0 KB" < "2,0 MB" < "9,0 KB" < "900 Bytes", and "09.12.2026" < "10.01.2025":
        // sorting by the texts would get both orders wrong.
        MakeFile("a-klein.dat", 900, QDateTime(QDate(2026, 3, 15), QTime(10, 0)));
        MakeFile("b-neun.dat", 9 * 1024, QDateTime(QDate(2025, 1, 10), QTime(8, 0)));
        MakeFile("c-zehn.dat", 10 * 1024, QDateTime(QDate(2024, 6, 1), QTime(9, 30)));
        MakeFile("d-gross.dat", 2 * 1024 * 1024, QDateTime(QDate(2026, 1, 2), QTime(23, 59)));
        MakeFile("liesmich.txt", 1536, Dec);
        // Hidden entries, as a working copy has them: never listed (six entries, not eight).
        QVERIFY(QDir().mkpath(FDir + "/.svn/pristine"));
        MakeFile(".versteckt", 10, Dec);
        const QString File =
            FFolders.Data.path() + "/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml";
        QDir().mkpath(QFileInfo(File).path());
        QFile F(File);
        QVERIFY(F.open(QIODevice::WriteOnly));
        F.write("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
                "<SubVersion Beschreibung=\"x\">\r\n  <Projekt Name=\"wc\" Verzeichnis=\"" +
                FDir.toUtf8() + "\"/>\r\n</SubVersion>\r\n");
    }
    void init() {
        FPrompter.Reset();
        W = std::make_unique<TfmMain>();
        W->show();
        QTRY_VERIFY(W->RegistryLoaded());
        W->lvDir->SetSelected(W->lvDir->XMLItems()->TopNode(0)->ChildNode(0));
        W->pag1->setCurrentWidget(W->tab2);
        QVERIFY(Model());
        QTRY_COMPARE(Model()->rowCount(W->lvShell->rootIndex()), 6);
        // The gatherer fills in sizes and times after the names.
        QTRY_COMPARE(Text("liesmich.txt", 1), QStringLiteral("1,5 KB"));
    }
    void cleanup() {
        W.reset();
    }
    void cleanupTestCase() { SetPrompter(nullptr); }

    void germanColumns() {
        QStringList Headers;
        for (int c = 0; c < W->lvShell->header()->count(); ++c)
            Headers << W->lvShell->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(Headers, QStringList({"Name", "Größe", "Typ", "Änderungsdatum"}));
        QCOMPARE(Text("liesmich.txt", 3), QStringLiteral("09.12.2026 14:03"));
        QCOMPARE(Text("d-gross.dat", 3), QStringLiteral("02.01.2026 23:59"));
        QCOMPARE(Text("a-klein.dat", 1), QStringLiteral("900 Bytes"));
        QCOMPARE(Text("d-gross.dat", 1), QStringLiteral("2,0 MB"));
        QCOMPARE(Text("liesmich.txt", 2), QStringLiteral("TXT-Datei"));
        QCOMPARE(Text("unterordner", 2), QStringLiteral("Ordner"));
        QCOMPARE(Text("unterordner", 1), QString());
        // The unit steps, where rounding meets the next one.
        QCOMPARE(GermanFileSize(1), QStringLiteral("1 Byte"));
        QCOMPARE(GermanFileSize(1023), QStringLiteral("1023 Bytes"));
        QCOMPARE(GermanFileSize(1024), QStringLiteral("1,0 KB"));
        QCOMPARE(GermanFileSize(1024 * 1024 - 1), QStringLiteral("1,0 MB"));
        QCOMPARE(GermanFileSize(qint64(5) << 40), QStringLiteral("5,0 TB"));
    }

    void sortsByTheRealValues() {
        W->lvShell->sortByColumn(1, Qt::AscendingOrder);
        QTRY_COMPARE(FileOrder(), QStringList({"a-klein.dat", "liesmich.txt", "b-neun.dat",
                                               "c-zehn.dat", "d-gross.dat"}));
        W->lvShell->sortByColumn(1, Qt::DescendingOrder);
        QTRY_COMPARE(FileOrder().first(), QStringLiteral("d-gross.dat"));
        W->lvShell->sortByColumn(3, Qt::AscendingOrder);
        QTRY_COMPARE(FileOrder(), QStringList({"c-zehn.dat", "b-neun.dat", "d-gross.dat",
                                               "a-klein.dat", "liesmich.txt"}));
    }

    void themeIcons() {
        const QIcon Folder = Model()->data(Entry("unterordner"), Qt::DecorationRole).value<QIcon>();
        const QIcon Text = Model()->data(Entry("liesmich.txt"), Qt::DecorationRole).value<QIcon>();
        QVERIFY(!Folder.isNull() && !Text.isNull());
        if (!QIcon::hasThemeIcon("folder"))
            QSKIP("no icon theme with file icons installed");
        QCOMPARE(Folder.name(), QStringLiteral("folder"));
        QVERIFY2(Text.name().startsWith("text-"), qPrintable(Text.name()));
        QVERIFY(Text.name() != Folder.name());
    }

    void entriesThatCannotBeOpened() {
        const QString Args = FWork.path() + "/args";
        QSignalSpy Failed(W->FolderOpener, &TFolderOpener::Failed);
        // What xdg-open answers when nothing handles the file; opened by a double click.
        W->FolderOpener->Command = {Script("kein-programm.sh", "echo \"$@\" > " + Args + "; exit 3")};
        const QRect Row = W->lvShell->visualRect(Entry("liesmich.txt"));
        // A widget's double click as the system delivers it: press, release, double click.
        QTest::mouseClick(W->lvShell->viewport(), Qt::LeftButton, {}, Row.center());
        QTest::mouseDClick(W->lvShell->viewport(), Qt::LeftButton, {}, Row.center());
        QTRY_COMPARE(FPrompter.Infos,
                     QStringList("Für \"liesmich.txt\" ist kein Programm zum Öffnen eingerichtet."));
        QFile A(Args);
        QVERIFY(A.open(QIODevice::ReadOnly));
        QCOMPARE(A.readAll().trimmed(), (FDir + "/liesmich.txt").toUtf8());

        // A launcher that is not there; opened with Enter.
        FPrompter.Reset();
        W->FolderOpener->Command = {FWork.path() + "/gibt-es-nicht"};
        W->lvShell->setFocus();
        W->lvShell->setCurrentIndex(Entry("b-neun.dat"));
        QTest::keyClick(W->lvShell, Qt::Key_Return);
        QTRY_COMPARE(FPrompter.Infos.size(), 1);
        QVERIFY(FPrompter.Infos.first().startsWith("\"b-neun.dat\" kann nicht geöffnet werden"));

        // A file gone since it was listed.
        FPrompter.Reset();
        W->FolderOpener->Open(FDir + "/weg.dat");
        QCOMPARE(FPrompter.Infos, QStringList("\"weg.dat\" gibt es nicht mehr."));

        // Success says nothing.
        FPrompter.Reset();
        const int Before = Failed.size();
        W->FolderOpener->Command = {Script("oeffnet.sh", "exit 0")};
        emit W->lvShell->activated(Entry("c-zehn.dat"));
        QTest::qWait(500);
        QCOMPARE(FPrompter.Infos, QStringList());
        QCOMPARE(Failed.size(), Before);
    }

    // With no program to open anything (no xdg-open, no gio on the search path), each way to
    // open something says so: the directory field's button, a subfolder in the list, and the
    // page an export wrote.
    void nothingToOpenWith() {
        const QByteArray Path = qgetenv("PATH"), Browser = qgetenv("BROWSER");
        const auto Restore = qScopeGuard([&] {
            qputenv("PATH", Path);
            if (!Browser.isNull())
                qputenv("BROWSER", Browser);
        });
        QVERIFY(QDir().mkpath(FWork.path() + "/leer"));
        qputenv("PATH", QFile::encodeName(FWork.path() + "/leer"));
        qunsetenv("BROWSER");
        QVERIFY(W->btnOpenVerzeichnis->isEnabled());
        W->btnOpenVerzeichnis->click();
        QTRY_COMPARE(FPrompter.Infos,
                     QStringList("Der Ordner \"wc\" kann nicht geöffnet werden: es "
                                 "ist kein Dateimanager eingerichtet."));
        FPrompter.Reset();
        const QRect Row = W->lvShell->visualRect(Entry("unterordner"));
        QTest::mouseClick(W->lvShell->viewport(), Qt::LeftButton, {}, Row.center());
        QTest::mouseDClick(W->lvShell->viewport(), Qt::LeftButton, {}, Row.center());
        QTRY_COMPARE(FPrompter.Infos,
                     QStringList("Der Ordner \"unterordner\" kann nicht geöffnet werden: es ist "
                                 "kein Dateimanager eingerichtet."));
        FPrompter.Reset();
        const QString Page = FWork.path() + "/projekte.html";
        {
            QFile F(Page);
            QVERIFY(F.open(QIODevice::WriteOnly));
            F.write("<html></html>");
        }
        W->StatusBar1->ShowWritten(Page);
        QLabel* Status = W->StatusBar1->MessageLabel();
        const QString Html = Status->text();
        const qsizetype At = Html.indexOf(QStringLiteral("href=\""));
        QVERIFY(At >= 0);
        const QString Link = Html.mid(At + 6, Html.indexOf(u'"', At + 6) - At - 6);
        emit Status->linkActivated(Link);
        QTRY_COMPARE(
            FPrompter.Infos,
            QStringList("Für \"projekte.html\" ist kein Programm zum Öffnen eingerichtet."));
    }
};

QTEST_MAIN(TestAppFolderList)
#include "tst_app_folderlist.moc"
