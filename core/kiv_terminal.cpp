#include "kiv_terminal.h"

#include "kiv_process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace {

// Runs the command in the window and leaves its traces in the state folder (the first
// argument): "pid" when it begins, "rc" with "EXITCODE CONFLICT HELD" when it has ended. The
// terminal's own exit code says nothing about the command, and a terminal that hands the
// command to a server of its own ends before it. The window's title is set as xterm defines
// it, which nearly every terminal follows. Hold 2 waits for Enter only when the command failed
// or the conflict check (a command line quoted for the shell) prints a line with a conflict
// mark; without a terminal on standard input nobody could press Enter, so nothing waits.
const QString Wrapper = QStringLiteral(
    "d=$1 t=$2 wd=$3 c=$4 w=$5; shift 5\n"
    "if [ -n \"$t\" ] && [ -t 1 ]; then printf '\\033]0;%s\\007' \"$t\"; fi\n"
    "if [ -n \"$d\" ]; then echo $$ > \"$d/pid.tmp\" && mv \"$d/pid.tmp\" \"$d/pid\"; fi\n"
    "if [ -n \"$wd\" ] && ! cd \"$wd\"; then rc=126; else \"$@\"; rc=$?; fi; k=0\n"
    "if [ \"$w\" = 2 ]; then w=0\n"
    "  if [ $rc -ne 0 ]; then w=1\n"
    "  elif [ -n \"$c\" ] && eval \"$c\" 2>/dev/null | grep -Eq '^(C|.C|.{6}C)'; then k=1; w=1\n"
    "  fi\n"
    "fi\n"
    "if [ -n \"$d\" ]; then printf '%d %d %d\\n' $rc $k $w > \"$d/rc.tmp\" && "
    "mv \"$d/rc.tmp\" \"$d/rc\"; fi\n"
    "if [ \"$w\" = 1 ]; then\n"
    "  if [ $rc -ne 0 ]; then printf '\\n%s\\n' \"Fehler: der Befehl endete mit dem Code $rc.\"\n"
    "  elif [ $k = 1 ]; then printf '\\n%s\\n' 'Es sind Konflikte entstanden; sie müssen "
    "aufgelöst werden (svn resolve).'\n"
    "  fi\n"
    "  printf '\\n%s' 'Zum Schließen die Eingabetaste drücken ... '\n"
    "  if [ -t 0 ]; then read kivdummy; fi\n"
    "fi\n"
    "exit $rc\n");

QString ShellQuote(const QString& Word) {
    QString Q = Word;
    Q.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + Q + u'\'';
}

QString ShellJoin(const QStringList& Words) {
    QStringList Quoted;
    for (const QString& W : Words)
        Quoted << ShellQuote(W);
    return Quoted.join(u' ');
}

// How a terminal takes the command to run.
enum class TExec {
    DashE,       // -e PROGRAM ARGS...
    DashX,       // -x PROGRAM ARGS...
    DoubleDash,  // -- PROGRAM ARGS...
    Plain,       // PROGRAM ARGS...
    DashEString, // -e "one command line"
};

struct TKnownTerminal {
    QStringList Wait; // the options that keep the program running until the command ends
    QString Title;    // the option that sets the window's title
    TExec Exec;
};

// The terminals whose options are known. The ones with a server of their own are started in
// the mode that waits for the command; any other is noticed when it returns early.
const QHash<QString, TKnownTerminal>& KnownTerminals() {
    static const QHash<QString, TKnownTerminal> Known = [] {
        QHash<QString, TKnownTerminal> K;
        const TKnownTerminal XTerm{{}, QStringLiteral("-T"), TExec::DashE};
        const TKnownTerminal Rxvt{{}, QStringLiteral("-title"), TExec::DashE};
        for (const char* N : {"xterm", "uxterm", "lxterm", "koi8rxterm"})
            K.insert(QLatin1String(N), XTerm);
        for (const char* N : {"rxvt", "urxvt", "rxvt-unicode", "urxvt256c", "urxvtc", "zutty"})
            K.insert(QLatin1String(N), Rxvt);
        K.insert(QStringLiteral("st"), {{}, QStringLiteral("-t"), TExec::DashE});
        K.insert(QStringLiteral("alacritty"), {{}, QStringLiteral("--title"), TExec::DashE});
        K.insert(QStringLiteral("kitty"), {{}, QStringLiteral("--title"), TExec::Plain});
        K.insert(QStringLiteral("foot"), {{}, QStringLiteral("--title"), TExec::Plain});
        K.insert(QStringLiteral("footclient"), {{}, QStringLiteral("--title"), TExec::Plain});
        K.insert(QStringLiteral("konsole"), {{QStringLiteral("--nofork")}, {}, TExec::DashE});
        K.insert(QStringLiteral("gnome-terminal"),
                 {{QStringLiteral("--wait")}, {}, TExec::DoubleDash});
        K.insert(QStringLiteral("mate-terminal"),
                 {{QStringLiteral("--disable-factory")}, QStringLiteral("--title"), TExec::DashX});
        K.insert(QStringLiteral("xfce4-terminal"),
                 {{QStringLiteral("--disable-server")}, QStringLiteral("--title"), TExec::DashX});
        K.insert(QStringLiteral("terminator"),
                 {{QStringLiteral("--no-dbus")}, QStringLiteral("--title"), TExec::DashX});
        K.insert(QStringLiteral("lxterminal"),
                 {{QStringLiteral("--no-remote")}, QStringLiteral("--title"), TExec::DashEString});
        K.insert(QStringLiteral("tilix"), {{}, QStringLiteral("--title"), TExec::DashEString});
        K.insert(QStringLiteral("qterminal"), {{}, {}, TExec::DashEString});
        return K;
    }();
    return Known;
}

