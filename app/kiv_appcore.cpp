#include "kiv_appcore.h"

#include "fm_main.h"

#include "kiv_prompts.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

static void InitAppResourcesImpl() {
    Q_INIT_RESOURCE(app);
}
void InitAppResources() {
    InitAppResourcesImpl();
}

void HandleException(const std::exception& E) {
    const QString Message = QString::fromUtf8(E.what());
    try {
        ShowError(Message);
    } catch (...) {
        // The message box itself failed (no display left at exit): the message still goes out.
        std::fprintf(stderr, "%s\n", E.what());
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

namespace {
int SignalPipe[2] = {-1, -1};

void OnSignal(int Signal) {
    const int Saved = errno;
    const char Byte = static_cast<char>(Signal);
    if (SignalPipe[1] >= 0) {
        [[maybe_unused]] ssize_t Written = ::write(SignalPipe[1], &Byte, 1);
    }
    errno = Saved;
}

constexpr int WatchedSignals[] = {SIGTERM, SIGINT, SIGHUP};
} // namespace

TShutdownWatcher::TShutdownWatcher(TfmMain* Main) : QObject(Main), FMain(Main) {
    if (SignalPipe[0] < 0 && ::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        SignalPipe[0] = SignalPipe[1] = -1;
    }
    if (SignalPipe[0] >= 0) {
        FNotifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
        connect(FNotifier, &QSocketNotifier::activated, this, &TShutdownWatcher::ReadSignal);
        struct sigaction Action {};
        Action.sa_handler = OnSignal;
        sigemptyset(&Action.sa_mask);
        Action.sa_flags = SA_RESTART;
        for (int Signal : WatchedSignals)
            ::sigaction(Signal, &Action, nullptr);
    }
    if (auto* App = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // The session manager may end the process after asking for the data: write it now.
        connect(App, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { Guarded([this] { FMain->SaveRegistryNow(); }); });
        connect(App, &QCoreApplication::aboutToQuit, this,
                [this] { Guarded([this] { FMain->FinishRun(true); }); });
    }
}

TShutdownWatcher::~TShutdownWatcher() {
    struct sigaction Action {};
    Action.sa_handler = SIG_DFL;
    sigemptyset(&Action.sa_mask);
    for (int Signal : WatchedSignals)
        ::sigaction(Signal, &Action, nullptr);
}

void TShutdownWatcher::ReadSignal() {
    char Buffer[16];
    while (::read(SignalPipe[0], Buffer, sizeof Buffer) > 0)
        ++FSignalsSeen;
    FMain->RequestClose();
}
