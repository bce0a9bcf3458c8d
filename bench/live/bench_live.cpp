// The live copies, measured where the user sees them (bench_live.sh makes the copies and runs
// this):
//   bench_live window COPIES TRIALS IDLE
//     the window over the registry in $XDG_DATA_HOME: "Testen auf Änderungen" right after the
//     start (every copy runs) against the same test repeated after 3 copies changed, TRIALS
//     times each; then a saved file to the state in the tree, 10 times; then the processor time
//     the idle window takes over IDLE seconds.
//   bench_live watch KIVSVN REGISTRY COPIES TRIALS IDLE
//     kivsvn watch over REGISTRY: a saved file to its line, TRIALS times; its processor time over
//     IDLE seconds.
// COPIES: the copies' folders, one a line, in the registry's order.
#include "fm_main.h"
#include "kiv_live.h"
#include "kiv_output.h"
#include "kiv_prompts.h"
#include "kiv_taskcontrol.h"
#include "kiv_watcher.h"
#include "svn_store.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

class TPrintPrompter : public TkivPrompter {
public:
    void Info(const QString& M) override { std::fprintf(stderr, "Info: %s\n", qPrintable(M)); }
    void Error(const QString& M) override { std::fprintf(stderr, "Fehler: %s\n", qPrintable(M)); }
    bool YesNo(const QString&, bool) override { return false; }
    bool InputText(const QString&, const QString&, QString&) override { return false; }
};

// Runs the event loop until Done() holds (looked at every Ms) or Limit ms have passed; the loop
// sleeps in between, so the figures are not a busy loop's.
bool Until(const std::function<bool()>& Done, int Limit, int Ms = 2) {
    if (Done())
        return true;
    QEventLoop Loop;
    QTimer Look;
    Look.setInterval(Ms);
    QObject::connect(&Look, &QTimer::timeout, &Loop, [&] {
        if (Done())
            Loop.quit();
    });
    QTimer::singleShot(Limit, &Loop, &QEventLoop::quit);
    Look.start();
    Loop.exec();
    return Done();
}

void Sleep(int Ms) {
    QEventLoop Loop;
    QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
    Loop.exec();
}

