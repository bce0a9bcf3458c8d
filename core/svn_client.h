// The Subversion client as the program runs it, everywhere: without a terminal to ask on,
// without input, with a time limit, in English (the program reads its messages) but in the
// user's character set (so file names stay right).
#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

struct TSvnCall {
    QStringList Arguments; // the subcommand first, then options and targets
    QString Folder;        // the folder it runs in (absolute)
    int TimeoutSeconds = 0; // ended after this long without output; 0: no limit
    const std::atomic<bool>* Cancel = nullptr;    // ends the client when it becomes true
    const std::atomic<bool>* Interrupt = nullptr; // interrupts it as Ctrl+C does (it stops
                                                  // cleanly and releases what it holds)
    QStringList Environment; // "NAME=value" on top of the client's own environment
    // Each line as it arrives (any thread); with it, Lines stays empty.
    std::function<void(const QString&)> OnLine;
};

struct TSvnResult {
    QStringList Lines; // standard output and standard error, in the order they came
    int ExitCode = -1;
    bool Started = false;
    int StartError = 0; // errno when it could not be started
    bool TimedOut = false;
    bool Cancelled = false;   // ended by Cancel or Interrupt
    bool Interrupted = false; // by Interrupt
};

class TSvnClient {
public:
    QString Program = QStringLiteral("svn");
    TSvnResult Run(const TSvnCall& Call) const;
    // "svn SUBCOMMAND --non-interactive ARGS...": what Run passes to the program.
    static QStringList Arguments(const QStringList& Arguments);
    // The client's environment: ours with messages in English and the character type kept
    // (a UTF-8 one where ours has none, so that no path is beyond it), and ssh tunnels that
    // never ask.
    static QStringList Environment();
};

// The German line for a time limit that ended a client.
QString TimeoutText(int Seconds);
// Why a client could not be started, in German, from the error of the start.
QString StartFailureText(const QString& Program, int Error);