// The known terminal Program is, through links (x-terminal-emulator) and the wrappers that
// distributions put in front of a terminal ("gnome-terminal.wrapper" translates xterm's
// options and knows no others, so the terminal beside it is started instead): its entry.
const TKnownTerminal* KnownTerminal(QString& Program) {
    const QString Path = Program.contains(u'/') ? Program : QStandardPaths::findExecutable(Program);
    if (Path.isEmpty())
        return nullptr;
    const QFileInfo Real(QFileInfo(Path).canonicalFilePath());
    QString Name = Real.fileName();
    if (Name.endsWith(QLatin1String(".wrapper"))) {
        Name.chop(8);
        const QString Beside = Real.dir().filePath(Name);
        if (!QFileInfo(Beside).isExecutable())
            return nullptr;
        Program = Beside;
    } else if (Name.endsWith(QLatin1String(".real"))) {
        Name.chop(5);
    }
    const auto It = KnownTerminals().constFind(Name);
    return It == KnownTerminals().constEnd() ? nullptr : &It.value();
}

// The wrapper's command for Request, with State as its state folder (empty: none) and Hold as
// the wrapper counts it.
QStringList WrapperCommand(const TTerminalRequest& Request, const QString& State) {
    const QString Hold = Request.Hold == TTerminalHold::Always      ? QStringLiteral("1")
                         : Request.Hold == TTerminalHold::OnTrouble ? QStringLiteral("2")
                                                                    : QStringLiteral("0");
    const QString Check =
        Request.Hold == TTerminalHold::OnTrouble ? ShellJoin(Request.ConflictCheck) : QString();
    QStringList Words{QStringLiteral("sh"), QStringLiteral("-c"), Wrapper, QStringLiteral("sh")};
    Words << State << Request.Title << Request.Dir << Check << Hold << Request.Command;
    return Words;
}

// A title as a window shows it: one line, no control characters.
QString CleanTitle(const QString& Title) {
    QString T;
    for (const QChar C : Title)
        T += C.isPrint() ? C : u' ';
    return T.simplified();
}

// The command's process in the window, as the wrapper noted it; 0 before it has.
qint64 CommandPid(const QString& State) {
    QFile F(State + QStringLiteral("/pid"));
    if (!F.open(QIODevice::ReadOnly))
        return 0;
    bool Ok = false;
    const qint64 Pid = F.readAll().trimmed().toLongLong(&Ok);
    return Ok && Pid > 1 ? Pid : 0;
}

// The process's start time and state letter from /proc; false when there is no such process.
bool ProcessInfo(qint64 Pid, QByteArray& Start, char& State) {
    QFile F(QStringLiteral("/proc/%1/stat").arg(Pid));
    if (!F.open(QIODevice::ReadOnly))
        return false;
    const QByteArray Line = F.readAll();
    // The name (field 2) may hold blanks and parentheses: the fields count from its end.
    const qsizetype End = Line.lastIndexOf(')');
    if (End < 0)
        return false;
    const QList<QByteArray> Fields = Line.mid(End + 2).split(' ');
    if (Fields.size() <= 19 || Fields.at(0).isEmpty())
        return false;
    State = Fields.at(0).at(0); // field 3
    Start = Fields.at(19);      // field 22
    return true;
}

QByteArray StartTime(qint64 Pid) {
    QByteArray Start;
    char State = 0;
    return ProcessInfo(Pid, Start, State) ? Start : QByteArray();
}

