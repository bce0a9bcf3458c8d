#include "kiv_process.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

QStringList SplitCommandLine(const QString& CommandLine) {
    QStringList Words;
    QString Word;
    bool InWord = false; // a word has begun (also for an empty quoted word)
    const qsizetype N = CommandLine.size();
    for (qsizetype I = 0; I < N; ++I) {
        const QChar C = CommandLine[I];
        if (C == u'\\') {
            if (I + 1 < N) {
                ++I;
                if (CommandLine[I] != u'\n') { // backslash-newline continues the line
                    Word += CommandLine[I];
                    InWord = true;
                }
            }
        } else if (C == u'\'') {
            InWord = true;
            for (++I; I < N && CommandLine[I] != u'\''; ++I)
                Word += CommandLine[I];
        } else if (C == u'"') {
            InWord = true;
            for (++I; I < N && CommandLine[I] != u'"'; ++I) {
                QChar D = CommandLine[I];
                if (D == u'\\' && I + 1 < N) {
                    const QChar E = CommandLine[I + 1];
                    if (E == u'$' || E == u'`' || E == u'"' || E == u'\\') {
                        Word += E;
                        ++I;
                        continue;
                    }
                    if (E == u'\n') {
                        ++I;
                        continue;
                    }
                }
                Word += D;
            }
        } else if (C == u' ' || C == u'\t' || C == u'\n') {
            if (InWord) {
                Words << Word;
                Word.clear();
                InWord = false;
            }
        } else {
            Word += C;
            InWord = true;
        }
    }
    if (InWord)
        Words << Word;
    return Words;
}

