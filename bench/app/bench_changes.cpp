// The changes window on a copy with 10,000 changed files (and 500 unversioned ones): a timer
// that should fire every 5 ms records the largest gap of the window's event loop while the
// window opens and its list fills from a fresh "svn status", while the unversioned files are
// shown and hidden, every box is checked and unchecked, and the list is sorted by each column.
// Target: no gap of 100 ms or more. The copy is made once in a temporary folder.
//   bench_changes [files]
#include "bench_registry.h"
#include "fm_changes.h"
#include "fm_main.h"
#include "kiv_appcore.h"
#include "kiv_changesmodel.h"
#include "kiv_folders.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <functional>

namespace {

bool Run(const QString& Program, const QStringList& Args, const QString& Dir = QString()) {
    QProcess P;
    P.setWorkingDirectory(Dir);
    P.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    P.setStandardOutputFile(QProcess::nullDevice());
    P.start(Program, Args);
    return P.waitForFinished(600000) && P.exitCode() == 0;
}

bool Write(const QString& Path, const QByteArray& Bytes) {
    QFile F(Path);
    return F.open(QIODevice::WriteOnly | QIODevice::Truncate) && F.write(Bytes) == Bytes.size();
}

// The largest gap between the ticks of a 5 ms timer while Step runs, until Done says so.
struct TGap {
    QElapsedTimer Clock;
    qint64 Last = 0, Max = 0;
    QTimer Tick;
    TGap() {
        Tick.setInterval(5);
        QObject::connect(&Tick, &QTimer::timeout, [this] {
            const qint64 Now = Clock.nsecsElapsed();
            Max = std::max(Max, Now - Last);
            Last = Now;
        });
    }
    double Measure(const std::function<void()>& Step, const std::function<bool()>& Done,
                   double* Took = nullptr) {
        Clock.start();
        Last = 0;
        Max = 0;
        Tick.start();
        // The step runs from the event loop, as a click's handler would.
        QTimer::singleShot(0, Step);
        QTest::qWait(20);
        while (!Done() && Clock.elapsed() < 300000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qWait(50); // what the last event queued
        Tick.stop();
        if (Took)
            *Took = Clock.nsecsElapsed() / 1e6;
        return Max / 1e6;
    }
};

} // namespace

int main(int argc, char** argv) {
    const int Files = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    QTemporaryDir Data, Runtime, Work;
    UseBenchFolders(Data.path(), Runtime.path());
    qputenv("XDG_CACHE_HOME", (Data.path() + "/cache").toLocal8Bit());
    const QString W = Work.path();
    std::printf("making a copy with %d files …\n", Files);
    std::fflush(stdout);
    QDir().mkpath(W + "/imp");
    for (int i = 0; i < Files; ++i) {
        const QString Sub = QStringLiteral("%1/imp/ordner%2").arg(W).arg(i / 500, 2, 10, QChar(u'0'));
        if (i % 500 == 0)
            QDir().mkpath(Sub);
        Write(QStringLiteral("%1/datei%2.txt").arg(Sub).arg(i, 5, 10, QChar(u'0')), "eins\n");
    }
    if (!Run("svnadmin", {"create", W + "/repo"}) ||
        !Run("svn", {"import", "-q", "-m", "init", W + "/imp", "file://" + W + "/repo"}) ||
        !Run("svn", {"checkout", "-q", "file://" + W + "/repo", W + "/wc"})) {
        std::fprintf(stderr, "the copy could not be made\n");
        return 1;
    }
    for (int i = 0; i < Files; ++i)
        Write(QStringLiteral("%1/wc/ordner%2/datei%3.txt")
                  .arg(W)
                  .arg(i / 500, 2, 10, QChar(u'0'))
                  .arg(i, 5, 10, QChar(u'0')),
              "zwei\n");
    for (int i = 0; i < 500; ++i)
        Write(QStringLiteral("%1/wc/neu%2.txt").arg(W).arg(i), "neu\n");
    const QString Folder = Data.path() + "/KelvaroSoft/Subversion";
    QDir().mkpath(Folder);
    Write(Folder + "/SubVersionVerzeichnisse.xml",
          "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<SubVersion Beschreibung=\"x\">\r\n"
          "<Projekt Name=\"gross\" Verzeichnis=\"" +
              (W + "/wc").toLocal8Bit() + "\"/>\r\n</SubVersion>\r\n");

    TkivApplication App(argc, argv);
    QCoreApplication::setApplicationName("kivSubversion");
    TfmMain Main;
    Main.show();
    if (!QTest::qWaitForWindowExposed(&Main, 5000))
        return 1;
    while (!Main.RegistryLoaded())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    TXMLTreeNode* Project = Main.lvDir->XMLItems()->TopNode(0)->ChildNode(0);
    const QString Copy = ProjectFolder(W + "/wc");

    TGap Gap;
    double Worst = 0, Took = 0;
    // Measures first, then prints: the time is known only after the measure.
    auto Report = [&](const char* What, const std::function<void()>& Step,
                      const std::function<bool()>& Done) {
        const double Ms = Gap.Measure(Step, Done, &Took);
        std::printf("%-52s largest gap %6.1f ms   (%.0f ms in all)\n", What, Ms, Took);
        Worst = std::max(Worst, Ms);
    };
    TfmChanges* C = nullptr;
    auto Settled = [&] {
        C = Main.ChangesWindow(Copy);
        return C && !C->Working() && !C->Model->Filling() && C->Model->rowCount() > 0;
    };
    Report("opening, a fresh status, the list filled", [&] { Main.ShowChanges(Project); },
           Settled);
    if (!C || C->Model->rowCount() != Files) {
        std::fprintf(stderr, "the list holds %d rows, not %d\n", C ? C->Model->rowCount() : -1,
                     Files);
        return 1;
    }
    Report("reading again (F5)", [&] { C->btnNeuLesenClick(); }, Settled);
    Report("showing the unversioned ones", [&] { C->cbUnversioniert->click(); },
           [&] { return C->Model->rowCount() == Files + 500; });
    Report("hiding them again", [&] { C->cbUnversioniert->click(); },
           [&] { return C->Model->rowCount() == Files; });
    Report(
        "unchecking and checking every box",
        [&] {
            C->Model->SetAllChecked(false);
            QTimer::singleShot(0, [&] { C->Model->SetAllChecked(true); });
        },
        [&] { return C->Model->CheckedCount() == Files; });
    for (int Col = 0; Col < TChangesModel::ColumnCount; ++Col) {
        bool Sorted = false;
        const QByteArray What = "sorting by column " + QByteArray::number(Col);
        Report(
            What.constData(),
            [&] {
                C->lvAenderungen->sortByColumn(Col, Qt::DescendingOrder);
                Sorted = true;
            },
            [&] { return Sorted; });
    }
    Report("closing the window", [&] { C->reject(); }, [&] { return !Main.ChangesWindow(Copy); });
    std::printf("files: %d; largest event-loop gap: %.1f ms (target < 100 ms)\n", Files, Worst);
    return Worst < 100 ? 0 : 2;
}
