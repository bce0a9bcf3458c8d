// The window's event loop during a task run over the whole registry: a timer that should fire
// every 5 ms records the largest gap between its ticks while "Testen auf Änderungen" (or, with
// "update", "Aktualisieren") runs. The registry comes from $XDG_DATA_HOME as for the program.
//   bench_engine_stall [status|update] [--short]
#include "fm_main.h"
#include "kiv_output.h"
#include "kiv_prompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

namespace {
class TPrintPrompter : public TkivPrompter {
public:
    void Info(const QString& M) override { std::fprintf(stderr, "Info: %s\n", qPrintable(M)); }
    void Error(const QString& M) override { std::fprintf(stderr, "Fehler: %s\n", qPrintable(M)); }
    bool YesNo(const QString&, bool) override { return false; }
    bool InputText(const QString&, const QString&, QString&) override { return false; }
};
} // namespace

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kivSubversion"));
    TPrintPrompter Prompter;
    SetPrompter(&Prompter);
    const QStringList Args = App.arguments().mid(1);
    const bool Update = Args.contains(QStringLiteral("update"));
    const bool Short = Args.contains(QStringLiteral("--short"));

    TfmMain W;
    W.show();
    QElapsedTimer Wait;
    Wait.start();
    while (!W.RegistryLoaded() && Wait.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!W.RegistryLoaded()) {
        std::fprintf(stderr, "Register nicht geladen\n");
        return 2;
    }
    W.lvDir->SetSelected(W.lvDir->XMLItems()->TopNode(0));
    if (W.cbKurz->isChecked() != Short)
        W.cbKurz->click();

    QElapsedTimer Clock;
    qint64 Last = 0, MaxGap = 0, MaxAt = 0;
    int Ticks = 0;
    QTimer Tick;
    Tick.setInterval(5);
    QObject::connect(&Tick, &QTimer::timeout, [&] {
        const qint64 Now = Clock.nsecsElapsed();
        if (Now - Last > MaxGap) {
            MaxGap = Now - Last;
            MaxAt = Last;
        }
        Last = Now;
        ++Ticks;
    });
    bool Started = false;
    QTimer::singleShot(50, [&] {
        Clock.start();
        Last = 0;
        Tick.start();
        Started = true;
        (Update ? W.ToolButton7 : W.ToolButton8)->click();
    });
    QTimer Poll;
    Poll.setInterval(20);
    QObject::connect(&Poll, &QTimer::timeout, [&] {
        // The run is over when its last line is in the memo.
        if (Started && W.ToolButton8->isEnabled() && W.Output->Pending() == 0) {
            Tick.stop();
            Poll.stop();
            App.quit();
        }
    });
    Poll.start();
    App.exec();
    const QStringList Lines = W.mmExec->toPlainText().split(u'\n');
    std::printf("run %.3f s, %d memo lines, last \"%s\", %d ticks, largest gap %.1f ms (from "
                "%.3f s)\n",
                Clock.nsecsElapsed() / 1e9, int(Lines.size()), qPrintable(Lines.last()), Ticks,
                MaxGap / 1e6, MaxAt / 1e9);
    SetPrompter(nullptr);
    return 0;
}
