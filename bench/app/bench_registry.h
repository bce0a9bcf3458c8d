// The window benchmarks' fixture: private data folders and a registry of many projects (groups
// of 100) written as the program writes it.
#pragma once

#include "kiv_XmlObjects.h"

#include <QByteArray>
#include <QDir>
#include <QString>

// Points the program's data, config and runtime folders at Data and Runtime, and runs it
// offscreen unless a platform is set.
inline void UseBenchFolders(const QString& Data, const QString& Runtime) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    qputenv("XDG_DATA_HOME", Data.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (Data + "/config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", Runtime.toLocal8Bit());
}

// Projects "Projekt 00001" ... in groups "Gruppe 000" ...; with Reversed the names run
// backwards, so that loading really sorts.
inline void WriteBenchRegistry(const QString& Data, int Projects, bool Reversed) {
    TkivPlainXmlElement Root;
    Root.SetName("SubVersion");
    Root.SetAttribute("Beschreibung", "Alle Subversionsprojekte verwalten");
    TkivXmlElement* Group = nullptr;
    for (int i = 0; i < Projects; ++i) {
        if (i % 100 == 0) {
            Group = Root.AddChild("ProjektGruppe");
            Group->SetAttribute("Name", QString("Gruppe %1").arg(i / 100, 3, 10, QChar('0')));
        }
        TkivXmlElement* P = Group->AddChild("Projekt");
        P->SetAttribute("Name", QString("Projekt %1").arg(Reversed ? Projects - i : i, 5, 10, QChar('0')));
        P->SetAttribute("Verzeichnis", QString("/home/anna/src/projekt%1/").arg(i));
    }
    const QString Folder = Data + "/KelvaroSoft/Subversion/";
    QDir().mkpath(Folder);
    TElementXmlWriter(&Root).SaveToFile(Folder + "SubVersionVerzeichnisse.xml");
}