double CpuSeconds() {
    rusage U;
    getrusage(RUSAGE_SELF, &U);
    return double(U.ru_utime.tv_sec + U.ru_stime.tv_sec) +
           double(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

// "best B (median M, worst W)" of times in seconds.
QString Spread(std::vector<double> T, const char* Unit = "s", double Scale = 1) {
    std::sort(T.begin(), T.end());
    if (T.empty())
        return QStringLiteral("-");
    return QStringLiteral("%1%4 (median %2%4, worst %3%4)")
        .arg(T.front() * Scale, 0, 'f', 3)
        .arg(T[T.size() / 2] * Scale, 0, 'f', 3)
        .arg(T.back() * Scale, 0, 'f', 3)
        .arg(QLatin1String(Unit));
}

void Append(const QString& File, const QByteArray& Line) {
    QFile F(File);
    if (F.open(QIODevice::Append))
        F.write(Line);
}

void Revert(const QString& File) {
    QProcess::execute(QStringLiteral("svn"),
                      {QStringLiteral("revert"), QStringLiteral("-q"), File});
}

QStringList ReadList(const QString& Name) {
    QFile F(Name);
    QStringList R;
    if (F.open(QIODevice::ReadOnly))
        for (const QByteArray& L : F.readAll().split('\n'))
            if (!L.isEmpty())
                R << QString::fromLocal8Bit(L);
    return R;
}

// Clicks "Testen auf Änderungen" on the root; seconds until "*** Ende" is in the memo.
double TestAll(TfmMain& W) {
    W.lvDir->SetSelected(W.lvDir->XMLItems()->TopNode(0));
    QElapsedTimer Clock;
    qint64 Ended = 0;
    QObject Listener;
    QObject::connect(W.Tasks, &TTaskController::RunFinished, &Listener,
                     [&] { Ended = Clock.nsecsElapsed(); });
    Clock.start();
    W.ToolButton8->click();
    Until([&] { return !W.Tasks->Running() && W.Output->Pending() == 0; }, 600000, 1);
    if (qEnvironmentVariableIsSet("BENCH_LIVE_DETAIL"))
        std::printf("  run ended after %.3f s, memo written after %.3f s\n", Ended / 1e9,
                    Clock.nsecsElapsed() / 1e9);
    return Clock.nsecsElapsed() / 1e9;
}

std::unique_ptr<TfmMain> OpenWindow() {
    auto W = std::make_unique<TfmMain>();
    W->show();
    Until([&] { return W->RegistryLoaded(); }, 60000);
    Sleep(500); // the registry's projects go to the watcher a moment after loading
    Until([&] { return W->Tasks->Live()->Watcher()->IsSettled(); }, 120000);
    return W;
}

int Window(const QStringList& Copies, int Trials, int Idle) {
    QRandomGenerator Random(17);
    std::vector<double> Full, Repeat;
    std::unique_ptr<TfmMain> W;
    for (int T = 0; T < Trials; ++T) {
        W.reset();
        W = OpenWindow();
        Full.push_back(TestAll(*W)); // a program just started: every copy runs
        const int Repeats = qEnvironmentVariableIsSet("BENCH_LIVE_REPEATS")
                                ? qEnvironmentVariableIntValue("BENCH_LIVE_REPEATS")
                                : 3;
        for (int R = 0; R < Repeats; ++R) {
            QStringList Changed;
            for (int K = 0; K < 3; ++K)
                Changed << Copies.at(int(Random.bounded(Copies.size()))) + "/README";
            for (const QString& F : Changed)
                Append(F, "geändert\n");
            Repeat.push_back(TestAll(*W));
            for (const QString& F : Changed)
                Revert(F);
            // The background checks of the reverts come and go, and the states are written
            // (2 s after the last change): the next test starts on a quiet window, as one does
            // a while after the edits it is to find.
            Sleep(3000);
        }
    }
    std::vector<double> Ratio;
    std::sort(Full.begin(), Full.end());
    for (double R : Repeat)
        Ratio.push_back(R / Full[Full.size() / 2]);
    std::printf("window, %d copies: Testen auf Änderungen after the start %s; repeated with 3 "
                "copies changed %s; repeated/full (median full) %s\n",
                int(Copies.size()), qPrintable(Spread(Full)), qPrintable(Spread(Repeat)),
                qPrintable(Spread(Ratio, "%", 100)));
    std::fflush(stdout);

    // A saved file to its state in the tree (the tree draws from the store).
    TStateStore* Store = W->Tasks->Store();
    std::vector<double> Latency;
    for (int T = 0; T < 10; ++T) {
        const QString Copy = Copies.at(int(Random.bounded(Copies.size())));
        QElapsedTimer Clock;
        Clock.start();
        Append(Copy + "/README", "gespeichert\n");
        const bool Seen = Until(
            [&] {
                const TStoredState* S = Store->Find(Copy);
                return S && S->State == TSvnState::Changes;
            },
            20000, 1);
        Latency.push_back(Seen ? Clock.nsecsElapsed() / 1e9 : 99);
        Revert(Copy + "/README");
        Until(
            [&] {
                const TStoredState* S = Store->Find(Copy);
                return S && S->State == TSvnState::Clean;
            },
            20000, 1);
        Sleep(300);
    }
    std::printf("window, %d copies watched: saved file to its state in the tree %s\n",
                int(Copies.size()), qPrintable(Spread(Latency)));
    std::fflush(stdout);

    // Idle: nothing changes, nothing runs (the states written after the last change first).
    Sleep(4000);
    const double Cpu = CpuSeconds();
    QElapsedTimer Clock;
    Clock.start();
    Sleep(Idle * 1000);
    std::printf("window, %d copies watched, idle %d s: %.3f s processor time = %.3f %% of a core\n",
                int(Copies.size()), Idle, CpuSeconds() - Cpu,
                100.0 * (CpuSeconds() - Cpu) / (Clock.nsecsElapsed() / 1e9));
    return 0;
}

double ProcessCpu(qint64 Pid) {
    QFile F(QStringLiteral("/proc/%1/stat").arg(Pid));
    if (!F.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray S = F.readAll();
    const QList<QByteArray> Fields = S.mid(S.lastIndexOf(')') + 2).split(' ');
    // utime and stime: fields 14 and 15 of the line, 12 and 13 after the name.
    return (Fields.value(11).toDouble() + Fields.value(12).toDouble()) /
           double(sysconf(_SC_CLK_TCK));
}

int Watch(const QString& Kivsvn, const QString& Registry, const QStringList& Copies, int Trials,
          int Idle) {
    QProcess P;
    P.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    P.start(Kivsvn, {QStringLiteral("watch"), QStringLiteral("--format"), QStringLiteral("json"),
                     QStringLiteral("--registry"), Registry});
    if (!P.waitForStarted())
        return 2;
    QHash<QString, QString> State; // folder -> its last state
    auto Read = [&] {
        while (P.canReadLine()) {
            const QJsonObject J = QJsonDocument::fromJson(P.readLine()).object();
            State.insert(J.value("folder").toString(), J.value("state").toString());
        }
    };
    QElapsedTimer First;
    First.start();
    Until(
        [&] {
            Read();
            return State.size() >= Copies.size();
        },
        600000, 5);
    std::printf("kivsvn watch, %d copies: first line of every copy after %.2f s\n",
                int(Copies.size()), First.nsecsElapsed() / 1e9);
    std::fflush(stdout);
    QRandomGenerator Random(23);
    std::vector<double> Latency;
    for (int T = 0; T < Trials; ++T) {
        const QString Copy = Copies.at(int(Random.bounded(Copies.size())));
        QElapsedTimer Clock;
        Clock.start();
        Append(Copy + "/README", "gespeichert\n");
        const bool Seen = Until(
            [&] {
                Read();
                return State.value(Copy) == u"changes";
            },
            20000, 1);
        Latency.push_back(Seen ? Clock.nsecsElapsed() / 1e9 : 99);
        Revert(Copy + "/README");
        Until(
            [&] {
                Read();
                return State.value(Copy) == u"clean";
            },
            20000, 1);
        Sleep(300);
    }
    std::printf("kivsvn watch, %d copies watched: saved file to its line %s\n", int(Copies.size()),
                qPrintable(Spread(Latency)));
    std::fflush(stdout);
    Sleep(3000); // its store is written a moment after the last change
    const double Cpu = ProcessCpu(P.processId());
    QElapsedTimer Clock;
    Clock.start();
    Sleep(Idle * 1000);
    const double Used = ProcessCpu(P.processId()) - Cpu;
    std::printf("kivsvn watch, %d copies watched, idle %d s: %.3f s processor time = %.3f %% of a "
                "core\n",
                int(Copies.size()), Idle, Used, 100.0 * Used / (Clock.nsecsElapsed() / 1e9));
    P.terminate();
    P.waitForFinished(30000);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kivSubversion"));
    TPrintPrompter Prompter;
    SetPrompter(&Prompter);
    const QStringList A = App.arguments().mid(1);
    int R = 2;
    if (A.value(0) == u"window" && A.size() >= 4)
        R = Window(ReadList(A[1]), A[2].toInt(), A[3].toInt());
    else if (A.value(0) == u"watch" && A.size() >= 6)
        R = Watch(A[1], A[2], ReadList(A[3]), A[4].toInt(), A[5].toInt());
    else
        std::fprintf(stderr, "usage: bench_live window COPIES TRIALS IDLE\n"
                             "       bench_live watch KIVSVN REGISTRY COPIES TRIALS IDLE\n");
    SetPrompter(nullptr);
    return R;
}
