// Commands in a terminal window: the one place that picks the terminal and starts it.
#pragma once

#include <QString>
#include <QStringList>

#include <atomic>

// The terminals tried, in order: $TERMINAL (it may carry options), x-terminal-emulator, xterm.
QStringList TerminalCandidates();
// The first of them that is on the PATH, as its words; empty when there is none.
QStringList FindTerminal();
// What the user reads when no terminal can be found.
QString NoTerminalText();

// How the window ends once the command has.
enum class TTerminalHold {
    Never,     // it closes at once
    Always,    // it waits for Enter
    OnTrouble, // it waits for Enter when the command failed or the conflict check found one
};

// What to run in a terminal window, and how.
struct TTerminalRequest {
    QStringList Command; // program and arguments
    QString Dir;         // where it runs
    QString Title;       // the window's title; empty: the terminal's own
    TTerminalHold Hold = TTerminalHold::Never;
    // With OnTrouble, after a command that succeeded: a command run in Dir (an "svn status")
    // whose lines with a conflict mark ("C" in the first, second or seventh column) keep the
    // window open.
    QStringList ConflictCheck;
    // RunInTerminal: when it becomes true the terminal and the command in it are ended.
    const std::atomic<bool>* Cancel = nullptr;
    // A terminal program that returns at once (one that hands the command to a server of
    // its own): how long the command has to begin before the run counts it as never started.
    int StartTimeoutMs = 20000;
};

struct TTerminalResult {
    bool Started = false;   // a terminal program was started
    bool Ran = false;       // the command began in it
    bool Finished = false;  // the command ran to its end; ExitCode is its own
    int ExitCode = -1;      // the command's exit code; -1 when it is not known
    bool Conflict = false;  // the conflict check found a conflict
    bool Held = false;      // the window waited for Enter
    bool Returned = false;  // the terminal program ended before the command: it was waited
                            // for by itself
    bool Cancelled = false; // the terminal was ended by Cancel
    QString Problem;        // why the command did not run to its end (German); empty if it did
};

// Runs the request's command in a terminal window and returns when it has ended, and with it
// the window (held ones after Enter). Known terminals are started in their waiting mode; one
// that returns before the command has ended is noticed, and the command is waited for itself,
// so two commands never overlap.
TTerminalResult RunInTerminal(const TTerminalRequest& Request);
// The same for Command in Dir, with WaitForEnter as Hold Always.
TTerminalResult RunInTerminal(const QStringList& Command, const QString& Dir,
                              const std::atomic<bool>* Cancel = nullptr, bool WaitForEnter = false);
// The same without waiting: the window lives on its own. An empty command opens the
// terminal's shell in Dir. False when no terminal started.
bool StartInTerminal(const TTerminalRequest& Request);
bool StartInTerminal(const QStringList& Command, const QString& Dir, bool WaitForEnter = true);

// Runs the command line in a terminal window and returns when it has ended: the command's exit
// code, or -1 when no terminal could be started. ShowCode is kept for the callers
// (1 = SW_SHOWNORMAL).
int RunAndWait(const QString& CommandLine, quint16 ShowCode, const QString& WorkingDirectory = {});

// The words that start Terminal (its program first, as FindTerminal gives it) with Script and
// its arguments in a window titled Title: the terminal's own waiting mode, title option and
// way of taking a command, where the terminal is known; "-e" otherwise. Exposed for tests.
QStringList TerminalCommandLine(const QStringList& Terminal, const QString& Title,
                                const QStringList& Command);
