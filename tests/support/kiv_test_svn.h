// What the tests that drive the real Subversion client share: running svn and svnadmin, writing
// files, and what a client run in a folder of its own prints.
#pragma once

#include "svn_client.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

namespace kivtest {

// Runs svn (or svnadmin) and warns on a non-zero exit; the combined output.
inline QString Svn(const QStringList& Args, const QString& Dir = QString(),
                   const QString& Program = QStringLiteral("svn")) {
    QProcess P;
    if (!Dir.isEmpty())
        P.setWorkingDirectory(Dir);
    P.setProcessChannelMode(QProcess::MergedChannels);
    P.start(Program, Args);
    P.waitForFinished(60000);
    const QString Out = QString::fromLocal8Bit(P.readAll());
    if (P.exitStatus() != QProcess::NormalExit || P.exitCode() != 0)
        qWarning("%s %s failed: %s", qPrintable(Program), qPrintable(Args.join(u' ')),
                 qPrintable(Out));
    return Out;
}

inline void WriteFile(const QString& Path, const QByteArray& Bytes) {
    QDir().mkpath(QFileInfo(Path).path());
    QFile F(Path);
    QVERIFY(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
    F.write(Bytes);
}

inline QByteArray ReadFile(const QString& Path) {
    QFile F(Path);
    return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
}

// What the client prints when it runs in Folder itself, as the program runs it.
inline QStringList RunIn(const QString& Folder, const QStringList& Args, int* ExitCode = nullptr) {
    TSvnCall Call;
    Call.Arguments = Args;
    Call.Folder = Folder;
    const TSvnResult R = TSvnClient().Run(Call);
    if (ExitCode)
        *ExitCode = R.ExitCode;
    return R.Lines;
}

// Copies a folder tree with everything in it (working copies included), as cp -a does.
inline bool CopyTree(const QString& From, const QString& To) {
    QProcess P;
    P.start(QStringLiteral("cp"), {QStringLiteral("-a"), From, To});
    return P.waitForFinished(60000) && P.exitCode() == 0;
}

// The four working copies the window and kivsvn tests run on, under T/wc: alpha clean, beta
// with a changed file, gamma with an unversioned one, delta a revision behind (another copy
// has committed to it). Url is the repository's.
inline void MakeFourCopies(const QString& T, QString& Url, QString& Wc) {
    Svn({"create", T + "/repo"}, QString(), QStringLiteral("svnadmin"));
    Url = "file://" + T + "/repo";
    for (const char* P : {"alpha", "beta", "gamma", "delta"}) {
        WriteFile(T + "/imp/" + P + "/datei.txt", "eins\n");
        WriteFile(T + "/imp/" + P + "/sub/inner.txt", "innen\n");
    }
    Svn({"import", "-q", "-m", "init", T + "/imp", Url});
    Wc = T + "/wc";
    for (const char* P : {"alpha", "beta", "gamma", "delta"})
        Svn({"checkout", "-q", Url + "/" + P, Wc + "/" + P});
    Svn({"checkout", "-q", Url + "/delta", T + "/other"});
    WriteFile(T + "/other/datei.txt", "eins\nzwei\n");
    Svn({"commit", "-q", "-m", "zwei", T + "/other"});
    for (const char* P : {"alpha", "beta", "gamma"})
        Svn({"update", "-q"}, Wc + "/" + P);
    WriteFile(Wc + "/beta/datei.txt", "geändert\n");
    WriteFile(Wc + "/gamma/neu.txt", "neu\n");
}

} // namespace kivtest