namespace {

// Builds argv for posix_spawn; the byte arrays stay alive as long as this object.
class TArgv {
public:
    TArgv(const QString& Program, const QStringList& Arguments) {
        FBytes.reserve(Arguments.size() + 1);
        FBytes.push_back(QFile::encodeName(Program));
        for (const QString& A : Arguments)
            FBytes.push_back(QFile::encodeName(A));
        for (QByteArray& B : FBytes)
            FPtrs.push_back(B.data());
        FPtrs.push_back(nullptr);
    }
    char* const* Data() { return FPtrs.data(); }

private:
    std::vector<QByteArray> FBytes;
    std::vector<char*> FPtrs;
};

// Starts Program (searched on PATH) with the given standard output and error (-1: inherited)
// in WorkingDirectory (empty: ours). The process's own current directory is never changed,
// so several threads may start children in different folders at once. 0 when none started.
pid_t Spawn(const QString& Program, const QStringList& Arguments, int OutFd,
            const QString& WorkingDirectory) {
    if (Program.isEmpty())
        return 0;
    TArgv Argv(Program, Arguments);
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    if (OutFd >= 0) {
        posix_spawn_file_actions_adddup2(&Actions, OutFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&Actions, OutFd, STDERR_FILENO);
    }
    const QByteArray Dir = QFile::encodeName(WorkingDirectory);
    if (!WorkingDirectory.isEmpty())
        posix_spawn_file_actions_addchdir_np(&Actions, Dir.constData());
    // The child starts with default signal handling and an empty signal mask, whatever the
    // calling thread has blocked or ignored.
    posix_spawnattr_t Attr;
    posix_spawnattr_init(&Attr);
    sigset_t Mask;
    sigemptyset(&Mask);
    posix_spawnattr_setsigmask(&Attr, &Mask);
    sigset_t Defaults;
    sigemptyset(&Defaults);
    sigaddset(&Defaults, SIGPIPE);
    sigaddset(&Defaults, SIGINT);
    sigaddset(&Defaults, SIGTERM);
    sigaddset(&Defaults, SIGHUP);
    posix_spawnattr_setsigdefault(&Attr, &Defaults);
    posix_spawnattr_setflags(&Attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t Pid = 0;
    const int Rc = posix_spawnp(&Pid, Argv.Data()[0], &Actions, &Attr, Argv.Data(), environ);
    posix_spawnattr_destroy(&Attr);
    posix_spawn_file_actions_destroy(&Actions);
    return Rc == 0 ? Pid : 0;
}

// Waits for the child; its exit code, or -1 when it did not exit normally.
int WaitExitCode(pid_t Pid) {
    int Status = 0;
    pid_t R;
    do {
        R = waitpid(Pid, &Status, 0);
    } while (R < 0 && errno == EINTR);
    if (R != Pid)
        return -1;
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

// Ends a cancelled child: SIGTERM, and SIGKILL when it has not gone within two seconds.
void EndChild(pid_t Pid) {
    kill(Pid, SIGTERM);
    for (int I = 0; I < 40; ++I) {
        int Status;
        if (waitpid(Pid, &Status, WNOHANG) == Pid)
            return;
        usleep(50 * 1000);
    }
    kill(Pid, SIGKILL);
    WaitExitCode(Pid);
}

bool OnGuiThread() {
    QCoreApplication* App = QCoreApplication::instance();
    return App && QThread::currentThread() == App->thread();
}

} // namespace

void TLineSplitter::Feed(const char* Data, qsizetype Size) {
    qsizetype I = 0;
    while (I < Size) {
        // The run of text up to the next line end goes in one piece.
        qsizetype J = I;
        while (J < Size && Data[J] != '\r' && Data[J] != '\n')
            ++J;
        if (J > I) {
            FPending.append(Data + I, J - I);
            FAfterCR = false;
        }
        if (J == Size)
            break;
        if (Data[J] == '\r') {
            Emit();
            FAfterCR = true;
        } else {
            if (!FAfterCR)
                Emit();
            FAfterCR = false;
        }
        I = J + 1;
    }
}

void TLineSplitter::Finish() {
    if (!FPending.isEmpty())
        Emit();
    FAfterCR = false;
}

void TLineSplitter::Emit() {
    const QString Line = QString::fromLocal8Bit(FPending);
    FPending.clear();
    if (OnLine)
        OnLine(Line);
}

int RunCaptured(QStringList& Lines, const QString& CommandLine) {
    return RunCaptured(Lines, CommandLine, TRunOptions());
}

int RunCaptured(QStringList& Lines, const QString& CommandLine, const TRunOptions& Options) {
    QStringList Words = SplitCommandLine(CommandLine);
    if (Words.isEmpty())
        return -1;
    const QString Program = Words.takeFirst();
    return RunCapturedArgs(Lines, Program, Words, Options);
}

int RunCapturedArgs(QStringList& Lines, const QString& Program, const QStringList& Arguments,
                    const TRunOptions& Options) {
    const bool PumpEvents = !Options.OnLine && OnGuiThread();
    if (PumpEvents)
        QCoreApplication::processEvents();

    // O_CLOEXEC on both ends: a child that another thread starts meanwhile must not inherit
    // our write end, or our read would not see the end until that child is gone too.
    int Pipe[2];
    if (pipe2(Pipe, O_CLOEXEC) != 0)
        return -1;
    const pid_t Pid = Spawn(Program, Arguments, Pipe[1], Options.WorkingDirectory);
    close(Pipe[1]);
    if (Pid == 0) {
        close(Pipe[0]);
        return -1;
    }

    bool Cancelled = false;
    TLineSplitter Splitter;
    Splitter.OnLine = [&](const QString& Line) {
        Lines.append(Line);
        if (Options.OnLine)
            Options.OnLine(Line);
        if (PumpEvents)
            QCoreApplication::processEvents();
    };
    try {
        char Buffer[4096];
        for (;;) {
            if (Options.Cancel && Options.Cancel->load()) {
                Cancelled = true;
                break;
            }
            pollfd P{Pipe[0], POLLIN, 0};
            // Wake up now and then to look at the cancel flag and, on the GUI thread, to keep
            // the window painting between two pieces of output.
            const int Timeout = (Options.Cancel || PumpEvents) ? 50 : -1;
            const int Ready = poll(&P, 1, Timeout);
            if (Ready < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (Ready == 0) {
                if (PumpEvents)
                    QCoreApplication::processEvents();
                continue;
            }
            const ssize_t Got = read(Pipe[0], Buffer, sizeof Buffer);
            if (Got < 0 && errno == EINTR)
                continue;
            if (Got <= 0)
                break;
            Splitter.Feed(Buffer, Got);
        }
        if (!Cancelled)
            Splitter.Finish();
    } catch (...) {
        close(Pipe[0]);
        EndChild(Pid);
        throw;
    }
    close(Pipe[0]);
    if (Cancelled) {
        EndChild(Pid);
        return -1;
    }
    return WaitExitCode(Pid);
}

QStringList TerminalCommand() {
    QStringList Candidates;
    const QString Env = qEnvironmentVariable("TERMINAL").trimmed();
    if (!Env.isEmpty())
        Candidates << Env;
    Candidates << QStringLiteral("x-terminal-emulator") << QStringLiteral("xterm");
    return Candidates;
}

int RunAndWait(const QString& CommandLine, quint16 ShowCode, const QString& WorkingDirectory) {
    Q_UNUSED(ShowCode);
    const QStringList Words = SplitCommandLine(CommandLine);
    if (Words.isEmpty())
        return -1;
    for (const QString& Terminal : TerminalCommand()) {
        QStringList Args = SplitCommandLine(Terminal);
        if (Args.isEmpty())
            continue;
        const QString Program = Args.takeFirst();
        Args << QStringLiteral("-e") << Words;
        const pid_t Pid = Spawn(Program, Args, -1, WorkingDirectory);
        if (Pid != 0)
            return WaitExitCode(Pid);
    }
    return -1;
}
