#include "kiv_registry.h"

#include "kiv_FileText.h"
#include "kiv_errors.h"
#include "kiv_folders.h"
#include "kiv_kinds.h"
#include "kiv_system.h"

#include <QFileInfo>
#include <QThread>

#include <algorithm>

QString RegistryFilePath() {
    return GetUserDataFolder(QStringLiteral("Subversion"), QStringLiteral("KelvaroSoft")) +
           QStringLiteral("SubVersionVerzeichnisse.xml");
}

QString RegistryFileProblem(const QString& FileName, bool* Missing) {
    bool Absent = false;
    QString Problem = FileTypeProblem(FileName, &Absent);
    if (Missing)
        *Missing = Absent;
    if (Absent)
        return QString();
    if (Problem.isEmpty()) {
        const qint64 Size = QFileInfo(FileName).size();
        if (Size > MaxReadFileBytes)
            Problem = QStringLiteral("sie ist %1 MB groß; gelesen werden höchstens %2 MB")
                          .arg((Size + (1 << 20) - 1) >> 20)
                          .arg(MaxReadFileBytes >> 20);
    }
    return Problem;
}

std::unique_ptr<TkivPlainXmlElement> ReadRegistryFile(const QString& FileName) {
    bool Missing = false;
    const QString Problem = RegistryFileProblem(FileName, &Missing);
    if (Missing)
        throw ERegistryError(QStringLiteral("Die Projektliste %1 existiert nicht.").arg(FileName));
    if (!Problem.isEmpty())
        throw ERegistryError(QStringLiteral("Die Projektliste %1 kann nicht gelesen werden: %2.")
                                 .arg(FileName, Problem));
    TPlainXmlReader Reader;
    Reader.SetMaxDepth(RegistryMaxDepth);
    Reader.SetSingleRoot(true);
    try {
        Reader.LoadFromFile(FileName);
    } catch (const std::exception& E) {
        throw ERegistryError(QStringLiteral("Die Projektliste %1 kann nicht gelesen werden: %2")
                                 .arg(FileName, ExceptionText(E)));
    }
    std::unique_ptr<TkivPlainXmlElement> Root = Reader.TakeRoot();
    if (!Root)
        throw ERegistryError(QStringLiteral("Die Projektliste %1 ist leer.").arg(FileName));
    return Root;
}

void MakeFreshRegistryRoot(TkivXmlElement* Root) {
    Root->SetName(ElementNames[ekRoot]);
    Root->SetAttribute(QStringLiteral("Beschreibung"),
                       QStringLiteral("Alle Subversionsprojekte verwalten"));
}

bool EditRegistryFile(const QString& FileName, const std::function<bool(TkivXmlElement*)>& Edit) {
    // The window's saves take the same lock: between this reading and this writing nobody
    // else writes the file.
    TFolderLock Lock(QFileInfo(FileName).absolutePath());
    bool Missing = false;
    const QString Problem = RegistryFileProblem(FileName, &Missing);
    if (!Missing && !Problem.isEmpty())
        throw ERegistryError(QStringLiteral("Die Projektliste %1 kann nicht gelesen werden: %2.")
                                 .arg(FileName, Problem));
    std::unique_ptr<TkivPlainXmlElement> Root;
    if (Missing) {
        Root = std::make_unique<TkivPlainXmlElement>();
        MakeFreshRegistryRoot(Root.get());
    } else {
        Root = ReadRegistryFile(FileName);
    }
    if (!Edit(Root.get()))
        return false;
    QByteArray Bytes;
    try {
        Bytes = Windows1252FileText(TElementXmlWriter(Root.get()).DocumentLines());
        WriteFileAtomically(FileName, Bytes);
    } catch (const std::exception& E) {
        throw ERegistryError(QStringLiteral("Die Projektliste %1 kann nicht gespeichert werden: "
                                            "%2")
                                 .arg(FileName, ExceptionText(E)));
    }
    return true;
}

int SetProjectUrls(TkivXmlElement* Root, const QHash<QString, QString>& Urls, const QString& Base) {
    int Changed = 0;
    std::vector<TkivXmlElement*> Pending{Root};
    while (!Pending.empty()) {
        TkivXmlElement* E = Pending.back();
        Pending.pop_back();
        if (E != Root && ElementKindOf(E->Name()) == ekProject) {
            const auto It =
                Urls.constFind(ProjectFolder(E->GetAttribute(QStringLiteral("Verzeichnis")), Base));
            if (It != Urls.constEnd() && !It->isEmpty() && E->GetAttribute(UrlAttribute) != *It) {
                E->SetAttribute(UrlAttribute, *It);
                ++Changed;
            }
            continue;
        }
        for (int i = 0; i < E->ChildCount(); ++i)
            Pending.push_back(E->GetChild(i));
    }
    return Changed;
}

bool ParseBoundedInt(const QString& Text, int Min, int Max, int& Value) {
    bool Ok = false;
    const qlonglong V = Text.trimmed().toLongLong(&Ok);
    if (!Ok || V < Min || V > Max)
        return false;
    Value = int(V);
    return true;
}

namespace {

// The root's setting Name as a number from Min to Max; Default when it is absent or, with
// Problem set, anything else.
int RootNumber(const TkivXmlElement* Root, const QString& Name, int Min, int Max, int Default,
               const QString& Unit, QString* Problem) {
    const QString Stored = Root ? Root->GetAttribute(Name) : QString();
    int Value = Default;
    if (Stored.isEmpty() || ParseBoundedInt(Stored, Min, Max, Value))
        return Value;
    if (Problem)
        *Problem = QStringLiteral("Der Wert »%1« der Projektliste (»%2«) ist keine ganze Zahl von "
                                  "%3 bis %4; es gilt die Vorgabe von %5 %6.")
                       .arg(Name, Stored)
                       .arg(Min)
                       .arg(Max)
                       .arg(Default)
                       .arg(Unit);
    return Default;
}

} // namespace

int JobCount(const TkivXmlElement* Root, QString* Problem) {
    return RootNumber(Root, QStringLiteral("Jobs"), 1, MaxJobs,
                      std::clamp(QThread::idealThreadCount(), 2, MaxJobs),
                      QStringLiteral("gleichzeitigen Aufrufen"), Problem);
}

int TimeoutSeconds(const TkivXmlElement* Root, QString* Problem) {
    return RootNumber(Root, QStringLiteral("Zeitlimit"), 1, MaxTimeoutSeconds,
                      DefaultTimeoutSeconds, QStringLiteral("Sekunden"), Problem);
}

int MonitorMinutes(const TkivXmlElement* Root, QString* Problem) {
    return RootNumber(Root, QString::fromLatin1(MonitorAttribute), 0, MaxMonitorMinutes, 0,
                      QStringLiteral("Minuten (aus)"), Problem);
}

QStringList RootSettingProblems(const TkivXmlElement* Root) {
    QStringList Problems;
    QString P;
    JobCount(Root, &P);
    if (!P.isEmpty())
        Problems << P;
    P.clear();
    TimeoutSeconds(Root, &P);
    if (!P.isEmpty())
        Problems << P;
    P.clear();
    MonitorMinutes(Root, &P);
    if (!P.isEmpty())
        Problems << P;
    return Problems;
}
