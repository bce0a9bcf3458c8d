#include "kiv_opener.h"

#include "kiv_prompts.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <memory>

namespace {

QStringList DesktopLauncher() {
    if (const QString P = QStandardPaths::findExecutable(QStringLiteral("xdg-open")); !P.isEmpty())
        return {P};
    if (const QString G = QStandardPaths::findExecutable(QStringLiteral("gio")); !G.isEmpty())
        return {G, QStringLiteral("open")};
    return {};
}

} // namespace

TFolderOpener::TFolderOpener(QObject* Parent) : QObject(Parent) {}

void TFolderOpener::Fail(const QString& Message) {
    ShowInfo(Message);
    emit Failed(Message);
}

void TFolderOpener::Open(const QString& Path) {
    const QFileInfo Info(Path);
    const QString Name = Info.fileName().isEmpty() ? Path : Info.fileName();
    const QString NoProgram =
        Info.isDir()
            ? QStringLiteral("Der Ordner \"%1\" kann nicht geöffnet werden: es ist kein "
                             "Dateimanager eingerichtet.")
                  .arg(Name)
            : QStringLiteral("Für \"%1\" ist kein Programm zum Öffnen eingerichtet.").arg(Name);
    if (!Info.exists() && !Info.isSymLink()) {
        Fail(QStringLiteral("\"%1\" gibt es nicht mehr.").arg(Name));
        emit Finished();
        return;
    }
    const QStringList Launcher = Command.isEmpty() ? DesktopLauncher() : Command;
    if (Launcher.isEmpty()) {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(Path)))
            Fail(NoProgram);
        emit Finished();
        return;
    }
    // The toolkit's desktop services would report success as soon as the launcher started;
    // only its exit code tells whether anything could open the path.
    auto* Process = new QProcess(this);
    Process->setProgram(Launcher.first());
    Process->setArguments(Launcher.mid(1) << Path);
    // No pipes: the program it starts may outlive this one.
    Process->setStandardInputFile(QProcess::nullDevice());
    Process->setStandardOutputFile(QProcess::nullDevice());
    Process->setStandardErrorFile(QProcess::nullDevice());
    auto Clock = std::make_shared<QElapsedTimer>();
    Clock->start();
    const QString Program = Launcher.first();
    connect(Process, &QProcess::errorOccurred, this, [=, this](QProcess::ProcessError E) {
        if (E != QProcess::FailedToStart)
            return;
        Process->deleteLater();
        Fail(QStringLiteral("\"%1\" kann nicht geöffnet werden: das Programm \"%2\" lässt sich "
                            "nicht starten.")
                 .arg(Name, Program));
        emit Finished();
    });
    connect(Process, &QProcess::finished, this, [=, this](int Code, QProcess::ExitStatus Status) {
        Process->deleteLater();
        // A launcher that waited this long ran the program it found; its exit code is then
        // that program's, not an answer to "could it be opened".
        if ((Status != QProcess::NormalExit || Code != 0) && Clock->elapsed() < 10000)
            Fail(NoProgram);
        emit Finished();
    });
    Process->start();
}
