// The watcher over the registered working copies: inotify on every folder of each copy and on
// the copy's own ".svn" (whose wc.db an outside svn command changes), run on a thread of its own
// so that setting up hundreds of thousands of folders never holds up its owner. Idle it only
// waits on its file descriptor.
//
// A change marks its copy at once (its generation moves on); after a quiet time the marked
// copies are told together. Anything that may hide a change is a gap, and moves the generation
// too: a copy not yet or not fully watched, a lost event queue, a changed global svn setting.
// So "UnchangedSince(copy, G)" is never true when a change could have gone unseen.
#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class QThread;
class TWatchEngine;

class TkivWatcher : public QObject {
    Q_OBJECT
public:
    explicit TkivWatcher(QObject* Parent = nullptr);
    ~TkivWatcher() override; // stops the watcher's thread; no signal comes after it

    // The time without changes before the marked copies are told (default 300 ms); under
    // constant changes they are told at the latest after four times as long.
    void SetQuietTime(int Milliseconds);
    // The working copies to watch: their top folders, absolute. Copies not named any more are
    // dropped; new ones are set up on the watcher's thread. Copies found not watchable before
    // are tried again. Returns at once.
    void SetCopies(const QStringList& Copies);

    // Thread-safe. Every change that was complete on disk before the call is counted.
    // The copy's generation: another number after every change and every gap; 0 for a folder
    // that is not a watched copy. Read it before a run of the copy starts.
    quint64 Generation(const QString& Copy) const;
    // True when the copy has been watched without a gap and nothing has changed in it since
    // Generation returned G: what a run started after that call found is still what it would
    // find now. A copy that does not exist counts as watched while its folder cannot appear
    // unseen.
    bool UnchangedSince(const QString& Copy, quint64 G) const;
    // The copies that cannot be watched (the watch limit, a folder that cannot be read, a
    // network file system): the caller checks them on a timer instead.
    QStringList NotWatchable() const;
    // Every copy given has been set up (watched, waiting for its folder, or not watchable).
    bool IsSettled() const;
    // Folders watched now (for benchmarks and tests).
    int WatchCount() const;

signals:
    // After the quiet time: the copies that changed, each once, in path order.
    void Changed(const QStringList& Copies);
    // A German sentence for the status bar, once per kind of problem (the watch limit, a
    // folder that cannot be watched, a network file system, no inotify at all).
    void Problem(const QString& Message);
    // The set of copies that cannot be watched has changed; the whole set.
    void NotWatchableChanged(const QStringList& Copies);
    // The setup of the copies given last has ended.
    void Settled();

private:
    QThread* FThread = nullptr;
    TWatchEngine* FEngine = nullptr; // lives on FThread, deleted there when it ends
};