// Whether the command's process still runs: the same process (a number given to another one
// later has another start time), and no zombie nobody has reaped yet.
bool StillRunning(qint64 Pid, const QByteArray& Started) {
    if (Started.isEmpty()) // no /proc: the signal test is all there is
        return kill(pid_t(Pid), 0) == 0 || errno == EPERM;
    QByteArray Start;
    char State = 0;
    return ProcessInfo(Pid, Start, State) && Start == Started && State != 'Z';
}

// Every process below Pid, from /proc.
QList<pid_t> Descendants(pid_t Pid) {
    QHash<pid_t, QList<pid_t>> Children;
    const QStringList Entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& E : Entries) {
        bool Ok = false;
        const pid_t P = pid_t(E.toInt(&Ok));
        if (!Ok)
            continue;
        QFile F(QStringLiteral("/proc/%1/stat").arg(P));
        if (!F.open(QIODevice::ReadOnly))
            continue;
        const QByteArray Line = F.readAll();
        const QList<QByteArray> Fields = Line.mid(Line.lastIndexOf(')') + 2).split(' ');
        if (Fields.size() > 1)
            Children[pid_t(Fields.at(1).toInt())].append(P);
    }
    QList<pid_t> All;
    QList<pid_t> Pending{Pid};
    while (!Pending.isEmpty()) {
        const QList<pid_t> Below = Children.value(Pending.takeLast());
        All += Below;
        Pending += Below;
    }
    return All;
}

