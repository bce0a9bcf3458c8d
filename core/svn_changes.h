// What the changes window reads from the client, without a process: the changed items of a
// copy from "svn status", the items an "svn add" added, the lines of "svn diff", the entries of
// "svn log --xml"; and what it hands the client back: targets, and the plan of a revert.
#pragma once

#include <QChar>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// One changed item of a copy, as "svn status" run in the copy's folder names it.
struct TChangeItem {
    QString Columns; // the seven status columns, as the client prints them
    QString Path;    // relative to the copy's folder ("." for the folder itself)

    bool Unversioned() const { return Columns.at(0) == u'?'; }
    // A text, property or tree conflict.
    bool Conflicted() const;
    // Only the tree has a conflict: the client resolves it only as it is now.
    bool TreeConflictOnly() const;
    // Can be reverted (is under version control and changed).
    bool Versioned() const { return !Unversioned(); }
    // Checked when the list is first shown: modified, added, deleted, replaced, property
    // changes; never unversioned, missing or conflicted items (a commit of them would fail).
    bool CheckedAtFirst() const;
};

// The changed items among a status run's lines (plain "svn status", or "status -u"). Lines that
// are no item (a move's or a tree conflict's details, summaries, an external's heading) and
// items with nothing changed (only a lock, a switch, an external's folder) are passed over.
QList<TChangeItem> ParseChanges(const QStringList& Lines);
// What an item's letters mean, in German: "geändert", "hinzugefügt, Eigenschaften geändert".
QString ChangeText(const TChangeItem& Item);

// The paths "svn add" reports as added ("A         neu/datei.txt", "A  (bin)  bild.png"), in
// its order: a folder's files come after the folder.
QStringList AddedPaths(const QStringList& Lines);

// The targets as the client reads them on its command line: after "--" (a path may begin with
// "-"), and where Peg is asked for, a path holding an "@" with one more at its end, so that the
// client reads no revision into it.
QStringList TargetArguments(const QStringList& Targets, bool Peg);

// A revert of chosen items in at most two client runs: a folder that is added or deleted can
// only be reverted with everything in it (Whole, "--depth infinity"); every other item alone
// ("--depth empty"), so that a changed file in a reverted folder keeps its changes unless it
// was chosen too. Items inside a Whole folder are left out (the folder takes them along).
struct TRevertPlan {
    QStringList Whole;
    QStringList Alone;
    int Count() const { return int(Whole.size() + Alone.size()); }
};
// IsFolder tells whether a path (relative to the copy) is a folder on disk.
TRevertPlan PlanRevert(const QList<TChangeItem>& Chosen,
                       const std::function<bool(const QString&)>& IsFolder);

// The lines of "svn diff" one at a time, each told what it is: the diff's own headings, a
// hunk's heading, its context, removed and added lines, and the client's remarks (no newline
// at the end, a binary file). A "-" or "+" line inside a hunk is a removed or added line even
// when it looks like a heading.
enum class TDiffLine { Header, Hunk, Context, Removed, Added, Note };
class TDiffReader {
public:
    TDiffLine Add(const QString& Line);
    bool Binary() const { return FBinary; }
    int Hunks() const { return FHunks; }
    int AddedLines() const { return FAdded; }
    int RemovedLines() const { return FRemoved; }

private:
    qint64 FOld = 0, FNew = 0; // lines of the open hunk still to come, on each side
    bool FBinary = false;
    int FHunks = 0, FAdded = 0, FRemoved = 0;
};
// Whether the lines say the file is binary ("Cannot display: file marked as a binary type.").
bool DiffIsBinary(const QStringList& Lines);

// One entry of "svn log --xml" (with -v: the paths it changed).
struct TLogPath {
    QChar Action; // A, D, M or R
    QString Path;
    QString CopyFrom; // where an added path was copied from, with CopyRevision
    qint64 CopyRevision = -1;
};
struct TLogEntry {
    qint64 Revision = -1;
    QString Author; // empty when the server names none
    QDateTime Date; // UTC; invalid when the server gives none
    QString Message;
    QList<TLogPath> Paths;
};
// The entries of the XML lines. Output cut short (a run that kept only so many lines) or
// broken off gives the entries that were whole, and Complete false.
QList<TLogEntry> ParseLogXml(const QStringList& Lines, bool* Complete = nullptr);
