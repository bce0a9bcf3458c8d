// How long the main window takes from the start of the program until it is shown and usable
// with a registry of 10,000 projects (100 groups of 100). Target: under 1 s.
//   bench_app_start [projects]
#include "fm_main.h"
#include "kiv_appcore.h"

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
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QTemporaryDir Data, Runtime;
    qputenv("XDG_DATA_HOME", Data.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (Data.path() + "/config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit());
    const int Projects = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;

    // The fixture, written before the clock that counts.
    {
        TkivPlainXmlElement Root;
        Root.SetName("SubVersion");
        Root.SetAttribute("Beschreibung", "Alle Subversionsprojekte verwalten");
        const int PerGroup = 100;
        TkivXmlElement* Group = nullptr;
        for (int i = 0; i < Projects; ++i) {
            if (i % PerGroup == 0) {
                Group = Root.AddChild("ProjektGruppe");
                Group->SetAttribute("Name",
                                    QString("Gruppe %1").arg(i / PerGroup, 3, 10, QChar('0')));
            }
            TkivXmlElement* P = Group->AddChild("Projekt");
            // Names in reverse order, so that loading really sorts.
            P->SetAttribute("Name", QString("Projekt %1").arg(Projects - i, 5, 10, QChar('0')));
            P->SetAttribute("Verzeichnis", QString("/home/anna/src/projekt%1/").arg(i));
        }
        const QString Folder = Data.path() + "/KelvaroSoft/Subversion/";
        QDir().mkpath(Folder);
        TElementXmlWriter(&Root).SaveToFile(Folder + "SubVersionVerzeichnisse.xml");
    }
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
