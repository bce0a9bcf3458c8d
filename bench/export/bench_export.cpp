// Export of N projects (default 400): the job as the window runs it (batched `svn info` on
// worker threads, page written) against running `svn info` in each folder one after another.
// Usage: bench_export [N]
#include "html_ausgabe.h"

#include "kiv_XmlObjects.h"
#include "kiv_process.h"
#include "svn_output.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

static int Svn(const QStringList& Args) {
    QStringList Lines;
    return RunCapturedArgs(Lines, QStringLiteral("svn"), Args);
}

int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    const int N = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 400;
    QTemporaryDir Tmp;
    const QString Repo = Tmp.filePath(QStringLiteral("repo"));
    QStringList L;
    RunCapturedArgs(L, QStringLiteral("svnadmin"), {QStringLiteral("create"), Repo});
    const QString Url = QStringLiteral("file://") + Repo;
    QStringList Mkdir{QStringLiteral("mkdir"), QStringLiteral("-q"), QStringLiteral("-m"),
                      QStringLiteral("fixture")};
    QStringList Urls;
    for (int I = 0; I < N; ++I)
        Urls << Url + QStringLiteral("/p%1").arg(I, 4, 10, QLatin1Char('0'));
    Svn(Mkdir + Urls);
    // One checkout command makes every working copy (each its own .svn).
    const QString Wc = Tmp.filePath(QStringLiteral("wc"));
    QDir().mkpath(Wc);
    Svn(QStringList{QStringLiteral("checkout"), QStringLiteral("-q")} + Urls + QStringList{Wc});

    TkivPlainXmlElement Root;
    Root.SetName(QStringLiteral("SubVersion"));
    QStringList Dirs;
    for (int I = 0; I < N; ++I) {
        // Ten groups, as a registry would have them.
        TkivXmlElement* G = I % (N / 10 + 1) == 0 || Root.ChildCount() == 0
                                ? Root.AddChild(QStringLiteral("ProjektGruppe"))
                                : Root.GetChild(Root.ChildCount() - 1);
        G->SetAttribute(QStringLiteral("Name"), QStringLiteral("G%1").arg(Root.ChildCount()));
        TkivXmlElement* P = G->AddChild(QStringLiteral("Projekt"));
        const QString Dir = Wc + QStringLiteral("/p%1").arg(I, 4, 10, QLatin1Char('0'));
        P->SetAttribute(QStringLiteral("Name"), QStringLiteral("p%1").arg(I));
        P->SetAttribute(QStringLiteral("Verzeichnis"), Dir + QLatin1Char('/'));
        Dirs << Dir;
    }

    // One after another: `svn info` in each folder.
    QElapsedTimer T;
    T.start();
    int WithUrl = 0;
    for (const QString& D : Dirs) {
        QStringList Lines;
        TRunOptions O;
        O.WorkingDirectory = D;
        RunCapturedArgs(Lines, QStringLiteral("svn"), {QStringLiteral("info")}, O);
        if (!ExtractSvnUrl(Lines).isEmpty())
            ++WithUrl;
    }
    const double Loop = T.nsecsElapsed() / 1e9;

    // The export as the window runs it, page written included.
    T.restart();
    const QString Page = Tmp.filePath(QStringLiteral("page.html"));
    auto* Job = new THtmlExportJob(&Root, Page, nullptr, {}, {});
    bool Ok = false;
    QEventLoop Loop2;
    QObject::connect(Job, &THtmlExportJob::Finished, [&](bool R, const QString&) {
        Ok = R;
        Loop2.quit();
    });
    Loop2.exec();
    const double Batched = T.nsecsElapsed() / 1e9;
    QFile F(Page);
    F.open(QIODevice::ReadOnly);
    const int Blue = F.readAll().count("#0000FF");

    std::printf("projects: %d\n", N);
    std::printf("svn info per folder, one after another: %.3f s (%d URLs)\n", Loop, WithUrl);
    std::printf("export (batched svn info through the task engine): %.3f s, %d URLs on the "
                "page, ok=%d\n",
                Batched, Blue, int(Ok));
    std::printf("speed-up: %.1fx\n", Loop / Batched);
    return Ok && Blue == N ? 0 : 1;
}
