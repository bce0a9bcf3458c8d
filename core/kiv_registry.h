// The registry file as the programs without a window read it, and the settings its root holds.
#pragma once

#include "kiv_XmlObjects.h"

#include <QHash>
#include <QString>

#include <functional>
#include <memory>

// The registry's full path: the user's data folder for "KelvaroSoft" / "Subversion" and the
// file name. Computed anew at every call.
QString RegistryFilePath();

// Reads a registry file the way the window does: a regular file (or a link to one) of a sane
// size, read without blocking, one document element only, nested no deeper than the window can
// show. ERegistryError (with the German reason) when it cannot be read.
std::unique_ptr<TkivPlainXmlElement> ReadRegistryFile(const QString& FileName);
// Why FileName cannot be read as the registry ("sie ist eine benannte Pipe (FIFO), keine
// gewöhnliche Datei", a link that leads nowhere, too large), before anything is opened; empty
// when it can, or when nothing is there (Missing set then).
QString RegistryFileProblem(const QString& FileName, bool* Missing = nullptr);

// Gives Root the name and description of a registry that has just been made, as the window
// makes one on its first start.
void MakeFreshRegistryRoot(TkivXmlElement* Root);

// Changes the registry file the way the window saves it, so that programs that write it take
// turns and keep each other's work: under the lock of the registry's folder the file is read
// anew (a missing one starts as a fresh registry), Edit is applied to what is there now, and
// only when Edit says it changed something is the file replaced, atomically. A file that was
// not changed stays byte for byte as it was. ERegistryError, with the German reason, when it
// cannot be read or written; nothing is changed then. Edit may raise; nothing is written then.
bool EditRegistryFile(const QString& FileName, const std::function<bool(TkivXmlElement*)>& Edit);

// Sets the URL attribute of every project below Root whose folder (resolved against Base) has
// a URL in Urls (folder -> URL) that differs from the one it keeps; the number changed.
int SetProjectUrls(TkivXmlElement* Root, const QHash<QString, QString>& Urls, const QString& Base);

// The number of clients that run at once: the root's "Jobs", else the number of cores, at
// least 2. A "Jobs" that is no whole number from 1 to MaxJobs counts as absent; Problem then
// says so in German (it stays untouched otherwise).
inline constexpr int MaxJobs = 64;
int JobCount(const TkivXmlElement* Root, QString* Problem = nullptr);
// The time limit without output for one client, in seconds: the root's "Zeitlimit", else
// DefaultTimeoutSeconds. A "Zeitlimit" that is no whole number from 1 to MaxTimeoutSeconds
// (a day) counts as absent, with Problem as for JobCount.
inline constexpr int DefaultTimeoutSeconds = 120;
inline constexpr int MaxTimeoutSeconds = 24 * 60 * 60;
int TimeoutSeconds(const TkivXmlElement* Root, QString* Problem = nullptr);
// The server monitor's interval in minutes: the root's "ServerMinuten", 0 (off) when absent. A
// value that is no whole number from 0 to MaxMonitorMinutes (a day) counts as absent, with
// Problem as for JobCount.
inline constexpr int MaxMonitorMinutes = 24 * 60;
inline constexpr char MonitorAttribute[] = "ServerMinuten";
int MonitorMinutes(const TkivXmlElement* Root, QString* Problem = nullptr);
// Text as a whole number from Min to Max (blanks around it allowed); false for anything else,
// also for a number too large for any type.
bool ParseBoundedInt(const QString& Text, int Min, int Max, int& Value);
// What is wrong with the root's settings ("Jobs", "Zeitlimit", "ServerMinuten"), one German
// sentence each, for a message when the registry is read.
QStringList RootSettingProblems(const TkivXmlElement* Root);
