// Running external command lines (the Subversion client): captured, or in a terminal window.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

struct TRunOptions {
    // Folder the child runs in; empty: the process's current directory.
    QString WorkingDirectory;
    // Called with each line as it is complete, on the calling thread. When set, the line is
    // still appended to the list.
    std::function<void(const QString& Line)> OnLine;
    // When it becomes true the child is ended (SIGTERM, then SIGKILL) and the call returns -1.
    const std::atomic<bool>* Cancel = nullptr;
};

// Splits a command line into words as a POSIX shell would (quotes, backslashes); no shell
// runs, no expansion happens.
QStringList SplitCommandLine(const QString& CommandLine);

// Runs the command hidden with standard output and standard error joined in one pipe, appends
// its lines to Lines (CR LF, lone CR and lone LF end a line; a last line without a line end is
// kept; each line decoded in the locale's encoding) and returns the exit code, or -1 when it
// cannot be started (nothing appended) or was cancelled. Works on any thread. On the GUI
// thread without OnLine, pending events are processed after each line.
int RunCaptured(QStringList& Lines, const QString& CommandLine);
int RunCaptured(QStringList& Lines, const QString& CommandLine, const TRunOptions& Options);
// The same with the program and its arguments given apart (paths with blanks need no quoting).
int RunCapturedArgs(QStringList& Lines, const QString& Program, const QStringList& Arguments,
                    const TRunOptions& Options = TRunOptions());

// Runs the command in a terminal window ($TERMINAL, else x-terminal-emulator, else xterm, run
// as TERMINAL -e PROGRAM ARGS...) and returns when it has ended: the terminal's exit code, or
// -1 when no terminal could be started. ShowCode is kept for the callers (1 = SW_SHOWNORMAL).
int RunAndWait(const QString& CommandLine, quint16 ShowCode,
               const QString& WorkingDirectory = QString());

// The terminals RunAndWait tries, in order: $TERMINAL (it may carry options), then
// x-terminal-emulator, then xterm.
QStringList TerminalCommand();

// Cuts bytes as they arrive from a pipe into lines: CR LF, a lone CR and a lone LF each end a
// line, also when the CR ends one piece and the LF begins the next. Each line is decoded
// whole in the locale's encoding, so a character that a read cut in two decodes correctly.
class TLineSplitter {
public:
    std::function<void(const QString& Line)> OnLine;
    void Feed(const char* Data, qsizetype Size);
    // End of the output: text after the last line end becomes a last line.
    void Finish();

private:
    void Emit();
    QByteArray FPending;
    bool FAfterCR = false;
};
