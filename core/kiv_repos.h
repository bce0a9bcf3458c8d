// .repos files, the format in which vcstool exports a set of working copies and imports them
// again: a YAML map "repositories", each key a copy's path relative to the set, each value a
// map with "type" ("svn", "git", ...), "url" and, optionally, "version". The registry is
// exported into one (keys: the projects' paths in the tree) and filled from one (every svn
// entry a project, named by its key, in a folder below a base folder).
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class TkivXmlElement;

struct TReposEntry {
    QString Key;  // the copy's path relative to the set: "Gruppe/Projekt"
    QString Type; // "svn", "git", "hg", ...
    QString Url;
    QString Version; // for svn a revision; empty when the file names none
};

// The entries of a .repos file, in the file's order. EInputError, in German and naming the
// file and the line, when it is no such file: YAML that does not parse, no map
// "repositories", an entry that is no map or lacks "type" or "url", a key given twice.
std::vector<TReposEntry> ReadReposFile(const QString& FileName);
std::vector<TReposEntry> ParseReposText(const QByteArray& Text, const QString& Source);
// The file's text for Entries, in their order, as vcstool writes it (UTF-8, keys quoted only
// where YAML would read them as something else than a name).
QByteArray ReposFileText(const std::vector<TReposEntry>& Entries);

// Why Key cannot name a folder below a base folder: an empty part, "." or "..", a leading "/",
// characters a registry cannot hold. Empty when it can.
QString ReposKeyProblem(const QString& Key);

// An import planned against the registry, before anything changes.
struct TReposImport {
    struct TNew {
        QStringList Groups; // the groups from below the root: the target group, then the
                            // key's parts before the last
        QString Name;       // the key's last part
        QString Key;
        QString Folder; // absolute: the base folder and the key
        QString Url;
    };
    std::vector<TNew> Projects; // the svn entries, in the file's order
    QStringList PassedOver;     // entries of other types: "git: Key"
    QStringList Problems;       // German, one line per fault; when any, nothing may change
    bool Versions = false;      // some svn entry names a version (not kept: the registry
                                // follows the latest revision)
};

// Plans the import of Entries into the group that Group names (the names from below Root; a
// group not there yet is made) with folders below Base (absolute). Each svn entry is checked as
// the new-entry dialog checks a new project: its name and each group on its way against the
// children already there (a group of the same name is used, anything else of that name is a
// fault), its folder against every project of the registry and against the file's other
// entries.
TReposImport PlanReposImport(const std::vector<TReposEntry>& Entries, const TkivXmlElement* Root,
                             const QStringList& Group, const QString& Base);
// Adds the planned projects below Root (groups as the group and their keys name them; one that
// is there is used), each with "Name", "Verzeichnis" and the URL. The projects' elements, in
// plan order.
std::vector<TkivXmlElement*> ApplyReposImport(const TReposImport& Plan, TkivXmlElement* Root);

// The child of Parent that Name names by the new-entry dialog's rule (SameEntryName on the
// "Name" of every child, groups and projects alike); null when none.
TkivXmlElement* ChildNamed(const TkivXmlElement* Parent, const QString& Name);
// The first project below Root whose folder is, contains or lies inside Folder (resolved);
// null when none.
const TkivXmlElement* ProjectOverlapping(const TkivXmlElement* Root, const QString& Folder,
                                         const QString& Base);
