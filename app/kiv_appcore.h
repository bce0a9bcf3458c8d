// The application object with its central exception handling, and the closing of the main
// window when the process is asked to end (SIGTERM, SIGINT, SIGHUP) or the session ends.
#pragma once

#include <QApplication>
#include <QObject>

#include "kiv_signals.h"

class TfmMain;

class TkivApplication : public QApplication {
    Q_OBJECT
public:
    TkivApplication(int& argc, char** argv);
    // Catches every std::exception that reaches the event loop and shows its message.
    bool notify(QObject* Receiver, QEvent* Event) override;
};

// Turns SIGTERM, SIGINT and SIGHUP into a normal close of the main window, through a pipe
// whose reading end the event loop watches (a signal handler may only write to it). The
// session manager's requests go the same way: commitDataRequest writes the registry,
// aboutToQuit finishes the run if the window was not closed before.
class TShutdownWatcher : public QObject {
    Q_OBJECT
public:
    explicit TShutdownWatcher(TfmMain* Main);
    int SignalsSeen() const { return FSignals->SignalsSeen(); }

private:
    TfmMain* FMain;
    TSignalWatcher* FSignals;
};

// Makes the images of resources/app.qrc available (the library is linked statically).
void InitAppResources();
// The toolkit's own texts (Ja/Nein, the folder list's columns) in German, where Qt's German
// translation is installed: the user interface is German on any locale.
void InstallToolkitGerman();
