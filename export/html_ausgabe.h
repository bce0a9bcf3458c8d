// html_ausgabe: the HTML page of the whole project tree, with each project's repository URL.
//
// The export works on a snapshot of the tree taken on the GUI thread when it starts; the
// `svn info` runs happen on worker threads, many folders per client process, and the page is
// written in tree order once all have finished.
#pragma once

#include "fm_html_ausgabe.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QThreadPool;
class TkivXmlElement;

// One element of the tree as the page needs it.
struct THtmlItem {
    QString Name;
    QString Directory;    // "Verzeichnis" as stored; non-empty: a project
    QString AbsDirectory; // the folder made absolute and clean, the key of its URL
    std::vector<THtmlItem> Children;
    bool IsProject() const { return !Directory.isEmpty(); }
};

// Copies names, folders and structure below Root (Root itself gets no item). GUI thread.
THtmlItem SnapshotHtmlTree(const TkivXmlElement* Root);
// The absolute, clean form of a project folder, relative ones taken from the current directory.
QString AbsoluteProjectDir(const QString& Directory);

// --- svn info output -------------------------------------------------------------------------
// One folder's block of `svn info` output: its first line names the folder ("Path: ...").
struct TSvnInfoBlock {
    QString Path; // the text after the first ": " of the block's first line
    QStringList Lines;
};
// Splits the output of one `svn info` over many folders into its blocks (separated by blank
// lines); error lines of the client ("svn: ...") belong to no block and go to Errors.
QList<TSvnInfoBlock> SplitSvnInfoBlocks(const QStringList& Lines, QStringList* Errors = nullptr);
// The URL of one block: its first line beginning with "URL:" (case-sensitive, at the start),
// the rest of the line trimmed of blanks and control characters; "" when there is none.
QString ExtractSvnUrl(const QStringList& BlockLines);
// What `svn info` prints on its "Path:" line for AbsPath when run in WorkDir (both clean and
// absolute): the path relative to WorkDir when WorkDir contains it ("." for WorkDir itself),
// else the absolute path.
QString SvnInfoPathKey(const QString& AbsPath, const QString& WorkDir);
// The texts quoted in an error line ('...', ‘...’, “...”, „...“, »...«, «...»).
QStringList QuotedTexts(const QString& Line);

// Runs `svn info` for the folders (absolute and clean), at most BatchSize per client process,
// and returns the URL of every folder that has one. Folders that do not exist are never
// passed to the client. Any thread; Cancel ends it early. ProcessCount, when given, counts
// the client runs.
QHash<QString, QString> QuerySvnUrls(const QStringList& Folders,
                                     const std::atomic<bool>* Cancel = nullptr,
                                     int* ProcessCount = nullptr);

// --- the page --------------------------------------------------------------------------------
// Text made safe for the page: "&", "<", ">" and '"' escaped, characters outside ISO-8859-1
// (the declared character set) as numeric character references.
QString HtmlText(const QString& Text);
void WriteHtmlHeader(QStringList& Page, const QString& Owner);
// Item's children as one list; groups nested; Urls maps AbsDirectory to the URL.
void WriteHtmlItems(QStringList& Page, const THtmlItem& Item, const QHash<QString, QString>& Urls);
void WriteHtmlFooter(QStringList& Page);
QStringList HtmlPageLines(const THtmlItem& Root, const QHash<QString, QString>& Urls,
                          const QString& Owner);
// Writes the lines in Windows-1252 with CR LF, atomically: on failure (EkivError naming the
// file) an earlier file of that name is left as it was.
void SaveHtmlPage(const QString& FileName, const QStringList& Page);

// --- the export ------------------------------------------------------------------------------
// One running export. It ends the `svn info` runs when destroyed before it has finished.
class THtmlExportJob : public QObject {
    Q_OBJECT
public:
    THtmlExportJob(const TkivXmlElement* Root, const QString& FileName, QObject* Parent,
                   std::function<void()> OnStart, std::function<void()> OnStop);
    ~THtmlExportJob() override;
    QString FileName() const { return FFileName; }
    bool IsFinished() const { return FFinished; }
    int ProcessCount() const { return FProcessCount.load(); }

signals:
    // Ok false: Error holds the German message (also shown to the user).
    void Finished(bool Ok, const QString& Error);

private:
    void BatchDone(const QHash<QString, QString>& Urls);
    void Complete();
    THtmlItem FTree;
    QString FOwner;
    QString FFileName;
    QHash<QString, QString> FUrls;
    int FPending = 0;
    bool FFinished = false;
    std::function<void()> FOnStop;
    std::shared_ptr<std::atomic<bool>> FCancel;
    std::atomic<int> FProcessCount{0};
    QThreadPool* FPool = nullptr;
};

// The tool-bar command: dialog, "HTML_Export" on the root, then the page, written in the
// background. Returns the running job (owned by Parent), or null when the dialog was
// cancelled. OnStart/OnStop bracket the background work (the busy indicator).
THtmlExportJob* ExportProjectsAsHtml(TkivXmlElement* Root, QObject* Parent = nullptr,
                                     std::function<void()> OnStart = {},
                                     std::function<void()> OnStop = {});
