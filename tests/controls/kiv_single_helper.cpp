// Starts like the program does: application title, a window owning a TSingleInstance, Loaded.
// Arguments: TITLE [dir|child] — "dir" sets TestOnlyDir; "child" starts a long-lived child
// ("sleep 60") after taking the lock and writes its process id on a third line. Writes "first" or
// "second" and the lock file's path on a line each, then runs the event loop: a first instance
// stays until it is killed (or 60 seconds have passed); a second one ends through the posted quit
// request and then writes "quit" and exits with code 2.
#include "kiv_single.h"

#include <QApplication>
#include <QProcess>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    if (argc < 2)
        return 9;
    QCoreApplication::setApplicationName(QString::fromLocal8Bit(argv[1]));
    QWidget Main;
    TSingleInstance Guard(&Main);
    Guard.TestOnlyDir = argc > 2 && std::strcmp(argv[2], "dir") == 0;
    Guard.Loaded();
    std::printf("%s\n%s\n", Guard.FirstInstance() ? "first" : "second",
                qPrintable(Guard.LockFilePath()));
    if (argc > 2 && std::strcmp(argv[2], "child") == 0) {
        qint64 Pid = 0;
        QProcess::startDetached(QStringLiteral("sleep"), {QStringLiteral("60")}, QString(), &Pid);
        std::printf("%lld\n", Pid);
    }
    std::fflush(stdout);
    QTimer::singleShot(60000, &App, &QCoreApplication::quit);
    const int Rc = App.exec();
    if (Guard.FirstInstance())
        return Rc;
    std::printf("quit\n");
    return 2;
}
