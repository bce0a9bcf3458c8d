// Signals that end the program (SIGTERM, SIGINT, ...) brought into the event loop: a handler
// may only write a byte into a pipe, whose reading end the loop watches.
#pragma once

#include <QObject>

#include <initializer_list>
#include <vector>

class QSocketNotifier;

class TSignalWatcher : public QObject {
    Q_OBJECT
public:
    // Catches Signals from now on; the destructor gives them back their default handling.
    TSignalWatcher(std::initializer_list<int> Signals, QObject* Parent = nullptr);
    ~TSignalWatcher() override;
    int SignalsSeen() const { return FSeen; }

signals:
    // When signals have arrived (those that come together are read, and told, at once), on
    // the watcher's thread.
    void Received();

private:
    void Read();
    std::vector<int> FSignals;
    QSocketNotifier* FNotifier = nullptr;
    int FSeen = 0;
};
