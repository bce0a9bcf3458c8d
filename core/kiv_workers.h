// The program's one way of working in the background: a few threads that run a job, and a
// call on the owner's thread when the last of them has returned. Results travel to the owner
// by queued calls; the GUI thread never waits for a worker except in the destructor.
#pragma once

#include <QObject>

#include <functional>
#include <thread>
#include <vector>

// Keep it a member of the owner object, so that the owner's end also drops pending calls.
class TkivWorkers {
public:
    TkivWorkers() = default;
    TkivWorkers(const TkivWorkers&) = delete;
    TkivWorkers& operator=(const TkivWorkers&) = delete;
    ~TkivWorkers(); // waits for the threads: callers make them stop first

    // Runs Job on Count threads (none: Done comes at once, from the event loop). Done runs on Owner's thread after all have returned, unless
    // Owner is gone by then.
    void Start(int Count, std::function<void()> Job, QObject* Owner, std::function<void()> Done);
    // Waits for the threads (they must be stopping); Done is still delivered later.
    void Join();

private:
    std::vector<std::thread> FThreads;
    int FLeft = 0; // owner's thread only
};

// Lowers the calling thread's processor and disk priority, and with it that of every process it
// starts from now on (both are per thread here, and inherited): for background work.
void LowerThreadPriority();

// Hands Call to Owner's thread; dropped if Owner is destroyed before it runs.
void PostTo(QObject* Owner, std::function<void()> Call);
