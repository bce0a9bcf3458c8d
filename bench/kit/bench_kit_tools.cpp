// Prints how long the system utilities take on large inputs:
// - GetFileVersionString on a 64 MiB file whose record lies at its end, and on this program;
// - TLineSplitter on 100 MiB of LF-ended lines fed in 4 KiB pieces;
// - RunCapturedArgs reading one million lines from a child.
// The figures on the project's machine are kept in the developer notes.
#include "kiv_process.h"
#include "kiv_system.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    QTemporaryDir Dir;
    const QString Big = Dir.filePath("big.bin");
    {
        QFile F(Big);
        if (!F.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray Chunk(1 << 20, 'x');
        for (int I = 0; I < 64; ++I)
            F.write(Chunk);
        F.write(QByteArray(1, '\0') + "KIVFILE" + "VERSION=9.8.7.6" + QByteArray(1, '\0'));
    }
    QElapsedTimer T;
    T.start();
    const QString V = GetFileVersionString(Big);
    std::printf("GetFileVersionString, 64 MiB, record at the end: %lld ms (%s)\n", T.elapsed(),
                qPrintable(V));
    T.start();
    const QString Own = GetFileVersionString(QCoreApplication::applicationFilePath());
    std::printf("GetFileVersionString, this program: %lld ms (%s)\n", T.elapsed(), qPrintable(Own));

    QByteArray Text;
    while (Text.size() < 100 * 1024 * 1024)
        Text += "M       trunk/src/some/file/in/a/working/copy.cpp\n";
    qsizetype Lines = 0;
    TLineSplitter S;
    S.OnLine = [&](const QString&) { ++Lines; };
    T.start();
    for (qsizetype I = 0; I < Text.size(); I += 4096)
        S.Feed(Text.constData() + I, qMin<qsizetype>(4096, Text.size() - I));
    S.Finish();
    std::printf("TLineSplitter, 100 MiB: %lld ms, %lld lines\n", T.elapsed(), qint64(Lines));

    QStringList Out;
    T.start();
    const int Rc = RunCapturedArgs(Out, QStringLiteral(KIV_CHILD_HELPER), {"lines:1000000"});
    std::printf("RunCapturedArgs, 1000000 lines: %lld ms, rc %d, %lld lines\n", T.elapsed(), Rc,
                qint64(Out.size()));
    return 0;
}