// Ends the command in a window whose terminal has gone or returned early: its process group
// where it leads one (as in a terminal), else it and what it started; the caller cleans up
// after it, so it waits until they are gone.
void EndCommand(qint64 Pid, const QByteArray& Stamp) {
    if (!Pid || !StillRunning(Pid, Stamp))
        return;
    const bool Leader = getpgid(pid_t(Pid)) == pid_t(Pid);
    const QList<pid_t> Below = Descendants(pid_t(Pid));
    auto Signal = [&](int Sig) {
        if (Leader)
            kill(-pid_t(Pid), Sig);
        kill(pid_t(Pid), Sig);
        for (pid_t P : Below)
            kill(P, Sig);
    };
    Signal(SIGTERM);
    for (int I = 0; I < 50; ++I) {
        bool Any = StillRunning(Pid, Stamp);
        for (pid_t P : Below)
            Any = Any || StillRunning(P, StartTime(P));
        if (!Any)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Signal(SIGKILL);
}

// Reads the wrapper's "EXITCODE CONFLICT HELD"; false while it is not there.
bool ReadEnd(const QString& State, TTerminalResult& Result) {
    QFile F(State + QStringLiteral("/rc"));
    if (!F.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> Fields = F.readAll().simplified().split(' ');
    bool Ok = false;
    const int Code = Fields.value(0).toInt(&Ok);
    if (!Ok)
        return false;
    Result.ExitCode = Code;
    Result.Conflict = Fields.value(1) == "1";
    Result.Held = Fields.value(2) == "1";
    Result.Ran = Result.Finished = true;
    return true;
}

bool Cancelled(const std::atomic<bool>* Cancel) {
    return Cancel && Cancel->load();
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

QStringList TerminalCommandLine(const QStringList& Terminal, const QString& Title,
                                const QStringList& Command) {
    if (Terminal.isEmpty())
        return {};
    QString Program = Terminal.first();
    const TKnownTerminal* Known = KnownTerminal(Program);
    QStringList Words = QStringList{Program} + Terminal.mid(1);
    if (!Known) {
        if (!Command.isEmpty())
            Words << QStringLiteral("-e") << Command;
        return Words;
    }
    Words << Known->Wait;
    if (!Known->Title.isEmpty() && !Title.isEmpty())
        Words << Known->Title << Title;
    if (Command.isEmpty())
        return Words;
    switch (Known->Exec) {
    case TExec::DashE:
        return Words << QStringLiteral("-e") << Command;
    case TExec::DashX:
        return Words << QStringLiteral("-x") << Command;
    case TExec::DoubleDash:
        return Words << QStringLiteral("--") << Command;
    case TExec::Plain:
        return Words << Command;
    case TExec::DashEString:
        return Words << QStringLiteral("-e") << ShellJoin(Command);
    }
    return Words;
}

TTerminalResult RunInTerminal(const TTerminalRequest& Request) {
    TTerminalResult Result;
    const QStringList Terminal = FindTerminal();
    if (Terminal.isEmpty() || Request.Command.isEmpty())
        return Result;
    QTemporaryDir State(QDir::tempPath() + QStringLiteral("/kivsvn-terminal-XXXXXX"));
    if (!State.isValid())
        return Result;
    const QString Title = CleanTitle(Request.Title);
    TTerminalRequest Wrapped = Request;
    Wrapped.Title = Title;
    const QStringList Words =
        TerminalCommandLine(Terminal, Title, WrapperCommand(Wrapped, State.path()));
    const qint64 Pid = StartChild(Words.first(), Words.mid(1), Request.Dir);
    if (Pid == 0)
        return Result;
    Result.Started = true;
    const int TerminalCode = WaitChild(Pid, Request.Cancel);

    qint64 Command = 0;
    QByteArray Stamp;
    auto Look = [&] {
        if (!Command && (Command = CommandPid(State.path())))
            Stamp = StartTime(Command);
        return Command;
    };
    if (Cancelled(Request.Cancel)) {
        EndCommand(Look(), Stamp);
        Result.Cancelled = true;
        Result.Ran = Command != 0;
        Result.ExitCode = -1;
        return Result;
    }
    if (ReadEnd(State.path(), Result))
        return Result;

    // The terminal program has ended and the command has not: it went to a server of the
    // terminal's, or it never began. Either way the run waits for it here, so that the next
    // command does not run beside it.
    Result.Returned = true;
    QElapsedTimer Clock;
    Clock.start();
    // A terminal that failed gets a moment only, for a command that began all the same.
    const int StartTimeout =
        TerminalCode == 0 ? Request.StartTimeoutMs : std::min(Request.StartTimeoutMs, 1000);
    for (;; std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
        if (Cancelled(Request.Cancel)) {
            EndCommand(Look(), Stamp);
            Result = TTerminalResult{};
            Result.Started = Result.Returned = Result.Cancelled = true;
            Result.Ran = Command != 0;
            return Result;
        }
        if (Look()) {
            if (StillRunning(Command, Stamp))
                continue; // running, or its window waits for Enter
            if (!ReadEnd(State.path(), Result)) {
                Result.Ran = true;
                Result.Problem = QStringLiteral("Das Terminalfenster wurde geschlossen, bevor "
                                                "der Befehl zu Ende war.");
            }
            return Result;
        }
        if (ReadEnd(State.path(), Result))
            return Result; // too quick to be seen running
        if (Clock.elapsed() >= StartTimeout) {
            const QString Name = QFileInfo(Terminal.first()).fileName();
            Result.Problem =
                TerminalCode == 0
                    ? QStringLiteral("Das Terminal \"%1\" hat sich beendet, ohne den Befehl "
                                     "auszuführen.")
                          .arg(Name)
                    : QStringLiteral("Das Terminal \"%1\" hat sich mit dem Code %2 beendet, "
                                     "ohne den Befehl auszuführen.")
                          .arg(Name)
                          .arg(TerminalCode);
            return Result;
        }
    }
}

TTerminalResult RunInTerminal(const QStringList& Command, const QString& Dir,
                              const std::atomic<bool>* Cancel, bool WaitForEnter) {
    TTerminalRequest R;
    R.Command = Command;
    R.Dir = Dir;
    R.Cancel = Cancel;
    R.Hold = WaitForEnter ? TTerminalHold::Always : TTerminalHold::Never;
    return RunInTerminal(R);
}

bool StartInTerminal(const TTerminalRequest& Request) {
    const QStringList Terminal = FindTerminal();
    if (Terminal.isEmpty())
        return false;
    const QString Title = CleanTitle(Request.Title);
    TTerminalRequest Wrapped = Request;
    Wrapped.Title = Title;
    const QStringList Words = TerminalCommandLine(
        Terminal, Title, Request.Command.isEmpty() ? QStringList() : WrapperCommand(Wrapped, {}));
    return StartDetached(Words.first(), Words.mid(1), Request.Dir);
}

bool StartInTerminal(const QStringList& Command, const QString& Dir, bool WaitForEnter) {
    TTerminalRequest R;
    R.Command = Command;
    R.Dir = Dir;
    R.Hold = WaitForEnter ? TTerminalHold::Always : TTerminalHold::Never;
    return StartInTerminal(R);
}

int RunAndWait(const QString& CommandLine, quint16 ShowCode, const QString& WorkingDirectory) {
    Q_UNUSED(ShowCode);
    const TTerminalResult R = RunInTerminal(SplitCommandLine(CommandLine), WorkingDirectory);
    return R.Started ? R.ExitCode : -1;
}
