// html_ausgabe: the HTML page of the whole project tree, with each project's repository URL.
//
// The export works on a snapshot of the tree taken on the GUI thread when it starts; the URLs
// come from the task engine's batched `svn info`, and the page is written in tree order once
// all have arrived.
#pragma once

#include "fm_html_ausgabe.h"
#include "kiv_FileText.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class TkivXmlElement;
class TSvnRun;

// One element of the tree as the page needs it.
struct THtmlItem {
    QString Name;
    QString Directory; // "Verzeichnis" as stored; non-empty: a project
    QString Folder;    // the folder it names, the key of its URL
    QString Url;       // the URL the registry keeps for it: the page's when the folder is gone
    std::vector<THtmlItem> Children;
    bool IsProject() const { return !Directory.isEmpty(); }
};

// Copies names, folders and structure below Root (Root itself gets no item), folders resolved
// against the current directory. GUI thread; any depth.
THtmlItem SnapshotHtmlTree(const TkivXmlElement* Root);

// Text made safe for the page: "&", "<", ">" and '"' escaped, characters outside ISO-8859-1
// (the declared character set) as numeric character references.
QString HtmlText(const QString& Text);
void WriteHtmlHeader(QStringList& Page, const QString& Owner);
// Item's children as one list; groups nested; Urls maps Folder to the URL svn gave. A project
// whose folder is in Missing shows the URL the registry keeps, marked as such. Any depth.
void WriteHtmlItems(QStringList& Page, const THtmlItem& Item, const QHash<QString, QString>& Urls,
                    const QSet<QString>& Missing = {});
void WriteHtmlFooter(QStringList& Page);
QStringList HtmlPageLines(const THtmlItem& Root, const QHash<QString, QString>& Urls,
                          const QString& Owner, const QSet<QString>& Missing = {});
// Writes the lines in Windows-1252 with CR LF, atomically: on failure (EFileError naming the
// file and the reason) an earlier file of that name is left as it was. A link at the name is
// never written through (see TWriteMode).
void SaveHtmlPage(const QString& FileName, const QStringList& Page,
                  TWriteMode Mode = TWriteMode::ReplaceName);

// One running export. It ends the `svn info` runs when destroyed before it has finished.
class THtmlExportJob : public QObject {
    Q_OBJECT
public:
    // Mode: NewName unless the user agreed to replace what is at FileName (ReplaceName).
    THtmlExportJob(const TkivXmlElement* Root, const QString& FileName, QObject* Parent,
                   std::function<void()> OnStart, std::function<void()> OnStop,
                   TWriteMode Mode = TWriteMode::NewName);
    ~THtmlExportJob() override;
    QString FileName() const { return FFileName; }
    bool IsFinished() const { return FFinished; }
    // Ends the job before its page is written (the program is ending): the clients end,
    // Finished(false) is emitted, and the German message that says the page was not written is
    // returned for the caller to tell. Empty when the job had finished already.
    QString Abandon();

signals:
    // Ok false: Error holds the German message (also shown to the user).
    void Finished(bool Ok, const QString& Error);
    // The URL of a project's folder as svn gave it, for the registry to keep.
    void UrlLearned(const QString& Folder, const QString& Url);

private:
    void Complete();
    THtmlItem FTree;
    QString FOwner;
    QString FFileName;
    QHash<QString, QString> FUrls;
    QSet<QString> FMissing; // folders that are gone
    bool FFinished = false;
    TWriteMode FMode;
    std::function<void()> FOnStop;
    TSvnRun* FRun = nullptr; // a child: it goes with the job
};

// The tool-bar command: dialog, "HTML_Export" on the root, then the page, written in the
// background. Returns the running job (owned by Parent), or null when the dialog was
// cancelled. OnStart/OnStop bracket the background work (the busy indicator).
THtmlExportJob* ExportProjectsAsHtml(TkivXmlElement* Root, QObject* Parent = nullptr,
                                     std::function<void()> OnStart = {},
                                     std::function<void()> OnStop = {});
