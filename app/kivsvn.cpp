// kivsvn: the task engine on the command line, over the same registry as the window.
//   kivsvn status|update|info [GROUP/PROJECT path] [--short] [--jobs N] [--registry FILE]
//   kivsvn search FOLDER [--registry FILE]: the automatic search's walk alone, printing each
//   working copy not registered.
#include "fm_main.h"
#include "kiv_XmlObjects.h"
#include "kiv_tools.h"
#include "svn_engine.h"
#include "svn_search.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

void Print(const QString& Line) {
    const QByteArray Bytes = Line.toLocal8Bit() + '\n';
    std::fwrite(Bytes.constData(), 1, Bytes.size(), stdout);
}

int Usage(const QString& Message) {
    const QByteArray Text =
        (Message + QStringLiteral("\nAufruf: kivsvn status|update|info [GRUPPE/PROJEKT] "
                                  "[--short] [--jobs N] [--registry DATEI]\n"
                                  "       kivsvn search ORDNER [--registry DATEI]\n"))
            .toLocal8Bit();
    std::fwrite(Text.constData(), 1, Text.size(), stderr);
    return 2;
}

// The element at TreePath below Root: names from below the root, joined by "/".
TkivXmlElement* FindPath(TkivXmlElement* Root, const QString& TreePath) {
    TkivXmlElement* E = Root;
    for (const QString& Name : TreePath.split(u'/', Qt::SkipEmptyParts)) {
        TkivXmlElement* Next = nullptr;
        for (int i = 0; i < E->ChildCount() && !Next; ++i)
            if (E->GetChild(i)->GetAttribute(QStringLiteral("Name")) == Name)
                Next = E->GetChild(i);
        if (!Next)
            return nullptr;
        E = Next;
    }
    return E;
}

// Walks from Start and prints each working copy the registry (when it exists) does not list.
int Search(const QString& Start, const QString& Registry) {
    if (Start.isEmpty())
        return Usage(QStringLiteral("search erwartet einen Ordner."));
    QSet<QString> Registered;
    if (QFileInfo(Registry).isFile()) {
        try {
            TPlainXmlReader Reader;
            Reader.LoadFromFile(Registry);
            Registered = RegisteredKeys(Reader.Root());
        } catch (const std::exception& E) {
            std::fprintf(stderr, "%s\n", E.what());
            return 2;
        }
    }
    TSvnSearch Walk(Start, Registered);
    QObject::connect(&Walk, &TSvnSearch::Found, [](const QString& Folder) { Print(Folder); });
    QObject::connect(&Walk, &TSvnSearch::Finished, [] { QCoreApplication::quit(); });
    Walk.Start();
    QCoreApplication::exec();
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kivSubversion"));
    InitRoamingMarker();
    QStringList Args = App.arguments().mid(1);
    if (Args.isEmpty())
        return Usage(QStringLiteral("Keine Aufgabe angegeben."));
    const QString Task = Args.takeFirst();
    if (Task != u"status" && Task != u"update" && Task != u"info" && Task != u"search")
        return Usage(QStringLiteral("Unbekannte Aufgabe: %1").arg(Task));
    bool Short = false;
    int Jobs = 0;
    QString Registry;
    QString Path;
    for (int i = 0; i < Args.size(); ++i) {
        const QString& A = Args.at(i);
        if (A == u"--short") {
            Short = true;
        } else if (A == u"--jobs" && i + 1 < Args.size()) {
            bool Ok = false;
            Jobs = Args.at(++i).toInt(&Ok);
            if (!Ok || Jobs < 1)
                return Usage(QStringLiteral("--jobs erwartet eine Zahl ab 1."));
        } else if (A == u"--registry" && i + 1 < Args.size()) {
            Registry = Args.at(++i);
        } else if (A.startsWith(u"--")) {
            return Usage(QStringLiteral("Unbekannte Option: %1").arg(A));
        } else if (Path.isEmpty()) {
            Path = A;
        } else {
            return Usage(QStringLiteral("Nur ein Pfad im Register ist erlaubt."));
        }
    }
    if (Registry.isEmpty())
        Registry = GetUserDataFolder(QStringLiteral("Subversion"), QStringLiteral("KelvaroSoft")) +
                   QStringLiteral("SubVersionVerzeichnisse.xml");

    if (Task == u"search")
        return Search(Path, Registry);

    TPlainXmlReader Reader;
    try {
        if (!QFileInfo(Registry).isFile())
            throw EFileError(QStringLiteral("Das Register %1 existiert nicht.").arg(Registry));
        Reader.LoadFromFile(Registry);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "%s\n", E.what());
        return 2;
    }
    TkivXmlElement* Root = Reader.Root();
    if (!Root)
        return Usage(QStringLiteral("Das Register %1 ist leer.").arg(Registry));
    TkivXmlElement* Node = FindPath(Root, Path);
    if (!Node)
        return Usage(QStringLiteral("Kein Eintrag %1 im Register.").arg(Path));

    std::vector<TSvnProject> Projects;
    // In the window's order: siblings sorted by caption.
    CollectProjectsInCaptionOrder(Node, Path, Projects);
    TSvnRun Run(std::move(Projects), Task, false, Jobs > 0 ? Jobs : JobCount(Root));
    int Failed = 0;
    const QString Title = Task == u"status"   ? QStringLiteral("Testen auf Änderungen")
                          : Task == u"update" ? QStringLiteral("Aktualisieren")
                                              : QStringLiteral("Info");
    Print(QStringLiteral("*** ") + Title);
    QObject::connect(&Run, &TSvnRun::ProjectDone, [&](int Index, const TSvnOutcome& O) {
        if (O.State == TSvnState::Error || O.State == TSvnState::Missing ||
            O.State == TSvnState::NoClient)
            ++Failed;
        for (const QString& L : ProjectBlock(Run.Projects()[Index], O, Short))
            Print(L);
        std::fflush(stdout);
    });
    QObject::connect(&Run, &TSvnRun::Finished, [&](bool) {
        Print(QStringLiteral("*** Ende"));
        App.quit();
    });
    Run.Start();
    App.exec();
    return Failed > 0 ? 1 : 0;
}
