#include "svn_client.h"

#include "kiv_FileText.h"
#include "kiv_process.h"

#include <QProcessEnvironment>

#include <cerrno>
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
        // Without a UTF-8 character type (LANG=C, or none at all as under cron) the client
        // refuses every path outside ASCII, while this program reads them as UTF-8.
        const QString Lower = Type.toLower();
        if (!Lower.contains(QLatin1String("utf-8")) && !Lower.contains(QLatin1String("utf8")))
            Type = QStringLiteral("C.UTF-8");
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
    Options.Interrupt = Call.Interrupt;
    Options.IdleTimeoutMs = Call.TimeoutSeconds > 0 ? qint64(Call.TimeoutSeconds) * 1000 : 0;
    Options.OnLine = Call.OnLine;
    Options.Collect = !Call.OnLine;
    Options.Environment = Environment() + Call.Environment;
    Options.NullInput = true;
    TRunStatus Status;
    Options.Status = &Status;
    R.ExitCode = RunCapturedArgs(R.Lines, Program, Arguments(Call.Arguments), Options);
    R.Started = Status.Started;
    R.StartError = Status.StartError;
    R.TimedOut = Status.TimedOut;
    R.Cancelled = Status.Cancelled;
    R.Interrupted = Status.Interrupted;
    return R;
}

QString TimeoutText(int Seconds) {
    return QStringLiteral("Zeitlimit überschritten: svn hat %1 Sekunden lang nichts ausgegeben "
                          "und wurde beendet.")
        .arg(Seconds);
}

QString StartFailureText(const QString& Program, int Error) {
    switch (Error) {
    case ENOENT:
        return QStringLiteral("%1 konnte nicht gestartet werden: das Programm ist nicht "
                              "installiert (nicht im Suchpfad gefunden).")
            .arg(Program);
    case EACCES:
        return QStringLiteral("%1 konnte nicht gestartet werden: das Programm ist nicht "
                              "ausführbar (fehlende Rechte).")
            .arg(Program);
    case EMFILE:
    case ENFILE:
        return QStringLiteral("%1 konnte nicht gestartet werden: zu viele offene Dateien "
                              "(weniger Aufrufe gleichzeitig wählen).")
            .arg(Program);
    case EAGAIN:
    case ENOMEM:
        return QStringLiteral("%1 konnte nicht gestartet werden: zu viele Prozesse oder zu "
                              "wenig Speicher.")
            .arg(Program);
    default:
        return QStringLiteral("%1 konnte nicht gestartet werden: %2")
            .arg(Program, SystemErrorText(Error));
    }
}
