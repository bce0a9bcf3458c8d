#include "svn_client.h"

#include "kiv_process.h"

#include <QProcessEnvironment>

#include <clocale>
#include <mutex>

QStringList TSvnClient::Arguments(const QStringList& Arguments) {
    QStringList Args = Arguments;
    // No prompt for a password or a certificate: a client that needs one fails at once.
    Args.insert(Args.isEmpty() ? 0 : 1, QStringLiteral("--non-interactive"));
    return Args;
}

QStringList TSvnClient::Environment() {
    static QStringList Env;
    static std::once_flag Once;
    std::call_once(Once, [] {
        QProcessEnvironment E = QProcessEnvironment::systemEnvironment();
        // The character type the program runs with (LC_ALL, else LC_CTYPE, else LANG), kept;
        // only the messages are English. LANGUAGE would override them, LC_ALL everything.
        const char* Ctype = std::setlocale(LC_CTYPE, nullptr);
        QString Type = Ctype ? QString::fromLatin1(Ctype) : QString();
        if (Type.isEmpty() || Type == u"C" || Type == u"POSIX") {
            Type = E.value(QStringLiteral("LC_ALL"));
            if (Type.isEmpty())
                Type = E.value(QStringLiteral("LC_CTYPE"));
            if (Type.isEmpty())
                Type = E.value(QStringLiteral("LANG"));
        }
        E.remove(QStringLiteral("LC_ALL"));
        E.remove(QStringLiteral("LANGUAGE"));
        if (!Type.isEmpty())
            E.insert(QStringLiteral("LC_CTYPE"), Type);
        E.insert(QStringLiteral("LC_MESSAGES"), QStringLiteral("C"));
        // An ssh tunnel asks for passwords and host keys on the terminal, which the client
        // does not have; in batch mode it fails instead.
        if (!E.contains(QStringLiteral("SVN_SSH")))
            E.insert(QStringLiteral("SVN_SSH"), QStringLiteral("ssh -o BatchMode=yes"));
        Env = E.toStringList();
    });
    return Env;
}

TSvnResult TSvnClient::Run(const TSvnCall& Call) const {
    TSvnResult R;
    TRunOptions Options;
    Options.WorkingDirectory = Call.Folder;
    Options.Cancel = Call.Cancel;
    Options.IdleTimeoutMs = Call.TimeoutSeconds > 0 ? Call.TimeoutSeconds * 1000 : 0;
    Options.Environment = Environment() + Call.Environment;
    Options.NullInput = true;
    TRunStatus Status;
    Options.Status = &Status;
    R.ExitCode = RunCapturedArgs(R.Lines, Program, Arguments(Call.Arguments), Options);
    R.Started = Status.Started;
    R.StartError = Status.StartError;
    R.TimedOut = Status.TimedOut;
    R.Cancelled = Status.Cancelled;
    return R;
}

QString TimeoutText(int Seconds) {
    return QStringLiteral("Zeitlimit überschritten: svn hat %1 Sekunden lang nichts ausgegeben "
                          "und wurde beendet.")
        .arg(Seconds);
}
