#include "kiv_appcore.h"

#include "fm_main.h"

#include "kiv_FileText.h"
#include "kiv_prompts.h"

#include <QGuiApplication>
#include <QLibraryInfo>
#include <QSessionManager>
#include <QTranslator>

#include <csignal>
#include <cstdio>

static void InitAppResourcesImpl() {
    Q_INIT_RESOURCE(app);
}
void InitAppResources() {
    InitAppResourcesImpl();
}

void InstallToolkitGerman() {
    auto* German = new QTranslator(QCoreApplication::instance());
    if (German->load(QStringLiteral("qtbase_de"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(German);
    else
        delete German;
}

void HandleException(const std::exception& E) {
    // German whatever raised it: "std::bad_alloc" becomes a sentence the user can read.
    const QString Message = ExceptionText(E);
    try {
        ShowError(Message);
    } catch (...) {
        // The message box itself failed (no display left at exit): the message still goes out.
        std::fprintf(stderr, "%s\n", Message.toUtf8().constData());
    }
}

TkivApplication::TkivApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TkivApplication::notify(QObject* Receiver, QEvent* Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (const std::exception& E) {
        HandleException(E);
    }
    return false;
}

TShutdownWatcher::TShutdownWatcher(TfmMain* Main)
    : QObject(Main), FMain(Main), FSignals(new TSignalWatcher({SIGTERM, SIGINT, SIGHUP}, this)) {
    connect(FSignals, &TSignalWatcher::Received, this, [this] { FMain->RequestClose(); });
    if (auto* App = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // The session manager may end the process after asking for the data: write it now.
        connect(App, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { Guarded([this] { FMain->SaveRegistryNow(); }); });
        connect(App, &QCoreApplication::aboutToQuit, this,
                [this] { Guarded([this] { FMain->FinishRun(true); }); });
    }
}

