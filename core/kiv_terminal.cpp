#include "kiv_terminal.h"

#include "kiv_process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

// Runs the command, keeps its exit code in the file named first (the terminal's own exit code
// says nothing about the command), and waits for Enter when the second argument is 1.
const QString Wrapper = QStringLiteral(
    "f=$1; w=$2; shift 2; \"$@\"; rc=$?; [ -n \"$f\" ] && printf '%d' \"$rc\" > \"$f\"; "
    "if [ \"$w\" = 1 ]; then printf '\\n%s' 'Fertig. Zum Schließen die Eingabetaste "
    "drücken ... '; read kivdummy; fi; exit $rc");

QStringList TerminalArguments(const QStringList& Terminal, const QStringList& Command,
                              const QString& ExitCodeFile, bool WaitForEnter) {
    return Terminal.mid(1) + QStringList{QStringLiteral("-e"), QStringLiteral("sh"),
                                         QStringLiteral("-c"), Wrapper, QStringLiteral("sh"),
                                         ExitCodeFile,
                                         WaitForEnter ? QStringLiteral("1") : QStringLiteral("0")} +
           Command;
}

} // namespace

QStringList TerminalCandidates() {
    QStringList Candidates;
    const QString Env = qEnvironmentVariable("TERMINAL").trimmed();
    if (!Env.isEmpty())
        Candidates << Env;
    Candidates << QStringLiteral("x-terminal-emulator") << QStringLiteral("xterm");
    return Candidates;
}

QStringList FindTerminal() {
    for (const QString& Candidate : TerminalCandidates()) {
        const QStringList Words = SplitCommandLine(Candidate);
        if (Words.isEmpty())
            continue;
        const QString& Program = Words.first();
        const bool Found = Program.contains(u'/')
                               ? QFileInfo(Program).isExecutable()
                               : !QStandardPaths::findExecutable(Program).isEmpty();
        if (Found)
            return Words;
    }
    return {};
}

QString NoTerminalText() {
    return QStringLiteral("Kein Terminal gefunden: weder $TERMINAL noch x-terminal-emulator "
                          "noch xterm ist vorhanden.");
}

TTerminalResult RunInTerminal(const QStringList& Command, const QString& Dir,
                              const std::atomic<bool>* Cancel, bool WaitForEnter) {
    TTerminalResult Result;
    const QStringList Terminal = FindTerminal();
    if (Terminal.isEmpty() || Command.isEmpty())
        return Result;
    QTemporaryFile CodeFile(QDir::tempPath() + QStringLiteral("/kivsvn-rc-XXXXXX"));
    if (!CodeFile.open())
        return Result;
    CodeFile.close();
    const qint64 Pid = StartChild(Terminal.first(),
                                  TerminalArguments(Terminal, Command, CodeFile.fileName(),
                                                    WaitForEnter),
                                  Dir);
    if (Pid == 0)
        return Result;
    Result.Started = true;
    WaitChild(Pid, Cancel);
    Result.Cancelled = Cancel && Cancel->load();
    QFile F(CodeFile.fileName());
    if (F.open(QIODevice::ReadOnly)) {
        bool Ok = false;
        const int Code = F.readAll().trimmed().toInt(&Ok);
        if (Ok)
            Result.ExitCode = Code;
    }
    return Result;
}

bool StartInTerminal(const QStringList& Command, const QString& Dir, bool WaitForEnter) {
    const QStringList Terminal = FindTerminal();
    if (Terminal.isEmpty())
        return false;
    QStringList Args = Command.isEmpty() ? Terminal.mid(1)
                                         : TerminalArguments(Terminal, Command, QString(),
                                                             WaitForEnter);
    return StartDetached(Terminal.first(), Args, Dir);
}

int RunAndWait(const QString& CommandLine, quint16 ShowCode, const QString& WorkingDirectory) {
    Q_UNUSED(ShowCode);
    const TTerminalResult R = RunInTerminal(SplitCommandLine(CommandLine), WorkingDirectory);
    return R.Started ? R.ExitCode : -1;
}
