#include "kiv_registry.h"

#include "kiv_errors.h"
#include "kiv_system.h"

#include <QFileInfo>
#include <QThread>

#include <algorithm>

QString RegistryFilePath() {
    return GetUserDataFolder(QStringLiteral("Subversion"), QStringLiteral("KelvaroSoft")) +
           QStringLiteral("SubVersionVerzeichnisse.xml");
}

std::unique_ptr<TkivPlainXmlElement> ReadRegistryFile(const QString& FileName) {
    const QFileInfo Info(FileName);
    if (Info.isDir())
        throw ERegistryError(QStringLiteral("Die Projektliste %1 ist ein Ordner, keine Datei.").arg(FileName));
    if (!Info.exists())
        throw ERegistryError(QStringLiteral("Die Projektliste %1 existiert nicht.").arg(FileName));
    TPlainXmlReader Reader;
    Reader.SetMaxDepth(RegistryMaxDepth);
    Reader.SetSingleRoot(true);
    try {
        Reader.LoadFromFile(FileName);
    } catch (const std::exception& E) {
        throw ERegistryError(QStringLiteral("Die Projektliste %1 kann nicht gelesen werden: %2")
                                 .arg(FileName, QString::fromUtf8(E.what())));
    }
    std::unique_ptr<TkivPlainXmlElement> Root = Reader.TakeRoot();
    if (!Root)
        throw ERegistryError(QStringLiteral("Die Projektliste %1 ist leer.").arg(FileName));
    return Root;
}

int JobCount(const TkivXmlElement* Root) {
    bool Ok = false;
    const int Stored = Root ? Root->GetAttribute(QStringLiteral("Jobs")).toInt(&Ok) : 0;
    if (Ok && Stored >= 1)
        return std::min(Stored, 64);
    return std::max(2, QThread::idealThreadCount());
}

int TimeoutSeconds(const TkivXmlElement* Root) {
    bool Ok = false;
    const int Stored = Root ? Root->GetAttribute(QStringLiteral("Zeitlimit")).toInt(&Ok) : 0;
    if (Ok && Stored >= 1)
        return Stored;
    return DefaultTimeoutSeconds;
}
