// Paths, program version and identity.
#pragma once

#include "kiv_errors.h"

#include <QString>

// The path delimiter of this platform; folder paths the system builds end with it.
inline constexpr QChar PathDelim = u'/';

// Special folders, by the numbers the program has always used for them.
inline constexpr int CSIDL_PERSONAL = 5;       // documents
inline constexpr int CSIDL_APPDATA = 26;       // roaming data: $XDG_CONFIG_HOME
inline constexpr int CSIDL_LOCAL_APPDATA = 28; // local data: $XDG_DATA_HOME

// True when a file "Roaming.kiv" lies next to the program; set by InitRoamingMarker().
extern bool RoamingMarkerFound;
void InitRoamingMarker(); // call once at start, after QCoreApplication exists

bool GetSpecialFolderPath(int Csidl, QString& Path);
QString GetUserDataFolder(const QString& Product, const QString& Company); // ends with '/'
bool GetDocumentsFolder(QString& Path);
bool IsVistaOrLater(); // true
bool DirExists(const QString& Path);
void ForceDir(const QString& Path);
// Blanks and control characters trimmed, then '/' appended unless already last; "" -> "/".
QString IncludeDirDelimiter(const QString& Path);
// The trailing '/' removed, except for the filesystem root "/".
QString ExcludeDirDelimiter(const QString& Path);
// The folder of the running program, ending with '/'.
QString ProgramFolder();
// A folder only this user can reach, for locks and other files of the running session:
// $XDG_RUNTIME_DIR, else a folder of the user's own (mode 0700) in the temporary folder, else
// one in the user's cache folder. Ends with '/'; empty when none can be had.
QString PrivateRuntimeFolder();

// "1.3.0.0" for a file that carries the version record the build writes into the program
// and every binary that links kiv_core; "" for a file without one.
QString GetFileVersionString(const QString& FileName);

QString GetLogonUserName();     // getpwuid(geteuid()); EkivOSError when it cannot be read
QString GetLocalComputerName(); // the host name; EkivOSError when it cannot be read
QString GetRegisteredOwner();   // the account's real name, else "unknown User"
