#include "kiv_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int Signal) {
    const int Saved = errno;
    const char Byte = static_cast<char>(Signal);
    if (SignalPipe[1] >= 0) {
        [[maybe_unused]] const ssize_t Written = ::write(SignalPipe[1], &Byte, 1);
    }
    errno = Saved;
}

} // namespace

TSignalWatcher::TSignalWatcher(std::initializer_list<int> Signals, QObject* Parent)
    : QObject(Parent), FSignals(Signals) {
    if (SignalPipe[0] < 0 && ::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        SignalPipe[0] = SignalPipe[1] = -1;
    if (SignalPipe[0] < 0)
        return;
    FNotifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TSignalWatcher::Read);
    struct sigaction Action {};
    Action.sa_handler = OnSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    for (int Signal : FSignals)
        ::sigaction(Signal, &Action, nullptr);
}

TSignalWatcher::~TSignalWatcher() {
    struct sigaction Action {};
    Action.sa_handler = SIG_DFL;
    sigemptyset(&Action.sa_mask);
    for (int Signal : FSignals)
        ::sigaction(Signal, &Action, nullptr);
}

void TSignalWatcher::Read() {
    char Buffer[16];
    while (::read(SignalPipe[0], Buffer, sizeof Buffer) > 0) {
        ++FSeen;
        emit Received();
    }
}
