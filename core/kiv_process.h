// Running external command lines: captured through a pipe, started and waited for, or started
// detached. Works on any thread; the process's own current directory is never changed.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// How a captured run ended, for callers that need more than the exit code.
struct TRunStatus {
    bool Started = false;
    int StartError = 0;       // errno of the failed start (ENOENT: no such program)
    bool TimedOut = false;    // ended after IdleTimeoutMs without output
    bool Cancelled = false;   // ended because Cancel or Interrupt became true
    bool Interrupted = false; // ended by Interrupt: the child got the chance to stop cleanly
};

struct TRunOptions {
    // Folder the child runs in; empty: the process's current directory.
    QString WorkingDirectory;
    // Called with each line as it is complete, on the calling thread. When set, the line is
    // still appended to the list.
    std::function<void(const QString& Line)> OnLine;
    // When it becomes true the child is ended (SIGTERM, then SIGKILL) and the call returns -1.
    const std::atomic<bool>* Cancel = nullptr;
    // When it becomes true the child's process group gets SIGINT, as a terminal's Ctrl+C
    // sends it: the child stops cleanly, and what it prints meanwhile is still read. One
    // that has not ended after InterruptGraceMs is ended as by Cancel. The call returns -1.
    const std::atomic<bool>* Interrupt = nullptr;
    int InterruptGraceMs = 3000;
    // Ends the child when it has written nothing for this long (0: no limit), first as by
    // Interrupt; the call returns -1 and Status->TimedOut is set.
    qint64 IdleTimeoutMs = 0;
    // False: lines go only to OnLine, the list stays as it is (for output too large to hold).
    bool Collect = true;
    // Once the child has exited, what the pipe still holds is read for this long at most: a
    // program it started (an ssh connection kept for later) may hold the pipe open for hours.
    int ExitGraceMs = 1000;
    // The child's environment, "NAME=value" each; empty: ours.
    QStringList Environment;
    // Standard input from /dev/null rather than ours, so a child can never wait for typing.
    bool NullInput = false;
    TRunStatus* Status = nullptr;
};

// Splits a command line into words as a POSIX shell would (quotes, backslashes); no shell
// runs, no expansion happens.
QStringList SplitCommandLine(const QString& CommandLine);

// Runs the command hidden with standard output and standard error joined in one pipe, appends
// its lines to Lines (CR LF, lone CR and lone LF end a line; a last line without a line end is
// kept; each line decoded in the locale's encoding) and returns the exit code, or -1 when it
// cannot be started (nothing appended), was cancelled or timed out. The child runs in a
// session of its own, without a controlling terminal, and is ended with everything it started.
// On the GUI thread without OnLine, pending events are processed after each line.
int RunCaptured(QStringList& Lines, const QString& CommandLine);
int RunCaptured(QStringList& Lines, const QString& CommandLine, const TRunOptions& Options);
// The same with the program and its arguments given apart (paths with blanks need no quoting).
int RunCapturedArgs(QStringList& Lines, const QString& Program, const QStringList& Arguments,
                    const TRunOptions& Options = TRunOptions());

// Starts Program (searched on PATH) in Dir (empty: ours) in a session of its own; 0 when it
// cannot be started, with Error set to the reason. The caller waits for it with WaitChild.
qint64 StartChild(const QString& Program, const QStringList& Arguments, const QString& Dir,
                  int* Error = nullptr);
// Waits for a child of StartChild: its exit code, or -1 when it did not exit normally. When
// Cancel becomes true the child and everything it started are ended first.
int WaitChild(qint64 Pid, const std::atomic<bool>* Cancel = nullptr);

// Starts a program that outlives the call and is nobody's to wait for (a file manager, a
// terminal); true when it started.
bool StartDetached(const QString& Program, const QStringList& Arguments, const QString& Dir);

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
