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

struct TTerminalResult {
    bool Started = false;   // a terminal window was started
    int ExitCode = -1;      // the command's own exit code; -1 when it is not known
    bool Cancelled = false; // the terminal was ended by Cancel
};

// Runs Command (program and arguments) in a terminal window in Dir and waits until the window
// has closed. The exit code is the command's, not the terminal's. WaitForEnter keeps the
// window open after the command until the user presses Enter. Cancel ends the terminal.
TTerminalResult RunInTerminal(const QStringList& Command, const QString& Dir,
                              const std::atomic<bool>* Cancel = nullptr, bool WaitForEnter = false);
// The same without waiting: the window lives on its own. False when no terminal started.
bool StartInTerminal(const QStringList& Command, const QString& Dir, bool WaitForEnter = true);

// Runs the command line in a terminal window and returns when it has ended: the command's exit
// code, or -1 when no terminal could be started. ShowCode is kept for the callers
// (1 = SW_SHOWNORMAL).
int RunAndWait(const QString& CommandLine, quint16 ShowCode, const QString& WorkingDirectory = {});
