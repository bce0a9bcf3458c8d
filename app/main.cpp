// Program entry of kivSubversion.
#include "fm_main.h"
#include "kiv_appcore.h"

#include "kiv_single.h"
#include "kiv_system.h"

int main(int argc, char** argv) {
    TkivApplication App(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kivSubversion"));
    // The menu entry's id, so that a Wayland desktop matches the window to it.
    QGuiApplication::setDesktopFileName(QStringLiteral("de.kelvarosoft.kivSubversion"));
    InitRoamingMarker();
    InstallToolkitGerman();
    InitAppResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/kivSubversion.png")));

    int Result = 0;
    {
        TfmMain Main;
        TShutdownWatcher Watcher(&Main);
        // A second instance ends silently as soon as its event loop starts; it never shows.
        if (Main.SingleInstance1->FirstInstance())
            Main.show();
        Result = App.exec();
        Guarded([&Main] { Main.FinishRun(); });
    }
    return Result;
}
