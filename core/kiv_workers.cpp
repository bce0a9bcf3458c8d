#include "kiv_workers.h"

#include <QMetaObject>

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
