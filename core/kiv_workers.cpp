#include "kiv_workers.h"

#include <QMetaObject>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

void LowerThreadPriority() {
    const pid_t Tid = pid_t(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, id_t(Tid), 10);
    // The lowest level of the normal ("best effort") class: not the idle class, which a busy
    // disk would starve for minutes.
    constexpr int WhoProcess = 1, BestEffort = 2, Lowest = 7, ClassShift = 13;
    ::syscall(SYS_ioprio_set, WhoProcess, Tid, (BestEffort << ClassShift) | Lowest);
}

void PostTo(QObject* Owner, std::function<void()> Call) {
    QMetaObject::invokeMethod(Owner, std::move(Call), Qt::QueuedConnection);
}

TkivWorkers::~TkivWorkers() {
    Join();
}

void TkivWorkers::Start(int Count, std::function<void()> Job, QObject* Owner,
                        std::function<void()> Done) {
    if (Count <= 0) {
        PostTo(Owner, [Done] {
            if (Done)
                Done();
        });
        return;
    }
    FLeft = Count;
    for (int I = 0; I < Count; ++I)
        FThreads.emplace_back([this, Job, Owner, Done] {
            Job();
            PostTo(Owner, [this, Done] {
                if (--FLeft > 0)
                    return;
                Join();
                if (Done)
                    Done();
            });
        });
}

void TkivWorkers::Join() {
    for (std::thread& T : FThreads)
        if (T.joinable())
            T.join();
    FThreads.clear();
}
