#include "kiv_process.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
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

// A NULL-terminated array of C strings (argv, envp) for posix_spawn, in the file system's
// encoding; the bytes stay alive as long as this object.
class TCStrings {
public:
    explicit TCStrings(const QStringList& Strings) {
        FBytes.reserve(size_t(Strings.size()));
        for (const QString& S : Strings)
            FBytes.push_back(QFile::encodeName(S));
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
// in WorkingDirectory (empty: ours), in a session of its own so that it has no terminal to
// ask on and can be ended with everything it starts. The process's own current directory is
// never changed, so several threads may start children in different folders at once. 0 when
// none started, with *Error set.
pid_t Spawn(const QString& Program, const QStringList& Arguments, int OutFd,
            const QString& WorkingDirectory, const QStringList& Environment = QStringList(),
            bool NullInput = false, int* Error = nullptr) {
    if (Program.isEmpty()) {
        if (Error)
            *Error = ENOENT;
        return 0;
    }
    TCStrings Argv(QStringList{Program} + Arguments);
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    if (NullInput)
        posix_spawn_file_actions_addopen(&Actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
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
    posix_spawnattr_setflags(&Attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                        POSIX_SPAWN_SETSID);
    std::optional<TCStrings> Envp;
    if (!Environment.isEmpty())
        Envp.emplace(Environment);
    pid_t Pid = 0;
    const int Rc = posix_spawnp(&Pid, Argv.Data()[0], &Actions, &Attr, Argv.Data(),
                                Envp ? Envp->Data() : environ);
    posix_spawnattr_destroy(&Attr);
    posix_spawn_file_actions_destroy(&Actions);
    if (Rc != 0 && Error)
        *Error = Rc;
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

// Ends a child and its session's process group: SIGTERM, and SIGKILL when it has not gone
// within two seconds. The group is signalled only while the child is not yet reaped, so its
// number cannot have been given to another process.
void EndChild(pid_t Pid) {
    kill(-Pid, SIGTERM);
    for (int I = 0; I < 40; ++I) {
        siginfo_t Info{};
        if (waitid(P_PID, id_t(Pid), &Info, WEXITED | WNOHANG | WNOWAIT) == 0 && Info.si_pid == Pid)
            break;
        usleep(50 * 1000);
    }
    kill(-Pid, SIGKILL);
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
    TRunStatus Ignored;
    TRunStatus& Status = Options.Status ? *Options.Status : Ignored;
    Status = TRunStatus();
    int Pipe[2];
    if (pipe2(Pipe, O_CLOEXEC) != 0) {
        Status.StartError = errno;
        return -1;
    }
    const pid_t Pid = Spawn(Program, Arguments, Pipe[1], Options.WorkingDirectory,
                            Options.Environment, Options.NullInput, &Status.StartError);
    close(Pipe[1]);
    if (Pid == 0) {
        close(Pipe[0]);
        return -1;
    }
    Status.Started = true;

    bool Cancelled = false, TimedOut = false, Interrupted = false;
    TLineSplitter Splitter;
    Splitter.OnLine = [&](const QString& Line) {
        if (Options.Collect)
            Lines.append(Line);
        if (Options.OnLine)
            Options.OnLine(Line);
        if (PumpEvents)
            QCoreApplication::processEvents();
    };
    using Clock = std::chrono::steady_clock;
    Clock::time_point LastOutput = Clock::now();
    std::optional<Clock::time_point> InterruptedAt, ExitedAt;
    auto Since = [](Clock::time_point T) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - T).count();
    };
    auto Interrupt = [&] {
        if (!InterruptedAt) {
            kill(-Pid, SIGINT);
            InterruptedAt = Clock::now();
        }
    };
    bool Hard = false; // ended without waiting for the child to stop on its own
    try {
        char Buffer[4096];
        for (;;) {
            if (Options.Cancel && Options.Cancel->load()) {
                Cancelled = Hard = true;
                break;
            }
            if (Options.Interrupt && Options.Interrupt->load() && !InterruptedAt) {
                Cancelled = Interrupted = true;
                Interrupt();
            }
            if (Options.IdleTimeoutMs > 0 && !InterruptedAt &&
                Since(LastOutput) >= Options.IdleTimeoutMs) {
                TimedOut = true;
                Interrupt();
            }
            if (InterruptedAt && Since(*InterruptedAt) >= Options.InterruptGraceMs) {
                Hard = true;
                break;
            }
            if (!ExitedAt) {
                siginfo_t Info{};
                if (waitid(P_PID, id_t(Pid), &Info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                    Info.si_pid == Pid)
                    ExitedAt = Clock::now();
            }
            if (ExitedAt && Since(*ExitedAt) >= Options.ExitGraceMs)
                break; // the client is gone; what holds the pipe is not ours to wait for
            pollfd P{Pipe[0], POLLIN, 0};
            // Wake up now and then to look at the flags, the time limit and the child's exit
            // and, on the GUI thread, to keep the window painting between two pieces of output.
            const int Ready = poll(&P, 1, PumpEvents ? 50 : 100);
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
            LastOutput = Clock::now();
            Splitter.Feed(Buffer, Got);
        }
        if (!Hard)
            Splitter.Finish();
    } catch (...) {
        close(Pipe[0]);
        EndChild(Pid);
        throw;
    }
    close(Pipe[0]);
    if (Hard) {
        EndChild(Pid);
    }
    const int Code = Hard ? -1 : WaitExitCode(Pid);
    Status.Cancelled = Cancelled;
    Status.Interrupted = Interrupted;
    Status.TimedOut = TimedOut;
    return Cancelled || TimedOut ? -1 : Code;
}

qint64 StartChild(const QString& Program, const QStringList& Arguments, const QString& Dir,
                  int* Error) {
    return Spawn(Program, Arguments, -1, Dir, QStringList(), false, Error);
}

int WaitChild(qint64 Pid, const std::atomic<bool>* Cancel) {
    if (Pid <= 0)
        return -1;
    for (;;) {
        int Status = 0;
        const pid_t R = waitpid(pid_t(Pid), &Status, Cancel ? WNOHANG : 0);
        if (R == pid_t(Pid))
            return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
        if (R < 0 && errno != EINTR)
            return -1;
        if (Cancel && Cancel->load()) {
            EndChild(pid_t(Pid));
            return -1;
        }
        if (R == 0)
            usleep(50 * 1000);
    }
}

bool StartDetached(const QString& Program, const QStringList& Arguments, const QString& Dir) {
    // QProcess detaches with a double fork, so nobody has to wait for the program.
    return QProcess::startDetached(Program, Arguments, Dir);
}
