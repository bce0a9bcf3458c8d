// How long the main window takes from the start of the program until it is shown and usable
// with a registry of 10,000 projects (100 groups of 100). Target: under 1 s.
//   bench_app_start [projects]
#include "fm_main.h"
#include "kiv_appcore.h"
#include "bench_registry.h"

#include "kiv_XmlObjects.h"
#include "kiv_single.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

int main(int argc, char** argv) {
    QElapsedTimer Clock;
    Clock.start();
    QTemporaryDir Data, Runtime;
    UseBenchFolders(Data.path(), Runtime.path());
    const int Projects = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    // The fixture, written before the clock that counts.
    WriteBenchRegistry(Data.path(), Projects, true);
    const qint64 FixtureMs = Clock.elapsed();

    QElapsedTimer Start;
    Start.start();
    TkivApplication App(argc, argv);
    QCoreApplication::setApplicationName("kivSubversion");
    double ShownMs = 0, UsableMs = 0, SaveMs = 0;
    {
        TfmMain Main;
        Main.show();
        if (!QTest::qWaitForWindowExposed(&Main, 5000)) {
            std::fprintf(stderr, "window not exposed\n");
            return 1;
        }
        ShownMs = Start.nsecsElapsed() / 1e6;
        while (!Main.RegistryLoaded())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        // Usable: the load is done and the events queued behind it (painting the tree) ran.
        QCoreApplication::processEvents();
        Main.lvDir->viewport()->repaint();
        UsableMs = Start.nsecsElapsed() / 1e6;
        int Nodes = 0;
        for (QTreeWidgetItemIterator It(Main.lvDir); *It; ++It)
            ++Nodes;
        std::printf("nodes in tree: %d\n", Nodes);
        QElapsedTimer Save;
        Save.start();
        Main.close();
        SaveMs = Save.nsecsElapsed() / 1e6;
    }
    std::printf("projects: %d (fixture written in %lld ms)\n", Projects,
                static_cast<long long>(FixtureMs));
    std::printf("window shown after:  %.1f ms\n", ShownMs);
    std::printf("window usable after: %.1f ms (target < 1000 ms)\n", UsableMs);
    std::printf("registry written at close in: %.1f ms\n", SaveMs);
    return UsableMs < 1000 ? 0 : 2;
}
