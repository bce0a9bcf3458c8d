// The tool bar's HTML export command.
#include "fm_main.h"

#include "html_ausgabe.h"
#include "kiv_statusbar.h"

// The page is written in the background; the busy indicator runs until it is done, and the
// window stays usable meanwhile. The status bar names the file written and opens it.
void TfmMain::ToolButton15Click() {
    THtmlExportJob* Job = ExportProjectsAsHtml(
        lvDir->XMLItems()->RootElement(), this, [this] { StartBusy(); }, [this] { StopBusy(); });
    if (!Job)
        return;
    StatusBar1->ShowMessage(QStringLiteral("HTML-Seite wird geschrieben: %1").arg(Job->FileName()));
    const QString File = Job->FileName();
    connect(Job, &THtmlExportJob::Finished, this, [this, File](bool Ok, const QString&) {
        if (Ok)
            StatusBar1->ShowWritten(File);
        else
            StatusBar1->ShowMessage(QStringLiteral("HTML-Seite nicht geschrieben: %1").arg(File));
    });
}
