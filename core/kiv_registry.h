// The registry file as the programs without a window read it, and the settings its root holds.
#pragma once

#include "kiv_XmlObjects.h"

#include <QString>

#include <memory>

// The registry's full path: the user's data folder for "KelvaroSoft" / "Subversion" and the
// file name. Computed anew at every call.
QString RegistryFilePath();

// Reads a registry file the way the window does: one document element only, nested no deeper
// than the window can show. ERegistryError (with the German reason) when it cannot be read.
std::unique_ptr<TkivPlainXmlElement> ReadRegistryFile(const QString& FileName);

// The number of clients that run at once: the root's "Jobs", else the number of cores, at
// least 2.
int JobCount(const TkivXmlElement* Root);
// The time limit without output for one client, in seconds: the root's "Zeitlimit", else
// DefaultTimeoutSeconds.
inline constexpr int DefaultTimeoutSeconds = 120;
int TimeoutSeconds(const TkivXmlElement* Root);
