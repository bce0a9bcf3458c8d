// The watcher over many working copies: how long the setup takes and how long the owner's
// event loop is held up meanwhile; the time from a saved file to the signal that names its
// copy (quiet time included); and the processor time the watcher takes while nothing changes.
// Usage: bench_watcher COPIES_FILE [IDLE_SECONDS] [SAVES]
//   COPIES_FILE: the copies' top folders, one a line (bench_watcher.sh makes them).
#include "kiv_watcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

double CpuSeconds() {
    rusage U;
    getrusage(RUSAGE_SELF, &U);
    return double(U.ru_utime.tv_sec + U.ru_stime.tv_sec) +
           double(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop until Done() holds after one of Watched's Signal, or Ms have passed.
// Nothing polls: the idle figure is the watcher's alone.
template <class S, class F> bool RunUntil(const TkivWatcher* Watched, S Signal, F Done, int Ms) {
    if (Done())
        return true;
    QEventLoop Loop;
    QObject::connect(Watched, Signal, &Loop, [&] {
        if (Done())
            Loop.quit();
    });
    QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
    Loop.exec();
    return Done();
}
void Sleep(int Ms) {
    QEventLoop Loop;
    QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
    Loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_watcher COPIES_FILE [IDLE_SECONDS] [SAVES]\n");
        return 2;
    }
    QFile List(QString::fromLocal8Bit(argv[1]));
    if (!List.open(QIODevice::ReadOnly))
        return 1;
    QStringList Copies;
    for (const QByteArray& L : List.readAll().split('\n'))
        if (!L.trimmed().isEmpty())
            Copies << QFile::decodeName(L.trimmed());
    const int Idle = argc > 2 ? std::atoi(argv[2]) : 60;
    const int Saves = argc > 3 ? std::atoi(argv[3]) : 20;

    TkivWatcher W;
    QStringList Told;
    QObject::connect(&W, &TkivWatcher::Changed, [&](const QStringList& C) { Told << C; });
    QObject::connect(&W, &TkivWatcher::Problem,
                     [](const QString& M) { std::printf("problem: %s\n", qPrintable(M)); });

    // The setup, with the owner's event loop ticking every 5 ms: its largest gap.
    QElapsedTimer Clock, Tick;
    qint64 Gap = 0;
    QTimer Ticker;
    Ticker.setInterval(5);
    QObject::connect(&Ticker, &QTimer::timeout, [&] { Gap = std::max(Gap, Tick.restart()); });
    const double Cpu0 = CpuSeconds();
    Clock.start();
    Tick.start();
    Ticker.start();
    W.SetCopies(Copies);
    if (!RunUntil(
            &W, &TkivWatcher::Settled, [&] { return W.IsSettled(); }, 600000))
        return 1;
    Ticker.stop();
    std::printf("setup: %d copies, %d folders watched in %lld ms (%.2f s processor); the owner's "
                "event loop was held up %lld ms at most\n",
                int(Copies.size()), W.WatchCount(), Clock.elapsed(), CpuSeconds() - Cpu0, Gap);
    std::printf("not watchable: %d\n", int(W.NotWatchable().size()));

    // Saves in copies spread over the list: a file written whole, as an editor saves it.
    std::vector<qint64> Lat;
    for (int I = 0; I < Saves; ++I) {
        const QString Copy = Copies[int((qint64(I) * Copies.size()) / Saves)];
        Sleep(400); // the last one's quiet time passes
        Told.clear();
        Clock.start();
        QFile F(Copy + QStringLiteral("/README"));
        if (!F.open(QIODevice::Append))
            return 1;
        F.write("gespeichert\n");
        F.close();
        if (!RunUntil(
                &W, &TkivWatcher::Changed, [&] { return Told.contains(Copy); }, 10000)) {
            std::printf("save %d: not told within 10 s\n", I);
            continue;
        }
        Lat.push_back(Clock.elapsed());
    }
    std::sort(Lat.begin(), Lat.end());
    if (!Lat.empty())
        std::printf("saved file to signal (quiet time 300 ms): best %lld ms, median %lld ms, "
                    "worst %lld ms over %d saves\n",
                    Lat.front(), Lat[Lat.size() / 2], Lat.back(), int(Lat.size()));

    // Idle: nothing changes; the whole process's processor time.
    const double Before = CpuSeconds();
    Clock.start();
    Sleep(Idle * 1000);
    const double Used = CpuSeconds() - Before;
    const double Secs = double(Clock.elapsed()) / 1000.0;
    std::printf("idle for %.1f s: %.3f s processor, %.3f %% of a core\n", Secs, Used,
                100.0 * Used / Secs);
    return 0;
}
